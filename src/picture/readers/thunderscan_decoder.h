#pragma once

// ThunderScan 4-bit picture code (TIFF compression 32809).

#include <cstdint>

#include "picture/readers/strip_decoder.h"

namespace quorvex {

class TThunderScanDecoder : public TStripDecoder {
 public:
  explicit TThunderScanDecoder(uint32_t width);
  size_t DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                     size_t targetSize) override;

 private:
  uint32_t width_;
};

}  // namespace quorvex
