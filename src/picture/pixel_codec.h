#pragma once

#include <cstdint>
#include <vector>

#include "picture/bitmap.h"

namespace quorvex {

// Per-pixel colour access in any storage format. Slow on purpose-free paths
// only: layout changes, palette changes and display, never the transforms.
uint32_t ReadPixelColor(const TBitmapImage& image, const uint8_t* row, int32_t x);
uint32_t ReadPixelIndex(const uint8_t* row, int32_t x, uint16_t bits);
void WritePixelIndex(uint8_t* row, int32_t x, uint16_t bits, uint32_t index);
// Encodes a colour for a layout above 8 bits per pixel.
uint32_t EncodeDirectColor(const TBitmapImage& image, uint32_t rgb);
void WriteDirectPixel(uint8_t* row, int32_t x, uint16_t bits, uint32_t encoded);
// Index of the table entry nearest to rgb among the first `count` entries.
uint32_t NearestColorIndex(const std::vector<uint32_t>& table, uint32_t rgb, size_t count);
// Scales the bits under mask to 0..255.
uint8_t MaskedChannel(uint32_t value, uint32_t mask);

}  // namespace quorvex
