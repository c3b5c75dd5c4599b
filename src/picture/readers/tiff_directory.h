#pragma once

// The structure of a TIFF file: the 8-byte header (16 for BigTIFF) and the
// image file directories (IFDs) with their tagged entries, in either byte
// order.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvex {

class TByteReader;
class TStream;

// Field types of directory entries.
enum class TIFFFieldType : uint16_t {
  Byte = 1,
  Ascii = 2,
  Short = 3,
  Long = 4,
  Rational = 5,
  SByte = 6,
  Undefined = 7,
  SShort = 8,
  SLong = 9,
  SRational = 10,
  // BigTIFF's 8-byte integers and directory offsets.
  Long8 = 16,
  SLong8 = 17,
  IFD8 = 18,
};

// Bytes of one value of a field type; 0 for types this reader does not know.
size_t TIFFFieldTypeSize(uint16_t type);

namespace tiff_tag {
inline constexpr uint16_t kImageWidth = 256;
inline constexpr uint16_t kImageLength = 257;
inline constexpr uint16_t kBitsPerSample = 258;
inline constexpr uint16_t kCompression = 259;
inline constexpr uint16_t kPhotometric = 262;
inline constexpr uint16_t kFillOrder = 266;
inline constexpr uint16_t kStripOffsets = 273;
inline constexpr uint16_t kOrientation = 274;
inline constexpr uint16_t kSamplesPerPixel = 277;
inline constexpr uint16_t kRowsPerStrip = 278;
inline constexpr uint16_t kStripByteCounts = 279;
inline constexpr uint16_t kXResolution = 282;
inline constexpr uint16_t kYResolution = 283;
inline constexpr uint16_t kPlanarConfiguration = 284;
inline constexpr uint16_t kT4Options = 292;
inline constexpr uint16_t kResolutionUnit = 296;
inline constexpr uint16_t kPredictor = 317;
inline constexpr uint16_t kColorMap = 320;
inline constexpr uint16_t kTileWidth = 322;
inline constexpr uint16_t kTileLength = 323;
inline constexpr uint16_t kTileOffsets = 324;
inline constexpr uint16_t kTileByteCounts = 325;
inline constexpr uint16_t kExtraSamples = 338;
inline constexpr uint16_t kSampleFormat = 339;
inline constexpr uint16_t kJPEGTables = 347;
inline constexpr uint16_t kYCbCrCoefficients = 529;
inline constexpr uint16_t kYCbCrSubsampling = 530;
inline constexpr uint16_t kYCbCrPositioning = 531;
}  // namespace tiff_tag

// The file header: byte order, version and the first IFD's offset. A
// BigTIFF header (version 43) goes on with the offset size (8), a zero and
// an 8-byte offset.
struct TTIFFHeader {
  static constexpr size_t kSize = 8;
  static constexpr size_t kBigSize = 16;
  static constexpr uint16_t kVersion = 42;
  static constexpr uint16_t kBigVersion = 43;

  bool bigEndian = false;
  uint16_t version = 0;
  bool bigTIFF = false;  // version 43 with a header this reader follows
  uint64_t firstIFD = 0;

  // Reads the first kSize bytes (EReadError when there are fewer), and for
  // version 43 the rest of the BigTIFF header when `bytes` holds it; nullopt
  // when the byte-order mark is neither "II" nor "MM".
  static std::optional<TTIFFHeader> Parse(std::span<const uint8_t> bytes);
  // A version this reader follows the directories of.
  bool Usable() const { return version == kVersion || bigTIFF; }
};

// One directory entry, in host order. `value` holds the value field (4
// bytes, 8 in BigTIFF): values that fit are kept in order, each in its own
// width (the first SHORT in the low 16 bits, bytes as they stood), anything
// larger is the offset of the values, relative to the base position.
// `field` keeps the value field's bytes as stored.
struct TTIFFEntry {
  static constexpr size_t kSize = 12;
  static constexpr size_t kBigSize = 20;

  uint16_t tag = 0;
  uint16_t type = 0;
  uint64_t count = 0;
  uint64_t value = 0;
  uint8_t fieldSize = 4;
  std::array<uint8_t, 8> field{};

  // Reads one entry of kSize (BigTIFF: kBigSize) bytes in the given byte
  // order.
  static TTIFFEntry Parse(TByteReader& reader, bool bigEndian, bool bigTIFF = false);
  size_t TypeSize() const { return TIFFFieldTypeSize(type); }
  // Whether the values live in the value field itself.
  bool Inline() const { return TypeSize() == 0 || count <= fieldSize / TypeSize(); }
};

// One IFD: its entries sorted by tag and looked up by binary search. It
// keeps no stream; TTIFFFields reads the values that live elsewhere.
class TTIFFDirectory {
 public:
  TTIFFDirectory() = default;
  // Reads the IFD at base + offset, in BigTIFF's form when `bigTIFF`.
  // Entries whose tag repeats keep the first one. A directory that runs past
  // the end of the stream fails with EReadError.
  TTIFFDirectory(TStream& stream, int64_t base, uint64_t offset, bool bigEndian,
                 bool bigTIFF = false);

  const TTIFFEntry* Find(uint16_t tag) const;
  const std::vector<TTIFFEntry>& Entries() const { return entries_; }
  // Offset of the next IFD, 0 for none.
  uint64_t NextIFD() const { return next_; }
  bool BigEndian() const { return bigEndian_; }
  // Where the file starts in the stream: offsets count from here.
  int64_t Base() const { return base_; }

 private:
  void ParseEntries(TByteReader& reader, size_t count, bool bigTIFF);

  int64_t base_ = 0;
  bool bigEndian_ = false;
  uint64_t next_ = 0;
  std::vector<TTIFFEntry> entries_;
};

// The values of a directory's entries, read on demand from the stream the
// directory came from.
class TTIFFFields {
 public:
  TTIFFFields(const TTIFFDirectory& directory, TStream& stream)
      : directory_(directory), stream_(stream) {}

  const TTIFFEntry* Find(uint16_t tag) const { return directory_.Find(tag); }
  bool BigEndian() const { return directory_.BigEndian(); }

  // Every value of an integer entry (BYTE, SHORT, LONG, LONG8 and their
  // signed kinds; RATIONALs give numerator div denominator). Empty when the
  // tag is missing or of another type. A list larger than the stream can
  // hold fails with EReadError before anything is allocated.
  std::vector<uint64_t> Values64(uint16_t tag) const;
  // The same, each value above 32 bits taken as 0xFFFFFFFF.
  std::vector<uint32_t> Values(uint16_t tag) const;
  // The first value of an integer entry, or `missing`.
  uint32_t Value(uint16_t tag, uint32_t missing) const;
  // The index-th value of a RATIONAL (or integer) entry as a float, or
  // `missing`.
  float Float(uint16_t tag, size_t index, float missing) const;
  // The values' bytes as stored in the file (no byte order applied).
  std::vector<uint8_t> RawBytes(uint16_t tag) const;

 private:
  // The bytes of `count` values from the `first`, out of the value field or
  // from the entry's offset after checking that the stream holds them.
  std::vector<uint8_t> ValueBytes(const TTIFFEntry& entry, uint64_t count,
                                  uint64_t first = 0) const;
  // One value of the entry's type in the file's byte order.
  uint64_t ValueAt(TByteReader& reader, uint16_t type) const;

  const TTIFFDirectory& directory_;
  TStream& stream_;
};

}  // namespace quorvex
