#pragma once

// Dr. Halo pictures (CUT) and their palette files (PAL).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// The 6-byte header of a Dr. Halo picture (little-endian); a reserved word
// follows the size.
struct TCUTHeader {
  static constexpr size_t kSize = 6;

  uint16_t width = 0;
  uint16_t height = 0;

  // From the first kSize bytes; fewer raise EReadError.
  static TCUTHeader Parse(std::span<const uint8_t> bytes);
};

// The run-length rows of a Dr. Halo file. Each row record is a 2-byte
// length (not trusted) and packets up to a 0 byte: bit 7 set repeats the
// next byte (low 7 bits) times, bit 7 clear copies the next (low 7 bits)
// bytes.
class TCUTRowDecoder {
 public:
  // Decodes the record at `source` (at most `sourceSize` bytes) into `width`
  // bytes at `row`. Packets that run past the row are consumed but not
  // written; row bytes no packet reaches are left alone. Returns the record's
  // size, or 0 when the data ends inside the record (what did arrive is
  // written).
  static size_t DecodeRow(const uint8_t* source, size_t sourceSize, uint8_t* row, size_t width);
};

// The palette of a Dr. Halo picture, kept beside it as NAME.pal: 512-byte
// blocks, the entry count less one at offset 12 of the first block, 6-byte
// entries from offset 40 that never straddle a block. Entries the file does
// not hold are black.
TPalette ReadCUTPalette(TStream& stream);

// Reads Dr. Halo pictures into Bits8. Loaded from a file, the palette comes
// from the .pal file of the same name when there is one; otherwise the
// pixel values show as gray levels.
class TCUTGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TCUTGraphic"; }
  std::string FormatName() const override { return "Dr. Halo"; }

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;
  void LoadFile(const std::string& path) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  void ApplyPaletteFile();
  void ReadRows(TStream& stream, int64_t available);

  // Set only while LoadFile runs.
  std::string paletteFile_;
};

// Registers cut.
void RegisterCUTFormats(TFileFormatList& list);

}  // namespace quorvex
