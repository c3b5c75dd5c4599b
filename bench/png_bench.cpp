// Decoding speed of the PNG reader beside libpng on the very same large
// files in the same run: the ratio is the figure that counts. Each iteration
// decodes the file once with each (alternating, so both see the same cache
// and clock conditions) into comparable storage: 4-byte padded rows stored
// bottom-up, blue-green-red order, 16-bit samples scaled to 8 bits, palette
// images as indices.
//
// The files are written with libpng at start-up into a temporary folder:
// a synthetic "photo" (smooth gradients, waves and fine noise, adaptive
// filters, zlib level 6) as 8-bit RGB, as 16-bit RGBA, as a 256-colour
// palette image and as interlaced 8-bit RGB.
//
// Counters: ms is ours per decode, libpng_ms libpng's (both thread CPU
// time), and vs_libpng is libpng's time divided by ours (above 1: we are
// faster).
#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "picture/readers/png_reader.h"
#include "picture/stream.h"

namespace {

namespace fs = std::filesystem;

struct BenchFile {
  const char* name;
  uint32_t width;
  uint32_t height;
  int colorType;
  int depth;
  bool interlaced;
};

constexpr BenchFile kFiles[] = {
    {"photo_rgb8", 4000, 3000, PNG_COLOR_TYPE_RGB, 8, false},
    {"photo_rgba16", 2000, 1500, PNG_COLOR_TYPE_RGB_ALPHA, 16, false},
    {"photo_palette8", 4000, 3000, PNG_COLOR_TYPE_PALETTE, 8, false},
    {"photo_rgb8_interlaced", 4000, 3000, PNG_COLOR_TYPE_RGB, 8, true},
};

fs::path Folder() {
  static const fs::path folder = fs::temp_directory_path() / "quorvex_png_bench";
  return folder;
}

std::string PathOf(const BenchFile& f) {
  return (Folder() / (std::string(f.name) + ".png")).string();
}

// A smooth picture with some texture: what photographs compress like.
void PhotoPixel(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t& noise, double out[4]) {
  noise = noise * 1664525u + 1013904223u;
  const double n = static_cast<double>((noise >> 24) & 15) - 7.5;
  const double fx = static_cast<double>(x) / w;
  const double fy = static_cast<double>(y) / h;
  out[0] = 110 + 70 * std::sin(x / 97.0 + y / 53.0) + 60 * fx + n;
  out[1] = 120 + 60 * std::sin(x / 41.0) * std::cos(y / 67.0) + 50 * fy + n;
  out[2] = 100 + 50 * std::cos((x + y) / 131.0) + 80 * fx * fy + n;
  out[3] = 200 + 55 * std::sin(x / 300.0 + y / 200.0);
  for (int i = 0; i < 4; ++i) out[i] = std::fmin(255, std::fmax(0, out[i])) / 255.0;
}

bool WriteFile(const BenchFile& f) {
  FILE* file = std::fopen(PathOf(f).c_str(), "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const int channels = f.colorType == PNG_COLOR_TYPE_RGB         ? 3
                       : f.colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                                                                 : 1;
  std::vector<uint8_t> row(size_t{f.width} * channels * (f.depth / 8));
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, f.width, f.height, f.depth, f.colorType,
               f.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette(256);
  if (f.colorType == PNG_COLOR_TYPE_PALETTE) {
    for (int i = 0; i < 256; ++i) {
      palette[static_cast<size_t>(i)] = {static_cast<png_byte>((i >> 5) * 255 / 7),
                                         static_cast<png_byte>(((i >> 2) & 7) * 255 / 7),
                                         static_cast<png_byte>((i & 3) * 255 / 3)};
    }
    png_set_PLTE(png, info, palette.data(), 256);
  }
  png_set_compression_level(png, 6);
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < f.height; ++y) {
      for (uint32_t x = 0; x < f.width; ++x) {
        double c[4];
        PhotoPixel(x, y, f.width, f.height, noise, c);
        if (f.colorType == PNG_COLOR_TYPE_PALETTE) {
          const int r = static_cast<int>(c[0] * 7.99), g = static_cast<int>(c[1] * 7.99),
                    b = static_cast<int>(c[2] * 3.99);
          row[x] = static_cast<uint8_t>(r << 5 | g << 2 | b);
        } else {
          for (int k = 0; k < channels; ++k) {
            if (f.depth == 16) {
              const auto v = static_cast<uint16_t>(c[k] * 65535);
              row[(size_t{x} * channels + k) * 2] = static_cast<uint8_t>(v >> 8);
              row[(size_t{x} * channels + k) * 2 + 1] = static_cast<uint8_t>(v);
            } else {
              row[size_t{x} * channels + k] = static_cast<uint8_t>(c[k] * 255);
            }
          }
        }
      }
      png_write_row(png, row.data());
    }
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

// libpng into storage laid out like a bitmap's; returns a byte to keep, and
// the storage when asked.
uint8_t DecodeWithLibpng(const std::string& path, std::vector<uint8_t>* copy = nullptr) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return 0;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::unique_ptr<uint8_t[]> pixels;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return 0;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  const uint32_t width = png_get_image_width(png, info);
  const uint32_t height = png_get_image_height(png, info);
  if (png_get_bit_depth(png, info) == 16) png_set_scale_16(png);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t stride = (png_get_rowbytes(png, info) + 3) & ~size_t{3};
  pixels.reset(new uint8_t[stride * height]);
  rows.resize(height);
  for (uint32_t y = 0; y < height; ++y) rows[y] = pixels.get() + (height - 1 - y) * stride;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  (void)width;
  if (copy) copy->assign(pixels.get(), pixels.get() + stride * height);
  return pixels[stride * height / 2];
}

void BM_Decode(benchmark::State& state, const BenchFile& f) {
  quorvex::bench::DecodeAlternating<quorvex::TPNGGraphic>(
      state, PathOf(f), "libpng", PathOf(f),
      [](const std::string& path) { return DecodeWithLibpng(path); });
}

// Both decoders must fill the storage alike for the figures to compare:
// exactly, except that libpng rounds 16-bit samples where this reader
// truncates them.
bool SameResults(const BenchFile& f) {
  quorvex::TPNGGraphic png;
  png.LoadFile(PathOf(f));
  std::vector<uint8_t> theirs;
  DecodeWithLibpng(PathOf(f), &theirs);
  return quorvex::bench::SameStorage(png, theirs, f.depth == 16 ? 1 : 0, f.name, "libpng");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  fs::create_directories(Folder());
  for (const BenchFile& f : kFiles) {
    if (!WriteFile(f)) {
      std::fprintf(stderr, "could not write %s\n", PathOf(f).c_str());
      return 1;
    }
    if (!SameResults(f)) return 1;
    benchmark::RegisterBenchmark((std::string("BM_Decode/") + f.name).c_str(), BM_Decode, f)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(6);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(Folder());
  return 0;
}
