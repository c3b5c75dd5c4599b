#include "picture/readers/tiff_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/readers/eps_reader.h"
#include "picture/readers/reader_test_support.h"
#include "picture/readers/tiff_jpeg_decoder.h"
#include "picture/stream.h"
#include "support/test_support.h"
#include "tiff_test_files.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::FailureOf;
using test::TiffBuilder;

const std::string kInvalid = "Cannot load image. Invalid or unexpected TIF/TIFF image format.";
const std::string kNotSupported =
    "Cannot load image. The compression scheme is not supported for TIF/TIFF files.";
const std::string kBadDepth = kColorDepthInvalid;

const auto LoadFile = &test::LoadFile<TTIFFGraphic>;
const auto LoadBytes = &test::LoadBytes<TTIFFGraphic>;

// Runs a libtiff tool; false when it failed.
bool RunTool(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// ---- the sample files ---------------------------------------------------

enum class Outcome { Loads, Fails };
enum class Reference { Pillow, Magick, None };

struct CorpusCase {
  const char* file;
  Outcome outcome;
  PixelLayout layout;
  Reference reference;
  int tolerance;
  std::string message;  // for Fails
};

CorpusCase Loads(const char* file, PixelLayout layout, Reference reference = Reference::Pillow,
                 int tolerance = 0) {
  return {file, Outcome::Loads, layout, reference, tolerance, ""};
}
CorpusCase Fails(const char* file, std::string message) {
  return {file, Outcome::Fails, PixelLayout::DeviceBitmap, Reference::None, 0, std::move(message)};
}

void CheckCorpusCase(const CorpusCase& c, const std::string& path,
                     const std::function<std::unique_ptr<TTIFFGraphic>()>& load) {
  SCOPED_TRACE(c.file);
  if (c.outcome == Outcome::Fails) {
    EXPECT_EQ(FailureOf([&] { load(); }), c.message);
    return;
  }
  std::unique_ptr<TTIFFGraphic> graphic;
  ASSERT_NO_THROW(graphic = load());
  EXPECT_EQ(graphic->Layout(), c.layout);
  if (c.reference == Reference::None) return;
  const auto expected = c.reference == Reference::Pillow ? test::ReferencePixels(path)
                                                         : test::ImageMagickPixels(path);
  ASSERT_TRUE(expected.has_value()) << "the reference decoder refused " << path;
  EXPECT_EQ(test::ComparePictures(*expected, test::BitmapPixels(*graphic), c.tolerance), "");
}

// Each sample file with what it gives: the layout of the results table and
// the reference decoder's pixels where the reader's rules agree with it
// (16-bit samples scale by 255/65535, which ImageMagick rounds), or the
// message it fails with.
const std::vector<CorpusCase>& TIFFCorpus() {
  using L = PixelLayout;
  static const std::vector<CorpusCase> cases = {
      Loads("10ct_32bit_128.tiff", L::Bits8, Reference::None),
      Fails("16_bit_binary_pgm.tiff", kBadDepth),
      Loads("16_bit_noise.tif", L::Bits8, Reference::Magick, 1),
      Loads("16bit.MM.cropped.tif", L::Bits8, Reference::Magick, 1),
      Loads("16bit.MM.deflate.tif", L::Bits8, Reference::Magick, 1),
      Loads("16bit.deflate.tif", L::Bits8, Reference::Magick, 1),
      Loads("16bit.r.tif", L::Bits8, Reference::None),
      Loads("child_ifd_jpeg.tiff", L::Bits24),
      Loads("cmx3g8_wv_1998.260_0745_mcidas.tiff", L::Bits8, Reference::Magick, 1),
      Loads("copyleft.tiff", L::Bits24),
      Loads("g4-fillorder-test.tif", L::Bits1),
      Loads("g4_orientation_1.tif", L::Bits1),
      Loads("g4_orientation_2.tif", L::Bits1),
      Loads("g4_orientation_4.tif", L::Bits1),
      Loads("g4_orientation_5.tif", L::Bits1),
      Loads("g4_orientation_7.tif", L::Bits1),
      Loads("g4_orientation_8.tif", L::Bits1),
      Loads("hopper.Lab.tif", L::Bits24, Reference::Pillow, 2),
      Loads("hopper.iccprofile.tif", L::Bits24),
      Loads("hopper.iccprofile_binary.tif", L::Bits24),
      Loads("hopper2.tif", L::Bits4),
      Loads("hopper2I.tif", L::Bits4),
      Loads("hopper2R.tif", L::Bits4),
      Loads("hopper4R.tif", L::Bits4),
      Loads("hopper_bigtiff.tif", L::Bits24),
      Loads("hopper_float_dpi_3.tif", L::Bits24),
      Loads("hopper_float_dpi_None.tif", L::Bits24),
      Loads("hopper_g4.tif", L::Bits1),
      Loads("hopper_gray_4bpp.tif", L::Bits4),
      Loads("hopper_jpg.tif", L::Bits24, Reference::Pillow, 2),
      Loads("hopper_unknown_pixel_mode.tif", L::Bits24, Reference::Magick, 1),
      Fails("hopper_webp.tif", kNotSupported),
      Loads("ifd_tag_type.tiff", L::Bits8, Reference::Magick, 1),
      Loads("imagedraw_polygon_width_I.tiff", L::Bits8, Reference::Magick, 1),
      Loads("issue_2278.tif", L::Bits1),
      Loads("lab-green.tif", L::Bits24, Reference::Pillow, 2),
      Loads("lab-red.tif", L::Bits24, Reference::Pillow, 2),
      Loads("lab.tif", L::Bits24, Reference::Pillow, 2),
      Loads("multipage-lastframe.tif", L::Bits1),
      Loads("multipage.tiff", L::Bits1),
      Loads("multipage_multiple_frame_loop.tiff", L::Bits1),
      Loads("multipage_single_frame_loop.tiff", L::Bits1),
      Loads("no_rows_per_strip.tif", L::Bits8, Reference::Pillow, 1),
      Fails("old-style-jpeg-compression-no-samplesperpixel.tif", kNotSupported),
      Fails("old-style-jpeg-compression.tif", kNotSupported),
      Loads("pil136.tiff", L::Bits32, Reference::Pillow, 1),
      Loads("pil168.tif", L::Bits24, Reference::Pillow, 2),
      Loads("pport_g4.tif", L::Bits1),
      Loads("rdf.tif", L::Bits8),
      Loads("separate_planar_extra_samples.tiff", L::Bits8, Reference::None),
      Loads("tiff_16bit_RGBa.tiff", L::Bits32, Reference::Magick, 1),  // associated alpha
      Loads("tiff_adobe_deflate.tif", L::Bits24),
      Loads("tiff_strip_cmyk_16l_jpeg.tif", L::Bits24, Reference::Pillow, 2),
      Loads("tiff_strip_planar_16bit_RGB.tiff", L::Bits24, Reference::Pillow, 1),
      Loads("tiff_strip_planar_16bit_RGBa.tiff", L::Bits32, Reference::Magick,
            1),  // associated alpha
      Loads("tiff_strip_planar_raw_with_overviews.tif", L::Bits24),
      Loads("tiff_strip_raw.tif", L::Bits24),
      Loads("tiff_tiled_cmyk_jpeg.tif", L::Bits24, Reference::Pillow, 2),
      Loads("tiff_tiled_planar_16bit_RGB.tiff", L::Bits24, Reference::Magick, 1),
      Loads("tiff_tiled_planar_16bit_RGBa.tiff", L::Bits32, Reference::Magick, 1),
      Loads("tiff_tiled_planar_raw.tif", L::Bits24),
      Loads("tiff_tiled_ycbcr_jpeg_2x2_sampling.tif", L::Bits24, Reference::Pillow, 2),
      Loads("tiff_wrong_bits_per_sample.tiff", L::Bits32),
      Loads("tiff_wrong_bits_per_sample_2.tiff", L::Bits24),
      Loads("total-pages-zero.tif", L::Bits1),
      Loads("uint16_1_4660.tif", L::Bits8, Reference::Magick, 1),
  };
  return cases;
}

class TIFFReaderCorpus : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(TIFFReaderCorpus, LoadsAsTheReferenceShowsItOrFailsClearly) {
  const std::string path = test::TestData(std::string("tiff/") + GetParam().file);
  CheckCorpusCase(GetParam(), path, [&] { return LoadFile(path); });
}

INSTANTIATE_TEST_SUITE_P(SampleFiles, TIFFReaderCorpus, ::testing::ValuesIn(TIFFCorpus()),
                         [](const ::testing::TestParamInfo<CorpusCase>& info) {
                           std::string name = info.param.file;
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

TEST(TIFFReaderSampleFiles, EveryFileHasADecidedOutcome) {
  // A file added to the samples needs its row in the table above.
  const auto& cases = TIFFCorpus();
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("tiff"))) {
    const std::string name = entry.path().filename().string();
    ++seen;
    EXPECT_TRUE(std::any_of(cases.begin(), cases.end(), [&](const CorpusCase& c) {
      return name == c.file;
    })) << name;
  }
  EXPECT_EQ(seen, cases.size());
}

// ---- twins made with libtiff's tools ------------------------------------

class TIFFTwins : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }

  // The source copied with tiffcp options into the temp dir.
  std::string Copy(const std::string& source, const std::string& options, const std::string& name) {
    const std::string out = dir_ + "/" + name;
    if (!RunTool("tiffcp " + options + " '" + source + "' '" + out + "'")) {
      ADD_FAILURE() << "tiffcp " << options << " failed";
    }
    return out;
  }

  std::string dir_;
};

TEST_F(TIFFTwins, CompressedAndReorderedCopiesGiveTheSameBitmap) {
  struct Case {
    const char* source;
    const char* options;
  };
  const Case cases[] = {
      {"tiff/tiff_strip_raw.tif", "-c packbits"},
      {"tiff/tiff_strip_raw.tif", "-c zip"},
      {"tiff/tiff_strip_raw.tif", "-c zip:2"},       // horizontal differencing
      {"tiff/tiff_strip_raw.tif", "-c zip:2 -r 7"},  // many strips, the last one short
      {"tiff/tiff_strip_raw.tif", "-B"},             // big-endian
      {"tiff/tiff_strip_raw.tif", "-B -c zip:2"},
      {"tiff/tiff_strip_raw.tif", "-p separate"},  // one plane per sample
      {"tiff/tiff_strip_raw.tif", "-p separate -c zip:2 -r 50"},
      {"tiff/pil136.tiff", "-B -c packbits"},  // RGBA
      {"tiff/hopper_gray_4bpp.tif", "-c packbits -f lsb2msb"},
      {"tiff/hopper2.tif", "-f lsb2msb"},
      {"tiff/issue_2278.tif", "-c g3"},  // one-dimensional fax
      {"tiff/issue_2278.tif", "-B -r 1"},
      {"tiff/16bit.deflate.tif", "-c none -B"},   // 16-bit samples swapped
      {"tiff/16bit.deflate.tif", "-c zip:2 -B"},  // 16-bit differencing, big-endian
      {"tiff/16bit.deflate.tif", "-c zip:2"},
      {"tiff/hopper.Lab.tif", "-c zip -B"},
      {"tiff/tiff_strip_cmyk_16l_jpeg.tif", "-c packbits -B"},
      {"tiff/multipage.tiff", "-B"},  // palette
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.options);
    const std::string source = test::TestData(c.source);
    const std::string plain = Copy(source, "-c none", "plain" + std::to_string(n) + ".tif");
    const std::string twin = Copy(source, c.options, "twin" + std::to_string(n) + ".tif");
    ++n;
    std::unique_ptr<TTIFFGraphic> a, b;
    ASSERT_NO_THROW(a = LoadFile(plain));
    ASSERT_NO_THROW(b = LoadFile(twin));
    EXPECT_EQ(a->Layout(), b->Layout());
    EXPECT_EQ(test::StorageBytes(*a), test::StorageBytes(*b));
    EXPECT_EQ(a->QueryPalette(), b->QueryPalette());
  }
}

TEST_F(TIFFTwins, JPEGStripsMatchTheReferenceDecoder) {
  struct Case {
    const char* source;
    const char* options;
  };
  // An 8-bit gray picture, for gray JPEG strips.
  Bytes ramp;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 64; ++x) ramp.push_back(static_cast<uint8_t>(x * 4 + y));
  }
  const std::string gray = dir_ + "/gray.tif";
  test::WriteFileBytes(gray, TiffBuilder().Picture(64, 40, 8, 1, 1).AddStrip(ramp).Build());
  const Case cases[] = {
      {"tiff/tiff_strip_raw.tif", "-c jpeg"},           // YCbCr, 2x2 subsampled
      {"tiff/tiff_strip_raw.tif", "-c jpeg:r"},         // RGB data
      {"tiff/tiff_strip_raw.tif", "-c jpeg -r 16 -B"},  // many strips, big-endian
      {"", "-c jpeg -r 8"},                             // gray
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.options);
    const std::string source = *c.source ? test::TestData(c.source) : gray;
    const std::string twin = Copy(source, c.options, "jpeg" + std::to_string(n++) + ".tif");
    std::unique_ptr<TTIFFGraphic> graphic;
    ASSERT_NO_THROW(graphic = LoadFile(twin));
    const auto expected = test::ReferencePixels(twin);
    ASSERT_TRUE(expected.has_value());
    // libjpeg's upsampling and colour conversion against the reference's:
    // they may round differently by a step or two.
    EXPECT_EQ(test::ComparePictures(*expected, test::BitmapPixels(*graphic), 3), "");
  }
}

TEST_F(TIFFTwins, UnsupportedCompressionsFailWithTheNotSupportedMessage) {
  struct Case {
    const char* source;
    const char* options;
  };
  const Case cases[] = {
      {"tiff/issue_2278.tif", "-c lzma"},
      {"tiff/tiff_strip_raw.tif", "-c zstd"},
      {"tiff/issue_2278.tif", "-c jbig"},
      {"tiff/issue_2278.tif", "-c zstd -B"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string twin =
        Copy(test::TestData(c.source), c.options, "u" + std::to_string(n++) + ".tif");
    EXPECT_EQ(FailureOf([&] { LoadFile(twin); }), kNotSupported);
  }
}

TEST(TIFFReaderColours, CIELabFollowsTheConvertersFormula) {
  // L 128 (on the 0..255 scale), a -100 or +100, b 0; and white: D50 Lab
  // shown in sRGB.
  struct Case {
    const char* file;
    uint32_t color;  // 0xRRGGBB of the first pixel
  };
  const Case cases[] = {
      {"tiff/lab-green.tif", 0x009875},
      {"tiff/lab-red.tif", 0xFF007D},
      {"tiff/lab.tif", 0xFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto g = LoadFile(test::TestData(c.file));
    const uint32_t got = g->PixelColor(0, 0);
    for (int shift : {16, 8, 0}) {
      EXPECT_NEAR(static_cast<int>((got >> shift) & 0xFF),
                  static_cast<int>((c.color >> shift) & 0xFF), 1);
    }
  }
}

// ---- edge cases built in code -------------------------------------------

TEST(TIFFReaderEdges, DefaultsOfMissingTags) {
  // 4x2 8-bit gray in one strip, built with and without optional tags.
  const Bytes pixels = {0, 64, 128, 255, 10, 20, 30, 40};
  struct Case {
    const char* name;
    std::function<void(TiffBuilder&)> extra;
  };
  const Case cases[] = {
      {"everything stated",
       [](TiffBuilder& b) {
         b.Set(259, TiffBuilder::Short, {1}).Set(278, TiffBuilder::Long, {2});
       }},
      {"no compression tag", [](TiffBuilder& b) { b.Set(278, TiffBuilder::Long, {2}); }},
      {"no rows per strip", [](TiffBuilder& b) { b.Set(259, TiffBuilder::Short, {1}); }},
      {"rows per strip FFFFFFFF",
       [](TiffBuilder& b) { b.Set(278, TiffBuilder::Long, {0xFFFFFFFFu}); }},
      {"no byte counts", [](TiffBuilder& b) { b.WithByteCounts(false); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TiffBuilder b;
    b.Picture(4, 2, 8, 1, 1).AddStrip(pixels);
    c.extra(b);
    std::unique_ptr<TTIFFGraphic> g;
    ASSERT_NO_THROW(g = LoadBytes(b.Build()));
    ASSERT_EQ(g->Layout(), PixelLayout::Bits8);
    EXPECT_EQ(test::BitmapPixels(*g).rgb[3 * 3], 255);
    for (int32_t y = 0; y < 2; ++y) {
      EXPECT_EQ(Bytes(g->RowAddress(y), g->RowAddress(y) + 4),
                Bytes(pixels.begin() + 4 * y, pixels.begin() + 4 * y + 4));
    }
  }
}

TEST(TIFFReaderEdges, DeflateStripsWithAndWithoutByteCounts) {
  Bytes plain;
  for (int i = 0; i < 16 * 8; ++i) plain.push_back(static_cast<uint8_t>(i * 3));
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  Bytes coded(size);
  ASSERT_EQ(compress(coded.data(), &size, plain.data(), static_cast<uLong>(plain.size())), Z_OK);
  coded.resize(size);
  for (bool byteCounts : {true, false}) {
    SCOPED_TRACE(byteCounts ? "with byte counts" : "without");
    TiffBuilder b;
    b.Picture(16, 8, 8, 1, 1)
        .Set(259, TiffBuilder::Short, {32946})
        .WithByteCounts(byteCounts)
        .AddStrip(coded);
    const auto g = LoadBytes(b.Build());
    for (int32_t y = 0; y < 8; ++y) {
      EXPECT_EQ(Bytes(g->RowAddress(y), g->RowAddress(y) + 16),
                Bytes(plain.begin() + 16 * y, plain.begin() + 16 * y + 16));
    }
  }
}

TEST(TIFFReaderEdges, BilevelPalettesFollowThePhotometricInterpretation) {
  for (uint32_t photometric : {0u, 1u}) {
    SCOPED_TRACE(photometric);
    TiffBuilder b;
    b.Picture(8, 1, 1, 1, photometric).AddStrip({0x0F});
    const auto g = LoadBytes(b.Build());
    ASSERT_EQ(g->Layout(), PixelLayout::Bits1);
    const TPalette palette = *g->QueryPalette();
    const TRGB white{255, 255, 255}, black{0, 0, 0};
    EXPECT_EQ(palette[0], photometric == 0 ? white : black);
    EXPECT_EQ(palette[1], photometric == 0 ? black : white);
    EXPECT_EQ(g->RowAddress(0)[0], 0x0F);
  }
}

TEST(TIFFReaderEdges, SixteenBitGrayScalesToEightBits) {
  const uint32_t values[] = {0, 1, 256, 257, 32767, 32768, 65279, 65535};
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "MM" : "II");
    Bytes strip;
    for (uint32_t v : values) {
      strip.push_back(static_cast<uint8_t>(bigEndian ? v >> 8 : v));
      strip.push_back(static_cast<uint8_t>(bigEndian ? v : v >> 8));
    }
    TiffBuilder b(bigEndian);
    b.Picture(8, 1, 16, 1, 1).AddStrip(strip);
    const auto g = LoadBytes(b.Build());
    ASSERT_EQ(g->Layout(), PixelLayout::Bits8);
    for (size_t x = 0; x < 8; ++x) EXPECT_EQ(g->RowAddress(0)[x], values[x] * 255 / 65535) << x;
  }
}

TEST(TIFFReaderEdges, TwoBitSamplesKeepTheirBrightnessAndColours) {
  // Values 0, 1, 2, 3 in one byte.
  TiffBuilder gray;
  gray.Picture(4, 1, 2, 1, 1).AddStrip({0x1B});
  auto g = LoadBytes(gray.Build());
  ASSERT_EQ(g->Layout(), PixelLayout::Bits4);
  test::RgbPicture pixels = test::BitmapPixels(*g);
  EXPECT_EQ(pixels.rgb, Bytes({0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}));

  TiffBuilder palette;
  // Three lists: red, green, blue.
  std::vector<uint32_t> map = {0xFFFF, 0, 0, 0, 0, 0xFFFF, 0x8080, 0, 0, 0, 0, 0xFFFF};
  palette.Picture(4, 1, 2, 1, 3).Set(320, TiffBuilder::Short, map).AddStrip({0x1B});
  g = LoadBytes(palette.Build());
  pixels = test::BitmapPixels(*g);
  EXPECT_EQ(pixels.rgb, Bytes({255, 0, 0, 0, 255, 0, 0, 128, 0, 0, 0, 255}));
}

TEST(TIFFReaderEdges, ShortStripsUseOnlyTheBytesThere) {
  // 4x3 RGB; the strip stops in the middle of row 1 and the file ends there.
  Bytes strip;
  for (int i = 0; i < 12 + 7; ++i) strip.push_back(static_cast<uint8_t>(i + 1));
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "packbits" : "none");
    TiffBuilder b;
    b.Picture(4, 3, 8, 3, 2);
    if (compressed) {
      Bytes coded = {static_cast<uint8_t>(strip.size() - 1)};
      coded.insert(coded.end(), strip.begin(), strip.end());
      b.Set(259, TiffBuilder::Short, {32773}).AddStrip(coded);
    } else {
      b.AddStrip(strip);
    }
    Bytes file = b.Build();
    const auto g = LoadBytes(file);
    const test::RgbPicture p = test::BitmapPixels(*g);
    EXPECT_EQ(p.rgb[0], 1);            // row 0 complete
    EXPECT_EQ(p.rgb[3 * 4 + 0], 13);   // row 1, first pixel
    EXPECT_EQ(p.rgb[3 * 4 + 3], 16);   // row 1, second pixel
    EXPECT_EQ(p.rgb[3 * 4 + 6], 255);  // row 1, third pixel never arrived
    EXPECT_EQ(p.rgb[3 * 8], 255);      // row 2 white
  }
}

TEST(TIFFReaderEdges, BigEndianInlineValuesAreReadInTheirOwnWidth) {
  // Width and height as SHORTs, bits per sample as three SHORTs at an
  // offset, a BYTE-typed samples-per-pixel: both byte orders agree.
  Bytes strip = {1, 2, 3, 4, 5, 6};
  std::vector<Bytes> storage;
  for (bool bigEndian : {false, true}) {
    TiffBuilder b(bigEndian);
    b.Set(262, TiffBuilder::Short, {2})
        .Set(257, TiffBuilder::Short, {1})
        .Set(256, TiffBuilder::Short, {2})  // entries out of order on purpose
        .Set(258, TiffBuilder::Short, {8, 8, 8})
        .Set(277, TiffBuilder::Byte, {3})
        .Set(282, TiffBuilder::Rational, {300, 1})
        .AddStrip(strip);
    const auto g = LoadBytes(b.Build());
    EXPECT_EQ(g->ImageWidth(), 2);
    EXPECT_EQ(g->ImageProperties().xResolution, 300.0f);
    EXPECT_EQ((g->ImageProperties().options & kTIFFBigEndianOption) != 0, bigEndian);
    storage.push_back(test::StorageBytes(*g));
  }
  EXPECT_EQ(storage[0], storage[1]);
  EXPECT_EQ(storage[0][0], 3);  // blue first
}

TEST(TIFFReaderEdges, SubsampledUncompressedYCbCrIsUpsampled) {
  // 4x2 pixels in 2x2 blocks: Y00 Y01 Y10 Y11 Cb Cr.
  TiffBuilder b;
  b.Picture(4, 2, 8, 3, 6)
      .Set(530, TiffBuilder::Short, {2, 2})
      .AddStrip({50, 60, 70, 80, 128, 128, 200, 210, 220, 230, 128, 128});
  const auto g = LoadBytes(b.Build());
  ASSERT_EQ(g->Layout(), PixelLayout::Bits24);
  const test::RgbPicture p = test::BitmapPixels(*g);
  const int expected[2][4] = {{50, 60, 200, 210}, {70, 80, 220, 230}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_NEAR(p.rgb[3 * (y * 4 + x)], expected[y][x], 1) << x << "," << y;
    }
  }
}

TEST(TIFFReaderEdges, FaxAndThunderScanStripsReachTheirDecoders) {
  // White 2 (0111) then black 6 (0010): 0x72, or 0x4E with its bits
  // reversed under fill order 2.
  struct Case {
    const char* name;
    uint32_t compression;
    uint32_t bits;
    uint32_t fillOrder;
    Bytes strip;
    Bytes row;
  };
  const Case cases[] = {
      {"modified Huffman", 2, 1, 1, {0x72}, {0x3F}},
      {"modified Huffman, fill order 2", 2, 1, 2, {0x4E}, {0x3F}},
      {"word-aligned modified Huffman", 32771, 1, 1, {0x72}, {0x3F}},
      // Literal 5, then a run of two more.
      {"ThunderScan", 32809, 4, 1, {0xC5, 0x02}, {0x55, 0x50}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t width = c.bits == 1 ? 8 : 3;
    TiffBuilder b;
    b.Picture(width, 1, c.bits, 1, 1)
        .Set(259, TiffBuilder::Short, {c.compression})
        .Set(266, TiffBuilder::Short, {c.fillOrder})
        .AddStrip(c.strip);
    std::unique_ptr<TTIFFGraphic> g;
    ASSERT_NO_THROW(g = LoadBytes(b.Build()));
    const uint8_t* row = g->RowAddress(0);
    EXPECT_EQ(Bytes(row, row + c.row.size() - 1), Bytes(c.row.begin(), c.row.end() - 1));
    // The last byte's unused low bits are nobody's business.
    const uint8_t used = c.bits == 1 ? 0xFF : 0xF0;
    EXPECT_EQ(row[c.row.size() - 1] & used, c.row.back() & used);
  }
}

TEST(TIFFReaderEdges, BadFilesFailWithTheirMessages) {
  auto gray = [](TiffBuilder& b) -> TiffBuilder& { return b.Picture(2, 2, 8, 1, 1); };
  struct Case {
    const char* name;
    std::function<Bytes()> file;
    std::string message;
  };
  const std::string readError = kStreamReadError;
  const Case cases[] = {
      {"not a TIFF", [] { return Bytes(16, 'x'); }, kInvalid},
      {"version 43",
       [] {
         Bytes f = TiffBuilder().Picture(1, 1, 8, 1, 1).AddStrip({0}).Build();
         f[2] = 43;
         return f;
       },
       kInvalid},
      {"zero width", [] { return TiffBuilder().Picture(0, 2, 8, 1, 1).AddStrip({0}).Build(); },
       kInvalid},
      {"no height",
       [] { return TiffBuilder().Set(256, TiffBuilder::Long, {2}).AddStrip({0}).Build(); },
       kInvalid},
      {"no strips",
       [&] {
         TiffBuilder b;
         return gray(b).Build();
       },
       kInvalid},
      {"NeXT",
       [&] {
         TiffBuilder b;
         return gray(b).Set(259, TiffBuilder::Short, {32766}).AddStrip({0}).Build();
       },
       kNotSupported},
      {"unknown compression",
       [&] {
         TiffBuilder b;
         return gray(b).Set(259, TiffBuilder::Short, {12345}).AddStrip({0}).Build();
       },
       kNotSupported},
      {"transparency mask",
       [] { return TiffBuilder().Picture(8, 1, 1, 1, 4).AddStrip({0}).Build(); },
       kNoConversionMethod},
      {"RGB of one sample",
       [] { return TiffBuilder().Picture(4, 1, 8, 1, 2).AddStrip(Bytes(4, 0)).Build(); },
       kSampleCountInvalid},
      {"gray of three samples",
       [] { return TiffBuilder().Picture(4, 1, 8, 3, 1).AddStrip(Bytes(12, 0)).Build(); },
       kSampleCountInvalid},
      {"CMYK of three samples",
       [] { return TiffBuilder().Picture(4, 1, 8, 3, 5).AddStrip(Bytes(12, 0)).Build(); },
       kSampleCountInvalid},
      {"three samples of gray",
       [] {
         return TiffBuilder().Picture(1, 1, 8, 3, 1).AddStrip({0, 0, 0}).Build();
       },
       kSampleCountInvalid},
      {"IFD beyond the end",
       [] {
         Bytes f = TiffBuilder().Picture(1, 1, 8, 1, 1).AddStrip({0}).Build();
         f[4] = 0xF0;
         f[5] = 0xFF;
         return f;
       },
       readError},
      {"strip offsets claim more than the file holds",
       [&] {
         TiffBuilder b;
         Bytes f = gray(b).AddStrip({1, 2, 3, 4}).Build();
         // Raise the count of tag 273 to a billion.
         const size_t ifd = f[4] | (f[5] << 8);
         for (size_t i = ifd + 2; i + 12 <= f.size(); i += 12) {
           if (f[i] == 0x11 && f[i + 1] == 0x01) {
             f[i + 4] = 0;
             f[i + 5] = 0xCA;
             f[i + 6] = 0x9A;
             f[i + 7] = 0x3B;
           }
         }
         return f;
       },
       readError},
      {"JPEG of 16 bits",
       [] {
         return TiffBuilder()
             .Picture(1, 1, 16, 1, 1)
             .Set(259, TiffBuilder::Short, {7})
             .AddStrip({0})
             .Build();
       },
       kJPEGImproperPrecision},
      {"bogus JPEG tables",
       [] {
         return TiffBuilder()
             .Picture(1, 1, 8, 1, 1)
             .Set(259, TiffBuilder::Short, {7})
             .SetBytes(347, {0xFF, 0xD8, 0x12, 0x34, 0x56})
             .AddStrip({0xFF, 0xD8, 0xFF, 0xD9})
             .Build();
       },
       kJPEGBogusTables},
      {"JPEG strip cut short",
       [] {
         return TiffBuilder()
             .Picture(1, 1, 8, 1, 1)
             .Set(259, TiffBuilder::Short, {7})
             .AddStrip({0xFF, 0xD8})
             .Build();
       },
       kJPEGUnexpectedEnd},
      {"corrupt deflate strip",
       [] {
         return TiffBuilder()
             .Picture(2, 2, 8, 1, 1)
             .Set(259, TiffBuilder::Short, {8})
             .AddStrip({0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF})
             .Build();
       },
       "LZ77 decompression error."},
      {"picture over the storage limit",
       [] { return TiffBuilder().Picture(1u << 20, 1u << 20, 8, 3, 2).AddStrip({0}).Build(); },
       kOutOfResources},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = c.file();
    EXPECT_EQ(FailureOf([&] { LoadBytes(file); }), c.message);
  }
}

TEST(TIFFReaderEdges, HugeStripsAreCappedByWhatTheFileHolds) {
  // A tall picture in one strip claiming four gigabytes: the strip is read
  // as far as the file goes and the rows it cannot fill stay white.
  TiffBuilder b;
  b.Picture(64, 10000, 8, 1, 1)
      .Set(259, TiffBuilder::Short, {32773})
      .Set(279, TiffBuilder::Long, {0xFFFFFFFFu})
      .WithByteCounts(false)
      .AddStrip({0x81, 7});  // 128 sevens
  const auto g = LoadBytes(b.Build());
  EXPECT_EQ(g->RowAddress(0)[0], 7);
  EXPECT_EQ(g->RowAddress(1)[63], 7);
  // The rest of the file cannot fill ten thousand rows.
  EXPECT_EQ(g->RowAddress(9999)[0], 255);
}

TEST(TIFFReaderHeader, ContentTestAndHeaderInfo) {
  const Bytes good = TiffBuilder(true).Picture(3, 5, 8, 1, 1).AddStrip(Bytes(15, 0)).Build();
  struct Case {
    const char* name;
    Bytes bytes;
    bool accepted;
  };
  Bytes badVersion = good;
  badVersion[3] = 43;
  Bytes farIFD = good;
  farIFD[4] = 0x7F;
  const Case cases[] = {
      {"big-endian file", good, true},
      {"eight bytes only", Bytes(good.begin(), good.begin() + 8), false},
      {"version 43", badVersion, false},
      {"first IFD past the end", farIFD, false},
      {"Intel mark, Motorola numbers",
       [&] {
         Bytes b = good;
         b[0] = b[1] = 'I';
         return b;
       }(),
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream(c.bytes);
    stream.Seek(0);
    EXPECT_EQ(TTIFFGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 0);
  }

  TTIFFGraphic g;
  TMemoryStream stream(good);
  ASSERT_TRUE(g.ReadHeaderInfo(stream, 0));
  EXPECT_EQ(stream.Position(), 0);
  const TImageProperties& p = g.ImageProperties();
  EXPECT_EQ(p.width, 3);
  EXPECT_EQ(p.height, 5);
  EXPECT_EQ(p.colorScheme, ColorScheme::Gray);
  EXPECT_EQ(p.compression, CompressionKind::NoCompression);
  EXPECT_EQ(g.TIFFProperties().rowsPerStrip, std::vector<uint32_t>{5});
  // There is no second image.
  EXPECT_FALSE(g.ReadHeaderInfo(stream, 1));
}

TEST(TIFFReaderHeader, LaterImagesFollowTheChainAndLoopsEnd) {
  struct Case {
    const char* file;
    int index;
    bool usable;
  };
  const Case cases[] = {
      {"tiff/multipage.tiff", 1, true},
      {"tiff/multipage.tiff", 3, false},
      {"tiff/multipage_multiple_frame_loop.tiff", 5, false},
      {"tiff/multipage_single_frame_loop.tiff", 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TTIFFGraphic g;
    TFileStream stream(test::TestData(c.file), TFileStream::Mode::OpenRead);
    EXPECT_EQ(g.ReadHeaderInfo(stream, c.index), c.usable);
  }
}

TEST(TIFFLoading, ContentFirstThenTheExtension) {
  const Bytes gray = TiffBuilder(true).Picture(3, 2, 8, 1, 1).AddStrip(Bytes(6, 9)).Build();
  const Bytes next = TiffBuilder()
                         .Picture(1, 1, 8, 1, 1)
                         .Set(259, TiffBuilder::Short, {32766})
                         .AddStrip({0})
                         .Build();
  const Bytes eps = test::ReadFileBytes(test::TestData("eps/1.eps"));
  Bytes epsLater(eps.begin(), eps.begin() + 30);  // preview moved past a gap
  epsLater.resize(64, ' ');
  epsLater.insert(epsLater.end(), eps.begin() + 30, eps.end());
  epsLater[20] = 64;
  const Bytes plainEps = test::ReadFileBytes(test::TestData("eps/zero_bb.eps"));
  const Bytes tiled = test::ReadFileBytes(test::TestData("tiff/tiff_tiled_planar_raw.tif"));
  struct Case {
    const char* name;
    const Bytes& bytes;
    std::string message;  // "" when it loads
    PixelLayout layout;
  };
  const Case cases[] = {
      {"a.bmp", gray, "", PixelLayout::Bits8},  // the content decides
      {"a.tif", next, kNotSupported, {}},
      {"a.eps", eps, "", PixelLayout::Bits1},       // preview right after the header:
                                                    // taken by the extension
      {"a.png", epsLater, "", PixelLayout::Bits1},  // taken by its content
      {"a.eps", plainEps, "Cannot load image. Invalid or unexpected EPS image format.", {}},
      {"a.fax", tiled, "", PixelLayout::Bits24},  // tiled
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    const std::string failure = FailureOf(
        [&] { LoadPictureFromMemory(c.bytes.data(), c.bytes.size(), c.name, picture, working); });
    EXPECT_EQ(failure, c.message);
    if (!failure.empty()) continue;
    if (c.layout == PixelLayout::DeviceBitmap) {
      EXPECT_TRUE(working->IsEmpty());
    } else {
      EXPECT_EQ(working->Layout(), c.layout);
    }
  }
}

TEST(TIFFReaderMalformed, EveryFileGivesAPictureOrAClearError) {
  // Files that crashed, hung or exhausted memory elsewhere: each loads or
  // fails with its message ("" when it loads).
  const std::string readError = kStreamReadError;
  const std::map<std::string, std::string> outcomes = {
      {"crash-0c7e0e8e11ce787078f00b5b0ca409a167f070e0.tif", ""},
      {"crash-0da013a13571cc8eb457a39fee8db18f8a3c7127.tif", ""},
      {"crash-0e16d3bfb83be87356d026d66919deaefca44dac.tif", ""},
      {"crash-1152ec2d1a1a71395b6f2ce6721c38924d025bf3.tif", ""},
      {"crash-1185209cf7655b5aed8ae5e77784dfdd18ab59e9.tif", ""},
      {"crash-2020-10-test.tif", readError},
      {"crash-338516dbd2f0e83caddb8ce256c22db3bd6dc40f.tif", ""},
      {"crash-4f085cc12ece8cde18758d42608bed6a2a2cfb1c.tif", readError},
      {"crash-63b1dffefc8c075ddc606c0a2f5fdc15ece78863.tif", readError},
      {"crash-74d2a78403a5a59db1fb0a2b8735ac068a75f6e3.tif", ""},
      {"crash-86214e58da443d2b80820cff9677a38a33dcbbca.tif", readError},
      {"crash-f46f5b2f43c370fe65706c11449f567ecc345e74.tif", ""},
      {"libtiff_segfault.tif", kSampleCountInvalid},
      {"oom-225817ca0f8c663be7ab4b9e717b02c661e66834.tif", kInvalid},
      {"tiff_overflow_rows_per_strip.tif", ""},
  };
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("malformed/tiff"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++seen;
    const auto outcome = outcomes.find(name);
    ASSERT_NE(outcome, outcomes.end()) << "a new file needs its outcome";
    EXPECT_EQ(FailureOf([&] { LoadFile(entry.path().string()); }), outcome->second);
  }
  EXPECT_EQ(seen, outcomes.size());
}

}  // namespace
}  // namespace quorvex
