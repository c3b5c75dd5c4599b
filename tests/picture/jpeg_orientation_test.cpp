// JPEG files whose EXIF block says how to turn them, as phones write them:
// shown upright, as Pillow's exif_transpose shows them, at full size and in
// the reduced decodes of the gallery.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/jpeg_image.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/readers/library_reference.h"
#include "picture/readers/reader_test_support.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v, bool big) {
  b.push_back(static_cast<uint8_t>(big ? v >> 8 : v));
  b.push_back(static_cast<uint8_t>(big ? v : v >> 8));
}

void Put32(Bytes& b, uint32_t v, bool big) {
  Put16(b, big ? v >> 16 : v & 0xFFFF, big);
  Put16(b, big ? v & 0xFFFF : v >> 16, big);
}

// An APP1 segment "Exif\0\0" whose first directory holds a Make tag and
// the orientation tag.
Bytes ExifSegment(uint16_t orientation, bool bigEndian) {
  Bytes tiff = bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
  Put16(tiff, 42, bigEndian);
  Put32(tiff, 8, bigEndian);
  Put16(tiff, 2, bigEndian);
  Put16(tiff, 0x010F, bigEndian);  // Make, ASCII, "Ph" inline
  Put16(tiff, 2, bigEndian);
  Put32(tiff, 3, bigEndian);
  tiff.insert(tiff.end(), {'P', 'h', 0, 0});
  Put16(tiff, 0x0112, bigEndian);  // Orientation, SHORT
  Put16(tiff, 3, bigEndian);
  Put32(tiff, 1, bigEndian);
  Put16(tiff, orientation, bigEndian);
  Put16(tiff, 0, bigEndian);
  Put32(tiff, 0, bigEndian);
  Bytes segment = {0xFF, 0xE1};
  Put16(segment, static_cast<uint32_t>(2 + 6 + tiff.size()), true);
  segment.insert(segment.end(), {'E', 'x', 'i', 'f', 0, 0});
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  return segment;
}

// The JPEG with `segment` right after its start marker.
Bytes WithSegment(const Bytes& jpeg, const Bytes& segment) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

// A photo-like colour JPEG without EXIF, made by ImageMagick.
Bytes PlainJpeg(const std::string& dir, int width, int height) {
  const std::string png = test::MakeFixture(dir, "rgb", width, height);
  const std::string jpg = dir + "/plain.jpg";
  test::RunTool("/usr/bin/convert " + test::Quoted(png) + " -quality 92 " + test::Quoted(jpg));
  return test::ReadFileBytes(jpg);
}

std::unique_ptr<TBitmap> LoadThroughTheLoader(const std::string& path,
                                              const TJPEGScaleRule& rule = {}) {
  TPicture picture;
  std::unique_ptr<TBitmap> working;
  LoadPicture(path, picture, working, rule);
  return working;
}

TEST(JpegOrientation, EveryOrientationComesOutAsPillowTurnsIt) {
  const std::string dir = test::MakeTempDir();
  const Bytes plain = PlainJpeg(dir, 37, 23);
  for (bool bigEndian : {false, true}) {
    for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
      SCOPED_TRACE(std::string(bigEndian ? "MM" : "II") + ", orientation " +
                   std::to_string(orientation));
      const std::string path = dir + "/turned.jpg";
      test::WriteFileBytes(path, WithSegment(plain, ExifSegment(orientation, bigEndian)));
      TJPEGImage image;
      image.LoadFile(path);
      const bool quarter = orientation >= 5;
      EXPECT_EQ(image.ImageWidth(), quarter ? 23 : 37);
      EXPECT_EQ(image.ImageHeight(), quarter ? 37 : 23);
      const auto working = LoadThroughTheLoader(path);
      EXPECT_EQ(working->Layout(), PixelLayout::Bits24);
      const auto reference = test::ReferencePixels(path, true);
      ASSERT_TRUE(reference.has_value());
      EXPECT_EQ(test::ComparePictures(*reference, test::BitmapPixels(*working), 1), "");
    }
  }
}

TEST(JpegOrientation, ReducedDecodesForThumbnailsAreTurnedToo) {
  const std::string dir = test::MakeTempDir();
  const Bytes plain = PlainJpeg(dir, 160, 96);
  const TJPEGScaleRule eighth = [](int32_t, int32_t) { return TJPEGScale::Eighth; };
  for (uint16_t orientation : {3, 6, 8}) {
    SCOPED_TRACE(orientation);
    const std::string path = dir + "/turned.jpg";
    test::WriteFileBytes(path, WithSegment(plain, ExifSegment(orientation, false)));
    const auto full = LoadThroughTheLoader(path);
    const auto reduced = LoadThroughTheLoader(path, eighth);
    ASSERT_EQ(reduced->ImageWidth() * 8, full->ImageWidth());
    ASSERT_EQ(reduced->ImageHeight() * 8, full->ImageHeight());
    // Each reduced pixel is near the middle of its 8 x 8 block; the pattern
    // changes slowly, a wrong turn by far more.
    for (int32_t y = 0; y < reduced->ImageHeight(); ++y) {
      for (int32_t x = 0; x < reduced->ImageWidth(); ++x) {
        const uint32_t a = reduced->PixelColor(x, y);
        const uint32_t b = full->PixelColor(8 * x + 4, 8 * y + 4);
        for (int shift : {0, 8, 16}) {
          ASSERT_LE(std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)), 16)
              << x << "," << y;
        }
      }
    }
  }
}

TEST(JpegOrientation, DamagedOrOtherSegmentsLeaveThePictureAsStored) {
  const std::string dir = test::MakeTempDir();
  const Bytes plain = PlainJpeg(dir, 37, 23);
  Bytes cut = ExifSegment(6, false);
  cut.resize(cut.size() - 14);  // the directory ends inside the orientation entry
  cut[3] = static_cast<uint8_t>(cut.size() - 2);
  const std::string id("http://ns.adobe.com/xap/1.0/", 29);  // with its zero byte
  const Bytes tail = ExifSegment(6, false);
  // A TIFF block, but not in an EXIF segment.
  Bytes xmp = test::Concat(
      {{0xFF, 0xE1, 0, 0}, Bytes(id.begin(), id.end()), Bytes(tail.begin() + 10, tail.end())});
  xmp[3] = static_cast<uint8_t>(xmp.size() - 2);
  const struct {
    const char* name;
    Bytes segment;
  } cases[] = {{"cut short", cut},
               {"not EXIF", xmp},
               {"orientation 9", ExifSegment(9, true)},
               {"orientation 0", ExifSegment(0, false)}};
  const auto upright = test::LoadBytes<TJPEGImage>(plain);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto image = test::LoadBytes<TJPEGImage>(WithSegment(plain, c.segment));
    EXPECT_EQ(image->ImageWidth(), 37);
    EXPECT_EQ(test::StorageBytes(image->DecodedBitmap()),
              test::StorageBytes(upright->DecodedBitmap()));
  }
}

}  // namespace
}  // namespace quorvex
