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
// Returns the one it replaces. Only loads on the thread that set it show it.
TBusyCursor SetBusyCursor(TBusyCursor cursor);

enum class TJPEGScale;
// The reduction a JPEG picture of this size is decoded at.
using TJPEGScaleRule = std::function<TJPEGScale(int32_t width, int32_t height)>;

// Loads a picture file: recognised by its content first, by its extension
// otherwise. The picture container receives the picture, the working-bitmap
// slot a fresh bitmap holding it (Bits24 for pictures that are drawn: JPEG,
// icons, metafiles, Targa files taken by extension). The slot is replaced
// also when loading fails, which leaves it empty; errors propagate.
// With a rule, a JPEG picture is decoded at the reduction it gives and the
// slot holds the reduced picture; the container keeps the full size.
void LoadPicture(const std::string& fileName, TPicture& picture,
                 std::unique_ptr<TBitmap>& workingBitmap, const TJPEGScaleRule& rule = {});

// Whether LoadPicture takes this file as a BMP file read by TBitmap itself.
// Raises EFOpenError when the file cannot be opened.
bool LoadsAsBitmap(const std::string& fileName);

// The same from bytes in memory; the file name only gives the extension.
void LoadPictureFromMemory(const uint8_t* data, size_t size, const std::string& fileName,
                           TPicture& picture, std::unique_ptr<TBitmap>& workingBitmap);

}  // namespace quorvex
