// Small files that claim large pictures: every reader must refuse them
// before making the picture's storage, and still load the most compressed
// files its format can really hold.

#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/readers/reader_test_support.h"

namespace quorvex {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Concat;

constexpr uint16_t kClaimed = 16000;

void PutLE(Bytes& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutBE(Bytes& out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes Repeat(const Bytes& part, size_t times) {
  Bytes out;
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes TargaHeader(uint8_t type, uint16_t width, uint16_t height) {
  Bytes h = {0, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  PutLE(h, width, 2);
  PutLE(h, height, 2);
  h.push_back(24);
  h.push_back(0x20);
  return h;
}

// One plane of 8 bits, or three.
Bytes PcxHeader(bool runLength, uint16_t width, uint16_t height, uint8_t planes) {
  Bytes h = {10, 5, static_cast<uint8_t>(runLength ? 1 : 0), 8};
  PutLE(h, 0, 2);
  PutLE(h, 0, 2);
  PutLE(h, width - 1u, 2);
  PutLE(h, height - 1u, 2);
  PutLE(h, 72, 2);
  PutLE(h, 72, 2);
  h.resize(h.size() + 48 + 1, 0);
  h.push_back(planes);
  PutLE(h, width, 2);
  PutLE(h, 1, 2);
  h.resize(128, 0);
  return h;
}

Bytes SgiRawHeader(uint16_t side) {
  Bytes h;
  PutBE(h, 474, 2);
  h.push_back(0);
  h.push_back(1);
  PutBE(h, 3, 2);
  PutBE(h, side, 2);
  PutBE(h, side, 2);
  PutBE(h, 3, 2);
  h.resize(512, 0);
  return h;
}

// A single-strip TIFF of `samples` samples of `bits` bits, its strip right
// after the directory.
Bytes Tiff(uint16_t compression, uint32_t width, uint32_t height, uint16_t samples, uint16_t bits,
           uint16_t photometric, const Bytes& strip) {
  struct Entry {
    uint16_t tag, type;
    uint32_t value;
  };
  const uint32_t dataAt = 8 + 2 + 9 * 12 + 4;
  const Entry entries[] = {
      {256, 4, width},       {257, 4, height},      {258, 3, bits},
      {259, 3, compression}, {262, 3, photometric}, {273, 4, dataAt},
      {277, 3, samples},     {278, 4, height},      {279, 4, static_cast<uint32_t>(strip.size())}};
  Bytes out = {'I', 'I', 42, 0};
  PutLE(out, 8, 4);
  PutLE(out, 9, 2);
  for (const Entry& e : entries) {
    PutLE(out, e.tag, 2);
    PutLE(out, e.type, 2);
    PutLE(out, 1, 4);
    PutLE(out, e.value, e.type == 3 ? 2 : 4);
    if (e.type == 3) PutLE(out, 0, 2);
  }
  PutLE(out, 0, 4);
  return Concat({out, strip});
}

Bytes CutHeader(uint16_t width, uint16_t height) {
  Bytes h;
  PutLE(h, width, 2);
  PutLE(h, height, 2);
  PutLE(h, 0, 2);
  return h;
}

Bytes AutodeskHeader(uint16_t side) {
  Bytes h;
  PutLE(h, 0x9119, 2);
  PutLE(h, side, 2);
  PutLE(h, side, 2);
  PutLE(h, 0, 4);
  h.push_back(8);
  h.push_back(0);
  h.resize(32 + 768, 0);
  return h;
}

Bytes PngChunk(const char* type, const Bytes& data) {
  Bytes out;
  PutBE(out, static_cast<uint32_t>(data.size()), 4);
  Bytes typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  PutBE(out, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))), 4);
  return out;
}

// RGB rows of zeros, `rows` of them deflated into one IDAT chunk.
Bytes Png(uint32_t width, uint32_t height, uint32_t rows) {
  Bytes ihdr;
  PutBE(ihdr, width, 4);
  PutBE(ihdr, height, 4);
  for (uint8_t b : {8, 2, 0, 0, 0}) ihdr.push_back(b);
  const Bytes raw(size_t{rows} * (1 + size_t{width} * 3), 0);
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(packedSize);
  compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9);
  packed.resize(packedSize);
  return Concat({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},
                 PngChunk("IHDR", ihdr),
                 PngChunk("IDAT", packed),
                 PngChunk("IEND", {})});
}

Bytes PsdRgbHeader(uint32_t side, uint16_t compression) {
  Bytes h = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3};
  PutBE(h, side, 4);
  PutBE(h, side, 4);
  PutBE(h, 8, 2);
  PutBE(h, 3, 2);
  PutBE(h, 0, 4);
  PutBE(h, 0, 4);
  PutBE(h, 0, 4);
  PutBE(h, compression, 2);
  return h;
}

Bytes BmpHeader(int32_t side) {
  Bytes h = {'B', 'M'};
  PutLE(h, 54 + 100, 4);
  PutLE(h, 0, 4);
  PutLE(h, 54, 4);
  PutLE(h, 40, 4);
  PutLE(h, static_cast<uint32_t>(side), 4);
  PutLE(h, static_cast<uint32_t>(side), 4);
  PutLE(h, 1, 2);
  PutLE(h, 24, 2);
  h.resize(54, 0);
  return h;
}

std::unique_ptr<TBitmap> LoadAs(const std::string& name, const Bytes& file) {
  TPicture picture;
  std::unique_ptr<TBitmap> working;
  LoadPictureFromMemory(file.data(), file.size(), name, picture, working);
  return working;
}

struct ClaimCase {
  const char* name;
  Bytes file;
  std::string message;
};

TEST(ClaimedSize, BareHeadersOfLargePicturesAreRefused) {
  const Bytes zeros(100, 0);
  const ClaimCase cases[] = {
      {"run-length.tga", Concat({TargaHeader(10, kClaimed, kClaimed), Repeat({0xFF, 1, 2, 3}, 64)}),
       "Stream read error"},
      {"raw.tga", Concat({TargaHeader(2, kClaimed, kClaimed), zeros}), "Stream read error"},
      {"no pixel data.tga", Concat({TargaHeader(0, kClaimed, kClaimed), zeros}),
       "Stream read error"},
      {"run-length.pcx", Concat({PcxHeader(true, kClaimed, kClaimed, 3), Repeat({0xFF, 7}, 200)}),
       "Stream read error"},
      {"raw.pcx", Concat({PcxHeader(false, kClaimed, kClaimed, 3), zeros}), "Stream read error"},
      {"raw.sgi", Concat({SgiRawHeader(kClaimed), zeros}), "Stream read error"},
      {"raw.tif", Tiff(1, kClaimed, kClaimed, 3, 8, 2, zeros), "Stream read error"},
      {"packbits.tif", Tiff(32773, kClaimed, kClaimed, 3, 8, 2, Repeat({0x81, 0}, 64)),
       "Stream read error"},
      {"deflate.tif", Tiff(8, kClaimed, kClaimed, 3, 8, 2, zeros), "Stream read error"},
      {"fax.tif", Tiff(3, kClaimed, kClaimed, 1, 1, 0, zeros), "Stream read error"},
      {"header.cut", Concat({CutHeader(kClaimed, kClaimed), Repeat({5, 0, 0xFF, 7, 0}, 50)}),
       "Stream read error"},
      {"header.cel", Concat({AutodeskHeader(kClaimed), zeros}), "Stream read error"},
      {"few rows.png", Png(kClaimed, kClaimed, 200), "Stream read error"},
      {"raw.bmp", Concat({BmpHeader(kClaimed), zeros}), "Stream read error"},
      {"raw.psd", Concat({PsdRgbHeader(kClaimed, 0), zeros}), "Stream read error"},
      {"packbits.psd", Concat({PsdRgbHeader(kClaimed, 1), zeros}), "Stream read error"},
  };
  for (const ClaimCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      LoadAs(c.name, c.file);
      ADD_FAILURE() << "loaded";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

// Each file packs its pixels as tightly as its code allows, and claims
// more than the allowance for data that ends early: the bound must not cut
// into real pictures.
TEST(ClaimedSize, PicturesAtTheirCodesBestRatioStillLoad) {
  const struct {
    const char* name;
    Bytes file;
    int32_t width, height;
  } cases[] = {
      // A packet of four bytes, 128 pixels.
      {"run-length.tga", Concat({TargaHeader(10, 1024, 1024), Repeat({0xFF, 1, 2, 3}, 8192)}), 1024,
       1024},
      // A pair, 63 bytes.
      {"run-length.pcx", Concat({PcxHeader(true, 63 * 32, 1024, 1), Repeat({0xFF, 7}, 32 * 1024)}),
       63 * 32, 1024},
      // A pair, 128 bytes.
      {"packbits.tif", Tiff(32773, 1024, 2048, 1, 8, 1, Repeat({0x81, 9}, 8 * 2048)), 1024, 2048},
      // Pairs of 127 pixels, with the row's length and end mark.
      {"runs.cut",
       Concat(
           {CutHeader(254 * 8, 1024), Repeat(Concat({{33, 0}, Repeat({0xFF, 3}, 16), {0}}), 1024)}),
       254 * 8, 1024},
      // Every byte present, and no more.
      {"raw.sgi", Concat({SgiRawHeader(1024), Bytes(1024 * 1024 * 3, 5)}), 1024, 1024},
      {"raw.cel", Concat({AutodeskHeader(2048), Bytes(2048 * 2048, 1)}), 2048, 2048},
      {"raw.tif", Tiff(1, 1024, 1024, 3, 8, 2, Bytes(1024 * 1024 * 3, 6)), 1024, 1024},
      {"raw.bmp", Concat({BmpHeader(1024), Bytes(1024 * 1024 * 3, 7)}), 1024, 1024},
      // Zeros deflate at nearly the best ratio.
      {"zeros.png", Png(4096, 1024, 1024), 4096, 1024},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto working = LoadAs(c.name, c.file);
    EXPECT_EQ(working->ImageWidth(), c.width);
    EXPECT_EQ(working->ImageHeight(), c.height);
  }
}

}  // namespace
}  // namespace quorvex
