#include "picture/readers/heif_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
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

const std::string kInvalid = "Cannot load image. Invalid or unexpected HEIF image format.";

class HEIFReader : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};

TEST_F(HEIFReader, SharedSamplesLoadAsTheReferenceDecodesThem) {
  const struct {
    const char* name;
    PixelLayout layout;
    const char* decoder;
    int tolerance = 1;
  } cases[] = {
      {"heif/hopper.heif", PixelLayout::Bits24, "heif-convert"},
      {"heif/hopper.avif", PixelLayout::Bits24, "heif-convert"},
      {"heif/exif.avif", PixelLayout::Bits24, "heif-convert"},
      // heif-convert cannot write this one's colour profile into PNG.
      {"heif/icc_profile.avif", PixelLayout::Bits24, "avifdec"},
      {"heif/transparency.avif", PixelLayout::Bits32, "heif-convert"},
      // Every rotation and mirror comes out upright, as libheif's own tool
      // shows them.
      {"heif/rot0mir0.avif", PixelLayout::Bits24, "heif-convert"},
      {"heif/rot1mir0.avif", PixelLayout::Bits24, "heif-convert"},
      {"heif/rot2mir0.avif", PixelLayout::Bits24, "heif-convert"},
      {"heif/rot3mir0.avif", PixelLayout::Bits24, "heif-convert"},
      {"heif/rot3mir1.avif", PixelLayout::Bits24, "heif-convert"},
      // heif-convert refuses sequences; avifdec shows their first frame,
      // with its own chroma upsampling: heif-convert and avifdec differ by
      // up to 30 on hopper.avif, and so may we.
      {"heif/star.avifs", PixelLayout::Bits32, "avifdec", 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = test::TestData(c.name);
    const auto bitmap = test::LoadFile<THEIFGraphic>(path);
    EXPECT_EQ(bitmap->Layout(), c.layout);
    const auto reference = test::ReferenceDecode(c.decoder, path);
    ASSERT_TRUE(reference.has_value());
    EXPECT_EQ(test::CompareWithReference(*bitmap, *reference, c.tolerance), "");
  }
}

TEST_F(HEIFReader, GeneratedPicturesLoadAsTheReferenceDecodesThem) {
  const struct {
    const char* name;
    const char* kind;
    int width, height;
    const char* encode;  // IN and OUT are replaced
    PixelLayout layout;
    const char* decoder;
    int tolerance;
  } cases[] = {
      {"avif 8-bit lossless, odd size", "rgb", 7, 5, "avifenc -l IN OUT", PixelLayout::Bits24,
       "source", 0},
      {"avif 1x1", "rgb", 1, 1, "avifenc -l IN OUT", PixelLayout::Bits24, "source", 0},
      {"avif lossy", "rgb", 33, 17, "avifenc --min 20 --max 30 IN OUT", PixelLayout::Bits24,
       "heif-convert", 1},
      {"avif 10-bit", "rgb16", 9, 7, "avifenc -d 10 IN OUT", PixelLayout::Bits24, "heif-convert",
       1},
      {"avif 12-bit", "rgb16", 9, 7, "avifenc -d 12 IN OUT", PixelLayout::Bits24, "heif-convert",
       1},
      {"avif alpha, lossless", "rgba", 9, 7, "avifenc -l IN OUT", PixelLayout::Bits32, "source", 0},
      {"avif 10-bit alpha", "rgba", 9, 7, "avifenc -d 10 IN OUT", PixelLayout::Bits32,
       "heif-convert", 1},
      {"avif grey", "grey", 11, 5, "avifenc --yuv 400 IN OUT", PixelLayout::Bits8, "heif-convert",
       1},
      {"avif 12-bit grey", "grey16", 11, 5, "avifenc -d 12 --yuv 400 IN OUT", PixelLayout::Bits8,
       "heif-convert", 1},
      {"heic lossy, odd size", "rgb", 21, 13, "heif-enc -q 70 -o OUT IN", PixelLayout::Bits24,
       "heif-convert", 1},
      {"heic lossless", "rgb", 16, 16, "heif-enc -L -o OUT IN", PixelLayout::Bits24, "heif-convert",
       1},
      {"heic alpha", "rgba", 16, 8, "heif-enc -q 80 -o OUT IN", PixelLayout::Bits32, "heif-convert",
       1},
      {"heic grey", "grey", 16, 8, "heif-enc -q 80 -o OUT IN", PixelLayout::Bits8, "heif-convert",
       1},
      {"heic 10-bit", "rgb16", 16, 8, "heif-enc -b 10 -q 80 -o OUT IN", PixelLayout::Bits24,
       "heif-convert", 1},
      {"heic 12-bit", "rgb16", 16, 8, "heif-enc -b 12 -q 80 -o OUT IN", PixelLayout::Bits24,
       "heif-convert", 1},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = test::MakeFixture(dir_, c.kind, c.width, c.height);
    const std::string extension = std::string(c.encode).starts_with("avifenc") ? ".avif" : ".heic";
    const std::string out = Path("case" + std::to_string(index++) + extension);
    std::string command = c.encode;
    command.replace(command.find("IN"), 2, test::Quoted(source));
    command.replace(command.find("OUT"), 3, test::Quoted(out));
    ASSERT_TRUE(test::RunTool(command));
    const auto bitmap = test::LoadFile<THEIFGraphic>(out);
    EXPECT_EQ(bitmap->Layout(), c.layout);
    if (c.layout == PixelLayout::Bits8) {
      EXPECT_EQ(bitmap->QueryPalette(), test::GrayRampPalette());
    }
    const auto reference =
        test::ReferenceDecode(c.decoder, std::string(c.decoder) == "source" ? source : out);
    ASSERT_TRUE(reference.has_value());
    EXPECT_EQ(test::CompareWithReference(*bitmap, *reference, c.tolerance), "");
  }
}

TEST_F(HEIFReader, ASequenceLoadsItsFirstFrame) {
  const std::string first = test::MakeFixture(dir_, "rgb", 9, 7);
  const std::string second = test::MakeFixture(dir_, "grey", 9, 7);
  ASSERT_TRUE(test::RunTool("avifenc -l " + test::Quoted(first) + " " + test::Quoted(second) + " " +
                            test::Quoted(Path("two.avifs"))));
  const auto bitmap = test::LoadFile<THEIFGraphic>(Path("two.avifs"));
  const auto reference = test::ReferenceDecode("source", first);
  ASSERT_TRUE(reference.has_value());
  EXPECT_EQ(test::CompareWithReference(*bitmap, *reference, 0), "");
}

TEST_F(HEIFReader, TheContentTestTakesHEIFAndAVIFBrandsOnly) {
  auto ftyp = [](const char* major, std::vector<const char*> compatible) {
    Bytes box = {0, 0, 0, 0, 'f', 't', 'y', 'p'};
    box.insert(box.end(), major, major + 4);
    box.insert(box.end(), {0, 0, 0, 0});
    for (const char* brand : compatible) box.insert(box.end(), brand, brand + 4);
    box[3] = static_cast<uint8_t>(box.size());
    return box;
  };
  const struct {
    const char* name;
    Bytes head;
    bool accepted;
  } cases[] = {
      {"heic main brand", ftyp("heic", {}), true},
      {"avif main brand", ftyp("avif", {}), true},
      {"mif1 compatible", ftyp("abcd", {"isom", "mif1"}), true},
      {"avis sequence", ftyp("avis", {"msf1"}), true},
      {"mp4 video", ftyp("isom", {"iso2", "mp41"}), false},
      {"JPEG 2000", ftyp("jp2 ", {"jp2 "}), false},
      // A brand past the box's own size is not one of its brands.
      {"brand beyond the box",
       [&] {
         Bytes b = ftyp("isom", {"mp41"});
         const Bytes more = {'h', 'e', 'i', 'c'};
         b.insert(b.end(), more.begin(), more.end());
         return b;
       }(),
       false},
      {"too short", Bytes{0, 0, 0, 12, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c'}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream(c.head);
    EXPECT_EQ(THEIFGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 0);
  }
}

// Sets both sides of every 'ispe' box of the file.
Bytes WithClaimedSize(Bytes file, uint32_t side) {
  for (size_t at = 0; at + 16 <= file.size(); ++at) {
    if (std::equal(file.begin() + long(at), file.begin() + long(at) + 4, "ispe")) {
      for (size_t field : {at + 8, at + 12}) {
        for (int i = 0; i < 4; ++i) file[field + i] = uint8_t(side >> (24 - 8 * i));
      }
    }
  }
  return file;
}

TEST_F(HEIFReader, DamagedFilesFailWithTheLibrarysReason) {
  const Bytes good = test::ReadFileBytes(test::TestData("heif/hopper.avif"));
  const Bytes heic = test::ReadFileBytes(test::TestData("heif/hopper.heif"));
  for (const auto& [name, file] : std::vector<std::pair<std::string, Bytes>>{
           {"avif cut in half", Bytes(good.begin(), good.begin() + long(good.size() / 2))},
           {"heic cut in half", Bytes(heic.begin(), heic.begin() + long(heic.size() / 2))},
           {"file type box only", Bytes(good.begin(), good.begin() + 32)},
       }) {
    SCOPED_TRACE(name);
    const std::string message = test::FailureOf([&] { test::LoadBytes<THEIFGraphic>(file); });
    // The library's reason follows the format's own text.
    EXPECT_TRUE(message.starts_with(kInvalid + " (")) << message;
  }
}

TEST_F(HEIFReader, ASmallFileClaimingAHugePictureIsRefusedBeforeDecoding) {
  const Bytes good = test::ReadFileBytes(test::TestData("heif/hopper.avif"));
  // Within libheif's side limit but over the storage cap, and past the side
  // limit: both are out of resources.
  for (uint32_t side : {60000u, 100000u}) {
    SCOPED_TRACE(side);
    EXPECT_THROW(test::LoadBytes<THEIFGraphic>(WithClaimedSize(good, side)), EOutOfResources);
  }
}

}  // namespace
}  // namespace quorvex
