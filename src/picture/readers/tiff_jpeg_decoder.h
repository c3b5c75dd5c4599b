#pragma once

// JPEG-compressed TIFF strips (compression 7): each strip is an abbreviated
// JPEG stream whose tables may live in the JPEGTables field.

#include <cstdint>
#include <memory>
#include <vector>

#include "picture/image_properties.h"
#include "picture/readers/strip_decoder.h"

namespace quorvex {

inline constexpr const char* kJPEGUnexpectedEnd =
    "JPEG decompression error. Unexpected end of input.";
inline constexpr const char* kJPEGImproperStripSize = "Improper JPEG strip/tile size.";
inline constexpr const char* kJPEGImproperComponentCount = "Improper JPEG component count.";
inline constexpr const char* kJPEGImproperPrecision = "Improper JPEG data precision.";
inline constexpr const char* kJPEGImproperSampling = "Improper JPEG sampling factors.";
inline constexpr const char* kJPEGBogusTables = "Bogus JPEG tables field.";

// Decodes one strip into rows of `width` pixels: three-sample pictures as
// blue, green, red (from YCbCr or RGB data as the photometric scheme says),
// one sample as gray, four as the stored CMYK. The tables, when given, are
// read before every strip. Failures raise EJPEG with one of the messages
// above, or libjpeg's own message text for anything else.
class TTIFFJPEGDecoder : public TStripDecoder {
 public:
  TTIFFJPEGDecoder(std::vector<uint8_t> tables, uint32_t width, int samplesPerPixel,
                   ColorScheme scheme);
  ~TTIFFJPEGDecoder() override;
  TTIFFJPEGDecoder(const TTIFFJPEGDecoder&) = delete;
  TTIFFJPEGDecoder& operator=(const TTIFFJPEGDecoder&) = delete;

  // Fills whole rows of the target (its size divided by the row size), as
  // many as the strip holds.
  size_t DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                     size_t targetSize) override;

  struct TState;

 private:
  std::unique_ptr<TState> state_;
};

}  // namespace quorvex
