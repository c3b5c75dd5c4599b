// Row conversion speed of TColorManager, in megapixels per second, for the
// routines the readers spend their time in. Rows are 4000 pixels, converted
// from an L1/L2-resident buffer, as a decoder does row by row; memcpy of the
// target row's bytes is the ceiling to compare against.
#include <benchmark/benchmark.h>

#include <cstring>
#include <span>
#include <vector>

#include "picture/color_manager.h"

namespace {

using quorvex::ColorScheme;
using quorvex::ConversionOption;
using quorvex::TColorManager;
using quorvex::TConversionOptions;

constexpr uint32_t kWidth = 4000;

struct Case {
  ColorScheme source;
  ColorScheme target;
  int sourceBits;
  int targetBits;
  int sourceSamples;  // stored per pixel
  int targetBytes;    // per pixel
  TConversionOptions sourceOptions;
  TConversionOptions targetOptions;
  uint8_t mask;
  bool planar;
};

void SetMegapixels(benchmark::State& state, uint64_t pixelsPerIteration) {
  state.counters["Mpix/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * pixelsPerIteration) / 1e6,
                         benchmark::Counter::kIsRate);
}

void Convert(benchmark::State& state, const Case& c) {
  TColorManager cm;
  cm.SetSourceColorScheme(c.source);
  cm.SetTargetColorScheme(c.target);
  cm.SetSourceBitsPerSample(c.sourceBits);
  cm.SetTargetBitsPerSample(c.targetBits);
  cm.SetSourceOptions(c.sourceOptions);
  cm.SetTargetOptions(c.targetOptions);
  cm.SetGamma(1.0f);
  const size_t sampleBytes = c.sourceBits == 16 ? 2 : 1;
  const size_t sourceBytes = (uint64_t{kWidth} * c.sourceSamples * c.sourceBits + 7) / 8;
  std::vector<uint8_t> source(sourceBytes + 16);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7 + i / 5);
  std::vector<uint8_t> target((uint64_t{kWidth} * c.targetBytes * c.targetBits + 7) / 8 + 16);
  const size_t plane = kWidth * sampleBytes;
  const quorvex::TSampleSources sources =
      c.planar
          ? quorvex::TSampleSources(source.data(), source.data() + plane, source.data() + 2 * plane,
                                    c.sourceSamples > 3 ? source.data() + 3 * plane : nullptr)
          : quorvex::TSampleSources(source.data());
  for (auto _ : state) {
    cm.ConvertPixels(sources, kWidth, c.mask, std::span<uint8_t>(target));
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  uint32_t written = 0;
  for (uint32_t x = 0; x < kWidth; ++x) written += (c.mask >> (7 - x % 8)) & 1;
  SetMegapixels(state, written);
}

constexpr TConversionOptions kNone{};
constexpr TConversionOptions kSwap{ConversionOption::ByteSwapOption};
constexpr TConversionOptions kGamma{ConversionOption::GammaOption};
// Photoshop's Lab: big-endian, L on 0..255, a and b offset.
constexpr TConversionOptions kLabPhotoshop{ConversionOption::ByteSwapOption,
                                           ConversionOption::LabByteOption,
                                           ConversionOption::LabOffsetOption};

using enum ColorScheme;

void BM_Memcpy24(benchmark::State& state) {
  std::vector<uint8_t> from(kWidth * 3, 1), to(kWidth * 3);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), to.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  SetMegapixels(state, kWidth);
}
BENCHMARK(BM_Memcpy24);

#define QUORVEX_CONVERT_BENCH(Name, ...)    \
  void BM_##Name(benchmark::State& state) { \
    Convert(state, Case{__VA_ARGS__});      \
  }                                         \
  BENCHMARK(BM_##Name)

QUORVEX_CONVERT_BENCH(Rgb8ToBgr24, RGB, BGR, 8, 8, 3, 3, kNone, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(Bgr8ToBgr24Copy, BGR, BGR, 8, 8, 3, 3, kNone, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(Rgba8ToBgra32, RGBA, BGRA, 8, 8, 4, 4, kNone, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(Rgba8ToBgr24, RGBA, BGR, 8, 8, 4, 3, kNone, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(Rgb8ToBgr24Gamma, RGB, BGR, 8, 8, 3, 3, kNone, kGamma, 0xFF, false);
QUORVEX_CONVERT_BENCH(Rgb8PlanarToBgr24, RGB, BGR, 8, 8, 3, 3, kNone, kNone, 0xFF, true);
QUORVEX_CONVERT_BENCH(Rgb8ToBgr24Mask55, RGB, BGR, 8, 8, 3, 3, kNone, kNone, 0x55, false);
QUORVEX_CONVERT_BENCH(Rgb16BigEndianToBgr24, RGB, BGR, 16, 8, 3, 3, kSwap, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(Gray8ToBits8Copy, Gray, Gray, 8, 8, 1, 1, kNone, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(Gray16BigEndianToBits8, Gray, Gray, 16, 8, 1, 1, kSwap, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(GrayAlpha8ToBits8, GrayAlpha, Gray, 8, 8, 2, 1, kNone, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(Indexed2ToBits4, Indexed, Indexed, 2, 4, 1, 1, kNone, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(Indexed1Mask55, Indexed, Indexed, 1, 1, 1, 1, kNone, kNone, 0x55, false);
QUORVEX_CONVERT_BENCH(Cmyk8ToBgr24, CMYK, BGR, 8, 8, 4, 3, kNone, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(Cmyk16ToBgr24, CMYK, BGR, 16, 8, 4, 3, kSwap, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(YCbCr8ToBgr24, YCbCr, BGR, 8, 8, 3, 3, kNone, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(CieLab8ToBgr24, CIELab, BGR, 8, 8, 3, 3, kNone, kNone, 0xFF, false);
QUORVEX_CONVERT_BENCH(CieLab16PlanarOffsetToBgr24, CIELab, BGR, 16, 8, 3, 3, kLabPhotoshop, kNone,
                      0xFF, true);

#undef QUORVEX_CONVERT_BENCH

}  // namespace

BENCHMARK_MAIN();
