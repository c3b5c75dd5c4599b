#include "picture/readers/exif_orientation.h"

#include <cstring>

#include "picture/byte_input.h"
#include "picture/exceptions.h"

namespace quorvex {

namespace {

constexpr int kUpright = 1;
constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kEntrySize = 12;

// Some writers keep the APP1 marker's identifier in front of the header.
std::span<const uint8_t> WithoutExifPrefix(std::span<const uint8_t> exif) {
  static constexpr uint8_t kPrefix[] = {'E', 'x', 'i', 'f', 0, 0};
  if (exif.size() >= sizeof kPrefix && std::memcmp(exif.data(), kPrefix, sizeof kPrefix) == 0) {
    return exif.subspan(sizeof kPrefix);
  }
  return exif;
}

int FindOrientation(TByteReader tiff) {
  const uint16_t order = tiff.U16LE();
  bool big = false;
  if (order == 0x4D4D) {
    big = true;
  } else if (order != 0x4949) {
    return kUpright;
  }
  if (tiff.U16(big) != 42) return kUpright;
  tiff.Seek(tiff.U32(big));
  const uint16_t entries = tiff.U16(big);
  for (uint16_t i = 0; i < entries; ++i) {
    TByteReader entry = tiff.Sub(tiff.Position(), kEntrySize);
    tiff.Skip(kEntrySize);
    if (entry.U16(big) != kOrientationTag) continue;
    if (entry.U16(big) != kTypeShort || entry.U32(big) == 0) return kUpright;
    const uint16_t value = entry.U16(big);
    return value >= 1 && value <= 8 ? value : kUpright;
  }
  return kUpright;
}

}  // namespace

int ExifOrientation(std::span<const uint8_t> exif) {
  try {
    return FindOrientation(TByteReader(WithoutExifPrefix(exif)));
  } catch (const EReadError&) {
    // A block cut short says nothing about orientation.
    return kUpright;
  }
}

}  // namespace quorvex
