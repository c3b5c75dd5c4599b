#include "picture/readers/packbits_decoder.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace quorvex {

size_t TPackbitsRLEDecoder::Decode(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                   size_t targetSize, size_t* consumed) {
  const std::span<const uint8_t> in(source, sourceSize);
  const std::span<uint8_t> out(target, targetSize);
  size_t read = 0;
  size_t written = 0;
  while (read < in.size() && written < out.size()) {
    const auto control = static_cast<int8_t>(in[read++]);
    if (control >= 0) {
      const size_t count = std::min({size_t(control) + 1, out.size() - written, in.size() - read});
      std::memcpy(out.data() + written, in.data() + read, count);
      read += count;
      written += count;
    } else if (control != -128) {
      if (read == in.size()) break;
      const size_t count = std::min(size_t(1 - control), out.size() - written);
      std::memset(out.data() + written, in[read++], count);
      written += count;
    }
  }
  if (consumed != nullptr) *consumed = read;
  return written;
}

}  // namespace quorvex
