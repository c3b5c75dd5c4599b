#pragma once

// Tagged Image File Format: TTIFFGraphic reads the first image of a file
// into itself, and is the decoder behind the EPS previews.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "picture/reader_graphic.h"
#include "picture/readers/reader_messages.h"
#include "picture/readers/tiff_directory.h"
#include "picture/readers/tiff_samples.h"

namespace quorvex {

class TFileFormatList;
class TStream;

inline constexpr const char* kTIFFFormatName = "TIF/TIFF";
inline constexpr const char* kTIFFInvalidFormat = kInvalidImageFormat;
inline constexpr const char* kTIFFNotSupported = kNotSupportedFor;
inline constexpr const char* kTIFFCompressionScheme = "The compression scheme is";

// The option bit of TImageProperties that marks a big-endian ("MM") file.
inline constexpr uint32_t kTIFFBigEndianOption = 1;

// The header facts only TIFF files have, from the last ReadHeaderInfo.
struct TTIFFProperties {
  uint16_t compressionTag = 1;
  uint16_t photometric = 0;
  bool minIsWhite = false;  // photometric 0: the minimum value is white
  bool tiled = false;       // tile width and length both given
  uint32_t tileWidth = 0;
  uint32_t tileLength = 0;
  bool reversedBits = false;  // fill order 2: bits of each byte stored in reverse
  uint16_t planarConfiguration = 1;
  uint16_t predictor = 0;
  uint32_t t4Options = 0;
  std::vector<uint32_t> rowsPerStrip;
  std::array<float, 3> yCbCrCoefficients{0.299f, 0.587f, 0.114f};
  std::array<uint16_t, 2> yCbCrSubsampling{2, 2};
  uint16_t yCbCrPositioning = 1;
  uint16_t sampleFormat = 1;     // 1 unsigned, 2 signed integers, 3 floating point
  bool associatedAlpha = false;  // the first extra sample is premultiplied alpha
  uint16_t orientation = 1;      // how the stored rows are turned, as in EXIF
};

class TTIFFGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TTIFFGraphic"; }
  std::string FormatName() const override { return kTIFFFormatName; }

  // More than 8 bytes remain; "II" or "MM", 42 (or a whole BigTIFF header,
  // 43) in that byte order, and a first-IFD offset inside the stream. The
  // position is restored.
  static bool AcceptsStream(TStream& stream);
  // Reads the header at the current position (the base of every offset)
  // and the imageIndex-th IFD, which is kept for decoding; usable when the
  // version is 42 or 43 (BigTIFF) and width and height are not 0. The
  // position is restored.
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

  const TTIFFProperties& TIFFProperties() const { return tiff_; }

 protected:
  // The first image's strips or tiles, from the directory ReadHeaderInfo
  // kept.
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  void FillProperties(const TTIFFFields& fields);
  TTIFFSampleKind SampleKind() const;
  void SetUpColors(const TTIFFFields& fields, const TTIFFSamples& delivered);
  void SetUpPalette(const TTIFFFields& fields, ColorScheme target);
  void CheckCompression() const;

  TTIFFDirectory directory_;
  TTIFFProperties tiff_;
};

// Registers tiff, tif and fax.
void RegisterTIFFFormats(TFileFormatList& list);

}  // namespace quorvex
