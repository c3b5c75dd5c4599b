#include "picture/readers/tiff_samples.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "picture/byte_input.h"

namespace quorvex {

namespace {

// A 16-bit IEEE 754 value.
float HalfToFloat(uint16_t half) {
  const uint32_t sign = (half >> 15) & 1u;
  const uint32_t exponent = (half >> 10) & 0x1Fu;
  const uint32_t mantissa = half & 0x3FFu;
  float magnitude;
  if (exponent == 0) {
    magnitude = std::ldexp(static_cast<float>(mantissa), -24);  // subnormal
  } else if (exponent == 31) {
    magnitude = mantissa == 0 ? INFINITY : NAN;
  } else {
    magnitude = std::ldexp(static_cast<float>(mantissa | 0x400u), static_cast<int>(exponent) - 25);
  }
  return sign ? -magnitude : magnitude;
}

// Floating-point samples show 0 to 1; beyond is clamped and NaN is 0.
uint16_t FloatTo16(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 65535;
  return static_cast<uint16_t>(v * 65535.0f + 0.5f);
}

// The colour samples of each pixel divided by its alpha. `channel[i]` is
// the first sample of colour i, `alpha` the first alpha; consecutive
// pixels' samples are `stride` apart.
template <typename T, uint32_t Max>
void Unpremultiply(const std::array<T*, 4>& channel, size_t colours, const T* alpha, size_t stride,
                   size_t pixels) {
  for (size_t p = 0; p < pixels; ++p) {
    const uint32_t a = alpha[p * stride];
    if (a == Max) continue;
    for (size_t i = 0; i < colours; ++i) {
      T& c = channel[i][p * stride];
      // A pixel with no coverage has no colour.
      c = a == 0 ? 0 : static_cast<T>(std::min<uint32_t>(Max, (uint32_t{c} * Max + a / 2) / a));
    }
  }
}

// Unpremultiply over the rows as the samples lie: interleaved in rows[0],
// or one plane each.
template <typename T, uint32_t Max>
void UnpremultiplyRows(const std::array<T*, 4>& rows, size_t samples, bool planar, size_t pixels) {
  if (samples < 2 || samples > 4) return;
  std::array<T*, 4> channel{};
  for (size_t i = 0; i + 1 < samples; ++i) channel[i] = planar ? rows[i] : rows[0] + i;
  const T* alpha = planar ? rows[samples - 1] : rows[0] + samples - 1;
  if (!alpha) return;
  Unpremultiply<T, Max>(channel, samples - 1, alpha, planar ? 1 : samples, pixels);
}

}  // namespace

bool TIFFSamplesReadable(int bits, TIFFSampleFormat format) {
  if (format == TIFFSampleFormat::FloatingPoint) return bits == 16 || bits == 32;
  if (bits == 32) return format != TIFFSampleFormat::SignedInteger;
  return bits >= 1 && bits <= 16;
}

TTIFFSamples::TTIFFSamples(const TTIFFSampleKind& kind)
    : kind_(kind),
      widen_(kind.bits == 32 || kind.format == TIFFSampleFormat::FloatingPoint ||
             (kind.bits == 16 && kind.premultiplied)) {}

void TTIFFSamples::Widen(const uint8_t* row, size_t count, std::vector<uint16_t>& out) const {
  if (out.size() < count) out.resize(count);
  const bool big = kind_.bigEndian;
  const bool isFloat = kind_.format == TIFFSampleFormat::FloatingPoint;
  if (kind_.bits == 16) {
    for (size_t i = 0; i < count; ++i) {
      const uint16_t v = LoadU16(row + 2 * i, big);
      out[i] = isFloat ? FloatTo16(HalfToFloat(v)) : v;
    }
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    const uint32_t v = LoadU32(row + 4 * i, big);
    // v * 65535 div (2^32 - 1): the converter's 16-to-8 step then gives
    // v * 255 div (2^32 - 1), as 16-bit samples get v * 255 div 65535.
    out[i] = isFloat ? FloatTo16(std::bit_cast<float>(v)) : static_cast<uint16_t>(v / 65537u);
  }
}

// Predictor 3: each row was split into planes of the samples' bytes, most
// significant first, and then differenced byte by byte, one pixel's worth
// of samples apart. The bytes are put back in the file's order.
void TTIFFSamples::UndoFloatPredictor(uint8_t* row, size_t count) {
  const size_t bytes = static_cast<size_t>(kind_.bits / 8);
  const size_t stride = kind_.planar ? 1 : kind_.samples;
  const size_t total = count * bytes;
  for (size_t i = stride; i < total; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - stride]);
  reordered_.assign(row, row + total);
  for (size_t k = 0; k < count; ++k) {
    for (size_t b = 0; b < bytes; ++b) {
      const size_t significance = kind_.bigEndian ? b : bytes - 1 - b;
      row[k * bytes + b] = reordered_[significance * count + k];
    }
  }
}

TSampleSources TTIFFSamples::Prepare(const std::array<uint8_t*, 4>& rows, size_t planes,
                                     uint32_t pixels) {
  const size_t perPlane = (kind_.planar ? 1 : kind_.samples) * pixels;
  const size_t used = std::min<size_t>(planes, 4);
  if (kind_.floatPredictor) {
    for (size_t k = 0; k < used; ++k) UndoFloatPredictor(rows[k], perPlane);
  }
  if (!widen_) {
    if (kind_.premultiplied && kind_.bits == 8) {
      UnpremultiplyRows<uint8_t, 255>(rows, kind_.samples, kind_.planar, pixels);
    }
    if (used <= 1) return TSampleSources(rows[0]);
    return TSampleSources(rows[0], rows[1], rows[2], rows[3]);
  }
  std::array<uint16_t*, 4> wide{};
  for (size_t k = 0; k < used; ++k) {
    Widen(rows[k], perPlane, wide_[k]);
    wide[k] = wide_[k].data();
  }
  if (kind_.premultiplied) {
    UnpremultiplyRows<uint16_t, 65535>(wide, kind_.samples, kind_.planar, pixels);
  }
  if (used <= 1) return TSampleSources(wide[0]);
  return TSampleSources(wide[0], wide[1], wide[2], wide[3]);
}

}  // namespace quorvex
