#include "picture/readers/targa_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
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
using test::Row;

const auto Load = &test::LoadBytes<TTargaGraphic>;

// ---- the run-length decoder -------------------------------------------

struct DecodeCase {
  const char* name;
  uint32_t bytesPerPixel;
  Bytes input;
  uint32_t pixels;
  Bytes expected;
  size_t consumed;
};

TEST(TargaRLEDecoder, DecodesRunAndRawPackets) {
  const Bytes run128(128, 7);
  const DecodeCase cases[] = {
      {"8-bit run of 128 from two bytes", 1, {0xFF, 7}, 128, run128, 2},
      {"8-bit raw packet", 1, {0x02, 1, 2, 3}, 3, {1, 2, 3}, 4},
      {"16-bit run", 2, {0x81, 0x34, 0x92}, 2, {0x34, 0x92, 0x34, 0x92}, 3},
      {"24-bit raw then run", 3, {0x00, 1, 2, 3, 0x81, 4, 5, 6}, 3, {1, 2, 3, 4, 5, 6, 4, 5, 6}, 8},
      {"32-bit run keeps all four bytes",
       4,
       {0x82, 1, 2, 3, 4},
       3,
       {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4},
       5},
      {"stops at the pixels asked for", 1, {0x01, 9, 8, 0x80, 5}, 1, {9}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TTargaRLEDecoder decoder(c.bytesPerPixel);
    Bytes out(c.expected.size() + 8, 0xEE);
    const uint8_t* in = c.input.data();
    EXPECT_EQ(decoder.Decode(in, c.input.data() + c.input.size(), out.data(), c.pixels), c.pixels);
    EXPECT_EQ(static_cast<size_t>(in - c.input.data()), c.consumed);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + c.expected.size()), c.expected);
    // Nothing is written past the pixels asked for.
    EXPECT_EQ(Bytes(out.begin() + c.expected.size(), out.end()), Bytes(8, 0xEE));
  }
}

TEST(TargaRLEDecoder, CarriesAPacketsSurplusIntoTheNextCall) {
  // A run of 5 and a raw packet of 4, taken 3 pixels at a time.
  const Bytes input = {0x84, 7, 0x03, 1, 2, 3, 4};
  TTargaRLEDecoder decoder(1);
  const uint8_t* in = input.data();
  const uint8_t* end = input.data() + input.size();
  Bytes all;
  for (int call = 0; call < 3; ++call) {
    uint8_t row[3] = {};
    EXPECT_EQ(decoder.Decode(in, end, row, 3), 3u);
    all.insert(all.end(), row, row + 3);
  }
  EXPECT_EQ(all, (Bytes{7, 7, 7, 7, 7, 1, 2, 3, 4}));
  EXPECT_EQ(in, end);
  EXPECT_EQ(decoder.PendingPixels(), 0u);
}

TEST(TargaRLEDecoder, LeavesIncompleteInputForTheNextPiece) {
  // 24-bit: a run header whose value is cut, then a raw pixel cut in two.
  const Bytes input = {0x81, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9};
  TTargaRLEDecoder decoder(3);
  Bytes out(12, 0);
  const uint8_t* in = input.data();
  EXPECT_EQ(decoder.Decode(in, input.data() + 3, out.data(), 4), 0u);
  EXPECT_EQ(in, input.data());
  EXPECT_EQ(decoder.Decode(in, input.data() + 7, out.data(), 4), 2u);
  EXPECT_EQ(in, input.data() + 5);  // the raw packet's half pixel stays
  EXPECT_EQ(decoder.Decode(in, input.data() + input.size(), out.data() + 6, 2), 2u);
  EXPECT_EQ(out, (Bytes{1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

// ---- fixtures ---------------------------------------------------------

struct Tga {
  uint8_t idLength = 0;
  uint8_t mapType = 0;
  uint8_t type = 2;
  uint16_t mapLength = 0;
  uint8_t entrySize = 0;
  uint16_t width = 1;
  uint16_t height = 1;
  uint8_t pixelSize = 24;
  uint8_t descriptor = 0;
  Bytes body = {};  // ID field, colour map and pixel data

  Bytes File() const {
    Bytes b = {idLength,
               mapType,
               type,
               0,
               0,
               static_cast<uint8_t>(mapLength),
               static_cast<uint8_t>(mapLength >> 8),
               entrySize,
               0,
               0,
               0,
               0,
               static_cast<uint8_t>(width),
               static_cast<uint8_t>(width >> 8),
               static_cast<uint8_t>(height),
               static_cast<uint8_t>(height >> 8),
               pixelSize,
               descriptor};
    b.insert(b.end(), body.begin(), body.end());
    return b;
  }
};

// ---- content test -----------------------------------------------------

TEST(TargaContentTest, AsksTheHeaderFields) {
  struct Case {
    const char* name;
    void (*change)(Bytes&);
    bool accepted;
  };
  const Case cases[] = {
      {"valid colour-mapped file", [](Bytes&) {}, true},
      {"image type 0", [](Bytes& b) { b[2] = 0; }, true},
      {"image type 11", [](Bytes& b) { b[2] = 11; }, true},
      {"image type 4", [](Bytes& b) { b[2] = 4; }, false},
      {"image type 12", [](Bytes& b) { b[2] = 12; }, false},
      {"colour-map type 2", [](Bytes& b) { b[1] = 2; }, false},
      {"entry size 0", [](Bytes& b) { b[7] = 0; }, false},
      {"entry size 15", [](Bytes& b) { b[7] = 15; }, true},
      {"pixel size 12", [](Bytes& b) { b[16] = 12; }, false},
      {"pixel size 15", [](Bytes& b) { b[16] = 15; }, true},
      {"exactly the header", [](Bytes& b) { b.resize(18); }, false},
  };
  Tga tga{.mapType = 1, .type = 1, .mapLength = 1, .entrySize = 24, .pixelSize = 8};
  tga.body = {0, 0, 0, 0};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = tga.File();
    c.change(file);
    // The test runs from the current position and puts it back.
    Bytes prefixed = Concat({{1, 2, 3}, file});
    TMemoryStream stream(prefixed);
    stream.Seek(3);
    EXPECT_EQ(TTargaGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 3);
  }
}

// ---- loading fixtures -------------------------------------------------

TEST(TargaReader, BottomUpAndTopDownTwinsGiveIdenticalBitmaps) {
  // 2 x 2, 24-bit: rows top to bottom are (A B) and (C D).
  const Bytes A = {1, 2, 3}, B = {4, 5, 6}, C = {7, 8, 9}, D = {10, 11, 12};
  struct Twin {
    const char* name;
    Tga bottomUp;
    Tga topDown;
  };
  const Twin twins[] = {
      {"raw", Tga{.width = 2, .height = 2, .body = Concat({C, D, A, B})},
       Tga{.width = 2, .height = 2, .descriptor = 0x20, .body = Concat({A, B, C, D})}},
      {"run-length",
       Tga{.type = 10, .width = 2, .height = 2, .body = Concat({{0x01}, C, D, {0x81}, A})},
       Tga{.type = 10,
           .width = 2,
           .height = 2,
           .descriptor = 0x20,
           .body = Concat({{0x81}, A, {0x01}, C, D})}},
  };
  for (const auto& twin : twins) {
    SCOPED_TRACE(twin.name);
    auto up = Load(twin.bottomUp.File());
    auto down = Load(twin.topDown.File());
    EXPECT_EQ(up->Layout(), PixelLayout::Bits24);
    EXPECT_EQ(test::StorageBytes(*up), test::StorageBytes(*down));
    EXPECT_EQ(Row(*down, 1, 6), Concat({C, D}));
  }
  EXPECT_EQ(Row(*Load(twins[1].bottomUp.File()), 0, 6), Concat({A, A}));
}

TEST(TargaReader, KeepsTheFilesPixelBytesInTheLayoutOfItsPixelSize) {
  struct Case {
    const char* name;
    uint8_t pixelSize;
    PixelLayout layout;
    Bytes pixels;  // two pixels
  };
  const Case cases[] = {
      {"32-bit keeps alpha as the fourth byte",
       32,
       PixelLayout::Bits32,
       {1, 2, 3, 0x80, 4, 5, 6, 0x00}},
      {"16-bit words unchanged, attribute bit included",
       16,
       PixelLayout::Bits15,
       {0x1F, 0x80, 0xE0, 0x03}},
      {"15-bit takes two bytes a pixel as well", 15, PixelLayout::Bits15, {0x00, 0x7C, 0x1F, 0x00}},
      {"24-bit blue, green, red", 24, PixelLayout::Bits24, {1, 2, 3, 4, 5, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (uint8_t type : {2, 10}) {
      Tga tga{.type = type, .width = 2, .pixelSize = c.pixelSize, .body = c.pixels};
      if (type == 10) tga.body = Concat({{0x01}, c.pixels});
      auto bitmap = Load(tga.File());
      EXPECT_EQ(bitmap->Layout(), c.layout);
      EXPECT_EQ(Row(*bitmap, 0, c.pixels.size()), c.pixels);
    }
  }
  // 0x801F: attribute bit, red 0, green 0, blue 31.
  auto words = Load(Tga{.width = 2, .pixelSize = 16, .body = cases[1].pixels}.File());
  EXPECT_EQ(words->PixelColor(0, 0) & 0xFFFF00, 0u);
}

TEST(TargaReader, ColourMapsBecomeThePalette) {
  // 16-bit entries: red 31, green 1, blue 16 and white; a 24-bit map and a
  // 32-bit one (alpha ignored).
  struct Case {
    const char* name;
    uint8_t entrySize;
    Bytes map;  // two entries
    TRGB first;
  };
  const Case cases[] = {
      {"16-bit entries widen by 8", 16, {0x30, 0x7C, 0xFF, 0x7F}, {248, 8, 128}},
      {"15-bit entries as 16-bit", 15, {0x30, 0x7C, 0xFF, 0xFF}, {248, 8, 128}},
      {"24-bit entries are blue, green, red", 24, {10, 20, 30, 255, 255, 255}, {30, 20, 10}},
      {"32-bit entries drop alpha", 32, {10, 20, 30, 0, 255, 255, 255, 0}, {30, 20, 10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Tga tga{.mapType = 1,
            .type = 1,
            .mapLength = 2,
            .entrySize = c.entrySize,
            .width = 2,
            .pixelSize = 8,
            .body = Concat({c.map, {1, 0}})};
    auto bitmap = Load(tga.File());
    ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits8);
    const auto palette = bitmap->QueryPalette();
    ASSERT_TRUE(palette.has_value());
    EXPECT_EQ((*palette)[0], c.first);
    if (c.entrySize <= 16) {
      for (const TRGB& entry : *palette) {
        EXPECT_EQ(entry.red % 8 + entry.green % 8 + entry.blue % 8, 0);
      }
    }
    EXPECT_EQ(Row(*bitmap, 0, 2), (Bytes{1, 0}));
  }
}

TEST(TargaReader, GrayscaleTakesTheGrayRampAndSkipsAColourMap) {
  // A colour map of three 24-bit entries sits between header and pixels.
  Tga tga{.mapType = 1,
          .type = 3,
          .mapLength = 3,
          .entrySize = 24,
          .width = 3,
          .pixelSize = 8,
          .body = Concat({Bytes(9, 0x55), {0, 128, 255}})};
  for (uint8_t type : {3, 11}) {
    SCOPED_TRACE(static_cast<int>(type));
    tga.type = type;
    if (type == 11) tga.body = Concat({Bytes(9, 0x55), {0x02, 0, 128, 255}});
    auto bitmap = Load(tga.File());
    ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits8);
    EXPECT_EQ(Row(*bitmap, 0, 3), (Bytes{0, 128, 255}));
    const auto palette = bitmap->QueryPalette();
    ASSERT_TRUE(palette.has_value());
    ASSERT_EQ(palette->size(), 256u);
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      EXPECT_EQ((*palette)[i], (TRGB{v, v, v}));
    }
  }
}

TEST(TargaReader, GrayPlusAlphaBecomesGrayWithAlphaDropped) {
  // 16-bit grayscale: gray byte, then alpha.
  const Bytes pairs = {10, 255, 200, 0, 99, 128};
  const Tga files[] = {
      Tga{.type = 3, .width = 3, .pixelSize = 16, .descriptor = 8, .body = pairs},
      Tga{.type = 11,
          .width = 3,
          .pixelSize = 16,
          .descriptor = 8,
          .body = Concat({{0x00, 10, 255, 0x81, 200, 0}})},
  };
  const Bytes expected[] = {{10, 200, 99}, {10, 200, 200}};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    auto bitmap = Load(files[i].File());
    ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits8);
    EXPECT_EQ(Row(*bitmap, 0, 3), expected[i]);
    EXPECT_EQ(bitmap->PixelColor(1, 0), 0xC8C8C8u);
    EXPECT_EQ(bitmap->ImageProperties().colorScheme, ColorScheme::GrayAlpha);
  }
}

TEST(TargaReader, ImageTypeZeroGivesTheHeadersSizeWithoutPixels) {
  auto bitmap = Load(Tga{.type = 0, .width = 5, .height = 3, .body = Bytes(45, 0)}.File());
  EXPECT_EQ(bitmap->Layout(), PixelLayout::Bits24);
  EXPECT_EQ(bitmap->ImageWidth(), 5);
  EXPECT_EQ(bitmap->ImageHeight(), 3);
  for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(Row(*bitmap, y, 15), Bytes(15, 0xFF));
}

TEST(TargaReader, RunsCrossRowBoundaries) {
  // 3 x 3, 8-bit, top-down: a run of 4 and a raw packet of 5 span the rows.
  Tga tga{.type = 9,
          .width = 3,
          .height = 3,
          .pixelSize = 8,
          .descriptor = 0x20,
          .body = {0x83, 7, 0x04, 1, 2, 3, 4, 5}};
  auto bitmap = Load(tga.File());
  EXPECT_EQ(Row(*bitmap, 0, 3), (Bytes{7, 7, 7}));
  EXPECT_EQ(Row(*bitmap, 1, 3), (Bytes{7, 1, 2}));
  EXPECT_EQ(Row(*bitmap, 2, 3), (Bytes{3, 4, 5}));
}

TEST(TargaReader, CompressedDataEndingEarlyLeavesTheRestAsSetUp) {
  // 2 x 3, 24-bit, top-down; the data stops inside the second row, in the
  // middle of a raw pixel.
  Tga tga{
      .type = 10, .width = 2, .height = 3, .descriptor = 0x20, .body = {0x82, 1, 2, 3, 0x01, 4, 5}};
  auto bitmap = Load(tga.File());
  EXPECT_EQ(Row(*bitmap, 0, 6), (Bytes{1, 2, 3, 1, 2, 3}));
  EXPECT_EQ(Row(*bitmap, 1, 6), (Bytes{1, 2, 3, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Row(*bitmap, 2, 6), Bytes(6, 0xFF));
}

TEST(TargaReader, SkipsTheImageIdField) {
  Tga tga{.idLength = 3, .width = 1, .body = {'a', 'b', 'c', 1, 2, 3}};
  EXPECT_EQ(Row(*Load(tga.File()), 0, 3), (Bytes{1, 2, 3}));
}

TEST(TargaReader, FailsOnBadDataWithTheKnownMessages) {
  const test::FailureCase cases[] = {
      {"raw data short", Tga{.width = 2, .height = 2, .body = Bytes(9, 1)}.File(),
       "Stream read error"},
      {"colour map short",
       Tga{.mapType = 1,
           .type = 1,
           .mapLength = 4,
           .entrySize = 24,
           .pixelSize = 8,
           .body = Bytes(5, 1)}
           .File(),
       "Stream read error"},
      {"ID field short", Tga{.idLength = 200, .body = Bytes(5, 1)}.File(), "Stream read error"},
      {"shorter than the header", Bytes(17, 0), "Stream read error"},
      {"pixel size 12", Tga{.pixelSize = 12, .body = Bytes(8, 1)}.File(),
       "Sample count per pixel does not correspond to the given color scheme."},
      {"raw 30000 x 30000 from a few bytes",
       Tga{.width = 30000, .height = 30000, .pixelSize = 8, .body = Bytes(8, 1)}.File(),
       "Stream read error"},
      {"run-length 65535 x 65535 at 32 bits",
       Tga{.type = 10, .width = 65535, .height = 65535, .pixelSize = 32, .body = Bytes(8, 1)}
           .File(),
       "Out of system resources"},
  };
  test::ExpectEveryCaseFails(cases, Load);
}

// ---- through the loader -----------------------------------------------

TEST(TargaLoading, HeadersThatFailTheContentTestAreDrawnIntoBits24ByTheTgaName) {
  struct Case {
    const char* name;
    const char* fileName;
    uint8_t pixelSize;
    uint8_t entrySize;
    PixelLayout layout;
  };
  const Case cases[] = {
      {"24-bit, entry size 0", "a.tga", 24, 0, PixelLayout::Bits24},
      {"24-bit, entry size 24", "a.tga", 24, 24, PixelLayout::Bits24},
      {"32-bit, entry size 24", "a.tga", 32, 24, PixelLayout::Bits32},
      {"32-bit, entry size 0", "a.tga", 32, 0, PixelLayout::Bits24},
      {"16-bit, entry size 24", "a.tga", 16, 24, PixelLayout::Bits15},
      {"16-bit, entry size 0", "a.tga", 16, 0, PixelLayout::Bits24},
      {"capitals take the tga rule", "A.TGA", 32, 0, PixelLayout::Bits24},
      {"other Targa names are copied", "a.win", 32, 0, PixelLayout::Bits32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // 2 x 1: a pure blue and a pure red pixel in every pixel size.
    Bytes pixels;
    if (c.pixelSize == 16) {
      pixels = {0x1F, 0x00, 0x00, 0x7C};
    } else if (c.pixelSize == 24) {
      pixels = {255, 0, 0, 0, 0, 255};
    } else {
      pixels = {255, 0, 0, 255, 0, 0, 255, 255};
    }
    const Bytes file =
        Tga{.entrySize = c.entrySize, .width = 2, .pixelSize = c.pixelSize, .body = pixels}.File();
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    LoadPictureFromMemory(file.data(), file.size(), c.fileName, picture, working);
    EXPECT_EQ(working->Layout(), c.layout);
    EXPECT_EQ(working->PixelColor(0, 0), 0x0000FFu);
    EXPECT_EQ(working->PixelColor(1, 0), 0xFF0000u);
  }
}

// ---- real files -------------------------------------------------------

// The pixel size decides the reader's layout; gray plus alpha is gray.
PixelLayout ReaderLayout(const std::string& name) {
  if (name.find("_rgba_") != std::string::npos || name.rfind("rgb32", 0) == 0) {
    return PixelLayout::Bits32;
  }
  if (name.find("_rgb_") != std::string::npos) return PixelLayout::Bits24;
  if (name == "rgba16.tga") return PixelLayout::Bits15;
  return PixelLayout::Bits8;
}

TEST(TargaFiles, EveryFileLoadsWithItsLayoutAndPillowsPixels) {
  // Pillow's 16-bit colour-map entries widen 5 bits by replication, the
  // reader's by a shift of 3.
  const std::string shiftedMap = "p_16.tga";
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("tga"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++seen;
    TTargaGraphic bitmap;
    bitmap.LoadFile(entry.path().string());
    EXPECT_EQ(bitmap.Layout(), ReaderLayout(name));
    const int tolerance = bitmap.Layout() == PixelLayout::Bits15 ? 1 : 0;
    test::ExpectReferencePixels(entry.path().string(), bitmap, tolerance,
                                [&](test::RgbPicture& reference) {
                                  auto& rgb = reference.rgb;
                                  if (name == shiftedMap) {
                                    for (uint8_t& v : rgb)
                                      v = static_cast<uint8_t>(((v * 31 + 127) / 255) << 3);
                                  }
                                });

    // Through the loader, only the colour-mapped files pass the content
    // test (the others have a colour-map entry size of 0) and keep the
    // reader's layout; the rest are drawn into Bits24, in the same colours.
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    LoadPicture(entry.path().string(), picture, working);
    const bool recognised = name.find("_p_") != std::string::npos || name == shiftedMap;
    EXPECT_EQ(working->Layout(), recognised ? bitmap.Layout() : PixelLayout::Bits24);
    EXPECT_EQ(test::ComparePictures(test::BitmapPixels(bitmap), test::BitmapPixels(*working), 0),
              "");
  }
  EXPECT_EQ(seen, 21u);
}

TEST(TargaFiles, TruncatedRunLengthFileKeepsWhatArrived) {
  const std::string path = test::TestData("malformed/tga/cross_scan_line_truncated.tga");
  TTargaGraphic bitmap;
  bitmap.LoadFile(path);
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits8);
  EXPECT_EQ(bitmap.ImageWidth(), 64);
  EXPECT_EQ(bitmap.ImageHeight(), 64);
}

}  // namespace
}  // namespace quorvex
