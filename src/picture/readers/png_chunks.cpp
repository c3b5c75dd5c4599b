#include "picture/readers/png_chunks.h"

#include <zlib.h>

#include <cstring>

#include "picture/exceptions.h"

namespace quorvex {

namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

}  // namespace

TPNGChunkReader::~TPNGChunkReader() {
  if (end_ != begin_) stream_.Seek(stream_.Position() - static_cast<int64_t>(end_ - begin_));
}

int64_t TPNGChunkReader::Remaining() const {
  return stream_.Remaining() + static_cast<int64_t>(end_ - begin_);
}

void TPNGChunkReader::Take(uint8_t* out, size_t count) {
  const size_t buffered = end_ - begin_;
  if (count <= buffered) {
    std::memcpy(out, buffer_.get() + begin_, count);
    begin_ += count;
    return;
  }
  if (buffered != 0) std::memcpy(out, buffer_.get() + begin_, buffered);
  out += buffered;
  count -= buffered;
  begin_ = end_ = 0;
  if (count >= kBufferSize) {
    stream_.ReadBuffer(out, count);  // large data goes straight to its place
    return;
  }
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<uint8_t[]>(kBufferSize);
  end_ = stream_.Read(buffer_.get(), kBufferSize);
  if (end_ < count) {
    // Leave the stream where an exact read would have.
    std::memcpy(out, buffer_.get(), end_);
    begin_ = end_;
    throw EReadError(kStreamReadError);
  }
  std::memcpy(out, buffer_.get(), count);
  begin_ = count;
}

void TPNGChunkReader::ReadHeader() {
  uint8_t bytes[8];
  Take(bytes, sizeof bytes);
  current_.length = BigEndian32(bytes);
  current_.type = BigEndian32(bytes + 4);
  crc_ = static_cast<uint32_t>(crc32(0, bytes + 4, 4));
}

void TPNGChunkReader::ReadData() {
  const size_t length = current_.length;
  // The stream must hold data and CRC before the buffer grows to the
  // announced size: a corrupt length must not cost gigabytes.
  if (static_cast<uint64_t>(Remaining()) < uint64_t{length} + 4) {
    throw EReadError(kStreamReadError);
  }
  if (length > capacity_) {
    data_ = std::make_unique_for_overwrite<uint8_t[]>(length);
    capacity_ = length;
  }
  Take(data_.get(), length);
  uint8_t stored[4];
  Take(stored, sizeof stored);
  // zlib answers a null buffer with the initial CRC, so empty data is not passed on.
  if (length != 0)
    crc_ = static_cast<uint32_t>(crc32(crc_, data_.get(), static_cast<uInt>(length)));
  if (crc_ != BigEndian32(stored)) {
    throw EInvalidGraphic(FormatMessage(kPNGCRCError, kPNGFormatName));
  }
}

void TPNGChunkReader::SkipData() {
  const uint64_t count = uint64_t{current_.length} + 4;
  const size_t buffered = end_ - begin_;
  if (count <= buffered) {
    begin_ += static_cast<size_t>(count);
    return;
  }
  begin_ = end_ = 0;
  stream_.Skip(static_cast<int64_t>(count - buffered));
}

TPNGHeader ParsePNGHeader(const uint8_t* data) {
  TPNGHeader header;
  header.width = BigEndian32(data);
  header.height = BigEndian32(data + 4);
  header.bitDepth = data[8];
  header.colorType = data[9];
  header.compression = data[10];
  header.filter = data[11];
  header.interlace = data[12];
  return header;
}

bool HasPNGSignature(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(sizeof kPNGSignature)) return false;
  uint8_t bytes[sizeof kPNGSignature];
  const size_t got = stream.Read(bytes, sizeof bytes);
  stream.Seek(start);
  return got == sizeof bytes && std::memcmp(bytes, kPNGSignature, sizeof bytes) == 0;
}

std::optional<TPNGHeader> ReadPNGSignatureAndHeader(TStream& stream) {
  uint8_t bytes[8 + 8 + kPNGHeaderLength];
  if (stream.Read(bytes, sizeof bytes) != sizeof bytes) return std::nullopt;
  if (std::memcmp(bytes, kPNGSignature, sizeof kPNGSignature) != 0) return std::nullopt;
  if (BigEndian32(bytes + 8) != kPNGHeaderLength ||
      !SameChunkType(BigEndian32(bytes + 12), kChunkIHDR)) {
    return std::nullopt;
  }
  const TPNGHeader header = ParsePNGHeader(bytes + 16);
  // Sizes beyond 2^31 - 1 are outside the format and outside a bitmap.
  if (header.width == 0 || header.height == 0 || header.width > 0x7FFFFFFFu ||
      header.height > 0x7FFFFFFFu) {
    return std::nullopt;
  }
  stream.Seek(stream.Position() + 4);  // the IHDR CRC
  return header;
}

std::optional<uint32_t> FindPNGGamma(TStream& stream) {
  while (stream.Remaining() >= 8) {
    uint8_t bytes[8];
    stream.ReadBuffer(bytes, sizeof bytes);
    const uint32_t length = BigEndian32(bytes);
    const uint32_t type = BigEndian32(bytes + 4);
    if (SameChunkType(type, kChunkIEND)) return std::nullopt;
    if (SameChunkType(type, kChunkgAMA)) {
      if (length < 4 || stream.Remaining() < 4) return std::nullopt;
      uint8_t value[4];
      stream.ReadBuffer(value, sizeof value);
      return BigEndian32(value);
    }
    if (int64_t{length} + 4 > stream.Remaining()) return std::nullopt;
    stream.Seek(stream.Position() + int64_t{length} + 4);
  }
  return std::nullopt;
}

}  // namespace quorvex
