// Throughput of the scrambling transform on a 4000 x 3000 Bits24 picture,
// beside memcpy of the same storage in the same run: the ratio is the figure
// that counts, since absolute speeds vary from machine to machine. Every
// benchmark runs on the calling thread alone; pin it to one core with
// `taskset -c 1` for steadier figures.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/keystream.h"
#include "core/keystream_kernels.h"
#include "core/transform.h"
#include "picture/bitmap.h"

namespace {

using quorvex::KeystreamKernel;
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

size_t StorageBytes() {
  return Picture().Stride() * kHeight;
}

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

// The keystream combined with the storage alone, in one call, into a ready
// buffer.
void BM_KeystreamXor(benchmark::State& state, KeystreamKernel kernel) {
  const size_t n = StorageBytes();
  std::vector<uint8_t> from(n, 1), to(n);
  for (auto _ : state) {
    const uint32_t after = quorvex::XorKeystreamWith(kernel, 614052, from.data(), to.data(), n);
    benchmark::DoNotOptimize(after);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

// The whole EncryptTransform with the given kernel: a new target sized, laid
// out and filled row by row. Its storage is the block the previous target
// left, as in a batch of same-sized pictures.
void BM_EncryptTransform(benchmark::State& state, KeystreamKernel kernel) {
  quorvex::SelectKeystreamKernel(kernel);
  const TBitmap& source = Picture();
  for (auto _ : state) {
    TBitmap target;
    quorvex::EncryptTransform(source, "614052", target);
    benchmark::DoNotOptimize(target.RowAddress(0));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * StorageBytes()));
  quorvex::SelectKeystreamKernel(quorvex::BestKeystreamKernel());
}

// The same into memory the process has not used before: the kernel's page
// faults and zeroing come on top, as for a program's first picture.
void BM_EncryptTransformColdTarget(benchmark::State& state) {
  const TBitmap& source = Picture();
  for (auto _ : state) {
    state.PauseTiming();
    quorvex::ReleaseRecycledStorage();
    state.ResumeTiming();
    TBitmap target;
    quorvex::EncryptTransform(source, "614052", target);
    benchmark::DoNotOptimize(target.RowAddress(0));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * StorageBytes()));
}

// Prints each result's throughput as a fraction of memcpy's, comparing like
// with like when repetitions report means and medians. The figure by CPU
// time comes first: it holds steady when other programs share the core; the
// one by wall-clock time follows.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const std::string kind = run.run_type == Run::RT_Aggregate ? run.aggregate_name : "";
      if (kind == "stddev" || kind == "cv" || run.error_occurred) continue;
      const Times times{run.GetAdjustedCPUTime(), run.GetAdjustedRealTime()};
      if (run.run_name.function_name == "BM_Memcpy") {
        memcpyTimes_[kind] = times;
        continue;
      }
      const auto memcpy = memcpyTimes_.find(kind);
      if (memcpy == memcpyTimes_.end() || times.cpu <= 0 || times.real <= 0) continue;
      GetOutputStream() << "  " << run.benchmark_name() << " runs at "
                        << memcpy->second.cpu / times.cpu << " of memcpy's speed (wall clock "
                        << memcpy->second.real / times.real << ")\n";
    }
  }

 private:
  struct Times {
    double cpu, real;
  };
  std::map<std::string, Times> memcpyTimes_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy)->Unit(benchmark::kMillisecond);
  const KeystreamKernel kernels[] = {KeystreamKernel::Plain, KeystreamKernel::Portable,
                                     KeystreamKernel::Sse2, KeystreamKernel::Avx2,
                                     KeystreamKernel::Neon};
  for (KeystreamKernel kernel : kernels) {
    if (!quorvex::KeystreamKernelAvailable(kernel)) continue;
    const std::string name = quorvex::KeystreamKernelName(kernel);
    benchmark::RegisterBenchmark(("BM_KeystreamXor/" + name).c_str(), BM_KeystreamXor, kernel)
        ->Unit(benchmark::kMillisecond);
  }
  for (KeystreamKernel kernel : kernels) {
    if (!quorvex::KeystreamKernelAvailable(kernel)) continue;
    const std::string name = quorvex::KeystreamKernelName(kernel);
    benchmark::RegisterBenchmark(("BM_EncryptTransform/" + name).c_str(), BM_EncryptTransform,
                                 kernel)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("BM_EncryptTransformColdTarget", BM_EncryptTransformColdTarget)
      ->Unit(benchmark::kMillisecond);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
