// Throughput of the scrambling transform on a 4000 x 3000 Bits24 picture,
// beside memcpy of the same storage in the same run: the ratio is the figure
// that counts, since absolute speeds vary from machine to machine.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/keystream.h"
#include "core/transform.h"
#include "picture/bitmap.h"

namespace {

using quorvex::PixelLayout;
using quorvex::TBitmap;

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;

TBitmap& Picture() {
  static TBitmap picture;
  if (picture.IsEmpty()) {
    picture.SetLayout(PixelLayout::Bits24);
    picture.SetImageWidth(kWidth);
    picture.SetImageHeight(kHeight);
    for (int32_t y = 0; y < kHeight; ++y) {
      uint8_t* row = picture.RowAddress(y);
      for (uint64_t i = 0; i < picture.Stride(); ++i) row[i] = static_cast<uint8_t>(i * 13 + y);
    }
  }
  return picture;
}

size_t StorageBytes() { return Picture().Stride() * kHeight; }

void BM_Memcpy(benchmark::State& state) {
  const size_t n = StorageBytes();
  std::vector<uint8_t> from(n, 1), to(n);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), n);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

// The keystream combined with the storage alone, into a ready buffer.
void BM_KeystreamXor(benchmark::State& state) {
  const size_t n = StorageBytes();
  std::vector<uint8_t> from(n, 1), to(n);
  for (auto _ : state) {
    quorvex::Keystream::setSeed(614052);
    quorvex::Keystream::xorBytes(from.data(), to.data(), n);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

// The whole EncryptTransform: a new target sized, laid out and filled.
void BM_EncryptTransform(benchmark::State& state) {
  const TBitmap& source = Picture();
  for (auto _ : state) {
    TBitmap target;
    quorvex::EncryptTransform(source, "614052", target);
    benchmark::DoNotOptimize(target.RowAddress(0));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * StorageBytes()));
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystreamXor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncryptTransform)->Unit(benchmark::kMillisecond);

// Prints each result's throughput as a fraction of memcpy's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const double seconds = run.GetAdjustedRealTime();
      if (run.run_name.function_name == "BM_Memcpy") memcpyTime_ = seconds;
      if (memcpyTime_ > 0 && run.run_name.function_name != "BM_Memcpy") {
        GetOutputStream() << "  " << run.run_name.function_name << " runs at "
                          << memcpyTime_ / seconds << " of memcpy's speed\n";
      }
    }
  }

 private:
  double memcpyTime_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
