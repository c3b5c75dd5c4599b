#pragma once

// The orientation tag of an EXIF block, read without trusting any offset in
// it: the block is a small TIFF structure, and only its first directory is
// looked at.

#include <cstdint>
#include <span>

namespace quorvex {

// The value of tag 0x0112 in the first directory of `exif` (a TIFF header
// and what follows it, optionally after an "Exif\0\0" prefix): 1 to 8, or 1
// when the block is damaged, lacks the tag or holds another value.
int ExifOrientation(std::span<const uint8_t> exif);

}  // namespace quorvex
