#include "picture/orientation.h"

#include <cstring>
#include <vector>

#include "picture/bitmap.h"

namespace quorvex {

namespace {

// Bits a pixel takes in a row; 0 for layouts that are not turned.
unsigned PixelBits(PixelLayout layout) {
  switch (layout) {
    case PixelLayout::Bits1:
      return 1;
    case PixelLayout::Bits4:
      return 4;
    case PixelLayout::Bits8:
      return 8;
    case PixelLayout::Bits24:
      return 24;
    case PixelLayout::Bits32:
      return 32;
    default:
      return 0;
  }
}

// Pixels of 1 or 4 bits, most significant first.
uint8_t PackedAt(const uint8_t* row, int32_t x, unsigned bits) {
  const size_t bit = size_t(x) * bits;
  return static_cast<uint8_t>((row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1));
}

void PutPacked(uint8_t* row, int32_t x, unsigned bits, uint8_t value) {
  const size_t bit = size_t(x) * bits;
  row[bit / 8] |= static_cast<uint8_t>(value << (8 - bits - bit % 8));
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
  const unsigned bits = PixelBits(bitmap.Layout());
  if (exifOrientation < 2 || exifOrientation > 8 || bits == 0 || bitmap.IsEmpty()) return;
  const int32_t w = bitmap.ImageWidth();
  const int32_t h = bitmap.ImageHeight();
  const bool swapped = exifOrientation >= 5;
  TBitmap upright;
  upright.Reallocate(swapped ? h : w, swapped ? w : h, bitmap.Layout(), bitmap.QueryPalette());
  const TBitmap& source = bitmap;
  std::vector<const uint8_t*> sourceRows(static_cast<size_t>(h));
  for (int32_t y = 0; y < h; ++y) sourceRows[static_cast<size_t>(y)] = source.RowAddress(y);
  const size_t bytes = bits / 8;
  for (int32_t y = 0; y < upright.ImageHeight(); ++y) {
    std::span<uint8_t> row = upright.RowBytes(y);
    // The padding too, so that every storage byte is written.
    std::memset(row.data(), 0, row.size());
    for (int32_t x = 0; x < upright.ImageWidth(); ++x) {
      const TSourcePoint from = SourceOf(exifOrientation, x, y, w, h);
      const uint8_t* fromRow = sourceRows[static_cast<size_t>(from.y)];
      if (bytes == 0) {
        PutPacked(row.data(), x, bits, PackedAt(fromRow, from.x, bits));
      } else {
        std::memcpy(row.data() + size_t(x) * bytes, fromRow + size_t(from.x) * bytes, bytes);
      }
    }
  }
  bitmap.TakeFrom(&upright);
}

}  // namespace quorvex
