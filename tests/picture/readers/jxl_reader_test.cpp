#include "picture/readers/jxl_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "picture/exceptions.h"
#include "picture/readers/library_reference.h"
#include "picture/readers/reader_test_support.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

const std::string kInvalid = "Cannot load image. Invalid or unexpected JPEG XL image format.";

class JXLReader : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // The fixture of `kind` encoded by cjxl with `options`.
  std::string Encoded(const std::string& kind, int width, int height, const std::string& options,
                      const std::string& name) {
    const std::string source = test::MakeFixture(dir_, kind, width, height);
    const std::string out = Path(name + ".jxl");
    EXPECT_TRUE(
        test::RunTool("cjxl " + options + " " + test::Quoted(source) + " " + test::Quoted(out)));
    return out;
  }

  std::string dir_;
};

TEST_F(JXLReader, GeneratedPicturesLoadAsTheirSourceOrAsDjxlDecodesThem) {
  const struct {
    const char* name;
    const char* kind;
    int width, height;
    const char* options;
    PixelLayout layout;
    const char* decoder;
    int tolerance;
  } cases[] = {
      {"lossless, odd size", "rgb", 7, 5, "-d 0", PixelLayout::Bits24, "source", 0},
      {"1x1", "rgb", 1, 1, "-d 0", PixelLayout::Bits24, "source", 0},
      {"lossy", "rgb", 33, 17, "-d 1", PixelLayout::Bits24, "djxl", 1},
      {"boxed", "rgb", 9, 7, "-d 1 --container=1", PixelLayout::Bits24, "djxl", 1},
      {"alpha", "rgba", 9, 7, "-d 0", PixelLayout::Bits32, "source", 0},
      {"lossy alpha", "rgba", 9, 7, "-d 1", PixelLayout::Bits32, "djxl", 1},
      {"grey", "grey", 11, 5, "-d 0", PixelLayout::Bits8, "source", 0},
      {"grey and alpha", "greya", 11, 5, "-d 0", PixelLayout::Bits8, "source", 0},
      // Wide samples come down as 16-bit PNG samples do, to the level.
      {"16-bit", "ppm16", 9, 7, "-d 0", PixelLayout::Bits24, "source", 0},
      {"16-bit grey", "pgm16", 9, 7, "-d 0", PixelLayout::Bits8, "source", 0},
      // cjxl stores a 12-bit PGM's levels slightly off (4095 as 4097).
      {"12-bit grey", "pgm12", 9, 7, "-d 0", PixelLayout::Bits8, "source", 1},
      {"lossy 16-bit", "ppm16", 9, 7, "-d 1", PixelLayout::Bits24, "djxl", 1},
      // Animations show their first frame.
      {"animation", "gif3", 9, 7, "-d 0", PixelLayout::Bits24, "source", 0},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out =
        Encoded(c.kind, c.width, c.height, c.options, "case" + std::to_string(index++));
    const auto bitmap = test::LoadFile<TJXLGraphic>(out);
    EXPECT_EQ(bitmap->Layout(), c.layout);
    if (c.layout == PixelLayout::Bits8) {
      EXPECT_EQ(bitmap->QueryPalette(), test::GrayRampPalette());
    }
    const std::string decoder = c.decoder;
    const auto reference = test::ReferenceDecode(
        decoder, decoder == "source" ? test::MakeFixture(dir_, c.kind, c.width, c.height) : out);
    ASSERT_TRUE(reference.has_value());
    EXPECT_EQ(test::CompareWithReference(*bitmap, *reference, c.tolerance), "");
  }
}

TEST_F(JXLReader, TheOrientationIsApplied) {
  // Stored 7x5 and to be shown turned a quarter clockwise.
  const std::string out = Encoded("rgb-turned", 7, 5, "-d 0", "turned");
  const auto bitmap = test::LoadFile<TJXLGraphic>(out);
  ASSERT_EQ(bitmap->ImageWidth(), 5);
  ASSERT_EQ(bitmap->ImageHeight(), 7);
  const auto stored = test::ReferenceDecode("source", test::MakeFixture(dir_, "rgb", 7, 5));
  ASSERT_TRUE(stored.has_value());
  test::DecodedPicture upright{5, 7, 3, {}};
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 5; ++x) {
      const size_t from = (size_t(4 - x) * 7 + size_t(y)) * 3;
      upright.samples.insert(upright.samples.end(), stored->samples.begin() + long(from),
                             stored->samples.begin() + long(from) + 3);
    }
  }
  EXPECT_EQ(test::CompareWithReference(*bitmap, upright, 0), "");
}

TEST_F(JXLReader, TheContentTestTakesCodestreamsAndContainers) {
  const struct {
    const char* name;
    Bytes head;
    bool accepted;
  } cases[] = {
      {"codestream", {0xFF, 0x0A, 0x00, 0x10}, true},
      {"container", {0, 0, 0, 12, 'J', 'X', 'L', ' ', 13, 10, 0x87, 10}, true},
      {"JPEG", {0xFF, 0xD8, 0xFF, 0xE0}, false},
      {"JPEG 2000 signature", {0, 0, 0, 12, 'j', 'P', ' ', ' ', 13, 10, 0x87, 10}, false},
      {"one byte", {0xFF}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream(c.head);
    EXPECT_EQ(TJXLGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 0);
  }
}

TEST_F(JXLReader, DamagedFilesFailWithTheReason) {
  const Bytes good = test::ReadFileBytes(Encoded("rgb", 33, 17, "-d 1", "good"));
  ASSERT_GT(good.size(), 40u);
  const struct {
    const char* name;
    Bytes file;
    std::string reason;
  } cases[] = {
      {"signature only", Bytes(good.begin(), good.begin() + 2), "invalid header"},
      {"cut in half", Bytes(good.begin(), good.begin() + long(good.size() / 2)),
       "undecodable picture data"},
      {"header garbled",
       [&] {
         Bytes b = good;
         for (size_t i = 2; i < 12; ++i) b[i] = 0xFF;
         return b;
       }(),
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = test::FailureOf([&] { test::LoadBytes<TJXLGraphic>(c.file); });
    if (c.reason.empty()) {
      EXPECT_TRUE(message.starts_with(kInvalid + " (")) << message;
    } else {
      EXPECT_EQ(message, kInvalid + " (" + c.reason + ")");
    }
  }
}

TEST_F(JXLReader, ACodestreamClaimingAHugePictureIsRefusedBeforeDecoding) {
  // Signature, then the size header read low bit first: not small, height
  // 60000 in 30 bits, no ratio, width 60000 in 30 bits; default metadata.
  Bytes file = {0xFF, 0x0A, 0xFE, 0x52, 0x07, 0x00, 0xF0, 0x97, 0x3A, 0x00, 0x10};
  file.resize(48, 0);
  TJXLGraphic header;
  TMemoryStream stream(file);
  ASSERT_TRUE(header.ReadHeaderInfo(stream, 0));
  EXPECT_EQ(header.ImageProperties().width, 60000);
  EXPECT_EQ(header.ImageProperties().height, 60000);
  EXPECT_THROW(test::LoadBytes<TJXLGraphic>(file), EOutOfResources);
}

}  // namespace
}  // namespace quorvex
