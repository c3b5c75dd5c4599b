#pragma once

// The little of a HEIF file's box structure that libheif does not tell:
// whether the primary picture is coded without colour.

#include <cstdint>
#include <span>

namespace quorvex {

// True when the primary item's own HEVC or AV1 configuration says
// monochrome. Anything unreadable, and pictures made of tiles, answer false:
// they load as colour, which shows them all the same.
bool PrimaryIsMonochrome(std::span<const uint8_t> file);

}  // namespace quorvex
