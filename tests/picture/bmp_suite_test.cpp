// The BMP Suite: real files made by another project, checked against Pillow.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

std::string Suite(const std::string& name) {
  return test::TestData("bmp/bmpsuite/" + name);
}

TEST(BmpSuite, GoodFilesLoadWithTheirLayoutAndPillowsPixels) {
  const std::map<std::string, PixelLayout> layouts = {
      {"pal1.bmp", PixelLayout::Bits1},          {"pal1bg.bmp", PixelLayout::Bits1},
      {"pal1wb.bmp", PixelLayout::Bits1},        {"pal4.bmp", PixelLayout::Bits4},
      {"pal8-0.bmp", PixelLayout::Bits8},        {"pal8.bmp", PixelLayout::Bits8},
      {"pal8nonsquare.bmp", PixelLayout::Bits8}, {"pal8os2.bmp", PixelLayout::Bits8},
      {"pal8topdown.bmp", PixelLayout::Bits8},   {"pal8v4.bmp", PixelLayout::Bits8},
      {"pal8v5.bmp", PixelLayout::Bits8},        {"pal8w124.bmp", PixelLayout::Bits8},
      {"pal8w125.bmp", PixelLayout::Bits8},      {"pal8w126.bmp", PixelLayout::Bits8},
      {"rgb16-565.bmp", PixelLayout::Bits16},    {"rgb16-565pal.bmp", PixelLayout::Bits16},
      {"rgb16.bmp", PixelLayout::Bits15},        {"rgb24.bmp", PixelLayout::Bits24},
      {"rgb24pal.bmp", PixelLayout::Bits24},     {"rgb32.bmp", PixelLayout::Bits32},
      {"rgb32bf.bmp", PixelLayout::CustomBits},  {"pal4rle.bmp", PixelLayout::Bits4},
      {"pal8rle.bmp", PixelLayout::Bits8},
  };
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(Suite("g"))) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ++seen;
    TBitmap bitmap;
    ASSERT_TRUE(layouts.count(name)) << "unexpected file";
    bitmap.LoadFile(entry.path().string());
    EXPECT_EQ(bitmap.Layout(), layouts.at(name));
    // Pillow here drops the last pixel of odd RLE4 literal runs.
    const auto reference = name == "pal4rle.bmp" ? test::ImageMagickPixels(entry.path().string())
                                                 : test::ReferencePixels(entry.path().string());
    ASSERT_TRUE(reference.has_value()) << "no reference decode";
    // 5- and 6-bit channels are widened by rounding here and by bit
    // replication in Pillow; the two differ by at most one.
    const int tolerance = bitmap.BitsPerPixel() == 16 ? 1 : 0;
    EXPECT_EQ(test::ComparePictures(*reference, test::BitmapPixels(bitmap), tolerance), "");
  }
  EXPECT_EQ(seen, layouts.size());
}

TEST(BmpSuite, DataOffsetsPlaceThePixelsAsPillowDoes) {
  // A gap between the colour table and the pixels, and an OS/2 table whose
  // length follows from the offset.
  for (const char* file : {"q/pal8offs.bmp", "q/pal8os2sp.bmp"}) {
    SCOPED_TRACE(file);
    TBitmap bitmap;
    bitmap.LoadFile(Suite(file));
    const auto reference = test::ReferencePixels(Suite(file));
    ASSERT_TRUE(reference.has_value()) << "Pillow could not decode it";
    EXPECT_EQ(test::ComparePictures(*reference, test::BitmapPixels(bitmap), 0), "");
  }
}

TEST(BmpSuite, QuestionableAndBadFilesLoadOrFailWithAKnownMessage) {
  const std::set<std::string> messages = {"Bitmap image is not valid", "Stream read error",
                                          "Out of system resources"};
  const std::pair<const char*, size_t> folders[] = {{"q", 23}, {"b", 14}};
  for (const auto& [folder, count] : folders) {
    size_t seen = 0;
    for (const auto& entry : fs::directory_iterator(Suite(folder))) {
      SCOPED_TRACE(entry.path().string());
      ++seen;
      TBitmap bitmap;
      try {
        bitmap.LoadFile(entry.path().string());
        EXPECT_FALSE(bitmap.IsEmpty());
        test::BitmapPixels(bitmap);  // every pixel is readable
      } catch (const Exception& e) {
        EXPECT_TRUE(messages.count(e.Message())) << e.Message();
      }
    }
    EXPECT_EQ(seen, count) << folder;
  }
}

TEST(BmpSuite, SelectedOutcomes) {
  const std::pair<const char*, const char*> cases[] = {
      {"b/badbitcount.bmp", "Bitmap image is not valid"},
      {"b/badplanes.bmp", "Bitmap image is not valid"},
      {"b/badrle.bmp", "loaded"},  // runs past the picture are cut
      {"b/reallybig.bmp", "Out of system resources"},
      {"q/pal2.bmp", "Bitmap image is not valid"},
      {"q/rgb24jpeg.bmp", "Stream read error"},
      {"q/rgb24png.bmp", "Stream read error"},
      {"b/shortfile.bmp", "loaded"},
      {"q/pal8oversizepal.bmp", "loaded"},
  };
  for (const auto& [file, expected] : cases) {
    TBitmap bitmap;
    std::string outcome = "loaded";
    try {
      bitmap.LoadFile(Suite(file));
    } catch (const Exception& e) {
      outcome = e.Message();
    }
    EXPECT_EQ(outcome, expected) << file;
  }
}

}  // namespace
}  // namespace quorvex
