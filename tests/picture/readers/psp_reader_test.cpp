#include "picture/readers/psp_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/readers/reader_test_support.h"
#include "picture/stream.h"
#include "support/run_length_encoders.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kInvalid = "Cannot load image. Invalid or unexpected PSP image format.";

// ---- writing files, from the format's description ----------------------

void Add16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Add32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Append(Bytes& b, const Bytes& more) {
  b.insert(b.end(), more.begin(), more.end());
}

enum Compression : uint16_t { kNone = 0, kRle = 1, kLz77 = 2, kJpeg = 3 };

Bytes Deflate(const Bytes& plain) {
  uLongf size = compressBound(plain.size());
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, plain.data(), plain.size(), 9), Z_OK);
  out.resize(size);
  return out;
}

Bytes Compress(const Bytes& plain, uint16_t compression) {
  switch (compression) {
    case kRle:
      return test::EncodePSPRuns(plain);
    case kLz77:
      return Deflate(plain);
    default:
      return plain;
  }
}

struct Writer {
  uint16_t version = 5;
  bool v3() const { return version == 3; }

  Bytes FileHeader() const {
    Bytes b(32, 0);
    const char signature[] = "Paint Shop Pro Image File\n\x1a";
    std::memcpy(b.data(), signature, sizeof signature - 1);
    Add16(b, version);
    Add16(b, 0);
    return b;
  }

  // A block: its fields (the chunk of later versions, given without its
  // size, or the initial data of version 3) and what follows them.
  Bytes Block(uint16_t id, const Bytes& fields, const Bytes& rest = {}) const {
    Bytes data;
    if (!v3()) Add32(data, static_cast<uint32_t>(fields.size() + 4));
    Append(data, fields);
    Append(data, rest);
    Bytes b = {'~', 'B', 'K', 0};
    Add16(b, id);
    if (v3()) Add32(b, static_cast<uint32_t>(fields.size()));
    Add32(b, static_cast<uint32_t>(data.size()));
    Append(b, data);
    return b;
  }

  Bytes Attributes(int32_t width, int32_t height, uint16_t compression, uint16_t depth,
                   bool greyscale = false) const {
    Bytes f;
    Add32(f, static_cast<uint32_t>(width));
    Add32(f, static_cast<uint32_t>(height));
    const double resolution = 72.0;
    Bytes r(8);
    std::memcpy(r.data(), &resolution, 8);
    Append(f, r);
    f.push_back(1);  // per inch
    Add16(f, compression);
    Add16(f, depth);
    Add16(f, 1);  // planes
    Add32(f, depth <= 8 ? 1u << depth : 1u << 24);
    f.push_back(greyscale ? 1 : 0);
    Add32(f, 0);             // total image size
    Add32(f, 0);             // active layer
    Add16(f, 1);             // layer count
    if (!v3()) Add32(f, 1);  // contents
    return Block(0, f);
  }

  Bytes Palette(const TPalette& colors) const {
    Bytes f;
    Add32(f, static_cast<uint32_t>(colors.size()));
    Bytes entries;
    for (const TRGB& c : colors) entries.insert(entries.end(), {c.blue, c.green, c.red, 0});
    if (v3()) {
      Append(f, entries);
      return Block(2, f);
    }
    return Block(2, f, entries);
  }

  Bytes Channel(const Bytes& plain, uint16_t compression, uint16_t bitmapType,
                uint16_t channelType) const {
    const Bytes coded = Compress(plain, compression);
    Bytes f;
    Add32(f, static_cast<uint32_t>(coded.size()));
    Add32(f, static_cast<uint32_t>(plain.size()));
    Add16(f, bitmapType);
    Add16(f, channelType);
    return Block(5, f, coded);
  }

  // A layer of the given type; rectangles are left, top, right, bottom.
  Bytes Layer(uint8_t type, std::array<int32_t, 4> image, std::array<int32_t, 4> saved,
              const std::vector<Bytes>& channels) const {
    Bytes f;
    const std::string name = "Layer";
    if (v3()) {
      Bytes fixed(256, 0);
      std::memcpy(fixed.data(), name.data(), name.size());
      Append(f, fixed);
    } else {
      Add16(f, static_cast<uint32_t>(name.size()));
      f.insert(f.end(), name.begin(), name.end());
    }
    f.push_back(type);
    for (int32_t v : image) Add32(f, static_cast<uint32_t>(v));
    for (int32_t v : saved) Add32(f, static_cast<uint32_t>(v));
    f.insert(f.end(), {255, 0, 1, 0, 0});     // opacity, blend, visible, protect, link
    for (int i = 0; i < 8; ++i) Add32(f, 0);  // mask rectangles
    f.insert(f.end(), {0, 0, 0});
    Add16(f, 5);
    f.insert(f.end(), 40, 0);  // blend ranges
    Bytes rest;
    if (v3()) {
      Add16(f, 1);
      Add16(f, static_cast<uint32_t>(channels.size()));
    } else {
      Add32(rest, 8);
      Add16(rest, 1);
      Add16(rest, static_cast<uint32_t>(channels.size()));
    }
    for (const Bytes& c : channels) Append(rest, c);
    return Block(4, f, rest);
  }

  Bytes LayerBank(const std::vector<Bytes>& layers) const {
    Bytes all;
    for (const Bytes& l : layers) Append(all, l);
    Bytes b = {'~', 'B', 'K', 0};
    Add16(b, 3);
    if (v3()) Add32(b, 0);
    Add32(b, static_cast<uint32_t>(all.size()));
    Append(b, all);
    return b;
  }

  Bytes CompositeAttributes(int32_t width, int32_t height, uint16_t depth, uint16_t compression,
                            uint16_t type) const {
    Bytes f;
    Add32(f, static_cast<uint32_t>(width));
    Add32(f, static_cast<uint32_t>(height));
    Add16(f, depth);
    Add16(f, compression);
    Add16(f, 1);
    Add32(f, depth <= 8 ? 1u << depth : 1u << 24);
    Add16(f, type);
    return Block(17, f);
  }

  Bytes CompositeImage(const std::vector<Bytes>& subBlocks) const {
    Bytes f;
    Add16(f, 1);
    Add16(f, static_cast<uint32_t>(subBlocks.size()));
    Bytes rest;
    for (const Bytes& s : subBlocks) Append(rest, s);
    return Block(9, f, rest);
  }

  Bytes CompositeBank(const std::vector<Bytes>& subBlocks) const {
    Bytes f;
    Add32(f, static_cast<uint32_t>(subBlocks.size() / 2));
    Bytes rest;
    for (const Bytes& s : subBlocks) Append(rest, s);
    return Block(16, f, rest);
  }

  Bytes File(const std::vector<Bytes>& blocks) const {
    Bytes b = FileHeader();
    for (const Bytes& block : blocks) Append(b, block);
    return b;
  }
};

// ---- pictures to store --------------------------------------------------

using Color = std::function<TRGB(int x, int y)>;

TRGB Pattern(int x, int y) {
  // Runs along the rows and changes between them.
  return {static_cast<uint8_t>(x < 5 ? 200 : x * 20), static_cast<uint8_t>(y * 40 + 3),
          static_cast<uint8_t>((x + y) % 3 == 0 ? 255 : 17 * x)};
}

// One channel (1 red, 2 green, 3 blue) of a picture, rows packed.
Bytes Plane(int width, int height, int channel, const Color& color = Pattern) {
  Bytes b;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const TRGB c = color(x, y);
      b.push_back(channel == 1 ? c.red : channel == 2 ? c.green : c.blue);
    }
  }
  return b;
}

// Indices of `bits` each, rows padded to `rowBytes`.
Bytes Indices(int width, int height, int bits, size_t rowBytes,
              const std::function<uint8_t(int, int)>& index) {
  Bytes b;
  for (int y = 0; y < height; ++y) {
    Bytes row(rowBytes, 0);
    for (int x = 0; x < width; ++x) {
      const int bit = x * bits;
      row[size_t(bit / 8)] |= static_cast<uint8_t>(index(x, y) << (8 - bits - bit % 8));
    }
    Append(b, row);
  }
  return b;
}

std::vector<Bytes> RgbChannels(const Writer& w, int width, int height, uint16_t compression,
                               const Color& color = Pattern, uint16_t bitmapType = 0) {
  std::vector<Bytes> channels;
  for (int c = 1; c <= 3; ++c) {
    channels.push_back(w.Channel(Plane(width, height, c, color), compression, bitmapType,
                                 static_cast<uint16_t>(c)));
  }
  return channels;
}

const auto Load = &test::LoadBytes<TPSPGraphic>;

uint32_t Rgb(TRGB c) {
  return uint32_t{c.red} << 16 | uint32_t{c.green} << 8 | c.blue;
}

void ExpectPixels(const TBitmap& bitmap, int width, int height, const Color& expected) {
  ASSERT_EQ(bitmap.ImageWidth(), width);
  ASSERT_EQ(bitmap.ImageHeight(), height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      ASSERT_EQ(bitmap.PixelColor(x, y), Rgb(expected(x, y))) << x << "," << y;
    }
  }
}

// ---- the run-length code ----------------------------------------------

TEST(PSPRunLengthDecoder, DecodesRunsAndLiterals) {
  struct Case {
    const char* name;
    Bytes input;
    size_t room;
    Bytes expected;
    size_t consumed;
  };
  const Case cases[] = {
      {"129 is one copy", {129, 7}, 4, {7}, 2},
      {"131 is three copies", {131, 9}, 4, {9, 9, 9}, 2},
      {"255 is 127 copies", {255, 1}, 127, Bytes(127, 1), 2},
      {"2 is two literals", {2, 5, 6}, 4, {5, 6}, 3},
      {"128 is 128 literals",
       [] {
         Bytes b = {128};
         for (int i = 0; i < 128; ++i) b.push_back(static_cast<uint8_t>(i + 100));
         return b;
       }(),
       128,
       [] {
         Bytes b;
         for (int i = 0; i < 128; ++i) b.push_back(static_cast<uint8_t>(i + 100));
         return b;
       }(),
       129},
      {"0 gives nothing", {0, 1, 4}, 4, {4}, 3},
      {"stops at the room given", {133, 2, 1, 9}, 3, {2, 2, 2}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPSPRunLengthDecoder decoder;
    Bytes out(c.room + 2, 0xEE);
    const uint8_t* in = c.input.data();
    const size_t n = decoder.Decode(in, c.input.data() + c.input.size(), out.data(), c.room);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + long(n)), c.expected);
    EXPECT_EQ(static_cast<size_t>(in - c.input.data()), c.consumed);
    EXPECT_EQ(Bytes(out.begin() + long(c.room), out.end()), Bytes(2, 0xEE));
  }
}

TEST(PSPRunLengthDecoder, InputInPiecesOfOneByteGivesTheSameBytes) {
  const Bytes coded = {131, 4, 3, 7, 8, 9, 129, 1};
  const Bytes expected = {4, 4, 4, 7, 8, 9, 1};
  TPSPRunLengthDecoder decoder;
  Bytes out;
  for (size_t i = 0; i < coded.size(); ++i) {
    const uint8_t* in = &coded[i];
    uint8_t piece[8];
    const size_t n = decoder.Decode(in, &coded[i] + 1, piece, 2);
    EXPECT_EQ(in, &coded[i] + 1) << "byte " << i << " left unread";
    out.insert(out.end(), piece, piece + n);
    // A run may owe more than one call gives room for.
    const uint8_t* none = in;
    const size_t more = decoder.Decode(none, none, piece, 8);
    out.insert(out.end(), piece, piece + more);
  }
  EXPECT_EQ(out, expected);
}

// ---- content test -----------------------------------------------------

TEST(PSPContentTest, AsksTheSignatureAndTheVersion) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
    bool accepted;
  };
  const Case cases[] = {
      {"version 5", [](Bytes&) {}, true},
      {"version 3", [](Bytes& b) { b[32] = 3; }, true},
      {"version 2", [](Bytes& b) { b[32] = 2; }, false},
      {"version 256", [](Bytes& b) { b[32] = 0, b[33] = 1; }, true},
      {"other case", [](Bytes& b) { std::memcpy(b.data(), "PAINT SHOP PRO IMAGE FILE", 25); },
       true},
      {"another name", [](Bytes& b) { b[0] = 'Q'; }, false},
      {"exactly the header", [](Bytes& b) { b.resize(36); }, false},
      {"one byte more", [](Bytes& b) { b.resize(37); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Writer w;
    Bytes file = w.File({w.Attributes(2, 2, kNone, 24)});
    c.change(file);
    TMemoryStream stream(file);
    EXPECT_EQ(TPSPGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 0);
  }
}

// ---- pictures ---------------------------------------------------------

TEST(PSPReader, ColourLayersInEveryVersionAndCompression) {
  struct Case {
    const char* name;
    uint16_t version;
    uint16_t compression;
    int width = 13;
    int height = 4;
  };
  const Case cases[] = {
      {"version 3, uncompressed", 3, kNone},
      {"version 3, run-length", 3, kRle},
      {"version 3, LZ77", 3, kLz77},
      {"version 4, run-length", 4, kRle},
      {"version 5, uncompressed", 5, kNone},
      {"version 5, LZ77", 5, kLz77},
      {"version 6, run-length", 6, kRle},
      // Channels longer than one input buffer, read side by side, take turns
      // at the stream.
      {"version 5, uncompressed, large", 5, kNone, 300, 300},
      {"version 5, run-length, large", 5, kRle, 300, 300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Writer w{c.version};
    const int width = c.width, height = c.height;
    const uint8_t raster = c.version == 3 ? 0 : 1;
    const Bytes file =
        w.File({w.Attributes(width, height, c.compression, 24),
                w.LayerBank({w.Layer(raster, {0, 0, width, height}, {0, 0, width, height},
                                     RgbChannels(w, width, height, c.compression))})});
    const auto bitmap = Load(file);
    EXPECT_EQ(bitmap->Layout(), PixelLayout::Bits24);
    ExpectPixels(*bitmap, width, height, Pattern);
  }
}

TEST(PSPReader, PalettePicturesBecomeEightBitsWithTheirPalette) {
  const TPalette colors = {{10, 20, 30}, {200, 100, 0}, {0, 255, 1}, {7, 7, 7}};
  const auto index = [](int x, int y) { return static_cast<uint8_t>((x + 2 * y) % 4); };
  struct Case {
    const char* name;
    uint16_t version;
    int bits;
    size_t rowBytes;
    uint16_t compression;
  };
  const int width = 11, height = 3;
  const Case cases[] = {
      {"8 bits, version 3", 3, 8, 11, kNone},
      {"8 bits, rows padded", 5, 8, 12, kRle},
      {"4 bits, rows padded to 4 bytes", 5, 4, 8, kNone},
      {"4 bits, packed", 4, 4, 6, kLz77},
      {"1 bit, padded", 5, 1, 4, kRle},
      {"1 bit, version 3", 3, 1, 2, kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Writer w{c.version};
    const auto idx = c.bits == 1 ? [](int x, int y) { return static_cast<uint8_t>((x + y) % 2); }
                                 : std::function<uint8_t(int, int)>(index);
    const Bytes file = w.File(
        {w.Attributes(width, height, c.compression, static_cast<uint16_t>(c.bits)),
         w.Palette(colors),
         w.LayerBank({w.Layer(
             c.version == 3 ? 0 : 1, {0, 0, width, height}, {0, 0, width, height},
             {w.Channel(Indices(width, height, c.bits, c.rowBytes, idx), c.compression, 0, 0)})})});
    const auto bitmap = Load(file);
    ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits8);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        ASSERT_EQ(bitmap->RowAddress(y)[x], idx(x, y)) << x << "," << y;
      }
    }
    const auto palette = bitmap->QueryPalette();
    ASSERT_TRUE(palette.has_value());
    ASSERT_GE(palette->size(), size_t{1} << c.bits);
    EXPECT_EQ((*palette)[1], colors[1]);
    if (c.bits > 1) {
      EXPECT_EQ((*palette)[3], colors[3]);
    }
  }
}

TEST(PSPReader, GrayPicturesWithoutPaletteTakeAGrayRamp) {
  const Writer w{5};
  const Bytes gray = {0, 128, 255, 64};
  const Bytes file = w.File(
      {w.Attributes(2, 2, kNone, 8, true),
       w.LayerBank({w.Layer(1, {0, 0, 2, 2}, {0, 0, 2, 2}, {w.Channel(gray, kNone, 0, 0)})})});
  const auto bitmap = Load(file);
  ExpectPixels(*bitmap, 2, 2, [&](int x, int y) {
    const uint8_t v = gray[size_t(y * 2 + x)];
    return TRGB{v, v, v};
  });
}

TEST(PSPReader, CompositeImageWinsOverTheLayers) {
  const Writer w{5};
  const int width = 6, height = 5;
  const Color composite = [](int x, int y) { return TRGB{uint8_t(x * 40), uint8_t(y * 50), 99}; };
  const Color thumbnail = [](int, int) { return TRGB{1, 2, 3}; };
  const Bytes layers = w.LayerBank({w.Layer(1, {0, 0, width, height}, {0, 0, width, height},
                                            RgbChannels(w, width, height, kRle))});
  struct Case {
    const char* name;
    Bytes bank;
  };
  const Case cases[] = {
      {"attributes before each image",
       w.CompositeBank({w.CompositeAttributes(width, height, 24, kLz77, 0),
                        w.CompositeImage(RgbChannels(w, width, height, kLz77, composite, 8))})},
      {"a thumbnail first, all attributes before the images",
       w.CompositeBank({w.CompositeAttributes(2, 2, 24, kNone, 1),
                        w.CompositeAttributes(width, height, 24, kRle, 0),
                        w.CompositeImage(RgbChannels(w, 2, 2, kNone, thumbnail, 5)),
                        w.CompositeImage(RgbChannels(w, width, height, kRle, composite, 8))})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = w.File({w.Attributes(width, height, kRle, 24), layers, c.bank});
    ExpectPixels(*Load(file), width, height, composite);
  }
}

TEST(PSPReader, WithoutAUsableCompositeTheFirstRasterLayerShows) {
  const Writer w{5};
  const int width = 4, height = 3;
  const Color other = [](int, int) { return TRGB{9, 9, 9}; };
  // A composite stored as JPEG data is passed over.
  Bytes jpegBlock = {'~', 'B', 'K', 0, 18, 0};
  Add32(jpegBlock, 4);
  Add32(jpegBlock, 4);
  const Bytes bank =
      w.CompositeBank({w.CompositeAttributes(width, height, 24, kJpeg, 0), jpegBlock});
  const Bytes file =
      w.File({w.Attributes(width, height, kNone, 24), bank,
              w.LayerBank({w.Layer(3, {0, 0, width, height}, {0, 0, width, height}, {}),  // vector
                           w.Layer(1, {0, 0, width, height}, {0, 0, width, height},
                                   RgbChannels(w, width, height, kNone)),
                           w.Layer(1, {0, 0, width, height}, {0, 0, width, height},
                                   RgbChannels(w, width, height, kNone, other))})});
  ExpectPixels(*Load(file), width, height, Pattern);
}

TEST(PSPReader, LayerSitsAtItsRectangleOverWhiteAndItsMaskBlends) {
  const Writer w{5};
  const int width = 8, height = 6;
  // The stored part is 4 x 3, at (2 + 1, 1 + 2) on the canvas; a partly
  // transparent mask blends it with the white beneath.
  const Color layer = [](int x, int y) { return TRGB{uint8_t(x * 60), uint8_t(y * 80), 0}; };
  const auto alpha = [](int x, int) { return uint8_t(x == 0 ? 0 : x == 1 ? 128 : 255); };
  Bytes mask;
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) mask.push_back(alpha(x, y));
  }
  std::vector<Bytes> channels = RgbChannels(w, 4, 3, kRle, layer);
  channels.insert(channels.begin(), w.Channel(mask, kRle, 1, 0));
  const Bytes file = w.File({w.Attributes(width, height, kRle, 24),
                             w.LayerBank({w.Layer(1, {2, 1, 7, 5}, {1, 2, 5, 5}, channels)})});
  ExpectPixels(*Load(file), width, height, [&](int x, int y) {
    const int lx = x - 3, ly = y - 3;
    if (lx < 0 || lx >= 4 || ly < 0 || ly >= 3) return TRGB{255, 255, 255};
    const TRGB c = layer(lx, ly);
    const unsigned a = alpha(lx, ly);
    auto blend = [a](uint8_t v) { return uint8_t((v * a + 255 * (255 - a) + 127) / 255); };
    return TRGB{blend(c.red), blend(c.green), blend(c.blue)};
  });
}

TEST(PSPReader, LayersOffTheCanvasAreClipped) {
  const Writer w{5};
  const int width = 5, height = 4;
  const Color layer = [](int x, int y) { return TRGB{uint8_t(x * 30), uint8_t(y * 30), 77}; };
  const Color white = [](int, int) { return TRGB{255, 255, 255}; };
  struct Case {
    const char* name;
    uint16_t depth;
    std::array<int32_t, 4> image;
    Color expected;
  };
  const Case cases[] = {
      {"partly off every side",
       24,
       {-3, -2, 6, 5},
       [&](int x, int y) { return layer(x + 3, y + 2); }},
      {"beside the canvas, its rows level with it", 24, {7, 0, 16, 7}, white},
      {"below the canvas", 24, {0, 6, 9, 13}, white},
      {"palette picture beside the canvas", 8, {-12, 0, -3, 7}, white},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Bytes> channels =
        c.depth == 24 ? RgbChannels(w, 9, 7, kLz77, layer)
                      : std::vector<Bytes>{w.Channel(Bytes(63, 1), kLz77, 0, 0)};
    const Bytes file = w.File({w.Attributes(width, height, kLz77, c.depth),
                               w.Palette({{0, 0, 0}, {255, 255, 255}}),
                               w.LayerBank({w.Layer(1, c.image, {0, 0, 9, 7}, channels)})});
    ExpectPixels(*Load(file), width, height, c.expected);
  }
}

TEST(PSPReader, HeaderInfoComesFromTheImageAttributes) {
  const Writer w{4};
  const Bytes file = w.File({w.Attributes(640, 480, kLz77, 8, true)});
  TPSPGraphic graphic;
  TMemoryStream stream(file);
  ASSERT_TRUE(graphic.ReadHeaderInfo(stream, 0));
  const TImageProperties& p = graphic.ImageProperties();
  EXPECT_EQ(p.width, 640);
  EXPECT_EQ(p.height, 480);
  EXPECT_EQ(p.version, 4u);
  EXPECT_EQ(p.colorScheme, ColorScheme::Gray);
  EXPECT_EQ(p.bitsPerSample, 8);
  EXPECT_EQ(p.compression, CompressionKind::LZ77);
  EXPECT_FLOAT_EQ(p.xResolution, 72.0f);
}

TEST(PSPReader, FailsOnBadDataWithTheFormatMessage) {
  const Writer w{5};
  const int width = 4, height = 2;
  auto layered = [&](uint16_t depth, uint16_t compression, std::vector<Bytes> channels) {
    return w.File({w.Attributes(width, height, compression, depth),
                   w.LayerBank({w.Layer(1, {0, 0, width, height}, {0, 0, width, height},
                                        std::move(channels))})});
  };
  const Bytes good = layered(24, kNone, RgbChannels(w, width, height, kNone));
  auto channelWith = [&](const Bytes& plain, const Bytes& coded) {
    Bytes f;
    Add32(f, static_cast<uint32_t>(coded.size()));
    Add32(f, static_cast<uint32_t>(plain.size()));
    Add16(f, 0);
    Add16(f, 1);
    return w.Block(5, f, coded);
  };
  // A zlib header, then a final block of the reserved type 3.
  const Bytes badZlib = {0x78, 0x9C, 0x07, 0, 0, 0, 0, 0};
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      {"not a PSP file", Bytes(100, 'x')},
      {"version 2", [] {
         Writer v2{2};
         return v2.File({v2.Attributes(2, 2, kNone, 24)});
       }()},
      {"no image attributes", w.File({})},
      {"no layers", w.File({w.Attributes(width, height, kNone, 24)})},
      {"zero width", [&] {
         Bytes b = good;
         b[36 + 10 + 4] = 0;
         return b;
       }()},
      {"16 bits", layered(16, kNone, RgbChannels(w, width, height, kNone))},
      {"JPEG compression", layered(24, kJpeg, RgbChannels(w, width, height, kNone))},
      {"channel data cut short", Bytes(good.begin(), good.end() - 3)},
      {"uncompressed length not whole rows",
       layered(24, kNone, {channelWith(Bytes(7, 1), Bytes(7, 1))})},
      {"rows longer than padding allows",
       layered(24, kNone, {channelWith(Bytes(16, 1), Bytes(16, 1))})},
      {"run-length data ending early", layered(24, kRle, {channelWith(Bytes(8, 1), {3, 1, 2, 3})})},
      {"a run without its byte", layered(24, kRle, {channelWith(Bytes(8, 1), {136})})},
      {"more than run-length data can hold",
       layered(24, kRle, {channelWith(Bytes(200, 1), {255, 1})})},
      {"no LZ77 data at all", layered(24, kLz77, {channelWith(Bytes(8, 1), {})})},
      {"corrupt LZ77 data", layered(24, kLz77, {channelWith(Bytes(8, 1), badZlib)})},
      {"LZ77 data ending early", [&] {
         const Bytes coded = Deflate(Bytes(8, 1));
         return layered(24, kLz77,
                        {channelWith(Bytes(8, 1), Bytes(coded.begin(), coded.end() - 6))});
       }()},
      {"LZ77 stream shorter than the channel",
       layered(24, kLz77, {channelWith(Bytes(8, 1), Deflate(Bytes(5, 1)))})},
      {"only a mask", layered(24, kNone, {w.Channel(Bytes(8, 255), kNone, 1, 0)})},
      {"empty saved rectangle",
       w.File({w.Attributes(width, height, kNone, 24),
               w.LayerBank({w.Layer(1, {0, 0, width, height}, {2, 0, 2, height},
                                    RgbChannels(w, width, height, kNone))})})},
  };
  test::ExpectEveryCaseFailsWith<EInvalidGraphic>(cases, Load, kInvalid);
}

TEST(PSPReader, HugeCanvasWithTooLittleCompositeDataFailsBeforeAllocating) {
  // 30000 x 30000 at 24 bits is under the storage limit but the 60 bytes of
  // LZ77 data cannot hold it.
  const Writer w{5};
  const int side = 30000;
  Bytes f;
  Add32(f, 40);
  Add32(f, uint32_t(side) * side);
  Add16(f, 8);
  Add16(f, 1);
  const Bytes channel = w.Block(5, f, Bytes(40, 0));
  const Bytes file = w.File({w.Attributes(side, side, kLz77, 24),
                             w.CompositeBank({w.CompositeAttributes(side, side, 24, kLz77, 0),
                                              w.CompositeImage({channel})})});
  try {
    Load(file);
    ADD_FAILURE() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), kInvalid);
  }
}

// ---- through the loader -----------------------------------------------

TEST(PSPLoading, RecognisedByContentUnderAnyName) {
  const Writer w{5};
  const Bytes file =
      w.File({w.Attributes(3, 2, kRle, 24),
              w.LayerBank({w.Layer(1, {0, 0, 3, 2}, {0, 0, 3, 2}, RgbChannels(w, 3, 2, kRle))})});
  for (const char* name : {"picture.psp", "picture.bmp"}) {
    SCOPED_TRACE(name);
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    LoadPictureFromMemory(file.data(), file.size(), name, picture, working);
    EXPECT_EQ(working->Layout(), PixelLayout::Bits24);
    ExpectPixels(*working, 3, 2, Pattern);
  }
}

}  // namespace
}  // namespace quorvex
