#pragma once

// LZW strips of TIFF files, compression 5.

#include <array>
#include <cstdint>

#include "picture/readers/strip_decoder.h"

namespace quorvex {

// Codes of 9 to 12 bits, most significant bit first, the width growing one
// code early (at 511, 1023 and 2047), with clear (256) and end (257) codes.
// Strips written by very old encoders, whose codes run least significant
// bit first and grow at 512, are told apart by their first bytes (a clear
// code in that order) and read as well.
//
// Each strip starts afresh. Output stops at the target size; a code that
// the table cannot hold yet, or input that runs out, ends the strip with
// the bytes decoded so far.
class TLZWDecoder : public TStripDecoder {
 public:
  size_t DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                     size_t targetSize) override;

  static constexpr int kMaxCodeBits = 12;
  static constexpr uint32_t kTableSize = 1u << kMaxCodeBits;

 private:
  template <bool kMsbFirst>
  size_t Decode(const uint8_t* source, size_t sourceSize, uint8_t* target, size_t targetSize);

  // Every string of the table lies whole in the output already decoded:
  // where it starts there and how long it is (codes from 258 on).
  std::array<uint32_t, kTableSize> start_{};
  std::array<uint16_t, kTableSize> length_{};
};

}  // namespace quorvex
