#include "picture/readers/thunderscan_decoder.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <random>
#include <string>
#include <vector>

#include "picture/readers/libtiff_strips.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

std::vector<uint8_t> DecodeGuarded(uint32_t width, const std::vector<uint8_t>& source,
                                   size_t targetSize, size_t* produced) {
  TThunderScanDecoder decoder(width);
  std::vector<uint8_t> buffer(targetSize + 2, 0xEE);
  *produced = decoder.DecodeStrip(source.data(), source.size(), buffer.data() + 1, targetSize);
  EXPECT_EQ(buffer.front(), 0xEE) << "wrote before the target";
  EXPECT_EQ(buffer.back(), 0xEE) << "wrote after the target";
  EXPECT_LE(*produced, targetSize);
  return std::vector<uint8_t>(buffer.begin() + 1, buffer.end() - 1);
}

// Code bytes: 00nnnnnn run of n copies of the last pixel; 01aabbcc three
// deltas from {0, +1, none, -1}; 10aaabbb two deltas from {0, +1, +2, +3,
// none, -3, -2, -1}; 11..vvvv one literal pixel.
struct ThunderCase {
  const char* name;
  uint32_t width;
  std::vector<uint8_t> codes;
  size_t targetSize;
  std::vector<uint8_t> expected;
  size_t produced;
};

class ThunderScanTest : public testing::TestWithParam<ThunderCase> {};

TEST_P(ThunderScanTest, DecodesExpectedPixels) {
  const ThunderCase& c = GetParam();
  size_t produced = 0;
  EXPECT_EQ(DecodeGuarded(c.width, c.codes, c.targetSize, &produced), c.expected);
  EXPECT_EQ(produced, c.produced);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ThunderScanTest,
    testing::Values(
        // Row 0: 5 | run 2 | +1 -1 none | +3 none  ->  5 5 5 6 5 8
        // Row 1 starts again from 0: run 3 | -1 +1 | 15  ->  0 0 0 15 0 15
        ThunderCase{"every_code_kind",
                    6,
                    {0xC5, 0x02, 0x5E, 0x9C, 0x03, 0xB9, 0xCF},
                    6,
                    {0x55, 0x56, 0x58, 0x00, 0x0F, 0x0F},
                    6},
        ThunderCase{"run_ends_row", 4, {0xC5, 0x03, 0xC1}, 4, {0x55, 0x55, 0x10, 0x00}, 4},
        ThunderCase{"deltas_wrap_to_4_bits", 4, {0xC0, 0x7F}, 2, {0x0F, 0xED}, 2},
        ThunderCase{"run_cut_at_row_end", 3, {0xC7, 0x05, 0xC1}, 4, {0x77, 0x70, 0x10, 0x00}, 4},
        ThunderCase{"delta_past_row_end_dropped", 2, {0xC3, 0x55, 0xC9}, 2, {0x34, 0x90}, 2},
        ThunderCase{"run_from_odd_pixel", 5, {0xC1, 0xC2, 0x03}, 3, {0x12, 0x22, 0x20}, 3},
        ThunderCase{"truncated_row", 4, {0xC2}, 4, {0x20, 0x00, 0x00, 0x00}, 2},
        ThunderCase{"partial_last_row", 4, {0xC1, 0x55, 0xCF, 0x05}, 3, {0x12, 0x34, 0xFF}, 3},
        ThunderCase{"empty_input", 4, {}, 2, {0x00, 0x00}, 0},
        ThunderCase{"zero_width", 0, {0xC1, 0x05}, 2, {0x00, 0x00}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ThunderScanDecoderTest, GarbageStaysInsideBuffers) {
  std::mt19937 random(11);
  for (int round = 0; round < 500; ++round) {
    std::vector<uint8_t> source(random() % 300);
    for (auto& byte : source) byte = static_cast<uint8_t>(random());
    size_t produced = 0;
    DecodeGuarded(1 + random() % 400, source, random() % 400, &produced);
  }
}

// Codes for one row of exactly `width` pixels, every code kind mixed.
void AppendRow(std::mt19937& random, uint32_t width, std::vector<uint8_t>& codes) {
  uint32_t pixels = 0;
  while (pixels < width) {
    const uint32_t left = width - pixels;
    switch (random() % 4) {
      case 0: {
        // libtiff drops a run that ends its row exactly, so the reference
        // rows end with other codes.
        const uint32_t run = std::min<uint32_t>(random() % 64, left - 1);
        codes.push_back(static_cast<uint8_t>(run));
        pixels += run;
        break;
      }
      case 1: {
        uint8_t code = 0x40;
        uint32_t made = 0;
        for (int shift = 4; shift >= 0; shift -= 2) {
          uint32_t delta = random() % 4;
          if (delta != 2 && made == left) delta = 2;
          if (delta != 2) ++made;
          code |= static_cast<uint8_t>(delta << shift);
        }
        codes.push_back(code);
        pixels += made;
        break;
      }
      case 2: {
        uint8_t code = 0x80;
        uint32_t made = 0;
        for (int shift = 3; shift >= 0; shift -= 3) {
          uint32_t delta = random() % 8;
          if (delta != 4 && made == left) delta = 4;
          if (delta != 4) ++made;
          code |= static_cast<uint8_t>(delta << shift);
        }
        codes.push_back(code);
        pixels += made;
        break;
      }
      default:
        codes.push_back(static_cast<uint8_t>(0xC0 | (random() % 16)));
        ++pixels;
        break;
    }
  }
}

TEST(ThunderScanDecoderTest, MatchesLibtiff) {
  const std::string path = test::MakeTempDir() + "/thunder.tif";
  for (uint32_t width : {1u, 7u, 64u, 301u}) {
    SCOPED_TRACE(width);
    test::TiffPicture picture;
    picture.width = width;
    picture.height = 9;
    picture.bitsPerSample = 4;
    picture.rowsPerStrip = 4;
    std::mt19937 random(width);
    std::vector<std::vector<uint8_t>> strips;
    for (uint32_t first = 0; first < picture.height; first += picture.rowsPerStrip) {
      strips.emplace_back();
      for (uint32_t y = first; y < std::min(picture.height, first + picture.rowsPerStrip); ++y) {
        AppendRow(random, width, strips.back());
      }
    }
    test::WriteTiff(path, picture, COMPRESSION_THUNDERSCAN, 1, &strips);
    const auto read = test::ReadTiffStrips(path);
    ASSERT_EQ(read.raw.size(), strips.size());
    for (size_t s = 0; s < strips.size(); ++s) {
      ASSERT_EQ(read.raw[s], strips[s]);
      size_t produced = 0;
      const auto target = DecodeGuarded(width, read.raw[s], read.decoded[s].size(), &produced);
      EXPECT_EQ(produced, read.decoded[s].size());
      EXPECT_TRUE(target == read.decoded[s]) << "strip " << s << " differs from libtiff";
    }
  }
}

}  // namespace
}  // namespace quorvex
