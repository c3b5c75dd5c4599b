#include "picture/readers/packbits_decoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvex {
namespace {

struct PackbitsCase {
  const char* name;
  std::vector<uint8_t> input;
  size_t targetSize;
  std::vector<uint8_t> output;
  size_t consumed;
};

class PackbitsTest : public testing::TestWithParam<PackbitsCase> {};

TEST_P(PackbitsTest, DecodesWithinBothBuffers) {
  const auto& c = GetParam();
  // One guard byte on each side of the target catches writes outside it.
  std::vector<uint8_t> target(c.targetSize + 2, 0xEE);
  size_t consumed = 0;
  const size_t produced = TPackbitsRLEDecoder::Decode(c.input.data(), c.input.size(),
                                                      target.data() + 1, c.targetSize, &consumed);
  EXPECT_EQ(std::vector<uint8_t>(target.begin() + 1, target.begin() + 1 + produced), c.output);
  EXPECT_EQ(consumed, c.consumed);
  EXPECT_EQ(target.front(), 0xEE);
  EXPECT_EQ(target.back(), 0xEE);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackbitsTest,
    testing::Values(
        // The example of the TIFF 6.0 document.
        PackbitsCase{"tiff_example",
                     {0xFE, 0xAA, 0x02, 0x80, 0x00, 0x2A, 0xFD, 0xAA, 0x03, 0x80, 0x00, 0x2A, 0x22,
                      0xF7, 0xAA},
                     24,
                     {0xAA, 0xAA, 0xAA, 0x80, 0x00, 0x2A, 0xAA, 0xAA, 0xAA, 0xAA, 0x80, 0x00,
                      0x2A, 0x22, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA},
                     15},
        PackbitsCase{"minus_128_is_skipped", {0x80, 0x00, 0x07}, 4, {0x07}, 3},
        PackbitsCase{"literal_cut_to_target", {0x03, 1, 2, 3, 4}, 2, {1, 2}, 3},
        PackbitsCase{"run_cut_to_target", {0x81, 9}, 5, {9, 9, 9, 9, 9}, 2},
        PackbitsCase{"literal_cut_to_input", {0x05, 1, 2}, 8, {1, 2}, 3},
        PackbitsCase{"run_without_its_value", {0x00, 5, 0xFF}, 8, {5}, 3},
        PackbitsCase{"empty_input", {}, 4, {}, 0},
        PackbitsCase{"stops_when_target_full", {0x00, 1, 0x00, 2}, 1, {1}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex
