#include "picture/orientation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/readers/exif_orientation.h"
#include "picture/readers/reader_test_support.h"

namespace quorvex {
namespace {

using test::Bytes;

// The stored picture, 3 by 2:  a b c / d e f  (pixel values 1 to 6).
// How each orientation shows it, top row first.
const struct {
  int orientation;
  int width;
  std::vector<uint8_t> shown;
} kShown[] = {
    {1, 3, {1, 2, 3, 4, 5, 6}}, {2, 3, {3, 2, 1, 6, 5, 4}}, {3, 3, {6, 5, 4, 3, 2, 1}},
    {4, 3, {4, 5, 6, 1, 2, 3}}, {5, 2, {1, 4, 2, 5, 3, 6}}, {6, 2, {4, 1, 5, 2, 6, 3}},
    {7, 2, {6, 3, 5, 2, 4, 1}}, {8, 2, {3, 6, 2, 5, 1, 4}}, {0, 3, {1, 2, 3, 4, 5, 6}},
    {9, 3, {1, 2, 3, 4, 5, 6}},
};

// Every pixel of `bytes` bytes holds its value in each byte, the last one
// (alpha, where there is one) its value plus 100.
void Fill(TBitmap& bitmap, int bytes) {
  for (int y = 0; y < 2; ++y) {
    uint8_t* row = bitmap.RowAddress(y);
    for (int x = 0; x < 3; ++x) {
      const auto value = static_cast<uint8_t>(1 + x + 3 * y);
      for (int i = 0; i < bytes; ++i) row[x * bytes + i] = value;
      if (bytes == 4) row[x * bytes + 3] = static_cast<uint8_t>(value + 100);
    }
  }
}

TEST(Orientation, EveryLayoutTurnsAsTheTagSays) {
  const struct {
    PixelLayout layout;
    int bytes;
  } layouts[] = {{PixelLayout::Bits8, 1}, {PixelLayout::Bits24, 3}, {PixelLayout::Bits32, 4}};
  for (const auto& layout : layouts) {
    for (const auto& c : kShown) {
      SCOPED_TRACE(std::string(PixelLayoutName(layout.layout)) + " orientation " +
                   std::to_string(c.orientation));
      TBitmap bitmap;
      bitmap.SetLayout(layout.layout);
      if (layout.layout == PixelLayout::Bits8) bitmap.ApplyPalette(test::GrayRampPalette());
      bitmap.SetImageWidth(3);
      bitmap.SetImageHeight(2);
      Fill(bitmap, layout.bytes);
      ApplyOrientation(bitmap, c.orientation);
      ASSERT_EQ(bitmap.ImageWidth(), c.width);
      ASSERT_EQ(bitmap.ImageHeight(), 6 / c.width);
      EXPECT_EQ(bitmap.Layout(), layout.layout);
      for (int y = 0; y < bitmap.ImageHeight(); ++y) {
        const uint8_t* row = bitmap.RowAddress(y);
        for (int x = 0; x < c.width; ++x) {
          const uint8_t value = c.shown[static_cast<size_t>(y * c.width + x)];
          EXPECT_EQ(row[x * layout.bytes], value) << x << "," << y;
          if (layout.bytes == 4) {
            EXPECT_EQ(row[x * 4 + 3], value + 100) << x << "," << y;
          }
        }
      }
      if (layout.layout == PixelLayout::Bits8) {
        EXPECT_EQ(bitmap.QueryPalette(), test::GrayRampPalette());
      }
    }
  }
}

Bytes Tiff(bool big, std::vector<std::vector<uint16_t>> entries, uint32_t ifdOffset = 8) {
  Bytes b = big ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0};
  auto u16 = [&](uint16_t v) {
    if (big) {
      b.insert(b.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
    } else {
      b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    }
  };
  auto u32 = [&](uint32_t v) {
    u16(static_cast<uint16_t>(big ? v >> 16 : v));
    u16(static_cast<uint16_t>(big ? v : v >> 16));
  };
  u32(ifdOffset);
  u16(static_cast<uint16_t>(entries.size()));
  // Each entry: tag, type, count (one), value.
  for (const auto& e : entries) {
    u16(e[0]);
    u16(e[1]);
    u32(1);
    u16(e[2]);
    u16(0);
  }
  u32(0);
  return b;
}

TEST(ExifOrientation, TheFirstDirectorysTagOrUpright) {
  const Bytes prefix = {'E', 'x', 'i', 'f', 0, 0};
  const Bytes little6 = Tiff(false, {{0x010F, 2, 0}, {0x0112, 3, 6}});
  Bytes cut = Tiff(true, {{0x0112, 3, 8}});
  cut.resize(cut.size() - 8);
  const struct {
    const char* name;
    Bytes exif;
    int orientation;
  } cases[] = {
      {"little-endian, after another tag", little6, 6},
      {"big-endian", Tiff(true, {{0x0112, 3, 8}}), 8},
      {"after the APP1 identifier", test::Concat({prefix, little6}), 6},
      {"no orientation tag", Tiff(false, {{0x0100, 3, 6}}), 1},
      {"not a short", Tiff(false, {{0x0112, 4, 6}}), 1},
      {"out of range", Tiff(false, {{0x0112, 3, 9}}), 1},
      {"zero", Tiff(false, {{0x0112, 3, 0}}), 1},
      {"directory cut short", cut, 1},
      {"directory past the end", Tiff(false, {{0x0112, 3, 6}}, 4000), 1},
      {"no TIFF header", test::Text("MX\0*"), 1},
      {"empty", {}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExifOrientation(c.exif), c.orientation);
  }
}

}  // namespace
}  // namespace quorvex
