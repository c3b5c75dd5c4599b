#include "core/keystream.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/parse_integer.h"
#include "picture/exceptions.h"

namespace quorvex {
namespace {

std::vector<uint32_t> FirstBytes(int32_t seed, size_t count) {
  Keystream::setSeed(seed);
  std::vector<uint32_t> bytes;
  for (size_t i = 0; i < count; ++i) bytes.push_back(Keystream::nextBelow(256));
  return bytes;
}

TEST(Keystream, FirstBytesArePinned) {
  // Worked out by hand from state := state * 134775813 + 1, byte := state >> 24.
  const struct {
    int32_t seed;
    std::vector<uint32_t> bytes;
  } cases[] = {
      {0, {0x00, 0x08, 0xDC, 0x33, 0x45, 0xAB, 0x51, 0x29, 0x5F, 0x6C, 0x14, 0x79}},
      {1, {0x08, 0xDC, 0x33, 0x45, 0xAB, 0x51, 0x29, 0x5F, 0x6C, 0x14, 0x79, 0x12}},
      {614052, {0xEA, 0xA6, 0x93, 0xCE, 0x29, 0xF1, 0x22, 0x0A, 0x7D, 0x53, 0x98, 0x77}},
      {-1, {0xF7, 0x33, 0x84, 0x21, 0xDF, 0x06, 0x79, 0xF3, 0x51, 0xC4, 0xB0, 0xE1}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FirstBytes(c.seed, c.bytes.size()), c.bytes) << "seed " << c.seed;
  }
}

TEST(Keystream, SeedZeroGivesZeroThenTheSequenceOfSeedOne) {
  const auto zero = FirstBytes(0, 1001);
  const auto one = FirstBytes(1, 1000);
  EXPECT_EQ(zero[0], 0u);
  EXPECT_EQ(std::vector<uint32_t>(zero.begin() + 1, zero.end()), one);
}

TEST(Keystream, StateIsTheSeedPatternAndAdvancesBeforeTheDraw) {
  Keystream::setSeed(-1);
  EXPECT_EQ(Keystream::state(), 0xFFFFFFFFu);
  Keystream::setSeed(7);
  Keystream::nextBelow(256);
  EXPECT_EQ(Keystream::state(), 7u * 134775813u + 1u);
  // Any range takes the high half of the 64-bit product.
  Keystream::setSeed(7);
  const uint32_t value = Keystream::nextBelow(1000);
  EXPECT_EQ(value, static_cast<uint32_t>((uint64_t{7u * 134775813u + 1u} * 1000) >> 32));
}

TEST(Keystream, XorBytesDrawsOneByteEachInOrder) {
  std::vector<uint8_t> source(37);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7);
  const auto expected = FirstBytes(614052, source.size());
  const uint32_t stateAfter = Keystream::state();
  Keystream::setSeed(614052);
  std::vector<uint8_t> out(source.size());
  Keystream::xorBytes(source.data(), out.data(), out.size());
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], source[i] ^ expected[i]) << i;
  EXPECT_EQ(Keystream::state(), stateAfter);
}

TEST(ParseInteger, AcceptedForms) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"614052", 614052},
      {"   -42", -42},
      {"000123", 123},
      {"+17", 17},
      {"0", 0},
      {"$1F", 31},
      {"x1f", 31},
      {"X1F", 31},
      {"0x1f", 31},
      {"0XaB", 171},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"$000000000001", 1},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-0", 0},
      {"  $10", 16},
      {"0000000000000000000000009", 9},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseInteger(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(ParseInteger, RejectedFormsNameTheWholeText) {
  const char* cases[] = {
      "",           "   ",         "-",           "+",    "$",    "0x",   "x",     "$100000000",
      "2147483648", "-2147483649", "99999999999", "12 ",  "- 12", "-$10", "+0x10", "1e3",
      "1.0",        "\t12",        "12a",         "0x1G", "--1",  " + 1",
  };
  for (const char* text : cases) {
    try {
      parseInteger(text);
      ADD_FAILURE() << '"' << text << "\" was accepted";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(text) + "' is not a valid integer value");
    }
  }
}

TEST(ParseInteger, HexOfMinusOneSeedsLikeMinusOne) {
  EXPECT_EQ(FirstBytes(parseInteger("$FFFFFFFF"), 16), FirstBytes(-1, 16));
}

}  // namespace
}  // namespace quorvex
