// Decoding speed of the fax (CCITT) and ThunderScan strip decoders beside
// libtiff decoding the very same strips in the same process, and of the
// Photo-CD reader. Pairs: BM_Ours/<case> and BM_Libtiff/<case>; the ratio
// libtiff time / our time is the figure that counts (above 1: we are faster).
// BM_Beside/<case> decodes the strip with both in every iteration, timed in
// thread CPU time, which keeps a busy machine from favouring either: its
// vs_libtiff counter is that ratio.
//
// Cases: the fax page of the shared test data (1728 x 2156, T.4 with EOL
// fill), a synthetic A4 page at 300 dpi (2480 x 3508, short text-like runs)
// coded as T.4 (one- and two-dimensional), T.6 and modified Huffman, a
// scanned page coded as T.6 (2548 x 3296, from the shared test data), and
// a 2000 x 2000 ThunderScan strip.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "bench_support.h"
#include "picture/readers/ccitt_decoder.h"
#include "picture/readers/pcd_reader.h"
#include "picture/readers/thunderscan_decoder.h"
#include "picture/stream.h"

namespace {

namespace fs = std::filesystem;

void Quiet(const char*, const char*, va_list) {}

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

// One single-strip file, opened by libtiff, with its raw strip at hand.
struct StripCase {
  std::string path;
  TiffFile tiff;
  std::vector<uint8_t> raw;
  size_t decodedSize = 0;
  uint32_t width = 0;
  uint16_t compression = 0;
  uint16_t fillOrder = 1;
  uint32_t t4Options = 0;
};

// Made on first use, removed with everything in it at exit.
fs::path TempFolder() {
  struct Folder {
    fs::path path = fs::temp_directory_path() / ("quorvex_fax_bench_" + std::to_string(getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  };
  static const Folder folder;
  return folder.path;
}

StripCase OpenCase(const std::string& path) {
  StripCase c;
  c.path = path;
  c.tiff.reset(TIFFOpen(path.c_str(), "r"));
  if (!c.tiff) return c;
  TIFF* t = c.tiff.get();
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &c.width);
  TIFFGetField(t, TIFFTAG_COMPRESSION, &c.compression);
  TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &c.fillOrder);
  if (c.compression == COMPRESSION_CCITTFAX3) {
    TIFFGetFieldDefaulted(t, TIFFTAG_GROUP3OPTIONS, &c.t4Options);
  }
  c.raw.resize(static_cast<size_t>(TIFFGetStrileByteCount(t, 0)));
  TIFFReadRawStrip(t, 0, c.raw.data(), static_cast<tmsize_t>(c.raw.size()));
  c.decodedSize = static_cast<size_t>(TIFFStripSize(t));
  return c;
}

// A page of short black and white runs, like lines of text.
void WritePage(const std::string& path, uint16_t compression, uint32_t t4Options = 0) {
  const uint32_t width = 2480;
  const uint32_t height = 3508;
  const size_t rowBytes = (width + 7) / 8;
  std::vector<uint8_t> rows(rowBytes * height, 0);
  std::mt19937 random(3);
  for (uint32_t y = 0; y < height; ++y) {
    if ((y / 40) % 2 == 1) continue;  // blank space between lines
    bool black = false;
    for (uint32_t x = 200; x < width - 200;) {
      const uint32_t run = std::min<uint32_t>(1 + random() % (black ? 6 : 20), width - 200 - x);
      for (uint32_t i = x; black && i < x + run; ++i) {
        rows[y * rowBytes + i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      }
      x += run;
      black = !black;
    }
  }
  TiffFile tiff(TIFFOpen(path.c_str(), "w"));
  TIFF* t = tiff.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  if (t4Options != 0) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, t4Options);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, height);
  TIFFWriteEncodedStrip(t, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
}

void WriteThunderScan(const std::string& path) {
  const uint32_t width = 2000;
  const uint32_t height = 2000;
  std::vector<uint8_t> codes;
  std::mt19937 random(4);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t pixels = 0; pixels < width;) {
      const uint32_t left = width - pixels;
      if (left > 20 && random() % 4 == 0) {
        // libtiff drops a run that ends its row, so runs stay inside it.
        const uint32_t run = 1 + random() % std::min<uint32_t>(63, left - 1);
        codes.push_back(static_cast<uint8_t>(run));
        pixels += run;
      } else if (left >= 3 && random() % 2 == 0) {
        codes.push_back(static_cast<uint8_t>(0x40 | (random() % 2 ? 0x15 : 0x3F)));
        pixels += 3;
      } else {
        codes.push_back(static_cast<uint8_t>(0xC0 | (random() % 16)));
        pixels += 1;
      }
    }
  }
  TiffFile tiff(TIFFOpen(path.c_str(), "w"));
  TIFF* t = tiff.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 4);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_THUNDERSCAN);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, height);
  TIFFWriteRawStrip(t, 0, codes.data(), static_cast<tmsize_t>(codes.size()));
}

std::map<std::string, StripCase>& Cases() {
  static std::map<std::string, StripCase> cases = [] {
    TIFFSetWarningHandler(Quiet);
    std::map<std::string, StripCase> m;
    const fs::path folder = TempFolder();
    m["fax_page_g3"] = OpenCase(QUORVEX_TESTDATA "/tiff/total-pages-zero.tif");
    WritePage(folder / "page_g3.tif", COMPRESSION_CCITTFAX3);
    m["a4_text_g3"] = OpenCase(folder / "page_g3.tif");
    WritePage(folder / "page_g3_2d.tif", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING);
    m["a4_text_g3_2d"] = OpenCase(folder / "page_g3_2d.tif");
    WritePage(folder / "page_g4.tif", COMPRESSION_CCITTFAX4);
    m["a4_text_g4"] = OpenCase(folder / "page_g4.tif");
    m["scanned_page_g4"] = OpenCase(QUORVEX_TESTDATA "/tiff/pport_g4.tif");
    WritePage(folder / "page_mh.tif", COMPRESSION_CCITTRLE);
    m["a4_text_huffman"] = OpenCase(folder / "page_mh.tif");
    WriteThunderScan(folder / "thunder.tif");
    m["thunderscan_2000"] = OpenCase(folder / "thunder.tif");
    return m;
  }();
  return cases;
}

std::unique_ptr<quorvex::TStripDecoder> OurDecoder(const StripCase& c) {
  const bool reverse = c.fillOrder == FILLORDER_LSB2MSB;
  switch (c.compression) {
    case COMPRESSION_CCITTFAX3:
      return std::make_unique<quorvex::TCCITTFax3Decoder>(c.t4Options, c.width, reverse);
    case COMPRESSION_CCITTFAX4:
      return std::make_unique<quorvex::TCCITTFax4Decoder>(c.width, reverse);
    case COMPRESSION_THUNDERSCAN:
      return std::make_unique<quorvex::TThunderScanDecoder>(c.width);
    default:
      return std::make_unique<quorvex::TCCITTHuffmanDecoder>(
          c.width, reverse, c.compression == COMPRESSION_CCITTRLEW);
  }
}

// The case, or nullptr with the benchmark skipped when its file is missing.
StripCase* CaseOrSkip(benchmark::State& state, const std::string& name) {
  StripCase& c = Cases().at(name);
  if (c.tiff) return &c;
  state.SkipWithError("no fixture");
  return nullptr;
}

void BM_Ours(benchmark::State& state, const std::string& name) {
  StripCase* found = CaseOrSkip(state, name);
  if (!found) return;
  StripCase& c = *found;
  std::vector<uint8_t> target(c.decodedSize);
  auto decoder = OurDecoder(c);
  for (auto _ : state) {
    const size_t produced =
        decoder->DecodeStrip(c.raw.data(), c.raw.size(), target.data(), target.size());
    benchmark::DoNotOptimize(produced);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(target.size()));
}

void BM_Libtiff(benchmark::State& state, const std::string& name) {
  StripCase* found = CaseOrSkip(state, name);
  if (!found) return;
  StripCase& c = *found;
  std::vector<uint8_t> target(c.decodedSize);
  for (auto _ : state) {
    const tmsize_t produced = TIFFReadEncodedStrip(c.tiff.get(), 0, target.data(), -1);
    benchmark::DoNotOptimize(produced);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(target.size()));
}

void BM_Beside(benchmark::State& state, const std::string& name) {
  StripCase* found = CaseOrSkip(state, name);
  if (!found) return;
  StripCase& c = *found;
  std::vector<uint8_t> target(c.decodedSize);
  auto decoder = OurDecoder(c);
  double ours = 0;
  double theirs = 0;
  for (auto _ : state) {
    double start = quorvex::bench::ThreadCpuSeconds();
    benchmark::DoNotOptimize(
        decoder->DecodeStrip(c.raw.data(), c.raw.size(), target.data(), target.size()));
    ours += quorvex::bench::ThreadCpuSeconds() - start;
    start = quorvex::bench::ThreadCpuSeconds();
    benchmark::DoNotOptimize(TIFFReadEncodedStrip(c.tiff.get(), 0, target.data(), -1));
    theirs += quorvex::bench::ThreadCpuSeconds() - start;
  }
  const auto n = static_cast<double>(state.iterations());
  quorvex::bench::ReportBeside(state, "libtiff", ours * 1000 / n, theirs * 1000 / n);
}

void BM_PCDBaseImage(benchmark::State& state) {
  const std::vector<uint8_t> bytes =
      quorvex::bench::ReadFileBytes(QUORVEX_TESTDATA "/pcd/hopper.pcd");
  if (bytes.empty()) {
    state.SkipWithError("no fixture");
    return;
  }
  for (auto _ : state) {
    quorvex::TMemoryStream stream(bytes.data(), bytes.size());
    quorvex::TPCDGraphic graphic;
    graphic.ReadFromStream(stream);
    benchmark::DoNotOptimize(graphic.RowAddress(0));
  }
}

const int kRegistered = [] {
  for (const char* name : {"fax_page_g3", "a4_text_g3", "a4_text_g3_2d", "a4_text_g4",
                           "scanned_page_g4", "a4_text_huffman", "thunderscan_2000"}) {
    benchmark::RegisterBenchmark((std::string("BM_Ours/") + name).c_str(), BM_Ours,
                                 std::string(name))
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("BM_Libtiff/") + name).c_str(), BM_Libtiff,
                                 std::string(name))
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("BM_Beside/") + name).c_str(), BM_Beside,
                                 std::string(name))
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("BM_PCDBaseImage", BM_PCDBaseImage)->Unit(benchmark::kMillisecond);
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
