#include "core/keystream.h"

namespace quorvex {

void Keystream::xorBytes(const uint8_t* src, uint8_t* dst, size_t count) {
  uint32_t s = state_;
  for (size_t i = 0; i < count; ++i) {
    s = s * kMultiplier + kIncrement;
    dst[i] = static_cast<uint8_t>(src[i] ^ (s >> 24));
  }
  state_ = s;
}

}  // namespace quorvex
