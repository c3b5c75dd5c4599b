#pragma once

// Harness the reader benchmarks share: processor clocks, the figures that
// set our decoder beside a peer's, and files made and timed by Pillow.

#include <benchmark/benchmark.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "picture/bitmap.h"

namespace quorvex::bench {

// Thread CPU time: the machine may be busy with other work, which wall
// time would charge to whichever decoder it happened to interrupt.
inline double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Processor time of the whole process, comparable with what a Python
// script measures of its own with time.process_time().
inline double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The counters of one decode beside a peer's: ms is ours, <peer>_ms the
// peer's, and vs_<peer> the peer's time divided by ours (above 1: we are
// faster).
inline void ReportBeside(benchmark::State& state, const std::string& peer, double oursMs,
                         double theirsMs) {
  state.counters["ms"] = oursMs;
  state.counters[peer + "_ms"] = theirsMs;
  state.counters["vs_" + peer] = oursMs > 0 ? theirsMs / oursMs : 0;
}

// Each iteration decodes the file once with `Reader` and once with the peer
// (`peerDecode(peerPath)`, returning a byte to keep), alternating so both
// see the same cache and clock conditions, each timed in thread CPU time.
template <typename Reader, typename PeerDecode>
void DecodeAlternating(benchmark::State& state, const std::string& path, const std::string& peer,
                       const std::string& peerPath, PeerDecode peerDecode) {
  double ours = 0;
  double theirs = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    double start = ThreadCpuSeconds();
    {
      Reader reader;
      reader.LoadFile(path);
      benchmark::DoNotOptimize(reader.RowAddress(0));
      bytes = static_cast<int64_t>(reader.Stride()) * reader.ImageHeight();
    }
    ours += ThreadCpuSeconds() - start;
    start = ThreadCpuSeconds();
    benchmark::DoNotOptimize(peerDecode(peerPath));
    theirs += ThreadCpuSeconds() - start;
  }
  const auto n = static_cast<double>(state.iterations());
  state.SetBytesProcessed(bytes * static_cast<int64_t>(state.iterations()));
  ReportBeside(state, peer, ours * 1000 / n, theirs * 1000 / n);
}

// One pixel of a smooth picture with some texture, what photographs
// compress like, as red, green and blue samples. The noise sits in
// the low bits only every few pixels, so that run-length coders find runs
// as they would in scanned artwork; `noise` carries the generator along.
inline void PhotoPixel(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t& noise,
                       uint8_t out[3]) {
  noise = noise * 1664525u + 1013904223u;
  const double n = (x % 4 == 0) ? static_cast<double>((noise >> 24) & 7) - 3.5 : 0;
  const double fx = static_cast<double>(x) / width;
  const double fy = static_cast<double>(y) / height;
  const double c[3] = {110 + 70 * std::sin(x / 97.0 + y / 53.0) + 60 * fx + n,
                       120 + 60 * std::sin(x / 41.0) * std::cos(y / 67.0) + 50 * fy + n,
                       100 + 50 * std::cos((x + y) / 131.0) + 80 * fx * fy + n};
  for (int i = 0; i < 3; ++i) {
    // Quantised a little, as many photographs are after editing.
    out[i] = static_cast<uint8_t>(static_cast<int>(std::fmin(255, std::fmax(0, c[i]))) & ~3);
  }
}

// The whole file, or nothing when it cannot be read.
inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t block[1 << 16];
    for (size_t got; (got = std::fread(block, 1, sizeof block, f)) > 0;) {
      bytes.insert(bytes.end(), block, block + got);
    }
    std::fclose(f);
  }
  return bytes;
}

inline bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

// Runs a Python script with the folder as its argument; the script makes
// the files there and prints a line "name milliseconds" for each, Pillow's
// best time to decode it. Fills `times` from those lines.
inline bool RunPillowScript(const std::filesystem::path& folder, const char* script,
                            std::map<std::string, double>& times) {
  std::filesystem::create_directories(folder);
  const std::filesystem::path scriptPath = folder / "make.py";
  if (FILE* f = std::fopen(scriptPath.c_str(), "w")) {
    std::fputs(script, f);
    std::fclose(f);
  } else {
    return false;
  }
  const std::string command =
      "/usr/bin/python3 '" + scriptPath.string() + "' '" + folder.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return false;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) {
    std::istringstream in(line);
    std::string name;
    double ms = 0;
    if (in >> name >> ms) times[name] = ms;
  }
  return ::pclose(pipe) == 0;
}

// Decodes the file with `Reader` once an iteration, timed in processor time
// of the process, and reports it beside the peer's time for the same file
// (a peer time of 0: there is none).
template <typename Reader>
void DecodeBeside(benchmark::State& state, const std::string& path, const std::string& peer,
                  double peerMs) {
  double seconds = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    const double start = ProcessCpuSeconds();
    Reader reader;
    reader.LoadFile(path);
    benchmark::DoNotOptimize(reader.RowAddress(0));
    seconds += ProcessCpuSeconds() - start;
    bytes = static_cast<int64_t>(reader.Stride()) * reader.ImageHeight();
  }
  state.SetBytesProcessed(bytes * static_cast<int64_t>(state.iterations()));
  const double ours = seconds * 1000.0 / static_cast<double>(state.iterations());
  if (peerMs > 0) {
    ReportBeside(state, peer, ours, peerMs);
  } else {
    state.counters["ms"] = ours;
  }
}

// The start of every script: the folder, and two 4000 x 3000 pictures made
// with Pillow, a "photo" (gradients and noise, so run-length packets are
// mostly raw) and a "graphic" (a coloured Mandelbrot set with large flat
// areas, so most packets are runs), as RGB and as the palette `graphic8`.
constexpr const char* kPillowPictures = R"(
import sys, time
from PIL import Image
folder = sys.argv[1]
W, H = 4000, 3000
noise = Image.effect_noise((W, H), 40)
photo = Image.merge("RGB", (
    Image.linear_gradient("L").resize((W, H)),
    Image.radial_gradient("L").resize((W, H)),
    noise))
mandel = Image.effect_mandelbrot((W, H), (-2.2, -1.2, 1.0, 1.2), 256)
graphic8 = mandel.convert("P")
graphic8.putpalette([v for i in range(256) for v in ((i * 7) % 256, (i * 13) % 256, (255 - i))])
graphic = graphic8.convert("RGB")
)";

// Pillow's side of a run, for the end of a script that has made its files
// in `folder` and listed their names in `names`: prints each name with
// Pillow's best of five decodes (Image.open + load) in milliseconds of
// processor time.
constexpr const char* kPillowTimes = R"(
for name in names:
    path = folder + "/" + name
    best = None
    for _ in range(5):
        start = time.process_time()
        with Image.open(path) as im:
            im.load()
        took = time.process_time() - start
        best = took if best is None else min(best, took)
    print(name, best * 1000.0)
)";

// The whole program of a benchmark of two readers beside Pillow: the script
// (after kPillowPictures) makes the files in a temporary folder of that name, then every file is
// decoded as BM_Decode/<name>, by First when its name begins with
// `firstPrefix`, else by Second.
template <typename First, typename Second>
int RunBesidePillow(int argc, char** argv, const std::string& folderName, const char* script,
                    const std::string& firstPrefix, const char* makeFailure) {
  benchmark::Initialize(&argc, argv);
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / folderName;
  std::map<std::string, double> times;
  if (!RunPillowScript(folder, (std::string(kPillowPictures) + script + kPillowTimes).c_str(),
                       times)) {
    std::fprintf(stderr, "%s\n", makeFailure);
    return 1;
  }
  for (const auto& [name, ms] : times) {
    const std::string path = (folder / name).string();
    const double pillowMs = ms;
    const std::string label = "BM_Decode/" + name;
    if (name.rfind(firstPrefix, 0) == 0) {
      benchmark::RegisterBenchmark(label.c_str(), [path, pillowMs](benchmark::State& state) {
        DecodeBeside<First>(state, path, "pillow", pillowMs);
      })->Unit(benchmark::kMillisecond);
    } else {
      benchmark::RegisterBenchmark(label.c_str(), [path, pillowMs](benchmark::State& state) {
        DecodeBeside<Second>(state, path, "pillow", pillowMs);
      })->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(folder);
  return 0;
}

// Whether a peer's bottom-up copy of the storage holds our pixel bytes,
// each within `tolerance`; row padding is nobody's business. Says where
// they part on stderr.
inline bool SameStorage(const TBitmap& ours, const std::vector<uint8_t>& theirs, int tolerance,
                        const char* name, const char* peer) {
  const uint64_t stride = ours.Stride();
  if (theirs.size() != stride * static_cast<uint64_t>(ours.ImageHeight())) return false;
  const uint8_t* storage = ours.RowAddress(ours.ImageHeight() - 1);
  const size_t pixelBytes = (size_t{ours.BitsPerPixel()} * ours.ImageWidth() + 7) / 8;
  for (size_t i = 0; i < theirs.size(); ++i) {
    if (i % stride >= pixelBytes) continue;
    if (std::abs(int{storage[i]} - int{theirs[i]}) > tolerance) {
      std::fprintf(stderr, "%s: byte %zu is %d, %s has %d\n", name, i, storage[i], peer, theirs[i]);
      return false;
    }
  }
  return true;
}

}  // namespace quorvex::bench
