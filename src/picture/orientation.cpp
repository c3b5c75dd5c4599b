#include "picture/orientation.h"

#include <algorithm>
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

// Where in the stored picture (w by h) the shown pixel (x, y) comes from:
// source column = x0 + x * dxx + y * dxy, source row = y0 + x * dyx + y * dyy.
struct TSourceMap {
  int32_t x0, dxx, dxy;
  int32_t y0, dyx, dyy;
};

TSourceMap SourceMapOf(int orientation, int32_t w, int32_t h) {
  switch (orientation) {
    case 2:
      return {w - 1, -1, 0, 0, 0, 1};
    case 3:
      return {w - 1, -1, 0, h - 1, 0, -1};
    case 4:
      return {0, 1, 0, h - 1, 0, -1};
    case 5:
      return {0, 0, 1, 0, 1, 0};
    case 6:
      return {0, 0, 1, h - 1, -1, 0};
    case 7:
      return {w - 1, 0, -1, h - 1, -1, 0};
    case 8:
      return {w - 1, 0, -1, 0, 1, 0};
    default:
      return {0, 1, 0, 0, 0, 1};
  }
}

// Square tiles keep both the rows read and the rows written in the cache
// when a quarter turn reads the source down its columns.
constexpr int32_t kTile = 64;

template <int N>
void CopyTurned(const TSourceMap& m, const std::vector<const uint8_t*>& sourceRows,
                TBitmap& upright) {
  const int32_t width = upright.ImageWidth();
  const int32_t height = upright.ImageHeight();
  for (int32_t ty = 0; ty < height; ty += kTile) {
    const int32_t yEnd = std::min(ty + kTile, height);
    for (int32_t tx = 0; tx < width; tx += kTile) {
      const int32_t xEnd = std::min(tx + kTile, width);
      for (int32_t y = ty; y < yEnd; ++y) {
        uint8_t* out = upright.RowAddress(y) + size_t(tx) * N;
        int32_t sx = m.x0 + tx * m.dxx + y * m.dxy;
        int32_t sy = m.y0 + tx * m.dyx + y * m.dyy;
        for (int32_t x = tx; x < xEnd; ++x, out += N, sx += m.dxx, sy += m.dyx) {
          std::memcpy(out, sourceRows[static_cast<size_t>(sy)] + size_t(sx) * N, N);
        }
      }
    }
  }
}

// Packed pixels are rare (fax and 4-bit pages), so they go one at a time.
void CopyTurnedPacked(const TSourceMap& m, const std::vector<const uint8_t*>& sourceRows,
                      unsigned bits, TBitmap& upright) {
  for (int32_t y = 0; y < upright.ImageHeight(); ++y) {
    const std::span<uint8_t> row = upright.RowBytes(y);
    std::memset(row.data(), 0, row.size());
    int32_t sx = m.x0 + y * m.dxy;
    int32_t sy = m.y0 + y * m.dyy;
    for (int32_t x = 0; x < upright.ImageWidth(); ++x, sx += m.dxx, sy += m.dyx) {
      PutPacked(row.data(), x, bits, PackedAt(sourceRows[static_cast<size_t>(sy)], sx, bits));
    }
  }
}

}  // namespace

void ApplyOrientation(TBitmap& bitmap, int exifOrientation) {
  const unsigned bits = PixelBits(bitmap.Layout());
  if (exifOrientation < 2 || exifOrientation > 8 || bits == 0 || bitmap.IsEmpty()) return;
  const int32_t w = bitmap.ImageWidth();
  const int32_t h = bitmap.ImageHeight();
  const bool swapped = SwapsWidthAndHeight(exifOrientation);
  TBitmap upright;
  upright.Reallocate(swapped ? h : w, swapped ? w : h, bitmap.Layout(), bitmap.QueryPalette());
  const TBitmap& source = bitmap;
  std::vector<const uint8_t*> sourceRows(static_cast<size_t>(h));
  for (int32_t y = 0; y < h; ++y) sourceRows[static_cast<size_t>(y)] = source.RowAddress(y);
  const TSourceMap map = SourceMapOf(exifOrientation, w, h);
  if (bits < 8) {
    CopyTurnedPacked(map, sourceRows, bits, upright);
    bitmap.TakeFrom(&upright);
    return;
  }
  const size_t bytes = bits / 8;
  switch (bytes) {
    case 1:
      CopyTurned<1>(map, sourceRows, upright);
      break;
    case 3:
      CopyTurned<3>(map, sourceRows, upright);
      break;
    default:
      CopyTurned<4>(map, sourceRows, upright);
      break;
  }
  // The padding too, so that every storage byte is written.
  const size_t pixelBytes = size_t(upright.ImageWidth()) * bytes;
  for (int32_t y = 0; y < upright.ImageHeight(); ++y) {
    const std::span<uint8_t> row = upright.RowBytes(y);
    std::fill(row.begin() + static_cast<ptrdiff_t>(pixelBytes), row.end(), uint8_t{0});
  }
  bitmap.TakeFrom(&upright);
}

}  // namespace quorvex
