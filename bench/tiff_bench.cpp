// Decoding speed of the TIFF reader beside libtiff on the very same large
// files in the same run: the ratio is the figure that counts. Each iteration
// decodes the file once with each (alternating, so both see the same cache
// and clock conditions) into comparable storage: 4-byte padded rows stored
// bottom-up in blue-green-red order. libtiff reads each strip with
// TIFFReadEncodedStrip and its rows are then copied with red and blue
// exchanged, which is the work our reader does for the bitmap.
//
// The files are written with libtiff at start-up into a temporary folder:
// a synthetic 4000 x 3000 "photo" (smooth gradients, waves and fine noise)
// as 8-bit RGB, uncompressed, PackBits, deflate and LZW, the last two also
// with horizontal differencing, in libtiff's default strips of about 8 KiB;
// and as 256 x 256 tiles (overhanging the right and bottom edges), which
// libtiff reads with TIFFReadEncodedTile, each tile's rows then copied into
// place as for strips.
//
// Counters: ms is ours per decode, libtiff_ms libtiff's (both thread CPU
// time), and vs_libtiff is libtiff's time divided by ours (above 1: we are
// faster).
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "picture/readers/tiff_reader.h"
#include "picture/stream.h"

namespace {

namespace fs = std::filesystem;

struct BenchFile {
  const char* name;
  uint16_t compression;
  uint16_t predictor;
  uint32_t tileSize = 0;  // 0: strips
};

constexpr uint32_t kWidth = 4000;
constexpr uint32_t kHeight = 3000;

constexpr BenchFile kFiles[] = {
    {"photo_rgb8_none", COMPRESSION_NONE, 1},
    {"photo_rgb8_packbits", COMPRESSION_PACKBITS, 1},
    {"photo_rgb8_deflate", COMPRESSION_ADOBE_DEFLATE, 1},
    {"photo_rgb8_deflate_predictor", COMPRESSION_ADOBE_DEFLATE, 2},
    {"photo_rgb8_lzw", COMPRESSION_LZW, 1},
    {"photo_rgb8_lzw_predictor", COMPRESSION_LZW, 2},
    {"photo_rgb8_tiled_none", COMPRESSION_NONE, 1, 256},
    {"photo_rgb8_tiled_deflate", COMPRESSION_ADOBE_DEFLATE, 1, 256},
    {"photo_rgb8_tiled_deflate_predictor", COMPRESSION_ADOBE_DEFLATE, 2, 256},
    {"photo_rgb8_tiled_lzw_predictor", COMPRESSION_LZW, 2, 256},
};

fs::path Folder() {
  static const fs::path folder = fs::temp_directory_path() / "quorvex_tiff_bench";
  return folder;
}

std::string PathOf(const BenchFile& f) {
  return (Folder() / (std::string(f.name) + ".tif")).string();
}

bool WriteStrips(TIFF* tif) {
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  std::vector<uint8_t> row(size_t{kWidth} * 3);
  uint32_t noise = 12345;
  bool ok = true;
  for (uint32_t y = 0; y < kHeight && ok; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x)
      quorvex::bench::PhotoPixel(x, y, kWidth, kHeight, noise, &row[size_t{x} * 3]);
    ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
  }
  return ok;
}

// The same photo cut into square tiles; what overhangs the picture repeats
// its edge pixels.
bool WriteTiles(TIFF* tif, uint32_t size) {
  TIFFSetField(tif, TIFFTAG_TILEWIDTH, size);
  TIFFSetField(tif, TIFFTAG_TILELENGTH, size);
  std::vector<uint8_t> photo(size_t{kWidth} * kHeight * 3);
  uint32_t noise = 12345;
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      quorvex::bench::PhotoPixel(x, y, kWidth, kHeight, noise,
                                 &photo[(size_t{y} * kWidth + x) * 3]);
    }
  }
  std::vector<uint8_t> tile(size_t{size} * size * 3);
  for (uint32_t ty = 0; ty < kHeight; ty += size) {
    for (uint32_t tx = 0; tx < kWidth; tx += size) {
      for (uint32_t r = 0; r < size; ++r) {
        const uint32_t y = std::min(ty + r, kHeight - 1);
        for (uint32_t c = 0; c < size; ++c) {
          const uint32_t x = std::min(tx + c, kWidth - 1);
          std::memcpy(&tile[(size_t{r} * size + c) * 3], &photo[(size_t{y} * kWidth + x) * 3], 3);
        }
      }
      if (TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) < 0) return false;
    }
  }
  return true;
}

bool WriteFile(const BenchFile& f) {
  TIFF* tif = TIFFOpen(PathOf(f).c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, f.compression);
  if (f.predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, f.predictor);
  const bool ok = f.tileSize ? WriteTiles(tif, f.tileSize) : WriteStrips(tif);
  TIFFClose(tif);
  return ok;
}

void Quiet(const char*, const char*, va_list) {}

// `pixels` RGB pixels into bitmap storage as blue, green, red.
void CopySwapped(const uint8_t* in, uint8_t* out, uint32_t pixels) {
  for (uint32_t x = 0; x < pixels; ++x, in += 3, out += 3) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
  }
}

// Every tile with TIFFReadEncodedTile, its rows inside the picture copied
// into place.
void ReadTilesWithLibtiff(TIFF* tif, uint32_t width, uint32_t height, size_t stride,
                          uint8_t* pixels) {
  uint32_t tileWidth = 0, tileLength = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize(tif)));
  for (uint32_t ty = 0; ty < height; ty += tileLength) {
    for (uint32_t tx = 0; tx < width; tx += tileWidth) {
      if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, tx, ty, 0, 0), tile.data(), -1) < 0) return;
      const uint32_t columns = std::min(tileWidth, width - tx);
      for (uint32_t r = 0; r < tileLength && ty + r < height; ++r) {
        CopySwapped(tile.data() + size_t{r} * tileWidth * 3,
                    pixels + (height - 1 - ty - r) * stride + size_t{tx} * 3, columns);
      }
    }
  }
}

// libtiff into storage laid out like a bitmap's; returns a byte to keep, and
// the storage when asked.
uint8_t DecodeWithLibtiff(const std::string& path, std::vector<uint8_t>* copy = nullptr) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return 0;
  uint32_t width = 0, height = 0, rowsPerStrip = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  const size_t rowBytes = size_t{width} * 3;
  const size_t stride = (rowBytes + 3) & ~size_t{3};
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[stride * height]);
  if (TIFFIsTiled(tif)) {
    ReadTilesWithLibtiff(tif, width, height, stride, pixels.get());
    TIFFClose(tif);
    if (copy) copy->assign(pixels.get(), pixels.get() + stride * height);
    return pixels[stride * height / 2];
  }
  std::vector<uint8_t> strip(static_cast<size_t>(TIFFStripSize(tif)));
  const uint32_t strips = TIFFNumberOfStrips(tif);
  uint32_t y = 0;
  for (uint32_t s = 0; s < strips && y < height; ++s) {
    const tmsize_t got = TIFFReadEncodedStrip(tif, s, strip.data(), -1);
    if (got < 0) break;
    const uint32_t rows = static_cast<uint32_t>(static_cast<size_t>(got) / rowBytes);
    for (uint32_t r = 0; r < rows && y < height; ++r, ++y) {
      CopySwapped(strip.data() + r * rowBytes, pixels.get() + (height - 1 - y) * stride, width);
    }
  }
  TIFFClose(tif);
  if (copy) copy->assign(pixels.get(), pixels.get() + stride * height);
  return pixels[stride * height / 2];
}

void BM_Decode(benchmark::State& state, const BenchFile& f) {
  quorvex::bench::DecodeAlternating<quorvex::TTIFFGraphic>(
      state, PathOf(f), "libtiff", PathOf(f),
      [](const std::string& path) { return DecodeWithLibtiff(path); });
}

// Both decoders must fill the storage alike for the figures to compare.
bool SameResults(const BenchFile& f) {
  quorvex::TTIFFGraphic tiff;
  tiff.LoadFile(PathOf(f));
  std::vector<uint8_t> theirs;
  DecodeWithLibtiff(PathOf(f), &theirs);
  return quorvex::bench::SameStorage(tiff, theirs, 0, f.name, "libtiff");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TIFFSetWarningHandler(Quiet);
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
