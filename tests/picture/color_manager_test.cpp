#include "picture/color_manager.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "picture/exceptions.h"

namespace quorvex {
namespace {

using enum ColorScheme;
using Bytes = std::vector<uint8_t>;

constexpr TConversionOptions kNone{};
constexpr ConversionOption kByteSwap = ConversionOption::ByteSwapOption;
constexpr ConversionOption kGamma = ConversionOption::GammaOption;
constexpr ConversionOption kLabByte = ConversionOption::LabByteOption;
constexpr ConversionOption kLabOffset = ConversionOption::LabOffsetOption;
constexpr ConversionOption kAlpha = ConversionOption::AlphaOption;

// Write masks of the seven interlace passes, then every pixel.
constexpr uint8_t kAdam7Masks[] = {0x80, 0x08, 0x88, 0x22, 0xAA, 0x55, 0xFF};

struct Config {
  ColorScheme source = RGB;
  ColorScheme target = BGR;
  int sourceBits = 8;
  int targetBits = 8;
  TConversionOptions sourceOptions = kNone;
  TConversionOptions targetOptions = kNone;
  float gamma = 0;  // 0: SetGamma not called
};

void Configure(TColorManager& cm, const Config& s) {
  cm.SetSourceColorScheme(s.source);
  cm.SetTargetColorScheme(s.target);
  cm.SetSourceBitsPerSample(s.sourceBits);
  cm.SetTargetBitsPerSample(s.targetBits);
  cm.SetSourceOptions(s.sourceOptions);
  cm.SetTargetOptions(s.targetOptions);
  if (s.gamma > 0) cm.SetGamma(s.gamma);
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    char part[4];
    std::snprintf(part, sizeof part, "%02x", b);
    if (!text.empty()) text += ' ';
    text += part;
  }
  return text;
}

std::string Colours(const TPalette& palette) {
  std::string text;
  for (const TRGB& c : palette) {
    if (!text.empty()) text += ' ';
    text += std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue);
  }
  return text;
}

template <typename Action>
std::string FailureOf(Action&& action) {
  try {
    action();
  } catch (const EColorConversionError& e) {
    return e.Message();
  }
  return "no failure";
}

Bytes Convert(TColorManager& cm, const TSampleSources& source, uint32_t count, uint8_t mask,
              size_t targetBytes, uint8_t fill) {
  Bytes target(targetBytes, fill);
  cm.ConvertPixels(source, count, mask, std::span<uint8_t>(target));
  return target;
}

const char* LayoutName(PixelLayout layout) {
  return PixelLayoutName(layout);
}

// ---- edge cases, one row each ------------------------------------------------

TEST(ColorManager, EdgeCases) {
  const struct {
    const char* name;
    std::function<std::string()> run;
    std::string expected;
  } cases[] = {
      {"layout of 3 samples of 5 bits",
       [] {
         TColorManager cm;
         cm.SetTargetSamplesPerPixel(3);
         cm.SetTargetBitsPerSample(5);
         return std::string(LayoutName(cm.TargetLayout()));
       },
       "Bits15"},
      {"layout of 4 samples of 1 bit",
       [] {
         TColorManager cm;
         cm.SetTargetSamplesPerPixel(4);
         cm.SetTargetBitsPerSample(1);
         return std::string(LayoutName(cm.TargetLayout()));
       },
       "CustomBits"},
      {"gray ramp for 1 bit",
       [] {
         TColorManager cm;
         cm.SetTargetSamplesPerPixel(1);
         cm.SetTargetBitsPerSample(1);
         return Colours(cm.MakeGrayPalette(false));
       },
       "0,0,0 255,255,255"},
      {"gray ramp for 2 bits",
       [] {
         TColorManager cm;
         cm.SetTargetSamplesPerPixel(1);
         cm.SetTargetBitsPerSample(2);
         return Colours(cm.MakeGrayPalette(false));
       },
       "0,0,0 85,85,85 170,170,170 255,255,255"},
      {"2-bit indexed values 0 to 3 to 4 bits",
       [] {
         TColorManager cm;
         Configure(cm, {.source = Indexed, .target = Indexed, .sourceBits = 2, .targetBits = 4});
         const Bytes source{0b00011011};
         return Hex(Convert(cm, source.data(), 4, 0xFF, 2, 0));
       },
       "05 af"},
      {"2-bit palette spread over 16 entries: entries 5, 10, 15",
       [] {
         TColorManager cm;
         Configure(cm, {.source = Indexed, .target = Indexed, .sourceBits = 2, .targetBits = 4});
         const Bytes map{10, 11, 12, 20, 21, 22, 30, 31, 32, 40, 41, 42};
         const TPalette p =
             cm.MakeColorPalette(map.data(), PaletteSourceFormat::Interleaved8, false, 4);
         return std::to_string(p.size()) + ": " + Colours({p[0], p[5], p[10], p[15]});
       },
       "16: 10,11,12 20,21,22 30,31,32 40,41,42"},
      {"RGB to BGR with mask 55 writes the odd pixels, one source pixel each",
       [] {
         TColorManager cm;
         const Bytes source{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 99, 99, 99};
         return Hex(Convert(cm, source.data(), 8, 0x55, 24, 0));
       },
       "00 00 00 03 02 01 00 00 00 06 05 04 00 00 00 09 08 07 00 00 00 0c 0b 0a"},
      {"16-bit samples 65535, 257 and 256",
       [] {
         TColorManager cm;
         Configure(cm, {.source = Gray, .target = Gray, .sourceBits = 16, .targetBits = 8});
         const Bytes source{0xFF, 0xFF, 0x01, 0x01, 0x00, 0x01};
         return Hex(Convert(cm, source.data(), 3, 0xFF, 3, 0xEE));
       },
       "ff 01 00"},
      {"gamma 1/2.2 with display gamma 2.2",
       [] {
         TColorManager cm;
         cm.SetGamma(1.0f / 2.2f, 2.2f);
         for (int i = 0; i < 256; ++i) {
           if (cm.GammaTable()[static_cast<size_t>(i)] != i)
             return "differs at " + std::to_string(i);
         }
         return std::string("identity");
       },
       "identity"},
      {"Indexed source with BGR target fails at the first conversion",
       [] {
         TColorManager cm;
         cm.SetSourceColorScheme(Indexed);
         cm.SetTargetColorScheme(BGR);
         uint8_t row[3] = {};
         return "setters accepted; " +
                FailureOf([&] { cm.ConvertPixels(row, 1, 0xFF, std::span(row)); });
       },
       "setters accepted; Conversion between indexed and non-indexed pixel formats is not "
       "supported."},
  };
  for (const auto& c : cases) EXPECT_EQ(c.run(), c.expected) << c.name;
}

// ---- formulas and single rows -----------------------------------------------

TEST(ColorManager, ConvertsRows) {
  const struct {
    const char* name;
    Config setup;
    Bytes source;
    uint32_t count;
    uint8_t mask;
    Bytes expected;  // the target starts as 0xEE bytes of this length
  } cases[] = {
      {"RGB to BGR", {}, {1, 2, 3, 4, 5, 6}, 2, 0xFF, {3, 2, 1, 6, 5, 4}},
      {"RGB to RGB", {.target = RGB}, {1, 2, 3, 4, 5, 6}, 2, 0xFF, {1, 2, 3, 4, 5, 6}},
      {"BGR to RGB", {.source = BGR, .target = RGB}, {1, 2, 3}, 1, 0xFF, {3, 2, 1}},
      {"BGRA to BGRA", {.source = BGRA, .target = BGRA}, {1, 2, 3, 4}, 1, 0xFF, {1, 2, 3, 4}},
      {"RGBA to BGRA carries alpha",
       {.source = RGBA, .target = BGRA},
       {1, 2, 3, 200},
       1,
       0xFF,
       {3, 2, 1, 200}},
      {"RGBA to BGR drops alpha",
       {.source = RGBA},
       {1, 2, 3, 200, 4, 5, 6, 100},
       2,
       0xFF,
       {3, 2, 1, 6, 5, 4}},
      {"RGB to BGRA leaves alpha", {.target = BGRA}, {1, 2, 3}, 1, 0xFF, {3, 2, 1, 0xEE}},
      {"16-bit RGB to 8",
       {.sourceBits = 16},
       {0xFF, 0xFF, 0x01, 0x01, 0x00, 0x01},
       1,
       0xFF,
       {0x00, 0x01, 0xFF}},
      {"big-endian 16-bit RGB to 8",
       {.sourceBits = 16, .sourceOptions = kByteSwap},
       {0xFF, 0xFF, 0x01, 0x01, 0x01, 0x00},
       1,
       0xFF,
       {0x00, 0x01, 0xFF}},
      {"8-bit RGB to big-endian 16",
       {.target = RGB, .targetBits = 16, .targetOptions = kByteSwap},
       {1, 255, 0},
       1,
       0xFF,
       {0x01, 0x01, 0xFF, 0xFF, 0x00, 0x00}},
      {"16-bit RGBA to BGRA scales alpha too",
       {.source = RGBA, .target = BGRA, .sourceBits = 16},
       {0, 0, 0, 0, 0xFF, 0xFF, 0x01, 0x01},
       1,
       0xFF,
       {0xFF, 0, 0, 1}},
      {"gamma 1: colour brightened, alpha not",
       {.source = RGBA, .target = BGRA, .targetOptions = kGamma, .gamma = 1.0f},
       {128, 0, 255, 128},
       1,
       0xFF,
       {255, 0, 186, 128}},
      {"gamma 1 on 16-bit samples",
       {.sourceBits = 16, .targetOptions = kGamma, .gamma = 1.0f},
       {0x80, 0x80, 0x40, 0x40, 0x01, 0x00},
       1,
       0xFF,
       {0, 136, 186}},
      {"gamma 1 to a 16-bit target",
       {.target = RGB, .targetBits = 16, .targetOptions = kGamma, .gamma = 1.0f},
       {128, 0, 255},
       1,
       0xFF,
       {186, 186, 0, 0, 255, 255}},
      {"CMYK 8-bit",
       {.source = CMYK},
       {0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 128, 64, 0, 128},
       4,
       0xFF,
       {255, 255, 255, 0, 0, 0, 0, 0, 0, 127, 95, 63}},
      {"CMYK 16-bit to RGBA leaves alpha",
       {.source = CMYK, .target = RGBA, .sourceBits = 16, .sourceOptions = kByteSwap},
       {0x80, 0x80, 0x40, 0x40, 0x00, 0x00, 0x80, 0x80},
       1,
       0xFF,
       {64, 96, 127, 0xEE}},
      {"CIELab signed, L as stored",
       {.source = CIELab},
       {50, 0, 0, 50, 80, 0, 5, 0, 0, 60, 0xD8, 30},
       4,
       0xFF,
       {119, 119, 119, 123, 0, 231, 17, 17, 17, 88, 162, 74}},
      {"CIELab byte lightness with offset a, b",
       {.source = CIELab, .target = RGB, .sourceOptions = {kLabByte, kLabOffset}},
       {255, 128, 128, 0, 128, 128},
       2,
       0xFF,
       {255, 255, 255, 0, 0, 0}},
      {"CIELab 16-bit signed",
       {.source = CIELab, .target = RGB, .sourceBits = 16},
       {0x32, 0x32, 0x00, 0x50, 0x00, 0x00},
       1,
       0xFF,
       {231, 0, 123}},
      {"YCbCr",
       {.source = YCbCr},
       {128, 128, 128, 0, 128, 255, 100, 200, 60},
       3,
       0xFF,
       {128, 128, 128, 0, 0, 178, 228, 124, 5}},
      {"YCbCr 16-bit to 16-bit RGB",
       {.source = YCbCr, .target = RGB, .sourceBits = 16, .targetBits = 16},
       {0, 0, 0x80, 0x80, 0xFF, 0xFF},
       1,
       0xFF,
       {178, 178, 0, 0, 0, 0}},
      {"PhotoYCC centres chroma at 156 and 137",
       {.source = PhotoYCC, .target = RGB},
       {128, 156, 137, 100, 200, 60},
       2,
       0xFF,
       {128, 128, 128, 0, 140, 178}},
      {"gray 8 to 16",
       {.source = Gray, .target = Gray, .targetBits = 16},
       {1, 255},
       2,
       0xFF,
       {1, 1, 255, 255}},
      {"big-endian gray 16 to 16",
       {.source = Gray,
        .target = Gray,
        .sourceBits = 16,
        .targetBits = 16,
        .sourceOptions = kByteSwap},
       {0x12, 0x34},
       1,
       0xFF,
       {0x34, 0x12}},
      {"gray + alpha drops alpha",
       {.source = GrayAlpha, .target = Gray},
       {10, 99, 20, 99},
       2,
       0xFF,
       {10, 20}},
      {"big-endian 16-bit gray + alpha to indexed 8",
       {.source = GrayAlpha, .target = Indexed, .sourceBits = 16, .sourceOptions = kByteSwap},
       {0xFF, 0xFF, 0, 0, 0x01, 0x01, 0, 0},
       2,
       0xFF,
       {255, 1}},
      {"1-bit pixels 0 and 8 under mask 80",
       {.source = Indexed, .target = Indexed, .sourceBits = 1, .targetBits = 1},
       {0b01000000},
       9,
       0x80,
       {0x6E, 0xEE}},
      {"4-bit to 8-bit scales by 17",
       {.source = Gray, .target = Gray, .sourceBits = 4},
       {0x0F, 0x5A},
       4,
       0xFF,
       {0, 255, 85, 170}},
      {"8-bit to 4-bit keeps the last nibble's neighbour",
       {.source = Indexed, .target = Indexed, .targetBits = 4},
       {255, 17, 16},
       3,
       0xFF,
       {0xF1, 0x0E}},
      {"3-bit values packed across bytes, mask 0x20",
       {.source = Indexed, .target = Indexed, .sourceBits = 3, .targetBits = 3},
       {0b01000000},
       3,
       0x20,
       {0xED, 0x6E}},
      {"3-bit values to 4 bits",
       {.source = Indexed, .target = Indexed, .sourceBits = 3, .targetBits = 4},
       {0b11100010, 0b10000000},
       3,
       0xFF,
       {0xF0, 0xAE}},
      {"indexed 16 to big-endian 16",
       {.source = Indexed,
        .target = Indexed,
        .sourceBits = 16,
        .targetBits = 16,
        .targetOptions = kByteSwap},
       {0x34, 0x12},
       1,
       0xFF,
       {0x12, 0x34}},
      {"big-endian indexed 16 to 4",
       {.source = Indexed,
        .target = Indexed,
        .sourceBits = 16,
        .targetBits = 4,
        .sourceOptions = kByteSwap},
       {0xFF, 0xFF, 0x11, 0x11},
       2,
       0xFF,
       {0xF1}},
      {"indexed 4 to 16",
       {.source = Indexed, .target = Indexed, .sourceBits = 4, .targetBits = 16},
       {0xF1},
       2,
       0xFF,
       {0xFF, 0xFF, 0x11, 0x11}},
      {"mask 0 writes nothing", {}, {}, 8, 0x00, Bytes(24, 0xEE)},
      {"count 0 writes nothing", {.source = Indexed, .target = Indexed}, {}, 0, 0xFF, {0xEE}},
  };
  for (const auto& c : cases) {
    TColorManager cm;
    Configure(cm, c.setup);
    // Exact sizes, so that the sanitizers see any read past the samples.
    const Bytes& source = c.source;
    EXPECT_EQ(Hex(Convert(cm, source.data(), c.count, c.mask, c.expected.size(), 0xEE)),
              Hex(c.expected))
        << c.name;
  }
}

TEST(ColorManager, CIELabIsShownAsSRGBFromTheD50White) {
  // Lab as Photoshop stores it (L on 0..255, a and b offset by 128) and the
  // sRGB that littleCMS makes of it from a D50 Lab profile: the sRGB
  // primaries, grays, the straight part of the curve near black, and
  // colours outside sRGB, clamped.
  struct Case {
    const char* name;
    uint8_t l;
    int a;
    int b;
    uint8_t red, green, blue;
  };
  const Case cases[] = {
      {"white", 255, 0, 0, 255, 255, 255},       {"black", 0, 0, 0, 0, 0, 0},
      {"middle gray", 136, 0, 0, 127, 127, 127}, {"sRGB red", 138, 81, 70, 255, 0, 0},
      {"sRGB green", 224, -79, 81, 9, 255, 0},   {"sRGB blue", 75, 68, -112, 0, 1, 254},
      {"near black", 5, 0, 0, 7, 7, 7},          {"near black, coloured", 5, 20, -20, 28, 0, 38},
      {"dark green", 20, -60, 40, 0, 41, 0},     {"outside sRGB", 255, 127, -128, 255, 117, 255},
  };
  TColorManager cm;
  Configure(cm, {.source = CIELab, .target = RGB, .sourceOptions = {kLabByte, kLabOffset}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stored = {c.l, static_cast<uint8_t>(c.a + 128), static_cast<uint8_t>(c.b + 128)};
    const Bytes got = Convert(cm, stored.data(), 1, 0xFF, 3, 0);
    EXPECT_NEAR(got[0], c.red, 1);
    EXPECT_NEAR(got[1], c.green, 1);
    EXPECT_NEAR(got[2], c.blue, 1);
  }
}

// ---- every scheme at 8 and 16 bits under the interlace masks -----------------

struct SchemeCase {
  const char* name;
  ColorScheme source;
  ColorScheme target;
  int sourceSamples;  // stored per pixel
  TConversionOptions sourceOptions;
};

int TargetSamples(ColorScheme scheme) {
  switch (scheme) {
    case RGB:
    case BGR:
      return 3;
    case RGBA:
    case BGRA:
      return 4;
    default:
      return 1;
  }
}

bool KeepsTargetAlpha(const SchemeCase& s) {
  return TargetSamples(s.target) == 4 && !(s.source == RGBA || s.source == BGRA);
}

// A stored 16-bit sample whose 8-bit reading is v; the low byte carries noise
// that every reduction to 8 bits must ignore.
uint16_t Widen(const SchemeCase& s, size_t x, int sample, uint8_t v) {
  if (s.source == CIELab) {
    if (sample == 0 || s.sourceOptions.Contains(kLabOffset)) return static_cast<uint16_t>(v * 257);
    return static_cast<uint16_t>(static_cast<int8_t>(v) * 256);
  }
  const auto noise =
      v == 255 ? 0 : static_cast<int>((x * 31 + static_cast<size_t>(sample) * 7) % 257);
  return static_cast<uint16_t>(v * 257 + noise);
}

// Source samples of the pixels the mask writes, as stored, one list per plane
// or one interleaved list.
struct Stored {
  Bytes interleaved;
  std::vector<Bytes> planes;
};

Stored Encode(const std::vector<std::vector<uint8_t>>& pixels, const SchemeCase& s, int bits,
              bool bigEndian, uint8_t mask) {
  Stored out;
  out.planes.resize(static_cast<size_t>(s.sourceSamples));
  uint64_t bit = 0;
  for (size_t x = 0; x < pixels.size(); ++x) {
    if (!(mask & (0x80 >> (x % 8)))) continue;
    for (int i = 0; i < s.sourceSamples; ++i) {
      const uint8_t v = pixels[x][static_cast<size_t>(i)];
      Bytes stored;
      if (bits == 16) {
        const uint16_t w = Widen(s, x, i, v);
        stored = bigEndian ? Bytes{static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)}
                           : Bytes{static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)};
      } else if (bits == 8) {
        stored = {v};
      } else {
        const uint32_t value = v & ((1u << bits) - 1);
        for (int b = bits - 1; b >= 0; --b, ++bit) {
          if (bit % 8 == 0) out.interleaved.push_back(0);
          if (value & (1u << b)) out.interleaved.back() |= static_cast<uint8_t>(0x80 >> (bit % 8));
        }
        continue;
      }
      out.interleaved.insert(out.interleaved.end(), stored.begin(), stored.end());
      Bytes& plane = out.planes[static_cast<size_t>(i)];
      plane.insert(plane.end(), stored.begin(), stored.end());
    }
  }
  return out;
}

// Target pixel x: its bytes, or its packed value below 8 bits.
Bytes PixelAt(const Bytes& row, uint32_t x, int samples, int bits) {
  if (bits < 8) {
    uint32_t value = 0;
    for (uint64_t bit = uint64_t{x} * static_cast<uint32_t>(bits),
                  end = bit + static_cast<uint32_t>(bits);
         bit < end; ++bit) {
      value = value << 1 | ((row[bit / 8] >> (7 - bit % 8)) & 1);
    }
    return {static_cast<uint8_t>(value)};
  }
  const size_t size = static_cast<size_t>(samples * bits / 8);
  return Bytes(row.begin() + static_cast<ptrdiff_t>(x * size),
               row.begin() + static_cast<ptrdiff_t>((x + 1) * size));
}

TEST(ColorManager, ConvertsEverySchemeAt8And16BitsUnderTheInterlaceMasks) {
  const SchemeCase schemes[] = {
      {"Indexed", Indexed, Indexed, 1, kNone},
      {"Gray", Gray, Gray, 1, kNone},
      {"GrayAlpha", GrayAlpha, Gray, 2, kNone},
      {"RGB to BGR", RGB, BGR, 3, kNone},
      {"RGB to RGB", RGB, RGB, 3, kNone},
      {"RGB to BGRA", RGB, BGRA, 3, kNone},
      {"RGBA to BGRA", RGBA, BGRA, 4, kNone},
      {"RGBA to RGB", RGBA, RGB, 4, kNone},
      {"BGR to RGBA", BGR, RGBA, 3, kNone},
      {"BGRA to BGRA", BGRA, BGRA, 4, kNone},
      {"CMYK to BGR", CMYK, BGR, 4, kNone},
      {"CMYK to RGBA", CMYK, RGBA, 4, kNone},
      {"CIELab to BGR", CIELab, BGR, 3, kNone},
      {"CIELab offset to RGB", CIELab, RGB, 3, {kLabByte, kLabOffset}},
      {"YCbCr to BGR", YCbCr, BGR, 3, kNone},
      {"PhotoYCC to RGB", PhotoYCC, RGB, 3, kNone},
  };
  constexpr uint32_t kWidth = 37;
  std::mt19937 random(7);
  std::vector<std::vector<uint8_t>> pixels(kWidth, std::vector<uint8_t>(4));
  for (auto& p : pixels) {
    for (auto& v : p) v = static_cast<uint8_t>(random());
  }
  pixels[0] = {0, 0, 0, 0};
  pixels[1] = {255, 255, 255, 255};

  for (const SchemeCase& s : schemes) {
    const bool oneSample = s.source == Indexed || s.source == Gray;
    struct Depths {
      int source;
      int target;
      bool bigEndian;
    };
    std::vector<Depths> depths = {{8, 8, false}, {16, 8, false}, {16, 8, true}, {8, 16, false}};
    if (oneSample) {
      depths.insert(depths.end(), {{1, 1, false},
                                   {2, 2, false},
                                   {3, 3, false},
                                   {4, 4, false},
                                   {2, 4, false},
                                   {3, 4, false},
                                   {8, 4, false},
                                   {1, 8, false}});
      if (s.source == Indexed) depths.push_back({16, 16, true});
    }
    const int targetSamples = TargetSamples(s.target);
    Bytes reference8;  // the 8-bit to 8-bit row, every pixel written

    for (const Depths& d : depths) {
      TColorManager cm;
      Configure(
          cm, {.source = s.source,
               .target = s.target,
               .sourceBits = d.source,
               .targetBits = d.target,
               .sourceOptions = d.bigEndian ? TConversionOptions(s.sourceOptions).Include(kByteSwap)
                                            : s.sourceOptions});
      const size_t rowBytes =
          (uint64_t{kWidth} * static_cast<uint32_t>(targetSamples * d.target) + 7) / 8;
      const std::string where = std::string(s.name) + " " + std::to_string(d.source) + " to " +
                                std::to_string(d.target) + (d.bigEndian ? " big-endian" : "");
      const Stored all = Encode(pixels, s, d.source, d.bigEndian, 0xFF);
      const Bytes full = Convert(cm, all.interleaved.data(), kWidth, 0xFF, rowBytes, 0xA5);

      // The full row against the 8-bit one: reductions from 16 bits are exact
      // (CMYK's own 16-bit formula may differ by one), 16-bit targets are x 257.
      const size_t ts = static_cast<size_t>(targetSamples);
      if (d.source == 8 && d.target == 8) reference8 = full;
      for (size_t x = 0; x < kWidth && (d.source == 16 || d.target == 16); ++x) {
        for (size_t i = 0; i < ts; ++i) {
          const int expected = reference8[x * ts + i];
          if (d.target == 16) {
            const int value = full[(x * ts + i) * 2] | full[(x * ts + i) * 2 + 1] << 8;
            if (i == 3 && KeepsTargetAlpha(s)) {
              EXPECT_EQ(value, 0xA5A5) << where << " pixel " << x;
            } else if (d.source == 16) {
              EXPECT_EQ(value / 257, expected) << where << " pixel " << x << " sample " << i;
            } else {
              EXPECT_EQ(value, expected * 257) << where << " pixel " << x << " sample " << i;
            }
          } else {
            EXPECT_LE(std::abs(full[x * ts + i] - expected), s.source == CMYK ? 1 : 0)
                << where << " pixel " << x << " sample " << i;
          }
        }
      }
      // Narrow values: v * (2^t - 1) div (2^s - 1).
      if (oneSample && d.source <= 8 && d.target <= 8) {
        const uint32_t from = (1u << d.source) - 1, to = (1u << d.target) - 1;
        for (uint32_t x = 0; x < kWidth; ++x) {
          EXPECT_EQ(PixelAt(full, x, 1, d.target)[0], (pixels[x][0] & from) * to / from)
              << where << " pixel " << x;
        }
      }

      // Each pass writes exactly its columns, with the full row's values.
      for (uint8_t mask : kAdam7Masks) {
        const Stored stored = Encode(pixels, s, d.source, d.bigEndian, mask);
        std::vector<Bytes> outputs = {
            Convert(cm, stored.interleaved.data(), kWidth, mask, rowBytes, 0xA5)};
        if (s.sourceSamples >= 2) {
          std::vector<Bytes> planes = stored.planes;
          planes.resize(4);
          const TSampleSources lists(planes[0].data(), planes[1].data(),
                                     s.sourceSamples >= 3 ? planes[2].data() : nullptr,
                                     s.sourceSamples == 4 ? planes[3].data() : nullptr);
          outputs.push_back(Convert(cm, lists, kWidth, mask, rowBytes, 0xA5));
        }
        const Bytes untouched = Convert(cm, stored.interleaved.data(), kWidth, 0, rowBytes, 0xA5);
        for (size_t o = 0; o < outputs.size(); ++o) {
          for (uint32_t x = 0; x < kWidth; ++x) {
            const bool written = mask & (0x80 >> (x % 8));
            EXPECT_EQ(Hex(PixelAt(outputs[o], x, targetSamples, d.target)),
                      Hex(PixelAt(written ? full : untouched, x, targetSamples, d.target)))
                << where << (o ? " planar" : "") << " mask " << int{mask} << " pixel " << x;
          }
        }
      }
    }
  }
}

// ---- layouts -----------------------------------------------------------------

TEST(ColorManager, TargetLayoutFollowsSamplesAndBits) {
  const struct {
    int samples;
    int bits;
    PixelLayout layout;
  } cases[] = {
      {1, 1, PixelLayout::Bits1},      {1, 2, PixelLayout::Bits4},
      {1, 4, PixelLayout::Bits4},      {1, 5, PixelLayout::CustomBits},
      {1, 8, PixelLayout::Bits8},      {1, 16, PixelLayout::Bits8},
      {2, 8, PixelLayout::CustomBits}, {3, 1, PixelLayout::Bits15},
      {3, 5, PixelLayout::Bits15},     {3, 6, PixelLayout::Bits24},
      {3, 16, PixelLayout::Bits24},    {4, 4, PixelLayout::CustomBits},
      {4, 8, PixelLayout::Bits32},     {4, 16, PixelLayout::Bits32},
  };
  for (const auto& c : cases) {
    TColorManager cm;
    cm.SetTargetSamplesPerPixel(c.samples);
    cm.SetTargetBitsPerSample(c.bits);
    EXPECT_EQ(LayoutName(cm.TargetLayout()), LayoutName(c.layout)) << c.samples << " x " << c.bits;
    // The source side answers from its own settings.
    EXPECT_EQ(cm.TargetLayout(ColorSide::Source), PixelLayout::Bits24);
    cm.SetSourceSamplesPerPixel(c.samples);
    cm.SetSourceBitsPerSample(c.bits);
    EXPECT_EQ(LayoutName(cm.TargetLayout(ColorSide::Source)), LayoutName(c.layout));
  }
}

// ---- failures ------------------------------------------------------------------

TEST(ColorManager, FailuresCarryTheirMessagesAndChangeNothingElse) {
  uint8_t row[64] = {};
  const struct {
    const char* name;
    Config setup;
    std::function<void(TColorManager&)> action;
    const char* message;
  } cases[] = {
      {"source bits 0",
       {},
       [](TColorManager& cm) { cm.SetSourceBitsPerSample(0); },
       "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
      {"target bits 17",
       {},
       [](TColorManager& cm) { cm.SetTargetBitsPerSample(17); },
       "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
      {"source bits 257 (no wrap to 1)",
       {},
       [](TColorManager& cm) { cm.SetSourceBitsPerSample(257); },
       "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
      {"target bits -8",
       {},
       [](TColorManager& cm) { cm.SetTargetBitsPerSample(-8); },
       "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
      {"source samples 0",
       {},
       [](TColorManager& cm) { cm.SetSourceSamplesPerPixel(0); },
       "Sample count per pixel does not correspond to the given color scheme."},
      {"target samples 5",
       {},
       [](TColorManager& cm) { cm.SetTargetSamplesPerPixel(5); },
       "Sample count per pixel does not correspond to the given color scheme."},
      {"subsampling 3",
       {},
       [](TColorManager& cm) {
         const float k[] = {0.2f};
         cm.SetYCbCrParameters(k, 3, 1);
       },
       "Subsampling value is invalid. Allowed are 1, 2 and 4."},
      {"vertical subsampling 0",
       {},
       [](TColorManager& cm) { cm.SetYCbCrParameters({}, 2, 0); },
       "Subsampling value is invalid. Allowed are 1, 2 and 4."},
      {"vertical above horizontal",
       {},
       [](TColorManager& cm) {
         const float k[] = {0.2f, 0.7f, 0.1f};
         cm.SetYCbCrParameters(k, 2, 4);
       },
       "Vertical subsampling value must be <= horizontal subsampling value."},
      {"RGB to Indexed",
       {},
       [&](TColorManager& cm) {
         cm.SetTargetColorScheme(Indexed);
         cm.ConvertPixels(row, 1, 0xFF, std::span(row));
       },
       "Conversion between indexed and non-indexed pixel formats is not supported."},
      {"Gray to GrayAlpha",
       {},
       [&](TColorManager& cm) {
         cm.SetSourceColorScheme(Gray);
         cm.SetTargetColorScheme(GrayAlpha);
         cm.ConvertPixels(row, 1, 0xFF, std::span(row));
       },
       "Conversion between indexed and non-indexed pixel formats is not supported."},
      {"RGB to GrayAlpha",
       {},
       [&](TColorManager& cm) {
         cm.SetTargetColorScheme(GrayAlpha);
         cm.ConvertPixels(row, 1, 0xFF, std::span(row));
       },
       "Conversion between indexed and non-indexed pixel formats is not supported."},
      {"CMY has no routine",
       {},
       [&](TColorManager& cm) {
         cm.SetSourceColorScheme(CMY);
         cm.ConvertPixels(row, 1, 0xFF, std::span(row));
       },
       "Color conversion failed. Could not find a proper method."},
      {"RGB to CMYK",
       {},
       [&](TColorManager& cm) {
         cm.SetTargetColorScheme(CMYK);
         cm.ConvertPixels(row, 1, 0xFF, std::span(row));
       },
       "Color conversion failed. Could not find a proper method."},
      {"undefined source",
       {},
       [&](TColorManager& cm) {
         cm.SetSourceColorScheme(UndefinedScheme);
         cm.ConvertPixels(row, 1, 0xFF, std::span(row));
       },
       "Color conversion failed. Could not find a proper method."},
      {"5-bit RGB",
       {.sourceBits = 5},
       [&](TColorManager& cm) { cm.ConvertPixels(row, 1, 0xFF, std::span(row)); },
       "Color conversion failed. Could not find a proper method."},
      {"16-bit gray to 4 bits",
       {.source = Gray, .target = Gray, .sourceBits = 16, .targetBits = 4},
       [&](TColorManager& cm) { cm.ConvertPixels(row, 1, 0xFF, std::span(row)); },
       "Color conversion failed. Could not find a proper method."},
      {"12-bit indexed",
       {.source = Indexed, .target = Indexed, .sourceBits = 12},
       [&](TColorManager& cm) { cm.ConvertPixels(row, 1, 0xFF, std::span(row)); },
       "Color conversion failed. Could not find a proper method."},
      {"4-bit gray + alpha",
       {.source = GrayAlpha, .target = Gray, .sourceBits = 4, .targetBits = 4},
       [&](TColorManager& cm) { cm.ConvertPixels(row, 1, 0xFF, std::span(row)); },
       "Color conversion failed. Could not find a proper method."},
      {"planar RGBA to BGRA without an alpha list",
       {.source = RGBA, .target = BGRA},
       [&](TColorManager& cm) {
         cm.ConvertPixels({row, row, row}, 1, 0xFF, std::span(row));
       },
       "Color conversion failed. Could not find a proper method."},
      {"palette from planar lists given one address",
       {},
       [&](TColorManager& cm) { cm.MakeColorPalette(row, PaletteSourceFormat::Planar8, false, 1); },
       "Color conversion failed. Could not find a proper method."},
  };
  for (const auto& c : cases) {
    TColorManager cm;
    const float k[] = {0.25f, 0.5f, 0.25f};
    cm.SetYCbCrParameters(k, 2, 2);
    Configure(cm, c.setup);
    const int bits = cm.SourceBitsPerSample() * 100 + cm.TargetBitsPerSample();
    const int samples = cm.SourceSamplesPerPixel() * 100 + cm.TargetSamplesPerPixel();
    // Alpha follows the schemes whenever a routine is chosen.
    const uint8_t options = cm.SourceOptions().Exclude(kAlpha).Bits();
    EXPECT_EQ(FailureOf([&] { c.action(cm); }), c.message) << c.name;
    EXPECT_EQ(cm.SourceBitsPerSample() * 100 + cm.TargetBitsPerSample(), bits) << c.name;
    EXPECT_EQ(cm.SourceSamplesPerPixel() * 100 + cm.TargetSamplesPerPixel(), samples) << c.name;
    EXPECT_EQ(cm.SourceOptions().Exclude(kAlpha).Bits(), options) << c.name;
    EXPECT_EQ(cm.HorizontalSubsampling() * 10 + cm.VerticalSubsampling(), 22) << c.name;
    EXPECT_EQ(cm.YCbCrCoefficients()[0], 0.25f) << c.name;
  }
}

TEST(ColorManager, ATargetTooSmallForTheRowFailsBeforeAnythingIsWritten) {
  struct Case {
    const char* name;
    Config setup;
    uint32_t count;
    size_t neededBytes;  // the count's pixels at the target's bits, rounded up
  };
  const Case cases[] = {
      {"24-bit pixels", {}, 2, 6},
      {"packed 1-bit indices",
       {.source = Indexed, .target = Indexed, .sourceBits = 1, .targetBits = 1},
       9,
       2},
      {"16-bit samples with alpha", {.source = RGBA, .target = BGRA, .targetBits = 16}, 1, 8},
  };
  const Bytes source(64, 0x5A);
  for (const Case& c : cases) {
    TColorManager cm;
    Configure(cm, c.setup);
    Bytes target(c.neededBytes - 1, 0xEE);
    EXPECT_EQ(FailureOf([&] {
                cm.ConvertPixels(source.data(), c.count, 0xFF, std::span<uint8_t>(target));
              }),
              kTargetTooSmall)
        << c.name;
    EXPECT_EQ(target, Bytes(c.neededBytes - 1, 0xEE)) << c.name;
    target.assign(c.neededBytes, 0xEE);
    EXPECT_EQ(FailureOf([&] {
                cm.ConvertPixels(source.data(), c.count, 0xFF, std::span<uint8_t>(target));
              }),
              "no failure")
        << c.name;
    EXPECT_NE(target, Bytes(c.neededBytes, 0xEE)) << c.name;
  }
}

TEST(ColorManager, FailedSelectionIsRetriedAfterTheNextChange) {
  TColorManager cm;
  cm.SetSourceColorScheme(CMY);
  uint8_t row[8] = {1, 2, 3, 4};
  EXPECT_EQ(FailureOf([&] { cm.ConvertPixels(row, 1, 0xFF, std::span(row).subspan(4)); }),
            "Color conversion failed. Could not find a proper method.");
  // Still no routine: the failure is not forgotten by a second call.
  EXPECT_EQ(FailureOf([&] { cm.ConvertPixels(row, 1, 0xFF, std::span(row).subspan(4)); }),
            "Color conversion failed. Could not find a proper method.");
  cm.SetSourceColorScheme(RGBA);
  cm.SetTargetColorScheme(BGRA);
  cm.ConvertPixels(row, 1, 0xFF, std::span(row).subspan(4));
  EXPECT_EQ(Hex(Bytes(row + 4, row + 8)), "03 02 01 04");
  EXPECT_TRUE(cm.SourceOptions().Contains(kAlpha));
  EXPECT_TRUE(cm.TargetOptions().Contains(kAlpha));
  // Alpha follows the schemes both ways.
  cm.SetSourceColorScheme(RGB);
  cm.SetTargetOptions({kAlpha, kGamma});
  cm.SetTargetColorScheme(BGR);
  cm.ConvertPixels(row, 1, 0xFF, std::span(row).subspan(4));
  EXPECT_FALSE(cm.SourceOptions().Contains(kAlpha));
  EXPECT_EQ(cm.TargetOptions(), TConversionOptions(kGamma));
}

// ---- palettes -------------------------------------------------------------------

TEST(ColorManager, MakesColourPalettesFromEveryEntryFormat) {
  const Bytes triples{1, 2, 3, 4, 5, 6};
  const Bytes quads{1, 2, 3, 99, 4, 5, 6, 99};
  const Bytes reds{1, 4}, greens{2, 5}, blues{3, 6};
  // 16-bit little-endian, reading 1..6 after the reduction to 8 bits.
  auto wide = [](const Bytes& values, bool bigEndian) {
    Bytes out;
    for (uint8_t v : values) {
      if (v == 99) {
        out.insert(out.end(), {0xAB, 0xCD});
        continue;
      }
      const auto w = static_cast<uint16_t>(v * 257 + 100);
      if (bigEndian) {
        out.insert(out.end(), {static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)});
      } else {
        out.insert(out.end(), {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)});
      }
    }
    return out;
  };
  const Bytes triples16 = wide(triples, false), quads16 = wide(quads, false);
  const Bytes reds16 = wide(reds, true), greens16 = wide(greens, true), blues16 = wide(blues, true);
  using F = PaletteSourceFormat;
  const struct {
    const char* name;
    TSampleSources sources;
    F format;
    bool reversed;
    bool byteSwap;
    std::string expected;
  } cases[] = {
      {"8-bit triples", triples.data(), F::Interleaved8, false, false, "1,2,3 4,5,6"},
      {"8-bit triples reversed", triples.data(), F::Interleaved8, true, false, "3,2,1 6,5,4"},
      {"8-bit quads", quads.data(), F::Interleaved8Quads, false, false, "1,2,3 4,5,6"},
      {"8-bit quads reversed", quads.data(), F::Interleaved8Quads, true, false, "3,2,1 6,5,4"},
      {"planar 8-bit",
       {reds.data(), greens.data(), blues.data()},
       F::Planar8,
       true,
       false,
       "1,2,3 4,5,6"},
      {"planar 8-bit lists",
       {reds.data(), greens.data(), blues.data()},
       F::Planar8Lists,
       false,
       false,
       "1,2,3 4,5,6"},
      {"16-bit triples", triples16.data(), F::Interleaved16, false, false, "1,2,3 4,5,6"},
      {"16-bit quads reversed", quads16.data(), F::Interleaved16Quads, true, false, "3,2,1 6,5,4"},
      {"planar big-endian 16-bit",
       {reds16.data(), greens16.data(), blues16.data()},
       F::Planar16,
       false,
       true,
       "1,2,3 4,5,6"},
      {"planar big-endian 16-bit lists",
       {reds16.data(), greens16.data(), blues16.data()},
       F::Planar16Lists,
       false,
       true,
       "1,2,3 4,5,6"},
  };
  for (const auto& c : cases) {
    TColorManager cm;
    Configure(cm, {.source = Indexed,
                   .target = Indexed,
                   .sourceOptions = c.byteSwap ? TConversionOptions(kByteSwap) : kNone});
    EXPECT_EQ(Colours(cm.MakeColorPalette(c.sources, c.format, c.reversed, 2)), c.expected)
        << c.name;
  }
}

TEST(ColorManager, ColourPalettesTakeGammaAndAtMost256EntriesAndSpread) {
  Bytes map(3 * 300);
  for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint8_t>(i / 3);
  TColorManager cm;
  Configure(cm, {.source = Indexed, .target = Indexed});
  EXPECT_EQ(cm.MakeColorPalette(map.data(), PaletteSourceFormat::Interleaved8, false, 300).size(),
            256u);
  EXPECT_TRUE(cm.MakeColorPalette(map.data(), PaletteSourceFormat::Interleaved8, false, 0).empty());

  const Bytes grays{0, 0, 0, 128, 128, 128, 255, 255, 255};
  cm.SetGamma(1.0f);
  EXPECT_EQ(Colours(cm.MakeColorPalette(grays.data(), PaletteSourceFormat::Interleaved8, false, 3)),
            "0,0,0 128,128,128 255,255,255");
  cm.SetTargetOptions(kGamma);
  EXPECT_EQ(Colours(cm.MakeColorPalette(grays.data(), PaletteSourceFormat::Interleaved8, false, 3)),
            "0,0,0 186,186,186 255,255,255");

  // 1-bit indices shown through an 8-bit target: values 0 and 1 become 0 and
  // 255, so entry 255 holds colour 1 and the rest colour 0.
  Configure(cm, {.source = Indexed, .target = Indexed, .sourceBits = 1, .targetBits = 8});
  const TPalette wide =
      cm.MakeColorPalette(grays.data() + 3, PaletteSourceFormat::Interleaved8, false, 2);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(Colours({wide[0], wide[254], wide[255]}), "128,128,128 128,128,128 255,255,255");

  // 8-bit indices reduced to 4 bits: entry j takes colour 17 j.
  Configure(cm, {.source = Indexed, .target = Indexed, .targetBits = 4});
  const TPalette narrow =
      cm.MakeColorPalette(map.data(), PaletteSourceFormat::Interleaved8, false, 256);
  ASSERT_EQ(narrow.size(), 16u);
  EXPECT_EQ(Colours({narrow[1], narrow[15]}), "17,17,17 255,255,255");
  // Entries whose source entry is missing are black.
  EXPECT_EQ(
      Colours({cm.MakeColorPalette(map.data(), PaletteSourceFormat::Interleaved8, false, 20)[2]}),
      "0,0,0");

  // 16-bit indices reduced to 8 bits read source entry 257 j of the map.
  std::vector<uint16_t> reds(65536), zeros(65536);
  for (size_t i = 0; i < reds.size(); ++i)
    reds[i] = static_cast<uint16_t>(i % 257 == 0 ? 0xFFFF : 0);
  Configure(cm, {.source = Indexed, .target = Indexed, .sourceBits = 16});
  const TPalette sixteen = cm.MakeColorPalette({reds.data(), zeros.data(), zeros.data()},
                                               PaletteSourceFormat::Planar16, false, 65536);
  ASSERT_EQ(sixteen.size(), 256u);
  EXPECT_EQ(Colours({sixteen[0], sixteen[100], sixteen[255]}), "255,0,0 255,0,0 255,0,0");
}

TEST(ColorManager, MakesGrayRamps) {
  const struct {
    int bits;
    int samples;
    bool minimumIsWhite;
    bool gamma;
    size_t count;
    std::string firstThreeAndLast;
  } cases[] = {
      {8, 1, false, false, 256, "0,0,0 1,1,1 2,2,2 255,255,255"},
      {8, 1, true, false, 256, "255,255,255 254,254,254 253,253,253 0,0,0"},
      {16, 1, false, false, 256, "0,0,0 1,1,1 2,2,2 255,255,255"},
      {4, 1, false, false, 16, "0,0,0 17,17,17 34,34,34 255,255,255"},
      {3, 1, false, false, 8, "0,0,0 36,36,36 72,72,72 252,252,252"},
      {4, 2, false, false, 256, "0,0,0 1,1,1 2,2,2 255,255,255"},
      {2, 1, false, true, 4, "0,0,0 155,155,155 212,212,212 255,255,255"},
      {1, 1, true, false, 2, "255,255,255 0,0,0 255,255,255 0,0,0"},
  };
  for (const auto& c : cases) {
    TColorManager cm;
    cm.SetTargetBitsPerSample(c.bits);
    cm.SetTargetSamplesPerPixel(c.samples);
    cm.SetGamma(1.0f);
    if (c.gamma) cm.SetTargetOptions(kGamma);
    const TPalette p = cm.MakeGrayPalette(c.minimumIsWhite);
    ASSERT_EQ(p.size(), c.count) << c.bits;
    EXPECT_EQ(Colours({p[0], p[1 % p.size()], p[2 % p.size()], p.back()}), c.firstThreeAndLast)
        << c.bits << " bits x " << c.samples;
  }
}

// ---- gamma and YCbCr set-up -----------------------------------------------------

TEST(ColorManager, GammaTable) {
  TColorManager cm;
  // Default 1.0 x 2.2: brightened by the power 1 / 2.2.
  EXPECT_EQ(cm.GammaTable()[0], 0);
  EXPECT_EQ(cm.GammaTable()[1], 21);
  EXPECT_EQ(cm.GammaTable()[64], 136);
  EXPECT_EQ(cm.GammaTable()[128], 186);
  EXPECT_EQ(cm.GammaTable()[255], 255);
  const auto brightened = cm.GammaTable();

  cm.SetGamma(1.0f / 2.2f);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(cm.GammaTable()[static_cast<size_t>(i)], i);

  // Values not above 0 fall back to 1 and 2.2; NaN too.
  cm.SetGamma(0.0f, -1.0f);
  EXPECT_EQ(cm.MainGamma(), 1.0f);
  EXPECT_EQ(cm.DisplayGamma(), 2.2f);
  EXPECT_EQ(cm.GammaTable(), brightened);
  cm.SetGamma(std::nanf(""), std::nanf(""));
  EXPECT_EQ(cm.GammaTable(), brightened);

  // A darkening table (0.2 x 2.2 is below 1) and the table's independence
  // of later depth changes.
  cm.SetGamma(0.2f, 2.2f);
  const auto dark = cm.GammaTable();
  EXPECT_EQ(dark[128], 53);
  cm.SetSourceBitsPerSample(2);
  cm.SetTargetBitsPerSample(4);
  EXPECT_EQ(cm.GammaTable(), dark);
}

TEST(ColorManager, YCbCrParameters) {
  TColorManager cm;
  Configure(cm, {.source = YCbCr, .target = RGB});
  const Bytes red{0, 128, 255};
  EXPECT_EQ(Hex(Convert(cm, red.data(), 1, 0xFF, 3, 0)), "b2 00 00");  // 178

  // Coefficients replace the defaults in order; the tables follow.
  const float bt709[] = {0.2126f, 0.7152f, 0.0722f};
  cm.SetYCbCrParameters(bt709, 2, 1);
  EXPECT_EQ(cm.HorizontalSubsampling(), 2);
  EXPECT_EQ(cm.VerticalSubsampling(), 1);
  EXPECT_EQ(Hex(Convert(cm, red.data(), 1, 0xFF, 3, 0)), "c8 00 00");  // 200
  const float redOnly[] = {0.299f};
  cm.SetYCbCrParameters(redOnly, 4, 4);
  EXPECT_EQ(cm.YCbCrCoefficients()[1], 0.7152f);
  EXPECT_EQ(Hex(Convert(cm, red.data(), 1, 0xFF, 3, 0)), "b2 00 00");

  // Degenerate coefficients saturate instead of overflowing.
  const float zeros[] = {0.0f, 0.0f, 0.0f};
  cm.SetYCbCrParameters(zeros, 1, 1);
  const Bytes sample{100, 0, 255};
  EXPECT_EQ(Hex(Convert(cm, sample.data(), 1, 0xFF, 3, 0)), "ff 64 00");
}

}  // namespace
}  // namespace quorvex
