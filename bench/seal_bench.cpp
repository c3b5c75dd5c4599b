// What sealing costs: the key derivation a run does once (Argon2id at the
// sealing parameters), and the stream encryption of 64 MiB in memory beside
// memcpy of the same bytes. The whole-file figure against cp and sync is
// bench/seal_vs_cp.sh.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/sealed_file.h"
#include "picture/stream.h"

namespace {

using quorvex::TSealParameters;

void BM_KeyDerivation(benchmark::State& state) {
  quorvex::TSalt salt{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        quorvex::DeriveSealKey("a long passphrase", salt, quorvex::kSealParameters));
  }
}
BENCHMARK(BM_KeyDerivation)->Unit(benchmark::kMillisecond)->Iterations(5);

constexpr size_t kBytes = size_t{64} << 20;

const std::vector<uint8_t>& Content() {
  static const std::vector<uint8_t> content = [] {
    std::vector<uint8_t> bytes(kBytes);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    return bytes;
  }();
  return content;
}

// Reads the content in place and throws the output away: what is timed is the
// sealing, not a growing buffer.
class TContentStream : public quorvex::TStream {
 public:
  int64_t Size() const override { return static_cast<int64_t>(kBytes); }
  int64_t Position() const override { return position_; }
  int64_t Seek(int64_t position) override { return position_ = position; }
  size_t Read(void* buffer, size_t count) override {
    count = std::min(count, kBytes - static_cast<size_t>(position_));
    std::memcpy(buffer, Content().data() + position_, count);
    position_ += static_cast<int64_t>(count);
    return count;
  }
  size_t Write(const void*, size_t count) override { return count; }

 private:
  int64_t position_ = 0;
};

void BM_SealStream(benchmark::State& state) {
  // The key is derived once, before timing starts.
  quorvex::TSealer sealer("a long passphrase", TSealParameters{1, 8});
  {
    quorvex::TMemoryStream warm(std::vector<uint8_t>{1});
    quorvex::TMemoryStream out;
    sealer.SealTo(warm, {"w", 1, 0, 0644}, out);
  }
  for (auto _ : state) {
    TContentStream content;
    TContentStream out;
    sealer.SealTo(content, {"content.bin", kBytes, 0, 0644}, out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_SealStream)->Unit(benchmark::kMillisecond);

void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t> copy(kBytes);
  for (auto _ : state) {
    std::memcpy(copy.data(), Content().data(), kBytes);
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
