#include "picture/readers/thunderscan_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

namespace quorvex {

namespace {

constexpr int kNoPixel = 99;
constexpr int kTwoBitDeltas[4] = {0, 1, kNoPixel, -1};
constexpr int kThreeBitDeltas[8] = {0, 1, 2, 3, kNoPixel, -3, -2, -1};

// The pixels a delta code byte (01 or 10 in its top bits) makes, as
// successive changes of the last value.
struct TDeltaCode {
  uint8_t count = 0;
  int8_t deltas[3] = {};
};

const std::array<TDeltaCode, 128>& DeltaCodes() {
  static const std::array<TDeltaCode, 128> table = [] {
    std::array<TDeltaCode, 128> t{};
    for (int code = 0; code < 128; ++code) {
      TDeltaCode& entry = t[static_cast<size_t>(code)];
      auto add = [&entry](int delta) {
        if (delta != kNoPixel) entry.deltas[entry.count++] = static_cast<int8_t>(delta);
      };
      // Indexed by the low 7 bits: 01 codes land at 64 to 127, 10 codes at
      // 0 to 63.
      if (code >= 64) {
        for (int shift = 4; shift >= 0; shift -= 2) add(kTwoBitDeltas[(code >> shift) & 3]);
      } else {
        for (int shift = 3; shift >= 0; shift -= 3) add(kThreeBitDeltas[(code >> shift) & 7]);
      }
    }
    return t;
  }();
  return table;
}

// Writes 4-bit pixels into one row, first pixel in the high nibble, and
// drops whatever would fall past the row's width or the target's end.
class TNibbleRow {
 public:
  TNibbleRow(uint8_t* row, uint64_t width) : row_(row), width_(width) {}

  bool Full() const { return count_ >= width_; }

  void Put(int value) {
    last_ = value & 0x0F;
    if (Full()) return;
    // Pixels arrive in order into a zero-filled row: even ones go to the
    // high nibble.
    row_[count_ / 2] |= static_cast<uint8_t>(last_ << ((~count_ & 1) * 4));
    ++count_;
  }

  void Repeat(uint64_t count) {
    count = std::min(count, width_ - count_);
    // Pixels up to the next byte boundary one by one, then whole bytes.
    while (count > 0 && count_ % 2 == 1) {
      Put(last_);
      --count;
    }
    const uint64_t pairs = count / 2;
    std::memset(row_ + count_ / 2, last_ * 0x11, pairs);
    count_ += pairs * 2;
    if (count % 2 == 1) Put(last_);
  }

  int Last() const { return last_; }

 private:
  uint8_t* row_;
  uint64_t width_;
  uint64_t count_ = 0;
  int last_ = 0;
};

}  // namespace

TThunderScanDecoder::TThunderScanDecoder(uint32_t width) : width_(width) {}

size_t TThunderScanDecoder::DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                        size_t targetSize) {
  if (targetSize > 0) std::memset(target, 0, targetSize);
  const uint64_t rowBytes = (uint64_t{width_} * 4 + 7) / 8;
  if (rowBytes == 0 || source == nullptr) return 0;
  const auto& deltas = DeltaCodes();
  const std::span<const uint8_t> codes(source, sourceSize);
  size_t in = 0;
  uint64_t rowStart = 0;
  // Each row is coded on its own, starting from pixel value 0; a code that
  // runs past the row's end loses its excess pixels.
  while (rowStart < targetSize && in < codes.size()) {
    const uint64_t pixelsHere = std::min<uint64_t>(rowBytes, targetSize - rowStart) * 2;
    TNibbleRow row(target + rowStart, std::min<uint64_t>(width_, pixelsHere));
    while (!row.Full() && in < codes.size()) {
      const uint8_t code = codes[in++];
      switch (code >> 6) {
        case 0:
          row.Repeat(code & 0x3F);
          break;
        case 1:
        case 2: {
          const TDeltaCode& delta = deltas[code & 0x7F];
          for (int k = 0; k < delta.count; ++k) row.Put(row.Last() + delta.deltas[k]);
          break;
        }
        default:
          row.Put(code & 0x0F);
          break;
      }
    }
    rowStart += rowBytes;
  }
  return static_cast<size_t>(std::min<uint64_t>(rowStart, targetSize));
}

}  // namespace quorvex
