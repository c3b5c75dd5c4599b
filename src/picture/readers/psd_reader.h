#pragma once

// Photoshop (PSD, PDD) files: the merged image that follows the layers.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// TImageProperties::options flag: sample value 0 is white (bitmap mode).
inline constexpr uint32_t kPSDMinimumIsWhite = 1;

// The 26-byte header at the start of every Photoshop file (big-endian).
struct TPSDHeader {
  static constexpr size_t kSize = 26;

  char signature[4] = {};
  uint16_t version = 0;
  uint16_t channels = 0;
  uint32_t height = 0;
  uint32_t width = 0;
  uint16_t bitsPerChannel = 0;
  uint16_t colorMode = 0;

  static TPSDHeader Parse(std::span<const uint8_t, kSize> bytes);
  // "8BPS", exactly or in any case.
  bool SignatureMatches(bool anyCase) const;
  // What the content test asks: the signature in any case and version 1.
  bool LooksValid() const { return SignatureMatches(true) && version == 1; }
};

// Photoshop colour modes.
enum class PSDColorMode : uint16_t {
  Bitmap = 0,
  Grayscale = 1,
  Indexed = 2,
  RGB = 3,
  CMYK = 4,
  Multichannel = 7,
  Duotone = 8,
  Lab = 9,
};

// Reads the merged image of grayscale, duotone and bitmap-mode files (one
// plane: Bits8, or Bits1 for bitmap mode), indexed files (Bits8 with the
// file's palette), RGB and multichannel files (Bits24, or Bits32 with a
// fourth channel), CMYK and Lab files (Bits24); 16-bit channels are reduced
// to 8 bits. Layers are passed over.
class TPSDGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TPSDGraphic"; }
  std::string FormatName() const override;

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  struct TPlanes;
  void SetProperties();
  void ReadSections(TStream& stream);
  void CheckHeader() const;
  void SetUpConverter();
  void MakeCanvas(const TStream& stream);
  void ReadColorModeData(TStream& stream);
  void DecodeRaw(TStream& stream, TPlanes& planes);
  void DecodeRunLength(TStream& stream, TPlanes& planes);
  void EmitRow(TPlanes& planes, uint32_t y);

  TPSDHeader header_;
  // Where the sections after the header are, from the header read: the
  // colour mode data (at its length) and the merged image's data (after
  // its compression value).
  int64_t colorDataAt_ = 0;
  uint32_t colorDataLength_ = 0;
  int64_t imageDataAt_ = 0;
  uint16_t compressionValue_ = 0;
};

// Registers psd and pdd.
void RegisterPSDFormats(TFileFormatList& list);

}  // namespace quorvex
