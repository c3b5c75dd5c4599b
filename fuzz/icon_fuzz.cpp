#include <cstddef>
#include <cstdint>

#include "picture/bitmap.h"
#include "picture/canvas.h"
#include "picture/exceptions.h"
#include "picture/platform/platform_graphics.h"
#include "picture/stream.h"

// Reads arbitrary bytes as an icon file; an icon that loads is drawn as the
// loader draws it and once more stretched across the edges of a small
// bitmap, which reads every pixel of the chosen image.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorvex::TMemoryStream stream(data, size);
  quorvex::TIcon icon;
  try {
    icon.ReadFromStream(stream);
    if (int64_t{icon.ImageWidth()} * icon.ImageHeight() > (int64_t{1} << 20)) return 0;
    quorvex::TBitmap bitmap;
    bitmap.SetLayout(quorvex::PixelLayout::Bits24);
    bitmap.SetImageWidth(icon.ImageWidth());
    bitmap.SetImageHeight(icon.ImageHeight());
    bitmap.Surface().DrawGraphic(0, 0, &icon);
    quorvex::TBitmap small;
    small.SetLayout(quorvex::PixelLayout::Bits24);
    small.SetImageWidth(24);
    small.SetImageHeight(24);
    icon.DrawInto(small.Surface(), {-5, -7, 29, 19});
  } catch (const quorvex::Exception&) {
  }
  return 0;
}
