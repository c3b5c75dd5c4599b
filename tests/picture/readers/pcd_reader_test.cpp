#include "picture/readers/pcd_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

constexpr const char* kInvalid = "Cannot load image. Invalid or unexpected PCD image format.";
constexpr size_t kPackSize = TPCDLayout::kBaseOffset + TPCDLayout::kBaseSize;

// An image pack of one flat gray (luma 128, which is 174 once scaled by
// 1.3584; neutral chroma 156 and 137) whose stored top-left 2 x 2 block
// alone has red chroma.
std::vector<uint8_t> SyntheticPack(uint8_t orientation) {
  std::vector<uint8_t> pack(kPackSize, 0);
  std::memcpy(pack.data() + TPCDLayout::kInfoOffset, "PCD_IPI", 7);
  pack[TPCDLayout::kOrientationOffset] = orientation;
  for (int32_t pair = 0; pair < TPCDLayout::kBaseHeight / 2; ++pair) {
    uint8_t* rows = pack.data() + TPCDLayout::kBaseOffset + size_t(pair) * TPCDLayout::kRowPairSize;
    std::memset(rows, 128, 2 * TPCDLayout::kBaseWidth);
    std::memset(rows + 2 * TPCDLayout::kBaseWidth, 156, TPCDLayout::kBaseWidth / 2);
    std::memset(rows + 2 * TPCDLayout::kBaseWidth + TPCDLayout::kBaseWidth / 2, 137,
                TPCDLayout::kBaseWidth / 2);
  }
  pack[TPCDLayout::kBaseOffset + 2 * TPCDLayout::kBaseWidth + TPCDLayout::kBaseWidth / 2] = 200;
  return pack;
}

test::RgbPicture Load(const std::vector<uint8_t>& bytes) {
  TPCDGraphic graphic;
  TMemoryStream stream(bytes);
  graphic.ReadFromStream(stream);
  EXPECT_EQ(graphic.Layout(), PixelLayout::Bits24);
  return test::BitmapPixels(graphic);
}

const uint8_t* Pixel(const test::RgbPicture& picture, int32_t x, int32_t y) {
  return picture.rgb.data() + (size_t(y) * picture.width + x) * 3;
}

// Where the stored scan's top-left corner ends up for each orientation.
struct OrientationCase {
  uint8_t orientation;
  int32_t width;
  int32_t height;
  int32_t cornerX;
  int32_t cornerY;
};

class PCDOrientationTest : public testing::TestWithParam<OrientationCase> {};

TEST_P(PCDOrientationTest, TurnsTheScanUpright) {
  const OrientationCase& c = GetParam();
  const auto picture = Load(SyntheticPack(c.orientation));
  ASSERT_EQ(picture.width, c.width);
  ASSERT_EQ(picture.height, c.height);
  for (int32_t y = 0; y < c.height; ++y) {
    for (int32_t x = 0; x < c.width; ++x) {
      // The 2 x 2 block that shares the corner's chroma sample.
      const bool inX = c.cornerX == 0 ? x <= 1 : x >= c.cornerX - 1;
      const bool inY = c.cornerY == 0 ? y <= 1 : y >= c.cornerY - 1;
      const bool corner = inX && inY;
      const uint8_t* p = Pixel(picture, x, y);
      if (corner) {
        ASSERT_EQ(p[0], 255) << x << "," << y;  // red raised
        ASSERT_LT(p[1], 150) << x << "," << y;  // green lowered
        ASSERT_EQ(p[2], 174) << x << "," << y;  // blue untouched
      } else {
        ASSERT_TRUE(p[0] == 174 && p[1] == 174 && p[2] == 174) << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Orientations, PCDOrientationTest,
    testing::Values(OrientationCase{0, 768, 512, 0, 0}, OrientationCase{1, 512, 768, 0, 767},
                    OrientationCase{2, 768, 512, 767, 511}, OrientationCase{3, 512, 768, 511, 0},
                    // Only the low two bits count.
                    OrientationCase{0xFC, 768, 512, 0, 0}),
    [](const auto& info) { return "orientation_" + std::to_string(info.param.orientation); });

// Pillow converts Photo YCC with its own formula and rounding, so the
// colours are compared within a tolerance; the mean difference is checked
// too so that a shifted chroma plane cannot hide under it.
TEST(PCDReaderTest, HopperMatchesReferenceDecoder) {
  const std::string path = test::TestData("pcd/hopper.pcd");
  const auto reference = test::ReferencePixels(path);
  ASSERT_TRUE(reference.has_value());
  TPCDGraphic graphic;
  TFileStream stream(path, TFileStream::Mode::OpenRead);
  graphic.ReadFromStream(stream);
  const auto pixels = test::BitmapPixels(graphic);
  ASSERT_EQ(pixels.width, reference->width);
  ASSERT_EQ(pixels.height, reference->height);
  int maximum = 0;
  double total = 0;
  for (size_t i = 0; i < pixels.rgb.size(); ++i) {
    const int difference = std::abs(int{pixels.rgb[i]} - int{reference->rgb[i]});
    maximum = std::max(maximum, difference);
    total += difference;
  }
  const double mean = total / static_cast<double>(pixels.rgb.size());
  RecordProperty("max_difference", maximum);
  RecordProperty("mean_difference", std::to_string(mean));
  std::printf("hopper.pcd against the reference: max %d, mean %.3f\n", maximum, mean);
  EXPECT_LE(maximum, 3);
  EXPECT_LE(mean, 0.5);
}

struct ContentCase {
  const char* name;
  size_t size;
  size_t markAt;
  const char* mark;
  bool accepted;
};

class PCDContentTest : public testing::TestWithParam<ContentCase> {};

TEST_P(PCDContentTest, AcceptsByMarks) {
  const ContentCase& c = GetParam();
  std::vector<uint8_t> bytes(c.size + 5, 0);
  std::memcpy(bytes.data() + 5 + c.markAt, c.mark, std::strlen(c.mark));
  TMemoryStream stream(bytes);
  stream.Seek(5);
  EXPECT_EQ(TPCDGraphic::AcceptsStream(stream), c.accepted);
  EXPECT_EQ(stream.Position(), 5);
}

INSTANTIATE_TEST_SUITE_P(Cases, PCDContentTest,
                         testing::Values(ContentCase{"image_pack", 6145, 2048, "PCD_IPI", true},
                                         ContentCase{"overview_pack", 6145, 0, "PCD_OPA", true},
                                         ContentCase{"exactly_6144_bytes", 6144, 2048, "PCD_IPI",
                                                     false},
                                         ContentCase{"mark_elsewhere", 9000, 2047, "PCD", false},
                                         ContentCase{"no_mark", 9000, 0, "PCD_OP", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Detection picks the reader by content, also for a file that some earlier
// reader in the order could have taken by its name.
TEST(PCDReaderTest, DetectedByContent) {
  TFileStream pack(test::TestData("pcd/hopper.pcd"), TFileStream::Mode::OpenRead);
  EXPECT_EQ(FileFormatList().DetectReader(pack), &ClassOf<TPCDGraphic>());
  // A bitmap header whose bytes 2048 to 2050 happen to read "PCD".
  std::vector<uint8_t> bitmap(7000, 0);
  bitmap[0] = 'B';
  bitmap[1] = 'M';
  std::memcpy(bitmap.data() + 2048, "PCD", 3);
  TMemoryStream stream(bitmap);
  EXPECT_EQ(FileFormatList().DetectReader(stream), &ClassOf<TPCDGraphic>());
}

// Damaged or foreign packs fail with the reader's message, never a partial
// picture.
TEST(PCDReaderTest, BadPacksFailClearly) {
  auto truncated = SyntheticPack(0);
  truncated.resize(kPackSize - 1);
  auto overview = std::vector<uint8_t>(kPackSize, 0);
  std::memcpy(overview.data(), "PCD_OPA", 7);
  auto unmarked = SyntheticPack(0);
  unmarked[TPCDLayout::kInfoOffset + 4] = 'X';
  for (const auto* bytes : {&truncated, &overview, &unmarked}) {
    TPCDGraphic graphic;
    TMemoryStream stream(*bytes);
    try {
      graphic.ReadFromStream(stream);
      ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), kInvalid);
    }
  }
}

// A pack embedded after other bytes loads from the stream's position.
TEST(PCDReaderTest, ReadsFromTheStreamPosition) {
  const auto pack = SyntheticPack(0);
  std::vector<uint8_t> prefixed(pack.size() + 3, 0xAB);
  std::memcpy(prefixed.data() + 3, pack.data(), pack.size());
  TPCDGraphic graphic;
  TMemoryStream stream(prefixed);
  stream.Seek(3);
  graphic.ReadFromStream(stream);
  const auto pixels = test::BitmapPixels(graphic);
  EXPECT_EQ(test::ComparePictures(Load(pack), pixels, 0), "");
}

}  // namespace
}  // namespace quorvex
