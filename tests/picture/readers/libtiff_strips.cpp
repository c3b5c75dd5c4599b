#include "picture/readers/libtiff_strips.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace quorvex::test {

namespace {

void Quiet(const char*, const char*, va_list) {}

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

}  // namespace

void WriteTiff(const std::string& path, const TiffPicture& picture, uint16_t compression,
               uint16_t fillOrder, const std::vector<std::vector<uint8_t>>* rawStrips) {
  TIFFSetWarningHandler(Quiet);
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "w"));
  if (!tiff) throw std::runtime_error("cannot create " + path);
  TIFF* t = tiff.get();
  const uint32_t rowsPerStrip = picture.rowsPerStrip ? picture.rowsPerStrip : picture.height;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, picture.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, picture.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, picture.bitsPerSample);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(t, TIFFTAG_FILLORDER, fillOrder);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  const size_t rowBytes = (size_t{picture.width} * picture.bitsPerSample + 7) / 8;
  const uint32_t strips = (picture.height + rowsPerStrip - 1) / rowsPerStrip;
  for (uint32_t s = 0; s < strips; ++s) {
    if (rawStrips != nullptr) {
      std::vector<uint8_t> data = (*rawStrips)[s];
      if (TIFFWriteRawStrip(t, s, data.data(), static_cast<tmsize_t>(data.size())) < 0) {
        throw std::runtime_error("cannot write raw strip");
      }
      continue;
    }
    const uint32_t first = s * rowsPerStrip;
    const uint32_t rows = std::min(rowsPerStrip, picture.height - first);
    std::vector<uint8_t> data(picture.rows.begin() + first * rowBytes,
                              picture.rows.begin() + (first + rows) * rowBytes);
    if (TIFFWriteEncodedStrip(t, s, data.data(), static_cast<tmsize_t>(data.size())) < 0) {
      throw std::runtime_error("cannot encode strip");
    }
  }
}

bool RunTiffcp(const std::string& options, const std::string& from, const std::string& to) {
  const std::string command =
      std::string(QUORVEX_TIFFCP) + " " + options + " '" + from + "' '" + to + "' 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

TiffStrips ReadTiffStrips(const std::string& path) {
  TIFFSetWarningHandler(Quiet);
  TIFFSetErrorHandler(Quiet);
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "r"));
  if (!tiff) throw std::runtime_error("cannot open " + path);
  TIFF* t = tiff.get();
  TiffStrips result;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &result.width);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &result.height);
  TIFFGetField(t, TIFFTAG_COMPRESSION, &result.compression);
  TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &result.fillOrder);
  if (result.compression == COMPRESSION_CCITTFAX3) {
    TIFFGetFieldDefaulted(t, TIFFTAG_GROUP3OPTIONS, &result.t4Options);
  }
  const uint32_t strips = TIFFNumberOfStrips(t);
  for (uint32_t s = 0; s < strips; ++s) {
    // The raw read must not pass through the decoder, which reverses the
    // fill order in place when it decodes.
    tmsize_t rawSize = static_cast<tmsize_t>(TIFFGetStrileByteCount(t, s));
    std::vector<uint8_t> raw(static_cast<size_t>(rawSize));
    if (TIFFReadRawStrip(t, s, raw.data(), rawSize) != rawSize) {
      throw std::runtime_error("cannot read raw strip");
    }
    result.raw.push_back(std::move(raw));
  }
  for (uint32_t s = 0; s < strips; ++s) {
    std::vector<uint8_t> decoded(static_cast<size_t>(TIFFStripSize(t)));
    const tmsize_t got = TIFFReadEncodedStrip(t, s, decoded.data(), -1);
    decoded.resize(got < 0 ? 0 : static_cast<size_t>(got));
    result.decoded.push_back(std::move(decoded));
  }
  return result;
}

}  // namespace quorvex::test
