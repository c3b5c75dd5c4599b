#include "picture/readers/png_chunks.h"

#include <zlib.h>

#include <algorithm>
#include <array>

#include "picture/exceptions.h"

namespace quorvex {

namespace {

uint32_t Crc32(uint32_t crc, std::span<const uint8_t> bytes) {
  // zlib answers a null buffer with the initial CRC, so empty data is not passed on.
  if (bytes.empty()) return crc;
  return static_cast<uint32_t>(crc32(crc, bytes.data(), static_cast<uInt>(bytes.size())));
}

}  // namespace

TPNGChunkHeader TPNGChunkHeader::Parse(std::span<const uint8_t, kSize> bytes) {
  TByteReader reader(bytes);
  TPNGChunkHeader header;
  header.length = reader.U32BE();
  header.type = reader.U32BE();
  return header;
}

TPNGChunkReader::~TPNGChunkReader() {
  input_.SyncStream();
}

void TPNGChunkReader::ReadHeader() {
  std::array<uint8_t, TPNGChunkHeader::kSize> bytes;
  input_.Read(bytes);
  current_ = TPNGChunkHeader::Parse(bytes);
  crc_ = Crc32(0, std::span(bytes).subspan(4));
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
  input_.Read({data_.get(), length});
  const uint32_t stored = input_.U32BE();
  crc_ = Crc32(crc_, Data());
  if (crc_ != stored) throw EInvalidGraphic(FormatMessage(kPNGCRCError, kPNGFormatName));
}

void TPNGChunkReader::SkipData() {
  input_.Skip(uint64_t{current_.length} + 4);
}

TPNGHeader TPNGHeader::Parse(std::span<const uint8_t, kSize> bytes) {
  TByteReader reader(bytes);
  TPNGHeader header;
  header.width = reader.U32BE();
  header.height = reader.U32BE();
  header.bitDepth = reader.U8();
  header.colorType = reader.U8();
  header.compression = reader.U8();
  header.filter = reader.U8();
  header.interlace = reader.U8();
  return header;
}

bool HasPNGSignature(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(sizeof kPNGSignature)) return false;
  uint8_t bytes[sizeof kPNGSignature];
  const size_t got = stream.Read(bytes, sizeof bytes);
  stream.Seek(start);
  return got == sizeof bytes && std::equal(bytes, bytes + got, kPNGSignature);
}

std::optional<TPNGFileHeader> ReadPNGSignatureAndHeader(TStream& stream) {
  std::array<uint8_t, TPNGFileHeader::kSize> bytes{};
  const size_t got = stream.Read(bytes.data(), bytes.size());
  // The CRC is decoding's concern; without it the header still answers.
  if (got < TPNGFileHeader::kSize - 4) return std::nullopt;
  TByteReader reader(std::span<const uint8_t>(bytes.data(), got));
  if (!std::ranges::equal(reader.Bytes(sizeof kPNGSignature), kPNGSignature)) return std::nullopt;
  const auto chunk =
      TPNGChunkHeader::Parse(reader.Bytes(TPNGChunkHeader::kSize).first<TPNGChunkHeader::kSize>());
  if (chunk.length != TPNGHeader::kSize || !SameChunkType(chunk.type, kChunkIHDR)) {
    return std::nullopt;
  }
  const std::span<const uint8_t> typeAndData =
      reader.All().subspan(sizeof kPNGSignature + 4, 4 + TPNGHeader::kSize);
  TPNGFileHeader header;
  header.ihdr = TPNGHeader::Parse(reader.Bytes(TPNGHeader::kSize).first<TPNGHeader::kSize>());
  // Sizes beyond 2^31 - 1 are outside the format and outside a bitmap.
  const TPNGHeader& h = header.ihdr;
  if (h.width == 0 || h.height == 0 || h.width > 0x7FFFFFFFu || h.height > 0x7FFFFFFFu) {
    return std::nullopt;
  }
  header.crcPresent = reader.Has(4);
  header.crcMatches = header.crcPresent && reader.U32BE() == Crc32(0, typeAndData);
  return header;
}

std::optional<uint32_t> FindPNGGamma(TStream& stream) {
  while (stream.Remaining() >= static_cast<int64_t>(TPNGChunkHeader::kSize)) {
    std::array<uint8_t, TPNGChunkHeader::kSize> bytes;
    stream.ReadBuffer(bytes.data(), bytes.size());
    const TPNGChunkHeader chunk = TPNGChunkHeader::Parse(bytes);
    if (SameChunkType(chunk.type, kChunkIEND)) return std::nullopt;
    if (SameChunkType(chunk.type, kChunkgAMA)) {
      if (chunk.length < 4 || stream.Remaining() < 4) return std::nullopt;
      return stream.ReadU32BE();
    }
    if (int64_t{chunk.length} + 4 > stream.Remaining()) return std::nullopt;
    stream.Seek(stream.Position() + int64_t{chunk.length} + 4);
  }
  return std::nullopt;
}

}  // namespace quorvex
