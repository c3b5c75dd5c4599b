#pragma once

// Turning a finished picture upright by its EXIF orientation.

namespace quorvex {

class TBitmap;

// Rotates and mirrors `bitmap` (Bits1, Bits4, Bits8, Bits24 or Bits32) as
// EXIF or TIFF orientation 1 to 8 asks, so that it shows upright;
// orientations 5 to 8 swap width and height. 1 and values outside 1 to 8
// leave it as it is, as does any other layout. The palette stays.
void ApplyOrientation(TBitmap& bitmap, int exifOrientation);

// Whether the orientation (5 to 8) turns the picture a quarter, so that
// the upright picture has width and height swapped.
inline bool SwapsWidthAndHeight(int exifOrientation) {
  return exifOrientation >= 5 && exifOrientation <= 8;
}

}  // namespace quorvex
