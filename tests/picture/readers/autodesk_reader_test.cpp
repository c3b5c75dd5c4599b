#include "picture/readers/autodesk_reader.h"

#include <gtest/gtest.h>

#include <functional>
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

// An Autodesk file built in memory; palette entry i is (i % 64, 63 - i % 64, 32).
struct Cel {
  uint16_t magic = 0x9119;
  uint16_t width = 3;
  uint16_t height = 2;
  uint16_t bitsPerPixel = 8;
  Bytes pixels = {};

  Bytes File() const {
    Bytes out(32, 0);
    auto put = [&out](size_t at, uint16_t v) {
      out[at] = static_cast<uint8_t>(v);
      out[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    put(0, magic);
    put(2, width);
    put(4, height);
    put(10, bitsPerPixel);
    for (int i = 0; i < 256; ++i) {
      out.push_back(static_cast<uint8_t>(i % 64));
      out.push_back(static_cast<uint8_t>(63 - i % 64));
      out.push_back(32);
    }
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
  }
};

TEST(AutodeskContentTest, AsksMagicAndDepth) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool accepted;
  };
  const Bytes valid = Cel{.pixels = Bytes(6, 0)}.File();
  const Case cases[] = {
      {"a whole file", valid, true},
      {"33 bytes", Bytes(valid.begin(), valid.begin() + 33), true},
      {"exactly the header", Bytes(valid.begin(), valid.begin() + 32), false},
      {"other magic", Cel{.magic = 0x1991}.File(), false},
      {"16 bits per pixel", Cel{.bitsPerPixel = 16}.File(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes prefixed = {7};
    prefixed.insert(prefixed.end(), c.bytes.begin(), c.bytes.end());
    TMemoryStream stream(prefixed);
    stream.Seek(1);
    EXPECT_EQ(TAutodeskGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 1);
  }
}

TEST(AutodeskReader, ReadsRowsTopFirstWithTheSixBitPalette) {
  const Bytes file = Cel{.pixels = {0, 63, 32, 1, 2, 3}}.File();
  Bytes prefixed = {1, 2, 3, 4};
  prefixed.insert(prefixed.end(), file.begin(), file.end());
  TMemoryStream stream(prefixed);
  stream.Seek(4);
  TAutodeskGraphic bitmap;
  bitmap.ReadFromStream(stream);
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits8);
  const TImageProperties& p = bitmap.ImageProperties();
  EXPECT_EQ(p.colorScheme, ColorScheme::Indexed);
  EXPECT_EQ(p.compression, CompressionKind::NoCompression);
  // 63 becomes 252, 32 becomes 128, 0 stays 0.
  const test::RgbPicture expected{3,
                                  2,
                                  {0, 252, 128, 252, 0, 128, 128, 124, 128,  //
                                   4, 248, 128, 8, 244, 128, 12, 240, 128}};
  EXPECT_EQ(test::ComparePictures(expected, test::BitmapPixels(bitmap), 0), "");
}

TEST(AutodeskReader, RowsTheDataDoesNotReachKeepTheInitialFill) {
  // Two rows of four: one and a half rows arrive.
  const Bytes file = Cel{.width = 4, .height = 2, .pixels = {5, 6, 7, 8, 9, 10}}.File();
  TMemoryStream stream(file);
  TAutodeskGraphic bitmap;
  bitmap.ReadFromStream(stream);
  ASSERT_EQ(bitmap.Layout(), PixelLayout::Bits8);
  ASSERT_EQ(bitmap.ImageWidth(), 4);
  ASSERT_EQ(bitmap.ImageHeight(), 2);
  const Bytes got = test::StorageBytes(bitmap);
  const Bytes initial = test::InitialStorage(bitmap);
  ASSERT_EQ(got.size(), initial.size());
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 4), (Bytes{5, 6, 7, 8}));
  EXPECT_EQ(Bytes(got.begin() + 4, got.begin() + 6), (Bytes{9, 10}));
  EXPECT_EQ(Bytes(got.begin() + 6, got.end()), Bytes(initial.begin() + 6, initial.end()));
}

TEST(AutodeskReader, FailsWithTheKnownMessages) {
  const std::string message = "Cannot load image. Invalid or unexpected Autodesk image format.";
  const Bytes whole = Cel{.pixels = Bytes(6, 1)}.File();
  struct Case {
    const char* name;
    Bytes file;
    std::function<bool(const Exception&)> isExpectedKind;
    std::string message;
  };
  auto invalid = [](const Exception& e) {
    return dynamic_cast<const EInvalidGraphic*>(&e) != nullptr;
  };
  auto readError = [](const Exception& e) {
    return dynamic_cast<const EReadError*>(&e) != nullptr;
  };
  const Case cases[] = {
      {"no magic", Cel{.magic = 0x4D42, .pixels = Bytes(6, 1)}.File(), invalid, message},
      {"zero width", Cel{.width = 0}.File(), invalid, message},
      {"16 bits per pixel", Cel{.bitsPerPixel = 16, .pixels = Bytes(12, 1)}.File(), invalid,
       message},
      {"shorter than the header", Bytes(whole.begin(), whole.begin() + 20), readError,
       "Stream read error"},
      {"palette cut short", Bytes(whole.begin(), whole.begin() + 500), readError,
       "Stream read error"},
  };
  test::ExpectEveryCaseFails(
      cases, test::LoadBytes<TAutodeskGraphic>,
      [](const auto& c, const Exception& e) { EXPECT_TRUE(c.isExpectedKind(e)) << e.Message(); });
}

TEST(AutodeskLoading, ContentDecidesOverTheName) {
  const Bytes file = Cel{.pixels = {0, 63, 32, 1, 2, 3}}.File();
  for (const char* name : {"a.cel", "a.pic", "a.bmp"}) {
    SCOPED_TRACE(name);
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    LoadPictureFromMemory(file.data(), file.size(), name, picture, working);
    EXPECT_EQ(working->Layout(), PixelLayout::Bits8);
    EXPECT_EQ(test::BitmapPixels(*working).rgb[3], 252);  // pixel 63, red
  }
}

}  // namespace
}  // namespace quorvex
