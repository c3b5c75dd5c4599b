#include "picture/readers/rla_reader.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
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

constexpr const char* kInvalid = "Cannot load image. Invalid or unexpected RLA image format.";

void Put16(Bytes& b, size_t at, int v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A picture to store: channel c of pixel (x, y), y = 0 the top row.
using Sample = std::function<uint8_t(int c, int x, int y)>;

struct Rla {
  int16_t left = 0;
  int16_t bottom = 0;
  int width = 1;
  int height = 1;
  int16_t colorChannels = 3;
  int16_t matteChannels = 0;
  int16_t auxChannels = 0;
  int16_t bits = 8;
  int16_t matteBits = 8;
  uint16_t revision = 0xFFFE;
  std::string channels = "rgb";
  Sample sample = [](int c, int x, int y) { return static_cast<uint8_t>(c * 80 + x * 7 + y * 3); };

  Bytes File() const {
    Bytes b(740, 0);
    Put16(b, 0, left);
    Put16(b, 2, left + width - 1);
    Put16(b, 4, bottom);
    Put16(b, 6, bottom + height - 1);
    Put16(b, 8, left);
    Put16(b, 10, left + width - 1);
    Put16(b, 12, bottom);
    Put16(b, 14, bottom + height - 1);
    Put16(b, 20, colorChannels);
    Put16(b, 22, matteChannels);
    Put16(b, 24, auxChannels);
    Put16(b, 26, revision);
    std::copy(channels.begin(), channels.end(), b.begin() + 580);
    Put16(b, 658, bits);
    Put16(b, 662, matteBits);
    Put16(b, 666, 8);  // aux bits
    const size_t tableAt = b.size();
    b.resize(b.size() + size_t(height) * 4);
    const int stored = colorChannels + matteChannels + auxChannels;
    for (int line = 0; line < height; ++line) {
      const int y = height - 1 - line;  // bottom line first
      Put32(b, tableAt + size_t(line) * 4, static_cast<uint32_t>(b.size()));
      for (int c = 0; c < stored; ++c) {
        Bytes plain;
        for (int x = 0; x < width; ++x) plain.push_back(sample(c, x, y));
        const Bytes coded = test::EncodeRLARuns(plain);
        b.push_back(static_cast<uint8_t>(coded.size() >> 8));
        b.push_back(static_cast<uint8_t>(coded.size()));
        b.insert(b.end(), coded.begin(), coded.end());
      }
    }
    return b;
  }
};

const auto Load = &test::LoadBytes<TRLAGraphic>;

uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
  return uint32_t{r} << 16 | uint32_t{g} << 8 | b;
}

// ---- the run-length code ----------------------------------------------

TEST(RLARunLengthDecoder, DecodesRunsAndLiterals) {
  struct Case {
    const char* name;
    Bytes input;
    size_t room;
    Bytes expected;
    size_t consumed;
  };
  const Case cases[] = {
      {"count 0 is one byte", {0x00, 7}, 4, {7}, 2},
      {"count 3 is four copies", {0x03, 9}, 4, {9, 9, 9, 9}, 2},
      {"count 127 is 128 copies", {0x7F, 1}, 128, Bytes(128, 1), 2},
      {"count -2 is two literals", {0xFE, 5, 6}, 4, {5, 6}, 3},
      {"count -128 is 128 literals",
       [] {
         Bytes b = {0x80};
         for (int i = 0; i < 128; ++i) b.push_back(static_cast<uint8_t>(i));
         return b;
       }(),
       128,
       [] {
         Bytes b;
         for (int i = 0; i < 128; ++i) b.push_back(static_cast<uint8_t>(i));
         return b;
       }(),
       129},
      {"run then literals", {0x01, 4, 0xFF, 8}, 3, {4, 4, 8}, 4},
      {"a run is cut at the output's end", {0x05, 3, 0x00, 1}, 2, {3, 3}, 2},
      {"literals are cut at the output's end", {0xFD, 1, 2, 3}, 2, {1, 2}, 3},
      {"literals are cut at the input's end", {0xFC, 1, 2}, 4, {1, 2}, 3},
      {"a run without its byte gives nothing", {0x02}, 4, {}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(c.room + 2, 0xEE);
    size_t consumed = 0;
    const size_t n =
        TRLARunLengthDecoder::Decode(c.input.data(), c.input.size(), out.data(), c.room, &consumed);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + long(n)), c.expected);
    EXPECT_EQ(consumed, c.consumed);
    EXPECT_EQ(Bytes(out.begin() + long(c.room), out.end()), Bytes(2, 0xEE));
  }
}

// ---- content test -----------------------------------------------------

TEST(RLAContentTest, AsksTheRevisionAndTheChannelName) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
    bool accepted;
  };
  const Case cases[] = {
      {"rgb", [](Bytes&) {}, true},
      {"xyz", [](Bytes& b) { std::copy_n("xyz", 3, b.begin() + 580); }, true},
      {"upper case", [](Bytes& b) { std::copy_n("RGB", 3, b.begin() + 580); }, true},
      {"rgba is another name", [](Bytes& b) { b[583] = 'a'; }, false},
      {"old revision", [](Bytes& b) { Put16(b, 26, 0); }, false},
      {"exactly the header", [](Bytes& b) { b.resize(740); }, false},
      {"one byte past the header", [](Bytes& b) { b.resize(741); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = Rla{.width = 4, .height = 2}.File();
    c.change(file);
    TMemoryStream stream(file);
    EXPECT_EQ(TRLAGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 0);
  }
}

TEST(RLAContentTest, ReadsFromTheCurrentPositionAndRestoresIt) {
  Bytes file(5, 0);
  const Bytes rla = Rla{.width = 2, .height = 2}.File();
  file.insert(file.end(), rla.begin(), rla.end());
  TMemoryStream stream(file);
  stream.Seek(5);
  EXPECT_TRUE(TRLAGraphic::AcceptsStream(stream));
  EXPECT_EQ(stream.Position(), 5);
}

// ---- pictures ---------------------------------------------------------

TEST(RLAReader, HandWrittenFileGivesItsPixelsBottomLineFirst) {
  // 3 x 2 RGB, bytes written out by hand: the first stored line is the
  // bottom row.
  Bytes b(740, 0);
  Put16(b, 10, 2);  // active right
  Put16(b, 14, 1);  // active top
  Put16(b, 20, 3);
  Put16(b, 26, 0xFFFE);
  std::copy_n("rgb", 3, b.begin() + 580);
  Put16(b, 658, 8);
  const Bytes bottom = {0, 2, 0x02, 10,                   // red: run of 3
                        0, 4, 0xFD, 1,   2,    3,         // green: 3 literals
                        0, 4, 0x00, 200, 0x01, 0};        // blue: 200, then 0 0
  const Bytes top = {0, 2, 0x02, 255,                     // red
                     0, 2, 0x02, 0,                       // green
                     0, 6, 0xFF, 7,   0x00, 8, 0x7F, 9};  // blue
  // The top line's blue channel decodes 7, 8, then a run of 128 cut to 1.
  Bytes table(8, 0);
  Put32(table, 0, 748);
  Put32(table, 4, static_cast<uint32_t>(748 + bottom.size()));
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), bottom.begin(), bottom.end());
  b.insert(b.end(), top.begin(), top.end());

  const auto bitmap = Load(b);
  ASSERT_EQ(bitmap->Layout(), PixelLayout::Bits24);
  ASSERT_EQ(bitmap->ImageWidth(), 3);
  ASSERT_EQ(bitmap->ImageHeight(), 2);
  const uint32_t expected[2][3] = {{Rgb(255, 0, 7), Rgb(255, 0, 8), Rgb(255, 0, 9)},
                                   {Rgb(10, 1, 200), Rgb(10, 2, 0), Rgb(10, 3, 0)}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(bitmap->PixelColor(x, y), expected[y][x]) << x << "," << y;
  }
}

TEST(RLAReader, ChannelCountsGiveTheirLayouts) {
  struct Case {
    const char* name;
    Rla file;
    PixelLayout layout;
  };
  const Case cases[] = {
      {"rgb", Rla{.width = 5, .height = 3}, PixelLayout::Bits24},
      {"rgb with matte", Rla{.width = 5, .height = 3, .matteChannels = 1}, PixelLayout::Bits32},
      {"rgb, matte and aux", Rla{.width = 5, .height = 3, .matteChannels = 1, .auxChannels = 2},
       PixelLayout::Bits32},
      {"rgb and aux only", Rla{.width = 5, .height = 3, .auxChannels = 1}, PixelLayout::Bits24},
      {"xyz", Rla{.width = 5, .height = 3, .channels = "xyz"}, PixelLayout::Bits24},
      {"channel depth 0 counts as 8", Rla{.width = 5, .height = 3, .bits = 0}, PixelLayout::Bits24},
      {"gray", Rla{.width = 5, .height = 3, .colorChannels = 1}, PixelLayout::Bits8},
      {"active window away from the origin",
       Rla{.left = -20, .bottom = 300, .width = 5, .height = 3}, PixelLayout::Bits24},
      {"long runs and literal groups",
       Rla{.width = 300,
           .height = 2,
           .sample =
               [](int c, int x, int y) {
                 return static_cast<uint8_t>(x < 150 ? c * 9 + y : (x * 31 + c) & 0xFF);
               }},
       PixelLayout::Bits24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto bitmap = Load(c.file.File());
    ASSERT_EQ(bitmap->Layout(), c.layout);
    ASSERT_EQ(bitmap->ImageWidth(), c.file.width);
    ASSERT_EQ(bitmap->ImageHeight(), c.file.height);
    for (int y = 0; y < c.file.height; ++y) {
      const uint8_t* row = bitmap->RowAddress(y);
      for (int x = 0; x < c.file.width; ++x) {
        const auto s = [&](int ch) { return c.file.sample(ch, x, y); };
        if (c.layout == PixelLayout::Bits8) {
          ASSERT_EQ(bitmap->PixelColor(x, y), Rgb(s(0), s(0), s(0))) << x << "," << y;
          continue;
        }
        ASSERT_EQ(bitmap->PixelColor(x, y), Rgb(s(0), s(1), s(2))) << x << "," << y;
        if (c.layout == PixelLayout::Bits32) {
          ASSERT_EQ(row[x * 4 + 3], s(3)) << x << "," << y;
        }
      }
    }
  }
}

TEST(RLAReader, HeaderInfoDescribesTheStoredChannels) {
  TRLAGraphic graphic;
  const Bytes file = Rla{.width = 7, .height = 4, .matteChannels = 1}.File();
  TMemoryStream stream(file);
  ASSERT_TRUE(graphic.ReadHeaderInfo(stream, 0));
  const TImageProperties& p = graphic.ImageProperties();
  EXPECT_EQ(p.width, 7);
  EXPECT_EQ(p.height, 4);
  EXPECT_EQ(p.colorScheme, ColorScheme::RGBA);
  EXPECT_EQ(p.samplesPerPixel, 4);
  EXPECT_EQ(p.bitsPerSample, 8);
  EXPECT_EQ(p.compression, CompressionKind::RunLength);
  EXPECT_TRUE(p.hasAlpha);
}

TEST(RLAReader, FailsOnBadDataWithTheFormatMessage) {
  const Bytes good = Rla{.width = 4, .height = 3}.File();
  const size_t table = 740;
  struct Case {
    const char* name;
    Bytes file;
  };
  auto changed = [&good](std::function<void(Bytes&)> change) {
    Bytes b = good;
    change(b);
    return b;
  };
  const Case cases[] = {
      {"shorter than the header", Bytes(good.begin(), good.begin() + 700)},
      {"offset table cut short", Bytes(good.begin(), good.begin() + 748)},
      {"offset into the header", changed([](Bytes& b) { Put32(b, table, 12); })},
      {"offset past the end", changed([](Bytes& b) { Put32(b, table + 4, 0x7FFFFFF0); })},
      {"channel length past the end", changed([](Bytes& b) { b.erase(b.end() - 2, b.end()); })},
      {"channel decodes short", changed([](Bytes& b) {
         // The first stored line's red channel claims one byte: a lone count.
         b[table + 12 + 1] = 1;
       })},
      {"16-bit channels", Rla{.width = 4, .height = 3, .bits = 16}.File()},
      {"16-bit matte", Rla{.width = 4, .height = 3, .matteChannels = 1, .matteBits = 16}.File()},
      {"two colour channels", Rla{.width = 4, .height = 3, .colorChannels = 2}.File()},
      {"no colour channels", Rla{.width = 4, .height = 3, .colorChannels = 0}.File()},
      {"crossed active window", changed([](Bytes& b) { Put16(b, 10, -1); })},
      {"empty active window", changed([](Bytes& b) { Put16(b, 14, -1); })},
  };
  test::ExpectEveryCaseFailsWith<EInvalidGraphic>(cases, Load, kInvalid);
}

TEST(RLAReader, ManyLinesSharingOneStoredLineLoad) {
  // A valid way to store a plain picture: every offset names the same line.
  Rla rla{.width = 3, .height = 1, .sample = [](int c, int, int) { return uint8_t(c * 100); }};
  Bytes b = rla.File();
  const int height = 1000;
  Put16(b, 14, height - 1);
  Put16(b, 6, height - 1);
  const Bytes line(b.begin() + 744, b.end());
  b.resize(740);
  for (int i = 0; i < height; ++i) {
    b.resize(b.size() + 4);
    Put32(b, b.size() - 4, 740 + height * 4);
  }
  b.insert(b.end(), line.begin(), line.end());
  const auto bitmap = Load(b);
  ASSERT_EQ(bitmap->ImageHeight(), height);
  EXPECT_EQ(bitmap->PixelColor(2, 0), Rgb(0, 100, 200));
  EXPECT_EQ(bitmap->PixelColor(0, height - 1), Rgb(0, 100, 200));
}

// ---- against an independent decoder ----------------------------------

// The file as an independent decoder reads it, as PPM: ImageMagick, or
// GraphicsMagick where ImageMagick's RLA coder gives no picture (Debian 12's
// gives none for any file); nullopt when neither does.
std::optional<test::RgbPicture> ReferenceRLAPixels(const std::string& path) {
  const std::string tools[] = {"/usr/bin/convert", "/usr/bin/gm convert"};
  for (const std::string& tool : tools) {
    if (!std::filesystem::exists(tool.substr(0, tool.find(' ')))) continue;
    const std::string command = tool + " 'rla:" + path + "' -depth 8 ppm:- 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) continue;
    Bytes out;
    uint8_t chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.insert(out.end(), chunk, chunk + n);
    if (pclose(pipe) != 0 || out.size() < 2 || out[0] != 'P' || out[1] != '6') continue;
    // "P6" width height maxval, each after white space, then one white space.
    size_t at = 2;
    int fields[3] = {};
    for (int& field : fields) {
      while (at < out.size() && std::isspace(out[at])) ++at;
      while (at < out.size() && std::isdigit(out[at])) field = field * 10 + (out[at++] - '0');
    }
    ++at;
    if (fields[2] != 255 || out.size() < at ||
        out.size() - at != size_t(fields[0]) * size_t(fields[1]) * 3) {
      continue;
    }
    return test::RgbPicture{fields[0], fields[1], Bytes(out.begin() + long(at), out.end())};
  }
  return std::nullopt;
}

TEST(RLAFiles, AgreeWithAnIndependentDecoder) {
  const std::string dir = test::MakeTempDir();
  struct Case {
    const char* name;
    Rla file;
  };
  const Case cases[] = {
      {"rgb, runs and literals", Rla{.width = 37,
                                     .height = 11,
                                     .sample =
                                         [](int c, int x, int y) {
                                           return static_cast<uint8_t>(
                                               x % 9 < 4 ? 40 * c + y : x * 13 + y * 7 + c * 50);
                                         }}},
      {"rgb with matte and aux",
       Rla{.left = 4, .bottom = 2, .width = 6, .height = 5, .matteChannels = 1, .auxChannels = 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/" + std::to_string(&c - cases) + ".rla";
    test::WriteFileBytes(path, c.file.File());
    const auto reference = ReferenceRLAPixels(path);
    if (!reference) GTEST_SKIP() << "no independent RLA decoder here";
    TRLAGraphic bitmap;
    bitmap.LoadFile(path);
    EXPECT_EQ(test::ComparePictures(*reference, test::BitmapPixels(bitmap), 0), "");
  }
  std::filesystem::remove_all(dir);
}

// ---- through the loader -----------------------------------------------

TEST(RLALoading, ContentWinsOverTheNameAndOldFilesLoadByName) {
  struct Case {
    const char* name;
    uint16_t revision;
    const char* fileName;
  };
  const Case cases[] = {
      {"recognised by content under another name", 0xFFFE, "a.bmp"},
      {"old revision by its rla name", 0, "a.rla"},
      {"old revision by its rpf name", 0, "A.RPF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file =
        Rla{.width = 6, .height = 2, .matteChannels = 1, .revision = c.revision}.File();
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    LoadPictureFromMemory(file.data(), file.size(), c.fileName, picture, working);
    EXPECT_EQ(working->Layout(), PixelLayout::Bits32);
    EXPECT_EQ(working->ImageWidth(), 6);
    EXPECT_EQ(test::StorageBytes(*working), test::StorageBytes(*Load(file)));
  }
}

}  // namespace
}  // namespace quorvex
