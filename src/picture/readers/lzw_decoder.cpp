#include "picture/readers/lzw_decoder.h"

#include <algorithm>
#include <cstring>

#include "picture/byte_input.h"

namespace quorvex {

namespace {

constexpr uint32_t kClearCode = 256;
constexpr uint32_t kEndCode = 257;
constexpr uint32_t kFirstFreeCode = 258;
constexpr int kMinCodeBits = 9;

// Codes straight from the strip through a 64-bit window. Bits past the end
// of the data are never handed out as a code.
template <bool kMsbFirst>
class TCodeReader {
 public:
  TCodeReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // The next code of `bits` bits, or false when the data has fewer left.
  bool Next(int bits, uint32_t& code) {
    if (count_ < bits) {
      Refill();
      if (count_ < bits) return false;
    }
    if constexpr (kMsbFirst) {
      code = static_cast<uint32_t>(window_ >> (64 - bits));
      window_ <<= bits;
    } else {
      code = static_cast<uint32_t>(window_ & ((uint64_t{1} << bits) - 1));
      window_ >>= bits;
    }
    count_ -= bits;
    return true;
  }

 private:
  void Refill() {
    if (position_ + 8 <= size_) {
      // Takes whole bytes up to 56..63 bits; the bits loaded beyond those
      // are the data's own next bits, so the next load ORs the same values.
      if constexpr (kMsbFirst) {
        window_ |= LoadU64BE(data_ + position_) >> count_;
      } else {
        window_ |= LoadU64LE(data_ + position_) << count_;
      }
      position_ += static_cast<size_t>((63 - count_) >> 3);
      count_ |= 56;
      return;
    }
    while (count_ <= 56 && position_ < size_) {
      const uint64_t byte = data_[position_++];
      if constexpr (kMsbFirst) {
        window_ |= byte << (56 - count_);
      } else {
        window_ |= byte << count_;
      }
      count_ += 8;
    }
  }

  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
  uint64_t window_ = 0;
  int count_ = 0;
};

// Copies a string of the output that ends at or before `to` (the two never
// overlap); short ones as one fixed-size block when there is room for it.
inline void CopyString(uint8_t* to, const uint8_t* from, size_t length, const uint8_t* end) {
  const auto distance = static_cast<size_t>(to - from);
  if (length <= 16 && distance >= 16 && end - to >= 16) {
    std::memcpy(to, from, 16);
  } else if (length <= 8 && distance >= 8 && end - to >= 8) {
    std::memcpy(to, from, 8);
  } else {
    std::memcpy(to, from, length);
  }
}

// Strips of the old encoders start with a clear code least significant bit
// first: a zero byte, then a byte with its lowest bit set.
bool IsLsbFirst(const uint8_t* source, size_t sourceSize) {
  return sourceSize >= 2 && source[0] == 0 && (source[1] & 1) != 0;
}

}  // namespace

size_t TLZWDecoder::DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                size_t targetSize) {
  if (source == nullptr || target == nullptr) return 0;
  // Table positions are 32-bit; no strip of a bitmap comes near that.
  targetSize = std::min<size_t>(targetSize, UINT32_MAX);
  return IsLsbFirst(source, sourceSize) ? Decode<false>(source, sourceSize, target, targetSize)
                                        : Decode<true>(source, sourceSize, target, targetSize);
}

template <bool kMsbFirst>
size_t TLZWDecoder::Decode(const uint8_t* source, size_t sourceSize, uint8_t* target,
                           size_t targetSize) {
  // The usual codes widen one code before the table needs it; the old ones
  // when it does.
  constexpr uint32_t kEarly = kMsbFirst ? 1 : 0;
  TCodeReader<kMsbFirst> reader(source, sourceSize);
  const uint8_t* const end = target + targetSize;
  size_t out = 0;
  int bits = kMinCodeBits;
  uint32_t next = kFirstFreeCode;
  uint32_t widenAt = (1u << bits) - kEarly;
  // The string decoded last, which the next one extends by a byte; none
  // right after a clear code.
  bool hasPrevious = false;
  size_t previousStart = 0;
  size_t previousLength = 0;
  uint32_t code = 0;
  while (reader.Next(bits, code)) {
    if (code == kClearCode) {
      bits = kMinCodeBits;
      next = kFirstFreeCode;
      widenAt = (1u << bits) - kEarly;
      hasPrevious = false;
      continue;
    }
    if (code == kEndCode) break;
    const size_t start = out;
    size_t length;
    if (code < kClearCode) {
      if (out == targetSize) break;
      target[out++] = static_cast<uint8_t>(code);
      length = 1;
    } else if (code < next) {
      length = length_[code];
      if (length > targetSize - out) {
        std::memcpy(target + out, target + start_[code], targetSize - out);
        out = targetSize;
        break;
      }
      CopyString(target + out, target + start_[code], length, end);
      out += length;
    } else if (code == next && hasPrevious) {
      // The code being defined: the last string and its own first byte.
      length = previousLength + 1;
      const size_t room = targetSize - out;
      std::memcpy(target + out, target + previousStart, std::min(previousLength, room));
      if (length > room) {
        out = targetSize;
        break;
      }
      target[out + previousLength] = target[previousStart];
      out += length;
    } else {
      break;  // a code the table does not hold: the rest is garbage
    }
    if (hasPrevious && next < kTableSize) {
      start_[next] = static_cast<uint32_t>(previousStart);
      length_[next] = static_cast<uint16_t>(previousLength + 1);
      ++next;
      if (next >= widenAt && bits < kMaxCodeBits) {
        ++bits;
        widenAt = (1u << bits) - kEarly;
      }
    }
    hasPrevious = true;
    previousStart = start;
    previousLength = length;
  }
  return out;
}

}  // namespace quorvex
