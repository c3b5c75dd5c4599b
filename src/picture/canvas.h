#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/graphic.h"

namespace quorvex {

class TBitmap;

// The drawing surface of a bitmap. Graphics paint themselves onto it
// (DrawInto) through PaintRaster; the loader draws pictures that are not
// bitmaps onto a white Bits24 bitmap with DrawGraphic.
class TCanvas {
 public:
  explicit TCanvas(TBitmap& bitmap) : bitmap_(bitmap) {}

  TBitmap& Target() { return bitmap_; }
  // Colours as 0xRRGGBB. The brush colour is the background that code
  // resizing the bitmap it draws on passes to SetImageSize; the background
  // and text colours are what monochrome graphics are painted in.
  uint32_t BrushColor() const { return brushColor_; }
  void SetBrushColor(uint32_t rgb) { brushColor_ = rgb; }
  uint32_t FontColor() const { return fontColor_; }
  void SetFontColor(uint32_t rgb) { fontColor_ = rgb; }
  uint32_t BackgroundColor() const { return backgroundColor_; }
  uint32_t TextColor() const { return textColor_; }

  // Lets the graphic paint itself at (x, y) at its own size. Nothing
  // happens for an absent or empty graphic.
  void DrawGraphic(int32_t x, int32_t y, const TGraphic* graphic);
  // Stretches a raster of blue, green, red, alpha pixels into rect, nearest
  // neighbour, clipped to the bitmap. Alpha 255 covers, 0 leaves what is
  // there, anything between blends.
  void PaintRaster(const TRect& rect, const uint8_t* pixels, int32_t width, int32_t height,
                   size_t stride);

 private:
  TBitmap& bitmap_;
  uint32_t brushColor_ = 0xFFFFFF;
  uint32_t fontColor_ = 0x000000;
  uint32_t backgroundColor_ = 0xFFFFFF;
  uint32_t textColor_ = 0x000000;
};

}  // namespace quorvex
