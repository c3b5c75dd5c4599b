#include "picture/pixel_codec.h"

#include <bit>

namespace quorvex {

uint8_t MaskedChannel(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const uint64_t field = mask >> shift;
  const uint64_t max = (uint64_t{1} << std::bit_width(field)) - 1;
  const uint64_t v = (value & mask) >> shift;
  return static_cast<uint8_t>((v * 255 + max / 2) / max);
}

namespace {

uint32_t EncodeChannel(uint8_t channel, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const uint64_t max = (uint64_t{1} << std::bit_width(mask >> shift)) - 1;
  const uint64_t v = (uint64_t{channel} * max + 127) / 255;
  return static_cast<uint32_t>(v << shift) & mask;
}

uint32_t TableColor(const TBitmapImage& image, uint32_t index) {
  return index < image.colorTable.size() ? image.colorTable[index] & 0xFFFFFFu : 0;
}

uint32_t FromMasks(uint32_t value, const std::array<uint32_t, 3>& masks) {
  return (uint32_t{MaskedChannel(value, masks[0])} << 16) |
         (uint32_t{MaskedChannel(value, masks[1])} << 8) | MaskedChannel(value, masks[2]);
}

constexpr std::array<uint32_t, 3> kMasks555 = {0x7C00, 0x03E0, 0x001F};

}  // namespace

uint32_t ReadPixelIndex(const uint8_t* row, int32_t x, uint16_t bits) {
  switch (bits) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4:
      return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xFu;
    default:
      return row[x];
  }
}

void WritePixelIndex(uint8_t* row, int32_t x, uint16_t bits, uint32_t index) {
  switch (bits) {
    case 1: {
      const uint8_t bit = static_cast<uint8_t>(0x80u >> (x & 7));
      row[x >> 3] = static_cast<uint8_t>((index & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit));
      break;
    }
    case 4: {
      uint8_t& b = row[x >> 1];
      b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0xF))
                  : static_cast<uint8_t>((b & 0x0F) | ((index & 0xF) << 4));
      break;
    }
    default:
      row[x] = static_cast<uint8_t>(index);
  }
}

uint32_t ReadPixelColor(const TBitmapImage& image, const uint8_t* row, int32_t x) {
  const uint16_t bits = image.StorageBits();
  const bool fields =
      image.storage == TBitmapImage::Storage::Dib && image.compression == kCompressionBitFields;
  switch (bits) {
    case 1:
    case 4:
    case 8:
      return TableColor(image, ReadPixelIndex(row, x, bits));
    case 16: {
      const uint32_t w = row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
      return FromMasks(w, fields ? image.masks : kMasks555);
    }
    case 24:
      return (uint32_t{row[3 * x + 2]} << 16) | (uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
    case 32: {
      const uint8_t* p = row + 4 * x;
      if (fields) {
        return FromMasks(
            p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24),
            image.masks);
      }
      return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    }
    default:
      return 0;
  }
}

uint32_t EncodeDirectColor(const TBitmapImage& image, uint32_t rgb) {
  const auto r = static_cast<uint8_t>(rgb >> 16);
  const auto g = static_cast<uint8_t>(rgb >> 8);
  const auto b = static_cast<uint8_t>(rgb);
  const bool fields =
      image.storage != TBitmapImage::Storage::Device && image.compression == kCompressionBitFields;
  if (fields || image.StorageBits() == 16) {
    const auto& m = fields ? image.masks : kMasks555;
    return EncodeChannel(r, m[0]) | EncodeChannel(g, m[1]) | EncodeChannel(b, m[2]);
  }
  return rgb & 0xFFFFFFu;  // 24 and 32 bits: blue, green, red, unused 0
}

void WriteDirectPixel(uint8_t* row, int32_t x, uint16_t bits, uint32_t encoded) {
  const int bytes = bits / 8;
  uint8_t* p = row + static_cast<ptrdiff_t>(x) * bytes;
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(encoded >> (8 * i));
}

uint32_t NearestColorIndex(const std::vector<uint32_t>& table, uint32_t rgb, size_t count) {
  count = std::min(count, table.size());
  uint32_t best = 0;
  int64_t bestDistance = INT64_MAX;
  for (size_t i = 0; i < count; ++i) {
    const int dr = static_cast<int>((table[i] >> 16) & 0xFF) - static_cast<int>((rgb >> 16) & 0xFF);
    const int dg = static_cast<int>((table[i] >> 8) & 0xFF) - static_cast<int>((rgb >> 8) & 0xFF);
    const int db = static_cast<int>(table[i] & 0xFF) - static_cast<int>(rgb & 0xFF);
    const int64_t d = int64_t{dr} * dr + int64_t{dg} * dg + int64_t{db} * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<uint32_t>(i);
      if (d == 0) break;
    }
  }
  return best;
}

}  // namespace quorvex
