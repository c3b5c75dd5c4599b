#include "picture/byte_input.h"

#include <gtest/gtest.h>

#include <numeric>

#include "picture/exceptions.h"
#include "picture/image_limits.h"
#include "picture/stream.h"

namespace quorvex {
namespace {

const std::vector<uint8_t> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x80};

TEST(ByteReader, ReadsBothByteOrdersAndSignedValues) {
  TByteReader r(kBytes);
  EXPECT_EQ(r.U16LE(), 0x0201);
  EXPECT_EQ(r.U16BE(), 0x0304);
  r.Seek(0);
  EXPECT_EQ(r.U32LE(), 0x04030201u);
  EXPECT_EQ(r.U32BE(), 0x05060708u);
  EXPECT_EQ(r.I8(), -128);
  r.Seek(0);
  EXPECT_EQ(r.U64LE(), 0x0807060504030201u);
  r.Seek(0);
  EXPECT_EQ(r.U64(true), 0x0102030405060708u);
  r.Seek(7);
  EXPECT_EQ(r.I16BE(), static_cast<int16_t>(0x0880));
  EXPECT_TRUE(r.AtEnd());
}

// A read that does not fit fails whole, and the position stays, so a
// caller that catches can tell where the data ended.
TEST(ByteReader, EveryReadPastTheEndFailsAndKeepsThePosition) {
  TByteReader r(kBytes);
  r.Skip(6);
  EXPECT_THROW(r.U32LE(), EReadError);
  EXPECT_EQ(r.Position(), 6u);
  EXPECT_THROW(r.Bytes(4), EReadError);
  EXPECT_THROW(r.Skip(4), EReadError);
  EXPECT_THROW(r.Seek(10), EReadError);
  EXPECT_NO_THROW(r.Seek(9));
  EXPECT_THROW(r.U8(), EReadError);
  EXPECT_THROW(TByteReader().U8(), EReadError);
}

TEST(ByteReader, SubReadersAreBoundedToTheirPiece) {
  const TByteReader r(kBytes);
  TByteReader sub = r.Sub(2, 3);
  EXPECT_EQ(sub.Size(), 3u);
  EXPECT_EQ(sub.U16BE(), 0x0304);
  EXPECT_THROW(sub.U16BE(), EReadError);  // byte 6 lies outside the piece
  EXPECT_EQ(r.Position(), 0u);
  EXPECT_THROW(r.Sub(8, 2), EReadError);
  EXPECT_THROW(r.Sub(SIZE_MAX, 2), EReadError);  // no wrap-around
  EXPECT_NO_THROW(r.Sub(9, 0));
}

// Hands out at most three bytes a call, as pipes and slow files do.
class TTrickleStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  size_t Read(void* buffer, size_t count) override {
    return TMemoryStream::Read(buffer, std::min<size_t>(count, 3));
  }
};

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t{0});
  return v;
}

TEST(BufferedInput, ReadsAcrossRefillsAndShortStreamReads) {
  TTrickleStream stream(Counting(1000));
  TBufferedInput in(stream, -1, 16);
  EXPECT_EQ(in.U8(), 0);
  EXPECT_EQ(in.U32BE(), 0x01020304u);
  std::vector<uint8_t> big(600);
  in.Read(big);  // larger than the buffer
  EXPECT_EQ(big[0], 5);
  EXPECT_EQ(big[599], static_cast<uint8_t>(604));
  in.Skip(100);
  EXPECT_EQ(in.Position(), 705);
  ASSERT_TRUE(in.Ensure(16));
  EXPECT_EQ(in.Buffered()[0], static_cast<uint8_t>(705));
  EXPECT_FALSE(in.Ensure(17));  // more than the buffer holds
  in.Consume(10);
  in.SyncStream();
  EXPECT_EQ(stream.Position(), 715);
  EXPECT_EQ(in.Remaining(), 285);
  EXPECT_EQ(in.U16LE(), 715 % 256 | (716 % 256) << 8);
}

TEST(BufferedInput, StopsAtItsLimitAndAtTheStreamsEnd) {
  TMemoryStream stream(Counting(100));
  stream.Seek(10);
  TBufferedInput in(stream, 20, 16);
  std::vector<uint8_t> got(30);
  EXPECT_EQ(in.ReadSome(got), 20u);
  EXPECT_EQ(got[19], 29);
  EXPECT_TRUE(in.AtEnd());
  EXPECT_THROW(in.U8(), EReadError);
  EXPECT_THROW(in.Consume(1), EReadError);

  TMemoryStream shortStream(Counting(5));
  TBufferedInput unlimited(shortStream, 1000, 16);  // a limit past the end
  EXPECT_EQ(unlimited.Remaining(), 5);
  std::vector<uint8_t> six(6);
  EXPECT_THROW(unlimited.Read(six), EReadError);
  EXPECT_EQ(six[4], 4);  // what did come is there
  // Starting again behind what was read gives the bytes from there on.
  TMemoryStream again(Counting(100));
  TBufferedInput repositioned(again, -1, 16);
  repositioned.Skip(50);
  EXPECT_EQ(repositioned.U8(), 50);
  repositioned.Reposition(10);
  EXPECT_EQ(repositioned.Position(), 10);
  EXPECT_EQ(repositioned.Remaining(), 90);
  EXPECT_EQ(repositioned.U8(), 10);

  TMemoryStream skipped(Counting(5));
  TBufferedInput skipping(skipped, -1, 16);
  EXPECT_THROW(skipping.Skip(6), EReadError);
}

TEST(ImageLimits, ProductsOverTheCapOrOverflowingAreRefused) {
  EXPECT_EQ(StorageBytes({1024, 1024, 4}), 4u << 20);
  EXPECT_EQ(StorageBytes({0, UINT64_MAX}), 0u);
  EXPECT_THROW(StorageBytes({kMaxStorageBytes + 1}), EOutOfResources);
  EXPECT_THROW(StorageBytes({1u << 31, 1u << 31, 1u << 31}), EOutOfResources);
  EXPECT_THROW(StorageBytes({UINT64_MAX, 2}), EOutOfResources);
  EXPECT_EQ(SaturatingProduct({UINT64_MAX / 2, 3}), UINT64_MAX);
}

}  // namespace
}  // namespace quorvex
