// Decoding speed of the Targa and PCX readers on 4000 x 3000 pictures, raw
// and run-length encoded, beside Pillow decoding the very same files in the
// same run: the ratio is the figure that counts. The files are made with
// Pillow at start-up in a temporary folder: a "photo" (gradients and noise,
// so run-length packets are mostly raw) and a "graphic" (a coloured
// Mandelbrot set with large flat areas, so most packets are runs).
//
// Both sides are timed in processor time of their process, which a busy
// machine disturbs less than wall-clock time. Counters: ms is ours per
// decode, pillow_ms Pillow's best of 5 (Image.open + load), and vs_pillow
// Pillow's time divided by ours (above 1: we are faster).
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "picture/readers/pcx_reader.h"
#include "picture/readers/targa_reader.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kScript = R"(
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
files = {
    "targa_raw_photo24.tga": (photo, {}),
    "targa_rle_photo24.tga": (photo, {"compression": "tga_rle"}),
    "targa_raw_graphic24.tga": (graphic, {}),
    "targa_rle_graphic24.tga": (graphic, {"compression": "tga_rle"}),
    "targa_rle_graphic8.tga": (graphic8, {"compression": "tga_rle"}),
    "pcx_rle_photo24.pcx": (photo, {}),
    "pcx_rle_graphic24.pcx": (graphic, {}),
    "pcx_rle_graphic8.pcx": (graphic8, {}),
}
for name, (picture, options) in files.items():
    path = folder + "/" + name
    picture.save(path, **options)
    best = None
    for _ in range(5):
        start = time.process_time()
        with Image.open(path) as im:
            im.load()
        took = time.process_time() - start
        best = took if best is None else min(best, took)
    print(name, best * 1000.0)
)";

// File name to Pillow's decoding time in milliseconds.
std::map<std::string, double>& PillowTimes() {
  static std::map<std::string, double> times;
  return times;
}

fs::path Folder() {
  static const fs::path folder = fs::temp_directory_path() / "quorvex_targa_pcx_bench";
  return folder;
}

bool MakeFiles() {
  fs::create_directories(Folder());
  const fs::path script = Folder() / "make.py";
  if (FILE* f = std::fopen(script.c_str(), "w")) {
    std::fputs(kScript, f);
    std::fclose(f);
  } else {
    return false;
  }
  const std::string command =
      "/usr/bin/python3 '" + script.string() + "' '" + Folder().string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return false;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) {
    std::istringstream in(line);
    std::string name;
    double ms = 0;
    if (in >> name >> ms) PillowTimes()[name] = ms;
  }
  return ::pclose(pipe) == 0;
}

double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

template <typename Reader>
void BM_Decode(benchmark::State& state, const std::string& name) {
  const std::string path = (Folder() / name).string();
  double seconds = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    const double start = ProcessSeconds();
    Reader reader;
    reader.LoadFile(path);
    benchmark::DoNotOptimize(reader.RowAddress(0));
    seconds += ProcessSeconds() - start;
    bytes = static_cast<int64_t>(reader.Stride()) * reader.ImageHeight();
  }
  state.SetBytesProcessed(bytes * static_cast<int64_t>(state.iterations()));
  const double ours = seconds * 1000.0 / static_cast<double>(state.iterations());
  const double pillow = PillowTimes()[name];
  state.counters["ms"] = ours;
  state.counters["pillow_ms"] = pillow;
  state.counters["vs_pillow"] = ours > 0 ? pillow / ours : 0;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!MakeFiles()) {
    std::fprintf(stderr, "could not make the test files with Pillow (/usr/bin/python3, PIL)\n");
    return 1;
  }
  for (const auto& [name, ms] : PillowTimes()) {
    const std::string label = "BM_Decode/" + name;
    if (name.rfind("targa", 0) == 0) {
      benchmark::RegisterBenchmark(label.c_str(), BM_Decode<quorvex::TTargaGraphic>, name)
          ->Unit(benchmark::kMillisecond);
    } else {
      benchmark::RegisterBenchmark(label.c_str(), BM_Decode<quorvex::TPCXGraphic>, name)
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(Folder());
  return 0;
}
