#pragma once

// Autodesk Animator cel and picture files (CEL, PIC).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// The 32-byte header of an Autodesk file (little-endian).
struct TAutodeskHeader {
  static constexpr size_t kSize = 32;
  static constexpr uint16_t kMagic = 0x9119;
  // 256 red, green, blue triples of 6-bit values follow the header.
  static constexpr size_t kPaletteSize = 768;

  uint16_t magic = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t bitsPerPixel = 0;

  // From the first kSize bytes; fewer raise EReadError.
  static TAutodeskHeader Parse(std::span<const uint8_t> bytes);

  // What the content test asks; the reader needs the same to decode.
  bool LooksValid() const { return magic == kMagic && bitsPerPixel == 8; }
};

// Reads 8-bit Autodesk pictures into Bits8 with the file's palette. Rows the
// data does not reach keep the bitmap's initial fill.
class TAutodeskGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TAutodeskGraphic"; }
  std::string FormatName() const override { return "Autodesk"; }

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  TAutodeskHeader header_;
};

// Registers cel and pic.
void RegisterAutodeskFormats(TFileFormatList& list);

}  // namespace quorvex
