#include "picture/readers/ppm_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/readers/reader_test_support.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::Concat;
using test::Row;
using test::Text;

const auto Load = &test::LoadBytes<TPPMGraphic>;

const TPalette kWhiteBlack = {{255, 255, 255}, {0, 0, 0}};

// ---- content test -----------------------------------------------------

TEST(PPMContentTest, AsksForPAndADigitOneToSix) {
  struct Case {
    std::string file;
    bool accepted;
  };
  const Case cases[] = {
      {"P1\n1 1\n0\n\n\n\n", true}, {"P4\n8 1\n\xff\n\n\n", true}, {"P6\n1 1\n255\nabc", true},
      {"P0\n1 1\n255\nabc", false}, {"P7\n1 1\n255\nabc", false},  {"p6\n1 1\n255\nabc", false},
      {"Q6\n1 1\n255\nabc", false}, {"P6\n1 1\n255", false},  // exactly 10 bytes
      {"P6\n1 1\n255\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes file = Concat({{9, 9, 9}, Text(c.file)});
    TMemoryStream stream(file);
    stream.Seek(3);
    EXPECT_EQ(TPPMGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 3);
  }
}

// ---- header facts -----------------------------------------------------

TEST(PPMHeaderInfo, RecordsLayoutFactsByType) {
  struct Case {
    std::string file;
    ColorScheme scheme;
    int bitsPerSample, samples, bitsPerPixel, width, height;
  };
  const Case cases[] = {
      {"P1\n3 2\n", ColorScheme::Indexed, 1, 1, 1, 3, 2},
      {"P4 # size\n17 5\n", ColorScheme::Indexed, 1, 1, 1, 17, 5},
      {"P2\n4 1\n15\n", ColorScheme::Indexed, 8, 1, 8, 4, 1},
      {"P5\n4 1\n255\n", ColorScheme::Indexed, 8, 1, 8, 4, 1},
      {"P5\n4 1\n65535\n", ColorScheme::Indexed, 16, 1, 16, 4, 1},
      {"P3\n2 9\n255\n", ColorScheme::RGB, 8, 3, 24, 2, 9},
      {"P6\n2 9\n1023\n", ColorScheme::RGB, 16, 3, 48, 2, 9},
      {"P7\n", ColorScheme::UndefinedScheme, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TPPMGraphic graphic;
    TMemoryStream stream(Text(c.file));
    ASSERT_TRUE(graphic.ReadHeaderInfo(stream, 0));
    const TImageProperties& p = graphic.ImageProperties();
    EXPECT_EQ(p.colorScheme, c.scheme);
    EXPECT_EQ(p.bitsPerSample, c.bitsPerSample);
    EXPECT_EQ(p.samplesPerPixel, c.samples);
    EXPECT_EQ(p.bitsPerPixel, c.bitsPerPixel);
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
    EXPECT_EQ(p.compression, c.scheme == ColorScheme::UndefinedScheme
                                 ? CompressionKind::UndefinedCompression
                                 : CompressionKind::NoCompression);
  }

  TPPMGraphic graphic;
  TMemoryStream notP(Text("Q6\n1 1\n255\n"));
  EXPECT_FALSE(graphic.ReadHeaderInfo(notP, 0));
}

// ---- loading fixtures -------------------------------------------------

struct LoadCase {
  const char* name;
  Bytes file;
  PixelLayout layout;
  int32_t width;
  int32_t height;
  std::vector<Bytes> rows;  // the leading bytes of each row, top first
};

void ExpectLoads(const LoadCase& c) {
  SCOPED_TRACE(c.name);
  std::unique_ptr<TPPMGraphic> bitmap;
  try {
    bitmap = Load(c.file);
  } catch (const Exception& e) {
    ADD_FAILURE() << e.Message();
    return;
  }
  ASSERT_EQ(bitmap->Layout(), c.layout);
  ASSERT_EQ(bitmap->ImageWidth(), c.width);
  ASSERT_EQ(bitmap->ImageHeight(), c.height);
  for (size_t y = 0; y < c.rows.size(); ++y) {
    EXPECT_EQ(Row(*bitmap, static_cast<int32_t>(y), c.rows[y].size()), c.rows[y]) << "row " << y;
  }
}

TEST(PPMReader, LoadsEveryTypeAsItsLayout) {
  const LoadCase cases[] = {
      {"P5 with maximum 15 stretches levels 0 to 15 to 0 to 255",
       Concat({Text("P5\n4 2\n15\n"), {0, 5, 10, 15, 15, 10, 5, 0}}),
       PixelLayout::Bits8,
       4,
       2,
       {{0, 85, 170, 255}, {255, 170, 85, 0}}},
      {"two comment lines between header numbers",
       Concat({Text("P5\n# one\n# two\n2\n# three\r\n# four\n1 255\n"), {7, 9}}),
       PixelLayout::Bits8,
       2,
       1,
       {{7, 9}}},
      {"P1 width 10: two bytes a row, the last with six zero bits",
       Text("P1\n10 2\n1 0 1 1 0 0 1 1 1 1\n0 0 0 0 0 0 0 0 0 1\n"),
       PixelLayout::Bits1,
       10,
       2,
       {{0xB3, 0xC0}, {0x00, 0x40}}},
      {"P1 digits need no separators",
       Text("P1 10 1 1011001111"),
       PixelLayout::Bits1,
       10,
       1,
       {{0xB3, 0xC0}}},
      {"P1 takes the lowest bit of each digit",
       Text("P1\n4 1\n2 3 8 9\n"),
       PixelLayout::Bits1,
       4,
       1,
       {{0x50}}},
      {"P6 red is stored blue, green, red",
       Concat({Text("P6\n2 1\n255\n"), {255, 0, 0, 1, 2, 3}}),
       PixelLayout::Bits24,
       2,
       1,
       {{0, 0, 255, 3, 2, 1}}},
      {"P3 text triples",
       Text("P3\n2 2\n255\n255 0 0  0 255 0\n0 0 255\t9 8 7"),
       PixelLayout::Bits24,
       2,
       2,
       {{0, 0, 255, 0, 255, 0}, {255, 0, 0, 7, 8, 9}}},
      {"P2 keeps the low 8 bits of a number above 255",
       Text("P2\n3 1\n255\n300 255 0\n"),
       PixelLayout::Bits8,
       3,
       1,
       {{44, 255, 0}}},
      {"P4 rows are copied unchanged, pad bits too",
       Concat({Text("P4\n10 2\n"), {0xB3, 0xFF, 0x01, 0x40}}),
       PixelLayout::Bits1,
       10,
       2,
       {{0xB3, 0xFF}, {0x01, 0x40}}},
      {"numbers on the magic's line",
       Concat({Text("P5 3 1 255\n"), {1, 2, 3}}),
       PixelLayout::Bits8,
       3,
       1,
       {{1, 2, 3}}},
      {"carriage return and line feed ends",
       Concat({Text("P5\r\n2 1\r\n255\n"), {4, 5}}),
       PixelLayout::Bits8,
       2,
       1,
       {{4, 5}}},
      {"a comment on the magic's line",
       Concat({Text("P5# made by hand\n2 1 255 "), {6, 7}}),
       PixelLayout::Bits8,
       2,
       1,
       {{6, 7}}},
      {"binary data starting with a whitespace byte",
       Concat({Text("P5\n3 1\n255\n"), {'\n', ' ', '#'}}),
       PixelLayout::Bits8,
       3,
       1,
       {{'\n', ' ', '#'}}},
      {"P5 of two bytes a sample, scaled to 8 bits",
       Concat({Text("P5\n4 1\n65535\n"), {0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF, 0x01, 0x01}}),
       PixelLayout::Bits8,
       4,
       1,
       {{0, 128, 255, 1}}},
      {"P6 of maximum 1023, rounded, values above it white",
       Concat(
           {Text("P6\n2 1\n1023\n"), {0x03, 0xFF, 0x02, 0x00, 0x00, 0x02, 0x04, 0x00, 0, 0, 0, 0}}),
       PixelLayout::Bits24,
       2,
       1,
       {{0, 128, 255, 0, 0, 255}}},
      {"P2 of maximum 65535 scaled",
       Text("P2\n3 1\n65535\n65535 257 99999"),
       PixelLayout::Bits8,
       3,
       1,
       {{255, 1, 255}}},
  };
  for (const auto& c : cases) ExpectLoads(c);
}

TEST(PPMReader, BilevelAndGrayPicturesCarryTheirPalettes) {
  for (const char* header : {"P1\n1 1\n1\n", "P4\n1 1\n\x80"}) {
    SCOPED_TRACE(header);
    auto bitmap = Load(Text(header));
    EXPECT_EQ(bitmap->QueryPalette(), kWhiteBlack);
    EXPECT_EQ(bitmap->PixelColor(0, 0), 0x000000u);
  }
  for (const char* header : {"P2\n1 1\n255\n200\n", "P5\n1 1\n255\n\xc8"}) {
    SCOPED_TRACE(header);
    auto bitmap = Load(Text(header));
    EXPECT_EQ(bitmap->QueryPalette(), test::GrayRampPalette());
    EXPECT_EQ(bitmap->PixelColor(0, 0), 0xC8C8C8u);
  }
}

TEST(PPMReader, OtherTypeDigitsLoadAnEmptyBitmap) {
  for (const char* file : {"P7\nWIDTH 4\nHEIGHT 4\nENDHDR\n", "P0", "P9 1 1 255\n\x01"}) {
    SCOPED_TRACE(file);
    auto bitmap = Load(Text(file));
    EXPECT_TRUE(bitmap->IsEmpty());
  }
}

TEST(PPMReader, ReadsFromTheStreamPositionAndAcrossBlocks) {
  // 300 x 20 P6 is 18000 bytes of samples: several reader blocks.
  Bytes samples(300 * 20 * 3);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 13 + i / 7);
  const Bytes file = Concat({{0xAA, 0xBB}, Text("P6\n300 20\n255\n"), samples});
  TMemoryStream stream(file);
  stream.Seek(2);
  TPPMGraphic bitmap;
  bitmap.ReadFromStream(stream);
  ASSERT_EQ(bitmap.Layout(), PixelLayout::Bits24);
  for (int32_t y : {0, 7, 19}) {
    const uint8_t* row = bitmap.RowAddress(y);
    const uint8_t* in = samples.data() + size_t(y) * 900;
    for (size_t x = 0; x < 300; ++x) {
      ASSERT_EQ(row[3 * x], in[3 * x + 2]) << y << "," << x;
      ASSERT_EQ(row[3 * x + 1], in[3 * x + 1]);
      ASSERT_EQ(row[3 * x + 2], in[3 * x]);
    }
  }

  // Text numbers that straddle block boundaries.
  std::string text = "P2\n1000 2\n255\n";
  for (int i = 0; i < 2000; ++i) text += std::to_string(i % 256) + (i % 17 ? " " : "\n");
  auto gray = Load(Text(text));
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(gray->RowAddress(i / 1000)[i % 1000], i % 256) << i;
  }
}

TEST(PPMReader, FailsWithTheKnownMessages) {
  const test::FailureCase cases[] = {
      {"not starting with P", Text("Q5\n1 1\n255\n\x01"),
       "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
      {"a letter after P", Text("PX\n1 1\n255\n"), "'X' is not a valid integer value"},
      {"a line end after P", Text("P\n1 1\n255\n"), "'' is not a valid integer value"},
      {"empty", Bytes{}, "Stream read error in PPM file."},
      {"header cut short", Text("P5\n12"), "Stream read error in PPM file."},
      {"header ending in a comment", Text("P5\n1 1\n# no end"), "Stream read error in PPM file."},
      {"P5 data one byte short", Concat({Text("P5\n2 2\n255\n"), {1, 2, 3}}),
       "Stream read error in PPM file."},
      {"P6 of two bytes a sample, one byte short",
       Concat({Text("P6\n1 1\n65535\n"), {1, 2, 3, 4, 5}}), "Stream read error in PPM file."},
      {"P4 data short", Concat({Text("P4\n9 2\n"), {1, 2, 3}}), "Stream read error in PPM file."},
      {"P3 text one number short", Text("P3\n1 2\n255\n1 2 3 4 5"),
       "Stream read error in PPM file."},
      {"P3 text ending in separators", Text("P3\n1 2\n255\n1 2 3 4 5      "),
       "Stream read error in PPM file."},
      {"P1 text short", Text("P1\n3 1\n1 0\n"), "Stream read error in PPM file."},
      {"a large picture in a small file", Text("P6\n30000 30000\n255\n\x01"),
       "Stream read error in PPM file."},
      {"width 0", Text("P5\n0 1\n255\n\x01\x02\x03"),
       "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
      {"height 0", Text("P2\n1 0\n255\n1 2 3\n"),
       "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
      {"a size past 31 bits", Text("P632 35888888863 2!\n"),
       "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
      {"a maximum above 65535", Text("P5\n1 1\n65536\n\x01\x02\x03"),
       "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
  };
  test::ExpectEveryCaseFails(cases, Load, [](const auto& c, const Exception& e) {
    const bool convert = c.message.find("integer") != std::string::npos;
    EXPECT_EQ(dynamic_cast<const EConvertError*>(&e) != nullptr, convert);
    EXPECT_EQ(dynamic_cast<const EInvalidGraphic*>(&e) != nullptr, !convert);
  });
}

// ---- real files -------------------------------------------------------

TEST(PPMFiles, EveryFileLoadsWithItsLayoutAndPillowsPixels) {
  struct Expectation {
    PixelLayout layout;
    // Samples of two bytes: Pillow keeps them as 16-bit numbers, so the
    // 8-bit sibling of the same picture is the reference.
    const char* reference;
  };
  const std::map<std::string, Expectation> files = {
      {"16_bit_binary.pgm", {PixelLayout::Bits8, nullptr}},
      {"hopper.ppm", {PixelLayout::Bits24, ""}},
      {"hopper_16bit.pgm", {PixelLayout::Bits8, "pnm/hopper_8bit.pgm"}},
      {"hopper_16bit_plain.pgm", {PixelLayout::Bits8, "pnm/hopper_8bit.pgm"}},
      {"hopper_1bit.pbm", {PixelLayout::Bits1, ""}},
      {"hopper_8bit.pgm", {PixelLayout::Bits8, ""}},
      {"hopper_8bit_plain.ppm", {PixelLayout::Bits24, ""}},
      {"hopper_webp_bits.ppm", {PixelLayout::Bits24, ""}},
      {"hopper_webp_write.ppm", {PixelLayout::Bits24, ""}},
  };
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("pnm"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++seen;
    ASSERT_TRUE(files.count(name)) << "unexpected file";
    const Expectation& expected = files.at(name);
    TPPMGraphic bitmap;
    bitmap.LoadFile(entry.path().string());
    EXPECT_EQ(bitmap.Layout(), expected.layout);
    if (expected.reference != nullptr) {
      const std::string referencePath =
          *expected.reference == '\0' ? entry.path().string() : test::TestData(expected.reference);
      test::ExpectReferencePixels(referencePath, bitmap);
    }

    // The content test takes every one, so the loader keeps the reader's bitmap.
    test::ExpectLoaderKeepsTheBitmap(entry.path().string(), bitmap);
  }
  EXPECT_EQ(seen, files.size());
}

TEST(PPMFiles, SixteenBitRampScalesToEightBits) {
  // 20 x 100, each row one level from 65535 at the top down to 0: the high
  // byte of a sample is its 8-bit value give or take one.
  const Bytes file = test::ReadFileBytes(test::TestData("pnm/16_bit_binary.pgm"));
  TPPMGraphic bitmap;
  bitmap.LoadFile(test::TestData("pnm/16_bit_binary.pgm"));
  const size_t dataStart = file.size() - 20 * 100 * 2;
  for (int32_t y = 0; y < 100; ++y) {
    for (int32_t x = 0; x < 20; ++x) {
      const uint8_t high = file[dataStart + 2 * (size_t(y) * 20 + x)];
      const int level = bitmap.RowAddress(y)[x];
      ASSERT_LE(std::abs(level - high), 1) << x << "," << y;
    }
  }
  EXPECT_EQ(bitmap.RowAddress(0)[0], 255);
  EXPECT_EQ(bitmap.RowAddress(99)[0], 0);
}

TEST(PPMFiles, MalformedFileFailsClearly) {
  TPicture picture;
  std::unique_ptr<TBitmap> working;
  try {
    LoadPicture(test::TestData("malformed/pnm/negative_size.ppm"), picture, working);
    ADD_FAILURE() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(),
              "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format.");
  }
  EXPECT_TRUE(working->IsEmpty());
}

}  // namespace
}  // namespace quorvex
