#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvex::platform {

// Pixels as blue, green, red, alpha (straight), top row first.
struct Raster {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> bgra;  // width * 4 bytes a row
};

// Decodes a PNG image; false when Qt cannot, or when it would be larger
// than maxPixels.
bool DecodePng(const uint8_t* data, size_t size, uint64_t maxPixels, Raster& raster);

// Whether Qt's SVG renderer accepts the document.
bool SvgIsValid(const std::string& svg);

// Renders the viewBox (x, y, width, height in the document's user units) of
// the SVG document stretched to a target of targetWidth x targetHeight
// pixels, of which only the window of width x height pixels starting at
// (offsetX, offsetY) is produced. Unpainted pixels have alpha 0.
struct SvgWindow {
  double viewX = 0;
  double viewY = 0;
  double viewWidth = 0;
  double viewHeight = 0;
  int32_t targetWidth = 0;
  int32_t targetHeight = 0;
  int32_t offsetX = 0;
  int32_t offsetY = 0;
  int32_t width = 0;
  int32_t height = 0;
};
bool RenderSvg(const std::string& svg, const SvgWindow& window, Raster& raster);

}  // namespace quorvex::platform
