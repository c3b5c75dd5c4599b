#pragma once

#include <QImage>

namespace quorvex {

class TBitmap;

// The bitmap's colours as a display image; a null image for an empty bitmap.
QImage BitmapToImage(const TBitmap& bitmap);

}  // namespace quorvex
