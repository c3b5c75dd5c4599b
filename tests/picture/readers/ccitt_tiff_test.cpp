// Fax and ThunderScan strips through the whole TIFF reader.

#include <gtest/gtest.h>
#include <tiffio.h>

#include <random>
#include <string>
#include <vector>

#include "picture/readers/libtiff_strips.h"
#include "picture/readers/tiff_reader.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

struct Loaded {
  PixelLayout layout;
  test::RgbPicture pixels;
  std::vector<uint8_t> storage;
};

Loaded LoadTiff(const std::string& path) {
  TTIFFGraphic graphic;
  TFileStream stream(path, TFileStream::Mode::OpenRead);
  graphic.ReadFromStream(stream);
  return {graphic.Layout(), test::BitmapPixels(graphic), test::StorageBytes(graphic)};
}

// A bilevel picture with runs of many lengths (some past 2560), several
// strips, the last one short.
test::TiffPicture Bilevel() {
  test::TiffPicture picture;
  picture.width = 2900;
  picture.height = 30;
  picture.rowsPerStrip = 8;
  const size_t rowBytes = (picture.width + 7) / 8;
  picture.rows.assign(rowBytes * picture.height, 0);
  std::mt19937 random(5);
  for (uint32_t y = 0; y < picture.height; ++y) {
    bool black = y % 3 == 0;
    for (uint32_t x = 0; x < picture.width;) {
      const uint32_t run =
          std::min<uint32_t>(random() % 2 ? random() % 70 : random() % 2700, picture.width - x);
      for (uint32_t i = x; black && i < x + run; ++i) {
        picture.rows[y * rowBytes + i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      }
      x += run;
      black = !black;
    }
  }
  return picture;
}

struct TwinCase {
  const char* name;
  uint16_t compression;
  uint16_t fillOrder;
  const char* tiffcpOptions;  // null: libtiff's encoder writes it directly
};

class CCITTTiffTest : public testing::TestWithParam<TwinCase> {};

TEST_P(CCITTTiffTest, LoadsLikeItsUncompressedTwin) {
  const TwinCase& c = GetParam();
  const std::string dir = test::MakeTempDir();
  const std::string plain = dir + "/plain.tif";
  const std::string coded = dir + "/coded.tif";
  const auto picture = Bilevel();
  test::WriteTiff(plain, picture, COMPRESSION_NONE);
  if (c.tiffcpOptions != nullptr) {
    ASSERT_TRUE(test::RunTiffcp(c.tiffcpOptions, plain, coded));
  } else {
    test::WriteTiff(coded, picture, c.compression, c.fillOrder);
  }
  const auto strips = test::ReadTiffStrips(coded);
  ASSERT_EQ(strips.compression, c.compression);
  ASSERT_EQ(strips.fillOrder, c.fillOrder);

  const Loaded expected = LoadTiff(plain);
  const Loaded actual = LoadTiff(coded);
  EXPECT_EQ(actual.layout, PixelLayout::Bits1);
  EXPECT_EQ(test::ComparePictures(expected.pixels, actual.pixels, 0), "");
  EXPECT_TRUE(expected.storage == actual.storage);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, CCITTTiffTest,
    testing::Values(TwinCase{"g3_1d", COMPRESSION_CCITTFAX3, 1, "-c g3:1d"},
                    TwinCase{"g3_1d_fill_lsb2msb", COMPRESSION_CCITTFAX3, 2,
                             "-f lsb2msb -c g3:1d:fill"},
                    TwinCase{"g3_2d", COMPRESSION_CCITTFAX3, 1, "-c g3:2d"},
                    TwinCase{"huffman_lsb2msb", COMPRESSION_CCITTRLE, 2, nullptr},
                    TwinCase{"word_aligned", COMPRESSION_CCITTRLEW, 1, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A fax page as a fax program writes it (1728 x 2156, T.4 with EOL fill).
TEST(CCITTTiffTest, FaxPageMatchesReferenceDecoder) {
  const std::string path = test::TestData("tiff/total-pages-zero.tif");
  const auto reference = test::ReferencePixels(path);
  ASSERT_TRUE(reference.has_value());
  EXPECT_EQ(test::ComparePictures(*reference, LoadTiff(path).pixels, 0), "");
}

TEST(ThunderScanTiffTest, LoadsLikeItsUncompressedTwin) {
  // Literal, run and delta codes; every row starts again from value 0.
  test::TiffPicture picture;
  picture.width = 5;
  picture.height = 3;
  picture.bitsPerSample = 4;
  picture.rowsPerStrip = 2;
  const std::vector<std::vector<uint8_t>> strips = {{0xC5, 0x02, 0x5E, /* row 1 */ 0x03, 0xB9},
                                                    {/* row 2 */ 0xC1, 0x55, 0xCA}};
  picture.rows = {0x55, 0x56, 0x50, 0x00, 0x0F, 0x00, 0x12, 0x34, 0xA0};
  const std::string dir = test::MakeTempDir();
  test::WriteTiff(dir + "/plain.tif", picture, COMPRESSION_NONE);
  test::WriteTiff(dir + "/coded.tif", picture, COMPRESSION_THUNDERSCAN, 1, &strips);
  const Loaded expected = LoadTiff(dir + "/plain.tif");
  const Loaded actual = LoadTiff(dir + "/coded.tif");
  EXPECT_EQ(actual.layout, PixelLayout::Bits4);
  EXPECT_EQ(test::ComparePictures(expected.pixels, actual.pixels, 0), "");
  EXPECT_TRUE(expected.storage == actual.storage);
}

}  // namespace
}  // namespace quorvex
