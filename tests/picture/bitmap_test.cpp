#include "picture/bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#include "picture/exceptions.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

void Sized(TBitmap& bitmap, PixelLayout layout, int32_t width, int32_t height) {
  bitmap.SetLayout(layout);
  bitmap.SetImageWidth(width);
  bitmap.SetImageHeight(height);
}

template <typename E>
std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& e) {
    return e.Message();
  }
  return "no failure";
}

TEST(Bitmap, StrideIsPaddedToFourBytes) {
  const struct {
    PixelLayout layout;
    int32_t width;
    uint64_t stride;
  } cases[] = {
      {PixelLayout::Bits1, 1, 4},   {PixelLayout::Bits1, 33, 8},  {PixelLayout::Bits4, 9, 8},
      {PixelLayout::Bits8, 5, 8},   {PixelLayout::Bits15, 3, 8},  {PixelLayout::Bits16, 2, 4},
      {PixelLayout::Bits24, 3, 12}, {PixelLayout::Bits24, 4, 12}, {PixelLayout::Bits32, 3, 12},
  };
  for (const auto& c : cases) {
    TBitmap bitmap;
    Sized(bitmap, c.layout, c.width, 2);
    EXPECT_EQ(bitmap.Layout(), c.layout);
    EXPECT_EQ(bitmap.Stride(), c.stride) << PixelLayoutName(c.layout) << " width " << c.width;
  }
}

TEST(Bitmap, RowAddressesRunBottomUpAndAllowOneRowPastTheImage) {
  TBitmap bitmap;
  Sized(bitmap, PixelLayout::Bits24, 3, 4);
  const uint8_t* top = bitmap.RowAddress(0);
  const uint8_t* bottom = bitmap.RowAddress(3);
  EXPECT_EQ(top - bottom, 36);  // row 0 is the last stride-sized block
  const auto past = reinterpret_cast<uintptr_t>(bitmap.RowAddress(4));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(bottom) - past, 12u);
  for (int32_t y : {-1, 5}) {
    EXPECT_EQ(MessageOf<EInvalidGraphicOperation>([&] { bitmap.RowAddress(y); }),
              "Scan line index out of range");
  }

  TBitmap oneRow;
  Sized(oneRow, PixelLayout::Bits8, 5, 1);
  const auto r0 = reinterpret_cast<uintptr_t>(oneRow.RowAddress(0));
  const auto r1 = reinterpret_cast<uintptr_t>(oneRow.RowAddress(1));
  EXPECT_EQ(r0 - r1, oneRow.Stride());
  EXPECT_EQ(MessageOf<EInvalidGraphicOperation>([&] { oneRow.RowAddress(2); }),
            "Scan line index out of range");

  TBitmap empty;
  EXPECT_EQ(MessageOf<EInvalidGraphicOperation>([&] { empty.RowAddress(1); }),
            "Scan line index out of range");
}

TEST(Bitmap, NewBitmapIsWhiteOnceBothSizesAreSet) {
  TBitmap bitmap;
  bitmap.SetLayout(PixelLayout::Bits24);
  bitmap.SetImageWidth(3);
  EXPECT_TRUE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.Layout(), PixelLayout::DeviceBitmap);
  bitmap.SetImageHeight(2);
  ASSERT_FALSE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits24);
  for (int32_t y = 0; y < 2; ++y) {
    const uint8_t* row = bitmap.RowAddress(y);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(row[i], 0xFF);
    for (int i = 9; i < 12; ++i) EXPECT_EQ(row[i], 0x00);  // padding is not filled
  }
  // Every layout's white fill reads back as white.
  for (auto layout : {PixelLayout::Bits1, PixelLayout::Bits4, PixelLayout::Bits8,
                      PixelLayout::Bits15, PixelLayout::Bits16, PixelLayout::Bits32}) {
    TBitmap b;
    Sized(b, layout, 5, 3);
    EXPECT_EQ(b.PixelColor(4, 2), 0xFFFFFFu) << PixelLayoutName(layout);
  }
}

TEST(Bitmap, SizedWithoutLayoutIsADeviceBitmapUntilALayoutIsSet) {
  TBitmap bitmap;
  bitmap.SetImageWidth(4);
  bitmap.SetImageHeight(4);
  EXPECT_FALSE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.Layout(), PixelLayout::DeviceBitmap);
  bitmap.SetLayout(PixelLayout::Bits8);
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits8);
  EXPECT_EQ(bitmap.PixelColor(0, 0), 0xFFFFFFu);
  EXPECT_EQ(bitmap.QueryPalette()->size(), 256u);
}

TEST(Bitmap, ResizeKeepsThePictureAtTheTopLeftOnWhite) {
  TBitmap bitmap;
  Sized(bitmap, PixelLayout::Bits24, 2, 2);
  bitmap.RowAddress(0)[0] = 0x11;  // top-left blue byte
  bitmap.RowAddress(1)[3] = 0x22;  // bottom-right blue byte
  bitmap.SetImageWidth(3);
  bitmap.SetImageHeight(3);
  EXPECT_EQ(bitmap.RowAddress(0)[0], 0x11);
  EXPECT_EQ(bitmap.RowAddress(1)[3], 0x22);
  EXPECT_EQ(bitmap.PixelColor(2, 2), 0xFFFFFFu);
  bitmap.SetImageWidth(1);
  EXPECT_EQ(bitmap.RowAddress(0)[0], 0x11);
  bitmap.SetImageHeight(0);
  EXPECT_TRUE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.ImageWidth(), 1);
}

TEST(Bitmap, ResizeFillsWithTheColourPassedAndWhiteOtherwise) {
  TBitmap bitmap;
  Sized(bitmap, PixelLayout::Bits24, 2, 1);
  bitmap.RowAddress(0)[0] = 0x11;
  bitmap.SetImageSize(3, 2, 0x204060);
  EXPECT_EQ(bitmap.RowAddress(0)[0], 0x11);
  EXPECT_EQ(bitmap.PixelColor(2, 0), 0x204060u);
  EXPECT_EQ(bitmap.PixelColor(0, 1), 0x204060u);
  bitmap.SetImageWidth(4);
  EXPECT_EQ(bitmap.PixelColor(3, 0), 0xFFFFFFu);
  EXPECT_EQ(bitmap.PixelColor(2, 0), 0x204060u);
}

TEST(Bitmap, LayoutChangesKeepColours) {
  TBitmap bitmap;
  Sized(bitmap, PixelLayout::Bits24, 2, 1);
  uint8_t* row = bitmap.RowAddress(0);
  row[0] = 0;  // pixel 0 red
  row[1] = 0;
  row[2] = 255;
  row[3] = 255;  // pixel 1 blue
  row[4] = 0;
  row[5] = 0;
  for (auto layout : {PixelLayout::Bits32, PixelLayout::Bits16, PixelLayout::Bits15,
                      PixelLayout::Bits8, PixelLayout::Bits4, PixelLayout::Bits24}) {
    bitmap.SetLayout(layout);
    EXPECT_EQ(bitmap.Layout(), layout);
    EXPECT_EQ(bitmap.PixelColor(0, 0), 0xFF0000u) << PixelLayoutName(layout);
    EXPECT_EQ(bitmap.PixelColor(1, 0), 0x0000FFu) << PixelLayoutName(layout);
  }
  EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { bitmap.SetLayout(PixelLayout::CustomBits); }),
            "Invalid pixel format");
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits24);
  EXPECT_EQ(bitmap.PixelColor(0, 0), 0xFF0000u);
}

TEST(Bitmap, StartingPalettesOfTheLayouts) {
  TBitmap four, one;
  Sized(four, PixelLayout::Bits4, 1, 1);
  EXPECT_EQ(four.QueryPalette(), StandardPalette16());
  EXPECT_EQ((*four.QueryPalette())[8], (TRGB{192, 192, 192}));
  Sized(one, PixelLayout::Bits1, 1, 1);
  EXPECT_EQ(one.QueryPalette(), (TPalette{{0, 0, 0}, {255, 255, 255}}));
}

TEST(Bitmap, ApplyPaletteFillsTheTableAndKeepsColours) {
  TBitmap bitmap;
  Sized(bitmap, PixelLayout::Bits8, 2, 1);
  const TPalette palette{{255, 255, 255}, {10, 20, 30}};
  bitmap.ApplyPalette(palette);
  EXPECT_EQ(bitmap.QueryPalette(), palette);
  ASSERT_EQ(bitmap.ColorTable().size(), 256u);
  EXPECT_EQ(bitmap.ColorTable()[1], 0x0A141Eu);
  EXPECT_EQ(bitmap.ColorTable()[2], 0u);  // entries past the palette are zero
  EXPECT_EQ(bitmap.PixelColor(0, 0), 0xFFFFFFu);

  // Above 8 bits the palette is only attached.
  TBitmap direct;
  Sized(direct, PixelLayout::Bits24, 1, 1);
  direct.RowAddress(0)[0] = 7;
  direct.ApplyPalette(palette);
  EXPECT_EQ(direct.QueryPalette(), palette);
  EXPECT_EQ(direct.RowAddress(0)[0], 7);
  direct.ApplyPalette(std::nullopt);
  EXPECT_FALSE(direct.QueryPalette().has_value());
}

TEST(Bitmap, CopyPaletteGivesNoneForNoneAndEmpty) {
  EXPECT_FALSE(copyPalette(std::nullopt).has_value());
  EXPECT_FALSE(copyPalette(TPalette{}).has_value());
  EXPECT_EQ(copyPalette(TPalette{{1, 2, 3}}), (TPalette{{1, 2, 3}}));
}

TEST(Bitmap, TakeFromSharesUntilTheFirstChange) {
  TBitmap source;
  Sized(source, PixelLayout::Bits8, 4, 2);
  source.RowAddress(0)[0] = 5;
  TBitmap copy;
  copy.TakeFrom(&source);
  EXPECT_TRUE(copy.SharesImageWith(source));
  EXPECT_EQ(std::as_const(copy).RowAddress(0)[0], 5);
  EXPECT_TRUE(copy.SharesImageWith(source));  // reading keeps it shared

  copy.RowAddress(0)[0] = 9;
  EXPECT_FALSE(copy.SharesImageWith(source));
  EXPECT_EQ(source.RowAddress(0)[0], 5);
  EXPECT_EQ(copy.RowAddress(0)[0], 9);

  copy.TakeFrom(nullptr);
  EXPECT_TRUE(copy.IsEmpty());
  EXPECT_EQ(copy.Layout(), PixelLayout::DeviceBitmap);
}

class NotABitmap : public TGraphic {
 public:
  std::string ClassName() const override { return "TStranger"; }
  bool IsEmpty() const override { return true; }
  int32_t ImageWidth() const override { return 0; }
  int32_t ImageHeight() const override { return 0; }
  void SetImageWidth(int32_t) override {}
  void SetImageHeight(int32_t) override {}
  void ReadFromStream(TStream&) override {}
  void WriteToStream(TStream&) const override {}
};

TEST(Bitmap, TakeFromAGraphicThatCannotCopyItself) {
  TBitmap bitmap;
  Sized(bitmap, PixelLayout::Bits24, 1, 1);
  NotABitmap stranger;
  EXPECT_EQ(MessageOf<EConvertError>([&] { bitmap.TakeFrom(&stranger); }),
            "Cannot assign a TStranger to a TBitmap");
  EXPECT_FALSE(bitmap.IsEmpty());
}

TEST(Bitmap, HugeSizesFailWithOutOfResourcesAndLeaveTheBitmap) {
  TBitmap bitmap;
  Sized(bitmap, PixelLayout::Bits32, 2, 2);
  EXPECT_EQ(MessageOf<EOutOfResources>([&] { bitmap.SetImageWidth(1 << 30); }),
            "Out of system resources");
  EXPECT_EQ(bitmap.ImageWidth(), 2);
  EXPECT_FALSE(bitmap.IsEmpty());
}

TEST(Bitmap, ReallocateGivesTheLayoutsStartingStateAtTheNewSize) {
  TBitmap bitmap;
  Sized(bitmap, PixelLayout::Bits24, 5, 5);
  bitmap.Reallocate(3, 2, PixelLayout::Bits4);
  EXPECT_EQ(bitmap.ImageWidth(), 3);
  EXPECT_EQ(bitmap.ImageHeight(), 2);
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits4);
  EXPECT_EQ(bitmap.QueryPalette(), StandardPalette16());
  EXPECT_EQ(bitmap.Stride(), 4u);
  // A given palette ends as ApplyPalette leaves it.
  const TPalette three{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  TBitmap applied;
  Sized(applied, PixelLayout::Bits8, 3, 2);
  applied.ApplyPalette(three);
  bitmap.Reallocate(3, 2, PixelLayout::Bits8, three);
  EXPECT_EQ(bitmap.QueryPalette(), applied.QueryPalette());
  EXPECT_EQ(bitmap.ColorTable(), applied.ColorTable());
  bitmap.Reallocate(0, 7, PixelLayout::Bits8);
  EXPECT_TRUE(bitmap.IsEmpty());
  for (PixelLayout layout : {PixelLayout::DeviceBitmap, PixelLayout::CustomBits}) {
    EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { bitmap.Reallocate(1, 1, layout); }),
              "Invalid pixel format");
  }
  EXPECT_EQ(
      MessageOf<EOutOfResources>([&] { bitmap.Reallocate(1 << 30, 1 << 10, PixelLayout::Bits32); }),
      "Out of system resources");
}

TEST(Bitmap, StorageHandedOnToTheNextPictureComesBackZeroed) {
  // A freed large block is kept for the next one of its size; a picture
  // must never start with the bytes of the one before.
  constexpr size_t kSize = size_t{6} << 20;
  const uint8_t* first = nullptr;
  {
    TPixelStorage storage(kSize);
    std::memset(storage.Data(), 0xAB, kSize);
    first = storage.Data();
  }
  TPixelStorage again(kSize - 100);
  EXPECT_EQ(again.Data(), first) << "the block was not handed on";
  EXPECT_EQ(std::count(again.Data(), again.Data() + again.Size(), 0), ptrdiff_t(kSize - 100));
}

}  // namespace
}  // namespace quorvex
