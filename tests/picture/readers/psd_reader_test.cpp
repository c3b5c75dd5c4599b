#include "picture/readers/psd_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/readers/reader_test_support.h"
#include "picture/stream.h"
#include "support/run_length_encoders.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kPsdMessage =
    "Cannot load image. Invalid or unexpected PSD or PDD image format.";

void PutU16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void PutU32(Bytes& out, uint32_t v) {
  PutU16(out, v >> 16);
  PutU16(out, v & 0xFFFF);
}

// A Photoshop file built in memory. `planes` holds each channel's rows one
// after another (rowBytes each); run-length files pack every row of them.
struct Psd {
  std::string signature = "8BPS";
  uint16_t version = 1;
  uint16_t channels = 3;
  uint32_t width = 2;
  uint32_t height = 1;
  uint16_t depth = 8;
  uint16_t mode = 3;
  Bytes colorData = {};
  Bytes resources = {};
  Bytes layers = {};
  uint16_t compression = 0;
  std::vector<Bytes> planes = {};

  size_t RowBytes() const { return (size_t{width} * depth + 7) / 8; }

  Bytes File() const {
    Bytes out(signature.begin(), signature.end());
    PutU16(out, version);
    out.insert(out.end(), 6, 0);
    PutU16(out, channels);
    PutU32(out, height);
    PutU32(out, width);
    PutU16(out, depth);
    PutU16(out, mode);
    for (const Bytes* section : {&colorData, &resources, &layers}) {
      PutU32(out, static_cast<uint32_t>(section->size()));
      out.insert(out.end(), section->begin(), section->end());
    }
    PutU16(out, compression);
    if (compression != 1) {
      for (const Bytes& plane : planes) out.insert(out.end(), plane.begin(), plane.end());
      return out;
    }
    Bytes packed;
    const size_t rowBytes = RowBytes();
    for (const Bytes& plane : planes) {
      for (size_t at = 0; at + rowBytes <= plane.size(); at += rowBytes) {
        const Bytes row =
            test::EncodePackBits(Bytes(plane.begin() + static_cast<std::ptrdiff_t>(at),
                                       plane.begin() + static_cast<std::ptrdiff_t>(at + rowBytes)));
        PutU16(out, static_cast<uint32_t>(row.size()));
        packed.insert(packed.end(), row.begin(), row.end());
      }
    }
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
  }
};

// Loads through a memory stream that starts with a few foreign bytes, so
// that every offset must be taken from the reader's start position.
void LoadPsd(const Bytes& file, TPSDGraphic& bitmap) {
  Bytes prefixed = {0xAA, 0xBB, 0xCC};
  prefixed.insert(prefixed.end(), file.begin(), file.end());
  TMemoryStream stream(prefixed);
  stream.Seek(3);
  bitmap.ReadFromStream(stream);
}

Bytes Rgb(const test::RgbPicture& picture) {
  return picture.rgb;
}

// ---- content test -----------------------------------------------------

TEST(PSDContentTest, AsksSignatureWithoutCaseAndVersionOne) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool accepted;
  };
  Bytes valid = Psd{}.File();
  Bytes lower = Psd{.signature = "8bps"}.File();
  Bytes mixed = Psd{.signature = "8bPs"}.File();
  Bytes other = Psd{.signature = "8BPX"}.File();
  Bytes version2 = Psd{.version = 2}.File();
  Bytes exact(valid.begin(), valid.begin() + 26);
  Bytes oneMore(valid.begin(), valid.begin() + 27);
  const Case cases[] = {
      {"a whole file", valid, true},
      {"lower-case signature", lower, true},
      {"mixed-case signature", mixed, true},
      {"other signature", other, false},
      {"version 2 (large document)", version2, false},
      {"exactly the header", exact, false},
      {"one byte more than the header", oneMore, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes prefixed = {1, 2};
    prefixed.insert(prefixed.end(), c.bytes.begin(), c.bytes.end());
    TMemoryStream stream(prefixed);
    stream.Seek(2);
    EXPECT_EQ(TPSDGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 2);
  }
}

TEST(PSDHeaderInfo, RecordsTheHeaderFacts) {
  struct Case {
    const char* name;
    Psd psd;
    ColorScheme scheme;
    uint8_t samples;
    CompressionKind compression;
    uint32_t options;
  };
  const Case cases[] = {
      {"bitmap",
       {.channels = 1, .depth = 1, .mode = 0},
       ColorScheme::Gray,
       1,
       CompressionKind::NoCompression,
       kPSDMinimumIsWhite},
      {"grayscale",
       {.channels = 1, .mode = 1},
       ColorScheme::Gray,
       1,
       CompressionKind::NoCompression,
       0},
      {"indexed",
       {.channels = 1, .mode = 2},
       ColorScheme::Indexed,
       1,
       CompressionKind::NoCompression,
       0},
      {"rgb", {.compression = 1}, ColorScheme::RGB, 3, CompressionKind::PackBits, 0},
      {"rgb + alpha", {.channels = 4}, ColorScheme::RGBA, 4, CompressionKind::NoCompression, 0},
      {"cmyk", {.channels = 5, .mode = 4}, ColorScheme::CMYK, 4, CompressionKind::NoCompression, 0},
      {"multichannel",
       {.channels = 3, .mode = 7},
       ColorScheme::RGB,
       3,
       CompressionKind::NoCompression,
       0},
      {"duotone",
       {.channels = 1, .mode = 8},
       ColorScheme::Gray,
       1,
       CompressionKind::NoCompression,
       0},
      {"lab",
       {.mode = 9, .compression = 7},
       ColorScheme::CIELab,
       3,
       CompressionKind::NoCompression,
       0},
      {"hsb", {.mode = 5}, ColorScheme::UndefinedScheme, 3, CompressionKind::NoCompression, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream(c.psd.File());
    TPSDGraphic reader;
    ASSERT_TRUE(reader.ReadHeaderInfo(stream, 0));
    const TImageProperties& p = reader.ImageProperties();
    EXPECT_EQ(p.colorScheme, c.scheme);
    EXPECT_EQ(p.samplesPerPixel, c.samples);
    EXPECT_EQ(p.compression, c.compression);
    EXPECT_EQ(p.options, c.options);
    EXPECT_EQ(p.width, int32_t(c.psd.width));
    EXPECT_EQ(p.bitsPerSample, c.psd.depth);
  }
  TMemoryStream lower(Psd{.signature = "8bps"}.File());
  TPSDGraphic reader;
  EXPECT_FALSE(reader.ReadHeaderInfo(lower, 0));
}

// ---- loading ----------------------------------------------------------

struct LoadCase {
  const char* name;
  Psd psd;
  PixelLayout layout;
  uint32_t width;
  uint32_t height;
  Bytes rgb;  // expected colours, top row first
  int tolerance = 0;
};

TEST(PSDReader, LoadsTheMergedImageOfEveryColourMode) {
  const Bytes palette = [] {
    Bytes lists(768, 0);
    lists[0] = 10, lists[256] = 20, lists[512] = 30;  // entry 0
    lists[1] = 200, lists[257] = 0, lists[513] = 50;  // entry 1
    lists[255] = 1, lists[511] = 2, lists[767] = 3;   // entry 255
    return lists;
  }();
  // A layer record whose pixels (all 9) differ from the merged image.
  const Bytes layerSection = [] {
    Bytes s;
    PutU32(s, 60);
    PutU16(s, 1);
    for (int i = 0; i < 58; ++i) s.push_back(9);
    return s;
  }();
  const LoadCase cases[] = {
      {"gray raw",
       {.channels = 1, .width = 3, .height = 2, .mode = 1, .planes = {{0, 128, 255, 1, 2, 3}}},
       PixelLayout::Bits8,
       3,
       2,
       {0, 0, 0, 128, 128, 128, 255, 255, 255, 1, 1, 1, 2, 2, 2, 3, 3, 3}},
      {"gray run-length",
       {.channels = 1,
        .width = 5,
        .height = 2,
        .mode = 1,
        .compression = 1,
        .planes = {{7, 7, 7, 7, 1, 4, 5, 6, 6, 6}}},
       PixelLayout::Bits8,
       5,
       2,
       {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 1, 1, 1, 4, 4, 4, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6}},
      {"duotone passes over its colour data",
       {.channels = 1,
        .width = 2,
        .mode = 8,
        .colorData = Bytes(40, 0x55),
        .compression = 1,
        .planes = {{60, 61}}},
       PixelLayout::Bits8,
       2,
       1,
       {60, 60, 60, 61, 61, 61}},
      {"gray with an extra channel shows the first",
       {.channels = 2, .width = 2, .mode = 1, .planes = {{5, 6}, {0, 0}}},
       PixelLayout::Bits8,
       2,
       1,
       {5, 5, 5, 6, 6, 6}},
      {"indexed takes the planar palette",
       {.channels = 1, .width = 3, .mode = 2, .colorData = palette, .planes = {{1, 0, 255}}},
       PixelLayout::Bits8,
       3,
       1,
       {200, 0, 50, 10, 20, 30, 1, 2, 3}},
      {"bitmap mode: set bits are black",
       {.channels = 1,
        .width = 10,
        .height = 2,
        .depth = 1,
        .mode = 0,
        .planes = {{0x81, 0x40, 0x00, 0xFF}}},
       PixelLayout::Bits1,
       10,
       2,
       [] {
         Bytes rgb;
         const int bits[20] = {1, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1};
         for (int b : bits) rgb.insert(rgb.end(), 3, b ? 0 : 255);
         return rgb;
       }()},
      {"16-bit gray keeps the high byte",
       {.channels = 1,
        .width = 3,
        .depth = 16,
        .mode = 1,
        .planes = {{0xFF, 0xFF, 0x80, 0x80, 0, 0}}},
       PixelLayout::Bits8,
       3,
       1,
       {255, 255, 255, 128, 128, 128, 0, 0, 0}},
      {"rgb raw",
       {.width = 2, .planes = {{1, 2}, {3, 4}, {5, 6}}},
       PixelLayout::Bits24,
       2,
       1,
       {1, 3, 5, 2, 4, 6}},
      {"layered rgb shows the merged image",
       {.width = 3,
        .layers = layerSection,
        .compression = 1,
        .planes = {{10, 10, 10}, {20, 21, 22}, {30, 30, 31}}},
       PixelLayout::Bits24,
       3,
       1,
       {10, 20, 30, 10, 21, 30, 10, 22, 31}},
      {"16-bit rgb run-length: byte counts are bytes",
       {.width = 2,
        .depth = 16,
        .compression = 1,
        .planes = {{0xFF, 0xFF, 0xFF, 0xFF}, {0x40, 0x40, 0x40, 0x40}, {0, 0, 0, 0}}},
       PixelLayout::Bits24,
       2,
       1,
       {255, 64, 0, 255, 64, 0}},
      {"cmyk: no ink is white, full black ink is black",
       {.channels = 4,
        .width = 3,
        .mode = 4,
        .planes = {{255, 255, 0}, {255, 255, 255}, {255, 255, 255}, {255, 0, 255}}},
       PixelLayout::Bits24,
       3,
       1,
       {255, 255, 255, 0, 0, 0, 0, 255, 255}},
      {"cmyk with a spot channel, run-length",
       {.channels = 5,
        .width = 2,
        .mode = 4,
        .compression = 1,
        .planes = {{255, 255}, {255, 0}, {255, 255}, {255, 255}, {0, 0}}},
       PixelLayout::Bits24,
       2,
       1,
       {255, 255, 255, 255, 0, 255}},
      {"rgb + alpha",
       {.channels = 4, .width = 2, .planes = {{1, 2}, {3, 4}, {5, 6}, {0, 255}}},
       PixelLayout::Bits32,
       2,
       1,
       {1, 3, 5, 2, 4, 6}},
      {"five multichannel planes show the first four",
       {.channels = 5,
        .width = 2,
        .mode = 7,
        .compression = 1,
        .planes = {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 9}}},
       PixelLayout::Bits32,
       2,
       1,
       {1, 3, 5, 2, 4, 6}},
      {"lab: full lightness is white, none is black",
       {.width = 2, .mode = 9, .planes = {{255, 0}, {128, 128}, {128, 128}}},
       PixelLayout::Bits24,
       2,
       1,
       {255, 255, 255, 0, 0, 0},
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPSDGraphic bitmap;
    LoadPsd(c.psd.File(), bitmap);
    EXPECT_EQ(bitmap.Layout(), c.layout);
    ASSERT_EQ(bitmap.ImageWidth(), int32_t(c.width));
    ASSERT_EQ(bitmap.ImageHeight(), int32_t(c.height));
    test::RgbPicture expected{int32_t(c.width), int32_t(c.height), c.rgb};
    EXPECT_EQ(test::ComparePictures(expected, test::BitmapPixels(bitmap), c.tolerance), "");
    if (c.layout == PixelLayout::Bits24 || c.layout == PixelLayout::Bits32) {
      // No palette of the reader's own: it would go into every BMP written.
      TBitmap fresh;
      fresh.SetLayout(c.layout);
      EXPECT_EQ(bitmap.QueryPalette(), fresh.QueryPalette());
    }
  }
}

TEST(PSDReader, FourthChannelLandsInTheFourthByte) {
  TPSDGraphic bitmap;
  LoadPsd(
      Psd{.channels = 5, .width = 2, .mode = 7, .planes = {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 9}}}
          .File(),
      bitmap);
  ASSERT_EQ(bitmap.Layout(), PixelLayout::Bits32);
  const uint8_t* row = bitmap.RowAddress(0);
  EXPECT_EQ(Bytes(row, row + 8), (Bytes{5, 3, 1, 7, 6, 4, 2, 8}));
}

TEST(PSDReader, RunLengthRowsStayInTheirRows) {
  // Row 0's runs make 5 bytes for a width of 3, row 1's only one: neither
  // may move the other, and the missing samples read as 0.
  // No planes: the header, the sections and the compression value only.
  Bytes file = Psd{.channels = 1, .width = 3, .height = 3, .mode = 1, .compression = 1}.File();
  const Bytes table = {0, 3, 0, 2, 0, 2};
  const Bytes data = {0xFC, 9, 0x80, /* row 1 */ 0x00, 4, /* row 2 */ 0xFE, 6};
  file.insert(file.end(), table.begin(), table.end());
  file.insert(file.end(), data.begin(), data.end());
  TPSDGraphic bitmap;
  LoadPsd(file, bitmap);
  const auto pixels = test::BitmapPixels(bitmap);
  const Bytes gray = [&] {
    Bytes g;
    for (size_t i = 0; i < pixels.rgb.size(); i += 3) g.push_back(pixels.rgb[i]);
    return g;
  }();
  EXPECT_EQ(gray, (Bytes{9, 9, 9, 4, 0, 0, 6, 6, 6}));
}

struct FailCase {
  const char* name;
  Bytes file;
  std::function<bool(const Exception&)> isExpectedKind;
  std::string message;  // empty: any message
};

template <typename E>
std::function<bool(const Exception&)> Kind() {
  return [](const Exception& e) { return dynamic_cast<const E*>(&e) != nullptr; };
}

TEST(PSDReader, FailsWithTheKnownMessages) {
  const Bytes rgb =
      Psd{.width = 2, .height = 2, .planes = {Bytes(4, 1), Bytes(4, 2), Bytes(4, 3)}}.File();
  const Bytes rle = Psd{.width = 2,
                        .height = 2,
                        .compression = 1,
                        .planes = {Bytes(4, 1), Bytes(4, 2), Bytes(4, 3)}}
                        .File();
  auto truncated = [](const Bytes& b, size_t drop) {
    return Bytes(b.begin(), b.end() - static_cast<std::ptrdiff_t>(drop));
  };
  auto withLength = [](Bytes b, size_t at, uint32_t length) {
    b[at] = static_cast<uint8_t>(length >> 24);
    b[at + 1] = static_cast<uint8_t>(length >> 16);
    b[at + 2] = static_cast<uint8_t>(length >> 8);
    b[at + 3] = static_cast<uint8_t>(length);
    return b;
  };
  const FailCase cases[] = {
      {"signature in lower case",
       Psd{.signature = "8bps", .planes = {{1, 1}, {2, 2}, {3, 3}}}.File(), Kind<EInvalidGraphic>(),
       kPsdMessage},
      {"other signature", Psd{.signature = "MZ\x90\x00"}.File(), Kind<EInvalidGraphic>(),
       kPsdMessage},
      {"shorter than the header", Bytes(rgb.begin(), rgb.begin() + 20), Kind<EReadError>(),
       "Stream read error"},
      {"layer section longer than the file", withLength(rgb, 34, 0xFFFFFF00u), Kind<EReadError>(),
       "Stream read error"},
      {"indexed palette longer than the file",
       withLength(Psd{.channels = 1, .mode = 2, .planes = {{0, 0}}}.File(), 26, 0xFFFFFFF0u),
       Kind<EReadError>(), "Stream read error"},
      {"raw data cut short", truncated(rgb, 1), Kind<EReadError>(), "Stream read error"},
      {"run-length data cut short", truncated(rle, 1), Kind<EReadError>(), "Stream read error"},
      {"byte-count table beyond the file",
       Psd{.channels = 56, .width = 1, .height = 100000, .compression = 1}.File(),
       Kind<EReadError>(), "Stream read error"},
      {"zip compression", Psd{.compression = 2, .planes = {{1, 1}, {2, 2}, {3, 3}}}.File(),
       Kind<EInvalidGraphic>(), kPsdMessage},
      {"compression 65535", Psd{.compression = 0xFFFF, .planes = {{1, 1}, {2, 2}, {3, 3}}}.File(),
       Kind<EInvalidGraphic>(), kPsdMessage},
      {"large document (version 2)", Psd{.version = 2, .planes = {{1, 1}, {2, 2}, {3, 3}}}.File(),
       Kind<EInvalidGraphic>(), kPsdMessage},
      {"zero width", Psd{.width = 0}.File(), Kind<EInvalidGraphic>(), kPsdMessage},
      {"zero channels", Psd{.channels = 0}.File(), Kind<EInvalidGraphic>(), kPsdMessage},
      {"width beyond the signed range", Psd{.width = 0x80000000u}.File(), Kind<EInvalidGraphic>(),
       kPsdMessage},
      {"huge picture", Psd{.width = 1u << 20, .height = 1u << 20}.File(), Kind<EOutOfResources>(),
       ""},
      {"32-bit channels", Psd{.depth = 32}.File(), Kind<EColorConversionError>(),
       kColorDepthInvalid},
      {"rgb of 1-bit channels", Psd{.depth = 1}.File(), Kind<EColorConversionError>(),
       kColorDepthInvalid},
      {"hsb colour mode", Psd{.mode = 5, .planes = {{1, 1}, {2, 2}, {3, 3}}}.File(),
       Kind<EColorConversionError>(), kNoConversionMethod},
      {"rgb with two channels", Psd{.channels = 2, .planes = {{1, 1}, {2, 2}}}.File(),
       Kind<EColorConversionError>(), kSampleCountInvalid},
      {"cmyk with three channels", Psd{.mode = 4, .planes = {{1, 1}, {2, 2}, {3, 3}}}.File(),
       Kind<EColorConversionError>(), kSampleCountInvalid},
  };
  test::ExpectEveryCaseFails(
      cases,
      [](const Bytes& file) {
        TPSDGraphic bitmap;
        LoadPsd(file, bitmap);
      },
      [](const auto& c, const Exception& e) { EXPECT_TRUE(c.isExpectedKind(e)) << e.Message(); });
}

TEST(PSDLoading, ContentDecidesOverTheName) {
  const Bytes file = Psd{.width = 2, .planes = {{1, 2}, {3, 4}, {5, 6}}}.File();
  for (const char* name : {"a.psd", "a.pdd", "a.png", "a.bmp"}) {
    SCOPED_TRACE(name);
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    LoadPictureFromMemory(file.data(), file.size(), name, picture, working);
    EXPECT_EQ(working->Layout(), PixelLayout::Bits24);
    EXPECT_EQ(Rgb(test::BitmapPixels(*working)), (Bytes{1, 3, 5, 2, 4, 6}));
  }
}

// ---- real files -------------------------------------------------------

TEST(PSDFiles, EveryFileLoadsLikePillowOrFailsWithTheMessage) {
  struct Outcome {
    PixelLayout layout;
    std::string error;  // empty: loads
  };
  // five_channels.psd holds five channels only in its layers; the merged
  // image has three. combined_larger_than_size.psd announces a layer
  // section far longer than the file.
  const std::map<std::string, Outcome> outcomes = {
      {"hopper.psd", {PixelLayout::Bits24, ""}},
      {"rgba.psd", {PixelLayout::Bits32, ""}},
      {"five_channels.psd", {PixelLayout::Bits24, ""}},
      {"combined_larger_than_size.psd", {PixelLayout::DeviceBitmap, "Stream read error"}},
  };
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("psd"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++seen;
    ASSERT_TRUE(outcomes.count(name)) << "unexpected file";
    const Outcome& expected = outcomes.at(name);
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    if (!expected.error.empty()) {
      try {
        LoadPicture(entry.path().string(), picture, working);
        ADD_FAILURE() << "loaded";
      } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), expected.error);
      }
      continue;
    }
    LoadPicture(entry.path().string(), picture, working);
    EXPECT_EQ(working->Layout(), expected.layout);
    test::ExpectReferencePixels(entry.path().string(), *working);
  }
  EXPECT_EQ(seen, outcomes.size());
}

TEST(PSDFiles, MalformedFilesGiveAnErrorOrAPicture) {
  // What each file gives; none may crash, hang or allocate without bound.
  const std::map<std::string, std::string> outcomes = {
      {"negative_layer_count.psd", "loads"},
      {"negative_top_left_layer.psd", "loads"},
      {"psd-oob-write-overflow.psd", "loads"},
      {"psd-oob-write-x.psd", "loads"},
      {"psd-oob-write-y.psd", "loads"},
      {"psd-oob-write.psd", "loads"},
      {"timeout-1ee28a249896e05b83840ae8140622de8e648ba9.psd", kPsdMessage},
      {"timeout-598843abc37fc080ec36a2699ebbd44f795d3a6f.psd", kPsdMessage},
      {"timeout-c8efc3fded6426986ba867a399791bae544f59bc.psd", kPsdMessage},
      {"timeout-dedc7a4ebd856d79b4359bbcc79e8ef231ce38f6.psd", "loads"},
  };
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("malformed/psd"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++seen;
    std::string outcome = "loads";
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    try {
      LoadPicture(entry.path().string(), picture, working);
    } catch (const Exception& e) {
      outcome = e.Message();
    }
    ASSERT_TRUE(outcomes.count(name)) << "unexpected file, " << outcome;
    EXPECT_EQ(outcome, outcomes.at(name));
  }
  EXPECT_EQ(seen, outcomes.size());
}

}  // namespace
}  // namespace quorvex
