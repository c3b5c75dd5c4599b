// Tiled pictures and BigTIFF files: each must give the very bitmap of its
// stripped, classic twin (made with libtiff's tiffcp from the same source),
// and hostile tile sizes and BigTIFF headers must fail clearly or load small.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/image_limits.h"
#include "picture/readers/libtiff_strips.h"
#include "picture/readers/reader_test_support.h"
#include "picture/readers/tiff_jpeg_decoder.h"
#include "picture/readers/tiff_reader.h"
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

const auto LoadFile = &test::LoadFile<TTIFFGraphic>;
const auto LoadBytes = &test::LoadBytes<TTIFFGraphic>;

uint16_t Get16(const Bytes& f, size_t at) {
  return static_cast<uint16_t>(f[at] | f[at + 1] << 8);
}
uint64_t GetN(const Bytes& f, size_t at, size_t n) {
  uint64_t v = 0;
  for (size_t k = 0; k < n; ++k) v |= uint64_t{f[at + k]} << (8 * k);
  return v;
}
void PutN(Bytes& f, size_t at, size_t n, uint64_t v) {
  for (size_t k = 0; k < n; ++k) f[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

// Where the first directory's entry of `tag` starts in a little-endian
// file, classic or BigTIFF.
size_t EntryOf(const Bytes& f, uint16_t tag) {
  const bool big = Get16(f, 2) == 43;
  const size_t ifd = static_cast<size_t>(big ? GetN(f, 8, 8) : GetN(f, 4, 4));
  const size_t count = static_cast<size_t>(GetN(f, ifd, big ? 8 : 2));
  for (size_t i = 0; i < count; ++i) {
    const size_t at = ifd + (big ? 8 : 2) + i * (big ? 20 : 12);
    if (Get16(f, at) == tag) return at;
  }
  ADD_FAILURE() << "no tag " << tag;
  return 0;
}

// The strip tags of a TiffBuilder file renamed to the tile tags, or a tag
// hidden under an unknown number.
void Retag(Bytes& f, uint16_t from, uint16_t to) {
  PutN(f, EntryOf(f, from), 2, to);
}

// A classic file's inline value of `tag` replaced by the LONG `value`.
void SetLong(Bytes& f, uint16_t tag, uint32_t value) {
  const size_t at = EntryOf(f, tag);
  PutN(f, at + 2, 2, 4);
  PutN(f, at + 4, 4, 1);
  PutN(f, at + 8, 4, value);
}

Bytes Deflated(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  out.resize(size);
  return out;
}

// A picture of `bits`-bit samples, `samples` per pixel, as one value per
// sample, row after row; Pack gives a rectangle of it as TIFF rows.
struct Samples {
  uint32_t width;
  uint32_t height;
  uint32_t bits;
  uint32_t samples;
  std::vector<uint32_t> values;

  static Samples Noise(uint32_t width, uint32_t height, uint32_t bits, uint32_t samples) {
    Samples s{width, height, bits, samples, {}};
    uint32_t seed = 7;
    for (uint64_t i = 0; i < uint64_t{width} * height * samples; ++i) {
      seed = seed * 1103515245u + 12345u;
      s.values.push_back((seed >> 16) & ((1u << bits) - 1));
    }
    return s;
  }
  // The rows [y, y + rows) of the pixels [x, x + w): pixels past the right
  // edge and rows past the bottom hold `fill`, each row padded to a byte.
  Bytes Pack(uint32_t x, uint32_t y, uint32_t w, uint32_t rows, uint32_t fill = 0) const {
    Bytes out;
    for (uint32_t r = y; r < y + rows; ++r) {
      Bytes row((uint64_t{w} * samples * bits + 7) / 8, 0);
      uint64_t bit = 0;
      for (uint32_t c = x; c < x + w; ++c) {
        for (uint32_t k = 0; k < samples; ++k, bit += bits) {
          const uint32_t v =
              r < height && c < width ? values[(uint64_t{r} * width + c) * samples + k] : fill;
          for (uint32_t b = 0; b < bits; ++b) {
            if ((v >> (bits - 1 - b)) & 1) row[(bit + b) / 8] |= 0x80 >> ((bit + b) % 8);
          }
        }
      }
      out.insert(out.end(), row.begin(), row.end());
    }
    return out;
  }
  TiffBuilder Stripped(uint32_t photometric) const {
    TiffBuilder b;
    b.Picture(width, height, bits, samples, photometric).AddStrip(Pack(0, 0, width, height));
    return b;
  }
  // Tiles of tw x tl, row by row, with the strip tags renamed to the tile
  // tags once built.
  TiffBuilder Tiled(uint32_t photometric, uint32_t tw, uint32_t tl) const {
    TiffBuilder b;
    b.Picture(width, height, bits, samples, photometric)
        .Set(322, TiffBuilder::Long, {tw})
        .Set(323, TiffBuilder::Long, {tl});
    for (uint32_t y = 0; y < height; y += tl) {
      for (uint32_t x = 0; x < width; x += tw) b.AddStrip(Pack(x, y, tw, tl, 1));
    }
    return b;
  }
};

Bytes WithTileTags(Bytes f) {
  Retag(f, 273, 324);
  Retag(f, 279, 325);
  return f;
}

void ExpectSameBitmap(const TTIFFGraphic& a, const TTIFFGraphic& b) {
  EXPECT_EQ(a.Layout(), b.Layout());
  EXPECT_EQ(a.ImageWidth(), b.ImageWidth());
  EXPECT_EQ(a.ImageHeight(), b.ImageHeight());
  EXPECT_EQ(test::StorageBytes(a), test::StorageBytes(b));
  EXPECT_EQ(a.QueryPalette(), b.QueryPalette());
}

// ---- twins made with tiffcp ---------------------------------------------

class TIFFLayoutTwins : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir();
    // 17 x 13 pixels: 16 x 16 tiles overhang both the right and the bottom
    // edge. Noise makes every byte of the predictor's work count.
    odd_ = dir_ + "/odd.tif";
    test::WriteFileBytes(odd_, Samples::Noise(17, 13, 8, 3).Stripped(2).Build());
    gray_ = dir_ + "/gray.tif";
    test::WriteFileBytes(gray_, Samples::Noise(40, 24, 8, 1).Stripped(1).Build());
  }
  void TearDown() override { fs::remove_all(dir_); }

  // `source` ("odd", "gray", a sample file or a path) copied with tiffcp
  // options.
  std::string Copy(const std::string& source, const std::string& options) {
    const std::string from = source == "odd"    ? odd_
                             : source == "gray" ? gray_
                             : source[0] == '/' ? source
                                                : test::TestData("tiff/" + source);
    const std::string to = dir_ + "/copy" + std::to_string(copies_++) + ".tif";
    EXPECT_TRUE(test::RunTiffcp(options, from, to)) << "tiffcp " << options << " " << source;
    return to;
  }

  std::string dir_, odd_, gray_;
  int copies_ = 0;
};

TEST_F(TIFFLayoutTwins, TiledCopiesGiveTheBitmapOfTheStrippedOne) {
  struct Case {
    const char* source;
    const char* options;
  };
  const Case cases[] = {
      {"odd", "-t -w 16 -l 16"},
      {"odd", "-c packbits -t -w 16 -l 16"},
      {"odd", "-c zip:2 -t -w 16 -l 16"},  // differencing restarts in every tile row
      {"odd", "-p separate -c zip:2 -t -w 16 -l 16"},
      {"odd", "-B -p separate -t -w 16 -l 16"},
      {"tiff_strip_raw.tif", "-c zip -t -w 64 -l 48"},
      {"tiff_strip_raw.tif", "-p separate -c packbits -t -w 32 -l 32"},
      {"tiff_strip_raw.tif", "-c zip:2 -t -w 16 -l 400"},   // one row of tall tiles
      {"pil136.tiff", "-c zip:2 -t -w 32 -l 16"},           // RGBA
      {"16bit.deflate.tif", "-c zip:2 -B -t -w 16 -l 32"},  // 16-bit differencing
      {"hopper_gray_4bpp.tif", "-c packbits -t -w 16 -l 16"},
      {"hopper2.tif", "-f lsb2msb -t -w 32 -l 16"},  // 2-bit, bits reversed
      {"multipage.tiff", "-t -w 16 -l 16"},          // 1-bit palette
      {"issue_2278.tif", "-c g3 -t -w 48 -l 32"},    // fax rows of the tile's width
      {"issue_2278.tif", "-c g3:2d -t -w 64 -l 64"},
      {"hopper.Lab.tif", "-c zip -t -w 32 -l 32"},
      {"tiff_strip_cmyk_16l_jpeg.tif", "-c packbits -t -w 32 -l 32"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.options);
    const std::string stripped = Copy(c.source, "-c none");
    const std::string tiled = Copy(c.source, c.options);
    std::unique_ptr<TTIFFGraphic> a, b;
    ASSERT_NO_THROW(a = LoadFile(stripped));
    ASSERT_NO_THROW(b = LoadFile(tiled));
    ASSERT_TRUE(b->TIFFProperties().tiled);
    ExpectSameBitmap(*a, *b);
  }
}

TEST_F(TIFFLayoutTwins, SixteenBitPlanarTilesAsImageMagickWritesThem) {
  // tiffcp moves 16-bit planes into tiles wrongly; ImageMagick makes the
  // tiled twin here, with horizontal differencing.
  const std::string stripped = Copy("tiff_strip_planar_16bit_RGB.tiff", "-c none");
  const std::string tiled = dir_ + "/magick.tif";
  ASSERT_EQ(std::system(("/usr/bin/convert '" + stripped +
                         "' -define tiff:tile-geometry=32x16 -interlace plane -compress zip "
                         "-define tiff:predictor=2 '" +
                         tiled + "' >/dev/null 2>&1")
                            .c_str()),
            0);
  std::unique_ptr<TTIFFGraphic> a, b;
  ASSERT_NO_THROW(a = LoadFile(stripped));
  ASSERT_NO_THROW(b = LoadFile(tiled));
  ASSERT_TRUE(b->TIFFProperties().tiled);
  EXPECT_EQ(b->TIFFProperties().planarConfiguration, 2);
  ExpectSameBitmap(*a, *b);
}

TEST_F(TIFFLayoutTwins, JPEGTilesMatchTheReferenceDecoder) {
  struct Case {
    const char* source;
    const char* options;
  };
  const Case cases[] = {
      {"odd", "-c jpeg -t -w 16 -l 16"},  // YCbCr, 2x2 subsampled
      {"tiff_strip_raw.tif", "-c jpeg:r -t -w 32 -l 48"},
      {"tiff_strip_raw.tif", "-c jpeg -B -t -w 64 -l 64"},
      {"gray", "-c jpeg -t -w 16 -l 16"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.options);
    const std::string tiled = Copy(c.source, c.options);
    std::unique_ptr<TTIFFGraphic> graphic;
    ASSERT_NO_THROW(graphic = LoadFile(tiled));
    // libjpeg's upsampling against the reference's may round a step apart.
    test::ExpectReferencePixels(tiled, *graphic, 3);
  }
}

TEST_F(TIFFLayoutTwins, BigTIFFCopiesGiveTheBitmapOfTheClassicOne) {
  struct Case {
    const char* source;
    const char* options;
  };
  const Case cases[] = {
      {"tiff_strip_raw.tif", ""},
      {"tiff_strip_raw.tif", "-B"},
      {"tiff_strip_raw.tif", "-c zip:2 -r 7"},  // many strips: LONG8 lists
      {"tiff_strip_raw.tif", "-B -p separate -c packbits -t -w 32 -l 32"},
      {"multipage.tiff", "-B"},  // colour map at an offset
      {"hopper.Lab.tif", ""},
      {"16bit.deflate.tif", "-B"},
      {"issue_2278.tif", "-c g3"},
      {"odd", "-c jpeg -t -w 16 -l 16"},  // JPEG tables at an offset
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.options);
    const std::string classic = Copy(c.source, c.options);
    const std::string big = Copy(c.source, std::string("-8 ") + c.options);
    std::unique_ptr<TTIFFGraphic> a, b;
    ASSERT_NO_THROW(a = LoadFile(classic));
    ASSERT_NO_THROW(b = LoadFile(big));
    EXPECT_EQ(b->ImageProperties().version, 43);
    ExpectSameBitmap(*a, *b);
  }
}

TEST_F(TIFFLayoutTwins, BigTIFFPagesFollowTheEightByteChain) {
  const Bytes file = test::ReadFileBytes(Copy("multipage.tiff", "-8"));
  TMemoryStream stream(file);
  EXPECT_TRUE(TTIFFGraphic::AcceptsStream(stream));
  struct Case {
    int index;
    bool usable;
    int32_t width;
  };
  const Case cases[] = {{0, true, 10}, {1, true, 10}, {2, true, 20}, {3, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    TTIFFGraphic g;
    EXPECT_EQ(g.ReadHeaderInfo(stream, c.index), c.usable);
    if (c.usable) {
      EXPECT_EQ(g.ImageProperties().width, c.width);
    }
  }
}

// ---- tiles built by hand --------------------------------------------------

TEST(TIFFTiles, TilesOfAnyWidthAreCroppedIntoPlace) {
  // libtiff writes tile sizes in multiples of 16 only, but reads others;
  // narrow samples then start inside a byte of the picture's rows.
  struct Case {
    const char* name;
    uint32_t bits;
    uint32_t samples;
    uint32_t photometric;
    uint32_t tileWidth;
    uint32_t tileLength;
  };
  const Case cases[] = {
      {"1-bit, 5 x 3 tiles", 1, 1, 1, 5, 3}, {"4-bit, 3 x 4 tiles", 4, 1, 1, 3, 4},
      {"2-bit, 7 x 2 tiles", 2, 1, 1, 7, 2}, {"8-bit, 5 x 3 tiles", 8, 1, 1, 5, 3},
      {"RGB, 6 x 5 tiles", 8, 3, 2, 6, 5},   {"one tile larger than the picture", 8, 3, 2, 64, 64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Samples picture = Samples::Noise(19, 7, c.bits, c.samples);
    std::unique_ptr<TTIFFGraphic> a, b;
    ASSERT_NO_THROW(a = LoadBytes(picture.Stripped(c.photometric).Build()));
    ASSERT_NO_THROW(b = LoadBytes(WithTileTags(
                        picture.Tiled(c.photometric, c.tileWidth, c.tileLength).Build())));
    ExpectSameBitmap(*a, *b);
  }
}

TEST(TIFFTiles, SubsampledYCbCrTilesHoldWholeBlocks) {
  // 6 x 4 pixels of 2 x 2 blocks (four lumas, Cb, Cr): as one strip two
  // units of three blocks; as 4 x 2 tiles two blocks a tile, the second
  // column's overhanging block filled with anything.
  Bytes units;
  for (int i = 0; i < 36; ++i) units.push_back(static_cast<uint8_t>(40 + i * 5));
  auto stripped = [&] { return TiffBuilder().Picture(6, 4, 8, 3, 6).AddStrip(units); };
  auto tiled = [&](uint32_t tileWidth) {
    TiffBuilder b;
    b.Picture(6, 4, 8, 3, 6)
        .Set(322, TiffBuilder::Long, {tileWidth})
        .Set(323, TiffBuilder::Long, {2});
    for (size_t unit = 0; unit < 2; ++unit) {
      const auto first = units.begin() + static_cast<ptrdiff_t>(unit * 18);
      b.AddStrip(Bytes(first, first + 12));
      Bytes right(first + 12, first + 18);
      right.resize(12, 0x99);
      b.AddStrip(right);
    }
    return WithTileTags(b.Build());
  };
  std::unique_ptr<TTIFFGraphic> a, b;
  ASSERT_NO_THROW(a = LoadBytes(stripped().Build()));
  ASSERT_NO_THROW(b = LoadBytes(tiled(4)));
  ExpectSameBitmap(*a, *b);
  // Tiles that would split a block have no sensible reading.
  EXPECT_EQ(FailureOf([&] { LoadBytes(tiled(3)); }), kInvalid);
}

TEST(TIFFTiles, HostileTileSizesStaySmallOrFailClearly) {
  const Bytes one = {0x42};
  // One tile of 65535 x 65535 for a single pixel: only the pixel's row of
  // it is decoded.
  auto giant = [](uint32_t compression, const Bytes& data) {
    return WithTileTags(TiffBuilder()
                            .Picture(1, 1, 8, 1, 1)
                            .Set(259, TiffBuilder::Short, {compression})
                            .Set(322, TiffBuilder::Long, {65535})
                            .Set(323, TiffBuilder::Long, {65535})
                            .AddStrip(data)
                            .Build());
  };
  struct Loads {
    const char* name;
    Bytes file;
  };
  const Loads loads[] = {
      {"giant stored tile", giant(1, one)},
      {"giant deflate tile", giant(8, Deflated(Bytes(65535, 0x42)))},
      {"giant PackBits tile", giant(32773, {0x81, 0x42})},
  };
  for (const auto& c : loads) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TTIFFGraphic> g;
    ASSERT_NO_THROW(g = LoadBytes(c.file));
    EXPECT_EQ(g->RowAddress(0)[0], 0x42);
  }

  // 2048 x 2048 gray claimed in 64 tiles that all lie past the file's end.
  TiffBuilder far;
  far.Picture(2048, 2048, 8, 1, 1)
      .Set(322, TiffBuilder::Long, {256})
      .Set(323, TiffBuilder::Long, {256})
      .Set(324, TiffBuilder::Long, std::vector<uint32_t>(64, 0xFFFFFF00u))
      .Set(325, TiffBuilder::Long, std::vector<uint32_t>(64, 65536));
  const std::vector<test::FailureCase> fails = {
      {"tile width beyond any storage",
       WithTileTags(TiffBuilder()
                        .Picture(3, 3, 8, 3, 2)
                        .Set(322, TiffBuilder::Long, {0xFFFFFFF0u})
                        .Set(323, TiffBuilder::Long, {16})
                        .AddStrip(Bytes(64, 1))
                        .Build()),
       kStreamReadError},
      {"tiles past the end of the file", far.Build(), kStreamReadError},
      {"no tile offsets",
       TiffBuilder()
           .Picture(3, 3, 8, 1, 1)
           .Set(322, TiffBuilder::Long, {16})
           .Set(323, TiffBuilder::Long, {16})
           .Build(),
       kInvalid},
  };
  test::ExpectEveryCaseFails(fails, LoadBytes);
}

TEST(TIFFTiles, DamagedTileListsKeepWhatTheyCan) {
  const Samples picture = Samples::Noise(32, 32, 8, 1);
  const Bytes good = WithTileTags(picture.Tiled(1, 16, 16).Build());
  const auto reference = LoadBytes(picture.Stripped(1).Build());

  // Without byte counts, stored and deflate tiles are read as far as they
  // need.
  for (const uint32_t compression : {1u, 8u}) {
    SCOPED_TRACE(compression);
    TiffBuilder b;
    b.Picture(32, 32, 8, 1, 1)
        .Set(259, TiffBuilder::Short, {compression})
        .Set(322, TiffBuilder::Long, {16})
        .Set(323, TiffBuilder::Long, {16})
        .WithByteCounts(false);
    for (uint32_t y = 0; y < 32; y += 16) {
      for (uint32_t x = 0; x < 32; x += 16) {
        const Bytes tile = picture.Pack(x, y, 16, 16);
        b.AddStrip(compression == 8 ? Deflated(tile) : tile);
      }
    }
    Bytes file = b.Build();
    Retag(file, 273, 324);
    std::unique_ptr<TTIFFGraphic> g;
    ASSERT_NO_THROW(g = LoadBytes(file));
    EXPECT_EQ(test::StorageBytes(*g), test::StorageBytes(*reference));
  }

  // The last tile past the end, or missing from the lists: the top row of
  // tiles is whole, the bottom one, which cannot be, stays white.
  Bytes far = good;
  const size_t offsets = static_cast<size_t>(GetN(far, EntryOf(far, 324) + 8, 4));
  PutN(far, offsets + 12, 4, 0x7FFFFFF0u);
  Bytes shortList = good;
  PutN(shortList, EntryOf(shortList, 324) + 4, 4, 3);
  PutN(shortList, EntryOf(shortList, 325) + 4, 4, 3);
  for (const Bytes& damaged : {far, shortList}) {
    std::unique_ptr<TTIFFGraphic> g;
    ASSERT_NO_THROW(g = LoadBytes(damaged));
    for (int32_t y = 0; y < 32; ++y) {
      SCOPED_TRACE(y);
      const Bytes expected = y < 16 ? test::Row(*reference, y, 32) : Bytes(32, 0xFF);
      EXPECT_EQ(test::Row(*g, y, 32), expected);
    }
  }
}

TEST_F(TIFFLayoutTwins, JPEGTilesOfTheWrongSizeFail) {
  Bytes file = test::ReadFileBytes(Copy("odd", "-c jpeg -t -w 16 -l 16"));
  SetLong(file, 322, 32);
  EXPECT_EQ(FailureOf([&] { LoadBytes(file); }), kJPEGImproperStripSize);
}

// ---- BigTIFF headers and directories -------------------------------------

TEST_F(TIFFLayoutTwins, DamagedBigTIFFFilesFailClearly) {
  const Bytes good = test::ReadFileBytes(Copy("gray", "-8"));
  const auto reference = LoadBytes(good);
  const size_t ifd = static_cast<size_t>(GetN(good, 8, 8));
  auto patched = [&](size_t at, size_t n, uint64_t value) {
    Bytes f = good;
    PutN(f, at, n, value);
    return f;
  };
  struct Case {
    const char* name;
    Bytes file;
    std::string message;  // "" when it loads as the good file
  };
  const Case cases[] = {
      {"offsets of 4 bytes", patched(4, 2, 4), kInvalid},
      {"reserved field not zero", patched(6, 2, 1), kInvalid},
      {"header cut short", Bytes(good.begin(), good.begin() + 12), kInvalid},
      {"first directory past the end", patched(8, 8, uint64_t{1} << 62), kStreamReadError},
      {"first directory at the top offset", patched(8, 8, ~uint64_t{0}), kStreamReadError},
      // More entries than the file holds: what follows the directory, the
      // picture's bytes, is read as entries, and one of them claims values
      // past the end.
      {"entry count of 2^62", patched(ifd, 8, uint64_t{1} << 62), kStreamReadError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TTIFFGraphic> g;
    EXPECT_EQ(FailureOf([&] { g = LoadBytes(c.file); }), c.message);
    if (c.message.empty() && g) {
      EXPECT_EQ(test::StorageBytes(*g), test::StorageBytes(*reference));
    }
  }

  // A strip offset near the top of the 64-bit range lies past the end: its
  // rows stay white.
  Bytes far = good;
  const size_t strips = EntryOf(far, 273);
  PutN(far, strips + 2, 2, 16);  // LONG8
  PutN(far, strips + 12, 8, ~uint64_t{0} - 4);
  std::unique_ptr<TTIFFGraphic> g;
  ASSERT_NO_THROW(g = LoadBytes(far));
  EXPECT_EQ(test::Row(*g, 0, 40), Bytes(40, 0xFF));

  struct Accepts {
    const char* name;
    Bytes file;
    bool accepted;
  };
  const Accepts accepts[] = {
      {"BigTIFF", good, true},
      {"first directory past the end", patched(8, 8, good.size()), false},
      {"header cut short", Bytes(good.begin(), good.begin() + 12), false},
      {"offsets of 4 bytes", patched(4, 2, 4), false},
  };
  for (const auto& c : accepts) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream(c.file);
    EXPECT_EQ(TTIFFGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 0);
  }
}

}  // namespace
}  // namespace quorvex
