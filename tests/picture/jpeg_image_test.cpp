#include "picture/jpeg_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <jpeglib.h>

#include "picture/bitmap.h"
#include "picture/canvas.h"
#include "picture/exceptions.h"
#include "picture/jpeg_limits.h"
#include "picture/picture_loader.h"
#include "picture/stream.h"
#include "support/jpeg_fixtures.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// The picture as libjpeg-turbo's own djpeg writes it (PPM or PGM), with
// djpeg's defaults: the integer DCT and fancy upsampling.
std::optional<test::RgbPicture> Djpeg(const std::string& path, const std::string& options = "") {
  const std::string command = "djpeg -dct int " + options + " -pnm '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) bytes.append(buffer, n);
  ::pclose(pipe);  // djpeg exits with 2 after warnings; its picture still counts
  std::istringstream in(bytes);
  std::string magic;
  int width = 0, height = 0, maxval = 0;
  in >> magic >> width >> height >> maxval;
  if ((magic != "P6" && magic != "P5") || maxval != 255) return std::nullopt;
  in.get();
  const size_t channels = magic == "P6" ? 3 : 1;
  const size_t offset = static_cast<size_t>(in.tellg());
  if (bytes.size() != offset + channels * static_cast<size_t>(width) * height) return std::nullopt;
  test::RgbPicture picture{width, height, {}};
  for (size_t i = offset; i < bytes.size(); ++i) {
    const auto v = static_cast<uint8_t>(bytes[i]);
    for (size_t c = 0; c < 4 - channels; ++c) picture.rgb.push_back(v);  // gray: three times
  }
  return picture;
}

std::unique_ptr<TBitmap> Load(const std::string& path) {
  TPicture picture;
  std::unique_ptr<TBitmap> working;
  LoadPicture(path, picture, working);
  return working;
}

std::unique_ptr<TJPEGImage> Read(const std::vector<uint8_t>& bytes) {
  auto image = std::make_unique<TJPEGImage>();
  TMemoryStream stream(bytes);
  image->ReadFromStream(stream);
  return image;
}

double MeanDifference(const test::RgbPicture& a, const test::RgbPicture& b) {
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(int{a.rgb[i]} - int{b.rgb[i]});
  return sum / static_cast<double>(a.rgb.size());
}

TEST(JpegImage, EveryColourFileDecodesToDjpegsPixels) {
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(test::TestData("jpeg"))) {
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    TJPEGImage header;
    header.LoadFile(path);
    const TJPEGColorSpace space = header.ColorSpace();
    if (space != TJPEGColorSpace::YCbCr && space != TJPEGColorSpace::RGB) continue;

    const auto expected = Djpeg(path);
    ASSERT_TRUE(expected);
    const auto working = Load(path);
    EXPECT_EQ(working->Layout(), PixelLayout::Bits24);
    EXPECT_EQ(test::ComparePictures(*expected, test::BitmapPixels(*working), 0), "");
    ++compared;
  }
  EXPECT_GE(compared, 7);
}

TEST(JpegImage, GrayscaleFileComesOutGrayInAtMost236Levels) {
  const std::string path = test::TestData("jpeg/hopper_gray.jpg");
  TJPEGImage image;
  image.LoadFile(path);
  ASSERT_EQ(image.ColorSpace(), TJPEGColorSpace::Grayscale);
  EXPECT_EQ(image.DecodedBitmap().Layout(), PixelLayout::Bits8);
  EXPECT_LE(image.DecodedBitmap().QueryPalette()->size(), 236u);

  const auto working = Load(path);
  ASSERT_EQ(working->Layout(), PixelLayout::Bits24);
  const test::RgbPicture pixels = test::BitmapPixels(*working);
  std::set<uint8_t> levels;
  for (size_t i = 0; i < pixels.rgb.size(); i += 3) {
    ASSERT_EQ(pixels.rgb[i], pixels.rgb[i + 1]) << "pixel " << i / 3;
    ASSERT_EQ(pixels.rgb[i], pixels.rgb[i + 2]) << "pixel " << i / 3;
    levels.insert(pixels.rgb[i]);
  }
  EXPECT_LE(levels.size(), 236u);
  EXPECT_GT(levels.size(), 100u);  // reduced, not flattened
  // The full-depth decode, within the quantiser's dithering.
  const auto full = Djpeg(path);
  ASSERT_TRUE(full);
  EXPECT_EQ(test::ComparePictures(*full, pixels, 3), "");
  EXPECT_LT(MeanDifference(*full, pixels), 1.0);
}

TEST(JpegImage, CmykComesOutAsThePrintedColours) {
  // Adobe's inverted inks, each taking away from white: the same picture
  // as its RGB sibling, and exactly what Pillow makes of it.
  const std::string path = test::TestData("jpeg/pil_sample_cmyk.jpg");
  TJPEGImage image;
  image.LoadFile(path);
  EXPECT_EQ(image.ColorSpace(), TJPEGColorSpace::YCCK);
  const auto working = Load(path);
  EXPECT_EQ(working->Layout(), PixelLayout::Bits24);
  const test::RgbPicture pixels = test::BitmapPixels(*working);
  const auto pillow = test::ReferencePixels(path);
  ASSERT_TRUE(pillow);
  EXPECT_EQ(test::ComparePictures(*pillow, pixels, 0), "");
  const auto rgb = Djpeg(test::TestData("jpeg/pil_sample_rgb.jpg"));
  ASSERT_TRUE(rgb);
  EXPECT_LT(MeanDifference(*rgb, pixels), 6.0);
}

TEST(JpegImage, EightBitFormatQuantisesColourTo236ColoursAndStillDrawsBits24) {
  const std::string path = test::TestData("jpeg/hopper.jpg");
  const TJPEGSettings saved = JPEGDefaults();
  JPEGDefaults().pixelFormat = TJPEGPixelFormat::Format8Bit;
  const auto working = Load(path);
  JPEGDefaults() = saved;

  ASSERT_EQ(working->Layout(), PixelLayout::Bits24);
  const test::RgbPicture pixels = test::BitmapPixels(*working);
  std::set<uint32_t> colours;
  for (int32_t y = 0; y < working->ImageHeight(); ++y)
    for (int32_t x = 0; x < working->ImageWidth(); ++x) colours.insert(working->PixelColor(x, y));
  EXPECT_LE(colours.size(), 236u);
  EXPECT_LT(MeanDifference(*Djpeg(path), pixels), 6.0);
}

TEST(JpegImage, KeepsTheFileAndDecodesOnce) {
  const auto bytes = test::ReadFileBytes(test::TestData("jpeg/hopper.jpg"));
  const auto read = Read(bytes);
  TJPEGImage& image = *read;
  EXPECT_EQ(image.ImageWidth(), 128);
  EXPECT_EQ(image.ImageHeight(), 128);
  TMemoryStream out;
  image.WriteToStream(out);
  EXPECT_EQ(out.Bytes(), bytes);

  // A copy shares the decoded picture; a bitmap takes it unchanged.
  TJPEGImage copy;
  copy.TakeFrom(&image);
  EXPECT_EQ(&copy.DecodedBitmap(), &image.DecodedBitmap());
  TBitmap bitmap;
  bitmap.TakeFrom(&copy);
  EXPECT_TRUE(bitmap.SharesImageWith(image.DecodedBitmap()));
  EXPECT_EQ(bitmap.Layout(), PixelLayout::Bits24);
  copy.TakeFrom(nullptr);
  EXPECT_TRUE(copy.IsEmpty());
}

TEST(JpegImage, DrawingStretchesAndClipsLikeAnyGraphic) {
  TJPEGImage image;
  image.LoadFile(test::TestData("jpeg/hopper.jpg"));
  const TBitmap& decoded = image.DecodedBitmap();
  TBitmap target;
  target.SetLayout(PixelLayout::Bits24);
  target.SetImageWidth(100);
  target.SetImageHeight(50);
  image.DrawInto(target.Surface(), {-28, 10, 100, 138});  // unstretched, clipped
  EXPECT_EQ(target.PixelColor(0, 10), decoded.PixelColor(28, 0));
  EXPECT_EQ(target.PixelColor(99, 49), decoded.PixelColor(127, 39));
  EXPECT_EQ(target.PixelColor(50, 9), 0xFFFFFFu);
  image.DrawInto(target.Surface(), {0, 0, 64, 64});  // stretched: every other pixel
  EXPECT_EQ(target.PixelColor(10, 20), decoded.PixelColor(20, 40));
}

// Each scan walks the whole picture again; thousands of tiny ones would
// take minutes on a large picture. A small picture may have 100 scans; a
// 4096 x 4096 one (262144 blocks) as many as 2^24 blocks allow.
TEST(JpegImage, ScansPastTheLimitGiveAClearError) {
  const struct {
    uint32_t side;
    size_t scans;
    bool loads;
  } cases[] = {{64, 6, true},     {64, 100, true},  {64, 101, false},
               {64, 4000, false}, {4096, 64, true}, {4096, 65, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.side << " " << c.scans);
    const auto bytes = test::ManyScanJpeg(c.side, c.scans);
    ASSERT_EQ(test::JpegScans(bytes).size(), c.scans);
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    try {
      LoadPictureFromMemory(bytes.data(), bytes.size(), "scans.jpg", picture, working);
      EXPECT_TRUE(c.loads);
      EXPECT_EQ(working->PixelColor(5, 5), 0x808080u);
    } catch (const EJPEG& e) {
      EXPECT_FALSE(c.loads);
      EXPECT_EQ(e.Message(), kJPEGTooManyScans);
    }
  }
}

TEST(JpegImage, APictureItsDataCannotHoldIsRefusedAndTheBestPackedOnesLoad) {
  // A header claiming 16000 x 16000 over one block's worth of data.
  auto header = test::EncodeUniformGrayJpeg(8, 8, false);
  for (size_t i = 0; i + 8 < header.size(); ++i) {
    if (header[i] == 0xFF && header[i + 1] == 0xC0) {
      for (size_t k : {size_t{5}, size_t{7}}) {
        header[i + k] = 16000 >> 8;
        header[i + k + 1] = 16000 & 0xFF;
      }
      break;
    }
  }
  try {
    Read(header);
    ADD_FAILURE() << "a bare header loaded";
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Message(), kJPEGDataTooShort);
  }

  // One level all over packs each block into a handful of bits.
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive);
    const auto bytes = test::EncodeUniformGrayJpeg(2048, 2048, progressive);
    const auto image = Read(bytes);
    EXPECT_EQ(image->ImageWidth(), 2048);
    EXPECT_EQ(image->DecodedBitmap().ImageHeight(), 2048);
  }
}

TEST(JpegImage, BrokenFilesGiveEjpegOrAPictureNeverACrash) {
  // libjpeg's own words, never a bare message number.
  const auto isJpegError = [](const std::string& text) {
    return text.size() > 8 && text.find("JPEG error #") == std::string::npos &&
           text.find("Bogus message code") == std::string::npos;
  };
  const auto check = [&](const std::vector<uint8_t>& bytes, int& failures) {
    try {
      const auto image = Read(bytes);
      TBitmap target;
      target.SetLayout(PixelLayout::Bits24);
      target.SetImageWidth(std::max(image->ImageWidth(), 1));
      target.SetImageHeight(std::max(image->ImageHeight(), 1));
      target.Surface().DrawGraphic(0, 0, image.get());
    } catch (const EJPEG& e) {
      EXPECT_TRUE(isJpegError(e.Message())) << e.Message();
      ++failures;
    }
  };

  int failures = 0;
  for (const char* name : {"malformed/jpeg/truncated_jpeg.jpg", "jpeg/junk_jpeg_header.jpg",
                           "jpeg/jpeg_ff00_header.jpg"}) {
    SCOPED_TRACE(name);
    check(test::ReadFileBytes(test::TestData(name)), failures);
  }

  const auto hopper = test::ReadFileBytes(test::TestData("jpeg/hopper.jpg"));
  for (size_t length : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{20}, size_t{200},
                        size_t{600}, size_t{2000}, hopper.size() / 2, hopper.size() - 1}) {
    SCOPED_TRACE(length);
    check({hopper.begin(), hopper.begin() + static_cast<ptrdiff_t>(length)}, failures);
  }
  // Bytes flipped all over the file, header included.
  uint32_t seed = 12345;
  for (int round = 0; round < 200; ++round) {
    auto bytes = hopper;
    for (int k = 0; k < 4; ++k) {
      seed = seed * 1103515245 + 12345;
      bytes[(seed >> 8) % bytes.size()] ^= static_cast<uint8_t>(1 + (seed >> 24) % 255);
    }
    check(bytes, failures);
  }
  EXPECT_GT(failures, 10);

  const std::pair<std::vector<uint8_t>, std::string> messages[] = {
      {{'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'},
       "Not a JPEG file: starts with 0x6e 0x6f"},
      {{hopper.begin(), hopper.begin() + 200}, "JPEG datastream contains no image"},
  };
  for (const auto& [bytes, message] : messages) {
    try {
      Read(bytes);
      ADD_FAILURE() << "no exception for " << message;
    } catch (const EJPEG& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
}

}  // namespace
}  // namespace quorvex
