#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "picture/exceptions.h"
#include "picture/jpeg_limits.h"
#include "picture/readers/lz77_decoder.h"
#include "picture/readers/tiff_directory.h"
#include "picture/readers/tiff_jpeg_decoder.h"
#include "picture/stream.h"
#include "support/jpeg_fixtures.h"
#include "tiff_test_files.h"

namespace quorvex {
namespace {

using Bytes = std::vector<uint8_t>;
using test::TiffBuilder;

Bytes Deflate(const Bytes& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  Bytes out(size);
  EXPECT_EQ(compress(out.data(), &size, plain.data(), static_cast<uLong>(plain.size())), Z_OK);
  out.resize(size);
  return out;
}

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 7) ^ (i >> 5));
  return b;
}

TEST(LZ77Decoder, InflatesEachStripAfresh) {
  const Bytes plain = Pattern(5000);
  const Bytes coded = Deflate(plain);
  struct Case {
    const char* name;
    size_t inputBytes;
    size_t room;
    size_t produced;
  };
  const Case cases[] = {
      {"whole strip", coded.size(), plain.size(), plain.size()},
      {"more room than data", coded.size(), plain.size() + 100, plain.size()},
      {"output stops at the room given", coded.size(), 1000, 1000},
      {"input cut short", coded.size() / 2, plain.size(), 0},  // some bytes, not all
  };
  TLZ77Decoder decoder;  // one decoder for every strip, as the reader uses it
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(c.room, 0xEE);
    const size_t n = decoder.DecodeStrip(coded.data(), c.inputBytes, out.data(), c.room);
    if (c.produced != 0) {
      EXPECT_EQ(n, c.produced);
    } else {
      EXPECT_GT(n, 0u);
      EXPECT_LT(n, plain.size());
    }
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + n, plain.begin()));
    if (n < c.room) {
      EXPECT_EQ(out[n], 0xEE);  // nothing written past the output
    }
  }
}

TEST(LZ77Decoder, CorruptDataFails) {
  const Bytes cases[] = {
      {0x78, 0x9C, 0xFF, 0xFF, 0xFF},  // invalid block type
      {0x12, 0x34, 0x56},              // not a zlib header
  };
  TLZ77Decoder decoder;
  for (const auto& coded : cases) {
    Bytes out(100);
    try {
      decoder.DecodeStrip(coded.data(), coded.size(), out.data(), out.size());
      ADD_FAILURE() << "no error";
    } catch (const EGraphicCompression& e) {
      EXPECT_EQ(e.Message(), "LZ77 decompression error.");
    }
  }
  // A failed strip leaves the decoder ready for the next.
  const Bytes plain = Pattern(300);
  const Bytes coded = Deflate(plain);
  Bytes out(300);
  EXPECT_EQ(decoder.DecodeStrip(coded.data(), coded.size(), out.data(), out.size()), 300u);
  EXPECT_EQ(out, plain);
}

// JPEG strips share the picture's scan limit; a strip past it fails, the
// next one decodes afresh.
TEST(TIFFJPEGDecoder, StripsPastTheScanLimitFail) {
  TTIFFJPEGDecoder decoder({}, 64, 1, ColorScheme::Gray);
  std::vector<uint8_t> rows(64 * 64);
  auto many = test::ManyScanJpeg(64, 4000);
  try {
    decoder.DecodeStrip(many.data(), many.size(), rows.data(), rows.size());
    ADD_FAILURE() << "4000 scans decoded";
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Message(), kJPEGTooManyScans);
  }
  auto hundred = test::ManyScanJpeg(64, 100);
  EXPECT_EQ(decoder.DecodeStrip(hundred.data(), hundred.size(), rows.data(), rows.size()),
            rows.size());
  EXPECT_EQ(rows[64 * 63 + 5], 128);
}

TEST(TIFFDirectory, EntriesAreSortedAndConvertedToHostOrder) {
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "MM" : "II");
    TiffBuilder b(bigEndian);
    b.Set(300, TiffBuilder::Short, {7, 9})         // two SHORTs in the field
        .Set(258, TiffBuilder::Short, {8, 16, 4})  // three SHORTs at an offset
        .Set(400, TiffBuilder::Byte, {1, 2, 3})
        .Set(256, TiffBuilder::Long, {70000})
        .Set(282, TiffBuilder::Rational, {720, 10, 3, 4})
        .Set(500, TiffBuilder::Long, {1, 0x80000000u, 3});
    const Bytes file = b.Build();
    TMemoryStream stream(file);
    const auto header = TTIFFHeader::Parse(std::span<const uint8_t>(file).first(8));
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->bigEndian, bigEndian);
    EXPECT_EQ(header->version, 42);
    const TTIFFDirectory directory(stream, 0, header->firstIFD, header->bigEndian);
    const TTIFFFields d(directory, stream);
    std::vector<uint16_t> tags;
    for (const auto& e : directory.Entries()) tags.push_back(e.tag);
    EXPECT_EQ(tags, (std::vector<uint16_t>{256, 258, 282, 300, 400, 500}));
    EXPECT_EQ(d.Values(300), (std::vector<uint32_t>{7, 9}));
    EXPECT_EQ(d.Value(300, 0), 7u);
    EXPECT_EQ(d.Values(258), (std::vector<uint32_t>{8, 16, 4}));
    EXPECT_EQ(d.Value(258, 0), 8u);
    EXPECT_EQ(d.Values(400), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(d.Value(256, 0), 70000u);
    EXPECT_EQ(d.Values(500), (std::vector<uint32_t>{1, 0x80000000u, 3}));
    EXPECT_FLOAT_EQ(d.Float(282, 0, 0), 72.0f);
    EXPECT_FLOAT_EQ(d.Float(282, 1, 0), 0.75f);
    EXPECT_EQ(d.Value(999, 42), 42u);
    EXPECT_TRUE(d.Values(999).empty());
    EXPECT_EQ(directory.NextIFD(), 0u);
  }
}

TEST(TIFFDirectory, ListsLargerThanTheFileFailBeforeAllocating) {
  TiffBuilder b;
  b.Set(273, TiffBuilder::Long, {8, 9, 10});
  Bytes file = b.Build();
  const uint32_t ifd = file[4] | (file[5] << 8);
  // Count of the only entry: four billion LONGs.
  for (size_t k = 0; k < 4; ++k) file[ifd + 2 + 4 + k] = 0xFF;
  TMemoryStream stream(file);
  const TTIFFDirectory directory(stream, 0, ifd, false);
  const TTIFFFields d(directory, stream);
  EXPECT_THROW(d.Values(273), EReadError);
  EXPECT_EQ(d.Value(273, 0), 8u);  // the first value alone is there
}

}  // namespace
}  // namespace quorvex
