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

#include <string>

#include "bench_support.h"
#include "picture/readers/pcx_reader.h"
#include "picture/readers/targa_reader.h"

namespace {

// Made after the shared photo and graphic pictures.
constexpr const char* kScript = R"(
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
    picture.save(folder + "/" + name, **options)
names = list(files)
)";

}  // namespace

int main(int argc, char** argv) {
  return quorvex::bench::RunBesidePillow<quorvex::TTargaGraphic, quorvex::TPCXGraphic>(
      argc, argv, "quorvex_targa_pcx_bench", kScript, "targa",
      "could not make the test files with Pillow (/usr/bin/python3, PIL)");
}
