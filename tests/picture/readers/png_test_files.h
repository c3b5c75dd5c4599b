#pragma once

// Small PNG files built in test code: chunks with their CRC, IHDR, and
// image data compressed with zlib.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace quorvex::test {

using Bytes = std::vector<uint8_t>;

inline void PutU32BE(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

// One chunk: length, type, data, CRC (wrong on request).
inline Bytes PngChunk(const std::string& type, const Bytes& data, bool corruptCrc = false) {
  Bytes out(12 + data.size());
  const auto length = static_cast<uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) {
    out[static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (24 - 8 * i));
    out[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(type.at(static_cast<size_t>(i)));
  }
  std::copy(data.begin(), data.end(), out.begin() + 8);
  uLong crc = crc32(0, out.data() + 4, 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  const uint32_t stored = static_cast<uint32_t>(crc) ^ (corruptCrc ? 1u : 0u);
  for (int i = 0; i < 4; ++i) {
    out[8 + data.size() + static_cast<size_t>(i)] = static_cast<uint8_t>(stored >> (24 - 8 * i));
  }
  return out;
}

inline Bytes IhdrData(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType,
                      uint8_t interlace = 0, uint8_t compression = 0) {
  Bytes data;
  PutU32BE(data, width);
  PutU32BE(data, height);
  data.insert(data.end(), {depth, colorType, compression, 0, interlace});
  return data;
}

inline Bytes Ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType,
                  uint8_t interlace = 0) {
  return PngChunk("IHDR", IhdrData(width, height, depth, colorType, interlace));
}

inline Bytes Deflate(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9);
  out.resize(size);
  return out;
}

inline Bytes Iend() {
  return PngChunk("IEND", {});
}

// The signature followed by the given chunks.
inline Bytes PngFile(std::initializer_list<Bytes> chunks) {
  Bytes out = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  for (const Bytes& c : chunks) out.insert(out.end(), c.begin(), c.end());
  return out;
}

// Raw image data: each row prefixed with filter type 0.
inline Bytes UnfilteredRows(const std::vector<Bytes>& rows) {
  Bytes raw;
  for (const Bytes& row : rows) {
    raw.push_back(0);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  return raw;
}

// Image data split into IDAT chunks of `piece` bytes, with an empty IDAT
// chunk before every piece.
inline Bytes SplitIdat(const Bytes& compressed, size_t piece) {
  Bytes out;
  for (size_t at = 0; at < compressed.size(); at += piece) {
    const Bytes empty = PngChunk("IDAT", {});
    out.insert(out.end(), empty.begin(), empty.end());
    const size_t n = std::min(piece, compressed.size() - at);
    const Bytes chunk = PngChunk("IDAT", Bytes(compressed.begin() + static_cast<long>(at),
                                               compressed.begin() + static_cast<long>(at + n)));
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}

// The Paeth predictor as the format defines it.
inline int ReferencePaeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  if (pb <= pc) return b;
  return c;
}

// Filters `row` against `prev` with filter `type` as an encoder does.
inline Bytes FilterRow(int type, const Bytes& row, const Bytes& prev, size_t bpp) {
  Bytes out(row.size());
  for (size_t i = 0; i < row.size(); ++i) {
    const int a = i >= bpp ? row[i - bpp] : 0;
    const int b = prev[i];
    const int c = i >= bpp ? prev[i - bpp] : 0;
    int predicted = 0;
    switch (type) {
      case 1:
        predicted = a;
        break;
      case 2:
        predicted = b;
        break;
      case 3:
        predicted = (a + b) / 2;
        break;
      case 4:
        predicted = ReferencePaeth(a, b, c);
        break;
      default:
        break;
    }
    out[i] = static_cast<uint8_t>(row[i] - predicted);
  }
  return out;
}

// A picture as samples (depth bits each, `channels` per pixel, rows top
// first) that can be stored plainly or interlaced.
struct SampleImage {
  uint32_t width = 0;
  uint32_t height = 0;
  unsigned depth = 8;
  unsigned channels = 1;
  std::vector<uint16_t> samples;

  uint16_t At(uint32_t x, uint32_t y, unsigned c) const {
    return samples[(size_t{y} * width + x) * channels + c];
  }
  // The pixels x0, x0 + step, ... of row y, packed most significant first.
  Bytes PackRow(uint32_t y, uint32_t x0, uint32_t step) const {
    Bytes out;
    unsigned bits = 0;
    uint32_t acc = 0;
    for (uint32_t x = x0; x < width; x += step) {
      for (unsigned c = 0; c < channels; ++c) {
        const uint16_t v = At(x, y, c);
        if (depth == 16) {
          out.push_back(static_cast<uint8_t>(v >> 8));
          out.push_back(static_cast<uint8_t>(v));
        } else if (depth == 8) {
          out.push_back(static_cast<uint8_t>(v));
        } else {
          acc = (acc << depth) | v;
          bits += depth;
          if (bits == 8) {
            out.push_back(static_cast<uint8_t>(acc));
            acc = bits = 0;
          }
        }
      }
    }
    if (bits != 0) out.push_back(static_cast<uint8_t>(acc << (8 - bits)));
    return out;
  }
  // Filtered rows, plain or in the seven Adam7 passes; the filter type
  // cycles through 0 to 4 from row to row.
  Bytes RawData(bool interlaced) const {
    struct Pass {
      uint32_t x0, y0, dx, dy;
    };
    const std::vector<Pass> passes =
        interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                       {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                   : std::vector<Pass>{{0, 0, 1, 1}};
    const size_t bpp = std::max<size_t>(1, depth * channels / 8);
    Bytes raw;
    int type = 0;
    for (const Pass& p : passes) {
      if (p.x0 >= width) continue;
      Bytes prev;
      for (uint32_t y = p.y0; y < height; y += p.dy) {
        const Bytes row = PackRow(y, p.x0, p.dx);
        if (prev.empty()) prev.assign(row.size(), 0);
        raw.push_back(static_cast<uint8_t>(type));
        const Bytes filtered = FilterRow(type, row, prev, bpp);
        raw.insert(raw.end(), filtered.begin(), filtered.end());
        prev = row;
        type = (type + 1) % 5;
      }
    }
    return raw;
  }
};

}  // namespace quorvex::test
