#include "picture/orientation.h"

#include <cstring>
#include <vector>

#include "picture/bitmap.h"

namespace quorvex {

namespace {

int BytesPerPixel(PixelLayout layout) {
  switch (layout) {
    case PixelLayout::Bits8:
      return 1;
    case PixelLayout::Bits24:
      return 3;
    case PixelLayout::Bits32:
      return 4;
    default:
      return 0;
  }
}

// Where in the stored picture (w by h) the shown pixel (x, y) comes from.
struct TSourcePoint {
  int32_t x;
  int32_t y;
};

TSourcePoint SourceOf(int orientation, int32_t x, int32_t y, int32_t w, int32_t h) {
  switch (orientation) {
    case 2:
      return {w - 1 - x, y};
    case 3:
      return {w - 1 - x, h - 1 - y};
    case 4:
      return {x, h - 1 - y};
    case 5:
      return {y, x};
    case 6:
      return {y, h - 1 - x};
    case 7:
      return {w - 1 - y, h - 1 - x};
    case 8:
      return {w - 1 - y, x};
    default:
      return {x, y};
  }
}

}  // namespace

void ApplyOrientation(TBitmap& bitmap, int exifOrientation) {
  const int bytes = BytesPerPixel(bitmap.Layout());
  if (exifOrientation < 2 || exifOrientation > 8 || bytes == 0 || bitmap.IsEmpty()) return;
  const int32_t w = bitmap.ImageWidth();
  const int32_t h = bitmap.ImageHeight();
  const bool swapped = exifOrientation >= 5;
  TBitmap upright;
  upright.Reallocate(swapped ? h : w, swapped ? w : h, bitmap.Layout(), bitmap.QueryPalette());
  const TBitmap& source = bitmap;
  std::vector<const uint8_t*> sourceRows(static_cast<size_t>(h));
  for (int32_t y = 0; y < h; ++y) sourceRows[static_cast<size_t>(y)] = source.RowAddress(y);
  for (int32_t y = 0; y < upright.ImageHeight(); ++y) {
    std::span<uint8_t> row = upright.RowBytes(y);
    // The padding too, so that every storage byte is written.
    std::memset(row.data(), 0, row.size());
    for (int32_t x = 0; x < upright.ImageWidth(); ++x) {
      const TSourcePoint from = SourceOf(exifOrientation, x, y, w, h);
      std::memcpy(row.data() + size_t(x) * bytes,
                  sourceRows[static_cast<size_t>(from.y)] + size_t(from.x) * bytes, bytes);
    }
  }
  bitmap.TakeFrom(&upright);
}

}  // namespace quorvex
