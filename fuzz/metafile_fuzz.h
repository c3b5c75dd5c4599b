#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/bitmap.h"
#include "picture/canvas.h"
#include "picture/exceptions.h"
#include "picture/platform/platform_graphics.h"
#include "picture/stream.h"

// fontconfig, which Qt's font database uses for text in metafiles, keeps a
// few allocations for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace quorvex::fuzz {

enum class MetafileKind { Windows, Enhanced };

// Reads arbitrary bytes as a metafile of one kind (inputs that the other
// library would take are left to its own target) and draws one that loads
// as the loader does, then once more onto a small 8-bit bitmap, which goes
// through the banded raster instead of the bitmap's own rows.
inline int FuzzMetafile(const uint8_t* data, size_t size, MetafileKind kind) {
  const bool enhanced = size >= 44 && data[0] == 1 && data[1] == 0 && data[2] == 0 &&
                        data[3] == 0 && data[40] == ' ' && data[41] == 'E' && data[42] == 'M' &&
                        data[43] == 'F';
  if (enhanced != (kind == MetafileKind::Enhanced)) return 0;
  TMemoryStream stream(data, size);
  TMetafile metafile;
  try {
    metafile.ReadFromStream(stream);
    // Pictures up to the cap are legal; large ones only slow the search.
    if (int64_t{metafile.ImageWidth()} * metafile.ImageHeight() > (int64_t{1} << 22)) return 0;
    TBitmap bitmap;
    bitmap.SetLayout(PixelLayout::Bits24);
    bitmap.SetImageWidth(metafile.ImageWidth());
    bitmap.SetImageHeight(metafile.ImageHeight());
    bitmap.Surface().DrawGraphic(0, 0, &metafile);
    TBitmap small;
    small.SetLayout(PixelLayout::Bits8);
    small.SetImageWidth(24);
    small.SetImageHeight(24);
    metafile.DrawInto(small.Surface(), {-5, -7, 29, 19});
  } catch (const Exception&) {
  }
  return 0;
}

}  // namespace quorvex::fuzz
