#pragma once

// Encapsulated PostScript files shown by their TIFF preview: the PostScript
// itself is never interpreted, a metafile preview is ignored.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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

  // Reads the first kSize bytes; EReadError when there are fewer.
  static TEPSHeader Parse(std::span<const uint8_t> bytes);
  // Whether a TIFF preview follows the header of a file that starts at
  // `start`.
  bool HasTIFFPreview(int64_t start) const;
};

class TEPSGraphic : public TTIFFGraphic {
 public:
  std::string ClassName() const override { return "TEPSGraphic"; }
  std::string FormatName() const override;

  // More than 30 bytes remain, the magic matches, and a TIFF preview of
  // some length starts after the header. The position is restored.
  static bool AcceptsStream(TStream& stream);
  // Reads the header at the current position and the TIFF preview's header
  // as a TIFF file based where the preview starts; usable when both are.
  // The position is restored.
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  // The TIFF preview's pixels.
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  std::optional<TEPSHeader> header_;  // none when the header was cut short
};

// Registers eps.
void RegisterEPSFormats(TFileFormatList& list);

}  // namespace quorvex
