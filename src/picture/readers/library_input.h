#pragma once

// What the readers built on outside decoding libraries share: the file's
// bytes in memory, samples of any depth brought to 8 bits, and failure
// texts that carry the library's reason.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "picture/bitmap.h"

namespace quorvex {

class TStream;

// The stream's bytes from its position to its end, or the first `most` of
// them. More than the storage cap raises EOutOfResources before anything is
// read.
std::vector<uint8_t> ReadRemainingBytes(TStream& stream, uint64_t most = UINT64_MAX);

// The reader's invalid-format text with the library's reason after it.
std::string WithReason(const std::string& message, const std::string& reason);

// Samples of 1 to 16 bits reduced to 8 as 16-bit PNG samples are:
// v * 255 / (2^bits - 1), rounded down; values past the depth's maximum
// count as the maximum.
class TSampleScale {
 public:
  explicit TSampleScale(int bits);

  uint8_t operator()(uint32_t value) const {
    return table_[value < table_.size() ? value : table_.size() - 1];
  }
  // Interleaved samples of 2 bytes in host order, count of them.
  void Reduce(const uint16_t* source, size_t count, uint8_t* target) const;

 private:
  std::vector<uint8_t> table_;
};

// Fresh storage for a picture whose every pixel the reader writes: Bits8
// (with `palette`), Bits24 or Bits32 for 1, 3 or 4 channels. The white fill
// of a new bitmap is skipped; only the row padding is cleared, since it is
// scrambled too.
void AllocatePicture(TBitmap& bitmap, int32_t width, int32_t height, int channels,
                     std::optional<TPalette> palette = std::nullopt);

// Rows of interleaved 8-bit samples into bitmap rows: RGB to BGR and RGBA to
// BGRA; `channels` is 3 or 4.
void SwapRedBlue(const uint8_t* source, size_t pixels, int channels, std::span<uint8_t> target);

}  // namespace quorvex
