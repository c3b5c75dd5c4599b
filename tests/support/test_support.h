#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "picture/bitmap.h"

namespace quorvex::test {

// A path below the shared real-world test data.
std::string TestData(const std::string& relative);

// Pixels as red, green, blue bytes, top row first.
struct RgbPicture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};

// The picture as Pillow decodes it; nullopt when Pillow refuses it. Upright:
// turned as its EXIF orientation says.
std::optional<RgbPicture> ReferencePixels(const std::string& path, bool upright = false);
// The picture as ImageMagick decodes it, at 8 bits a channel: for what
// Pillow gets wrong.
std::optional<RgbPicture> ImageMagickPixels(const std::string& path);
// The colours of a loaded bitmap, in any layout.
RgbPicture BitmapPixels(const TBitmap& bitmap);
// Empty when equal within `tolerance` per channel, else where they first differ.
std::string ComparePictures(const RgbPicture& expected, const RgbPicture& actual, int tolerance);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Every storage byte, padding included, top image row first.
std::vector<uint8_t> StorageBytes(const TBitmap& bitmap);
// A fresh empty directory below the system's temporary folder.
std::string MakeTempDir();

}  // namespace quorvex::test
