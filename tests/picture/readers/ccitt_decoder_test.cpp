#include "picture/readers/ccitt_decoder.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "picture/readers/libtiff_strips.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

uint8_t Reversed(uint8_t byte) {
  uint8_t result = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (byte & (1 << bit)) result |= static_cast<uint8_t>(0x80 >> bit);
  }
  return result;
}

// A bit string ("0111 1000 ...", spaces ignored) packed most significant bit
// first, the last byte padded with zeros.
std::vector<uint8_t> Bits(const std::string& text, bool reverse = false) {
  std::vector<uint8_t> bytes;
  int count = 0;
  for (char c : text) {
    if (c != '0' && c != '1') continue;
    if (count % 8 == 0) bytes.push_back(0);
    if (c == '1') bytes.back() |= static_cast<uint8_t>(0x80 >> (count % 8));
    ++count;
  }
  if (reverse) {
    for (auto& byte : bytes) byte = Reversed(byte);
  }
  return bytes;
}

enum class Kind { Huffman, WordAligned, Fax3 };

std::unique_ptr<TStripDecoder> MakeDecoder(Kind kind, uint32_t t4Options, uint32_t width,
                                           bool reverse) {
  switch (kind) {
    case Kind::Huffman:
      return std::make_unique<TCCITTHuffmanDecoder>(width, reverse, false);
    case Kind::WordAligned:
      return std::make_unique<TCCITTHuffmanDecoder>(width, reverse, true);
    case Kind::Fax3:
      break;
  }
  return std::make_unique<TCCITTFax3Decoder>(t4Options, width, reverse);
}

// Decodes into a target with guard bytes on both sides; checks the guards.
std::vector<uint8_t> DecodeGuarded(TStripDecoder& decoder, const std::vector<uint8_t>& source,
                                   size_t targetSize, size_t* produced) {
  std::vector<uint8_t> buffer(targetSize + 2, 0xEE);
  *produced = decoder.DecodeStrip(source.data(), source.size(), buffer.data() + 1, targetSize);
  EXPECT_EQ(buffer.front(), 0xEE) << "wrote before the target";
  EXPECT_EQ(buffer.back(), 0xEE) << "wrote after the target";
  EXPECT_LE(*produced, targetSize);
  return std::vector<uint8_t>(buffer.begin() + 1, buffer.end() - 1);
}

// Codes used below (white / black runs, end of line):
//   W0 00110101  W2 0111  W3 1000  W4 1011  W8 10011  W16 101010  W20 0001000
//   W64 11011  W6 1110  W1792 00000001000
//   B2 11  B3 10  B7 00011  B8 000101  B12 0000111  B128 000011001000
//   EOL 000000000001
struct HandCase {
  const char* name;
  Kind kind;
  uint32_t t4Options;
  uint32_t width;
  bool reverse;
  std::string bits;
  size_t targetSize;
  std::vector<uint8_t> expected;
  size_t produced;
};

std::vector<uint8_t> Row200() {
  std::vector<uint8_t> row(25, 0xFF);
  for (int i = 0; i < 8; ++i) row[i] = 0;
  row[8] = 0x03;  // bits 70 and 71
  return row;
}

std::vector<uint8_t> Row1800() {
  std::vector<uint8_t> row(225, 0);
  row[224] = 0xFF;
  return row;
}

class CCITTHandCodedTest : public testing::TestWithParam<HandCase> {};

TEST_P(CCITTHandCodedTest, DecodesExpectedBits) {
  const HandCase& c = GetParam();
  auto decoder = MakeDecoder(c.kind, c.t4Options, c.width, c.reverse);
  size_t produced = 0;
  const auto target = DecodeGuarded(*decoder, Bits(c.bits, c.reverse), c.targetSize, &produced);
  EXPECT_EQ(target, c.expected);
  EXPECT_EQ(produced, c.produced);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CCITTHandCodedTest,
    testing::Values(
        // Modified Huffman: rows start on byte boundaries.
        HandCase{"run_cut_at_width",
                 Kind::Huffman,
                 0,
                 10,
                 false,
                 "0001000 0  1000 00011",
                 4,
                 {0, 0, 0x1F, 0xC0},
                 4},
        HandCase{"fill_order_reversed",
                 Kind::Huffman,
                 0,
                 10,
                 true,
                 "0001000 0  1000 00011",
                 4,
                 {0, 0, 0x1F, 0xC0},
                 4},
        HandCase{"make_up_codes", Kind::Huffman, 0, 200, false, "11011 1110  000011001000 11", 25,
                 Row200(), 25},
        HandCase{"extended_make_up", Kind::Huffman, 0, 1800, false, "00000001000 00110101  000101",
                 225, Row1800(), 225},
        HandCase{"truncated_row", Kind::Huffman, 0, 16, false, "1000 11", 4, {0x18, 0, 0, 0}, 2},
        HandCase{
            "trailing_zero_bits", Kind::Huffman, 0, 16, false, "1000 0000", 4, {0, 0, 0, 0}, 2},
        HandCase{"invalid_code_ends_row",
                 Kind::Huffman,
                 0,
                 16,
                 false,
                 "1000 11 00  00000000  1011 0000111",
                 6,
                 {0x18, 0, 0, 0, 0x0F, 0xFF},
                 6},
        HandCase{"partial_last_row",
                 Kind::Huffman,
                 0,
                 16,
                 false,
                 "00110101 0000010111 000000  00110101 0000010111",
                 3,
                 {0xFF, 0xFF, 0xFF},
                 3},
        HandCase{"word_aligned_skips_odd_byte",
                 Kind::WordAligned,
                 0,
                 8,
                 false,
                 "10011 000  11111111  0111 0010",
                 2,
                 {0x00, 0x3F},
                 2},
        HandCase{"word_aligned_reversed",
                 Kind::WordAligned,
                 0,
                 8,
                 true,
                 "10011 000  11111111  0111 0010",
                 2,
                 {0x00, 0x3F},
                 2},
        // T.4 with end-of-line codes.
        HandCase{"eol_before_each_row",
                 Kind::Fax3,
                 0,
                 10,
                 false,
                 "000000000001 0001000  000000000001 1000 00011",
                 4,
                 {0, 0, 0x1F, 0xC0},
                 4},
        HandCase{"eol_with_fill_bits",
                 Kind::Fax3,
                 4,
                 10,
                 false,
                 "0000 000000000001 0001000 00000  000000000001 1000 00011",
                 4,
                 {0, 0, 0x1F, 0xC0},
                 4},
        HandCase{"eol_fill_order_reversed",
                 Kind::Fax3,
                 0,
                 10,
                 true,
                 "000000000001 0001000  000000000001 1000 00011",
                 4,
                 {0, 0, 0x1F, 0xC0},
                 4},
        HandCase{"garbage_before_first_eol",
                 Kind::Fax3,
                 0,
                 16,
                 false,
                 "1011 0110 1  000000000001 1011 0000111",
                 2,
                 {0x0F, 0xFF},
                 2},
        HandCase{"eol_inside_row_starts_next_row",
                 Kind::Fax3,
                 0,
                 16,
                 false,
                 "000000000001 1000 11 000000000001 1011 0000111",
                 4,
                 {0x18, 0, 0x0F, 0xFF},
                 4},
        HandCase{"invalid_code_waits_for_eol",
                 Kind::Fax3,
                 0,
                 16,
                 false,
                 "000000000001 0111 000000001 1011 0000111  000000000001 1011 0000111",
                 4,
                 {0, 0, 0x0F, 0xFF},
                 4},
        HandCase{"one_dimensional_tag_bits",
                 Kind::Fax3,
                 1,
                 10,
                 false,
                 "000000000001 1 0001000  000000000001 1 1000 00011",
                 4,
                 {0, 0, 0x1F, 0xC0},
                 4},
        // Two-dimensional rows (tag bit 0) against the row above. Modes:
        //   V0 1  VR1 011  VL1 010  VL3 0000010  H 001  P 0001
        HandCase{"two_dimensional_copies_row_above",
                 Kind::Fax3,
                 1,
                 10,
                 false,
                 "000000000001 1 1000 00011  000000000001 0 1 1",
                 4,
                 {0x1F, 0xC0, 0x1F, 0xC0},
                 4},
        HandCase{"two_dimensional_pass_mode",
                 Kind::Fax3,
                 1,
                 10,
                 false,
                 "000000000001 1 0111 11 1110  000000000001 0 0001 1",
                 4,
                 {0x30, 0, 0, 0},
                 4},
        HandCase{"two_dimensional_vertical_offsets",
                 Kind::Fax3,
                 1,
                 10,
                 false,
                 "000000000001 1 1000 00011  000000000001 0 011 010 1",
                 4,
                 {0x1F, 0xC0, 0x0F, 0x80},
                 4},
        HandCase{"two_dimensional_first_row_against_white",
                 Kind::Fax3,
                 1,
                 10,
                 false,
                 "000000000001 0 001 1000 00011",
                 2,
                 {0x1F, 0xC0},
                 2},
        // VL3 would put the change left of the row start: the row ends there.
        HandCase{"two_dimensional_left_of_row_start",
                 Kind::Fax3,
                 1,
                 10,
                 false,
                 "000000000001 1 00110101 11 10011  000000000001 0 0000010"
                 "  000000000001 1 1000 00011",
                 6,
                 {0xC0, 0x00, 0x00, 0x00, 0x1F, 0xC0},
                 6},
        HandCase{
            "no_eol_at_all", Kind::Fax3, 0, 10, false, "1000 00011 1000 00011", 4, {0, 0, 0, 0}, 0},
        HandCase{"empty_strip", Kind::Fax3, 0, 10, false, "", 4, {0, 0, 0, 0}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CCITTDecoderTest, ZeroWidthProducesNothing) {
  const auto data = Bits("000000000001 1000 00011");
  for (Kind kind : {Kind::Huffman, Kind::WordAligned, Kind::Fax3}) {
    auto decoder = MakeDecoder(kind, 0, 0, false);
    size_t produced = 1;
    DecodeGuarded(*decoder, data, 4, &produced);
    EXPECT_EQ(produced, 0u);
  }
}

// Random input must stay inside both buffers and end, whatever the sizes.
TEST(CCITTDecoderTest, GarbageStaysInsideBuffers) {
  std::mt19937 random(7);
  for (int round = 0; round < 600; ++round) {
    std::vector<uint8_t> source(random() % 200);
    for (auto& byte : source) {
      // Zero-heavy bytes reach the long codes and end-of-line paths.
      byte = static_cast<uint8_t>(random() & random());
    }
    const uint32_t width = 1 + random() % 3000;
    const size_t targetSize = random() % 800;
    const Kind kind = static_cast<Kind>(round % 3);
    auto decoder = MakeDecoder(kind, round % 5 == 0 ? 1 : 4, width, round % 2 == 0);
    size_t produced = 0;
    DecodeGuarded(*decoder, source, targetSize, &produced);
  }
}

// A picture whose rows hold every kind of run: none, short, make-up and
// extended make-up lengths, rows starting black, all white and all black.
test::TiffPicture RunPicture(uint32_t width, uint32_t height, uint32_t rowsPerStrip) {
  test::TiffPicture picture;
  picture.width = width;
  picture.height = height;
  picture.rowsPerStrip = rowsPerStrip;
  const size_t rowBytes = (width + 7) / 8;
  picture.rows.assign(rowBytes * height, 0);
  std::mt19937 random(width * 31 + height);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = picture.rows.data() + y * rowBytes;
    auto paint = [&](uint32_t from, uint32_t to) {
      for (uint32_t x = from; x < to; ++x) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    };
    switch (y % 6) {
      case 0:
        break;
      case 1:
        paint(0, width);
        break;
      case 2:
        for (uint32_t x = 1; x < width; x += 2) paint(x, x + 1);
        break;
      case 5: {
        // The row above shifted by up to 3 pixels, with a gap cut into it:
        // the vertical and pass modes of two-dimensional coding.
        const int shift = static_cast<int>(y % 7) - 3;
        const uint8_t* above = row - rowBytes;
        auto black = [&](int64_t x) {
          return x >= 0 && x < int64_t{width} && (above[x / 8] & (0x80 >> (x % 8)));
        };
        const uint32_t gap = random() % width;
        for (uint32_t x = 0; x < width; ++x) {
          if (black(int64_t{x} - shift) && (x < gap || x >= gap + 40)) paint(x, x + 1);
        }
        break;
      }
      default: {
        bool black = random() % 2 == 0;
        for (uint32_t x = 0; x < width;) {
          uint32_t run = 0;
          switch (random() % 4) {
            case 0:
              run = random() % 64;
              break;
            case 1:
              run = 64 + random() % 1700;
              break;
            case 2:
              run = 1700 + random() % 1200;
              break;
            default:
              run = random() % 8;
              break;
          }
          run = std::min(run, width - x);
          if (black) paint(x, x + run);
          x += run;
          black = !black;
        }
      }
    }
  }
  return picture;
}

struct LibtiffVariant {
  const char* name;
  uint16_t compression;
  uint16_t fillOrder;
  const char* tiffcpOptions;  // null: written by libtiff's encoder directly
};

class CCITTLibtiffTest : public testing::TestWithParam<std::tuple<LibtiffVariant, uint32_t>> {};

TEST_P(CCITTLibtiffTest, DecodesLibtiffStrips) {
  const auto& [variant, width] = GetParam();
  const std::string dir = test::MakeTempDir();
  const std::string plain = dir + "/plain.tif";
  const std::string coded = dir + "/coded.tif";
  const auto picture = RunPicture(width, 23, 7);
  if (variant.tiffcpOptions != nullptr) {
    test::WriteTiff(plain, picture, COMPRESSION_NONE);
    ASSERT_TRUE(test::RunTiffcp(variant.tiffcpOptions, plain, coded));
  } else {
    test::WriteTiff(coded, picture, variant.compression, variant.fillOrder);
  }
  const auto strips = test::ReadTiffStrips(coded);
  ASSERT_EQ(strips.compression, variant.compression);
  ASSERT_EQ(strips.fillOrder, variant.fillOrder);
  ASSERT_EQ(strips.raw.size(), 4u);
  const bool twoDimensional = variant.tiffcpOptions != nullptr &&
                              std::string(variant.tiffcpOptions).find("2d") != std::string::npos;
  ASSERT_EQ((strips.t4Options & 1) != 0, twoDimensional);

  const size_t rowBytes = (width + 7) / 8;
  for (size_t s = 0; s < strips.raw.size(); ++s) {
    // The rows libtiff encoded are the reference, and libtiff's decoding
    // must agree with them (except for the word-aligned form, whose own
    // output libtiff's decoder misreads).
    const size_t first = s * 7 * rowBytes;
    const std::vector<uint8_t> expected(
        picture.rows.begin() + first,
        picture.rows.begin() + std::min(picture.rows.size(), first + 7 * rowBytes));
    if (variant.compression != COMPRESSION_CCITTRLEW) {
      ASSERT_TRUE(strips.decoded[s] == expected);
    }
    std::unique_ptr<TStripDecoder> decoder;
    if (variant.compression == COMPRESSION_CCITTFAX3) {
      decoder = std::make_unique<TCCITTFax3Decoder>(strips.t4Options, width,
                                                    strips.fillOrder == FILLORDER_LSB2MSB);
    } else {
      decoder =
          std::make_unique<TCCITTHuffmanDecoder>(width, strips.fillOrder == FILLORDER_LSB2MSB,
                                                 variant.compression == COMPRESSION_CCITTRLEW);
    }
    size_t produced = 0;
    const auto target = DecodeGuarded(*decoder, strips.raw[s], expected.size(), &produced);
    EXPECT_EQ(produced, expected.size()) << "strip " << s;
    EXPECT_TRUE(target == expected) << "strip " << s << " differs from the picture";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Variants, CCITTLibtiffTest,
    testing::Combine(
        testing::Values(LibtiffVariant{"g3_1d", COMPRESSION_CCITTFAX3, 1, "-c g3:1d"},
                        LibtiffVariant{"g3_1d_fill", COMPRESSION_CCITTFAX3, 1, "-c g3:1d:fill"},
                        LibtiffVariant{"g3_1d_lsb2msb", COMPRESSION_CCITTFAX3, 2,
                                       "-f lsb2msb -c g3:1d"},
                        LibtiffVariant{"g3_1d_fill_lsb2msb", COMPRESSION_CCITTFAX3, 2,
                                       "-f lsb2msb -c g3:1d:fill"},
                        LibtiffVariant{"g3_2d", COMPRESSION_CCITTFAX3, 1, "-c g3:2d"},
                        LibtiffVariant{"g3_2d_fill_lsb2msb", COMPRESSION_CCITTFAX3, 2,
                                       "-f lsb2msb -c g3:2d:fill"},
                        LibtiffVariant{"huffman", COMPRESSION_CCITTRLE, 1, nullptr},
                        LibtiffVariant{"huffman_lsb2msb", COMPRESSION_CCITTRLE, 2, nullptr},
                        LibtiffVariant{"word_aligned", COMPRESSION_CCITTRLEW, 1, nullptr},
                        LibtiffVariant{"word_aligned_lsb2msb", COMPRESSION_CCITTRLEW, 2, nullptr}),
        testing::Values(1u, 9u, 1728u, 2600u, 6000u)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" +
             std::to_string(std::get<1>(info.param));
    });

}  // namespace
}  // namespace quorvex
