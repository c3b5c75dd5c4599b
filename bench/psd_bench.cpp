// Decoding speed of the Photoshop reader beside libtiff on the same 4000 x
// 3000 RGB picture, stored the way Photoshop stores its merged image: three
// planes one after another, uncompressed or PackBits. The TIFF files hold
// the planes separately too (planar configuration 2), each strip PackBits
// or raw, so both decoders do the same work: unpack each plane and
// interleave the planes into blue, green, red rows of bitmap storage.
//
// Counters: ms is ours per decode, libtiff_ms libtiff's, and vs_libtiff
// libtiff's time divided by ours (above 1: we are faster). Both sides are
// timed in thread processor time.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <time.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "picture/readers/psd_reader.h"
#include "support/run_length_encoders.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kWidth = 4000;
constexpr uint32_t kHeight = 3000;

fs::path Folder() {
  return fs::temp_directory_path() / "quorvex_psd_bench";
}

// A smooth picture with some texture: what photographs compress like.
std::vector<std::vector<uint8_t>> PhotoPlanes() {
  std::vector<std::vector<uint8_t>> planes(3, std::vector<uint8_t>(size_t{kWidth} * kHeight));
  uint32_t noise = 1;
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      uint8_t pixel[3];
      quorvex::bench::PhotoPixel(x, y, kWidth, kHeight, noise, pixel);
      for (int i = 0; i < 3; ++i) planes[i][size_t{y} * kWidth + x] = pixel[i];
    }
  }
  return planes;
}

void PutBE(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool WritePsd(const std::string& path, const std::vector<std::vector<uint8_t>>& planes,
              bool packBits) {
  std::vector<uint8_t> out = {'8', 'B', 'P', 'S'};
  PutBE(out, 1, 2);
  out.insert(out.end(), 6, 0);
  PutBE(out, 3, 2);
  PutBE(out, kHeight, 4);
  PutBE(out, kWidth, 4);
  PutBE(out, 8, 2);
  PutBE(out, 3, 2);
  for (int section = 0; section < 3; ++section) PutBE(out, 0, 4);
  PutBE(out, packBits ? 1 : 0, 2);
  if (packBits) {
    std::vector<uint8_t> data;
    for (const auto& plane : planes) {
      for (uint32_t y = 0; y < kHeight; ++y) {
        const auto row = quorvex::test::EncodePackBits(plane.data() + size_t{y} * kWidth, kWidth);
        PutBE(out, static_cast<uint32_t>(row.size()), 2);
        data.insert(data.end(), row.begin(), row.end());
      }
    }
    out.insert(out.end(), data.begin(), data.end());
  } else {
    for (const auto& plane : planes) out.insert(out.end(), plane.begin(), plane.end());
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

bool WriteTiff(const std::string& path, const std::vector<std::vector<uint8_t>>& planes,
               bool packBits) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, packBits ? COMPRESSION_PACKBITS : COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  bool ok = true;
  for (uint16_t s = 0; s < 3 && ok; ++s) {
    for (uint32_t y = 0; y < kHeight && ok; ++y) {
      ok = TIFFWriteScanline(tif, const_cast<uint8_t*>(planes[s].data() + size_t{y} * kWidth), y,
                             s) == 1;
    }
  }
  TIFFClose(tif);
  return ok;
}

void Quiet(const char*, const char*, va_list) {}

// libtiff into bottom-up blue, green, red storage like a Bits24 bitmap's.
uint8_t DecodeWithLibtiff(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return 0;
  const size_t stride = (size_t{kWidth} * 3 + 3) & ~size_t{3};
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[stride * kHeight]);
  std::vector<std::vector<uint8_t>> planes(3, std::vector<uint8_t>(size_t{kWidth} * kHeight));
  const uint32_t stripsPerPlane = TIFFNumberOfStrips(tif) / 3;
  const tmsize_t stripSize = TIFFStripSize(tif);
  for (uint32_t p = 0; p < 3; ++p) {
    size_t at = 0;
    for (uint32_t s = 0; s < stripsPerPlane; ++s) {
      const tmsize_t want =
          std::min<tmsize_t>(stripSize, static_cast<tmsize_t>(planes[p].size() - at));
      const tmsize_t got =
          TIFFReadEncodedStrip(tif, p * stripsPerPlane + s, planes[p].data() + at, want);
      if (got < 0) break;
      at += static_cast<size_t>(got);
    }
  }
  TIFFClose(tif);
  for (uint32_t y = 0; y < kHeight; ++y) {
    uint8_t* out = pixels.get() + (kHeight - 1 - y) * stride;
    const size_t row = size_t{y} * kWidth;
    for (uint32_t x = 0; x < kWidth; ++x, out += 3) {
      out[0] = planes[2][row + x];
      out[1] = planes[1][row + x];
      out[2] = planes[0][row + x];
    }
  }
  return pixels[stride * kHeight / 2];
}

void BM_Decode(benchmark::State& state, const std::string& name) {
  quorvex::bench::DecodeAlternating<quorvex::TPSDGraphic>(
      state, (Folder() / (name + ".psd")).string(), "libtiff",
      (Folder() / (name + ".tif")).string(), DecodeWithLibtiff);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TIFFSetWarningHandler(Quiet);
  fs::create_directories(Folder());
  const auto planes = PhotoPlanes();
  for (const bool packBits : {false, true}) {
    const std::string name = packBits ? "photo_rgb8_packbits" : "photo_rgb8_raw";
    if (!WritePsd((Folder() / (name + ".psd")).string(), planes, packBits) ||
        !WriteTiff((Folder() / (name + ".tif")).string(), planes, packBits)) {
      std::fprintf(stderr, "could not write %s\n", name.c_str());
      return 1;
    }
    benchmark::RegisterBenchmark(("BM_Decode/" + name).c_str(), BM_Decode, name)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(Folder());
  return 0;
}
