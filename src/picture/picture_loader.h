#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "picture/bitmap.h"
#include "picture/picture.h"

namespace quorvex {

class TStream;

// Shows the busy cursor (true) and the normal one again (false). The window
// sets it; without one, loading shows nothing.
using TBusyCursor = std::function<void(bool busy)>;
// Returns the one it replaces.
TBusyCursor SetBusyCursor(TBusyCursor cursor);

// Loads a picture file: recognised by its content first, by its extension
// otherwise. The picture container receives the picture, the working-bitmap
// slot a fresh bitmap holding it (Bits24 for pictures that are drawn: JPEG,
// icons, metafiles, Targa files taken by extension). The slot is replaced
// also when loading fails, which leaves it empty; errors propagate.
void LoadPicture(const std::string& fileName, TPicture& picture,
                 std::unique_ptr<TBitmap>& workingBitmap);

// The same from bytes in memory; the file name only gives the extension.
void LoadPictureFromMemory(const uint8_t* data, size_t size, const std::string& fileName,
                           TPicture& picture, std::unique_ptr<TBitmap>& workingBitmap);

}  // namespace quorvex
