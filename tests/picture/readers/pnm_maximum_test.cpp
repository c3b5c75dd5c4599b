// Portable maps whose maximum is below 255, against netpbm's pamdepth and
// Pillow, which both stretch them to 0..255, rounded to the nearest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/readers/library_reference.h"
#include "picture/readers/ppm_reader.h"
#include "picture/readers/reader_test_support.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

using Bytes = std::vector<uint8_t>;

// A picture of every level 0 to `maximum` in turn, 17 pixels wide.
Bytes PortableMap(int type, uint32_t maximum, uint32_t height) {
  const uint32_t width = 17;
  const bool color = type == 3 || type == 6;
  const bool text = type <= 3;
  std::string head = "P" + std::to_string(type) + "\n" + std::to_string(width) + " " +
                     std::to_string(height) + "\n" + std::to_string(maximum) + "\n";
  Bytes file(head.begin(), head.end());
  uint32_t n = 0;
  for (uint32_t i = 0; i < width * height * (color ? 3 : 1); ++i, n = (n * 7 + 3) % (maximum + 1)) {
    if (text) {
      const std::string number = std::to_string(n) + (i % 9 == 8 ? "\n" : " ");
      file.insert(file.end(), number.begin(), number.end());
    } else {
      file.push_back(static_cast<uint8_t>(n));
    }
  }
  return file;
}

TEST(PNMMaximum, LowMaximaStretchAsPamdepthAndPillowDo) {
  const std::string dir = test::MakeTempDir();
  for (int type : {2, 3, 5, 6}) {
    for (uint32_t maximum : {1u, 15u, 100u}) {
      SCOPED_TRACE("P" + std::to_string(type) + ", maximum " + std::to_string(maximum));
      const std::string path = dir + "/low.pnm";
      const std::string stretched = dir + "/stretched.pnm";
      const Bytes file = PortableMap(type, maximum, 5);
      test::WriteFileBytes(path, file);
      ASSERT_TRUE(test::RunTool("(pamdepth 255 " + test::Quoted(path) + " > " +
                                test::Quoted(stretched) + ")"));
      const auto bitmap = test::LoadBytes<TPPMGraphic>(file);
      EXPECT_EQ(bitmap->Layout(), type % 3 == 0 ? PixelLayout::Bits24 : PixelLayout::Bits8);
      test::ExpectReferencePixels(stretched, *bitmap);
      // Pillow's float arithmetic rounds some halves down.
      test::ExpectReferencePixels(path, *bitmap, 1);
    }
  }
}

TEST(PNMMaximum, ValuesAboveALowMaximumAreWhiteAndAZeroMaximumIsRefused) {
  const auto bitmap = test::LoadBytes<TPPMGraphic>(test::Text("P5\n4 1\n15\n\x0F\x10\x80\xFF"));
  EXPECT_EQ(test::Row(*bitmap, 0, 4), Bytes(4, 255));
  const auto text = test::LoadBytes<TPPMGraphic>(test::Text("P2\n2 1\n3\n1 9\n"));
  EXPECT_EQ(test::Row(*text, 0, 2), (Bytes{85, 255}));
  EXPECT_EQ(test::FailureOf([] { test::LoadBytes<TPPMGraphic>(test::Text("P5\n2 1\n0\n\0\0")); }),
            "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format.");
}

}  // namespace
}  // namespace quorvex
