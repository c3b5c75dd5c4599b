#include "picture/readers/cut_reader.h"

#include <gtest/gtest.h>

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

using Bytes = std::vector<uint8_t>;

Bytes CutFile(uint16_t width, uint16_t height, const std::vector<Bytes>& rows) {
  Bytes out = {static_cast<uint8_t>(width),
               static_cast<uint8_t>(width >> 8),
               static_cast<uint8_t>(height),
               static_cast<uint8_t>(height >> 8),
               0,
               0};
  for (const Bytes& row : rows) {
    // The stored length is not trusted; a wrong one must not matter.
    out.push_back(0xEE);
    out.push_back(0xEE);
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// A palette file of `count` entries, entry i = (i, 2 i, 255 - i), each
// component in the low byte of a 16-bit value.
Bytes PalFile(size_t count) {
  Bytes out(40, 0);
  out[12] = static_cast<uint8_t>(count - 1);
  out[13] = static_cast<uint8_t>((count - 1) >> 8);
  for (size_t i = 0; i < count; ++i) {
    if (out.size() % 512 > 506) out.resize(out.size() + 512 - out.size() % 512, 0);
    for (uint8_t v : {uint8_t(i), uint8_t(2 * i), uint8_t(255 - i)}) {
      out.push_back(v);
      out.push_back(0x7F);  // high bytes are ignored
    }
  }
  return out;
}

Bytes Gray(const test::RgbPicture& picture) {
  Bytes g;
  for (size_t i = 0; i < picture.rgb.size(); i += 3) {
    EXPECT_EQ(picture.rgb[i], picture.rgb[i + 1]);
    EXPECT_EQ(picture.rgb[i], picture.rgb[i + 2]);
    g.push_back(picture.rgb[i]);
  }
  return g;
}

TEST(CUTRowDecoder, DecodesPacketsWithinTheRowAndTheData) {
  struct Case {
    const char* name;
    Bytes record;  // the 2-byte length included
    size_t width;
    Bytes row;    // the row afterwards, started as 0xAA
    size_t used;  // 0: the data ended inside the record
  };
  const Case cases[] = {
      {"run then literal", {9, 9, 0x83, 7, 0x02, 1, 2, 0}, 5, {7, 7, 7, 1, 2}, 8},
      {"zero-length run is skipped", {0, 0, 0x80, 5, 0x82, 4, 0}, 2, {4, 4}, 7},
      {"a 0 byte ends the row early", {0, 0, 0x81, 3, 0}, 3, {3, 0xAA, 0xAA}, 5},
      {"run past the row is cut, not carried", {0, 0, 0x85, 6, 0x81, 1, 0}, 4, {6, 6, 6, 6}, 7},
      {"literal past the row is consumed", {0, 0, 0x04, 1, 2, 3, 4, 0}, 2, {1, 2}, 8},
      {"data ends inside a literal", {0, 0, 0x04, 1, 2}, 4, {1, 2, 0xAA, 0xAA}, 0},
      {"data ends before a run's value", {0, 0, 0x82}, 2, {0xAA, 0xAA}, 0},
      {"data ends before the 0 byte", {0, 0, 0x82, 5}, 2, {5, 5}, 0},
      {"only part of the length", {0}, 2, {0xAA, 0xAA}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes row(c.width + 4, 0xAA);
    EXPECT_EQ(TCUTRowDecoder::DecodeRow(c.record.data(), c.record.size(), row.data(), c.width),
              c.used);
    EXPECT_EQ(Bytes(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(c.width)), c.row);
    EXPECT_EQ(Bytes(row.begin() + static_cast<std::ptrdiff_t>(c.width), row.end()), Bytes(4, 0xAA));
  }
}

TEST(CUTPalette, EntriesNeverStraddleABlock) {
  // Entry 77 starts at 502 and fits; entry 78 would start at 508 and moves
  // to 512.
  const Bytes file = PalFile(100);
  ASSERT_EQ(file[512], 78);
  TMemoryStream stream(file);
  const TPalette palette = ReadCUTPalette(stream);
  ASSERT_EQ(palette.size(), 100u);
  for (size_t i : {size_t{0}, size_t{77}, size_t{78}, size_t{99}}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(palette[i], (TRGB{uint8_t(i), uint8_t(2 * i), uint8_t(255 - i)}));
  }
}

TEST(CUTPalette, EntriesTheFileLacksAreBlack) {
  Bytes file = PalFile(3);
  file[12] = 9;  // claims ten entries
  TMemoryStream stream(file);
  const TPalette palette = ReadCUTPalette(stream);
  ASSERT_EQ(palette.size(), 10u);
  EXPECT_EQ(palette[2], (TRGB{2, 4, 253}));
  EXPECT_EQ(palette[3], (TRGB{0, 0, 0}));
}

TEST(CUTReader, WithoutAPaletteFilePixelsShowAsGrayLevels) {
  const Bytes file = CutFile(3, 2, {{0x83, 200, 0}, {0x03, 0, 17, 255, 0}});
  TMemoryStream stream(file);
  TCUTGraphic bitmap;
  bitmap.ReadFromStream(stream);
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits8);
  EXPECT_EQ(bitmap.ImageProperties().compression, CompressionKind::RunLength);
  EXPECT_EQ(Gray(test::BitmapPixels(bitmap)), (Bytes{200, 200, 200, 0, 17, 255}));
}

TEST(CUTReader, DataEndingEarlyLeavesTheLaterRowsAlone) {
  const Bytes file = CutFile(2, 3, {{0x82, 9, 0}, {0x01, 4}});
  TMemoryStream stream(file);
  TCUTGraphic bitmap;
  bitmap.ReadFromStream(stream);
  ASSERT_EQ(bitmap.Layout(), PixelLayout::Bits8);
  ASSERT_EQ(bitmap.ImageWidth(), 2);
  ASSERT_EQ(bitmap.ImageHeight(), 3);
  const Bytes got = test::StorageBytes(bitmap);
  const Bytes initial = test::InitialStorage(bitmap);
  const size_t stride = got.size() / 3;
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 2), (Bytes{9, 9}));
  EXPECT_EQ(got[stride], 4);
  EXPECT_EQ(Bytes(got.begin() + static_cast<std::ptrdiff_t>(2 * stride), got.end()),
            Bytes(initial.begin() + static_cast<std::ptrdiff_t>(2 * stride), initial.end()));
}

TEST(CUTReader, FailsWithTheKnownMessages) {
  const test::FailureCase cases[] = {
      {"shorter than the header", {4, 0, 4, 0}, "Stream read error"},
      {"zero height", CutFile(4, 0, {}),
       "Cannot load image. Invalid or unexpected Dr. Halo image format."},
  };
  test::ExpectEveryCaseFails(cases, test::LoadBytes<TCUTGraphic>);
}

TEST(CUTLoading, TakesThePaletteFromThePalFileOfTheSameName) {
  const std::string dir = test::MakeTempDir();
  const Bytes picture = CutFile(3, 1, {{0x03, 0, 1, 2, 0}});
  test::WriteFileBytes(dir + "/a.cut", picture);
  test::WriteFileBytes(dir + "/a.pal", PalFile(3));
  test::WriteFileBytes(dir + "/b.cut", picture);
  test::WriteFileBytes(dir + "/c.cut", picture);
  test::WriteFileBytes(dir + "/c.PAL", PalFile(3));
  const test::RgbPicture paletted{3, 1, {0, 0, 255, 1, 2, 254, 2, 4, 253}};
  const test::RgbPicture gray{3, 1, {0, 0, 0, 1, 1, 1, 2, 2, 2}};
  struct Case {
    std::string name;
    const test::RgbPicture& expected;
  };
  const Case cases[] = {{"a.cut", paletted}, {"b.cut", gray}, {"c.cut", paletted}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPicture container;
    std::unique_ptr<TBitmap> working;
    LoadPicture(dir + "/" + c.name, container, working);
    EXPECT_EQ(working->Layout(), PixelLayout::Bits8);
    EXPECT_EQ(test::ComparePictures(c.expected, test::BitmapPixels(*working), 0), "");
  }
  // From bytes alone there is no file beside it.
  TPicture container;
  std::unique_ptr<TBitmap> working;
  LoadPictureFromMemory(picture.data(), picture.size(), dir + "/a.cut", container, working);
  EXPECT_EQ(test::ComparePictures(gray, test::BitmapPixels(*working), 0), "");
}

}  // namespace
}  // namespace quorvex
