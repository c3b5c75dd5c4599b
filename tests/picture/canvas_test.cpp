#include "picture/canvas.h"

#include <gtest/gtest.h>

#include "picture/bitmap.h"

namespace quorvex {
namespace {

void Sized(TBitmap& bitmap, PixelLayout layout, int32_t width, int32_t height) {
  bitmap.SetLayout(layout);
  bitmap.SetImageWidth(width);
  bitmap.SetImageHeight(height);
}

TEST(Canvas, DrawGraphicPaintsAtItsOwnSizeOnWhiteAndClips) {
  TBitmap picture;
  Sized(picture, PixelLayout::Bits8, 2, 2);
  picture.ApplyPalette(TPalette{{255, 0, 0}, {0, 0, 255}});
  picture.RowAddress(0)[0] = 0;
  picture.RowAddress(0)[1] = 1;
  picture.RowAddress(1)[0] = 1;
  picture.RowAddress(1)[1] = 1;

  TBitmap working;
  Sized(working, PixelLayout::Bits24, 3, 3);
  working.Surface().DrawGraphic(0, 0, &picture);
  EXPECT_EQ(working.PixelColor(0, 0), 0xFF0000u);
  EXPECT_EQ(working.PixelColor(1, 0), 0x0000FFu);
  EXPECT_EQ(working.PixelColor(0, 1), 0x0000FFu);
  EXPECT_EQ(working.PixelColor(2, 2), 0xFFFFFFu);
  EXPECT_EQ(working.Layout(), PixelLayout::Bits24);

  working.Surface().DrawGraphic(2, 2, &picture);  // only the top-left pixel lands
  EXPECT_EQ(working.PixelColor(2, 2), 0xFF0000u);
  working.Surface().DrawGraphic(-1, -1, &picture);
  EXPECT_EQ(working.PixelColor(0, 0), 0x0000FFu);

  TBitmap empty;
  working.Surface().DrawGraphic(0, 0, &empty);
  working.Surface().DrawGraphic(0, 0, nullptr);
}

TEST(Canvas, DrawIntoStretchesAndTransparentPixelsLeaveTheBackground) {
  TBitmap picture;
  Sized(picture, PixelLayout::Bits24, 2, 1);
  uint8_t* row = picture.RowAddress(0);
  row[0] = 0, row[1] = 0, row[2] = 0;    // black: bottom-left, so transparent
  row[3] = 0, row[4] = 255, row[5] = 0;  // green
  TBitmap working;
  Sized(working, PixelLayout::Bits24, 4, 2);
  picture.DrawInto(working.Surface(), {0, 0, 4, 2});
  EXPECT_EQ(working.PixelColor(1, 1), 0x000000u);
  EXPECT_EQ(working.PixelColor(2, 0), 0x00FF00u);
  picture.SetTransparentFlag(true);
  TBitmap other;
  Sized(other, PixelLayout::Bits24, 4, 2);
  picture.DrawInto(other.Surface(), {0, 0, 4, 2});
  EXPECT_EQ(other.PixelColor(1, 1), 0xFFFFFFu);
  EXPECT_EQ(other.PixelColor(3, 1), 0x00FF00u);
}

TEST(Canvas, PaintRasterBlendsByAlpha) {
  TBitmap working;
  Sized(working, PixelLayout::Bits24, 3, 1);
  const uint8_t raster[] = {0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 0, 128};
  working.Surface().PaintRaster({0, 0, 3, 1}, raster, 3, 1, sizeof raster);
  EXPECT_EQ(working.PixelColor(0, 0), 0xFF0000u);
  EXPECT_EQ(working.PixelColor(1, 0), 0xFFFFFFu);
  EXPECT_EQ(working.PixelColor(2, 0), 0x7F7F7Fu);
}

TEST(Canvas, TheBrushColourFillsAResizeOnlyWhenPassed) {
  TBitmap bitmap;
  Sized(bitmap, PixelLayout::Bits24, 1, 1);
  bitmap.Surface().SetBrushColor(0x102030);
  bitmap.SetImageWidth(2);
  EXPECT_EQ(bitmap.PixelColor(1, 0), 0xFFFFFFu);
  bitmap.SetImageSize(3, 1, bitmap.Surface().BrushColor());
  EXPECT_EQ(bitmap.PixelColor(2, 0), 0x102030u);
  EXPECT_EQ(bitmap.PixelColor(1, 0), 0xFFFFFFu);
}

}  // namespace
}  // namespace quorvex
