#pragma once

// ZSoft Paintbrush (PCX) files: the header, the run-length decoder and the
// reader.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// The 128-byte header at the start of every PCX file (little-endian).
struct TPCXHeader {
  static constexpr size_t kSize = 128;

  uint8_t manufacturer = 0;
  uint8_t version = 0;
  uint8_t encoding = 0;
  uint8_t bitsPerPlane = 0;
  uint16_t xMin = 0;
  uint16_t yMin = 0;
  uint16_t xMax = 0;
  uint16_t yMax = 0;
  uint16_t xResolution = 0;
  uint16_t yResolution = 0;
  uint8_t colorMap[48] = {};  // 16 red, green, blue triples
  uint8_t planes = 0;
  uint16_t bytesPerLine = 0;
  uint16_t paletteInfo = 0;

  // From the first kSize bytes; fewer raise EReadError.
  static TPCXHeader Parse(std::span<const uint8_t> bytes);

  // What the content test asks of a header.
  bool LooksValid() const;
  // Whether the reader takes the header at all.
  bool Accepted() const { return manufacturer == 10 || manufacturer == 205; }
  // Negative or zero when the corners are crossed.
  int32_t Width() const { return int32_t{xMax} - xMin + 1; }
  int32_t Height() const { return int32_t{yMax} - yMin + 1; }
  bool RunLength() const { return encoding == 1; }
  // Every plane of a scan line, one after another.
  uint32_t LineLength() const { return uint32_t{planes} * bytesPerLine; }
};

// The PCX run-length code: a byte whose two top bits are set is a run of
// its low 6 bits' count of the byte that follows; any other byte stands for
// itself. Runs may cross scan lines: what a run still owes is written first
// on the next call, and input may arrive in pieces of any size.
class TPCXRLEDecoder {
 public:
  // Decodes up to `count` bytes into `target`, taking bytes from
  // [source, end) and moving `source` past the bytes used. Returns the bytes
  // written, fewer than `count` when the input runs out (a run byte whose
  // value has not arrived is left unread).
  size_t Decode(const uint8_t*& source, const uint8_t* end, uint8_t* target, size_t count);
  void Reset() { left_ = 0; }

  // Bytes still owed by the current run.
  size_t PendingBytes() const { return left_; }

 private:
  size_t left_ = 0;
  uint8_t value_ = 0;
};

// Reads PCX files of 1 plane of 1, 2, 4 or 8 bits (Bits1, Bits4, Bits8),
// 4 planes of 1 bit (Bits4), 3 planes of 8 bits (Bits24) and 4 planes of 8
// bits (Bits32 with alpha). A header whose first byte is neither 10 nor 205
// loads as an empty bitmap.
class TPCXGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TPCXGraphic"; }
  std::string FormatName() const override { return "PCX"; }

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  PixelLayout SetUpConverter();
  void CheckLineLength() const;
  int64_t ReadPaletteBlock(TStream& stream, int64_t start, PixelLayout layout);
  void ApplyHeaderPalette(PixelLayout layout);
  void ReadLines(TStream& stream, int64_t areaEnd, bool fourPlanes16);

  TPCXHeader header_;
  TPalette blockPalette_;
};

// Registers pcx, pcc and scr.
void RegisterPCXFormats(TFileFormatList& list);

}  // namespace quorvex
