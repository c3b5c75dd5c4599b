#include "core/transform.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/keystream.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

using test::StorageBytes;

std::vector<uint8_t> Keys(int32_t seed, size_t count) {
  Keystream::setSeed(seed);
  std::vector<uint8_t> keys;
  for (size_t i = 0; i < count; ++i)
    keys.push_back(static_cast<uint8_t>(Keystream::nextBelow(256)));
  return keys;
}

// A bitmap of the layout whose every storage byte, padding included, is set.
void MakePicture(TBitmap& bitmap, PixelLayout layout, int32_t width, int32_t height,
                 uint8_t salt = 0) {
  bitmap.SetLayout(layout);
  bitmap.SetImageWidth(width);
  bitmap.SetImageHeight(height);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = bitmap.RowAddress(y);
    for (uint64_t i = 0; i < bitmap.Stride(); ++i)
      row[i] = static_cast<uint8_t>(y * 31 + i * 7 + salt);
  }
}

std::unique_ptr<TBitmap> ReloadThroughFile(const TBitmap& bitmap) {
  TMemoryStream stream;
  bitmap.WriteToStream(stream);
  stream.Seek(0);
  auto reloaded = std::make_unique<TBitmap>();
  reloaded->ReadFromStream(stream);
  return reloaded;
}

std::vector<uint8_t> FileBytes(const TBitmap& bitmap) {
  TMemoryStream stream;
  bitmap.WriteToStream(stream);
  return stream.Bytes();
}

TEST(Transform, OnePixelBits24DrawsFourBytesIntoAFiftyEightByteFile) {
  TBitmap source;
  MakePicture(source, PixelLayout::Bits24, 1, 1);
  TBitmap target;
  EncryptTransform(source, "12345", target);
  const auto keys = Keys(12345, 4);
  const auto file = FileBytes(target);
  ASSERT_EQ(file.size(), 58u);
  const uint8_t* src = source.RowAddress(0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(file[54 + i], src[i] ^ keys[i]) << i;
  EXPECT_EQ(Keystream::state(), [] {
    Keystream::setSeed(12345);
    for (int i = 0; i < 4; ++i) Keystream::nextBelow(256);
    return Keystream::state();
  }());
}

TEST(Transform, KeystreamRunsFromTheTopRowAndTheFileStoresTheBottomRowFirst) {
  TBitmap source;
  MakePicture(source, PixelLayout::Bits24, 1, 2);
  TBitmap target;
  EncryptTransform(source, "99", target);
  const auto keys = Keys(99, 8);
  const auto file = FileBytes(target);
  ASSERT_EQ(file.size(), 62u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(file[58 + i], source.RowAddress(0)[i] ^ keys[i]);      // top row, last in file
    EXPECT_EQ(file[54 + i], source.RowAddress(1)[i] ^ keys[4 + i]);  // bottom row, first
  }
}

TEST(Transform, PaddingBytesAreScrambledToo) {
  TBitmap source;
  MakePicture(source, PixelLayout::Bits24, 3, 2);
  ASSERT_EQ(source.Stride(), 12u);
  TBitmap target;
  EncryptTransform(source, "5", target);
  const auto keys = Keys(5, 24);
  const auto in = StorageBytes(source);
  const auto out = StorageBytes(target);
  for (size_t i = 0; i < 24; ++i) EXPECT_EQ(out[i], in[i] ^ keys[i]) << i;
}

class TransformRoundTrip : public ::testing::TestWithParam<PixelLayout> {};

TEST_P(TransformRoundTrip, SameCodeRestoresEveryStorageByteThroughAFile) {
  for (const auto& [width, height] : {std::pair{1, 1}, {3, 1}, {1, 3}, {17, 5}, {64, 9}}) {
    TBitmap source;
    MakePicture(source, GetParam(), width, height);
    if (GetParam() <= PixelLayout::Bits8) {
      source.ApplyPalette(TPalette{{1, 2, 3}, {40, 50, 60}, {200, 100, 0}});
    }
    TBitmap scrambled;
    EncryptTransform(source, "614052", scrambled);
    ASSERT_NE(StorageBytes(scrambled), StorageBytes(source));
    const auto reloaded = ReloadThroughFile(scrambled);
    ASSERT_EQ(reloaded->Layout(), GetParam());

    TBitmap restored;
    DecryptTransform(*reloaded, "614052", restored);
    EXPECT_EQ(restored.Layout(), GetParam());
    EXPECT_EQ(StorageBytes(restored), StorageBytes(source)) << width << "x" << height;

    TBitmap wrong;
    DecryptTransform(*reloaded, "614053", wrong);
    EXPECT_NE(StorageBytes(wrong), StorageBytes(source));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, TransformRoundTrip,
                         ::testing::Values(PixelLayout::Bits1, PixelLayout::Bits4,
                                           PixelLayout::Bits8, PixelLayout::Bits15,
                                           PixelLayout::Bits16, PixelLayout::Bits24,
                                           PixelLayout::Bits32),
                         [](const auto& info) { return std::string(PixelLayoutName(info.param)); });

TEST(Transform, UnconvertibleCodesFallBackToEachTransformsOwnSeed) {
  TBitmap source;
  MakePicture(source, PixelLayout::Bits24, 5, 4);
  const auto plain = StorageBytes(source);
  const size_t n = plain.size();

  const struct {
    const char* code;
    bool encrypt;
    int32_t seed;
  } cases[] = {
      {"", true, kEncryptFallbackSeed},
      {"", false, kDecryptFallbackSeed},
      {"abc", true, kEncryptFallbackSeed},
      {"2147483648", true, kEncryptFallbackSeed},
      {"2147483648", false, kDecryptFallbackSeed},
      {"$3039", true, 12345},
      {"12345", false, 12345},
      {" -7", true, -7},
  };
  for (const auto& c : cases) {
    TBitmap target;
    (c.encrypt ? EncryptTransform : DecryptTransform)(source, c.code, target);
    const auto keys = Keys(c.seed, n);
    std::vector<uint8_t> expected(n);
    for (size_t i = 0; i < n; ++i) expected[i] = plain[i] ^ keys[i];
    EXPECT_EQ(StorageBytes(target), expected) << '"' << c.code << '"';
  }

  // Scrambled with an empty code: restored by "51806", not by an empty code.
  TBitmap scrambled, byEmpty, byFallbackText;
  EncryptTransform(source, "", scrambled);
  DecryptTransform(scrambled, "", byEmpty);
  DecryptTransform(scrambled, "51806", byFallbackText);
  EXPECT_NE(StorageBytes(byEmpty), plain);
  EXPECT_EQ(StorageBytes(byFallbackText), plain);
}

TEST(Transform, ResultDependsOnTheSeedAloneNotOnEarlierTransforms) {
  TBitmap source;
  MakePicture(source, PixelLayout::Bits8, 9, 9);
  TBitmap first, other, second;
  EncryptTransform(source, "777", first);
  EncryptTransform(source, "778", other);
  EncryptTransform(source, "777", second);
  EXPECT_EQ(StorageBytes(first), StorageBytes(second));
}

TEST(Transform, PalettePicturesKeepTheirPaletteAndTableSize) {
  TBitmap source;
  MakePicture(source, PixelLayout::Bits8, 4, 4);
  TPalette sixteen;
  for (uint8_t i = 0; i < 16; ++i)
    sixteen.push_back({i, static_cast<uint8_t>(i * 2), static_cast<uint8_t>(255 - i)});
  source.ApplyPalette(sixteen);
  for (int32_t y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) source.RowAddress(y)[x] = static_cast<uint8_t>((x + y) % 16);

  TBitmap scrambled;
  EncryptTransform(source, "1", scrambled);
  EXPECT_EQ(scrambled.QueryPalette(), sixteen);
  const auto file = FileBytes(scrambled);
  ASSERT_EQ(file.size(), 14u + 40 + 1024 + 16);
  EXPECT_EQ(file[46], 0x00);  // colours used: 256
  EXPECT_EQ(file[47], 0x01);
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(file[54 + 4 * i], sixteen[i].blue);
    EXPECT_EQ(file[54 + 4 * i + 1], sixteen[i].green);
    EXPECT_EQ(file[54 + 4 * i + 2], sixteen[i].red);
  }

  TBitmap restored;
  DecryptTransform(scrambled, "1", restored);
  EXPECT_EQ(restored.QueryPalette(), scrambled.QueryPalette());
  EXPECT_EQ(StorageBytes(restored), StorageBytes(source));
}

TEST(Transform, SixteenBitLayoutsKeepTheirMasks) {
  TBitmap bits16, bits15;
  MakePicture(bits16, PixelLayout::Bits16, 3, 3);
  MakePicture(bits15, PixelLayout::Bits15, 3, 3);
  TBitmap out16, out15;
  EncryptTransform(bits16, "3", out16);
  EncryptTransform(bits15, "3", out15);
  EXPECT_EQ(out16.Layout(), PixelLayout::Bits16);
  EXPECT_EQ(out16.Masks(), (std::array<uint32_t, 3>{0xF800, 0x07E0, 0x001F}));
  EXPECT_EQ(ReloadThroughFile(out15)->Layout(), PixelLayout::Bits15);
  EXPECT_EQ(ReloadThroughFile(out16)->Layout(), PixelLayout::Bits16);
  EXPECT_FALSE(out15.QueryPalette().has_value());
}

TEST(Transform, TwentyFourAndThirtyTwoBitResultsCarryNoPalette) {
  TBitmap source;
  MakePicture(source, PixelLayout::Bits24, 2, 2);
  source.ApplyPalette(TPalette{{1, 2, 3}});
  ASSERT_TRUE(source.QueryPalette().has_value());
  TBitmap out;
  EncryptTransform(source, "3", out);
  EXPECT_FALSE(out.QueryPalette().has_value());
  EXPECT_EQ(FileBytes(out).size(), 14u + 40 + 16);
}

TEST(Transform, CustomBitsFailsWithInvalidPixelFormat) {
  // A 32-bit file with masks.
  TMemoryStream file;
  const uint8_t header[] = {'B', 'M', 0,    0, 0, 0,    0, 0, 0,    0, 66, 0, 0, 0, 40, 0, 0, 0,
                            1,   0,   0,    0, 1, 0,    0, 0, 1,    0, 32, 0, 3, 0, 0,  0, 4, 0,
                            0,   0,   0,    0, 0, 0,    0, 0, 0,    0, 0,  0, 0, 0, 0,  0, 0, 0,
                            0,   0,   0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0,  0, 1, 2, 3,  4};
  file.WriteBuffer(header, sizeof header);
  file.Seek(0);
  TBitmap source;
  source.ReadFromStream(file);
  ASSERT_EQ(source.Layout(), PixelLayout::CustomBits);
  TBitmap target;
  try {
    EncryptTransform(source, "1", target);
    FAIL() << "no failure";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Invalid pixel format");
  }
}

TEST(Transform, EmptySourceFailsBeforeDrawingAnyKeystreamByte) {
  TBitmap empty;
  TMemoryStream nothing;
  empty.ReadFromStream(nothing);
  Keystream::setSeed(424242);
  TBitmap target;
  try {
    EncryptTransform(empty, "1", target);
    FAIL() << "no failure";
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.Message(), "Scan line index out of range");
  }
  EXPECT_EQ(Keystream::state(), 424242u);
}

}  // namespace
}  // namespace quorvex
