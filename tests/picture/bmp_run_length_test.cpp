// Run-length BMP files (RLE8 and RLE4): the codes, where the rows land, and
// the decodes of ImageMagick and Pillow.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/readers/library_reference.h"
#include "picture/readers/reader_test_support.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<Bytes>;

// Colour i of the fixtures' tables: no two alike, none gray.
TRGB TableColor(int i) {
  return {static_cast<uint8_t>(i * 3 + 40), static_cast<uint8_t>(i * 7 + 1),
          static_cast<uint8_t>(250 - i)};
}

void PutU16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(Bytes& b, uint32_t v) {
  PutU16(b, v & 0xFFFF);
  PutU16(b, v >> 16);
}

// A BMP file with a 40-byte header, a full colour table and `codes` as its
// pixel data; `gap` bytes lie between the table and the data.
Bytes RunLengthBmp(uint16_t bits, int32_t width, int32_t height, const Bytes& codes,
                   uint32_t gap = 0, uint32_t compression = 0) {
  if (compression == 0) compression = bits == 8 ? 1 : 2;
  const uint32_t colors = 1u << bits;
  const uint32_t offset = 14 + 40 + 4 * colors + gap;
  Bytes b = {'B', 'M'};
  PutU32(b, offset + static_cast<uint32_t>(codes.size()));
  PutU32(b, 0);
  PutU32(b, offset);
  PutU32(b, 40);
  PutU32(b, static_cast<uint32_t>(width));
  PutU32(b, static_cast<uint32_t>(height));
  PutU16(b, 1);
  PutU16(b, bits);
  PutU32(b, compression);
  PutU32(b, static_cast<uint32_t>(codes.size()));
  for (int i = 0; i < 4; ++i) PutU32(b, 0);
  for (uint32_t i = 0; i < colors; ++i) {
    const TRGB c = TableColor(static_cast<int>(i));
    b.insert(b.end(), {c.blue, c.green, c.red, 0});
  }
  b.insert(b.end(), gap, 0xEE);
  b.insert(b.end(), codes.begin(), codes.end());
  return b;
}

std::unique_ptr<TBitmap> Read(const Bytes& file) {
  return test::LoadBytes<TBitmap>(file);
}

// Pixel indices of image row y, whatever the layout.
Bytes Indices(const TBitmap& bitmap, int32_t y) {
  const uint8_t* row = bitmap.RowAddress(y);
  Bytes out;
  for (int32_t x = 0; x < bitmap.ImageWidth(); ++x) {
    out.push_back(bitmap.BitsPerPixel() == 8
                      ? row[x]
                      : static_cast<uint8_t>((row[x / 2] >> (x % 2 ? 0 : 4)) & 15));
  }
  return out;
}

struct CodeCase {
  const char* name;
  uint16_t bits;
  int32_t width;
  int32_t height;  // the file's: negative for top-down
  Bytes codes;
  Rows rows;  // in the order the codes fill them: bottom row first unless top-down
  // ImageMagick wraps runs past a row's end into the next row, reads
  // top-down codes as bottom-up, and fails on an absolute run cut short.
  bool imageMagickAgrees = true;
};

const CodeCase kCodeCases[] = {
    {"RLE8 runs, absolute run with padding, end of line, end of picture",
     8,
     5,
     2,
     {2, 9, 0, 3, 1, 2, 3, 0, 0, 0, 5, 4, 0, 1},
     {{9, 9, 1, 2, 3}, {4, 4, 4, 4, 4}}},
    {"RLE8 top-down: the first row is the top one",
     8,
     3,
     -2,
     {3, 7, 0, 0, 1, 8, 0, 1},
     {{7, 7, 7}, {8, 0, 0}},
     false},
    {"RLE8 delta skips pixels and rows, which stay index 0",
     8,
     4,
     3,
     {1, 3, 0, 2, 1, 1, 1, 7, 0, 1},
     {{3, 0, 0, 0}, {0, 0, 7, 0}, {0, 0, 0, 0}}},
    {"RLE8 end of picture early: the rest is index 0",
     8,
     3,
     3,
     {2, 5, 0, 1, 3, 6},
     {{5, 5, 0}, {0, 0, 0}, {0, 0, 0}}},
    {"RLE8 runs past the row end are cut, not wrapped",
     8,
     3,
     2,
     {2, 1, 5, 2, 0, 3, 7, 8, 9, 0, 0, 0, 1, 4},
     {{1, 1, 2}, {4, 0, 0}},
     false},
    {"RLE8 data ending inside an absolute run keeps what is there",
     8,
     4,
     1,
     {0, 4, 1, 2},
     {{1, 2, 0, 0}},
     false},
    {"RLE8 delta past the last row ends the picture",
     8,
     2,
     2,
     {1, 6, 0, 2, 0, 9, 1, 5},
     {{6, 0}, {0, 0}}},
    {"RLE8 without any end code", 8, 2, 2, {2, 3, 2, 4}, {{3, 3}, {0, 0}}, false},
    {"RLE4 runs alternate the two nibbles, odd absolute runs pad to a word",
     4,
     5,
     2,
     {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 0},
     {{1, 2, 1, 2, 1}, {3, 4, 5, 0, 0}}},
    {"RLE4 absolute run of 5 takes three bytes and a pad byte",
     4,
     6,
     1,
     {0, 5, 0xAB, 0xCD, 0xEF, 0, 1, 0x77, 0, 1},
     {{10, 11, 12, 13, 14, 7}}},
    {"RLE4 delta and a run cut at the row end",
     4,
     3,
     2,
     {0, 2, 1, 0, 4, 0x9A, 0, 0, 1, 0xF0},
     {{0, 9, 10}, {15, 0, 0}},
     false},
};

TEST(BmpRunLength, CodesFillTheRowsTheyName) {
  for (const CodeCase& c : kCodeCases) {
    SCOPED_TRACE(c.name);
    const auto bitmap = Read(RunLengthBmp(c.bits, c.width, c.height, c.codes));
    ASSERT_EQ(bitmap->Layout(), c.bits == 8 ? PixelLayout::Bits8 : PixelLayout::Bits4);
    ASSERT_EQ(bitmap->ImageHeight(), static_cast<int32_t>(c.rows.size()));
    const bool topDown = c.height < 0;
    for (size_t i = 0; i < c.rows.size(); ++i) {
      const auto y = static_cast<int32_t>(topDown ? i : c.rows.size() - 1 - i);
      EXPECT_EQ(Indices(*bitmap, y), c.rows[i]) << "file row " << i;
    }
  }
}

TEST(BmpRunLength, AgreesWithImageMagickOnHandMadeCodes) {
  // ImageMagick handles deltas and early ends as the format has them (the
  // Pillow here does not); it reads one code past the end, so two spare bytes
  // follow.
  const std::string dir = test::MakeTempDir();
  for (const CodeCase& c : kCodeCases) {
    if (!c.imageMagickAgrees) continue;
    SCOPED_TRACE(c.name);
    Bytes codes = c.codes;
    codes.insert(codes.end(), {0, 0});
    const std::string path = dir + "/codes.bmp";
    test::WriteFileBytes(path, RunLengthBmp(c.bits, c.width, c.height, codes));
    TBitmap bitmap;
    bitmap.LoadFile(path);
    const auto reference = test::ImageMagickPixels(path);
    ASSERT_TRUE(reference.has_value());
    EXPECT_EQ(test::ComparePictures(*reference, test::BitmapPixels(bitmap), 0), "");
  }
}

TEST(BmpRunLength, ImageMagicksRle8FilesShowAsPillowShowsThem) {
  const std::string dir = test::MakeTempDir();
  for (const auto& [width, height] : {std::pair{37, 23}, std::pair{300, 5}, std::pair{1, 40}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const std::string png = test::MakeFixture(dir, "rgb", width, height);
    const std::string bmp = dir + "/rle8.bmp";
    ASSERT_TRUE(test::RunTool("/usr/bin/convert " + test::Quoted(png) +
                              " -colors 200 -compress RLE bmp3:" + test::Quoted(bmp)));
    const Bytes file = test::ReadFileBytes(bmp);
    ASSERT_EQ(file[30], 1) << "not RLE8";
    TBitmap bitmap;
    bitmap.LoadFile(bmp);
    EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits8);
    test::ExpectReferencePixels(bmp, bitmap);
  }
}

TEST(BmpRunLength, SuiteFilesShowAsTheReferencesShowThem) {
  struct Case {
    const char* file;
    PixelLayout layout;
    bool pillow;  // else ImageMagick: Pillow here mishandles deltas and odd RLE4 runs
  };
  const Case cases[] = {
      {"g/pal4rle.bmp", PixelLayout::Bits4, false},
      {"g/pal8rle.bmp", PixelLayout::Bits8, true},
      {"b/rletopdown.bmp", PixelLayout::Bits8, true},
      {"q/pal4rletrns.bmp", PixelLayout::Bits4, false},
      {"q/pal8rletrns.bmp", PixelLayout::Bits8, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = test::TestData(std::string("bmp/bmpsuite/") + c.file);
    TBitmap bitmap;
    bitmap.LoadFile(path);
    EXPECT_EQ(bitmap.Layout(), c.layout);
    if (c.pillow) {
      test::ExpectReferencePixels(path, bitmap);
      continue;
    }
    const auto reference = test::ImageMagickPixels(path);
    ASSERT_TRUE(reference.has_value());
    EXPECT_EQ(test::ComparePictures(*reference, test::BitmapPixels(bitmap), 0), "");
  }
}

TEST(BmpRunLength, DataOffsetIsHonoured) {
  const CodeCase& c = kCodeCases[0];
  const auto plain = Read(RunLengthBmp(c.bits, c.width, c.height, c.codes));
  const auto gapped = Read(RunLengthBmp(c.bits, c.width, c.height, c.codes, 6));
  EXPECT_EQ(test::StorageBytes(*gapped), test::StorageBytes(*plain));
}

TEST(BmpRunLength, WrittenBackAsAnUncompressedFileOfTheSamePixels) {
  const CodeCase& c = kCodeCases[8];  // RLE4
  const auto bitmap = Read(RunLengthBmp(c.bits, c.width, c.height, c.codes));
  TMemoryStream out;
  bitmap->WriteToStream(out);
  const Bytes written = out.Bytes();
  EXPECT_EQ(written[30], 0) << "compression";
  EXPECT_EQ(written[28], 4) << "bits";
  const auto again = Read(written);
  EXPECT_EQ(again->Layout(), PixelLayout::Bits4);
  EXPECT_EQ(test::StorageBytes(*again), test::StorageBytes(*bitmap));
  EXPECT_EQ(again->ColorTable(), bitmap->ColorTable());
}

TEST(BmpRunLength, BadFilesFailClearlyOrLoadWhatTheyHold) {
  // Codes for another bit count; a few bytes claiming a huge picture.
  EXPECT_EQ(test::FailureOf([] {
              Read(RunLengthBmp(4, 2, 2, {0, 1}, 0, 1));
            }),
            "Stream read error");
  EXPECT_EQ(test::FailureOf([] {
              Read(RunLengthBmp(8, 2, 2, {0, 1}, 0, 2));
            }),
            "Stream read error");
  EXPECT_EQ(test::FailureOf([] { Read(RunLengthBmp(8, 30000, 30000, Bytes(64, 0))); }),
            "Stream read error");
  // Garbage codes end at the data's end, whatever they say.
  Bytes garbage;
  for (int i = 0; i < 4000; ++i) garbage.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
  for (uint16_t bits : {4, 8}) {
    const auto bitmap = Read(RunLengthBmp(bits, 61, 47, garbage));
    EXPECT_EQ(bitmap->ImageWidth(), 61);
    test::BitmapPixels(*bitmap);
  }
}

}  // namespace
}  // namespace quorvex
