#include "picture/readers/gif_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/readers/reader_test_support.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

const auto Load = &test::LoadBytes<TGIFGraphic>;
const std::string kInvalid = "Cannot load image. Invalid or unexpected GIF image format.";

struct GifFrame {
  GifFrame(uint16_t l, uint16_t t, uint16_t w, uint16_t h, Bytes p, std::vector<TRGB> map = {},
           bool interlace = false, int transparentIndex = -1)
      : left(l),
        top(t),
        width(w),
        height(h),
        pixels(std::move(p)),
        localMap(std::move(map)),
        interlaced(interlace),
        transparent(transparentIndex) {}
  uint16_t left = 0;
  uint16_t top = 0;
  uint16_t width = 1;
  uint16_t height = 1;
  Bytes pixels;  // top row first, whatever order the file stores them in
  std::vector<TRGB> localMap;
  bool interlaced = false;
  int transparent = -1;
};

struct GifFile {
  uint16_t width = 1;
  uint16_t height = 1;
  std::vector<TRGB> globalMap;
  std::vector<GifFrame> frames;
};

void Put16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

// A colour map's size field; the map is padded with black to its power of 2.
uint8_t MapSizeField(size_t entries) {
  uint8_t field = 0;
  while ((size_t{2} << field) < entries) ++field;
  return field;
}

void PutMap(Bytes& out, const std::vector<TRGB>& map) {
  const size_t size = size_t{2} << MapSizeField(map.size());
  for (size_t i = 0; i < size; ++i) {
    const TRGB c = i < map.size() ? map[i] : TRGB{0, 0, 0};
    out.insert(out.end(), {c.red, c.green, c.blue});
  }
}

// LZW data of 9-bit codes: a clear code before every second pixel keeps the
// code table from growing past one entry, so every pixel is its own code.
Bytes Lzw(const Bytes& pixels) {
  constexpr uint32_t kClear = 256;
  constexpr uint32_t kEnd = 257;
  std::vector<uint32_t> codes;
  for (size_t i = 0; i < pixels.size(); ++i) {
    if (i % 2 == 0) codes.push_back(kClear);
    codes.push_back(pixels[i]);
  }
  codes.push_back(kEnd);
  Bytes packed;
  uint32_t bits = 0;
  int count = 0;
  for (uint32_t code : codes) {
    bits |= code << count;
    count += 9;
    while (count >= 8) {
      packed.push_back(static_cast<uint8_t>(bits));
      bits >>= 8;
      count -= 8;
    }
  }
  if (count > 0) packed.push_back(static_cast<uint8_t>(bits));
  Bytes out{8};
  for (size_t i = 0; i < packed.size(); i += 255) {
    const size_t n = std::min<size_t>(255, packed.size() - i);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), packed.begin() + i, packed.begin() + i + n);
  }
  out.push_back(0);
  return out;
}

Bytes StoredOrder(const GifFrame& f) {
  if (!f.interlaced) return f.pixels;
  Bytes out;
  for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
    for (int y = start; y < f.height; y += step) {
      out.insert(out.end(), f.pixels.begin() + y * f.width, f.pixels.begin() + (y + 1) * f.width);
    }
  }
  return out;
}

Bytes Build(const GifFile& gif) {
  Bytes out = test::Text("GIF89a");
  Put16(out, gif.width);
  Put16(out, gif.height);
  out.push_back(
      gif.globalMap.empty() ? 0 : static_cast<uint8_t>(0x80 | MapSizeField(gif.globalMap.size())));
  out.insert(out.end(), {0, 0});
  if (!gif.globalMap.empty()) PutMap(out, gif.globalMap);
  for (const GifFrame& f : gif.frames) {
    if (f.transparent >= 0) {
      out.insert(out.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<uint8_t>(f.transparent), 0});
    }
    out.push_back(',');
    Put16(out, f.left);
    Put16(out, f.top);
    Put16(out, f.width);
    Put16(out, f.height);
    uint8_t flags = f.interlaced ? 0x40 : 0;
    if (!f.localMap.empty()) flags |= static_cast<uint8_t>(0x80 | MapSizeField(f.localMap.size()));
    out.push_back(flags);
    if (!f.localMap.empty()) PutMap(out, f.localMap);
    const Bytes lzw = Lzw(StoredOrder(f));
    out.insert(out.end(), lzw.begin(), lzw.end());
  }
  out.push_back(';');
  return out;
}

const std::vector<TRGB> kFour = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

Bytes Ramp(size_t n, size_t modulo) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i % modulo);
  return b;
}

class GifReader : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string dir_;
};

TEST_F(GifReader, EverySharedSampleShowsWhatPillowShowsOrSaysWhyNot) {
  const std::map<std::string, std::string> failures = {
      {"issue_2811.gif", kInvalid + " (LZW code size 11 is over 8)"},
  };
  int loaded = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("gif"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    const auto failure = failures.find(name);
    if (failure != failures.end()) {
      EXPECT_EQ(test::FailureOf([&] { test::LoadFile<TGIFGraphic>(entry.path()); }),
                failure->second);
      continue;
    }
    const auto gif = test::LoadFile<TGIFGraphic>(entry.path());
    EXPECT_EQ(gif->Layout(), PixelLayout::Bits8);
    test::ExpectReferencePixels(entry.path(), *gif);
    ++loaded;
  }
  EXPECT_GE(loaded, 20);
}

TEST_F(GifReader, FramesSitOnTheScreenAsPillowShowsThem) {
  const std::vector<TRGB> gray = {{10, 10, 10}, {200, 200, 200}};
  const struct {
    const char* name;
    GifFile gif;
  } cases[] = {
      {"1x1", {1, 1, kFour, {{0, 0, 1, 1, {2}}}}},
      {"frame inside a larger screen", {7, 5, kFour, {{2, 1, 3, 2, Ramp(6, 4)}}}},
      {"transparent index fills the screen",
       {7, 5, kFour, {{2, 1, 3, 2, Ramp(6, 4), {}, false, 3}}}},
      {"frame reaching past the screen", {4, 4, kFour, {{3, 2, 3, 3, Ramp(9, 4)}}}},
      {"interlaced odd size", {5, 11, kFour, {{0, 0, 5, 11, Ramp(55, 3), {}, true}}}},
      {"local map over the global one", {3, 3, kFour, {{0, 0, 3, 3, Ramp(9, 2), gray}}}},
      {"no colour map at all", {3, 3, {}, {{0, 0, 3, 3, {0, 40, 80, 120, 160, 200, 240, 255, 7}}}}},
      {"the first of two frames",
       {4, 2, kFour, {{0, 0, 4, 2, Ramp(8, 4)}, {0, 0, 4, 2, Bytes(8, 3)}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir_ + "/fixture.gif";
    test::WriteFileBytes(path, Build(c.gif));
    const auto gif = test::LoadFile<TGIFGraphic>(path);
    EXPECT_EQ(gif->Layout(), PixelLayout::Bits8);
    test::ExpectReferencePixels(path, *gif);
  }
}

TEST_F(GifReader, TheTransparentIndexKeepsItsColourAndThePaletteIsTheFrames) {
  const auto gif = Load(Build({3, 1, kFour, {{0, 0, 3, 1, {3, 1, 3}, {}, false, 3}}}));
  EXPECT_EQ(gif->PixelColor(0, 0), 0xFFFFFFu);
  EXPECT_EQ(gif->PixelColor(1, 0), 0x00FF00u);
  EXPECT_EQ(test::Row(*gif, 0, 3), (Bytes{3, 1, 3}));
  const auto palette = gif->QueryPalette();
  ASSERT_TRUE(palette.has_value());
  ASSERT_GE(palette->size(), 4u);
  EXPECT_EQ((*palette)[2].blue, 255);
}

TEST_F(GifReader, TheLoaderFindsGifByContent) {
  const std::string path = dir_ + "/picture.bin";
  test::WriteFileBytes(path, Build({2, 2, kFour, {{0, 0, 2, 2, {0, 1, 2, 3}}}}));
  const auto gif = test::LoadFile<TGIFGraphic>(path);
  test::ExpectLoaderKeepsTheBitmap(path, *gif);
}

TEST_F(GifReader, BrokenFilesFailWithTheReason) {
  const Bytes good = Build({4, 4, kFour, {{0, 0, 4, 4, Ramp(16, 4)}}});
  Bytes noImage = Build({4, 4, kFour, {}});
  Bytes strayRecord = noImage;
  strayRecord.back() = 'x';
  const Bytes cutInPixels(good.begin(), good.end() - 8);
  const Bytes cutInMap(good.begin(), good.begin() + 16);
  const struct test::FailureCase cases[] = {
      {"no image", noImage, kInvalid + " (no image)"},
      {"stray record", strayRecord, kInvalid + " (Wrong record type detected)"},
      {"cut in the pixels", cutInPixels, kInvalid + " (Failed to read from given file)"},
      {"cut in the colour map", cutInMap, kInvalid + " (No screen descriptor detected)"},
      {"empty screen and frame", Build({0, 0, kFour, {{0, 0, 0, 0, {}}}}),
       kInvalid + " (empty picture)"},
      {"not a GIF", test::Text("GIF87b and more bytes"), kInvalid},
  };
  test::ExpectEveryCaseFails(cases, Load, [](const auto&, const Exception& e) {
    EXPECT_NE(dynamic_cast<const EInvalidGraphic*>(&e), nullptr);
  });
}

TEST_F(GifReader, HugeClaimsCostNothing) {
  // A screen over the storage cap; frames, or a frame far out on the
  // screen, that a few bytes of data could never justify.
  EXPECT_THROW(Load(Build({65535, 65535, kFour, {{0, 0, 1, 1, {0}}}})), EOutOfResources);
  EXPECT_THROW(Load(Build({8000, 8000, kFour, {{0, 0, 8000, 8000, {0, 1}}}})), EReadError);
  EXPECT_THROW(Load(Build({1, 1, kFour, {{30000, 30000, 1, 1, {0}}}})), EReadError);
  EXPECT_THROW(Load(Build({30000, 30000, kFour, {{0, 0, 1, 1, {0}}}})), EReadError);
}

}  // namespace
}  // namespace quorvex
