#include "picture/readers/eps_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/stream.h"
#include "support/test_support.h"
#include "tiff_test_files.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::TiffBuilder;

const std::string kEPSInvalid = "Cannot load image. Invalid or unexpected EPS image format.";
const std::string kTIFFInvalid = "Cannot load image. Invalid or unexpected TIF/TIFF image format.";

// Kept out of line: inlined into copies, it trips a false bounds warning.
[[gnu::noinline]] void Put32(Bytes& out, size_t at, uint32_t v) {
  for (size_t k = 0; k < 4; ++k) out[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

// A binary EPS: header, PostScript text, then the TIFF preview.
Bytes MakeEPS(const std::string& postScript, const Bytes& tiff) {
  Bytes out(30, 0);
  Put32(out, 0, 0xC6D3D0C5);
  Put32(out, 4, 30);
  Put32(out, 8, static_cast<uint32_t>(postScript.size()));
  Put32(out, 20, static_cast<uint32_t>(30 + postScript.size()));
  Put32(out, 24, static_cast<uint32_t>(tiff.size()));
  out[28] = out[29] = 0xFF;
  out.insert(out.end(), postScript.begin(), postScript.end());
  out.insert(out.end(), tiff.begin(), tiff.end());
  return out;
}

Bytes GrayRamp(bool bigEndian) {
  Bytes ramp;
  for (int i = 0; i < 16 * 4; ++i) ramp.push_back(static_cast<uint8_t>(i * 4));
  return TiffBuilder(bigEndian).Picture(16, 4, 8, 1, 1).AddStrip(ramp).Build();
}

std::string FailureOf(const Bytes& bytes, std::unique_ptr<TEPSGraphic>* loaded = nullptr) {
  auto graphic = std::make_unique<TEPSGraphic>();
  try {
    TMemoryStream stream(bytes);
    graphic->ReadFromStream(stream);
  } catch (const Exception& e) {
    return e.Message();
  }
  if (loaded) *loaded = std::move(graphic);
  return "";
}

TEST(EPSReader, SampleFilesShowTheirTIFFPreviewOrFail) {
  struct Case {
    const char* file;
    std::string message;  // "" when it loads
    PixelLayout layout;
  };
  const Case cases[] = {
      {"1.eps", "", PixelLayout::Bits1},
      {"1_boundingbox_after_imagedata.eps", "", PixelLayout::Bits1},
      {"1_second_imagedata.eps", "", PixelLayout::Bits1},
      {"binary_preview_map.eps", "", PixelLayout::Bits1},
      {"illu10_preview.eps", "", PixelLayout::Bits1},
      {"illuCS6_no_preview.eps", kEPSInvalid, {}},
      {"non_zero_bb.eps", kEPSInvalid, {}},
      {"pil_sample_cmyk.eps", kEPSInvalid, {}},
      {"reqd_showpage.eps", kEPSInvalid, {}},
      {"zero_bb.eps", kEPSInvalid, {}},
      {"zero_bb_emptyline.eps", kEPSInvalid, {}},
      {"zero_bb_trailer.eps", kEPSInvalid, {}},
  };
  const std::string dir = test::MakeTempDir();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes bytes = test::ReadFileBytes(test::TestData(std::string("eps/") + c.file));
    std::unique_ptr<TEPSGraphic> graphic;
    ASSERT_EQ(FailureOf(bytes, &graphic), c.message);
    if (!c.message.empty()) continue;
    EXPECT_EQ(graphic->Layout(), c.layout);
    // The preview on its own, as the reference decoder shows it.
    const uint32_t offset = bytes[20] | (bytes[21] << 8) | (bytes[22] << 16) | (bytes[23] << 24);
    const uint32_t length = bytes[24] | (bytes[25] << 8) | (bytes[26] << 16) | (bytes[27] << 24);
    const std::string preview = dir + "/preview.tif";
    test::WriteFileBytes(preview, Bytes(bytes.begin() + offset, bytes.begin() + offset + length));
    const auto expected = test::ReferencePixels(preview);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(test::ComparePictures(*expected, test::BitmapPixels(*graphic), 0), "");
  }
  fs::remove_all(dir);
}

TEST(EPSReader, ContentTest) {
  const Bytes eps = MakeEPS("%!PS-Adobe-3.0 EPSF-3.0\n", GrayRamp(false));
  Bytes noPreview = eps;
  Put32(noPreview, 24, 0);
  Bytes previewAtHeader = eps;
  Put32(previewAtHeader, 20, 30);
  Bytes badMagic = eps;
  badMagic[0] = 0xC4;
  struct Case {
    const char* name;
    Bytes bytes;
    bool accepted;
  };
  const Case cases[] = {
      {"binary EPS with a TIFF preview", eps, true},
      {"no TIFF preview", noPreview, false},
      {"preview offset not past the header", previewAtHeader, false},
      {"wrong magic", badMagic, false},
      {"thirty bytes only", Bytes(eps.begin(), eps.begin() + 30), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream(c.bytes);
    EXPECT_EQ(TEPSGraphic::AcceptsStream(stream), c.accepted);
    EXPECT_EQ(stream.Position(), 0);
  }
}

TEST(EPSReader, HeaderInfoDescribesThePreview) {
  const Bytes eps = MakeEPS("%!PS\n", GrayRamp(true));
  Bytes badMagic = eps;
  badMagic[0] = 0xC4;
  struct Case {
    const char* name;
    Bytes bytes;
    bool usable;
  };
  const Case cases[] = {
      {"TIFF preview", eps, true},
      {"wrong magic", badMagic, false},
      {"header cut short", Bytes(eps.begin(), eps.begin() + 20), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Behind other bytes, so that offsets counted from the stream's start
    // would go wrong.
    Bytes bytes(5, 'x');
    bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
    TMemoryStream stream(bytes);
    stream.Seek(5);
    TEPSGraphic graphic;
    EXPECT_EQ(graphic.ReadHeaderInfo(stream, 0), c.usable);
    EXPECT_EQ(stream.Position(), 5);
    if (!c.usable) continue;
    EXPECT_EQ(graphic.ImageProperties().width, 16);
    EXPECT_EQ(graphic.ImageProperties().height, 4);
    EXPECT_EQ(graphic.ImageProperties().options & kTIFFBigEndianOption, kTIFFBigEndianOption);
    graphic.ReadFromStream(stream);
    EXPECT_EQ(graphic.RowAddress(1)[2], 18 * 4);
  }
}

TEST(EPSReader, PreviewDecidesThePicture) {
  std::unique_ptr<TEPSGraphic> a, b, c;
  ASSERT_EQ(FailureOf(MakeEPS("%!PS\n1 0 0 setrgbcolor\n", GrayRamp(false)), &a), "");
  ASSERT_EQ(FailureOf(MakeEPS("%!PS\nshowpage\n% other program, longer\n", GrayRamp(false)), &b),
            "");
  ASSERT_EQ(FailureOf(MakeEPS("%!PS\n", GrayRamp(true)), &c), "");
  EXPECT_EQ(a->Layout(), PixelLayout::Bits8);
  EXPECT_EQ(a->ImageWidth(), 16);
  EXPECT_EQ(a->ImageHeight(), 4);
  EXPECT_EQ(a->RowAddress(1)[2], 18 * 4);
  EXPECT_EQ(test::StorageBytes(*a), test::StorageBytes(*b));
  EXPECT_EQ(test::StorageBytes(*a), test::StorageBytes(*c));
}

TEST(EPSReader, FailuresNameTheRightFormat) {
  Bytes metafileOnly = MakeEPS("%!PS\n", GrayRamp(false));
  Put32(metafileOnly, 20, 0);
  Put32(metafileOnly, 24, 0);
  Bytes unreadPreview = MakeEPS("%!PS\n", TiffBuilder()
                                              .Picture(1, 1, 8, 1, 1)
                                              .Set(259, TiffBuilder::Short, {32766})
                                              .AddStrip({0})
                                              .Build());
  Bytes previewPastTheEnd = MakeEPS("%!PS\n", GrayRamp(false));
  Put32(previewPastTheEnd, 20, 1u << 30);
  struct Case {
    const char* name;
    Bytes bytes;
    std::string message;
  };
  const Case cases[] = {
      {"plain-text EPS", Bytes({'%', '!', 'P', 'S', '-', 'A', 'd', 'o', 'b', 'e', '-', '3',
                                '.', '0', ' ', 'E', 'P', 'S', 'F', '-', '3', '.', '0', '\n',
                                '%', '%', 'B', 'o', 'u', 'n', 'd', 'i', 'n', 'g'}),
       kEPSInvalid},
      // The header itself is then read as TIFF.
      {"metafile preview only", metafileOnly, kTIFFInvalid},
      {"NeXT preview", unreadPreview,
       "Cannot load image. The compression scheme is not supported for TIF/TIFF files."},
      {"preview past the end", previewPastTheEnd, kTIFFInvalid},
      {"header cut short", Bytes({0xC5, 0xD0, 0xD3, 0xC6, 0}), kStreamReadError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FailureOf(c.bytes), c.message);
  }
}

TEST(EPSReaderMalformed, TheFileThatHungElsewhereLoadsItsPreview) {
  std::unique_ptr<TEPSGraphic> graphic;
  ASSERT_EQ(FailureOf(test::ReadFileBytes(test::TestData(
                          "malformed/eps/timeout-d675703545fee17acab56e5fec644c19979175de.eps")),
                      &graphic),
            "");
  EXPECT_EQ(graphic->Layout(), PixelLayout::Bits1);
  EXPECT_EQ(graphic->ImageWidth(), 399);
}

}  // namespace
}  // namespace quorvex
