// The row filters, checked by round trip: rows filtered the way the PNG
// format defines it come back as they were.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "picture/readers/png_image_data.h"
#include "picture/readers/png_test_files.h"

namespace quorvex {
namespace {

TEST(PngFilters, EveryFilterAndPixelWidthRoundTrips) {
  std::mt19937 random(7);
  for (unsigned bpp : {1u, 2u, 3u, 4u, 6u, 8u}) {
    // Lengths that are and are not whole pixels; narrow value ranges make
    // the Paeth distances tie often, which is where predictors differ.
    for (size_t length : {size_t{1}, size_t{5}, size_t{bpp}, size_t{97}, size_t{1000}}) {
      for (int range : {4, 256}) {
        std::uniform_int_distribution<int> value(0, range - 1);
        std::vector<uint8_t> prev(length), row(length);
        for (auto& v : prev) v = static_cast<uint8_t>(value(random));
        for (auto& v : row) v = static_cast<uint8_t>(value(random));
        for (int type = 0; type <= 4; ++type) {
          SCOPED_TRACE(::testing::Message() << "bpp " << bpp << " length " << length << " type "
                                            << type << " range " << range);
          const std::vector<uint8_t> filtered = test::FilterRow(type, row, prev, bpp);
          std::vector<uint8_t> out(length, 0xEE);
          UnfilterPNGRow(static_cast<uint8_t>(type), filtered.data(), out.data(), prev.data(),
                         length, bpp);
          EXPECT_EQ(out, row);
          std::vector<uint8_t> inPlace = filtered;
          UnfilterPNGRow(static_cast<uint8_t>(type), inPlace.data(), inPlace.data(), prev.data(),
                         length, bpp);
          EXPECT_EQ(inPlace, row);
        }
      }
    }
  }
}

TEST(PngFilters, UnknownFilterTypeLeavesTheBytes) {
  const std::vector<uint8_t> prev = {9, 9, 9, 9};
  const std::vector<uint8_t> row = {1, 2, 3, 4};
  std::vector<uint8_t> out(4);
  UnfilterPNGRow(5, row.data(), out.data(), prev.data(), 4, 1);
  EXPECT_EQ(out, row);
  std::vector<uint8_t> inPlace = row;
  UnfilterPNGRow(255, inPlace.data(), inPlace.data(), prev.data(), 4, 1);
  EXPECT_EQ(inPlace, row);
}

TEST(PngFilters, Adam7PassSizesOfSmallImages) {
  // Width 1 has no column in passes 2, 4 and 6; height 1 no row in 3, 5, 7.
  const uint32_t widths1[7] = {1, 0, 1, 0, 1, 0, 1};
  const uint32_t heights1[7] = {1, 1, 0, 1, 0, 1, 0};
  for (int p = 0; p < 7; ++p) {
    EXPECT_EQ(Adam7PassWidth(kAdam7Passes[p], 1), widths1[p]) << "pass " << p + 1;
    EXPECT_EQ(Adam7PassHeight(kAdam7Passes[p], 1), heights1[p]) << "pass " << p + 1;
  }
  // Every pixel of a 13 x 13 image belongs to exactly one pass.
  uint32_t pixels = 0;
  for (const TAdam7Pass& pass : kAdam7Passes) {
    pixels += Adam7PassWidth(pass, 13) * Adam7PassHeight(pass, 13);
  }
  EXPECT_EQ(pixels, 169u);
}

}  // namespace
}  // namespace quorvex
