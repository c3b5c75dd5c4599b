#include "picture/readers/webp_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/readers/reader_test_support.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

const auto Load = &test::LoadBytes<TWebPGraphic>;
const std::string kInvalid = "Cannot load image. Invalid or unexpected WebP image format.";

// Runs a tool of the test set-up; a tool that is missing or fails fails the
// test rather than skipping anything.
void RunTool(const std::string& command) {
  ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

// RGBA as the reference decoder writes it, top row first.
struct Rgba {
  int width = 0;
  int height = 0;
  Bytes pixels;
};

Rgba ReadPam(const std::string& path) {
  const Bytes file = test::ReadFileBytes(path);
  const std::string text(file.begin(), file.end());
  const size_t end = text.find("ENDHDR\n");
  Rgba out;
  if (end == std::string::npos) return out;
  std::istringstream header(text.substr(0, end));
  std::string key;
  int depth = 0;
  while (header >> key) {
    if (key == "WIDTH") header >> out.width;
    if (key == "HEIGHT") header >> out.height;
    if (key == "DEPTH") header >> depth;
  }
  if (depth != 4) return {};
  out.pixels.assign(file.begin() + static_cast<std::ptrdiff_t>(end + 7), file.end());
  return out;
}

// The bitmap's pixels as red, green, blue, alpha (255 where it has none).
Rgba BitmapRgba(const TBitmap& bitmap) {
  Rgba out{bitmap.ImageWidth(), bitmap.ImageHeight(), {}};
  const bool alpha = bitmap.Layout() == PixelLayout::Bits32;
  const int bytes = alpha ? 4 : 3;
  for (int y = 0; y < out.height; ++y) {
    const uint8_t* row = bitmap.RowAddress(y);
    for (int x = 0; x < out.width; ++x) {
      const uint8_t* p = row + x * bytes;
      out.pixels.insert(out.pixels.end(), {p[2], p[1], p[0], alpha ? p[3] : uint8_t{255}});
    }
  }
  return out;
}

// A TIFF block holding one orientation tag, in either byte order.
Bytes ExifWithOrientation(int orientation, bool bigEndian) {
  auto u16 = [&](Bytes& b, uint16_t v) {
    if (bigEndian) {
      b.insert(b.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
    } else {
      b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    }
  };
  auto u32 = [&](Bytes& b, uint32_t v) {
    if (bigEndian) {
      u16(b, static_cast<uint16_t>(v >> 16));
      u16(b, static_cast<uint16_t>(v));
    } else {
      u16(b, static_cast<uint16_t>(v));
      u16(b, static_cast<uint16_t>(v >> 16));
    }
  };
  Bytes b = bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
  u16(b, 42);
  u32(b, 8);
  u16(b, 1);
  u16(b, 0x0112);
  u16(b, 3);
  u32(b, 1);
  u16(b, static_cast<uint16_t>(orientation));
  u16(b, 0);
  u32(b, 0);
  return b;
}

class WebPReader : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string Png(const std::string& name, int width, int height, const std::string& mode,
                  int variant = 0) {
    const std::string path = Path(name);
    RunTool("/usr/bin/python3 " QUORVEX_FIXTURE_PNG_TOOL " " + path + " " + std::to_string(width) +
        " " + std::to_string(height) + " '" + mode + "' " + std::to_string(variant));
    return path;
  }

  std::string dir_;
};

TEST_F(WebPReader, EverySharedSampleShowsWhatPillowShowsUpright) {
  int loaded = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("webp"))) {
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    const auto webp = test::LoadFile<TWebPGraphic>(path);
    const auto reference = test::ReferencePixels(path, /*upright=*/true);
    ASSERT_TRUE(reference.has_value());
    EXPECT_EQ(test::ComparePictures(*reference, test::BitmapPixels(*webp), 0), "");
    EXPECT_EQ(webp->Layout(),
              webp->ImageProperties().hasAlpha ? PixelLayout::Bits32 : PixelLayout::Bits24);
    ++loaded;
  }
  EXPECT_GE(loaded, 10);
}

// Lossy pictures too match exactly: dwebp and Pillow decode with the same
// libwebp, and the two show no difference on any fixture.
TEST_F(WebPReader, EncodedFixturesMatchTheReferenceDecoderWithAlphaKept) {
  const struct {
    const char* name;
    int width;
    int height;
    const char* mode;
    const char* options;
    PixelLayout layout;
  } cases[] = {
      {"lossless colour, odd size", 17, 9, "RGB", "-lossless", PixelLayout::Bits24},
      {"lossless with alpha", 17, 9, "RGBA", "-lossless -exact", PixelLayout::Bits32},
      {"lossy colour", 31, 7, "RGB", "-q 50", PixelLayout::Bits24},
      {"lossy with alpha", 13, 21, "RGBA", "-q 60", PixelLayout::Bits32},
      {"gray", 9, 5, "L", "-lossless", PixelLayout::Bits24},
      {"gray with alpha", 9, 5, "LA", "-q 70", PixelLayout::Bits32},
      {"1x1", 1, 1, "RGB", "-lossless", PixelLayout::Bits24},
      {"1x1 lossy with alpha", 1, 1, "RGBA", "-q 80", PixelLayout::Bits32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string png = Png("in.png", c.width, c.height, c.mode);
    const std::string webp = Path("out.webp");
    RunTool(std::string("cwebp -quiet ") + c.options + " " + png + " -o " + webp);
    RunTool("dwebp -quiet -pam " + webp + " -o " + Path("ref.pam"));
    const auto loaded = test::LoadFile<TWebPGraphic>(webp);
    EXPECT_EQ(loaded->Layout(), c.layout);
    const Rgba reference = ReadPam(Path("ref.pam"));
    const Rgba actual = BitmapRgba(*loaded);
    ASSERT_EQ(actual.width, reference.width);
    ASSERT_EQ(actual.height, reference.height);
    if (c.layout == PixelLayout::Bits32) {
      EXPECT_EQ(actual.pixels, reference.pixels);
    } else {
      test::RgbPicture expected{reference.width, reference.height, {}};
      for (size_t i = 0; i < reference.pixels.size(); i += 4) {
        expected.rgb.insert(expected.rgb.end(), reference.pixels.begin() + i,
                            reference.pixels.begin() + i + 3);
      }
      EXPECT_EQ(test::ComparePictures(expected, test::BitmapPixels(*loaded), 0), "");
    }
    test::ExpectReferencePixels(webp, *loaded);
  }
}

TEST_F(WebPReader, AnimationsShowTheirFirstFrame) {
  for (const char* mode : {"RGB", "RGBA"}) {
    SCOPED_TRACE(mode);
    const std::string first = Png("a.png", 11, 6, mode, 0);
    const std::string second = Png("b.png", 11, 6, mode, 1);
    const std::string webp = Path("anim.webp");
    RunTool("img2webp -lossless " + first + " -d 100 " + second + " -o " + webp);
    const auto loaded = test::LoadFile<TWebPGraphic>(webp);
    test::ExpectReferencePixels(webp, *loaded);
    test::ExpectReferencePixels(first, *loaded);
  }
}

TEST_F(WebPReader, ExifOrientationTurnsThePictureUpright) {
  const std::string png = Png("in.png", 5, 3, "RGB");
  RunTool("cwebp -quiet -lossless " + png + " -o " + Path("plain.webp"));
  for (int orientation = 1; orientation <= 8; ++orientation) {
    for (bool bigEndian : {false, true}) {
      SCOPED_TRACE(orientation);
      SCOPED_TRACE(bigEndian);
      test::WriteFileBytes(Path("exif.bin"), ExifWithOrientation(orientation, bigEndian));
      const std::string webp = Path("turned.webp");
      RunTool("webpmux -set exif " + Path("exif.bin") + " " + Path("plain.webp") + " -o " + webp);
      const auto loaded = test::LoadFile<TWebPGraphic>(webp);
      EXPECT_EQ(loaded->ImageWidth(), orientation >= 5 ? 3 : 5);
      EXPECT_EQ(loaded->ImageProperties().width, loaded->ImageWidth());
      const auto reference = test::ReferencePixels(webp, /*upright=*/true);
      ASSERT_TRUE(reference.has_value());
      EXPECT_EQ(test::ComparePictures(*reference, test::BitmapPixels(*loaded), 0), "");
    }
  }
}

TEST_F(WebPReader, TheLoaderFindsWebPByContent) {
  const std::string path = test::TestData("webp/transparent.webp");
  const auto webp = test::LoadFile<TWebPGraphic>(path);
  const std::string renamed = Path("picture.bin");
  fs::copy_file(path, renamed);
  test::ExpectLoaderKeepsTheBitmap(renamed, *webp);
}

Bytes Riff(const std::string& fourcc, const Bytes& payload) {
  Bytes chunk = test::Text(fourcc);
  for (int shift = 0; shift < 32; shift += 8) {
    chunk.push_back(static_cast<uint8_t>(payload.size() >> shift));
  }
  chunk.insert(chunk.end(), payload.begin(), payload.end());
  if (payload.size() % 2) chunk.push_back(0);
  return chunk;
}

Bytes WebPFile(const Bytes& chunks) {
  return Riff("RIFF", test::Concat({test::Text("WEBP"), chunks}));
}

TEST_F(WebPReader, BrokenFilesFailWithTheReason) {
  const Bytes good = test::ReadFileBytes(test::TestData("webp/hopper.webp"));
  const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
  // A lossless header of 4x4 pixels followed by nothing usable.
  const Bytes lossless = WebPFile(Riff("VP8L", {0x2F, 0x03, 0xC0, 0x00, 0x00, 0xFF, 0xFF, 0xFF}));
  const struct test::FailureCase cases[] = {
      {"cut in half", cut, kInvalid + " (not enough data)"},
      {"broken lossless data", lossless, kInvalid + " (bitstream error)"},
      {"no image chunk", WebPFile(Riff("EXIF", {1, 2, 3})), kInvalid + " (bitstream error)"},
      {"not WebP", test::Text("RIFF\4\0\0\0WAVE"), kInvalid},
  };
  test::ExpectEveryCaseFails(cases, Load, [](const auto&, const Exception& e) {
    EXPECT_NE(dynamic_cast<const EInvalidGraphic*>(&e), nullptr);
  });
}

TEST_F(WebPReader, ACanvasOverTheStorageCapCostsNothing) {
  // An animation's canvas of 40000 by 40000, announced by its first chunk.
  Bytes vp8x = {0x12, 0, 0, 0};  // animation and alpha
  for (uint32_t side : {40000u - 1, 40000u - 1}) {
    vp8x.insert(vp8x.end(), {static_cast<uint8_t>(side), static_cast<uint8_t>(side >> 8),
                             static_cast<uint8_t>(side >> 16)});
  }
  const Bytes file = WebPFile(test::Concat(
      {Riff("VP8X", vp8x), Riff("ANIM", {0, 0, 0, 0, 0, 0}), Riff("ANMF", Bytes(24))}));
  EXPECT_THROW(Load(file), EOutOfResources);
}

}  // namespace
}  // namespace quorvex
