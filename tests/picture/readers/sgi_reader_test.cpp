#include "picture/readers/sgi_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
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
using test::Row;

const auto Load = &test::LoadBytes<TSGIGraphic>;

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

void Append32(Bytes& b, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
}

// Run-length code of one row of `unit`-byte samples: runs of three or more
// equal samples as run packets, the rest as literal packets, then the end
// mark. Packet headers take one unit, as the format has it.
Bytes EncodeRow(const Bytes& row, size_t unit) {
  Bytes out;
  auto header = [&](uint8_t value) {
    if (unit == 2) out.push_back(0);
    out.push_back(value);
  };
  const size_t n = row.size() / unit;
  auto same = [&](size_t a, size_t b) {
    return std::equal(row.begin() + a * unit, row.begin() + (a + 1) * unit, row.begin() + b * unit);
  };
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 127 && same(i, i + run)) ++run;
    if (run >= 3) {
      header(static_cast<uint8_t>(run));
      out.insert(out.end(), row.begin() + i * unit, row.begin() + (i + 1) * unit);
      i += run;
      continue;
    }
    size_t literal = 0;
    while (i + literal < n && literal < 127 &&
           !(i + literal + 2 < n && same(i + literal, i + literal + 1) &&
             same(i + literal, i + literal + 2))) {
      ++literal;
    }
    header(static_cast<uint8_t>(0x80 | literal));
    out.insert(out.end(), row.begin() + i * unit, row.begin() + (i + literal) * unit);
    i += literal;
  }
  header(0);
  return out;
}

struct Sgi {
  uint16_t magic = 474;
  uint8_t storage = 0;
  uint8_t bytesPerChannel = 1;
  uint16_t dimension = 3;
  uint16_t width = 1;
  uint16_t height = 1;
  uint16_t channels = 3;
  // Stored rows in file order (row y of channel c at y + c * height), each
  // width * bytesPerChannel bytes.
  std::vector<Bytes> rows = {};

  Bytes Header() const {
    Bytes b(512, 0);
    Put16(b, 0, magic);
    b[2] = storage;
    b[3] = bytesPerChannel;
    Put16(b, 4, dimension);
    Put16(b, 6, width);
    Put16(b, 8, height);
    Put16(b, 10, channels);
    Put16(b, 14, 255);  // maximum pixel value, unused
    return b;
  }

  Bytes File() const {
    Bytes b = Header();
    if (storage != 1) {
      for (const auto& row : rows) b.insert(b.end(), row.begin(), row.end());
      return b;
    }
    std::vector<Bytes> coded;
    for (const auto& row : rows) coded.push_back(EncodeRow(row, bytesPerChannel));
    return WithTables(b, coded);
  }

  // A run-length file whose rows are the given packet bytes.
  static Bytes WithTables(Bytes b, const std::vector<Bytes>& coded) {
    uint32_t offset = static_cast<uint32_t>(b.size() + coded.size() * 8);
    for (const auto& row : coded) {
      Append32(b, offset);
      offset += static_cast<uint32_t>(row.size());
    }
    for (const auto& row : coded) Append32(b, static_cast<uint32_t>(row.size()));
    for (const auto& row : coded) b.insert(b.end(), row.begin(), row.end());
    return b;
  }
};

// ---- the run-length decoder -------------------------------------------

TEST(SGIRLEDecoder, DecodesPacketsWithinTheRow) {
  struct Case {
    const char* name;
    int bits;
    Bytes input;
    size_t targetSize;
    Bytes expected;
  };
  const Case cases[] = {
      {"literal packet", 8, {0x83, 1, 2, 3, 0}, 3, {1, 2, 3}},
      {"run packet", 8, {0x04, 9, 0}, 4, {9, 9, 9, 9}},
      {"runs and literals mixed", 8, {0x02, 5, 0x81, 6, 0x01, 7, 0}, 4, {5, 5, 6, 7}},
      {"a zero count ends the row", 8, {0x00, 0x82, 1, 2}, 2, {}},
      {"bit 7 with a zero count ends too", 8, {0x80, 0x02, 1}, 2, {}},
      {"a run past the row stops at its end", 8, {0x7F, 7}, 3, {7, 7, 7}},
      {"a literal past the row stops at its end", 8, {0x85, 1, 2, 3, 4, 5}, 2, {1, 2}},
      {"packets after a full row are not read", 8, {0x02, 1, 0x02, 2}, 2, {1, 1}},
      {"input ending inside a literal", 8, {0x85, 1, 2}, 5, {1, 2}},
      {"a run without its value", 8, {0x81, 4, 0x03}, 5, {4}},
      {"no end mark", 8, {0x82, 1, 2}, 5, {1, 2}},
      {"16-bit literal words",
       16,
       {0x00, 0x82, 0x12, 0x34, 0x56, 0x78, 0, 0},
       4,
       {0x12, 0x34, 0x56, 0x78}},
      {"16-bit run", 16, {0x00, 0x03, 0xAB, 0xCD, 0, 0}, 6, {0xAB, 0xCD, 0xAB, 0xCD, 0xAB, 0xCD}},
      {"16-bit count from the word's low 7 bits", 16, {0x01, 0x02, 5, 6}, 4, {5, 6, 5, 6}},
      {"16-bit run past the row", 16, {0x00, 0x7F, 1, 2}, 4, {1, 2, 1, 2}},
      {"16-bit literal cut by the input", 16, {0x00, 0x83, 1, 2, 3}, 6, {1, 2}},
      {"16-bit row of an odd size keeps its last byte", 16, {0x00, 0x02, 1, 2}, 3, {1, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TSGIRLEDecoder decoder(c.bits);
    EXPECT_EQ(decoder.BitsPerSample(), c.bits);
    Bytes out(c.targetSize + 4, 0xEE);
    EXPECT_EQ(decoder.DecodeStrip(c.input.data(), c.input.size(), out.data(), c.targetSize),
              c.expected.size());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + c.expected.size()), c.expected);
    EXPECT_EQ(Bytes(out.begin() + c.expected.size(), out.end()),
              Bytes(out.size() - c.expected.size(), 0xEE));
  }
}

// ---- content test and header facts -------------------------------------

TEST(SGIContentTest, AsksMagicSampleSizeAndDimension) {
  struct Case {
    const char* name;
    void (*change)(Bytes&);
    bool accepted;
  };
  const Case cases[] = {
      {"valid", [](Bytes&) {}, true},
      {"two bytes a sample", [](Bytes& b) { b[3] = 2; }, true},
      {"dimension 1", [](Bytes& b) { Put16(b, 4, 1); }, true},
      {"magic 475", [](Bytes& b) { Put16(b, 0, 475); }, false},
      {"little-endian magic", [](Bytes& b) { Put16(b, 0, 0xDA01); }, false},
      {"zero bytes a sample", [](Bytes& b) { b[3] = 0; }, false},
      {"three bytes a sample", [](Bytes& b) { b[3] = 3; }, false},
      {"dimension 0", [](Bytes& b) { Put16(b, 4, 0); }, false},
      {"dimension 4", [](Bytes& b) { Put16(b, 4, 4); }, false},
      {"exactly the header", [](Bytes& b) { b.resize(512); }, false},
  };
  const Bytes file = Sgi{.rows = {{1}, {2}, {3}}}.File();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes changed = file;
    c.change(changed);
    changed.insert(changed.begin(), {7, 7});
    TMemoryStream stream(changed);
    stream.Seek(2);
    EXPECT_EQ(TSGIGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 2);
  }
}

TEST(SGIHeaderInfo, RecordsTheHeaderFacts) {
  struct Case {
    Sgi sgi;
    ColorScheme scheme;
    int bitsPerSample, bitsPerPixel;
    CompressionKind compression;
  };
  const Case cases[] = {
      {Sgi{.width = 5, .height = 7, .channels = 1}, ColorScheme::Indexed, 8, 8,
       CompressionKind::NoCompression},
      {Sgi{.storage = 1, .bytesPerChannel = 2, .width = 5, .height = 7, .channels = 3},
       ColorScheme::RGB, 16, 48, CompressionKind::RunLength},
      {Sgi{.width = 5, .height = 7, .channels = 4}, ColorScheme::RGBA, 8, 32,
       CompressionKind::NoCompression},
      {Sgi{.width = 5, .height = 7, .channels = 0x0102}, ColorScheme::Indexed, 8, 16,
       CompressionKind::NoCompression},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.sgi.channels));
    TSGIGraphic graphic;
    Bytes file = c.sgi.Header();
    file.push_back(0);
    TMemoryStream stream(file);
    ASSERT_TRUE(graphic.ReadHeaderInfo(stream, 0));
    const TImageProperties& p = graphic.ImageProperties();
    EXPECT_EQ(p.width, 5);
    EXPECT_EQ(p.height, 7);
    EXPECT_EQ(p.samplesPerPixel, static_cast<uint8_t>(c.sgi.channels));
    EXPECT_EQ(p.colorScheme, c.scheme);
    EXPECT_EQ(p.bitsPerSample, c.bitsPerSample);
    EXPECT_EQ(p.bitsPerPixel, c.bitsPerPixel);
    EXPECT_EQ(p.compression, c.compression);
  }
  TSGIGraphic graphic;
  TMemoryStream other(Sgi{.magic = 475}.Header());
  EXPECT_FALSE(graphic.ReadHeaderInfo(other, 0));
}

// ---- loading fixtures -------------------------------------------------

TEST(SGIReader, TopRowComesFromTheLastStoredRow) {
  // 2 x 2 RGB: file row 0 (bottom) red and green, row 1 (top) blue and white.
  const Sgi sgi{.width = 2,
                .height = 2,
                .rows = {{255, 0}, {0, 255}, {0, 255}, {0, 255}, {0, 0}, {255, 255}}};
  for (uint8_t storage : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(storage));
    Sgi s = sgi;
    s.storage = storage;
    auto bitmap = Load(s.File());
    ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits24);
    EXPECT_EQ(Row(*bitmap, 0, 6), (Bytes{255, 0, 0, 255, 255, 255}));
    EXPECT_EQ(Row(*bitmap, 1, 6), (Bytes{0, 0, 255, 0, 255, 0}));
  }
}

TEST(SGIReader, RawAndRunLengthTwinsGiveIdenticalBitmaps) {
  struct Case {
    const char* name;
    uint8_t bytesPerChannel;
    uint16_t channels;
    PixelLayout layout;
  };
  const Case cases[] = {
      {"gray", 1, 1, PixelLayout::Bits8},        {"RGB", 1, 3, PixelLayout::Bits24},
      {"RGBA", 1, 4, PixelLayout::Bits32},       {"16-bit gray", 2, 1, PixelLayout::Bits8},
      {"16-bit RGB", 2, 3, PixelLayout::Bits24}, {"16-bit RGBA", 2, 4, PixelLayout::Bits32},
  };
  const uint16_t width = 300;  // more than one packet's worth
  const uint16_t height = 3;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Bytes> rows;
    for (size_t r = 0; r < size_t{height} * c.channels; ++r) {
      Bytes row(size_t{width} * c.bytesPerChannel);
      for (size_t i = 0; i < row.size(); ++i) {
        // Long runs and stretches of changing values.
        row[i] = (i / 40) % 2 ? static_cast<uint8_t>(r * 31 + 7) : static_cast<uint8_t>(i * 5 + r);
      }
      rows.push_back(row);
    }
    const Sgi raw{.bytesPerChannel = c.bytesPerChannel,
                  .width = width,
                  .height = height,
                  .channels = c.channels,
                  .rows = rows};
    Sgi coded = raw;
    coded.storage = 1;
    auto a = Load(raw.File());
    auto b = Load(coded.File());
    EXPECT_EQ(a->Layout(), c.layout);
    EXPECT_EQ(b->Layout(), c.layout);
    EXPECT_EQ(test::StorageBytes(*a), test::StorageBytes(*b));
    // Spot check: the top row is channel data of the last stored row.
    const Bytes& top = rows[height - 1];
    EXPECT_EQ(a->PixelColor(0, 0) >> 16, top[0]);
  }
}

TEST(SGIReader, SamplesLandInTheirPlaces) {
  // Gray with its ramp; 16-bit samples reduced to 8 bits; RGBA as BGRA.
  auto gray = Load(Sgi{.width = 3, .channels = 1, .rows = {{0, 128, 255}}}.File());
  ASSERT_EQ(gray->Layout(), PixelLayout::Bits8);
  EXPECT_EQ(Row(*gray, 0, 3), (Bytes{0, 128, 255}));
  ASSERT_TRUE(gray->QueryPalette().has_value());
  ASSERT_EQ(gray->QueryPalette()->size(), 256u);
  EXPECT_EQ((*gray->QueryPalette())[128], (TRGB{128, 128, 128}));

  auto wide = Load(Sgi{
      .bytesPerChannel = 2,
      .width = 3,
      .channels = 1,
      .rows = {{0x00, 0x00, 0x80, 0x80, 0xFF,
                0xFF}}}.File());
  ASSERT_EQ(wide->Layout(), PixelLayout::Bits8);
  EXPECT_EQ(Row(*wide, 0, 3), (Bytes{0, 128, 255}));

  auto wideRgb =
      Load(Sgi{.bytesPerChannel = 2, .width = 1, .rows = {{0xFF, 0xFF}, {0x12, 0x34}, {0x00, 0x01}}}
               .File());
  EXPECT_EQ(Row(*wideRgb, 0, 3), (Bytes{0, 0x12, 0xFF}));

  auto rgba = Load(Sgi{.width = 2, .channels = 4, .rows = {{1, 2}, {3, 4}, {5, 6}, {7, 8}}}.File());
  ASSERT_EQ(rgba->Layout(), PixelLayout::Bits32);
  EXPECT_EQ(Row(*rgba, 0, 8), (Bytes{5, 3, 1, 7, 6, 4, 2, 8}));
}

TEST(SGIReader, EmptyRunLengthRowIsLeftWhite) {
  // 2 x 2 gray and RGB: the top row's packets start with an end mark.
  auto gray =
      Load(Sgi::WithTables(Sgi{.storage = 1, .width = 2, .height = 2, .channels = 1}.Header(),
                           {{0x82, 10, 20, 0}, {0}}));
  EXPECT_EQ(Row(*gray, 0, 2), (Bytes{255, 255}));
  EXPECT_EQ(Row(*gray, 1, 2), (Bytes{10, 20}));

  auto rgb = Load(Sgi::WithTables(Sgi{.storage = 1, .width = 1, .height = 2}.Header(),
                                  {{0x81, 1, 0}, {0}, {0x81, 2, 0}, {0}, {0x81, 3, 0}, {0}}));
  EXPECT_EQ(rgb->PixelColor(0, 0), 0xFFFFFFu);
  EXPECT_EQ(rgb->PixelColor(0, 1), 0x010203u);
}

TEST(SGIReader, RowsThatOverrunStayInTheirRow) {
  // Width 3: the first row's packets claim 127 + 127 samples, the second
  // row's a literal of 5; neither spills into the other.
  auto bitmap =
      Load(Sgi::WithTables(Sgi{.storage = 1, .width = 3, .height = 2, .channels = 1}.Header(),
                           {{0x7F, 9, 0x7F, 8, 0}, {0x85, 1, 2, 3, 4, 5, 0}}));
  EXPECT_EQ(Row(*bitmap, 1, 3), (Bytes{9, 9, 9}));
  EXPECT_EQ(Row(*bitmap, 0, 3), (Bytes{1, 2, 3}));
}

TEST(SGIReader, DataMissingFromTheFileLeavesWhite) {
  // Uncompressed 2 x 2 RGB cut one byte into the green plane's second row;
  // a run-length row whose offset lies past the end.
  Bytes cut = Sgi{.width = 2,
                  .height = 2,
                  .rows = {{10, 11}, {12, 13}, {20, 21}, {22, 23}, {30, 31}, {32, 33}}}
                  .File();
  cut.resize(512 + 2 * 3 + 1);
  auto bitmap = Load(cut);
  ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits24);
  EXPECT_EQ(Row(*bitmap, 1, 6), (Bytes{255, 20, 10, 255, 21, 11}));
  EXPECT_EQ(Row(*bitmap, 0, 6), (Bytes{255, 22, 12, 255, 255, 13}));

  Bytes far = Sgi::WithTables(Sgi{.storage = 1, .width = 2, .height = 2, .channels = 1}.Header(),
                              {{0x82, 1, 2, 0}, {0x82, 3, 4, 0}});
  far[512 + 4 + 0] = 0x7F;  // second row's offset
  auto farBitmap = Load(far);
  EXPECT_EQ(Row(*farBitmap, 1, 2), (Bytes{1, 2}));
  EXPECT_EQ(Row(*farBitmap, 0, 2), (Bytes{255, 255}));
}

TEST(SGIReader, FailsWithTheKnownMessages) {
  const test::FailureCase cases[] = {
      {"magic 475", Sgi{.magic = 475, .rows = {{1}, {2}, {3}}}.File(),
       "Cannot load image. Invalid or unexpected sgi, bw or rgb(a) image format."},
      {"width 0", Sgi{.width = 0, .rows = {{1}, {2}, {3}}}.File(),
       "Cannot load image. Invalid or unexpected sgi, bw or rgb(a) image format."},
      {"five channels", Sgi{.channels = 5, .rows = {{1}, {2}, {3}, {4}, {5}}}.File(),
       "Sample count per pixel does not correspond to the given color scheme."},
      {"no channels", Sgi{.channels = 0, .rows = {{1}}}.File(),
       "Sample count per pixel does not correspond to the given color scheme."},
      {"two channels", Sgi{.channels = 2, .rows = {{1}, {2}}}.File(), "Invalid pixel format"},
      {"three bytes a sample", Sgi{.bytesPerChannel = 3, .rows = {{1, 2, 3}}}.File(),
       "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16."},
      {"header cut short",
       [] {
         Bytes b = Sgi{}.Header();
         b.resize(100);
         return b;
       }(),
       "Stream read error"},
      {"row tables cut short",
       [] {
         Bytes b = Sgi{.storage = 1, .height = 100, .rows = {}}.Header();
         b.resize(b.size() + 100 * 3 * 8 - 1);
         return b;
       }(),
       "Stream read error"},
  };
  test::ExpectEveryCaseFails(cases, Load);
}

// ---- real files -------------------------------------------------------

TEST(SGIFiles, EveryFileLoadsWithItsLayoutAndPillowsPixels) {
  struct Expectation {
    PixelLayout layout;
    int tolerance;  // 16-bit samples: Pillow keeps the high byte, we divide by 257
  };
  const std::map<std::string, Expectation> files = {
      {"hopper.bw", {PixelLayout::Bits8, 0}},   {"hopper.rgb", {PixelLayout::Bits24, 0}},
      {"hopper.sgi", {PixelLayout::Bits24, 0}}, {"hopper16.rgb", {PixelLayout::Bits24, 1}},
      {"tv.rgb", {PixelLayout::Bits24, 0}},     {"tv16.sgi", {PixelLayout::Bits24, 1}},
  };
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("sgi"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++seen;
    ASSERT_TRUE(files.count(name)) << "unexpected file";
    TSGIGraphic bitmap;
    bitmap.LoadFile(entry.path().string());
    EXPECT_EQ(bitmap.Layout(), files.at(name).layout);
    test::ExpectReferencePixels(entry.path().string(), bitmap, files.at(name).tolerance);
    test::ExpectLoaderKeepsTheBitmap(entry.path().string(), bitmap);
  }
  EXPECT_EQ(seen, files.size());
}

TEST(SGIFiles, MalformedFilesGiveAPictureOrAClearError) {
  // "" for a picture, else the message. Most are 640 x 480 run-length files
  // cut short after their row tables: the rows they hold load, the rest is
  // white. Two are shorter than their row tables.
  const std::map<std::string, std::string> outcomes = {
      {"crash-465703f71a0f0094873a3e0e82c9f798161171b8.sgi", ""},
      {"crash-64834657ee604b8797bf99eac6a194c124a9a8ba.sgi", ""},
      {"crash-6b7f2244da6d0ae297ee0754a424213444e92778.sgi", "Stream read error"},
      {"crash-754d9c7ec485ffb76a90eeaab191ef69a2a3a3cd.sgi", ""},
      {"crash-abcf1c97b8fe42a6c68f1fb0b978530c98d57ced.sgi", ""},
      {"crash-b82e64d4f3f76d7465b6af535283029eda211259.sgi", ""},
      {"crash-c1b2595b8b0b92cc5f38b6635e98e3a119ade807.sgi", ""},
      {"crash-db8bfa78b19721225425530c5946217720d7df4e.sgi", ""},
      {"ossfuzz-5730089102868480.sgi", "Stream read error"},
  };
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("malformed/sgi"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++seen;
    ASSERT_TRUE(outcomes.count(name)) << "unexpected file";
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    std::string outcome;
    try {
      LoadPicture(entry.path().string(), picture, working);
    } catch (const Exception& e) {
      outcome = e.Message();
    }
    EXPECT_EQ(outcome, outcomes.at(name));
    EXPECT_EQ(working->IsEmpty(), !outcome.empty());
  }
  EXPECT_EQ(seen, outcomes.size());
}

}  // namespace
}  // namespace quorvex
