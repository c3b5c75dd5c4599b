// Decoding speed of the RLA and PSP readers on 4000 x 3000 colour pictures,
// made at start-up: a "photo" (gradients and noise, so runs are rare) and a
// "graphic" (flat blocks, so most of it is runs).
//
// Peers, measured in the same run:
// - RLA: GraphicsMagick decoding the very same file (gm benchmark convert
//   FILE null:), its user time per decode (gm_ms, vs_gm = gm_ms / ms).
// - PSP LZ77: bare zlib inflating the file's three channel streams in this
//   process (inflate_ms, vs_inflate = inflate_ms / ms): the floor any reader
//   of these files has, since its channels are one zlib stream each.
// Our side loads the same files, timed in processor time of this process
// (ms).
#include <benchmark/benchmark.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "picture/readers/psp_reader.h"
#include "picture/readers/rla_reader.h"
#include "support/run_length_encoders.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// Channel c of pixel (x, y).
uint8_t Sample(bool photo, int c, int x, int y) {
  if (photo) {
    uint32_t n = static_cast<uint32_t>(x * 7919 + y * 104729 + c * 31337);
    n ^= n >> 13;
    n *= 0x5bd1e995u;
    n ^= n >> 15;
    const int base = c == 0 ? x * 255 / kWidth : c == 1 ? y * 255 / kHeight : 128;
    return static_cast<uint8_t>(std::clamp(base + static_cast<int>(n % 41) - 20, 0, 255));
  }
  return static_cast<uint8_t>(((x / 160) * 37 + (y / 120) * 91 + c * 80) & 0xFF);
}

void Put16BE(Bytes& b, size_t at, int v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

Bytes MakeRla(bool photo) {
  Bytes b(740, 0);
  Put16BE(b, 2, kWidth - 1);
  Put16BE(b, 6, kHeight - 1);
  Put16BE(b, 10, kWidth - 1);
  Put16BE(b, 14, kHeight - 1);
  Put16BE(b, 20, 3);
  Put16BE(b, 26, 0xFFFE);
  std::memcpy(&b[580], "rgb", 3);
  Put16BE(b, 658, 8);
  const size_t table = b.size();
  b.resize(b.size() + kHeight * 4);
  Bytes line(kWidth);
  for (int stored = 0; stored < kHeight; ++stored) {
    const int y = kHeight - 1 - stored;
    const auto offset = static_cast<uint32_t>(b.size());
    for (int i = 0; i < 4; ++i)
      b[table + size_t(stored) * 4 + size_t(i)] = uint8_t(offset >> (24 - 8 * i));
    for (int c = 0; c < 3; ++c) {
      for (int x = 0; x < kWidth; ++x) line[size_t(x)] = Sample(photo, c, x, y);
      const Bytes coded = quorvex::test::EncodeRLARuns(line.data(), line.size());
      b.push_back(static_cast<uint8_t>(coded.size() >> 8));
      b.push_back(static_cast<uint8_t>(coded.size()));
      b.insert(b.end(), coded.begin(), coded.end());
    }
  }
  return b;
}

void Add16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Add32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes PspBlock(uint16_t id, const Bytes& fields, const Bytes& rest) {
  Bytes b = {'~', 'B', 'K', 0};
  Add16(b, id);
  Add32(b, static_cast<uint32_t>(4 + fields.size() + rest.size()));
  Add32(b, static_cast<uint32_t>(4 + fields.size()));
  b.insert(b.end(), fields.begin(), fields.end());
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

// A version 5 file of one raster layer; the channels' zlib streams are kept
// for the inflate peer.
Bytes MakePsp(bool photo, uint16_t compression, std::vector<std::pair<Bytes, size_t>>* streams) {
  Bytes file(32, 0);
  std::memcpy(file.data(), "Paint Shop Pro Image File\n\x1a", 27);
  Add16(file, 5);
  Add16(file, 0);
  Bytes attributes;
  Add32(attributes, kWidth);
  Add32(attributes, kHeight);
  attributes.insert(attributes.end(), 8, 0);
  attributes.push_back(0);
  Add16(attributes, compression);
  Add16(attributes, 24);
  Add16(attributes, 1);
  Add32(attributes, 1u << 24);
  attributes.push_back(0);
  Add32(attributes, 0);
  Add32(attributes, 0);
  Add16(attributes, 1);
  Add32(attributes, 1);
  const Bytes image = PspBlock(0, attributes, {});
  file.insert(file.end(), image.begin(), image.end());

  Bytes channels;
  Add32(channels, 8);
  Add16(channels, 1);
  Add16(channels, 3);
  for (int c = 0; c < 3; ++c) {
    Bytes plain(size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x)
        plain[size_t(y) * kWidth + size_t(x)] = Sample(photo, c, x, y);
    }
    Bytes coded;
    if (compression == 2) {
      uLongf size = compressBound(plain.size());
      coded.resize(size);
      compress2(coded.data(), &size, plain.data(), plain.size(), 6);
      coded.resize(size);
      if (streams != nullptr) streams->push_back({coded, plain.size()});
    } else {
      coded = quorvex::test::EncodePSPRuns(plain);
    }
    Bytes fields;
    Add32(fields, static_cast<uint32_t>(coded.size()));
    Add32(fields, static_cast<uint32_t>(plain.size()));
    Add16(fields, 0);
    Add16(fields, static_cast<uint16_t>(c + 1));
    const Bytes channel = PspBlock(5, fields, coded);
    channels.insert(channels.end(), channel.begin(), channel.end());
  }
  Bytes layer;
  const std::string name = "Background";
  Add16(layer, static_cast<uint32_t>(name.size()));
  layer.insert(layer.end(), name.begin(), name.end());
  layer.push_back(1);
  for (int r = 0; r < 2; ++r) {
    Add32(layer, 0);
    Add32(layer, 0);
    Add32(layer, kWidth);
    Add32(layer, kHeight);
  }
  layer.insert(layer.end(), 5 + 32 + 3, 0);
  Add16(layer, 5);
  layer.insert(layer.end(), 40, 0);
  const Bytes layerBlock = PspBlock(4, layer, channels);
  Bytes bank = {'~', 'B', 'K', 0};
  Add16(bank, 3);
  Add32(bank, static_cast<uint32_t>(layerBlock.size()));
  bank.insert(bank.end(), layerBlock.begin(), layerBlock.end());
  file.insert(file.end(), bank.begin(), bank.end());
  return file;
}

struct TFixture {
  std::string path;
  double peerMs = 0;  // 0: no peer
};

fs::path Folder() {
  static const fs::path folder = fs::temp_directory_path() / "quorvex_rla_psp_bench";
  return folder;
}

std::string Save(const std::string& name, const Bytes& bytes) {
  const std::string path = (Folder() / name).string();
  quorvex::bench::WriteFileBytes(path, bytes);
  return path;
}

std::map<std::string, TFixture>& Fixtures() {
  static std::map<std::string, TFixture> fixtures;
  return fixtures;
}

// GraphicsMagick's user time per decode of `path`, 0 when it is not there.
double GraphicsMagickMs(const std::string& path) {
  if (!fs::exists("/usr/bin/gm")) return 0;
  // It prints its figures on stderr.
  const std::string command = "/usr/bin/gm benchmark -rawcsv -iterations 3 convert 'rla:" + path +
                              "' null: 2>&1 >/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  char line[256];
  double ms = 0;
  while (std::fgets(line, sizeof line, pipe)) {
    std::replace(line, line + std::strlen(line), '"', ' ');
    int threads = 0, iterations = 0;
    double user = 0, elapsed = 0;
    if (std::sscanf(line, "%d ,%d ,%lf ,%lf", &threads, &iterations, &user, &elapsed) == 4 &&
        iterations > 0) {
      ms = user * 1000.0 / iterations;
    }
  }
  ::pclose(pipe);
  return ms;
}

double InflateMs(const std::vector<std::pair<Bytes, size_t>>& streams) {
  double best = 0;
  for (int round = 0; round < 5; ++round) {
    const double start = quorvex::bench::ProcessCpuSeconds();
    for (const auto& [coded, size] : streams) {
      Bytes plain(size);
      uLongf length = size;
      uncompress(plain.data(), &length, coded.data(), coded.size());
      benchmark::DoNotOptimize(plain.data());
    }
    const double took = (quorvex::bench::ProcessCpuSeconds() - start) * 1000.0;
    best = round == 0 ? took : std::min(best, took);
  }
  return best;
}

void MakeFixtures() {
  fs::create_directories(Folder());
  for (bool photo : {true, false}) {
    const std::string kind = photo ? "photo" : "graphic";
    TFixture rla{Save("rla_rle_" + kind + ".rla", MakeRla(photo))};
    rla.peerMs = GraphicsMagickMs(rla.path);
    Fixtures()["rla_rle_" + kind] = rla;
    Fixtures()["psp_rle_" + kind] =
        TFixture{Save("psp_rle_" + kind + ".psp", MakePsp(photo, 1, nullptr))};
    std::vector<std::pair<Bytes, size_t>> streams;
    TFixture lz77{Save("psp_lz77_" + kind + ".psp", MakePsp(photo, 2, &streams))};
    lz77.peerMs = InflateMs(streams);
    Fixtures()["psp_lz77_" + kind] = lz77;
  }
}

template <typename Reader>
void BM_Decode(benchmark::State& state, const std::string& name, const char* peer) {
  const TFixture& fixture = Fixtures()[name];
  quorvex::bench::DecodeBeside<Reader>(state, fixture.path, peer, fixture.peerMs);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  MakeFixtures();
  for (const auto& [name, fixture] : Fixtures()) {
    const std::string label = "BM_Decode/" + name;
    if (name.rfind("rla", 0) == 0) {
      benchmark::RegisterBenchmark(label.c_str(), BM_Decode<quorvex::TRLAGraphic>, name, "gm")
          ->Unit(benchmark::kMillisecond);
    } else {
      benchmark::RegisterBenchmark(label.c_str(), BM_Decode<quorvex::TPSPGraphic>, name, "inflate")
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(Folder());
  return 0;
}
