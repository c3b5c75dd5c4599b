#include "picture/readers/library_input.h"

#include <algorithm>

#include "picture/exceptions.h"
#include "picture/image_limits.h"
#include "picture/stream.h"

namespace quorvex {

std::vector<uint8_t> ReadRemainingBytes(TStream& stream, uint64_t most) {
  const auto remaining = static_cast<uint64_t>(std::max<int64_t>(stream.Remaining(), 0));
  std::vector<uint8_t> bytes(StorageBytes({std::min(remaining, most)}));
  stream.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

std::string WithReason(const std::string& message, const std::string& reason) {
  // Libraries end some reasons with a line break.
  const size_t end = reason.find_last_not_of(" \t\r\n");
  if (end == std::string::npos) return message;
  return message + " (" + reason.substr(0, end + 1) + ")";
}

TSampleScale::TSampleScale(int bits) {
  const int depth = std::clamp(bits, 1, 16);
  const uint32_t maximum = (uint32_t{1} << depth) - 1;
  table_.resize(size_t{maximum} + 1);
  for (uint32_t v = 0; v <= maximum; ++v) table_[v] = static_cast<uint8_t>(v * 255 / maximum);
}

void TSampleScale::Reduce(const uint16_t* source, size_t count, uint8_t* target) const {
  for (size_t i = 0; i < count; ++i) target[i] = (*this)(source[i]);
}

void AllocatePicture(TBitmap& bitmap, int32_t width, int32_t height, int channels,
                     std::optional<TPalette> palette) {
  const PixelLayout layout = channels == 1   ? PixelLayout::Bits8
                             : channels == 4 ? PixelLayout::Bits32
                                             : PixelLayout::Bits24;
  bitmap.Reallocate(width, height, layout, std::move(palette));
  const size_t used = size_t(width) * size_t(channels);
  for (int32_t y = 0; y < height; ++y) {
    std::span<uint8_t> row = bitmap.RowBytes(y);
    if (row.size() > used) std::fill(row.begin() + long(used), row.end(), uint8_t{0});
  }
}

void SwapRedBlue(const uint8_t* source, size_t pixels, int channels, std::span<uint8_t> target) {
  const size_t step = channels == 4 ? 4 : 3;
  if (target.size() < pixels * step) throw EInvalidGraphicOperation(kScanLineOutOfRange);
  uint8_t* out = target.data();
  for (size_t i = 0; i < pixels; ++i, source += step, out += step) {
    out[0] = source[2];
    out[1] = source[1];
    out[2] = source[0];
    if (step == 4) out[3] = source[3];
  }
}

}  // namespace quorvex
