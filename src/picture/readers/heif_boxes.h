#pragma once

// The little of a HEIF file's box structure that libheif does not tell:
// whether the primary picture is coded without colour.

#include <cstdint>
#include <span>

namespace quorvex {

// True when the HEVC or AV1 configuration of the primary item, or of the
// first item a derived primary (grid, crop) is made from, says monochrome.
// Anything unreadable answers false: it loads as colour, which shows a grey
// picture all the same.
bool PrimaryIsMonochrome(std::span<const uint8_t> file);

}  // namespace quorvex
