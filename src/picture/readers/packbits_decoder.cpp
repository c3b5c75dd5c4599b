#include "picture/readers/packbits_decoder.h"

#include <algorithm>
#include <cstring>

namespace quorvex {

size_t TPackbitsRLEDecoder::Decode(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                   size_t targetSize, size_t* consumed) {
  size_t in = 0;
  size_t out = 0;
  while (in < sourceSize && out < targetSize) {
    const auto control = static_cast<int8_t>(source[in++]);
    if (control >= 0) {
      const size_t count = std::min({size_t(control) + 1, targetSize - out, sourceSize - in});
      std::memcpy(target + out, source + in, count);
      in += count;
      out += count;
    } else if (control != -128) {
      if (in == sourceSize) break;
      const size_t count = std::min(size_t(1 - control), targetSize - out);
      std::memset(target + out, source[in++], count);
      out += count;
    }
  }
  if (consumed != nullptr) *consumed = in;
  return out;
}

}  // namespace quorvex
