#pragma once

// PackBits run-length code (TIFF compression 32773 and Photoshop rows).

#include "picture/readers/strip_decoder.h"

namespace quorvex {

// A control byte n from 0 to 127 copies the next n + 1 bytes; -127 to -1
// repeats the next byte 1 - n times; -128 is skipped. Both counts are cut to
// the output still needed and to the input left.
class TPackbitsRLEDecoder : public TStripDecoder {
 public:
  size_t DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                     size_t targetSize) override {
    return Decode(source, sourceSize, target, targetSize);
  }

  // As DecodeStrip; `consumed`, when given, receives the input bytes used.
  static size_t Decode(const uint8_t* source, size_t sourceSize, uint8_t* target, size_t targetSize,
                       size_t* consumed = nullptr);
};

}  // namespace quorvex
