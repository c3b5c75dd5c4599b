#include "widgets/bitmap_image.h"

#include <cstring>

#include "picture/bitmap.h"

namespace quorvex {

QImage BitmapToImage(const TBitmap& bitmap) {
  if (bitmap.IsEmpty()) return {};
  const int width = bitmap.ImageWidth();
  const int height = bitmap.ImageHeight();
  if (width <= 0 || height <= 0) return {};
  const PixelLayout layout = bitmap.Layout();
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) return {};
  // Plain BGR storage converts row by row; every other layout goes through
  // the bitmap's own colour lookup.
  const bool plain24 = layout == PixelLayout::Bits24;
  const bool plain32 = layout == PixelLayout::Bits32 && bitmap.Compression() == kCompressionNone;
  for (int y = 0; y < height; ++y) {
    auto* out = reinterpret_cast<uint32_t*>(image.scanLine(y));
    if (plain24 || plain32) {
      const uint8_t* row = bitmap.RowAddress(y);
      const int step = plain24 ? 3 : 4;
      for (int x = 0; x < width; ++x, row += step) {
        out[x] = 0xFF000000u | (uint32_t{row[2]} << 16) | (uint32_t{row[1]} << 8) | row[0];
      }
    } else {
      for (int x = 0; x < width; ++x) out[x] = 0xFF000000u | bitmap.PixelColor(x, y);
    }
  }
  return image;
}

}  // namespace quorvex
