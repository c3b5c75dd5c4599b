#include <gtest/gtest.h>

#include <filesystem>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

// Builds BMP data field by field.
struct BmpBuilder {
  uint32_t headerSize = 40;
  int32_t width = 1;
  int32_t height = 1;
  uint16_t planes = 1;
  uint16_t bits = 24;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  uint32_t colorsUsed = 0;
  std::vector<uint32_t> masks;  // written after a 40-byte header
  std::vector<uint8_t> table;   // raw colour-table bytes
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> headerTail;  // bytes past the first 40 of a longer header

  std::vector<uint8_t> Bytes() const {
    TMemoryStream s;
    s.WriteBuffer("BM", 2);
    s.WriteU32LE(0);
    s.WriteU32LE(0);
    s.WriteU32LE(0);
    s.WriteU32LE(headerSize);
    if (headerSize == 12) {
      s.WriteU16LE(static_cast<uint16_t>(width));
      s.WriteU16LE(static_cast<uint16_t>(height));
      s.WriteU16LE(planes);
      s.WriteU16LE(bits);
    } else {
      s.WriteU32LE(static_cast<uint32_t>(width));
      s.WriteU32LE(static_cast<uint32_t>(height));
      s.WriteU16LE(planes);
      s.WriteU16LE(bits);
      s.WriteU32LE(compression);
      s.WriteU32LE(sizeImage);
      s.WriteU32LE(2835);
      s.WriteU32LE(2835);
      s.WriteU32LE(colorsUsed);
      s.WriteU32LE(0);
      s.WriteBuffer(headerTail.data(), headerTail.size());
    }
    for (uint32_t m : masks) s.WriteU32LE(m);
    s.WriteBuffer(table.data(), table.size());
    s.WriteBuffer(pixels.data(), pixels.size());
    return s.Bytes();
  }
};

void Read(TBitmap& bitmap, const std::vector<uint8_t>& bytes) {
  TMemoryStream stream(bytes);
  bitmap.ReadFromStream(stream);
}

std::string ReadFailure(const std::vector<uint8_t>& bytes) {
  TBitmap bitmap;
  bitmap.SetLayout(PixelLayout::Bits8);
  bitmap.SetImageWidth(2);
  bitmap.SetImageHeight(2);
  try {
    Read(bitmap, bytes);
  } catch (const Exception& e) {
    // A failed read leaves the bitmap as it was.
    EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits8);
    EXPECT_EQ(bitmap.ImageWidth(), 2);
    return e.Message();
  }
  return "loaded";
}

std::vector<uint8_t> Written(const TBitmap& bitmap) {
  TMemoryStream stream;
  bitmap.WriteToStream(stream);
  return stream.Bytes();
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

TEST(BmpWriter, FileSizesAndOffsetsOfTheSystemsOwnBitmaps) {
  const struct {
    PixelLayout layout;
    int32_t width, height;
    size_t fileSize, pixelOffset;
    uint16_t bits;
    uint32_t compression, colorsUsed;
  } cases[] = {
      {PixelLayout::Bits8, 2, 2, 1086, 1078, 8, 0, 256},
      {PixelLayout::Bits24, 1, 1, 58, 54, 24, 0, 0},
      {PixelLayout::Bits16, 3, 1, 74, 66, 16, 3, 0},
      {PixelLayout::Bits1, 1, 1, 66, 62, 1, 0, 2},
      {PixelLayout::Bits4, 3, 2, 126, 118, 4, 0, 16},
      {PixelLayout::Bits15, 1, 1, 58, 54, 16, 0, 0},
      {PixelLayout::Bits32, 2, 1, 62, 54, 32, 0, 0},
  };
  for (const auto& c : cases) {
    TBitmap bitmap;
    bitmap.SetLayout(c.layout);
    bitmap.SetImageWidth(c.width);
    bitmap.SetImageHeight(c.height);
    const auto file = Written(bitmap);
    SCOPED_TRACE(PixelLayoutName(c.layout));
    ASSERT_EQ(file.size(), c.fileSize);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32(file, 2), c.fileSize);
    EXPECT_EQ(U32(file, 6), 0u);
    EXPECT_EQ(U32(file, 10), c.pixelOffset);
    EXPECT_EQ(U32(file, 14), 40u);
    EXPECT_EQ(U32(file, 18), static_cast<uint32_t>(c.width));
    EXPECT_EQ(U32(file, 22), static_cast<uint32_t>(c.height));
    EXPECT_EQ(file[26], 1);
    EXPECT_EQ(file[28], c.bits);
    EXPECT_EQ(U32(file, 30), c.compression);
    EXPECT_EQ(U32(file, 34), c.fileSize - c.pixelOffset);
    EXPECT_EQ(U32(file, 38), 0u);
    EXPECT_EQ(U32(file, 42), 0u);
    EXPECT_EQ(U32(file, 46), c.colorsUsed);
    EXPECT_EQ(U32(file, 50), 0u);
    if (c.layout == PixelLayout::Bits16) {
      EXPECT_EQ(U32(file, 54), 0xF800u);
      EXPECT_EQ(U32(file, 58), 0x07E0u);
      EXPECT_EQ(U32(file, 62), 0x001Fu);
    }
  }
}

TEST(BmpWriter, EmptyBitmapWritesNothingAndSavesAZeroByteFile) {
  TBitmap empty;
  EXPECT_TRUE(Written(empty).empty());
  const std::string dir = test::MakeTempDir();
  const std::string path = dir + "/empty.bmp";
  empty.SaveFile(path);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  std::filesystem::remove_all(dir);
}

TEST(BmpWriter, PaletteAboveEightBitsBecomesTheColourTable) {
  TBitmap bitmap;
  bitmap.SetLayout(PixelLayout::Bits16);
  bitmap.SetImageWidth(1);
  bitmap.SetImageHeight(1);
  bitmap.ApplyPalette(TPalette{{1, 2, 3}, {4, 5, 6}});
  const auto file = Written(bitmap);
  ASSERT_EQ(file.size(), 14u + 52 + 8 + 4);
  EXPECT_EQ(U32(file, 46), 2u);
  EXPECT_EQ(U32(file, 66), 0x010203u);
  EXPECT_EQ(U32(file, 70), 0x040506u);
}

TEST(BmpReader, ZeroBytesGiveAnEmptyBitmap) {
  TBitmap bitmap;
  bitmap.SetLayout(PixelLayout::Bits8);
  bitmap.SetImageWidth(2);
  bitmap.SetImageHeight(2);
  Read(bitmap, {});
  EXPECT_TRUE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.Layout(), PixelLayout::DeviceBitmap);
}

TEST(BmpReader, Failures) {
  BmpBuilder good;
  good.pixels.assign(4, 0);
  auto with = [&](auto change) {
    BmpBuilder b = good;
    change(b);
    return b.Bytes();
  };
  auto ba = good.Bytes();
  ba[1] = 'A';
  const std::pair<std::vector<uint8_t>, std::string> cases[] = {
      {ba, "Bitmap image is not valid"},
      {{'B', 'M', 0, 0}, "Stream read error"},
      {with([](BmpBuilder& b) {
         b.bits = 8;
         b.compression = 1;
       }),
       "Stream read error"},
      {with([](BmpBuilder& b) { b.compression = 4; }), "Stream read error"},
      {with([](BmpBuilder& b) { b.planes = 2; }), "Bitmap image is not valid"},
      {with([](BmpBuilder& b) { b.bits = 2; }), "Bitmap image is not valid"},
      {with([](BmpBuilder& b) { b.width = 0; }), "Bitmap image is not valid"},
      {with([](BmpBuilder& b) { b.width = -3; }), "Bitmap image is not valid"},
      {with([](BmpBuilder& b) { b.height = 0; }), "Bitmap image is not valid"},
      {with([](BmpBuilder& b) {
         b.bits = 24;
         b.compression = 3;
       }),
       "Bitmap image is not valid"},
      // Header sizes between the core header and the info header.
      {with([](BmpBuilder& b) { b.headerSize = 16; }), "Bitmap image is not valid"},
      // A header that claims more bytes than there are.
      {with([](BmpBuilder& b) { b.headerSize = 0x7FFFFFF0; }), "Stream read error"},
      // Colour table cut short; colours used far beyond the data.
      {with([](BmpBuilder& b) {
         b.bits = 8;
         b.table.assign(100, 0);
         b.pixels.clear();
       }),
       "Stream read error"},
      {with([](BmpBuilder& b) { b.colorsUsed = 0xFFFFFFFF; }), "Stream read error"},
      {with([](BmpBuilder& b) {
         b.bits = 16;
         b.compression = 3;
         b.pixels.clear();
       }),
       "Stream read error"},
      // Storage that cannot be had.
      {with([](BmpBuilder& b) {
         b.width = 0x7FFFFFFF;
         b.height = 0x7FFFFFFF;
       }),
       "Out of system resources"},
      {with([](BmpBuilder& b) {
         b.bits = 32;
         b.width = 16385;
         b.height = 16384;
       }),
       "Out of system resources"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(ReadFailure(cases[i].first), cases[i].second) << "case " << i;
  }
}

TEST(BmpReader, LayoutsFromBitsCompressionAndMasks) {
  const struct {
    uint16_t bits;
    uint32_t compression;
    std::vector<uint32_t> masks;
    PixelLayout layout;
  } cases[] = {
      {1, 0, {}, PixelLayout::Bits1},
      {4, 0, {}, PixelLayout::Bits4},
      {8, 0, {}, PixelLayout::Bits8},
      {16, 0, {}, PixelLayout::Bits15},
      {16, 3, {0xF800, 0x07E0, 0x001F}, PixelLayout::Bits16},
      {16, 3, {0x7C00, 0x03E0, 0x001F}, PixelLayout::CustomBits},
      {24, 0, {}, PixelLayout::Bits24},
      {32, 0, {}, PixelLayout::Bits32},
      {32, 3, {0xFF0000, 0xFF00, 0xFF}, PixelLayout::CustomBits},
  };
  for (const auto& c : cases) {
    BmpBuilder b;
    b.width = 3;
    b.height = 2;
    b.bits = c.bits;
    b.compression = c.compression;
    b.masks = c.masks;
    if (c.bits <= 8) b.table.assign(4u << c.bits, 0);
    b.pixels.assign(RowStride(3, c.bits) * 2, 0x5A);
    TBitmap bitmap;
    Read(bitmap, b.Bytes());
    EXPECT_EQ(bitmap.Layout(), c.layout) << c.bits << " bits, compression " << c.compression;
    EXPECT_EQ(test::StorageBytes(bitmap), b.pixels);
    if (!c.masks.empty()) {
      EXPECT_EQ(bitmap.Masks(), (std::array<uint32_t, 3>{c.masks[0], c.masks[1], c.masks[2]}));
    }
  }
}

TEST(BmpReader, MasksInsideALongerHeader) {
  BmpBuilder b;
  b.headerSize = 108;
  b.bits = 16;
  b.compression = 3;
  b.headerTail.assign(68, 0);
  const uint32_t masks[] = {0xF800, 0x07E0, 0x001F};
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 4; ++k) b.headerTail[4 * i + k] = static_cast<uint8_t>(masks[i] >> (8 * k));
  b.pixels = {0x1F, 0x00, 0, 0};
  TBitmap bitmap;
  Read(bitmap, b.Bytes());
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits16);
  EXPECT_EQ(bitmap.PixelColor(0, 0), 0x0000FFu);
}

TEST(BmpReader, CoreHeaderHasThreeByteEntriesAndUnsignedSizes) {
  BmpBuilder b;
  b.headerSize = 12;
  b.width = 40000;
  b.height = 1;
  b.bits = 1;
  b.table = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
  b.pixels.assign(RowStride(40000, 1), 0);
  b.pixels[0] = 0x40;  // second pixel takes entry 1
  TBitmap bitmap;
  Read(bitmap, b.Bytes());
  EXPECT_EQ(bitmap.ImageWidth(), 40000);
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits1);
  EXPECT_EQ(bitmap.PixelColor(0, 0), 0x302010u);
  EXPECT_EQ(bitmap.PixelColor(1, 0), 0x605040u);
  // Written back, the entries are four bytes wide.
  const auto file = Written(bitmap);
  EXPECT_EQ(U32(file, 54), 0x302010u);
  EXPECT_EQ(U32(file, 58), 0x605040u);
}

TEST(BmpReader, ShortPixelDataLoadsAndTheRestIsZero) {
  BmpBuilder b;
  b.width = 2;
  b.height = 2;
  b.pixels = {1, 2, 3, 4, 5};
  TBitmap bitmap;
  Read(bitmap, b.Bytes());
  const auto storage = test::StorageBytes(bitmap);  // top row first: storage row 1
  EXPECT_EQ(std::vector<uint8_t>(storage.begin() + 8, storage.end()),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 0, 0, 0}));
}

TEST(BmpReader, PixelDataStartsAtTheOffsetOnlyWhenItLiesInTheFilePastTheHeaders) {
  BmpBuilder b;
  b.pixels = {9, 8, 7, 0, 6, 5, 4, 0};  // 62 bytes in all; the table ends at 54
  const std::pair<uint8_t, uint32_t> cases[] = {
      {0, 0x070809u},    // not set
      {20, 0x070809u},   // inside the headers
      {54, 0x070809u},   // where the pixels follow anyway
      {58, 0x040506u},   // past a gap
      {62, 0x070809u},   // the end of the file
      {200, 0x070809u},  // past it
  };
  for (const auto& [offset, color] : cases) {
    auto bytes = b.Bytes();
    bytes[10] = offset;
    TBitmap bitmap;
    Read(bitmap, bytes);
    EXPECT_EQ(bitmap.PixelColor(0, 0), color) << int{offset};
  }
}

TEST(BmpReader, CoreHeaderTableEndsAtTheDataOffset) {
  BmpBuilder b;
  b.headerSize = 12;
  b.bits = 8;
  b.table = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};  // two entries, not 256
  b.pixels = {1, 0, 0, 0};
  auto bytes = b.Bytes();
  bytes[10] = 14 + 12 + 6;
  TBitmap bitmap;
  Read(bitmap, bytes);
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits8);
  EXPECT_EQ(bitmap.PixelColor(0, 0), 0x605040u);
  // Without the offset the full table is taken and runs past the file.
  EXPECT_EQ(ReadFailure(b.Bytes()), "Stream read error");
}

TEST(BmpReader, ImageSizeBeyondTheStorageReadsNoMoreThanTheStorage) {
  BmpBuilder b;
  b.sizeImage = 1000;
  b.pixels.assign(64, 0xAB);
  TBitmap bitmap;
  Read(bitmap, b.Bytes());
  EXPECT_EQ(test::StorageBytes(bitmap), std::vector<uint8_t>(4, 0xAB));
}

TEST(BmpReader, MoreThan256ColoursKeeps256AndSkipsTheRest) {
  BmpBuilder b;
  b.bits = 8;
  b.colorsUsed = 300;
  for (int i = 0; i < 300; ++i) b.table.insert(b.table.end(), {static_cast<uint8_t>(i), 0, 0, 0});
  b.pixels = {255, 0, 0, 0};
  TBitmap bitmap;
  Read(bitmap, b.Bytes());
  EXPECT_EQ(bitmap.QueryPalette()->size(), 256u);
  EXPECT_EQ(bitmap.PixelColor(0, 0), 0x0000FFu);
  EXPECT_EQ(test::StorageBytes(bitmap), b.pixels);
}

TEST(BmpReader, TopDownRowsAndTheirRoundTrip) {
  BmpBuilder b;
  b.height = -2;
  b.pixels = {1, 1, 1, 0, 2, 2, 2, 0};
  TBitmap bitmap;
  Read(bitmap, b.Bytes());
  EXPECT_TRUE(bitmap.IsTopDown());
  EXPECT_EQ(bitmap.RowAddress(0)[0], 1);  // the first stored row is the top row
  EXPECT_EQ(bitmap.RowAddress(1)[0], 2);
  TBitmap again;
  Read(again, Written(bitmap));
  EXPECT_EQ(test::StorageBytes(again), test::StorageBytes(bitmap));
}

TEST(BmpReader, ColourTableOfADirectColourFileBecomesItsPalette) {
  BmpBuilder b;
  b.colorsUsed = 2;
  b.table = {1, 2, 3, 0, 4, 5, 6, 0};
  b.pixels.assign(4, 0);
  TBitmap bitmap;
  Read(bitmap, b.Bytes());
  EXPECT_EQ(bitmap.QueryPalette(), (TPalette{{3, 2, 1}, {6, 5, 4}}));
  EXPECT_EQ(Written(bitmap).size(), 14u + 40 + 8 + 4);
}

TEST(BmpFiles, LoadAndSaveFailuresNameTheFile) {
  TBitmap bitmap;
  try {
    bitmap.LoadFile("/nonexistent/x.bmp");
    ADD_FAILURE();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file /nonexistent/x.bmp");
  }
  try {
    bitmap.SaveFile("/nonexistent/x.bmp");
    ADD_FAILURE();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file /nonexistent/x.bmp");
  }
}

}  // namespace
}  // namespace quorvex
