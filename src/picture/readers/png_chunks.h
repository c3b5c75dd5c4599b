#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "picture/byte_input.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

// Failure texts of the PNG reader; %s is always "PNG".
inline constexpr const char* kPNGFormatName = "PNG";
inline constexpr const char* kPNGInvalidFormat = kInvalidImageFormat;
inline constexpr const char* kPNGNotSupported = kNotSupportedFor;
inline constexpr const char* kPNGCompressionScheme = "The compression scheme is";
inline constexpr const char* kPNGCRCError = "Cannot load image. CRC error found in %s file.";
inline constexpr const char* kPNGInvalidColorFormat = "Invalid color format in %s file.";
inline constexpr const char* kPNGInvalidPalette =
    "Cannot load image. Palette in %s file is invalid.";
inline constexpr const char* kPNGExtraData =
    "Cannot load image. Extra compressed data found in %s file.";
inline constexpr const char* kPNGCompressionError =
    "Cannot load image. Compression error found in %s file.";
inline constexpr const char* kPNGCriticalChunk =
    "Cannot load PNG image. Unexpected but critical chunk detected.";
inline constexpr const char* kLZ77DecompressionError = "LZ77 decompression error.";

inline constexpr uint8_t kPNGSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// Chunk types as their four bytes read big-endian.
constexpr uint32_t PNGChunkType(const char (&name)[5]) {
  return (uint32_t{static_cast<uint8_t>(name[0])} << 24) |
         (uint32_t{static_cast<uint8_t>(name[1])} << 16) |
         (uint32_t{static_cast<uint8_t>(name[2])} << 8) | uint32_t{static_cast<uint8_t>(name[3])};
}
inline constexpr uint32_t kChunkIHDR = PNGChunkType("IHDR");
inline constexpr uint32_t kChunkPLTE = PNGChunkType("PLTE");
inline constexpr uint32_t kChunkIDAT = PNGChunkType("IDAT");
inline constexpr uint32_t kChunkIEND = PNGChunkType("IEND");
inline constexpr uint32_t kChunkgAMA = PNGChunkType("gAMA");
inline constexpr uint32_t kChunkbKGD = PNGChunkType("bKGD");
inline constexpr uint32_t kChunktRNS = PNGChunkType("tRNS");

// Types match with the case bit of every byte ignored: "idat" is "IDAT".
constexpr bool SameChunkType(uint32_t a, uint32_t b) {
  return ((a ^ b) & ~uint32_t{0x20202020}) == 0;
}
// Bit 5 of the first type byte clear marks a chunk a reader must understand.
constexpr bool IsCriticalChunk(uint32_t type) {
  return (type & 0x20000000u) == 0;
}

struct TPNGChunkHeader {
  static constexpr size_t kSize = 8;  // length and type, both big-endian

  uint32_t length = 0;
  uint32_t type = 0;

  static TPNGChunkHeader Parse(std::span<const uint8_t, kSize> bytes);
};

// Walks the chunks of one PNG stream: a header at a time, then either the
// data (CRC-checked) or a skip past data and CRC. Small reads go through the
// buffered input, so that a file of many small chunks costs few system
// calls; the stream is left at the end of what was taken when the reader
// goes.
class TPNGChunkReader {
 public:
  explicit TPNGChunkReader(TStream& stream) : input_(stream) {}
  ~TPNGChunkReader();
  TPNGChunkReader(const TPNGChunkReader&) = delete;
  TPNGChunkReader& operator=(const TPNGChunkReader&) = delete;

  const TPNGChunkHeader& Current() const { return current_; }
  bool CurrentIs(uint32_t type) const { return SameChunkType(current_.type, type); }

  // Reads length and type; starts the CRC over the type bytes.
  void ReadHeader();
  // Reads the current chunk's data and its stored CRC and compares; a
  // mismatch fails with the CRC message. A length the stream cannot hold
  // fails with "Stream read error" before anything is allocated.
  void ReadData();
  // Passes over data and CRC without checking.
  void SkipData();

  // The current chunk's data, after ReadData.
  std::span<const uint8_t> Data() const { return {data_.get(), current_.length}; }
  size_t DataLength() const { return current_.length; }
  // Bytes of the stream not yet taken.
  int64_t Remaining() const { return input_.Remaining(); }

 private:
  TBufferedInput input_;
  TPNGChunkHeader current_;
  uint32_t crc_ = 0;
  // Not zeroed when it grows: a large IDAT chunk is read over at once.
  std::unique_ptr<uint8_t[]> data_;
  size_t capacity_ = 0;
};

// The IHDR fields.
struct TPNGHeader {
  static constexpr size_t kSize = 13;

  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t bitDepth = 0;
  uint8_t colorType = 0;
  uint8_t compression = 0;
  uint8_t filter = 0;
  uint8_t interlace = 0;

  static TPNGHeader Parse(std::span<const uint8_t, kSize> bytes);
};

// What the start of a file says: the IHDR fields and whether the IHDR
// chunk's stored CRC was there and matched.
struct TPNGFileHeader {
  // Signature, IHDR length and type, its data and its CRC.
  static constexpr size_t kSize =
      sizeof kPNGSignature + TPNGChunkHeader::kSize + TPNGHeader::kSize + 4;

  TPNGHeader ihdr;
  bool crcPresent = false;
  bool crcMatches = false;
};

// Reads the signature and the IHDR chunk from the current position;
// nullopt when either is missing or width or height is 0 or beyond
// 2^31 - 1. A missing or wrong CRC is recorded, not refused: that is
// decoding's error. Leaves the stream after the IHDR chunk.
std::optional<TPNGFileHeader> ReadPNGSignatureAndHeader(TStream& stream);
// From just after the IHDR chunk, skips chunks up to gAMA (returning its
// value) or IEND; a stream that ends first, or a short gAMA, gives nullopt.
std::optional<uint32_t> FindPNGGamma(TStream& stream);

// The content test: more than 8 bytes remain and they start with the
// signature. The position is restored.
bool HasPNGSignature(TStream& stream);

}  // namespace quorvex
