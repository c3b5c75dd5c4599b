#pragma once

#include <cstdint>

namespace quorvex {

enum class ColorScheme : uint8_t {
  UndefinedScheme,
  Indexed,
  Gray,
  GrayAlpha,
  RGB,
  RGBA,
  BGR,
  BGRA,
  CMY,
  CMYK,
  CIELab,
  YCbCr,
  PhotoYCC,
};

enum class CompressionKind : uint8_t {
  UndefinedCompression,
  NoCompression,
  RunLength,
  PackBits,
  LZW,
  CCITTFax3,
  CCITTHuffman,
  CCITTFax4,
  CCITTWordAligned,
  LZ77,
  JPEG,
  OldJPEG,
  ThunderScan,
  NeXT,
  IT8CTPAD,
  IT8LW,
  IT8MP,
  IT8BL,
  PixarFilm,
  PixarLog,
  DCS,
  JBIG,
};

// Header facts a reader fills without decoding pixels. Readers that need
// more (TIFF, PNG) add their own fields after these.
struct TImageProperties {
  uint32_t version = 0;
  uint32_t options = 0;
  int32_t width = 0;
  int32_t height = 0;
  ColorScheme colorScheme = ColorScheme::UndefinedScheme;
  uint8_t bitsPerSample = 0;
  uint8_t samplesPerPixel = 0;
  uint8_t bitsPerPixel = 0;
  CompressionKind compression = CompressionKind::UndefinedCompression;
  float fileGamma = 1.0f;
  float xResolution = 0;
  float yResolution = 0;
  bool interlaced = false;
  bool hasAlpha = false;
};

}  // namespace quorvex
