#include "picture/color_routines.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "picture/byte_input.h"

namespace quorvex {
namespace {

using enum SampleFormat;

template <SampleFormat F>
constexpr size_t kBytes = F == U8 ? 1 : 2;

template <SampleFormat F>
constexpr bool kWide = F != U8;

// Samples are read and written through memcpy: decoder buffers and bitmap
// rows put 16-bit samples at any byte offset.
template <SampleFormat F>
inline uint32_t Load(const uint8_t* p) {
  if constexpr (F == U8) {
    return *p;
  } else {
    uint16_t v;
    std::memcpy(&v, p, 2);
    if constexpr (F == U16Swapped) v = __builtin_bswap16(v);
    return v;
  }
}

template <SampleFormat F>
inline void Store(uint8_t* p, uint32_t value) {
  if constexpr (F == U8) {
    *p = static_cast<uint8_t>(value);
  } else {
    auto v = static_cast<uint16_t>(value);
    if constexpr (F == U16Swapped) v = __builtin_bswap16(v);
    std::memcpy(p, &v, 2);
  }
}

// v * (2^t - 1) div (2^s - 1) between 8 and 16 bits; 65535 = 255 * 257
// makes both directions exact.
template <SampleFormat S, SampleFormat T>
inline uint32_t Rescale(uint32_t v) {
  if constexpr (kWide<S> == kWide<T>) {
    return v;
  } else if constexpr (kWide<S>) {
    return v / 257;
  } else {
    return v * 257;
  }
}

inline uint32_t Clamp255(int32_t v) {
  return static_cast<uint32_t>(std::clamp(v, 0, 255));
}

// Calls write(x) for every pixel x the mask lets through; the mask's bit 7
// stands for x mod 8 = 0.
template <typename Write>
inline void ForEachWritten(uint32_t count, uint8_t mask, Write&& write) {
  if (mask == 0xFF) {
    for (uint32_t x = 0; x < count; ++x) write(x);
  } else {
    for (uint32_t x = 0; x < count; ++x) {
      if (mask & (0x80u >> (x & 7))) write(x);
    }
  }
}

// Feeds the samples of every written pixel to pixel(x, s0, s1, s2, s3):
// `Used` samples are read (3 or 4), interleaved pixels are `Step` samples
// apart, planar lists advance by one sample.
template <SampleFormat S, int Used, int Step, typename Pixel>
inline void ForEachSourcePixel(const TSampleSources& sources, uint32_t count, uint8_t mask,
                               Pixel&& pixel) {
  constexpr size_t b = kBytes<S>;
  if (!sources.IsPlanar()) {
    const uint8_t* p = sources.Plane(0);
    ForEachWritten(count, mask, [&](uint32_t x) {
      uint32_t s3 = 0;
      if constexpr (Used > 3) s3 = Load<S>(p + 3 * b);
      pixel(x, Load<S>(p), Load<S>(p + b), Load<S>(p + 2 * b), s3);
      p += Step * b;
    });
  } else {
    const uint8_t* p0 = sources.Plane(0);
    const uint8_t* p1 = sources.Plane(1);
    const uint8_t* p2 = sources.Plane(2);
    const uint8_t* p3 = sources.Plane(3);
    ForEachWritten(count, mask, [&](uint32_t x) {
      uint32_t s3 = 0;
      if constexpr (Used > 3) {
        s3 = Load<S>(p3);
        p3 += b;
      }
      pixel(x, Load<S>(p0), Load<S>(p1), Load<S>(p2), s3);
      p0 += b;
      p1 += b;
      p2 += b;
    });
  }
}

// Writes three 8-bit channels given in red, green, blue order.
template <SampleFormat T, bool Reversed>
inline void PutRgb8(uint8_t* d, uint32_t red, uint32_t green, uint32_t blue) {
  constexpr size_t b = kBytes<T>;
  Store<T>(d + (Reversed ? 2 : 0) * b, Rescale<U8, T>(red));
  Store<T>(d + b, Rescale<U8, T>(green));
  Store<T>(d + (Reversed ? 0 : 2) * b, Rescale<U8, T>(blue));
}

// ---- indexed and gray values ----------------------------------------------

// Reads `bits` (1 to 8) bits at bit offset `bit`, most significant first.
inline uint32_t ReadPacked(const uint8_t* p, uint64_t bit, unsigned bits) {
  const uint8_t* at = p + (bit >> 3);
  const unsigned offset = static_cast<unsigned>(bit & 7);
  const uint32_t valueMask = (1u << bits) - 1;
  if (offset + bits <= 8) return (at[0] >> (8 - offset - bits)) & valueMask;
  const uint32_t two = LoadU16BE(at);
  return (two >> (16 - offset - bits)) & valueMask;
}

// Writes `bits` (1 to 8) bits at bit offset `bit`, most significant first,
// leaving the neighbouring bits as they were.
inline void WritePacked(uint8_t* p, uint64_t bit, unsigned bits, uint32_t value) {
  uint8_t* at = p + (bit >> 3);
  const unsigned offset = static_cast<unsigned>(bit & 7);
  const uint32_t valueMask = (1u << bits) - 1;
  if (offset + bits <= 8) {
    const unsigned shift = 8 - offset - bits;
    at[0] = static_cast<uint8_t>((at[0] & ~(valueMask << shift)) | (value << shift));
    return;
  }
  const unsigned shift = 16 - offset - bits;
  uint32_t two = LoadU16BE(at);
  two = (two & ~(valueMask << shift)) | (value << shift);
  at[0] = static_cast<uint8_t>(two >> 8);
  at[1] = static_cast<uint8_t>(two);
}

template <SampleFormat S, SampleFormat T>
void IndexRow(const TConversionState& state, const TSampleSources& sources, uint32_t count,
              uint8_t mask, uint8_t* target) {
  const uint8_t* p = sources.Plane(0);
  const unsigned s = state.sourceBits;
  const unsigned t = state.targetBits;
  if constexpr (S == T) {
    if (mask == 0xFF && s == t) {
      std::memcpy(target, p, (uint64_t{count} * s + 7) / 8);
      return;
    }
  }
  if constexpr (S == U8 && T == U8) {
    if (s == 8 && t == 8) {
      ForEachWritten(count, mask, [&](uint32_t x) { target[x] = *p++; });
      return;
    }
  }
  [[maybe_unused]] const uint32_t narrowMax = (1u << t) - 1;
  uint64_t bit = 0;
  ForEachWritten(count, mask, [&](uint32_t x) {
    uint32_t v;
    if constexpr (S == U8) {
      v = state.indexScale[ReadPacked(p, bit, s)];
      bit += s;
    } else {
      v = Load<S>(p);
      p += 2;
      if constexpr (T == U8) v = v * narrowMax / 65535;
    }
    if constexpr (T == U8) {
      if (t == 8) {
        target[x] = static_cast<uint8_t>(v);
      } else {
        WritePacked(target, uint64_t{x} * t, t, v);
      }
    } else {
      Store<T>(target + 2 * uint64_t{x}, v);
    }
  });
}

template <SampleFormat S, SampleFormat T, bool Alpha>
void GrayRow(const TConversionState&, const TSampleSources& sources, uint32_t count, uint8_t mask,
             uint8_t* target) {
  const uint8_t* p = sources.Plane(0);
  if constexpr (S == T && !Alpha) {
    if (mask == 0xFF) {
      std::memcpy(target, p, uint64_t{count} * kBytes<S>);
      return;
    }
  }
  const size_t step = (Alpha && !sources.IsPlanar() ? 2 : 1) * kBytes<S>;
  ForEachWritten(count, mask, [&](uint32_t x) {
    Store<T>(target + uint64_t{x} * kBytes<T>, Rescale<S, T>(Load<S>(p)));
    p += step;
  });
}

// ---- colour routines ------------------------------------------------------

template <SampleFormat S, SampleFormat T, bool SourceAlpha, bool TargetAlpha, bool Gamma,
          bool Reversed>
void RgbRow(const TConversionState& state, const TSampleSources& sources, uint32_t count,
            uint8_t mask, uint8_t* target) {
  constexpr size_t b = kBytes<T>;
  constexpr size_t pixelBytes = (TargetAlpha ? 4 : 3) * b;
  constexpr bool carryAlpha = SourceAlpha && TargetAlpha;
  if constexpr (S == T && SourceAlpha == TargetAlpha && !Gamma && !Reversed) {
    if (mask == 0xFF && !sources.IsPlanar()) {
      std::memcpy(target, sources.Plane(0), uint64_t{count} * pixelBytes);
      return;
    }
  }
  if constexpr (S == U8 && T == U8 && SourceAlpha && TargetAlpha && !Gamma && Reversed) {
    // RGBA <-> BGRA, the commonest 32-bit case: swap bytes 0 and 2 of each
    // word, which the compiler vectorizes.
    if (mask == 0xFF && !sources.IsPlanar()) {
      const uint8_t* p = sources.Plane(0);
      for (uint32_t x = 0; x < count; ++x) {
        uint32_t v;
        std::memcpy(&v, p + 4 * size_t{x}, 4);
        v = (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
        std::memcpy(target + 4 * size_t{x}, &v, 4);
      }
      return;
    }
  }
  const uint8_t* gamma = state.gamma.data();
  auto color = [gamma](uint32_t v) -> uint32_t {
    if constexpr (Gamma) {
      return Rescale<U8, T>(gamma[Rescale<S, U8>(v)]);
    } else {
      (void)gamma;
      return Rescale<S, T>(v);
    }
  };
  ForEachSourcePixel<S, carryAlpha ? 4 : 3, SourceAlpha ? 4 : 3>(
      sources, count, mask, [&](uint32_t x, uint32_t s0, uint32_t s1, uint32_t s2, uint32_t s3) {
        uint8_t* d = target + uint64_t{x} * pixelBytes;
        Store<T>(d + (Reversed ? 2 : 0) * b, color(s0));
        Store<T>(d + b, color(s1));
        Store<T>(d + (Reversed ? 0 : 2) * b, color(s2));
        if constexpr (carryAlpha) Store<T>(d + 3 * b, Rescale<S, T>(s3));
      });
}

template <SampleFormat S, SampleFormat T, bool TargetAlpha, bool Reversed>
struct CmykRow {
  static void Run(const TConversionState&, const TSampleSources& sources, uint32_t count,
                  uint8_t mask, uint8_t* target) {
    constexpr size_t pixelBytes = (TargetAlpha ? 4 : 3) * kBytes<T>;
    auto channel = [](uint32_t ink, uint32_t black) -> uint32_t {
      if constexpr (kWide<S>) {
        const uint32_t covered = ink + black - ink * black / 65535;
        return Clamp255(255 - static_cast<int32_t>(covered * 255 / 65535));
      } else {
        return Clamp255(static_cast<int32_t>(ink * black / 255) - static_cast<int32_t>(ink) -
                        static_cast<int32_t>(black) + 255);
      }
    };
    ForEachSourcePixel<S, 4, 4>(sources, count, mask,
                                [&](uint32_t x, uint32_t c, uint32_t m, uint32_t y, uint32_t k) {
                                  PutRgb8<T, Reversed>(target + uint64_t{x} * pixelBytes,
                                                       channel(c, k), channel(m, k), channel(y, k));
                                });
  }
};

// CIELab as TIFF and Photoshop store it is relative to the D50 white; the
// screen is sRGB, whose white is D65. XYZ over the D50 white goes through
// one matrix (the D50 white, Bradford adaptation to D65, the sRGB
// primaries) to linear sRGB, and the sRGB transfer curve comes from a table
// fine enough that its steps stay well below one output level.
class TLabToSrgb {
 public:
  static constexpr int kCurveSteps = 16384;

  static const TLabToSrgb& Instance() {
    static const TLabToSrgb instance;
    return instance;
  }

  // L from 0 to 100, a and b as they are.
  void Convert(float l, float a, float b, uint32_t& red, uint32_t& green, uint32_t& blue) const {
    constexpr float kKappa = 24389.0f / 27.0f;
    constexpr float kKappaEpsilon = 8.0f;  // kappa * epsilon, the lightness where the cube starts
    const float fy = (l + 16.0f) * (1.0f / 116.0f);
    const float fx = fy + a * (1.0f / 500.0f);
    const float fz = fy - b * (1.0f / 200.0f);
    const float xr = Inverse(fx);
    const float yr = l > kKappaEpsilon ? fy * fy * fy : l * (1.0f / kKappa);
    const float zr = Inverse(fz);
    const float* m = matrix_.data();
    red = Encode(m[0] * xr + m[1] * yr + m[2] * zr);
    green = Encode(m[3] * xr + m[4] * yr + m[5] * zr);
    blue = Encode(m[6] * xr + m[7] * yr + m[8] * zr);
  }

 private:
  TLabToSrgb();

  // f back to the ratio of the white: cubed above 6/29, the straight part
  // below.
  static float Inverse(float f) {
    constexpr float kKappa = 24389.0f / 27.0f;
    return f > 6.0f / 29.0f ? f * f * f : (116.0f * f - 16.0f) * (1.0f / kKappa);
  }
  // Linear light, clamped to 0..1 (NaN to 0), to an 8-bit sRGB level.
  uint32_t Encode(float linear) const {
    const float v = linear > 0.0f ? (linear < 1.0f ? linear : 1.0f) : 0.0f;
    return curve_[static_cast<size_t>(v * kCurveSteps + 0.5f)];
  }

  std::array<float, 9> matrix_{};
  std::array<uint8_t, kCurveSteps + 1> curve_{};
};

TLabToSrgb::TLabToSrgb() {
  using Matrix = std::array<std::array<double, 3>, 3>;
  auto times = [](const Matrix& p, const Matrix& q) {
    Matrix r{};
    for (size_t i = 0; i < 3; ++i) {
      for (size_t j = 0; j < 3; ++j) {
        for (size_t k = 0; k < 3; ++k) r[i][j] += p[i][k] * q[k][j];
      }
    }
    return r;
  };
  auto inverse = [](const Matrix& p) {
    const double det = p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) -
                       p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0]) +
                       p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]);
    Matrix r{};
    for (size_t i = 0; i < 3; ++i) {
      for (size_t j = 0; j < 3; ++j) {
        // The cofactor of (j, i), by cycling the other rows and columns.
        const size_t j1 = (j + 1) % 3, j2 = (j + 2) % 3, i1 = (i + 1) % 3, i2 = (i + 2) % 3;
        r[i][j] = (p[j1][i1] * p[j2][i2] - p[j1][i2] * p[j2][i1]) / det;
      }
    }
    return r;
  };
  auto apply = [](const Matrix& p, const std::array<double, 3>& v) {
    std::array<double, 3> r{};
    for (size_t i = 0; i < 3; ++i) r[i] = p[i][0] * v[0] + p[i][1] * v[1] + p[i][2] * v[2];
    return r;
  };
  // The ICC profile connection white and the sRGB white (IEC 61966-2-1).
  const std::array<double, 3> d50{0.9642, 1.0, 0.8249};
  const std::array<double, 3> d65{0.95047, 1.0, 1.08883};
  const Matrix bradford{
      {{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
  const Matrix xyzToSrgb{
      {{3.2406, -1.5372, -0.4986}, {-0.9689, 1.8758, 0.0415}, {0.0557, -0.2040, 1.0570}}};
  const std::array<double, 3> from = apply(bradford, d50);
  const std::array<double, 3> to = apply(bradford, d65);
  const Matrix scale{{{to[0] / from[0], 0, 0}, {0, to[1] / from[1], 0}, {0, 0, to[2] / from[2]}}};
  const Matrix white{{{d50[0], 0, 0}, {0, d50[1], 0}, {0, 0, d50[2]}}};
  const Matrix all =
      times(xyzToSrgb, times(inverse(bradford), times(scale, times(bradford, white))));
  for (size_t i = 0; i < 9; ++i) matrix_[i] = static_cast<float>(all[i / 3][i % 3]);
  for (size_t i = 0; i <= kCurveSteps; ++i) {
    const double linear = static_cast<double>(i) / kCurveSteps;
    const double encoded =
        linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
    curve_[i] = static_cast<uint8_t>(std::clamp(std::lround(encoded * 255.0), 0L, 255L));
  }
}

template <SampleFormat S, SampleFormat T, bool TargetAlpha, bool Reversed>
struct LabRow {
  static void Run(const TConversionState& state, const TSampleSources& sources, uint32_t count,
                  uint8_t mask, uint8_t* target) {
    constexpr size_t pixelBytes = (TargetAlpha ? 4 : 3) * kBytes<T>;
    const bool labByte = state.labByte;
    const bool labOffset = state.labOffset;
    const TLabToSrgb& toSrgb = TLabToSrgb::Instance();
    ForEachSourcePixel<S, 3, 3>(
        sources, count, mask, [&](uint32_t x, uint32_t ls, uint32_t as, uint32_t bs, uint32_t) {
          // 16-bit samples are brought to the 8-bit scale first.
          float l, a, b;
          if constexpr (kWide<S>) {
            l = static_cast<float>(ls) / 257.0f;
            a = labOffset ? static_cast<float>(as) / 257.0f - 128.0f
                          : static_cast<float>(static_cast<int16_t>(as)) / 256.0f;
            b = labOffset ? static_cast<float>(bs) / 257.0f - 128.0f
                          : static_cast<float>(static_cast<int16_t>(bs)) / 256.0f;
          } else {
            l = static_cast<float>(ls);
            a = labOffset ? static_cast<float>(as) - 128.0f
                          : static_cast<float>(static_cast<int8_t>(as));
            b = labOffset ? static_cast<float>(bs) - 128.0f
                          : static_cast<float>(static_cast<int8_t>(bs));
          }
          if (labByte) l *= 100.0f / 255.0f;
          uint32_t red, green, blue;
          toSrgb.Convert(l, a, b, red, green, blue);
          PutRgb8<T, Reversed>(target + uint64_t{x} * pixelBytes, red, green, blue);
        });
  }
};

template <SampleFormat S, SampleFormat T, bool TargetAlpha, bool Reversed>
struct YCbCrRow {
  static void Run(const TConversionState& state, const TSampleSources& sources, uint32_t count,
                  uint8_t mask, uint8_t* target) {
    constexpr size_t pixelBytes = (TargetAlpha ? 4 : 3) * kBytes<T>;
    const int32_t* crToRed = state.crToRed.data();
    const int32_t* cbToBlue = state.cbToBlue.data();
    const int32_t* crToGreen = state.crToGreen.data();
    const int32_t* cbToGreen = state.cbToGreen.data();
    ForEachSourcePixel<S, 3, 3>(
        sources, count, mask, [&](uint32_t x, uint32_t ys, uint32_t cbs, uint32_t crs, uint32_t) {
          const auto y = static_cast<int32_t>(Rescale<S, U8>(ys));
          const uint32_t cb = Rescale<S, U8>(cbs);
          const uint32_t cr = Rescale<S, U8>(crs);
          PutRgb8<T, Reversed>(target + uint64_t{x} * pixelBytes, Clamp255(y + crToRed[cr]),
                               Clamp255(y + cbToGreen[cb] + crToGreen[cr]),
                               Clamp255(y + cbToBlue[cb]));
        });
  }
};

// ---- turning run-time choices into instantiations -------------------------

template <typename F>
TRowRoutine WithFormat(SampleFormat format, F&& f) {
  switch (format) {
    case U8:
      return f(std::integral_constant<SampleFormat, U8>{});
    case U16:
      return f(std::integral_constant<SampleFormat, U16>{});
    case U16Swapped:
      break;
  }
  return f(std::integral_constant<SampleFormat, U16Swapped>{});
}

template <typename F>
TRowRoutine WithBool(bool value, F&& f) {
  return value ? f(std::true_type{}) : f(std::false_type{});
}

template <template <SampleFormat, SampleFormat, bool, bool> class Row>
TRowRoutine ColourRoutine(SampleFormat source, SampleFormat target, bool targetAlpha,
                          bool reversed) {
  return WithFormat(source, [&](auto s) {
    return WithFormat(target, [&](auto t) {
      return WithBool(targetAlpha, [&](auto ta) {
        return WithBool(reversed, [&](auto r) -> TRowRoutine {
          return &Row<decltype(s)::value, decltype(t)::value, decltype(ta)::value,
                      decltype(r)::value>::Run;
        });
      });
    });
  });
}

}  // namespace

TRowRoutine IndexRoutine(SampleFormat source, SampleFormat target) {
  return WithFormat(source, [&](auto s) {
    return WithFormat(target, [&](auto t) -> TRowRoutine {
      return &IndexRow<decltype(s)::value, decltype(t)::value>;
    });
  });
}

TRowRoutine GrayRoutine(SampleFormat source, SampleFormat target, bool sourceAlpha) {
  return WithFormat(source, [&](auto s) {
    return WithFormat(target, [&](auto t) {
      return WithBool(sourceAlpha, [&](auto a) -> TRowRoutine {
        return &GrayRow<decltype(s)::value, decltype(t)::value, decltype(a)::value>;
      });
    });
  });
}

TRowRoutine RgbRoutine(SampleFormat source, SampleFormat target, bool sourceAlpha, bool targetAlpha,
                       bool gamma, bool reversed) {
  return WithFormat(source, [&](auto s) {
    return WithFormat(target, [&](auto t) {
      return WithBool(sourceAlpha, [&](auto sa) {
        return WithBool(targetAlpha, [&](auto ta) {
          return WithBool(gamma, [&](auto g) {
            return WithBool(reversed, [&](auto r) -> TRowRoutine {
              return &RgbRow<decltype(s)::value, decltype(t)::value, decltype(sa)::value,
                             decltype(ta)::value, decltype(g)::value, decltype(r)::value>;
            });
          });
        });
      });
    });
  });
}

TRowRoutine CmykRoutine(SampleFormat source, SampleFormat target, bool targetAlpha, bool reversed) {
  return ColourRoutine<CmykRow>(source, target, targetAlpha, reversed);
}

TRowRoutine LabRoutine(SampleFormat source, SampleFormat target, bool targetAlpha, bool reversed) {
  return ColourRoutine<LabRow>(source, target, targetAlpha, reversed);
}

TRowRoutine YCbCrRoutine(SampleFormat source, SampleFormat target, bool targetAlpha,
                         bool reversed) {
  return ColourRoutine<YCbCrRow>(source, target, targetAlpha, reversed);
}

}  // namespace quorvex
