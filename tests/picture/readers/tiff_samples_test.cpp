// Wide, floating-point and alpha samples, the Orientation tag and CIELab:
// fixtures built here or with libtiff's tools, checked against ImageMagick
// and Pillow (with littleCMS for Lab), and twins in other layouts against
// their plain originals.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "picture/color_manager.h"
#include "picture/readers/library_reference.h"
#include "picture/readers/psd_reader.h"
#include "picture/readers/reader_test_support.h"
#include "picture/readers/tiff_reader.h"
#include "support/test_support.h"
#include "tiff_test_files.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::TiffBuilder;

constexpr uint16_t kSampleFormatTag = 339;
constexpr uint16_t kExtraSamplesTag = 338;
constexpr uint16_t kOrientationTag = 274;
constexpr uint32_t kUnsigned = 1;
constexpr uint32_t kFloat = 3;

const auto LoadFile = &test::LoadFile<TTIFFGraphic>;

class TIFFSampleFiles : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_ + "/" + name;
    test::WriteFileBytes(path, bytes);
    return path;
  }
  // `source` rewritten by tiffcp with `options`.
  std::string Copy(const std::string& source, const std::string& options, const std::string& name) {
    const std::string out = dir_ + "/" + name;
    test::RunTool("tiffcp " + options + " " + test::Quoted(source) + " " + test::Quoted(out));
    return out;
  }
  // The loaded file must show what ImageMagick makes of `reference`
  // (default: the file itself), alpha included for Bits32.
  void ExpectMagickShows(const std::string& path, int tolerance,
                         const std::string& reference = "") {
    std::unique_ptr<TTIFFGraphic> graphic;
    ASSERT_NO_THROW(graphic = LoadFile(path));
    const auto expected = test::ReferenceDecode("source", reference.empty() ? path : reference);
    ASSERT_TRUE(expected.has_value()) << "ImageMagick refused " << path;
    EXPECT_EQ(test::CompareWithReference(*graphic, *expected, tolerance), "");
  }

  std::string dir_;
};

// ---- 32-bit integer and floating-point samples ---------------------------

// A picture of `samples` samples of `bits` each, in one strip, or in one
// strip per sample with `planar`; `pixels` holds them interleaved.
struct TIFFShape {
  int width;
  int height;
  uint32_t bits;
  uint32_t samples;
  uint32_t photometric;
  uint32_t format;
  std::vector<uint32_t> extra;
  bool bigEndian;
};

Bytes BuildTIFF(const TIFFShape& shape, const Bytes& pixels, bool planar) {
  TiffBuilder builder(shape.bigEndian);
  builder
      .Picture(static_cast<uint32_t>(shape.width), static_cast<uint32_t>(shape.height), shape.bits,
               shape.samples, shape.photometric)
      .Set(kSampleFormatTag, TiffBuilder::Short,
           std::vector<uint32_t>(shape.samples, shape.format));
  if (!shape.extra.empty()) builder.Set(kExtraSamplesTag, TiffBuilder::Short, shape.extra);
  if (!planar) return builder.AddStrip(pixels).Build();
  builder.Set(284, TiffBuilder::Short, {2});
  const size_t bytes = shape.bits / 8;
  const size_t step = bytes * shape.samples;
  for (size_t s = 0; s < shape.samples; ++s) {
    Bytes plane;
    for (size_t at = s * bytes; at < pixels.size(); at += step) {
      plane.insert(plane.end(), pixels.begin() + static_cast<ptrdiff_t>(at),
                   pixels.begin() + static_cast<ptrdiff_t>(at + bytes));
    }
    builder.AddStrip(plane);
  }
  return builder.Build();
}

// One sample's bytes in the file's byte order.
void PutSample(Bytes& out, uint64_t bits, int bytes, bool bigEndian) {
  for (int k = 0; k < bytes; ++k) {
    const int shift = 8 * (bigEndian ? bytes - 1 - k : k);
    out.push_back(static_cast<uint8_t>(bits >> shift));
  }
}

uint16_t Half(float v) {
  // Exact for the values used here (multiples of 1/1024 in 0..2, and the
  // special values).
  if (std::isnan(v)) return 0x7E00;
  if (std::isinf(v)) return v > 0 ? 0x7C00 : 0xFC00;
  const uint16_t sign = std::signbit(v) ? 0x8000 : 0;
  v = std::fabs(v);
  if (v == 0) return sign;
  int exponent;
  const float mantissa = std::frexp(v, &exponent);  // v = mantissa * 2^exponent
  if (exponent < -13) {                             // subnormal
    return static_cast<uint16_t>(sign | static_cast<uint16_t>(std::lround(v * 16777216.0f)));
  }
  return static_cast<uint16_t>(sign | ((exponent + 14) << 10) |
                               (static_cast<uint16_t>(std::lround(mantissa * 2048)) & 0x3FF));
}

// A value of pixel (x, y), sample s, over the whole range and beyond it
// for floats: below 0, above 1, NaN and the infinities.
float FloatLevel(int x, int y, int s) {
  const int i = x + 7 * y + 3 * s;
  switch (i % 13) {
    case 0:
      return -0.25f;
    case 1:
      return 1.5f;
    case 2:
      return std::numeric_limits<float>::quiet_NaN();
    case 3:
      return std::numeric_limits<float>::infinity();
    case 4:
      return 1.0f / 1024;
    default:
      return static_cast<float>((i * 37) % 1025) / 1024.0f;
  }
}

struct WideCase {
  const char* name;
  int bits;
  uint32_t format;
  int samples;
  uint32_t photometric;
  std::vector<uint32_t> extra;
  const char* predictor;  // tiffcp's option for a compressed twin
};

Bytes WidePixels(const WideCase& c, int width, int height, bool bigEndian) {
  Bytes out;
  const int bytes = c.bits / 8;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int s = 0; s < c.samples; ++s) {
        uint64_t bits;
        if (c.format == kFloat) {
          const float v = FloatLevel(x, y, s);
          bits = c.bits == 32 ? std::bit_cast<uint32_t>(v) : Half(v);
        } else {
          // Spread over 0..2^32 - 1, with the ends and the steps around
          // 8-bit boundaries (multiples of 16843009).
          const uint32_t i = static_cast<uint32_t>(x + 11 * y + 5 * s);
          bits = i % 5 == 0   ? 0xFFFFFFFFu
                 : i % 5 == 1 ? uint64_t{16843009} * (i % 256) - (i % 2)
                              : uint64_t{i} * 2654435761u % 0x100000000u;
        }
        PutSample(out, bits, bytes, bigEndian);
      }
    }
  }
  return out;
}

TEST_F(TIFFSampleFiles, WideAndFloatingPointSamplesShowAsImageMagickShowsThem) {
  const WideCase cases[] = {
      {"32-bit gray", 32, kUnsigned, 1, 1, {}, "-c zip:2"},
      {"32-bit RGB", 32, kUnsigned, 3, 2, {}, "-c zip:2"},
      {"32-bit RGBA", 32, kUnsigned, 4, 2, {2}, "-c zip:2"},
      {"32-bit float gray", 32, kFloat, 1, 1, {}, "-c zip:3"},
      {"32-bit float RGB", 32, kFloat, 3, 2, {}, "-c zip:3"},
      {"32-bit float RGBA", 32, kFloat, 4, 2, {2}, "-c zip:3"},
      {"16-bit float gray", 16, kFloat, 1, 1, {}, "-c zip:3"},
      {"16-bit float RGB", 16, kFloat, 3, 2, {}, "-c zip:3"},
  };
  constexpr int kWidth = 29, kHeight = 5;
  int n = 0;
  for (const WideCase& c : cases) {
    for (const bool bigEndian : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (bigEndian ? ", big-endian" : ""));
      const TIFFShape shape{kWidth,
                            kHeight,
                            static_cast<uint32_t>(c.bits),
                            static_cast<uint32_t>(c.samples),
                            c.photometric,
                            c.format,
                            c.extra,
                            bigEndian};
      const Bytes pixels = WidePixels(c, kWidth, kHeight, bigEndian);
      const std::string plain =
          Write("wide" + std::to_string(n++) + ".tif", BuildTIFF(shape, pixels, false));
      ExpectMagickShows(plain, 1);

      // The predictor (2 for integers, 3 for floating point) with the other
      // byte order, and the samples in planes, decode to the same bitmap.
      // libtiff writes floating-point predictor data into big-endian files
      // in an order that it cannot read back itself, so those twins are
      // little-endian.
      const std::string options = std::string(c.predictor) + (bigEndian            ? " -L"
                                                              : c.format == kFloat ? ""
                                                                                   : " -B");
      std::vector<std::string> twins = {
          Copy(plain, options, "twin" + std::to_string(n++) + ".tif")};
      if (c.samples > 1) {
        twins.push_back(
            Write("planes" + std::to_string(n++) + ".tif", BuildTIFF(shape, pixels, true)));
        twins.push_back(Copy(twins.back(), options, "twin" + std::to_string(n++) + ".tif"));
      }
      std::unique_ptr<TTIFFGraphic> a;
      ASSERT_NO_THROW(a = LoadFile(plain));
      for (const std::string& twin : twins) {
        SCOPED_TRACE(twin);
        std::unique_ptr<TTIFFGraphic> b;
        ASSERT_NO_THROW(b = LoadFile(twin));
        EXPECT_EQ(a->Layout(), b->Layout());
        EXPECT_EQ(test::StorageBytes(*a), test::StorageBytes(*b));
      }
    }
  }
}

TEST_F(TIFFSampleFiles, FloatingPointSampleFileShowsItsLevelsClamped) {
  // No photometric tag, so white is zero, as files without it always are;
  // Pillow shows it black is zero.
  const std::string path = test::TestData("tiff/10ct_32bit_128.tiff");
  std::unique_ptr<TTIFFGraphic> graphic;
  ASSERT_NO_THROW(graphic = LoadFile(path));
  EXPECT_EQ(graphic->Layout(), PixelLayout::Bits8);
  test::ExpectReferencePixels(path, *graphic, 1, [](test::RgbPicture& reference) {
    for (uint8_t& v : reference.rgb) v = static_cast<uint8_t>(255 - v);
  });
}

TEST(TIFFSampleKinds, UnreadableKindsFailWithTheDepthMessage) {
  struct Case {
    const char* name;
    uint32_t bits;
    uint32_t format;
    uint32_t samples;
    uint32_t photometric;
  };
  const Case cases[] = {
      {"64-bit float", 64, kFloat, 1, 1},       {"24-bit float", 24, kFloat, 1, 1},
      {"8-bit float", 8, kFloat, 1, 1},         {"32-bit signed", 32, 2, 1, 1},
      {"32-bit palette", 32, kUnsigned, 1, 3},  {"32-bit float Lab", 32, kFloat, 3, 8},
      {"16-bit float YCbCr", 16, kFloat, 3, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = TiffBuilder()
                           .Picture(2, 1, c.bits, c.samples, c.photometric)
                           .Set(kSampleFormatTag, TiffBuilder::Short, {c.format})
                           .AddStrip(Bytes(2 * c.samples * c.bits / 8, 0))
                           .Build();
    EXPECT_EQ(test::FailureOf([&] { test::LoadBytes<TTIFFGraphic>(file); }), kColorDepthInvalid);
  }
}

// ---- gray + alpha and premultiplied alpha --------------------------------

struct AlphaCase {
  const char* name;
  uint32_t bits;
  uint32_t samples;
  uint32_t photometric;
  uint32_t extra;  // 0 unspecified, 1 premultiplied, 2 plain alpha
  bool bigEndian;
  PixelLayout layout;
};

// Premultiplied files hold colours no greater than their alpha; the
// others any colour. Alpha runs over every level, 0 and full included.
Bytes AlphaPixels(const AlphaCase& c, int width, int height) {
  Bytes out;
  const uint32_t max = c.bits == 16 ? 65535 : 255;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t i = static_cast<uint32_t>(x + width * y);
      const uint32_t alpha = i % 7 == 0 ? 0 : i % 7 == 1 ? max : (i * 40503u) % (max + 1);
      for (uint32_t s = 0; s + 1 < c.samples; ++s) {
        const uint32_t level = ((i + 3 * s) * 2654435761u) % (max + 1);
        const uint32_t v = c.extra == 1 ? level * alpha / max : level;
        PutSample(out, v, static_cast<int>(c.bits / 8), c.bigEndian);
      }
      PutSample(out, alpha, static_cast<int>(c.bits / 8), c.bigEndian);
    }
  }
  return out;
}

TEST_F(TIFFSampleFiles, GrayAlphaAndPremultipliedAlphaShowAsImageMagickShowsThem) {
  using L = PixelLayout;
  const AlphaCase cases[] = {
      {"gray + alpha", 8, 2, 1, 2, false, L::Bits8},
      {"gray + unspecified extra sample", 8, 2, 1, 0, false, L::Bits8},
      {"gray + premultiplied alpha", 8, 2, 1, 1, false, L::Bits8},
      {"16-bit gray + premultiplied alpha, big-endian", 16, 2, 1, 1, true, L::Bits8},
      {"white-is-zero gray + alpha", 8, 2, 0, 2, false, L::Bits8},
      {"RGB + premultiplied alpha", 8, 4, 2, 1, false, L::Bits32},
      {"16-bit RGB + premultiplied alpha", 16, 4, 2, 1, false, L::Bits32},
      {"16-bit RGB + premultiplied alpha, big-endian", 16, 4, 2, 1, true, L::Bits32},
      {"RGB + plain alpha stays as stored", 8, 4, 2, 2, false, L::Bits32},
  };
  constexpr int kWidth = 41, kHeight = 7;
  int n = 0;
  for (const AlphaCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TIFFShape shape{kWidth,        kHeight,   c.bits,    c.samples,
                          c.photometric, kUnsigned, {c.extra}, c.bigEndian};
    const Bytes pixels = AlphaPixels(c, kWidth, kHeight);
    const std::string plain =
        Write("alpha" + std::to_string(n++) + ".tif", BuildTIFF(shape, pixels, false));
    ExpectMagickShows(plain, 1);
    const std::string planes =
        Write("planes" + std::to_string(n++) + ".tif", BuildTIFF(shape, pixels, true));
    std::unique_ptr<TTIFFGraphic> a, b;
    ASSERT_NO_THROW(a = LoadFile(plain));
    ASSERT_NO_THROW(b = LoadFile(planes));
    EXPECT_EQ(a->Layout(), c.layout);
    EXPECT_EQ(test::StorageBytes(*a), test::StorageBytes(*b));
  }
}

TEST_F(TIFFSampleFiles, PremultipliedSampleFilesShowAsImageMagickShowsThem) {
  // Stored with LZW; copied without compression, so that only the samples
  // are tested here.
  for (const char* name : {"tiff/tiff_16bit_RGBa.tiff", "tiff/tiff_strip_planar_16bit_RGBa.tiff",
                           "tiff/pil136.tiff"}) {
    SCOPED_TRACE(name);
    const std::string source = test::TestData(name);
    ExpectMagickShows(Copy(source, "-c none", "plain.tif"), 1, source);
  }
}

// ---- the Orientation tag -------------------------------------------------

TEST_F(TIFFSampleFiles, EveryOrientationComesOutUpright) {
  // Colour, 4-bit gray and bilevel pictures (Bits24, Bits4 and Bits1) with
  // odd sizes, each stored with orientations 1 to 8.
  struct Source {
    const char* file;
    PixelLayout layout;
  };
  const Source sources[] = {
      {"tiff/tiff_strip_raw.tif", PixelLayout::Bits24},
      {"tiff/hopper_gray_4bpp.tif", PixelLayout::Bits4},
      {"tiff/issue_2278.tif", PixelLayout::Bits1},
  };
  int n = 0;
  for (const Source& s : sources) {
    // Cropped to an odd size, so that packed pixels straddle bytes.
    const std::string cropped = dir_ + "/cropped" + std::to_string(n) + ".tif";
    test::RunTool("tiffcrop -U px -X 37 -Y 23 " + test::Quoted(test::TestData(s.file)) + " " +
                  test::Quoted(cropped));
    for (int orientation = 1; orientation <= 8; ++orientation) {
      SCOPED_TRACE(std::string(s.file) + " orientation " + std::to_string(orientation));
      const std::string turned = Copy(cropped, "-c none", "turned" + std::to_string(n++) + ".tif");
      test::RunTool("tiffset -s " + std::to_string(kOrientationTag) + " " +
                    std::to_string(orientation) + " " + test::Quoted(turned));
      std::unique_ptr<TTIFFGraphic> graphic;
      ASSERT_NO_THROW(graphic = LoadFile(turned));
      EXPECT_EQ(graphic->Layout(), s.layout);
      // Pillow turns TIFF pictures upright as it loads them.
      const auto expected = test::ReferencePixels(turned);
      ASSERT_TRUE(expected.has_value());
      EXPECT_EQ(test::ComparePictures(*expected, test::BitmapPixels(*graphic), 0), "");
      // The header facts give the size as shown.
      EXPECT_EQ(graphic->ImageProperties().width, expected->width);
      EXPECT_EQ(graphic->ImageProperties().height, expected->height);
    }
  }
}

TEST_F(TIFFSampleFiles, OrientedFaxSamplesComeOutUpright) {
  // Group 4 files, decompressed so that only the turning is tested here.
  for (int orientation : {1, 2, 4, 5, 7, 8}) {
    const std::string name = "tiff/g4_orientation_" + std::to_string(orientation) + ".tif";
    SCOPED_TRACE(name);
    const std::string source = test::TestData(name);
    const std::string plain = Copy(source, "-c none", "fax.tif");
    std::unique_ptr<TTIFFGraphic> graphic;
    ASSERT_NO_THROW(graphic = LoadFile(plain));
    const auto expected = test::ReferencePixels(source);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(test::ComparePictures(*expected, test::BitmapPixels(*graphic), 0), "");
  }
}

// ---- CIELab ----------------------------------------------------------------

// Every L step of 5 with a and b on a grid of 17, in 8-bit TIFF encoding
// (signed a and b) or Photoshop's (offset by 128).
Bytes LabSamples(int width, int height, bool offset) {
  Bytes out;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int a = -128 + 16 * (x % 16) + (y % 2 ? 15 : 0);
      const int b = -128 + 16 * ((x / 16 + y) % 16) + (x % 2 ? 15 : 0);
      out.push_back(static_cast<uint8_t>((x * 5 + y * 80) % 256));
      out.push_back(static_cast<uint8_t>(offset ? a + 128 : a));
      out.push_back(static_cast<uint8_t>(offset ? b + 128 : b));
    }
  }
  return out;
}

TEST_F(TIFFSampleFiles, CIELabShowsAsLittleCMSShowsItInSRGB) {
  constexpr int kWidth = 64, kHeight = 16;
  const std::string path = Write("lab.tif", TiffBuilder()
                                                .Picture(kWidth, kHeight, 8, 3, 8)
                                                .AddStrip(LabSamples(kWidth, kHeight, false))
                                                .Build());
  std::unique_ptr<TTIFFGraphic> graphic;
  ASSERT_NO_THROW(graphic = LoadFile(path));
  test::ExpectReferencePixels(path, *graphic, 2);
}

// A Photoshop file of three 8-bit planes, uncompressed.
Bytes PhotoshopLab(int width, int height, const Bytes& interleaved) {
  Bytes out = test::Text("8BPS");
  auto put16 = [&](uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
  };
  auto put32 = [&](uint32_t v) {
    put16(v >> 16);
    put16(v & 0xFFFF);
  };
  put16(1);
  out.insert(out.end(), 6, 0);
  put16(3);
  put32(static_cast<uint32_t>(height));
  put32(static_cast<uint32_t>(width));
  put16(8);
  put16(9);  // Lab
  put32(0);  // colour mode data
  put32(0);  // image resources
  put32(0);  // layers
  put16(0);  // raw
  for (size_t plane = 0; plane < 3; ++plane) {
    for (size_t i = plane; i < interleaved.size(); i += 3) out.push_back(interleaved[i]);
  }
  return out;
}

TEST_F(TIFFSampleFiles, PhotoshopLabShowsAsLittleCMSShowsItInSRGB) {
  constexpr int kWidth = 64, kHeight = 16;
  const std::string path =
      Write("lab.psd", PhotoshopLab(kWidth, kHeight, LabSamples(kWidth, kHeight, true)));
  std::unique_ptr<TPSDGraphic> graphic;
  ASSERT_NO_THROW(graphic = test::LoadFile<TPSDGraphic>(path));
  EXPECT_EQ(graphic->Layout(), PixelLayout::Bits24);
  test::ExpectReferencePixels(path, *graphic, 2);
}

}  // namespace
}  // namespace quorvex
