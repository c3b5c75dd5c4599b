#include "picture/readers/pcx_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/readers/reader_test_support.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::Concat;
using test::FailureOf;
using test::Row;

const auto Load = &test::LoadBytes<TPCXGraphic>;

// Run-length code with every byte as a literal, runs of one for bytes that
// would read as a run.
Bytes Encode(const Bytes& plain) {
  Bytes coded;
  for (uint8_t b : plain) {
    if (b >= 0xC0) coded.push_back(0xC1);
    coded.push_back(b);
  }
  return coded;
}

// ---- the run-length decoder -------------------------------------------

TEST(PCXRLEDecoder, DecodesLiteralsAndRuns) {
  struct Case {
    const char* name;
    Bytes input;
    size_t count;
    Bytes expected;
    size_t consumed;
  };
  const Case cases[] = {
      {"literal bytes below C0", {0x00, 0x3F, 0xBF}, 3, {0x00, 0x3F, 0xBF}, 3},
      {"run of 3", {0xC3, 0xC5}, 3, {0xC5, 0xC5, 0xC5}, 2},
      {"run of 63", {0xFF, 1}, 63, Bytes(63, 1), 2},
      {"run of 0 gives nothing", {0xC0, 9, 4}, 1, {4}, 3},
      {"a run byte without its value is left", {5, 0xC2}, 3, {5}, 1},
      {"stops at the bytes asked for", {1, 2, 3}, 2, {1, 2}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPCXRLEDecoder decoder;
    Bytes out(c.count + 4, 0xEE);
    const uint8_t* in = c.input.data();
    EXPECT_EQ(decoder.Decode(in, c.input.data() + c.input.size(), out.data(), c.count),
              c.expected.size());
    EXPECT_EQ(static_cast<size_t>(in - c.input.data()), c.consumed);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + c.expected.size()), c.expected);
    EXPECT_EQ(Bytes(out.begin() + c.count, out.end()), Bytes(4, 0xEE));
  }
}

TEST(PCXRLEDecoder, RunsCarryIntoTheNextLine) {
  const Bytes input = {0xC5, 7, 1, 0xC2, 9};
  TPCXRLEDecoder decoder;
  const uint8_t* in = input.data();
  const uint8_t* end = input.data() + input.size();
  uint8_t lines[3][3] = {};
  EXPECT_EQ(decoder.Decode(in, end, lines[0], 3), 3u);
  EXPECT_EQ(decoder.PendingBytes(), 2u);
  EXPECT_EQ(decoder.Decode(in, end, lines[1], 3), 3u);
  EXPECT_EQ(decoder.Decode(in, end, lines[2], 3), 2u);  // the data ends here
  EXPECT_EQ(Bytes(&lines[0][0], &lines[0][0] + 9), (Bytes{7, 7, 7, 7, 7, 1, 9, 9, 0}));
  EXPECT_EQ(in, end);
}

// ---- fixtures ---------------------------------------------------------

struct Pcx {
  uint8_t manufacturer = 10;
  uint8_t version = 5;
  uint8_t encoding = 0;
  uint8_t bits = 8;
  uint16_t xMin = 0;
  uint16_t width = 1;
  uint16_t height = 1;
  uint8_t planes = 1;
  uint16_t bytesPerLine = 1;
  uint16_t paletteInfo = 1;
  Bytes colorMap = {};  // up to 48 bytes
  Bytes data = {};      // pixel area
  Bytes trailer = {};   // what follows it

  Bytes File() const {
    Bytes b(128, 0);
    b[0] = manufacturer;
    b[1] = version;
    b[2] = encoding;
    b[3] = bits;
    auto put16 = [&b](size_t at, int v) {
      b[at] = static_cast<uint8_t>(v);
      b[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    put16(4, xMin);
    put16(6, 0);
    put16(8, xMin + width - 1);
    put16(10, height - 1);
    put16(12, 72);
    put16(14, 72);
    std::copy(colorMap.begin(), colorMap.end(), b.begin() + 16);
    b[65] = planes;
    put16(66, bytesPerLine);
    put16(68, paletteInfo);
    b.insert(b.end(), data.begin(), data.end());
    b.insert(b.end(), trailer.begin(), trailer.end());
    return b;
  }
};

// A 769-byte palette block whose entry i is (i, 255 - i, i / 2).
Bytes PaletteBlock() {
  Bytes block = {12};
  for (int i = 0; i < 256; ++i) {
    block.push_back(static_cast<uint8_t>(i));
    block.push_back(static_cast<uint8_t>(255 - i));
    block.push_back(static_cast<uint8_t>(i / 2));
  }
  return block;
}

TPalette Gray(int levels) {
  TPalette palette;
  for (int i = 0; i < levels; ++i) {
    const auto v = static_cast<uint8_t>(i * (255 / (levels - 1)));
    palette.push_back({v, v, v});
  }
  return palette;
}

const TPalette kFixed16 = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                           {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {128, 128, 128},
                           {192, 192, 192}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                           {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

// ---- content test -----------------------------------------------------

TEST(PCXContentTest, AsksTheFirstThreeBytes) {
  struct Case {
    const char* name;
    void (*change)(Bytes&);
    bool accepted;
  };
  const Case cases[] = {
      {"valid", [](Bytes&) {}, true},
      {"first byte 12", [](Bytes& b) { b[0] = 12; }, true},
      {"first byte 205", [](Bytes& b) { b[0] = 205; }, false},
      {"version 0", [](Bytes& b) { b[1] = 0; }, true},
      {"version 4", [](Bytes& b) { b[1] = 4; }, false},
      {"encoding 1", [](Bytes& b) { b[2] = 1; }, true},
      {"encoding 2", [](Bytes& b) { b[2] = 2; }, false},
      {"exactly the header", [](Bytes& b) { b.resize(128); }, false},
  };
  const Bytes file = Pcx{.data = {0}}.File();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes changed = file;
    c.change(changed);
    Bytes prefixed = Concat({{1, 2}, changed});
    TMemoryStream stream(prefixed);
    stream.Seek(2);
    EXPECT_EQ(TPCXGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 2);
  }
}

// ---- loading fixtures -------------------------------------------------

TEST(PCXReader, FirstByte12PassesTheContentTestButFailsAsInvalid) {
  const Bytes file = Pcx{.manufacturer = 12, .width = 4, .height = 4, .data = Bytes(16, 1)}.File();
  TMemoryStream stream(file);
  EXPECT_TRUE(TPCXGraphic::AcceptsStream(stream));
  EXPECT_EQ(FailureOf([&] { Load(file); }),
            "Cannot load image. Invalid or unexpected PCX image format.");
}

TEST(PCXReader, EightBitPicturesTakeTheTrailingPaletteOrTheGrayRamp) {
  const Bytes pixels = {0, 1, 254, 255};
  for (uint8_t encoding : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(encoding));
    const Bytes data = encoding ? Bytes{0xC1, 0, 1, 0xC1, 254, 0xC1, 255} : pixels;
    auto withBlock = Load(Pcx{.encoding = encoding,
                              .width = 4,
                              .bytesPerLine = 4,
                              .paletteInfo = 2,
                              .data = data,
                              .trailer = PaletteBlock()}
                              .File());
    ASSERT_EQ(withBlock->Layout(), PixelLayout::Bits8);
    EXPECT_EQ(Row(*withBlock, 0, 4), pixels);
    ASSERT_TRUE(withBlock->QueryPalette().has_value());
    const TPalette palette = *withBlock->QueryPalette();
    ASSERT_EQ(palette.size(), 256u);
    for (int i = 0; i < 256; ++i) {
      EXPECT_EQ(palette[i], (TRGB{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                                  static_cast<uint8_t>(i / 2)}));
    }

    auto gray = Load(
        Pcx{.encoding = encoding, .width = 4, .bytesPerLine = 4, .paletteInfo = 2, .data = data}
            .File());
    ASSERT_EQ(gray->Layout(), PixelLayout::Bits8);
    EXPECT_EQ(Row(*gray, 0, 4), pixels);
    EXPECT_EQ(gray->QueryPalette(), Gray(256));
  }
}

TEST(PCXReader, EightBitPictureWithoutPaletteBlockKeepsItsLastRows) {
  // 40 x 20 bytes, more than a palette block, and none at the end.
  Bytes data(800);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
  auto bitmap = Load(Pcx{.width = 40, .height = 20, .bytesPerLine = 40, .data = data}.File());
  EXPECT_EQ(Row(*bitmap, 19, 40), Bytes(data.end() - 40, data.end()));
}

TEST(PCXReader, SixteenColourPlanesCombineIntoNibbles) {
  // 3 pixels: all four planes set (15), planes 0 and 2 (5), plane 3 (8).
  const Bytes colorMap = [] {
    Bytes m;
    for (int i = 0; i < 16; ++i) m.insert(m.end(), {uint8_t(i * 16), uint8_t(i), uint8_t(255 - i)});
    return m;
  }();
  const Bytes planes = {0xC1, 0x00, 0x80, 0x00, 0xC1, 0x00, 0xA1, 0x00};
  auto bitmap = Load(Pcx{
      .bits = 1, .width = 3, .planes = 4, .bytesPerLine = 2, .colorMap = colorMap, .data = planes}
                         .File());
  ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits4);
  // Two bytes are written; the plane bits of x = 7 stay out of the padding.
  EXPECT_EQ(Row(*bitmap, 0, 4), (Bytes{0xF5, 0x80, 0, 0}));
  const auto palette = bitmap->QueryPalette();
  ASSERT_TRUE(palette.has_value());
  EXPECT_EQ((*palette)[15], (TRGB{240, 15, 240}));
  EXPECT_EQ((*palette)[5], (TRGB{80, 5, 250}));
  EXPECT_EQ(bitmap->PixelColor(0, 0), 0xF00FF0u);

  auto gray = Load(Pcx{.bits = 1,
                       .width = 3,
                       .planes = 4,
                       .bytesPerLine = 2,
                       .paletteInfo = 2,
                       .colorMap = colorMap,
                       .data = planes}
                       .File());
  EXPECT_EQ(gray->QueryPalette(), Gray(16));
}

TEST(PCXReader, VersionThreeTakesTheFixedPalette) {
  const Bytes colorMap(48, 0x42);
  auto planar = Load(Pcx{
      .version = 3,
      .bits = 1,
      .width = 8,
      .planes = 4,
      .bytesPerLine = 1,
      .colorMap = colorMap,
      .data = {0xFF, 0, 0,
               0}}.File());
  EXPECT_EQ(planar->Layout(), PixelLayout::Bits4);
  EXPECT_EQ(planar->QueryPalette(), kFixed16);

  auto indexed = Load(
      Pcx{.version = 3, .width = 2, .bytesPerLine = 2, .data = {3, 20}, .trailer = PaletteBlock()}
          .File());
  ASSERT_EQ(indexed->Layout(), PixelLayout::Bits8);
  const auto palette = indexed->QueryPalette();
  ASSERT_TRUE(palette.has_value());
  EXPECT_EQ(TPalette(palette->begin(), palette->begin() + 16), kFixed16);
  EXPECT_EQ(indexed->PixelColor(0, 0), 0x808000u);
}

TEST(PCXReader, ThreePlanesOfEightBitsGiveBlueGreenRed) {
  // Width 3 with lines of 4 bytes a plane: the pad bytes are not pixels.
  const Bytes planes = {10, 11, 12, 0xEE, 20, 21, 22, 0xEE, 30, 31, 32, 0xEE};
  for (uint8_t encoding : {0, 1}) {
    auto bitmap =
        Load(Pcx{.encoding = encoding,
                 .width = 3,
                 .height = 2,
                 .planes = 3,
                 .bytesPerLine = 4,
                 .data = encoding ? Encode(Concat({planes, planes})) : Concat({planes, planes})}
                 .File());
    ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits24);
    for (int32_t y = 0; y < 2; ++y) {
      EXPECT_EQ(Row(*bitmap, y, 12), (Bytes{30, 20, 10, 31, 21, 11, 32, 22, 12, 0, 0, 0}));
    }
  }
}

TEST(PCXReader, FourPlanesOfEightBitsKeepAlpha) {
  auto bitmap = Load(
      Pcx{.width = 2, .planes = 4, .bytesPerLine = 2, .data = {1, 2, 3, 4, 5, 6, 7, 8}}.File());
  ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits32);
  EXPECT_EQ(Row(*bitmap, 0, 8), (Bytes{5, 3, 1, 7, 6, 4, 2, 8}));
}

TEST(PCXReader, FourColourPicturesSpreadOverSixteenEntries) {
  // Values 0, 1, 2, 3 in one byte; the header's first four colours.
  const Bytes colorMap = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
  auto bitmap =
      Load(Pcx{.bits = 2, .width = 4, .bytesPerLine = 2, .colorMap = colorMap, .data = {0x1B, 0}}
               .File());
  ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits4);
  EXPECT_EQ(Row(*bitmap, 0, 2), (Bytes{0x05, 0xAF}));
  const auto palette = bitmap->QueryPalette();
  ASSERT_TRUE(palette.has_value());
  EXPECT_EQ((*palette)[5], (TRGB{255, 0, 0}));
  EXPECT_EQ((*palette)[10], (TRGB{0, 255, 0}));
  EXPECT_EQ((*palette)[15], (TRGB{0, 0, 255}));
  EXPECT_EQ(bitmap->PixelColor(3, 0), 0x0000FFu);
}

TEST(PCXReader, OneAndFourBitPlanesAreCopied) {
  auto mono = Load(
      Pcx{.bits = 1, .width = 9, .height = 2, .bytesPerLine = 2, .data = {0xA5, 0x80, 0x0F, 0x00}}
          .File());
  ASSERT_EQ(mono->Layout(), PixelLayout::Bits1);
  EXPECT_EQ(Row(*mono, 0, 2), (Bytes{0xA5, 0x80}));
  EXPECT_EQ(Row(*mono, 1, 2), (Bytes{0x0F, 0x00}));
  EXPECT_EQ(mono->QueryPalette(), (TPalette{{0, 0, 0}, {255, 255, 255}}));

  auto nibbles = Load(Pcx{.bits = 4, .width = 3, .bytesPerLine = 2, .data = {0x12, 0x30}}.File());
  ASSERT_EQ(nibbles->Layout(), PixelLayout::Bits4);
  EXPECT_EQ(Row(*nibbles, 0, 2), (Bytes{0x12, 0x30}));
}

TEST(PCXReader, RunsCrossLines) {
  auto bitmap = Load(Pcx{
      .encoding = 1,
      .width = 3,
      .height = 2,
      .bytesPerLine = 3,
      .paletteInfo = 2,
      .data = {0xC4, 7, 8,
               9}}.File());
  EXPECT_EQ(Row(*bitmap, 0, 3), (Bytes{7, 7, 7}));
  EXPECT_EQ(Row(*bitmap, 1, 3), (Bytes{7, 8, 9}));
}

TEST(PCXReader, ShortDataLeavesTheRestWhite) {
  // Gray 8-bit, 4 x 3: the data ends inside the second line.
  for (uint8_t encoding : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(encoding));
    const Bytes data = encoding ? Bytes{0xC6, 9} : Bytes{9, 9, 9, 9, 9, 9};
    auto bitmap = Load(Pcx{.encoding = encoding,
                           .width = 4,
                           .height = 3,
                           .bytesPerLine = 4,
                           .paletteInfo = 2,
                           .data = data}
                           .File());
    EXPECT_EQ(Row(*bitmap, 0, 4), (Bytes{9, 9, 9, 9}));
    EXPECT_EQ(Row(*bitmap, 1, 4), (Bytes{9, 9, 255, 255}));
    EXPECT_EQ(Row(*bitmap, 2, 4), Bytes(4, 255));
  }
  // 24-bit: a pixel needs its byte in all three planes.
  auto rgb = Load(
      Pcx{.width = 3, .height = 2, .planes = 3, .bytesPerLine = 3, .data = {1, 2, 3, 4, 5, 6, 7, 8}}
          .File());
  EXPECT_EQ(Row(*rgb, 0, 9), (Bytes{7, 4, 1, 8, 5, 2, 255, 255, 255}));
  EXPECT_EQ(Row(*rgb, 1, 9), Bytes(9, 255));
}

TEST(PCXReader, FailsOnBadDataWithTheKnownMessages) {
  const test::FailureCase cases[] = {
      {"two planes", Pcx{.width = 1, .planes = 2, .bytesPerLine = 1, .data = {0}}.File(),
       "Invalid color format in PCX file."},
      {"four planes of 4 bits", Pcx{.bits = 4, .planes = 4, .data = {0}}.File(),
       "Invalid color format in PCX file."},
      {"three planes of 1 bit", Pcx{.bits = 1, .planes = 3, .data = {0}}.File(),
       "Invalid color format in PCX file."},
      {"one plane of 16 bits", Pcx{.bits = 16, .bytesPerLine = 2, .data = {0, 0}}.File(),
       "Invalid color format in PCX file."},
      {"bits per plane 0", Pcx{.bits = 0, .data = {0}}.File(),
       "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
      {"bits per plane 17", Pcx{.bits = 17, .data = {0}}.File(),
       "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
      {"no planes", Pcx{.planes = 0, .data = {0}}.File(),
       "Sample count per pixel does not correspond to the given color scheme."},
      {"five planes", Pcx{.planes = 5, .data = {0}}.File(),
       "Sample count per pixel does not correspond to the given color scheme."},
      {"shorter than its header", Bytes(100, 10), "Stream read error"},
      {"crossed corners", Pcx{.xMin = 5, .width = 0, .data = {0}}.File(),
       "Cannot load image. Invalid or unexpected PCX image format."},
      {"lines shorter than the width", Pcx{.width = 9, .bytesPerLine = 8, .data = {0}}.File(),
       "Cannot load image. Invalid or unexpected PCX image format."},
      {"65535 x 65535 at 24 bits",
       Pcx{.width = 65535, .height = 65535, .planes = 3, .bytesPerLine = 65535, .data = {0}}.File(),
       "Out of system resources"},
  };
  test::ExpectEveryCaseFails(cases, Load);
}

// ---- real files -------------------------------------------------------

TEST(PCXFiles, EveryFileLoadsWithItsLayoutAndPillowsPixels) {
  // Pillow 9 puts the four planes of p_4_planes.pcx (width + 7) / 8 bytes
  // apart rather than bytes-per-line apart and reads colour 5 (black); its
  // planes hold colour 3 (red), which ImageMagick shows as well.
  const std::string planesApart = "p_4_planes.pcx";
  const std::map<std::string, PixelLayout> layouts = {
      {"odd_stride.pcx", PixelLayout::Bits8},
      {"p_4_planes.pcx", PixelLayout::Bits4},
  };
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("pcx"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++seen;
    ASSERT_TRUE(layouts.count(name)) << "unexpected file";
    TPCXGraphic bitmap;
    bitmap.LoadFile(entry.path().string());
    EXPECT_EQ(bitmap.Layout(), layouts.at(name));
    test::ExpectReferencePixels(entry.path().string(), bitmap, 0, [&](test::RgbPicture& reference) {
      if (name != planesApart) return;
      EXPECT_EQ(reference.rgb, (Bytes{0, 0, 0}));
      reference.rgb = {255, 0, 0};
    });

    // The content test takes both, so the loader keeps the reader's bitmap.
    test::ExpectLoaderKeepsTheBitmap(entry.path().string(), bitmap);
  }
  EXPECT_EQ(seen, layouts.size());
}

TEST(PCXFiles, MalformedFileFailsWithTheColourFormatMessage) {
  // Its encoding byte fails the content test; the name still brings it here.
  TPicture picture;
  std::unique_ptr<TBitmap> working;
  try {
    LoadPicture(test::TestData("malformed/pcx/ossfuzz-4836216264589312.pcx"), picture, working);
    ADD_FAILURE() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Invalid color format in PCX file.");
  }
  EXPECT_TRUE(working->IsEmpty());
}

TEST(PCXLoading, FirstByte12FailsAndLeavesAnEmptyWorkingBitmap) {
  const Bytes file = Pcx{.manufacturer = 12, .width = 4, .height = 4, .data = Bytes(16, 1)}.File();
  TPicture picture;
  std::unique_ptr<TBitmap> working;
  EXPECT_EQ(FailureOf([&] {
              LoadPictureFromMemory(file.data(), file.size(), "a.pcx", picture, working);
            }),
            "Cannot load image. Invalid or unexpected PCX image format.");
  EXPECT_TRUE(working->IsEmpty());
  EXPECT_EQ(picture.Graphic(), nullptr);
}

}  // namespace
}  // namespace quorvex
