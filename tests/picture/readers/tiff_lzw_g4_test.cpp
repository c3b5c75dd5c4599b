// LZW and Group 4 strips: the decoders against the strips libtiff writes
// and decodes, and whole files made with tiffcp against their uncompressed
// twins and the reference decoder.

#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "picture/exceptions.h"
#include "picture/readers/ccitt_decoder.h"
#include "picture/readers/eps_reader.h"
#include "picture/readers/libtiff_strips.h"
#include "picture/readers/lzw_decoder.h"
#include "picture/readers/reader_test_support.h"
#include "picture/readers/tiff_reader.h"
#include "support/test_support.h"
#include "tiff_test_files.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::TiffBuilder;

// Decodes into a target with a guard byte on each side, which must survive.
Bytes DecodeGuarded(TStripDecoder& decoder, const Bytes& source, size_t targetSize,
                    size_t* produced) {
  Bytes buffer(targetSize + 2, 0xEE);
  *produced = decoder.DecodeStrip(source.data(), source.size(), buffer.data() + 1, targetSize);
  EXPECT_EQ(buffer.front(), 0xEE) << "wrote before the target";
  EXPECT_EQ(buffer.back(), 0xEE) << "wrote after the target";
  EXPECT_LE(*produced, targetSize);
  return Bytes(buffer.begin() + 1, buffer.end() - 1);
}

// ---- LZW strips -----------------------------------------------------------

enum class Content { Random, LongRuns, Smooth };

// Random bytes fill the code table again and again (12-bit codes, clear
// codes); long runs make long strings and codes defined by their own use.
Bytes Samples(Content content, size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (size_t i = 0; i < size;) {
    switch (content) {
      case Content::Random:
        bytes[i++] = static_cast<uint8_t>(random());
        break;
      case Content::LongRuns: {
        const size_t run = std::min<size_t>(1 + random() % 3000, size - i);
        const auto value = static_cast<uint8_t>(random() % 4);
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(i), run, value);
        i += run;
        break;
      }
      case Content::Smooth:
        bytes[i] = static_cast<uint8_t>((i % 300) / 3 + (i / 300) % 7);
        ++i;
        break;
    }
  }
  return bytes;
}

TEST(LZWDecoder, DecodesLibtiffStrips) {
  struct Case {
    const char* name;
    Content content;
    uint32_t rowsPerStrip;
  };
  const Case cases[] = {
      {"random", Content::Random, 70},
      {"long runs", Content::LongRuns, 200},
      {"smooth", Content::Smooth, 30},
  };
  const std::string dir = test::MakeTempDir();
  TLZWDecoder decoder;  // one for every strip, as the reader uses it
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TiffPicture picture;
    picture.width = 300;
    picture.height = 200;
    picture.bitsPerSample = 8;
    picture.rowsPerStrip = c.rowsPerStrip;
    picture.rows = Samples(c.content, 300 * 200, 7);
    const std::string path = dir + "/lzw.tif";
    test::WriteTiff(path, picture, COMPRESSION_LZW);
    const test::TiffStrips strips = test::ReadTiffStrips(path);
    ASSERT_EQ(strips.compression, COMPRESSION_LZW);
    for (size_t s = 0; s < strips.raw.size(); ++s) {
      SCOPED_TRACE("strip " + std::to_string(s));
      const size_t first = s * c.rowsPerStrip * 300;
      const Bytes expected(
          picture.rows.begin() + static_cast<std::ptrdiff_t>(first),
          picture.rows.begin() + static_cast<std::ptrdiff_t>(std::min(
                                     picture.rows.size(), first + size_t{c.rowsPerStrip} * 300)));
      ASSERT_TRUE(strips.decoded[s] == expected);
      size_t produced = 0;
      const Bytes decoded = DecodeGuarded(decoder, strips.raw[s], expected.size(), &produced);
      EXPECT_EQ(produced, expected.size());
      EXPECT_TRUE(decoded == expected);
    }
  }
}

// Codes of the given widths packed most significant bit first.
Bytes PackCodes(const std::vector<std::pair<uint32_t, int>>& codes) {
  Bytes out;
  uint64_t window = 0;
  int count = 0;
  for (const auto& [code, bits] : codes) {
    window = (window << bits) | code;
    count += bits;
    while (count >= 8) {
      out.push_back(static_cast<uint8_t>(window >> (count - 8)));
      count -= 8;
    }
  }
  if (count > 0) out.push_back(static_cast<uint8_t>(window << (8 - count)));
  return out;
}

TEST(LZWDecoder, RoomAndDamageEndTheStripCleanly) {
  const Bytes plain = Samples(Content::Random, 20000, 3);
  const std::string dir = test::MakeTempDir();
  test::TiffPicture picture{200, 100, 8, 100, plain};
  test::WriteTiff(dir + "/one.tif", picture, COMPRESSION_LZW);
  const Bytes coded = test::ReadTiffStrips(dir + "/one.tif").raw.at(0);
  struct Case {
    const char* name;
    Bytes source;
    size_t room;
    Bytes expected;  // the bytes produced, a prefix of the target
  };
  const Case cases[] = {
      {"output stops at the room given", coded, 5000, Bytes(plain.begin(), plain.begin() + 5000)},
      {"more room than the strip fills", coded, 30000, plain},
      {"no data", {}, 100, {}},
      {"a code the table does not hold yet", PackCodes({{256, 9}, {'A', 9}, {300, 9}}), 100, {'A'}},
      {"a code defined by its own use right after a clear",
       PackCodes({{256, 9}, {'A', 9}, {256, 9}, {258, 9}}),
       100,
       {'A'}},
      {"no clear code first, then a code defined by its own use",
       PackCodes({{'A', 9}, {'B', 9}, {258, 9}, {260, 9}}),
       100,
       {'A', 'B', 'A', 'B', 'A', 'B', 'A'}},
      {"the end code ends the strip",
       PackCodes({{256, 9}, {'A', 9}, {257, 9}, {'B', 9}}),
       100,
       {'A'}},
      {"a code cut short by the end of the data", Bytes{0x80, 0x10, 0x60}, 100, {'A'}},
  };
  TLZWDecoder decoder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    size_t produced = 0;
    const Bytes target = DecodeGuarded(decoder, c.source, c.room, &produced);
    ASSERT_EQ(produced, c.expected.size());
    EXPECT_TRUE(Bytes(target.begin(), target.begin() + static_cast<std::ptrdiff_t>(produced)) ==
                c.expected);
  }

  // Data cut anywhere gives a prefix of the strip; garbage gives whatever
  // it gives, inside the target.
  for (size_t cut : {size_t{1}, size_t{2}, coded.size() / 3, coded.size() - 4}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    size_t produced = 0;
    const Bytes target =
        DecodeGuarded(decoder, Bytes(coded.begin(), coded.begin() + cut), plain.size(), &produced);
    EXPECT_LT(produced, plain.size());
    EXPECT_TRUE(std::equal(target.begin(), target.begin() + static_cast<std::ptrdiff_t>(produced),
                           plain.begin()));
  }
  std::mt19937 random(11);
  for (int seed = 0; seed < 50; ++seed) {
    Bytes garbage(1 + random() % 3000);
    for (auto& b : garbage) b = static_cast<uint8_t>(random());
    if (seed % 2 == 0) garbage[0] = 0x80;  // starts with a clear code
    size_t produced = 0;
    DecodeGuarded(decoder, garbage, 1 + random() % 20000, &produced);
  }
}

// An LZW coder for the old strips, least significant bit first, whose code
// width grows when the table needs it: libtiff writes no such strips any
// more, so they are made here.
Bytes EncodeOldStyleLzw(const Bytes& data) {
  Bytes out;
  uint64_t window = 0;
  int count = 0;
  int bits = 9;
  auto put = [&](uint32_t code) {
    window |= uint64_t{code} << count;
    count += bits;
    while (count >= 8) {
      out.push_back(static_cast<uint8_t>(window));
      window >>= 8;
      count -= 8;
    }
  };
  std::map<std::pair<uint32_t, uint8_t>, uint32_t> table;
  uint32_t next = 258;
  // The reader adds each entry one code later than the writer, and widens
  // when its own next entry no longer fits.
  auto added = [&] {
    ++next;
    if (next == 4094) {
      put(256);
      table.clear();
      next = 258;
      bits = 9;
    } else if (next > (1u << bits)) {
      ++bits;
    }
  };
  put(256);
  uint32_t prefix = data.at(0);
  for (size_t i = 1; i < data.size(); ++i) {
    const auto found = table.find({prefix, data[i]});
    if (found != table.end()) {
      prefix = found->second;
      continue;
    }
    put(prefix);
    table[{prefix, data[i]}] = next;
    added();
    prefix = data[i];
  }
  put(prefix);
  added();
  put(257);
  if (count > 0) out.push_back(static_cast<uint8_t>(window));
  return out;
}

TEST(LZWDecoder, ReadsTheOldLeastSignificantBitFirstCodes) {
  for (Content content : {Content::Random, Content::LongRuns, Content::Smooth}) {
    SCOPED_TRACE(static_cast<int>(content));
    const Bytes plain = Samples(content, 30000, 5);
    const Bytes coded = EncodeOldStyleLzw(plain);
    ASSERT_EQ(coded[0], 0);  // a clear code, low bits first
    TLZWDecoder decoder;
    size_t produced = 0;
    const Bytes target = DecodeGuarded(decoder, coded, plain.size(), &produced);
    EXPECT_EQ(produced, plain.size());
    EXPECT_TRUE(target == plain);
  }
}

// ---- Group 4 strips ------------------------------------------------------

enum class Page { Random, Text, LongRuns };

// A bilevel picture, black as 1: random pixels (a change almost everywhere),
// lines of short runs like text with blank rows between, or runs up to
// past 2560 (make-up codes in horizontal mode).
test::TiffPicture FaxPicture(uint32_t width, uint32_t height, Page page, unsigned seed) {
  test::TiffPicture picture;
  picture.width = width;
  picture.height = height;
  picture.rowsPerStrip = 16;
  const size_t rowBytes = (width + 7) / 8;
  picture.rows.assign(rowBytes * height, 0);
  std::mt19937 random(seed);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = picture.rows.data() + y * rowBytes;
    if (page == Page::Random) {
      for (uint32_t x = 0; x < width; ++x) {
        if (random() % 2) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
      continue;
    }
    if (page == Page::Text && (y / 6) % 3 == 2) continue;  // between lines
    bool black = random() % 2 == 0;
    for (uint32_t x = 0; x < width;) {
      const uint32_t longest = page == Page::Text ? (black ? 6 : 20) : 3000;
      const uint32_t run = std::min<uint32_t>(1 + random() % longest, width - x);
      for (uint32_t i = x; black && i < x + run; ++i) {
        row[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      }
      x += run;
      black = !black;
    }
  }
  return picture;
}

class G4LibtiffTest : public testing::TestWithParam<uint32_t> {};

TEST_P(G4LibtiffTest, DecodesLibtiffStripsOfEveryFillOrder) {
  const uint32_t width = GetParam();
  const std::string dir = test::MakeTempDir();
  for (Page page : {Page::Random, Page::Text, Page::LongRuns}) {
    for (uint16_t fillOrder : {FILLORDER_MSB2LSB, FILLORDER_LSB2MSB}) {
      SCOPED_TRACE("page " + std::to_string(static_cast<int>(page)) + ", fill order " +
                   std::to_string(fillOrder));
      const test::TiffPicture picture = FaxPicture(width, 40, page, width);
      const std::string path = dir + "/g4.tif";
      test::WriteTiff(path, picture, COMPRESSION_CCITTFAX4, fillOrder);
      const test::TiffStrips strips = test::ReadTiffStrips(path);
      ASSERT_EQ(strips.compression, COMPRESSION_CCITTFAX4);
      ASSERT_EQ(strips.raw.size(), 3u);  // the last one short
      const size_t rowBytes = (width + 7) / 8;
      TCCITTFax4Decoder decoder(width, fillOrder == FILLORDER_LSB2MSB);
      for (size_t s = 0; s < strips.raw.size(); ++s) {
        const size_t first = s * 16 * rowBytes;
        const Bytes expected(
            picture.rows.begin() + static_cast<std::ptrdiff_t>(first),
            picture.rows.begin() +
                static_cast<std::ptrdiff_t>(std::min(picture.rows.size(), first + 16 * rowBytes)));
        ASSERT_TRUE(strips.decoded[s] == expected) << "strip " << s;
        size_t produced = 0;
        const Bytes decoded = DecodeGuarded(decoder, strips.raw[s], expected.size(), &produced);
        EXPECT_EQ(produced, expected.size()) << "strip " << s;
        EXPECT_TRUE(decoded == expected) << "strip " << s;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, G4LibtiffTest,
                         testing::Values(1u, 7u, 8u, 9u, 1728u, 2480u, 6000u),
                         [](const auto& info) { return std::to_string(info.param); });

TEST(CCITTFax4Decoder, DamageKeepsTheRowsBeforeIt) {
  const uint32_t width = 300;
  const size_t rowBytes = (width + 7) / 8;
  const test::TiffPicture picture = FaxPicture(width, 16, Page::Text, 1);
  const std::string dir = test::MakeTempDir();
  test::WriteTiff(dir + "/g4.tif", picture, COMPRESSION_CCITTFAX4);
  const Bytes coded = test::ReadTiffStrips(dir + "/g4.tif").raw.at(0);
  TCCITTFax4Decoder decoder(width, false);

  // Cut short: the rows decoded whole come out as they are, the rest white.
  size_t produced = 0;
  Bytes cut(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(coded.size() / 2));
  const Bytes target = DecodeGuarded(decoder, cut, picture.rows.size(), &produced);
  EXPECT_GT(produced, rowBytes);
  EXPECT_LT(produced, picture.rows.size());
  const size_t whole = produced - rowBytes;
  EXPECT_TRUE(std::equal(target.begin(), target.begin() + static_cast<std::ptrdiff_t>(whole),
                         picture.rows.begin()));
  EXPECT_TRUE(std::all_of(target.begin() + static_cast<std::ptrdiff_t>(produced), target.end(),
                          [](uint8_t b) { return b == 0; }));

  // An end-of-block code first: no rows.
  DecodeGuarded(decoder, {0x00, 0x10, 0x01}, picture.rows.size(), &produced);
  EXPECT_EQ(produced, 0u);

  std::mt19937 random(2);
  for (int seed = 0; seed < 50; ++seed) {
    Bytes garbage(1 + random() % 2000);
    for (auto& b : garbage) b = static_cast<uint8_t>(random() % 4 ? random() : 0);
    DecodeGuarded(decoder, garbage, 1 + random() % 20000, &produced);
  }
}

// ---- whole files --------------------------------------------------------

class LZWAndG4Files : public testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Copy(const std::string& source, const std::string& options, const std::string& name) {
    const std::string out = dir_ + "/" + name;
    EXPECT_TRUE(test::RunTiffcp(options, source, out)) << "tiffcp " << options << " " << source;
    return out;
  }

  // Small pictures of the kinds the sample files lack, uncompressed.
  std::string Built(const std::string& kind) {
    const std::string path = dir_ + "/" + kind + ".tif";
    if (fs::exists(path)) return path;
    const uint32_t w = 61;
    const uint32_t h = 37;
    Bytes data;
    TiffBuilder b;
    if (kind == "gray8") {
      for (uint32_t i = 0; i < w * h; ++i) data.push_back(static_cast<uint8_t>(i * 7 + i / w));
      b.Picture(w, h, 8, 1, 1);
    } else if (kind == "gray16" || kind == "rgb16") {
      const uint32_t samples = kind == "gray16" ? 1 : 3;
      for (uint32_t i = 0; i < w * h * samples; ++i) {
        const auto v = static_cast<uint16_t>(i * 977 + (i / w) * 31);
        data.push_back(static_cast<uint8_t>(v));
        data.push_back(static_cast<uint8_t>(v >> 8));
      }
      b.Picture(w, h, 16, samples, samples == 1 ? 1 : 2);
    } else {  // ycbcr: 2 x 2 blocks of four luma samples, Cb and Cr
      const uint32_t blocks = ((w + 1) / 2) * ((h + 1) / 2);
      for (uint32_t i = 0; i < blocks; ++i) {
        for (int k = 0; k < 4; ++k)
          data.push_back(static_cast<uint8_t>(40 + (i * 5 + k * 30) % 180));
        data.push_back(static_cast<uint8_t>(100 + i % 56));
        data.push_back(static_cast<uint8_t>(150 - i % 47));
      }
      b.Picture(w, h, 8, 3, 6).Set(530, TiffBuilder::Short, {2, 2});
    }
    test::WriteFileBytes(path, b.AddStrip(data).Build());
    return path;
  }

  std::string dir_;
};

// Every photometric interpretation the reader converts, coded with LZW
// (with and without horizontal differencing) and Group 4, in both byte
// orders, chunky and planar, one strip or many: each must give exactly
// the bitmap of its uncompressed twin, and where the reference decoder
// follows the same rules, its pixels within 1.
TEST_F(LZWAndG4Files, LoadLikeTheirUncompressedTwins) {
  constexpr int kNoReference = -1;
  struct Case {
    const char* source;  // a sample file, or a kind built above
    const char* options;
    int tolerance;
  };
  const Case cases[] = {
      {"tiff/issue_2278.tif", "-c lzw", 0},  // bilevel
      {"tiff/issue_2278.tif", "-c lzw -B -r 10", 0},
      {"tiff/issue_2278.tif", "-c g4", 0},
      {"tiff/issue_2278.tif", "-c g4 -B -r 100", 0},
      {"tiff/issue_2278.tif", "-c g4 -f lsb2msb", 0},
      {"tiff/hopper_gray_4bpp.tif", "-c lzw", 0},
      {"tiff/hopper_gray_4bpp.tif", "-c lzw -f lsb2msb", 0},
      {"tiff/hopper2I.tif", "-c lzw -B", 0},  // 2-bit, minimum is white
      {"gray8", "-c lzw", 0},
      {"gray8", "-c lzw:2 -B -r 5", 0},
      {"gray16", "-c lzw:2", kNoReference},  // the reference clips 16-bit gray
      {"gray16", "-c lzw:2 -B", kNoReference},
      {"tiff/multipage.tiff", "-c lzw -B", 0},  // palette
      {"tiff/no_rows_per_strip.tif", "-c lzw:2 -B", 1},
      {"tiff/tiff_strip_raw.tif", "-c lzw", 0},  // RGB
      {"tiff/tiff_strip_raw.tif", "-c lzw:2", 0},
      {"tiff/tiff_strip_raw.tif", "-c lzw:2 -B -r 7", 0},
      {"tiff/tiff_strip_raw.tif", "-c lzw -p separate -B", 0},
      {"tiff/tiff_strip_raw.tif", "-c lzw:2 -p separate -r 50", 0},
      {"rgb16", "-c lzw:2", 1},
      {"rgb16", "-c lzw:2 -B -r 3", 1},
      {"tiff/tiff_strip_planar_16bit_RGB.tiff", "-c lzw:2 -B", 1},
      {"tiff/tiff_strip_planar_16bit_RGB.tiff", "-c lzw:2", 1},
      {"tiff/pil136.tiff", "-c lzw:2 -B", kNoReference},  // RGBA
      {"tiff/tiff_strip_cmyk_16l_jpeg.tif", "-c lzw:2", kNoReference},
      {"tiff/tiff_strip_cmyk_16l_jpeg.tif", "-c lzw -B", kNoReference},
      {"tiff/hopper.Lab.tif", "-c lzw:2 -B", kNoReference},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.options);
    const std::string source = std::string(c.source).find('/') == std::string::npos
                                   ? Built(c.source)
                                   : test::TestData(c.source);
    const std::string plain = Copy(source, "-c none", "plain" + std::to_string(n) + ".tif");
    const std::string twin = Copy(source, c.options, "twin" + std::to_string(n) + ".tif");
    ++n;
    ASSERT_EQ(test::ReadTiffStrips(twin).compression,
              std::string(c.options).find("g4") != std::string::npos ? COMPRESSION_CCITTFAX4
                                                                     : COMPRESSION_LZW);
    std::unique_ptr<TTIFFGraphic> expected, actual;
    ASSERT_NO_THROW(expected = test::LoadFile<TTIFFGraphic>(plain));
    ASSERT_NO_THROW(actual = test::LoadFile<TTIFFGraphic>(twin));
    EXPECT_EQ(actual->Layout(), expected->Layout());
    EXPECT_EQ(actual->QueryPalette(), expected->QueryPalette());
    EXPECT_TRUE(test::StorageBytes(*actual) == test::StorageBytes(*expected));
    if (c.tolerance != kNoReference) test::ExpectReferencePixels(twin, *actual, c.tolerance);
  }
}

// tiffcp does not copy subsampled YCbCr, so libtiff's encoder writes the
// coded twin from the very strip of the uncompressed one.
TEST_F(LZWAndG4Files, SubsampledYCbCrLoadsLikeItsUncompressedTwin) {
  const std::string plain = Built("ycbcr");
  const Bytes strip = test::ReadTiffStrips(plain).raw.at(0);
  for (const char* mode : {"w", "wb"}) {  // little- and big-endian
    SCOPED_TRACE(mode);
    const std::string twin = dir_ + "/ycbcr_lzw.tif";
    {
      TIFF* t = TIFFOpen(twin.c_str(), mode);
      ASSERT_NE(t, nullptr);
      TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 61);
      TIFFSetField(t, TIFFTAG_IMAGELENGTH, 37);
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
      TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 37);
      Bytes data = strip;
      EXPECT_GE(TIFFWriteEncodedStrip(t, 0, data.data(), static_cast<tmsize_t>(data.size())), 0);
      TIFFClose(t);
    }
    std::unique_ptr<TTIFFGraphic> expected, actual;
    ASSERT_NO_THROW(expected = test::LoadFile<TTIFFGraphic>(plain));
    ASSERT_NO_THROW(actual = test::LoadFile<TTIFFGraphic>(twin));
    EXPECT_EQ(actual->Layout(), PixelLayout::Bits24);
    EXPECT_TRUE(test::StorageBytes(*actual) == test::StorageBytes(*expected));
  }
}

TEST_F(LZWAndG4Files, SampleFilesDecodeLikeTheirUncompressedTwins) {
  // Orientation-free: the twins keep every tag but the compression.
  for (const char* name :
       {"g4-fillorder-test.tif", "g4_orientation_2.tif", "g4_orientation_4.tif",
        "g4_orientation_5.tif", "g4_orientation_7.tif", "g4_orientation_8.tif", "hopper_g4.tif",
        "pport_g4.tif", "no_rows_per_strip.tif", "rdf.tif", "tiff_16bit_RGBa.tiff",
        "tiff_strip_planar_16bit_RGB.tiff", "tiff_strip_planar_16bit_RGBa.tiff"}) {
    SCOPED_TRACE(name);
    const std::string plain = Copy(test::TestData(std::string("tiff/") + name), "-c none",
                                   std::string(name) + ".plain.tif");
    std::unique_ptr<TTIFFGraphic> expected, actual;
    ASSERT_NO_THROW(expected = test::LoadFile<TTIFFGraphic>(plain));
    ASSERT_NO_THROW(actual =
                        test::LoadFile<TTIFFGraphic>(test::TestData(std::string("tiff/") + name)));
    EXPECT_EQ(actual->Layout(), expected->Layout());
    EXPECT_TRUE(test::StorageBytes(*actual) == test::StorageBytes(*expected));
  }
}

TEST_F(LZWAndG4Files, DamagedStripsLoadTheRowsTheyHold) {
  // An 8-bit gray picture in one LZW strip; rows the strip cannot fill
  // stay white.
  const std::string twin = Copy(Built("gray8"), "-c lzw", "gray8_lzw.tif");
  const Bytes strip = test::ReadTiffStrips(twin).raw.at(0);
  const auto whole = test::LoadFile<TTIFFGraphic>(Built("gray8"));
  struct Case {
    const char* name;
    Bytes strip;
    int32_t rowsKept;  // at least these rows come out whole
  };
  Bytes garbage(strip.size());
  std::mt19937 random(9);
  for (auto& b : garbage) b = static_cast<uint8_t>(random());
  garbage[0] = 0x80;
  const Case cases[] = {
      {"cut in half", Bytes(strip.begin(), strip.begin() + strip.size() / 2), 10},
      {"garbage", garbage, 0},
      {"one byte", Bytes{0x80}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = TiffBuilder()
                           .Picture(61, 37, 8, 1, 1)
                           .Set(259, TiffBuilder::Short, {5})
                           .AddStrip(c.strip)
                           .Build();
    std::unique_ptr<TTIFFGraphic> g;
    ASSERT_NO_THROW(g = test::LoadBytes<TTIFFGraphic>(file));
    for (int32_t y = 0; y < c.rowsKept; ++y) {
      EXPECT_EQ(test::Row(*g, y, 61), test::Row(*whole, y, 61)) << "row " << y;
    }
    EXPECT_EQ(test::Row(*g, 36, 61), Bytes(61, 255));
  }
  // A strip of a few bytes cannot claim a huge picture.
  const Bytes huge = TiffBuilder()
                         .Picture(20000, 20000, 8, 1, 1)
                         .Set(259, TiffBuilder::Short, {5})
                         .AddStrip(Bytes(16, 0x80))
                         .Build();
  EXPECT_EQ(test::FailureOf([&] { test::LoadBytes<TTIFFGraphic>(huge); }), kStreamReadError);
}

// Builds a binary EPS whose preview is the given TIFF file.
Bytes EpsAround(const Bytes& tiff) {
  const std::string postScript = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n";
  Bytes eps(30, 0);
  const auto put32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) eps[at + k] = static_cast<uint8_t>(v >> (8 * k));
  };
  put32(0, 0xC6D3D0C5);
  put32(4, 30);
  put32(8, static_cast<uint32_t>(postScript.size()));
  put32(20, static_cast<uint32_t>(30 + postScript.size()));
  put32(24, static_cast<uint32_t>(tiff.size()));
  eps[28] = eps[29] = 0xFF;
  eps.insert(eps.end(), postScript.begin(), postScript.end());
  eps.insert(eps.end(), tiff.begin(), tiff.end());
  return eps;
}

TEST_F(LZWAndG4Files, EPSPreviewsCodedWithLZWLoad) {
  for (const char* options : {"-c lzw:2", "-c lzw -B"}) {
    SCOPED_TRACE(options);
    const std::string preview =
        Copy(test::TestData("tiff/tiff_strip_raw.tif"), options, "preview.tif");
    const auto tiff = test::LoadFile<TTIFFGraphic>(preview);
    std::unique_ptr<TEPSGraphic> eps;
    ASSERT_NO_THROW(eps = test::LoadBytes<TEPSGraphic>(EpsAround(test::ReadFileBytes(preview))));
    EXPECT_EQ(eps->Layout(), PixelLayout::Bits24);
    EXPECT_TRUE(test::StorageBytes(*eps) == test::StorageBytes(*tiff));
  }
}

}  // namespace
}  // namespace quorvex
