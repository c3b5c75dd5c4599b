#pragma once

// Photoshop (PSD, PDD) files: the merged image that follows the layers.

#include <cstddef>
#include <cstdint>
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

  static TPSDHeader Parse(const uint8_t* bytes);
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
  void ReadFromStream(TStream& stream) override;

 private:
  // The header's raw facts that the properties record does not keep.
  uint16_t version_ = 0;
  uint16_t channels_ = 0;
  uint16_t colorMode_ = 0;
  uint16_t compressionValue_ = 0;
};

// Registers psd and pdd.
void RegisterPSDFormats(TFileFormatList& list);

}  // namespace quorvex
