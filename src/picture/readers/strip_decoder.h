#pragma once

// The common face of the decoders that turn one stored block of a picture
// (a TIFF strip, a Photoshop row) into raw sample bytes.

#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvex {

class TStripDecoder {
 public:
  virtual ~TStripDecoder() = default;

  // Decodes the block [source, source + sourceSize) into at most
  // `targetSize` bytes at `target` and returns how many bytes it produced.
  // Never reads or writes outside the two ranges, whatever the input holds.
  virtual size_t DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                             size_t targetSize) = 0;
  // The same over spans.
  size_t DecodeBlock(std::span<const uint8_t> source, std::span<uint8_t> target) {
    return DecodeStrip(source.data(), source.size(), target.data(), target.size());
  }
};

}  // namespace quorvex
