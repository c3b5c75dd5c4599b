#include "picture/bmp_run_length.h"

#include <algorithm>
#include <cstring>

#include "picture/byte_input.h"

namespace quorvex {

namespace {

constexpr uint8_t kEscape = 0;
constexpr uint8_t kEndOfLine = 0;
constexpr uint8_t kEndOfPicture = 1;
constexpr uint8_t kDelta = 2;

void SetNibble(uint8_t* row, uint32_t x, uint8_t value) {
  uint8_t& byte = row[x >> 1];
  byte = (x & 1) ? static_cast<uint8_t>((byte & 0xF0) | (value & 0x0F))
                 : static_cast<uint8_t>((byte & 0x0F) | (value << 4));
}

// A repeated byte: RLE8 one pixel, RLE4 two pixels that alternate.
void WriteRun(const TBmpRunLengthTarget& t, uint8_t* row, uint32_t x, uint32_t count,
              uint8_t value) {
  if (t.bitCount == 8) {
    std::memset(row + x, value, count);
    return;
  }
  const uint8_t pair[2] = {static_cast<uint8_t>(value >> 4), static_cast<uint8_t>(value & 0x0F)};
  for (uint32_t i = 0; i < count; ++i) SetNibble(row, x + i, pair[i & 1]);
}

// Pixels as they are: RLE8 a byte each, RLE4 the high nibble first.
void WriteLiteral(const TBmpRunLengthTarget& t, uint8_t* row, uint32_t x, uint32_t count,
                  const uint8_t* pixels) {
  if (t.bitCount == 8) {
    std::memcpy(row + x, pixels, count);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t byte = pixels[i >> 1];
    SetNibble(row, x + i, (i & 1) ? byte & 0x0F : byte >> 4);
  }
}

}  // namespace

void DecodeBmpRunLength(TBufferedInput& input, const TBmpRunLengthTarget& t) {
  uint32_t x = 0;
  uint64_t line = 0;
  while (line < t.height && input.Ensure(2)) {
    const uint8_t* code = input.Buffered().data();
    const uint8_t count = code[0];
    const uint8_t value = code[1];
    input.Consume(2);
    uint8_t* row = t.storage + line * t.stride;
    if (count != kEscape) {
      const uint32_t kept = std::min<uint32_t>(count, t.width - x);
      WriteRun(t, row, x, kept, value);
      x += kept;
      continue;
    }
    if (value == kEndOfLine) {
      x = 0;
      ++line;
    } else if (value == kEndOfPicture) {
      return;
    } else if (value == kDelta) {
      if (!input.Ensure(2)) return;
      const uint8_t* move = input.Buffered().data();
      x = std::min<uint32_t>(x + move[0], t.width);
      line += move[1];
      input.Consume(2);
    } else {
      const uint32_t bytes = t.bitCount == 8 ? value : (value + 1u) / 2;
      const uint32_t padded = bytes + (bytes & 1);
      // Data that ends inside the run gives what it holds.
      const bool whole = input.Ensure(padded);
      const std::span<const uint8_t> there = input.Buffered();
      const uint32_t held =
          whole ? bytes : static_cast<uint32_t>(std::min<size_t>(bytes, there.size()));
      const uint32_t pixels = t.bitCount == 8 ? held : std::min<uint32_t>(value, held * 2);
      const uint32_t kept = std::min(pixels, t.width - x);
      WriteLiteral(t, row, x, kept, there.data());
      x += kept;
      if (!whole) return;
      input.Consume(padded);
    }
  }
}

}  // namespace quorvex
