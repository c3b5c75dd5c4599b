#include "picture/canvas.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "picture/bitmap.h"
#include "picture/pixel_codec.h"

namespace quorvex {

namespace {

// Writes colours into a bitmap row of any layout, matching palette layouts
// to their nearest table entry.
class PixelWriter {
 public:
  explicit PixelWriter(const TBitmapImage& image) : image_(image), bits_(image.StorageBits()) {}

  void Write(uint8_t* row, int32_t x, uint32_t rgb) {
    if (bits_ <= 8) {
      auto it = matches_.find(rgb);
      if (it == matches_.end()) {
        it = matches_
                 .emplace(rgb, NearestColorIndex(image_.colorTable, rgb, image_.colorTable.size()))
                 .first;
      }
      WritePixelIndex(row, x, bits_, it->second);
    } else if (bits_ == 24) {
      row[3 * x] = static_cast<uint8_t>(rgb);
      row[3 * x + 1] = static_cast<uint8_t>(rgb >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(rgb >> 16);
    } else {
      WriteDirectPixel(row, x, bits_, EncodeDirectColor(image_, rgb));
    }
  }

 private:
  const TBitmapImage& image_;
  uint16_t bits_;
  std::unordered_map<uint32_t, uint32_t> matches_;
};

// The target positions of rect that lie inside the bitmap, with the source
// index each one takes.
struct Span {
  int32_t first = 0;
  int32_t last = -1;  // inclusive
};

Span Clip(int32_t from, int32_t length, int32_t limit) {
  return {std::max(from, 0), std::min<int32_t>(from + length, limit) - 1};
}

int32_t SourceIndex(int32_t target, int32_t origin, int32_t targetLength, int32_t sourceLength) {
  return static_cast<int32_t>((int64_t{target - origin} * sourceLength) / targetLength);
}

}  // namespace

void TCanvas::DrawGraphic(int32_t x, int32_t y, const TGraphic* graphic) {
  if (graphic == nullptr || graphic->IsEmpty()) return;
  backgroundColor_ = brushColor_;
  textColor_ = fontColor_;
  graphic->DrawInto(*this, {x, y, x + graphic->ImageWidth(), y + graphic->ImageHeight()});
}

void TCanvas::PaintRaster(const TRect& rect, const uint8_t* pixels, int32_t width, int32_t height,
                          size_t stride) {
  if (width <= 0 || height <= 0 || rect.Width() <= 0 || rect.Height() <= 0) return;
  const Span ys = Clip(rect.top, rect.Height(), bitmap_.ImageHeight());
  const Span xs = Clip(rect.left, rect.Width(), bitmap_.ImageWidth());
  if (ys.last < ys.first || xs.last < xs.first) return;
  bitmap_.RowAddress(0);  // private, device-independent storage
  TBitmapImage& image = *bitmap_.image_;
  PixelWriter writer(image);
  for (int32_t ty = ys.first; ty <= ys.last; ++ty) {
    const uint8_t* src =
        pixels + static_cast<size_t>(SourceIndex(ty, rect.top, rect.Height(), height)) * stride;
    uint8_t* row = image.StorageRow(image.StorageRowOf(ty));
    for (int32_t tx = xs.first; tx <= xs.last; ++tx) {
      const uint8_t* p =
          src + 4 * static_cast<size_t>(SourceIndex(tx, rect.left, rect.Width(), width));
      const uint32_t alpha = p[3];
      if (alpha == 0) continue;
      uint32_t rgb = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
      if (alpha != 255) {
        const uint32_t under = ReadPixelColor(image, row, tx);
        uint32_t mixed = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
          const uint32_t s = (rgb >> shift) & 0xFF;
          const uint32_t d = (under >> shift) & 0xFF;
          mixed |= ((s * alpha + d * (255 - alpha) + 127) / 255) << shift;
        }
        rgb = mixed;
      }
      writer.Write(row, tx, rgb);
    }
  }
}

void TBitmap::DrawInto(TCanvas& canvas, const TRect& rect) const {
  const TBitmapImage& source = *image_;
  if (!source.HasPixels() || rect.Width() <= 0 || rect.Height() <= 0) return;
  // Drawing a bitmap onto itself works from a snapshot of the picture.
  const std::shared_ptr<TBitmapImage> keep = image_;
  source.Materialize();
  const int32_t width = source.width;
  const int32_t height = source.height;
  std::vector<uint8_t> raster(static_cast<size_t>(width) * 4);
  const uint32_t transparentColor = IsTransparent() ? PixelColor(0, height - 1) : 0;
  // One source row at a time, converted once, then stretched.
  int32_t converted = -1;
  const Span ys = Clip(rect.top, rect.Height(), canvas.Target().ImageHeight());
  for (int32_t ty = ys.first; ty <= ys.last; ++ty) {
    const int32_t sy = SourceIndex(ty, rect.top, rect.Height(), height);
    if (sy != converted) {
      const uint8_t* row = source.StorageRow(source.StorageRowOf(sy));
      for (int32_t x = 0; x < width; ++x) {
        const uint32_t rgb = ReadPixelColor(source, row, x);
        uint8_t* p = raster.data() + 4 * static_cast<size_t>(x);
        p[0] = static_cast<uint8_t>(rgb);
        p[1] = static_cast<uint8_t>(rgb >> 8);
        p[2] = static_cast<uint8_t>(rgb >> 16);
        p[3] = IsTransparent() && rgb == transparentColor ? 0 : 255;
      }
      converted = sy;
    }
    // Paint just this target row: a one-row rect whose source is this row.
    canvas.PaintRaster({rect.left, ty, rect.right, ty + 1}, raster.data(), width, 1, raster.size());
  }
}

TCanvas& TBitmap::Surface() {
  if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
  return *canvas_;
}

}  // namespace quorvex
