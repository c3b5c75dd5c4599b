// TPNGGraphic on small files built here: layouts and pixel bytes, gamma,
// chunk handling, image data split, cut short or corrupt, interlacing, and
// every failure message.
#include "picture/readers/png_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "picture/canvas.h"
#include "picture/exceptions.h"
#include "picture/readers/png_test_files.h"
#include "picture/readers/reader_test_support.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

using test::Bytes;
using test::Deflate;
using test::Iend;
using test::Ihdr;
using test::PngChunk;
using test::PngFile;
using test::Row;

const auto Load = &test::LoadBytes<TPNGGraphic>;

// The message of the failure, or "" when the file loads.
template <typename E = Exception>
std::string Failure(const Bytes& file) {
  try {
    Load(file);
  } catch (const Exception& e) {
    const std::string message = e.Message();
    if (dynamic_cast<const E*>(&e) == nullptr) return "other exception class: " + message;
    return message;
  }
  return "";
}

// A one-row file from plain sample bytes.
Bytes OneRow(uint32_t width, uint8_t depth, uint8_t colorType, const Bytes& row,
             const std::vector<Bytes>& before = {}) {
  Bytes file = PngFile({Ihdr(width, 1, depth, colorType)});
  for (const Bytes& chunk : before) file.insert(file.end(), chunk.begin(), chunk.end());
  const Bytes idat = PngChunk("IDAT", Deflate(test::UnfilteredRows({row})));
  file.insert(file.end(), idat.begin(), idat.end());
  const Bytes iend = Iend();
  file.insert(file.end(), iend.begin(), iend.end());
  return file;
}

test::SampleImage RandomImage(uint32_t width, uint32_t height, unsigned depth, unsigned channels,
                              unsigned seed) {
  std::mt19937 random(seed);
  test::SampleImage image{width, height, depth, channels, {}};
  const uint32_t top = depth == 16 ? 65535u : (1u << depth) - 1;
  image.samples.resize(size_t{width} * height * channels);
  for (auto& s : image.samples) s = static_cast<uint16_t>(random() % (top + 1));
  return image;
}

Bytes ImageFile(const test::SampleImage& image, uint8_t colorType, bool interlaced,
                size_t idatPiece = 0, const std::vector<Bytes>& before = {}) {
  Bytes file = PngFile({Ihdr(image.width, image.height, static_cast<uint8_t>(image.depth),
                             colorType, interlaced ? 1 : 0)});
  for (const Bytes& chunk : before) file.insert(file.end(), chunk.begin(), chunk.end());
  const Bytes compressed = Deflate(image.RawData(interlaced));
  const Bytes idat =
      idatPiece ? test::SplitIdat(compressed, idatPiece) : PngChunk("IDAT", compressed);
  file.insert(file.end(), idat.begin(), idat.end());
  const Bytes iend = Iend();
  file.insert(file.end(), iend.begin(), iend.end());
  return file;
}

Bytes Gray16Palette() {
  Bytes plte;
  for (int i = 0; i < 4; ++i) plte.insert(plte.end(), {uint8_t(10 * i), uint8_t(20 * i), 7});
  return plte;
}

TEST(PngReader, LayoutsAndPixelBytesByColourTypeAndDepth) {
  struct Case {
    const char* name;
    Bytes file;
    PixelLayout layout;
    Bytes storage;       // the first bytes of row 0
    size_t paletteSize;  // 0: not checked
    std::vector<std::pair<size_t, TRGB>> entries;
  };
  const std::vector<std::pair<size_t, TRGB>> ramp16 = {{0, {0, 0, 0}},
                                                       {1, {17, 17, 17}},
                                                       {5, {85, 85, 85}},
                                                       {10, {170, 170, 170}},
                                                       {15, {255, 255, 255}}};
  // Entry 5 v of a spread 2-bit palette holds colour v.
  const std::vector<std::pair<size_t, TRGB>> spread = {
      {0, {0, 0, 7}}, {5, {10, 20, 7}}, {10, {20, 40, 7}}, {15, {30, 60, 7}}};
  const Case cases[] = {
      {"8-bit RGB becomes blue, green, red",
       OneRow(2, 8, 2, {10, 20, 30, 40, 50, 60}),
       PixelLayout::Bits24,
       {30, 20, 10, 60, 50, 40},
       0,
       {}},
      {"16-bit RGB scales by 255 / 65535",
       OneRow(1, 16, 2, {0xFF, 0xFF, 0x80, 0x00, 0x01, 0x01}),
       PixelLayout::Bits24,
       {1, 127, 255},
       0,
       {}},
      {"16-bit RGBA keeps alpha, scaled",
       OneRow(1, 16, 6, {0xFF, 0xFF, 0x80, 0x00, 0x01, 0x01, 0x80, 0x00}),
       PixelLayout::Bits32,
       {1, 127, 255, 127},
       0,
       {}},
      {"8-bit RGBA", OneRow(1, 8, 6, {1, 2, 3, 4}), PixelLayout::Bits32, {3, 2, 1, 4}, 0, {}},
      {"1-bit gray",
       OneRow(10, 1, 0, {0xA5, 0xC0}),
       PixelLayout::Bits1,
       {0xA5, 0xC0},
       2,
       {{0, {0, 0, 0}}, {1, {255, 255, 255}}}},
      {"2-bit gray becomes 5 v",
       OneRow(4, 2, 0, {0x1B}),
       PixelLayout::Bits4,
       {0x05, 0xAF},
       16,
       ramp16},
      {"4-bit gray", OneRow(3, 4, 0, {0x3C, 0xF0}), PixelLayout::Bits4, {0x3C}, 16, ramp16},
      {"8-bit gray", OneRow(2, 8, 0, {0, 200}), PixelLayout::Bits8, {0, 200}, 0, {}},
      {"16-bit gray scales",
       OneRow(2, 16, 0, {0x80, 0x00, 0xFF, 0xFE}),
       PixelLayout::Bits8,
       {127, 254},
       0,
       {}},
      {"8-bit gray + alpha drops alpha",
       OneRow(2, 8, 4, {100, 7, 200, 9}),
       PixelLayout::Bits8,
       {100, 200},
       0,
       {}},
      {"16-bit gray + alpha",
       OneRow(1, 16, 4, {0xFF, 0xFF, 0x00, 0x01}),
       PixelLayout::Bits8,
       {255},
       0,
       {}},
      {"2-bit indexed spreads to 16 entries",
       OneRow(4, 2, 3, {0x1B}, {PngChunk("PLTE", Gray16Palette())}),
       PixelLayout::Bits4,
       {0x05, 0xAF},
       16,
       spread},
      {"8-bit indexed",
       OneRow(3, 8, 3, {2, 0, 1}, {PngChunk("PLTE", Gray16Palette())}),
       PixelLayout::Bits8,
       {2, 0, 1},
       0,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto png = Load(c.file);
    EXPECT_EQ(png->Layout(), c.layout);
    EXPECT_EQ(Row(*png, 0, c.storage.size()), c.storage);
    if (c.paletteSize != 0) {
      const auto palette = png->QueryPalette();
      ASSERT_TRUE(palette.has_value());
      ASSERT_EQ(palette->size(), c.paletteSize);
      for (const auto& [index, colour] : c.entries) {
        EXPECT_EQ((*palette)[index], colour) << "entry " << index;
      }
    }
  }
  // Gray ramps of 256 levels for 8-bit gray and gray + alpha.
  for (const Bytes& file : {OneRow(1, 8, 0, {1}), OneRow(1, 8, 4, {1, 2})}) {
    const auto palette = Load(file)->QueryPalette();
    ASSERT_TRUE(palette && palette->size() == 256);
    EXPECT_EQ((*palette)[77], (TRGB{77, 77, 77}));
  }
}

TEST(PngReader, GammaChunkDrivesTheConvertersTable) {
  Bytes ramp;
  for (int v = 0; v < 256; ++v) ramp.insert(ramp.end(), {uint8_t(v), uint8_t(v), uint8_t(v)});
  auto gama = [](uint32_t value) {
    Bytes d;
    test::PutU32BE(d, value);
    return PngChunk("gAMA", d);
  };
  // A file gamma of 1 / 2.2 undoes the display gamma.
  const auto neutral = Load(OneRow(256, 8, 2, ramp, {gama(45455)}));
  const Bytes neutralRow = Row(*neutral, 0, 768);
  for (int v = 0; v < 256; ++v) EXPECT_NEAR(neutralRow[3 * v], v, 1) << v;
  // A file gamma of 1 brightens: v becomes (v / 255)^(1 / 2.2).
  const auto linear = Load(OneRow(256, 8, 2, ramp, {gama(100000)}));
  const Bytes linearRow = Row(*linear, 0, 768);
  for (int v = 0; v < 256; ++v) {
    const double expected = std::nearbyint(std::pow(v / 255.0, 1 / 2.2) * 255);
    EXPECT_NEAR(linearRow[3 * v], expected, 1) << v;
    EXPECT_EQ(linearRow[3 * v], linearRow[3 * v + 2]) << v;
  }
  EXPECT_EQ(linearRow[3 * 128], 186);
  // Alpha is never corrected; palettes and gray ramps are.
  EXPECT_EQ(Row(*Load(OneRow(1, 8, 6, {128, 128, 128, 128}, {gama(100000)})), 0, 4),
            (Bytes{186, 186, 186, 128}));
  const auto indexed =
      Load(OneRow(1, 8, 3, {1}, {gama(100000), PngChunk("PLTE", {0, 0, 0, 128, 64, 255})}));
  EXPECT_EQ((*indexed->QueryPalette())[1], (TRGB{186, 136, 255}));
  const auto gray = Load(OneRow(1, 8, 0, {128}, {gama(100000)}));
  EXPECT_EQ(Row(*gray, 0, 1), Bytes{128});
  EXPECT_EQ((*gray->QueryPalette())[128], (TRGB{186, 186, 186}));
}

TEST(PngReader, ChunkTypesIgnoreCaseAndUnknownChunksBySafety) {
  const Bytes pixels = Deflate(test::UnfilteredRows({{1, 2, 3}}));
  const Bytes ihdr = Ihdr(1, 1, 8, 2);
  // "idat" is image data.
  const auto lower = Load(PngFile({ihdr, PngChunk("idat", pixels), Iend()}));
  EXPECT_EQ(Row(*lower, 0, 3), (Bytes{3, 2, 1}));
  // An unknown ancillary chunk is skipped, without a CRC check, before and
  // after the image data.
  const Bytes ancillary = PngChunk("quRk", {1, 2, 3}, /*corruptCrc=*/true);
  EXPECT_EQ(Failure(PngFile({ihdr, ancillary, PngChunk("IDAT", pixels), ancillary, Iend()})), "");
  // An unknown critical one fails, wherever it is.
  const char* critical = "Cannot load PNG image. Unexpected but critical chunk detected.";
  EXPECT_EQ(Failure<EInvalidGraphic>(
                PngFile({ihdr, PngChunk("QURK", {}), PngChunk("IDAT", pixels), Iend()})),
            critical);
  EXPECT_EQ(Failure<EInvalidGraphic>(
                PngFile({ihdr, PngChunk("IDAT", pixels), PngChunk("QURK", {}), Iend()})),
            critical);
  // A palette after the image data is not handled any more: it is critical.
  EXPECT_EQ(Failure<EInvalidGraphic>(
                PngFile({ihdr, PngChunk("IDAT", pixels), PngChunk("PLTE", {1, 2, 3}), Iend()})),
            critical);
  // A palette for a colour image has no effect, but must still be whole.
  EXPECT_EQ(Failure(PngFile({ihdr, PngChunk("PLTE", {1, 2, 3}), PngChunk("IDAT", pixels), Iend()})),
            "");
}

TEST(PngReader, FailuresAndTheirMessages) {
  const Bytes pixels = Deflate(test::UnfilteredRows({{1, 2, 3}}));
  const Bytes idat = PngChunk("IDAT", pixels);
  const Bytes ihdr = Ihdr(1, 1, 8, 2);
  const char* invalid = "Cannot load image. Invalid or unexpected PNG image format.";
  const char* crc = "Cannot load image. CRC error found in PNG file.";
  const char* colour = "Invalid color format in PNG file.";
  const char* palette = "Cannot load image. Palette in PNG file is invalid.";

  Bytes noSignature = PngFile({ihdr, idat, Iend()});
  noSignature[1] = 'p';
  EXPECT_EQ(Failure<EInvalidGraphic>(noSignature), invalid);
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({idat, Iend()})), invalid);
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({Ihdr(0, 1, 8, 2), idat, Iend()})), invalid);
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({Ihdr(1, 0x80000000u, 8, 2), idat, Iend()})), invalid);
  // No image data at all: not an empty picture but a failure.
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({ihdr, Iend()})), invalid);

  EXPECT_EQ(Failure<EInvalidGraphic>(
                PngFile({PngChunk("IHDR", test::IhdrData(1, 1, 8, 2), true), idat, Iend()})),
            crc);
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({ihdr, PngChunk("IDAT", pixels, true), Iend()})), crc);
  EXPECT_EQ(
      Failure<EInvalidGraphic>(PngFile({ihdr, PngChunk("gAMA", {0, 0, 1, 0}, true), idat, Iend()})),
      crc);
  EXPECT_EQ(Failure<EInvalidGraphic>(
                PngFile({PngChunk("IHDR", test::IhdrData(1, 1, 8, 2, 0, 1)), idat, Iend()})),
            "Cannot load image. The compression scheme is not supported for PNG files.");

  for (auto [depth, type] : std::vector<std::pair<uint8_t, uint8_t>>{
           {8, 1}, {8, 5}, {8, 7}, {3, 0}, {16, 3}, {4, 2}, {4, 4}, {2, 6}, {0, 0}, {32, 2}}) {
    SCOPED_TRACE(::testing::Message() << "depth " << int{depth} << " type " << int{type});
    EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({Ihdr(1, 1, depth, type), idat, Iend()})), colour);
    // Chunks before the image data that depend on the depth must cope with any.
    for (const char* chunk : {"bKGD", "tRNS"}) {
      EXPECT_EQ(Failure<EInvalidGraphic>(PngFile(
                    {Ihdr(1, 1, depth, type), PngChunk(chunk, {0, 1, 0, 2, 0, 3}), idat, Iend()})),
                colour);
    }
  }
  // For an indexed image the palette sets the colours up, so it fails there.
  EXPECT_EQ(
      Failure<EInvalidGraphic>(PngFile({Ihdr(1, 1, 16, 3), PngChunk("PLTE", {1, 2, 3}), Iend()})),
      colour);

  EXPECT_EQ(Failure<EInvalidGraphic>(
                PngFile({Ihdr(1, 1, 8, 3), PngChunk("PLTE", Bytes(767, 1)), idat, Iend()})),
            palette);
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({ihdr, PngChunk("PLTE", Bytes(4, 1)), idat, Iend()})),
            palette);
  // 768 bytes are 256 entries; more than 256 are cut to 256.
  EXPECT_EQ(Failure(PngFile({Ihdr(1, 1, 8, 3), PngChunk("PLTE", Bytes(768, 1)),
                             PngChunk("IDAT", Deflate({0, 255})), Iend()})),
            "");
  EXPECT_EQ(Failure(PngFile({Ihdr(1, 1, 8, 3), PngChunk("PLTE", Bytes(900, 1)),
                             PngChunk("IDAT", Deflate({0, 255})), Iend()})),
            "");
}

TEST(PngReader, ShortStreamsAndHugeClaimsFailCleanly) {
  const Bytes ihdr = Ihdr(1, 1, 8, 2);
  const Bytes idat = PngChunk("IDAT", Deflate(test::UnfilteredRows({{1, 2, 3}})));
  // A chunk that announces more than the stream holds: no huge buffer.
  Bytes claim = PngFile({ihdr});
  test::PutU32BE(claim, 0xFFFFFFF0u);
  claim.insert(claim.end(), {'t', 'E', 'X', 't', 0, 0, 0, 0});
  EXPECT_EQ(Failure<EReadError>(claim), "Stream read error");
  Bytes big = PngFile({ihdr});
  test::PutU32BE(big, 0x7FFFFFF0u);
  big.insert(big.end(), {'I', 'D', 'A', 'T', 0, 0, 0, 0});
  EXPECT_EQ(Failure<EReadError>(big), "Stream read error");
  // Cut inside the image data, or before IEND.
  const Bytes whole = PngFile({ihdr, idat, Iend()});
  EXPECT_EQ(Failure<EReadError>(Bytes(whole.begin(), whole.end() - 20)), "Stream read error");
  EXPECT_EQ(Failure<EReadError>(Bytes(whole.begin(), whole.end() - 12)), "Stream read error");
  // A size whose bitmap would exceed the storage limit.
  EXPECT_EQ(Failure<EOutOfResources>(PngFile({Ihdr(60000, 60000, 8, 2), idat, Iend()})),
            "Out of system resources");
}

TEST(PngReader, ImageDataSplitOverManyChunksIncludingEmptyOnes) {
  // Sound data is inflated in one go. Followed by an IDAT chunk the image
  // does not need, it streams instead: rows of a few bytes come from the
  // read-ahead window, rows of 150 KB are inflated into the row buffer, and
  // interlaced passes of the wide image mix both.
  struct Size {
    uint32_t width, height;
    std::vector<size_t> pieces;
  };
  const Size sizes[] = {{37, 23, {1, 7, 500}}, {50000, 4, {997, 65536}}};
  for (const Size& size : sizes) {
    for (bool interlaced : {false, true}) {
      SCOPED_TRACE(::testing::Message() << size.width << (interlaced ? " interlaced" : " plain"));
      const test::SampleImage image = RandomImage(size.width, size.height, 8, 3, 11);
      const auto whole = Load(ImageFile(image, 2, interlaced));
      for (size_t piece : size.pieces) {
        const auto split = Load(ImageFile(image, 2, interlaced, piece));
        EXPECT_EQ(test::StorageBytes(*split), test::StorageBytes(*whole)) << piece;
        Bytes followed = ImageFile(image, 2, interlaced, piece);
        const Bytes unneeded = PngChunk("IDAT", {9, 9, 9});
        followed.insert(followed.end() - static_cast<long>(Iend().size()), unneeded.begin(),
                        unneeded.end());
        EXPECT_EQ(test::StorageBytes(*Load(followed)), test::StorageBytes(*whole))
            << piece << " streamed";
      }
      for (uint32_t y = 0; y < image.height; ++y) {
        for (uint32_t x = 0; x < image.width; ++x) {
          const uint8_t* p = whole->RowAddress(static_cast<int32_t>(y)) + 3 * x;
          ASSERT_EQ((Bytes{p[2], p[1], p[0]}),
                    (Bytes{uint8_t(image.At(x, y, 0)), uint8_t(image.At(x, y, 1)),
                           uint8_t(image.At(x, y, 2))}))
              << x << "," << y;
        }
      }
    }
  }
}

TEST(PngReader, InterlacedEqualsPlainForEveryFormat) {
  struct Format {
    uint8_t colorType;
    unsigned depth, channels;
  };
  const Format formats[] = {{0, 1, 1}, {0, 2, 1},  {0, 4, 1},  {0, 8, 1}, {0, 16, 1},
                            {2, 8, 3}, {2, 16, 3}, {3, 1, 1},  {3, 2, 1}, {3, 4, 1},
                            {3, 8, 1}, {4, 8, 2},  {4, 16, 2}, {6, 8, 4}, {6, 16, 4}};
  Bytes plte;
  for (int i = 0; i < 256; ++i)
    plte.insert(plte.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
  // Width 1 skips passes 2, 4 and 6; the others cover partial 8 x 8 blocks.
  const std::pair<uint32_t, uint32_t> sizes[] = {{1, 9}, {1, 1}, {13, 11}, {3, 17}};
  for (const Format& f : formats) {
    for (auto [width, height] : sizes) {
      SCOPED_TRACE(::testing::Message() << "type " << int{f.colorType} << " depth " << f.depth
                                        << " size " << width << "x" << height);
      const test::SampleImage image =
          RandomImage(width, height, f.depth, f.channels, width * 31 + f.depth);
      std::vector<Bytes> before;
      if (f.colorType == 3) before.push_back(PngChunk("PLTE", plte));
      const auto plain = Load(ImageFile(image, f.colorType, false, 0, before));
      const auto interlaced = Load(ImageFile(image, f.colorType, true, 0, before));
      EXPECT_EQ(
          test::ComparePictures(test::BitmapPixels(*plain), test::BitmapPixels(*interlaced), 0),
          "");
      // Pixel values too, not only colours: the bytes that hold pixels.
      const uint32_t bits = plain->BitsPerPixel();
      for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* a = plain->RowAddress(static_cast<int32_t>(y));
        const uint8_t* b = interlaced->RowAddress(static_cast<int32_t>(y));
        for (uint32_t x = 0; x < width; ++x) {
          const uint32_t bit = x * bits;
          const uint32_t span = bits >= 8 ? bits / 8 : 1;
          for (uint32_t k = 0; k < span; ++k) {
            uint8_t va = a[bit / 8 + k], vb = b[bit / 8 + k];
            if (bits < 8) {
              const unsigned shift = 8 - bits - bit % 8;
              va = static_cast<uint8_t>((va >> shift) & ((1u << bits) - 1));
              vb = static_cast<uint8_t>((vb >> shift) & ((1u << bits) - 1));
            }
            ASSERT_EQ(va, vb) << "pixel " << x << "," << y;
          }
        }
      }
    }
  }
}

TEST(PngReader, ImageDataEndingEarlyLoadsAndKeepsTheRowsItHas) {
  const test::SampleImage image = RandomImage(40, 40, 8, 3, 5);
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced ? "interlaced" : "plain");
    const Bytes data = Deflate(image.RawData(interlaced));
    // Half of the compressed stream, then no further IDAT chunk.
    const Bytes half(data.begin(), data.begin() + static_cast<long>(data.size() / 2));
    const Bytes file = PngFile({Ihdr(40, 40, 8, 2, interlaced), PngChunk("IDAT", half), Iend()});
    const auto png = Load(file);
    EXPECT_EQ(png->Layout(), PixelLayout::Bits24);
    if (!interlaced) {
      const auto reference = Load(ImageFile(image, 2, false));
      for (int32_t y = 0; y < 10; ++y) EXPECT_EQ(Row(*png, y, 120), Row(*reference, y, 120)) << y;
    }
  }
  // The same for rows inflated straight into the row buffer.
  const test::SampleImage wide = RandomImage(50000, 4, 8, 3, 6);
  const Bytes wideData = Deflate(wide.RawData(false));
  const auto cut =
      Load(PngFile({Ihdr(50000, 4, 8, 2),
                    PngChunk("IDAT", Bytes(wideData.begin(), wideData.begin() + 200000)), Iend()}));
  EXPECT_EQ(Row(*cut, 0, 150000), Row(*Load(ImageFile(wide, 2, false)), 0, 150000));
  // Nothing at all in the only IDAT chunk.
  EXPECT_EQ(Failure(PngFile({Ihdr(5, 5, 8, 0), PngChunk("IDAT", {}), Iend()})), "");
  // A cut 1-bit image: converting whatever the row buffers hold stays inside them.
  const test::SampleImage bits = RandomImage(77, 30, 1, 1, 9);
  const Bytes data = Deflate(bits.RawData(true));
  EXPECT_EQ(Failure(PngFile({Ihdr(77, 30, 1, 0, 1),
                             PngChunk("IDAT", Bytes(data.begin(), data.begin() + 40)), Iend()})),
            "");
}

TEST(PngReader, CompressedStreamErrors) {
  const char* extra = "Cannot load image. Extra compressed data found in PNG file.";
  const char* compression = "Cannot load image. Compression error found in PNG file.";
  const Bytes ihdr = Ihdr(2, 2, 8, 0);
  // The stream ends before the image is complete.
  EXPECT_EQ(
      Failure<EInvalidGraphic>(PngFile({ihdr, PngChunk("IDAT", Deflate({0, 1, 2, 0})), Iend()})),
      extra);
  // Bytes after the end of the stream in the same chunk.
  Bytes trailing = Deflate({0, 1, 2, 0, 3, 4});
  trailing.insert(trailing.end(), {9, 9});
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({ihdr, PngChunk("IDAT", trailing), Iend()})), extra);
  // Further IDAT chunks after the image are read and passed over.
  EXPECT_EQ(Failure(PngFile({ihdr, PngChunk("IDAT", Deflate({0, 1, 2, 0, 3, 4})),
                             PngChunk("IDAT", {9, 9, 9}), Iend()})),
            "");
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({ihdr, PngChunk("IDAT", Deflate({0, 1, 2, 0, 3, 4})),
                                              PngChunk("IDAT", {9, 9, 9}, true), Iend()})),
            "Cannot load image. CRC error found in PNG file.");
  // Not a zlib stream, a damaged block, a wrong checksum.
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({ihdr, PngChunk("IDAT", {1, 2, 3, 4}), Iend()})),
            compression);
  Bytes badBlock = Deflate({0, 1, 2, 0, 3, 4});
  badBlock[2] = 0xFF;  // block type 3 does not exist
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({ihdr, PngChunk("IDAT", badBlock), Iend()})),
            compression);
  Bytes badCheck = Deflate({0, 1, 2, 0, 3, 4});
  badCheck.back() ^= 1;
  EXPECT_EQ(Failure<EInvalidGraphic>(PngFile({ihdr, PngChunk("IDAT", badCheck), Iend()})),
            compression);
}

TEST(PngReader, TransparencyAndBackgroundChangeNoPixelBytes) {
  const Bytes row = {10, 20, 30};
  const auto plain = Load(OneRow(1, 8, 2, row));
  EXPECT_FALSE(plain->IsTransparent());
  const auto marked =
      Load(OneRow(1, 8, 2, row,
                  {PngChunk("bKGD", {0, 1, 0, 2, 0, 3}), PngChunk("tRNS", {0, 10, 0, 20, 0, 30})}));
  EXPECT_TRUE(marked->IsTransparent());
  EXPECT_EQ(marked->TransparentColor(), 0x0A141Eu);
  EXPECT_EQ(test::StorageBytes(*marked), test::StorageBytes(*plain));
  // 16-bit gray: the value as the bitmap stores it, shown through the ramp.
  const auto gray = Load(OneRow(1, 16, 0, {0x80, 0}, {PngChunk("tRNS", {0x80, 0x00})}));
  EXPECT_EQ(gray->TransparentColor(), 0x7F7F7Fu);
  // Short chunks and colour types without a transparent colour change nothing.
  EXPECT_FALSE(Load(OneRow(1, 8, 2, row, {PngChunk("tRNS", {0, 1})}))->IsTransparent());
  EXPECT_FALSE(
      Load(OneRow(1, 8, 6, {1, 2, 3, 4}, {PngChunk("tRNS", {0, 1, 0, 2, 0, 3})}))->IsTransparent());
}

TEST(PngReader, ALoadCutByAnErrorLeavesTheBackgroundAndZeroPadding) {
  // The first IDAT chunk carries the first row in a stored deflate block;
  // the second, with a wrong CRC, stops the load before the second row.
  // What the rows did not reach is the background, whatever the canvas's
  // brush, and the row padding stays zero.
  struct Case {
    const char* name;
    uint8_t depth, colorType;
    Bytes row;
    std::vector<Bytes> before;
    uint32_t background;
  };
  const Bytes plte = {9, 9, 9, 0x20, 0x40, 0x60};
  const Case cases[] = {
      {"rgb",
       8,
       2,
       {1, 2, 3, 4, 5, 6, 7, 8, 9},
       {PngChunk("bKGD", {0, 0x20, 0, 0x40, 0, 0x60})},
       0x204060},
      {"indexed", 8, 3, {0, 0, 0}, {PngChunk("PLTE", plte), PngChunk("bKGD", {1})}, 0x204060},
      {"gray, no bKGD", 1, 0, {0}, {}, 0xFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes rows = test::UnfilteredRows({c.row, c.row});
    uLongf size = compressBound(static_cast<uLong>(rows.size()));
    Bytes stored(size);
    ASSERT_EQ(compress2(stored.data(), &size, rows.data(), static_cast<uLong>(rows.size()), 0),
              Z_OK);
    stored.resize(size);
    ASSERT_EQ(stored[2], 1);  // one final stored block
    const auto firstRowEnd = static_cast<long>(2 + 5 + rows.size() / 2);
    Bytes file = PngFile({Ihdr(3, 2, c.depth, c.colorType)});
    for (const Bytes& chunk : c.before) file.insert(file.end(), chunk.begin(), chunk.end());
    for (const Bytes& chunk :
         {PngChunk("IDAT", Bytes(stored.begin(), stored.begin() + firstRowEnd)),
          PngChunk("IDAT", Bytes(stored.begin() + firstRowEnd, stored.end()), true), Iend()}) {
      file.insert(file.end(), chunk.begin(), chunk.end());
    }
    TPNGGraphic png;
    png.Surface().SetBrushColor(0xFF0000);
    TMemoryStream stream(file);
    EXPECT_THROW(png.ReadFromStream(stream), EInvalidGraphic);
    ASSERT_EQ(png.ImageHeight(), 2);
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(png.PixelColor(x, 1), c.background) << x;
    const size_t used = (size_t{3} * png.BitsPerPixel() + 7) / 8;
    for (int32_t y = 0; y < 2; ++y) {
      const std::span<uint8_t> bytes = png.RowBytes(y);
      EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<long>(used), bytes.end(), [](uint8_t b) {
        return b == 0;
      })) << y;
    }
  }
}

TEST(PngReader, ContentTestAndHeaderInfo) {
  const Bytes signature = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  TMemoryStream exact(signature);
  EXPECT_FALSE(TPNGGraphic::AcceptsStream(exact));
  Bytes nine = signature;
  nine.push_back(0);
  TMemoryStream more(nine);
  more.Seek(0);
  EXPECT_TRUE(TPNGGraphic::AcceptsStream(more));
  EXPECT_EQ(more.Position(), 0);
  nine[0] = 0x88;
  TMemoryStream wrong(nine);
  EXPECT_FALSE(TPNGGraphic::AcceptsStream(wrong));

  Bytes gama;
  test::PutU32BE(gama, 45455);
  Bytes file = {'x', 'y'};  // the header is read from the current position
  const Bytes png =
      PngFile({Ihdr(300, 200, 16, 6, 1), PngChunk("tEXt", {1, 2}), PngChunk("gAMA", gama), Iend()});
  file.insert(file.end(), png.begin(), png.end());
  TMemoryStream stream(file);
  stream.Seek(2);
  EXPECT_TRUE(TPNGGraphic::AcceptsStream(stream));
  TPNGGraphic graphic;
  ASSERT_TRUE(graphic.ReadHeaderInfo(stream, 5));
  EXPECT_EQ(stream.Position(), 2);
  const TImageProperties& p = graphic.ImageProperties();
  EXPECT_EQ(p.width, 300);
  EXPECT_EQ(p.height, 200);
  EXPECT_EQ(p.bitsPerSample, 16);
  EXPECT_EQ(p.colorScheme, ColorScheme::RGBA);
  EXPECT_TRUE(p.hasAlpha);
  EXPECT_TRUE(p.interlaced);
  EXPECT_EQ(p.compression, CompressionKind::LZ77);
  EXPECT_FLOAT_EQ(p.fileGamma, 0.45455f);

  TMemoryStream other(PngFile({PngChunk("IHDR", test::IhdrData(1, 1, 8, 4, 0, 2)), Iend()}));
  ASSERT_TRUE(graphic.ReadHeaderInfo(other, 0));
  EXPECT_EQ(graphic.ImageProperties().colorScheme, ColorScheme::GrayAlpha);
  EXPECT_EQ(graphic.ImageProperties().compression, CompressionKind::UndefinedCompression);
  EXPECT_FLOAT_EQ(graphic.ImageProperties().fileGamma, 1.0f);
  EXPECT_FALSE(graphic.ImageProperties().interlaced);
  TMemoryStream empty(PngFile({Ihdr(0, 5, 8, 0), Iend()}));
  EXPECT_FALSE(graphic.ReadHeaderInfo(empty, 0));
}

TEST(PngReader, OneReaderLoadsFileAfterFileAlike) {
  // The converter must not carry gamma or bit depths from one file to the next.
  Bytes gama;
  test::PutU32BE(gama, 100000);
  const Bytes files[] = {
      OneRow(2, 1, 0, {0x80}, {PngChunk("gAMA", gama)}),
      OneRow(2, 8, 2, {128, 128, 128, 1, 2, 3}, {PngChunk("gAMA", gama)}),
      OneRow(2, 8, 2, {128, 128, 128, 1, 2, 3}),
  };
  TPNGGraphic reader;
  for (const Bytes& file : files) {
    TMemoryStream stream(file);
    reader.ReadFromStream(stream);
    const auto fresh = Load(file);
    EXPECT_EQ(reader.Layout(), fresh->Layout());
    EXPECT_EQ(test::StorageBytes(reader), test::StorageBytes(*fresh));
    EXPECT_EQ(reader.QueryPalette(), fresh->QueryPalette());
  }
}

}  // namespace
}  // namespace quorvex
