#pragma once

// The run-length codes of BMP files: RLE8 (8 bits a pixel) and RLE4 (4 bits).

#include <cstdint>

namespace quorvex {

class TBufferedInput;

// Where decoded rows go: `height` rows of `stride` bytes, zeroed by the
// caller, the file's first row at the first address. Pixels the codes skip
// or never reach keep index 0.
struct TBmpRunLengthTarget {
  uint8_t* storage = nullptr;
  uint64_t stride = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bitCount = 8;  // 8 for RLE8, 4 for RLE4
};

// Decodes codes from `input` into `target` until the end-of-picture code,
// the last row or the end of the input. Two-byte codes: a count n above 0
// repeats the next byte (RLE4: its two pixels in turn) n times; 0, 0 ends the
// row; 0, 1 ends the picture; 0, 2, dx, dy moves dx pixels right and dy rows
// on; 0, n from 3 on is followed by n pixels as they are, padded to an even
// number of bytes. Pixels past a row's end are dropped, never wrapped.
void DecodeBmpRunLength(TBufferedInput& input, const TBmpRunLengthTarget& target);

}  // namespace quorvex
