// TJPEGImage against plain libjpeg-turbo on the same files: the wrapper's
// decode (header on load, pixels on first use), the loader's whole road
// (decode, then drawing onto the Bits24 working bitmap), and libjpeg-turbo
// decoding into a buffer of its own.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include <jpeglib.h>

#include "picture/bitmap.h"
#include "picture/jpeg_image.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/stream.h"

namespace {

using namespace quorvex;

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A photo-like 2048 x 1536 picture (smooth gradients with fine detail),
// quality 90, 4:2:0, made once with libjpeg.
std::vector<uint8_t> SyntheticJpeg() {
  const int width = 2048, height = 1536;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(width * 3);
  uint32_t seed = 1;
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    for (int x = 0; x < width; ++x) {
      seed = seed * 1103515245 + 12345;
      const int noise = static_cast<int>((seed >> 16) % 24);
      row[3 * x] = static_cast<uint8_t>((x * 255 / width + noise) & 0xFF);
      row[3 * x + 1] = static_cast<uint8_t>((y * 255 / height + noise) & 0xFF);
      row[3 * x + 2] = static_cast<uint8_t>(((x ^ y) >> 3) + noise);
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> bytes(out, out + size);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return bytes;
}

const std::vector<uint8_t>& Input(int which) {
  static const std::vector<uint8_t> inputs[] = {
      ReadFile(QUORVEX_TESTDATA "/jpeg/flower.jpg"),
      ReadFile(QUORVEX_TESTDATA "/jpeg/junk_jpeg_header.jpg"),
      SyntheticJpeg(),
  };
  return inputs[which];
}

void Label(benchmark::State& state, const std::vector<uint8_t>& bytes, int64_t pixels) {
  static const char* const names[] = {"flower 480x360", "photo 1024x768", "synthetic 2048x1536"};
  state.SetLabel(names[state.range(0)]);
  state.SetItemsProcessed(state.iterations() * pixels);
  (void)bytes;
}

// libjpeg-turbo on its own: the same DCT method and upsampling, RGB rows
// into a buffer, as a program using the library directly would do.
void BM_LibjpegTurbo(benchmark::State& state) {
  const auto& bytes = Input(static_cast<int>(state.range(0)));
  int64_t pixels = 0;
  for (auto _ : state) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    errors.output_message = [](j_common_ptr) {};  // quiet, as the wrapper is
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const size_t stride = size_t{cinfo.output_width} * 3;
    std::vector<uint8_t> pixelsOut(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = pixelsOut.data() + cinfo.output_scanline * stride;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    pixels = int64_t{cinfo.output_width} * cinfo.output_height;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(pixelsOut.data());
  }
  Label(state, bytes, pixels);
}

// The wrapper: load (the file kept, the header read), then the first use
// decodes into its own Bits24 bitmap.
// One load and decode of `bytes`; the pixels decoded.
int64_t DecodeOnce(const std::vector<uint8_t>& bytes) {
  TMemoryStream stream(bytes);
  TJPEGImage image;
  image.ReadFromStream(stream);
  const TBitmap& decoded = image.DecodedBitmap();
  benchmark::DoNotOptimize(&decoded);
  return int64_t{decoded.ImageWidth()} * decoded.ImageHeight();
}

void BM_TJPEGImageDecode(benchmark::State& state) {
  const auto& bytes = Input(static_cast<int>(state.range(0)));
  int64_t pixels = 0;
  for (auto _ : state) pixels = DecodeOnce(bytes);
  Label(state, bytes, pixels);
}

// The loader's whole road for a .jpg: detection, loading, the copy for the
// picture container, and drawing onto the Bits24 working bitmap.
void BM_LoadPictureJpeg(benchmark::State& state) {
  const auto& bytes = Input(static_cast<int>(state.range(0)));
  int64_t pixels = 0;
  for (auto _ : state) {
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    LoadPictureFromMemory(bytes.data(), bytes.size(), "picture.jpg", picture, working);
    pixels = int64_t{working->ImageWidth()} * working->ImageHeight();
    benchmark::DoNotOptimize(working.get());
  }
  Label(state, bytes, pixels);
}

// A phone's portrait photo: the synthetic picture with an EXIF block that
// turns it a quarter (orientation 6), decoded and turned upright.
void BM_TJPEGImageDecodeTurned(benchmark::State& state) {
  static const std::vector<uint8_t> bytes = [] {
    const std::vector<uint8_t>& plain = Input(2);
    // APP1 "Exif\0\0", a little-endian TIFF header, one entry: orientation 6.
    const std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0,    0, 'I', 'I',
                                       42,   0,    8, 0,  0,   0,   1,   0,   0x12, 1, 3,   0,
                                       1,    0,    0, 0,  6,   0,   0,   0,   0,    0, 0,   0};
    std::vector<uint8_t> out(plain.begin(), plain.begin() + 2);
    out.insert(out.end(), app1.begin(), app1.end());
    out.insert(out.end(), plain.begin() + 2, plain.end());
    return out;
  }();
  int64_t pixels = 0;
  for (auto _ : state) pixels = DecodeOnce(bytes);
  state.SetLabel("synthetic 2048x1536 turned to 1536x2048");
  state.SetItemsProcessed(state.iterations() * pixels);
}

BENCHMARK(BM_LibjpegTurbo)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TJPEGImageDecode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadPictureJpeg)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TJPEGImageDecodeTurned)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
