#include "picture/readers/jpeg2000_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "picture/exceptions.h"
#include "picture/readers/library_reference.h"
#include "picture/readers/reader_test_support.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

const std::string kInvalid = "Cannot load image. Invalid or unexpected JPEG 2000 image format.";

class JPEG2000Reader : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};

void ExpectAsReference(const std::string& decoder, const std::string& picture,
                       const std::string& loaded, PixelLayout layout, int tolerance) {
  const auto bitmap = test::LoadFile<TJPEG2000Graphic>(loaded);
  EXPECT_EQ(bitmap->Layout(), layout);
  if (layout == PixelLayout::Bits8) {
    EXPECT_EQ(bitmap->QueryPalette(), test::GrayRampPalette());
  }
  const auto reference = test::ReferenceDecode(decoder, picture);
  ASSERT_TRUE(reference.has_value()) << decoder << " " << picture;
  EXPECT_EQ(test::CompareWithReference(*bitmap, *reference, tolerance), "");
}

TEST_F(JPEG2000Reader, SharedSamplesLoadAsOpenJPEGsToolDecodesThem) {
  const struct {
    const char* name;
    PixelLayout layout;
  } cases[] = {
      {"jpeg2000/00r0_gray_l.jp2", PixelLayout::Bits8},
      {"jpeg2000/16bit.cropped.j2k", PixelLayout::Bits8},
      {"jpeg2000/16bit.cropped.jp2", PixelLayout::Bits8},
      {"jpeg2000/9bit.j2k", PixelLayout::Bits8},
      {"jpeg2000/balloon.jpf", PixelLayout::Bits24},
      {"jpeg2000/invalid_header_length.jp2", PixelLayout::Bits24},
      {"jpeg2000/issue_6194.j2k", PixelLayout::Bits8},
      {"jpeg2000/rgb_trns_ycbc.jp2", PixelLayout::Bits32},
      {"jpeg2000/test-card-lossless.jp2", PixelLayout::Bits24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = test::TestData(c.name);
    ExpectAsReference("opj_decompress", path, path, c.layout, 1);
  }
}

TEST_F(JPEG2000Reader, ComponentsOfDifferentSamplingAreSpreadOverThePicture) {
  // A grey column sampled every 129th position beside full alpha on a
  // 32x32 grid: opj_decompress refuses it, Pillow shows the grey column
  // alone. Spread over the grid, each row carries that column's level.
  const std::string path = test::TestData("jpeg2000/00r1_graya_la.jp2");
  const auto bitmap = test::LoadFile<TJPEG2000Graphic>(path);
  EXPECT_EQ(bitmap->Layout(), PixelLayout::Bits8);
  ASSERT_EQ(bitmap->ImageWidth(), 32);
  ASSERT_EQ(bitmap->ImageHeight(), 32);
  const auto column = test::ReferencePixels(path);
  ASSERT_TRUE(column.has_value());
  ASSERT_EQ(column->width, 1);
  ASSERT_EQ(column->height, 32);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(bitmap->RowAddress(y)[x], column->rgb[size_t(y) * 3]) << x << ", " << y;
    }
  }
}

TEST_F(JPEG2000Reader, DamagedSamplesFailWithOpenJPEGsReason) {
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {
      {"jpeg2000/balloon_eciRGBv2_aware.jp2", "Stream too short"},
      {"jpeg2000/expected_to_read.jp2", "JP2H box missing. Required."},
      {"jpeg2000/not_enough_data.jp2", "Cannot handle box of less than 8 bytes"},
      {"jpeg2000/zero_height.j2k", "Error with SIZ marker: negative or zero image size (64 x 0)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      test::LoadFile<TJPEG2000Graphic>(test::TestData(c.name));
      ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), kInvalid + " (" + c.reason + ")");
    }
  }
}

TEST_F(JPEG2000Reader, GeneratedPicturesLoadAsTheirSourceOrTheReference) {
  const struct {
    const char* name;
    const char* kind;
    int width, height;
    const char* options;
    const char* extension;
    PixelLayout layout;
    const char* decoder;
    int tolerance;
  } cases[] = {
      // Few resolution levels: the default five need sides of 32 and more.
      {"lossless, odd size", "rgb", 7, 5, "-n 2", ".jp2", PixelLayout::Bits24, "source", 0},
      {"1x1", "rgb", 1, 1, "-n 1", ".j2k", PixelLayout::Bits24, "source", 0},
      {"lossy", "rgb", 33, 17, "-n 3 -r 20", ".jp2", PixelLayout::Bits24, "opj_decompress", 1},
      {"alpha", "rgba", 9, 7, "-n 2", ".jp2", PixelLayout::Bits32, "source", 0},
      {"grey", "grey", 11, 5, "-n 2", ".j2k", PixelLayout::Bits8, "source", 0},
      {"grey and alpha", "greya", 11, 5, "-n 2", ".jp2", PixelLayout::Bits8, "source", 0},
      // Wide samples come down as 16-bit PNG samples do, to the level.
      {"16-bit", "ppm16", 9, 7, "-n 2", ".jp2", PixelLayout::Bits24, "source", 0},
      {"16-bit grey", "pgm16", 9, 7, "-n 2", ".j2k", PixelLayout::Bits8, "source", 0},
      {"12-bit grey", "pgm12", 9, 7, "-n 2", ".j2k", PixelLayout::Bits8, "source", 0},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = test::MakeFixture(dir_, c.kind, c.width, c.height);
    const std::string out = Path("case" + std::to_string(index++) + c.extension);
    ASSERT_TRUE(test::RunTool("opj_compress " + std::string(c.options) + " -i " +
                              test::Quoted(source) + " -o " + test::Quoted(out)));
    const std::string decoder = c.decoder;
    ExpectAsReference(decoder, decoder == "source" ? source : out, out, c.layout, c.tolerance);
  }
}

TEST_F(JPEG2000Reader, SubsampledYCCAndSignedComponentsLoadAsTheReferenceShowsThem) {
  // Raw planes: a full luma plane and two chroma planes of half the size
  // each way (odd sides round up), and a signed grey plane.
  Bytes ycc;
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) ycc.push_back(uint8_t(x * 30 + y * 20));
  }
  for (int plane = 0; plane < 2; ++plane) {
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 4; ++x) ycc.push_back(uint8_t(plane ? 200 - y * 30 : 100 + x * 20));
    }
  }
  Bytes signedGrey;
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) signedGrey.push_back(uint8_t(x * 40 - y * 30));
  }
  const struct {
    const char* name;
    Bytes raw;
    const char* format;
    PixelLayout layout;
  } cases[] = {
      {"YCC 4:2:0", ycc, "7,5,3,8,u@1x1:2x2:2x2", PixelLayout::Bits24},
      {"signed grey", signedGrey, "7,5,1,8,s", PixelLayout::Bits8},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string raw = Path("plane" + std::to_string(index) + ".raw");
    const std::string out = Path("plane" + std::to_string(index++) + ".j2k");
    test::WriteFileBytes(raw, c.raw);
    ASSERT_TRUE(test::RunTool("opj_compress -n 2 -i " + test::Quoted(raw) + " -o " +
                              test::Quoted(out) + " -F " + c.format));
    ExpectAsReference("opj_decompress", out, out, c.layout, 1);
  }
}

TEST_F(JPEG2000Reader, TheContentTestTakesTheSignatureBoxOrACodestream) {
  const struct {
    const char* name;
    Bytes head;
    bool accepted;
  } cases[] = {
      {"signature box", {0, 0, 0, 12, 'j', 'P', ' ', ' ', 13, 10, 0x87, 10}, true},
      {"codestream", {0xFF, 0x4F, 0xFF, 0x51, 0, 0x29}, true},
      {"start of codestream only", {0xFF, 0x4F, 0xFF, 0x52}, false},
      {"signature box cut short", {0, 0, 0, 12, 'j', 'P', ' ', ' ', 13, 10}, false},
      {"JPEG", {0xFF, 0xD8, 0xFF, 0xE0}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream(c.head);
    EXPECT_EQ(TJPEG2000Graphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 0);
  }
}

TEST_F(JPEG2000Reader, ACodestreamClaimingAHugePictureIsRefusedBeforeDecoding) {
  const std::string source = test::MakeFixture(dir_, "grey", 8, 8);
  ASSERT_TRUE(test::RunTool("opj_compress -n 1 -i " + test::Quoted(source) + " -o " +
                            test::Quoted(Path("small.j2k"))));
  Bytes file = test::ReadFileBytes(Path("small.j2k"));
  ASSERT_GT(file.size(), 32u);
  // SIZ: picture and tile sides, 60000 each: 3.4 GB of samples.
  for (size_t field : {8u, 12u, 24u, 28u}) {
    const uint32_t side = 60000;
    for (int i = 0; i < 4; ++i) file[field + i] = uint8_t(side >> (24 - 8 * i));
  }
  EXPECT_THROW(test::LoadBytes<TJPEG2000Graphic>(file), EOutOfResources);
}

TEST_F(JPEG2000Reader, ABoxedFileCutShortFailsWithTheReason) {
  const Bytes good = test::ReadFileBytes(test::TestData("jpeg2000/rgb_trns_ycbc.jp2"));
  const Bytes cut(good.begin(), good.begin() + 60);
  const std::string message = test::FailureOf([&] { test::LoadBytes<TJPEG2000Graphic>(cut); });
  EXPECT_TRUE(message.starts_with(kInvalid + " (")) << message;
}

}  // namespace
}  // namespace quorvex
