#pragma once

// Encapsulated PostScript files shown by their TIFF preview: the PostScript
// itself is never interpreted, a metafile preview is ignored.

#include <cstddef>
#include <cstdint>
#include <string>

#include "picture/readers/tiff_reader.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// The 30-byte binary header of an EPS file with previews (little-endian).
struct TEPSHeader {
  static constexpr size_t kSize = 30;
  static constexpr uint32_t kMagic = 0xC6D3D0C5;

  uint32_t magic = 0;
  uint32_t postScriptOffset = 0;
  uint32_t postScriptLength = 0;
  uint32_t metafileOffset = 0;
  uint32_t metafileLength = 0;
  uint32_t tiffOffset = 0;  // from the start of the file
  uint32_t tiffLength = 0;
  uint16_t checksum = 0;

  static TEPSHeader Parse(const uint8_t* bytes);
};

class TEPSGraphic : public TTIFFGraphic {
 public:
  std::string ClassName() const override { return "TEPSGraphic"; }
  std::string FormatName() const override;

  // More than 30 bytes remain, the magic matches, and a TIFF preview of
  // some length starts after the header. The position is restored.
  static bool AcceptsStream(TStream& stream);
  // Reads the header at the current position, moves to the TIFF preview
  // and reads it as a TIFF file based there.
  void ReadFromStream(TStream& stream) override;
};

// Registers eps.
void RegisterEPSFormats(TFileFormatList& list);

}  // namespace quorvex
