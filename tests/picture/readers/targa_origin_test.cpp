// Targa files in every origin and with colour maps that start past index 0,
// made by ImageMagick, their headers patched, and compared with Pillow.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/readers/library_reference.h"
#include "picture/readers/reader_test_support.h"
#include "picture/readers/targa_reader.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kDescriptor = 17;
constexpr size_t kFirstIndex = 3;

struct Kind {
  const char* name;
  const char* options;  // ImageMagick's, from the pattern PNG to TGA
  PixelLayout layout;
};

const Kind kKinds[] = {
    {"colour-mapped", "-colors 40 -type Palette", PixelLayout::Bits8},
    {"colour-mapped, run-length", "-colors 40 -type Palette -compress RLE", PixelLayout::Bits8},
    {"24-bit", "", PixelLayout::Bits24},
    {"24-bit, run-length", "-compress RLE", PixelLayout::Bits24},
    {"32-bit, run-length", "-alpha set -channel A -evaluate set 50% -compress RLE",
     PixelLayout::Bits32},
};

std::string MakeTarga(const std::string& dir, const Kind& kind, int width, int height) {
  const std::string png = test::MakeFixture(dir, "rgb", width, height);
  const std::string tga = dir + "/made.tga";
  test::RunTool("/usr/bin/convert " + test::Quoted(png) + " " + kind.options + " " +
                test::Quoted(tga));
  return tga;
}

TEST(TargaOrigins, AllFourOriginsShowAsPillowShowsThem) {
  const std::string dir = test::MakeTempDir();
  const uint8_t origins[] = {0x00, 0x10, 0x20, 0x30};  // bottom left, bottom right, top ...
  for (const Kind& kind : kKinds) {
    for (const auto& [width, height] : {std::pair{37, 23}, std::pair{130, 2}}) {
      const Bytes made = test::ReadFileBytes(MakeTarga(dir, kind, width, height));
      ASSERT_GT(made.size(), 18u);
      for (uint8_t origin : origins) {
        SCOPED_TRACE(std::string(kind.name) + ", " + std::to_string(width) + "x" +
                     std::to_string(height) + ", descriptor bits " + std::to_string(origin));
        Bytes file = made;
        file[kDescriptor] = static_cast<uint8_t>((file[kDescriptor] & 0x0F) | origin);
        const std::string path = dir + "/origin.tga";
        test::WriteFileBytes(path, file);
        const auto bitmap = test::LoadBytes<TTargaGraphic>(file);
        EXPECT_EQ(bitmap->Layout(), kind.layout);
        test::ExpectReferencePixels(path, *bitmap);
      }
    }
  }
}

TEST(TargaOrigins, RightToLeftMirrorsEveryPixelSize) {
  // 3 x 1 raw pictures whose pixels are 1, 2 and 3 in every byte.
  for (uint8_t pixelSize : {8, 16, 24, 32}) {
    SCOPED_TRACE(static_cast<int>(pixelSize));
    const size_t bytes = (pixelSize + 7) / 8;
    Bytes file = {0, 0,         static_cast<uint8_t>(pixelSize == 8 ? 3 : 2),
                  0, 0,         0,
                  0, 0,         0,
                  0, 0,         0,
                  3, 0,         1,
                  0, pixelSize, 0x10};
    for (uint8_t v : {1, 2, 3}) file.insert(file.end(), bytes, v);
    const auto bitmap = test::LoadBytes<TTargaGraphic>(file);
    Bytes expected;
    for (uint8_t v : {3, 2, 1}) expected.insert(expected.end(), bytes, v);
    EXPECT_EQ(test::Row(*bitmap, 0, expected.size()), expected);
  }
}

TEST(TargaColourMaps, FirstIndexOffsetsThePixelValues) {
  const std::string dir = test::MakeTempDir();
  for (const Kind& kind : {kKinds[0], kKinds[1]}) {
    const Bytes made = test::ReadFileBytes(MakeTarga(dir, kind, 37, 23));
    ASSERT_EQ(made[1], 1) << "no colour map";
    for (uint16_t first : {1, 7, 200}) {
      SCOPED_TRACE(std::string(kind.name) + ", first index " + std::to_string(first));
      Bytes file = made;
      file[kFirstIndex] = static_cast<uint8_t>(first);
      file[kFirstIndex + 1] = static_cast<uint8_t>(first >> 8);
      const std::string path = dir + "/first.tga";
      test::WriteFileBytes(path, file);
      TTargaGraphic bitmap;
      bitmap.LoadFile(path);
      test::ExpectReferencePixels(path, bitmap);
    }
  }
}

TEST(TargaColourMaps, ValuesOutsideTheMapAreBlack) {
  // First index 2, two 24-bit entries: values 0, 1 lie below the map and 4,
  // 255 past it. (Pillow shows the values past it as its default grays.)
  const Bytes file = {0, 1, 1,    2,  0,  2,  0,  24, 0,  0, 0, 0, 6, 0, 1,
                      0, 8, 0x20, 10, 20, 30, 40, 50, 60, 0, 1, 2, 3, 4, 255};
  const auto bitmap = test::LoadBytes<TTargaGraphic>(file);
  const uint32_t expected[] = {0, 0, 0x1E140A, 0x3C3228, 0, 0};
  for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(bitmap->PixelColor(x, 0), expected[x]) << x;

  // A first index past the 256 entries a palette holds leaves only black.
  Bytes far = file;
  far[kFirstIndex + 1] = 1;
  const auto allBlack = test::LoadBytes<TTargaGraphic>(far);
  for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(allBlack->PixelColor(x, 0), 0u) << x;
}

}  // namespace
}  // namespace quorvex
