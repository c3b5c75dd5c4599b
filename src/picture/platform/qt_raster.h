#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// The document as it may be rendered: rewritten from its elements,
// attributes and text alone, so that nothing in it can make the renderer
// read anything but the document. Every link is dropped except inline
// raster pictures (data: URIs of PNG, JPEG, BMP or GIF whose bytes are
// that), and those may hold at most maxPicturePixels between them.
// Declarations, processing instructions and comments go. nullopt when the
// document is not well-formed XML or its pictures are too large.
std::optional<std::string> ContainedSvg(const std::string& svg, uint64_t maxPicturePixels);

// Whether Qt's SVG renderer accepts the document.
bool SvgIsValid(const std::string& svg);

// How many pixels of drawing a rendering may cost: each shape is charged
// with the area it can cover on the target (a line with its length times
// its width), whether or not it is hidden later.
struct WorkBudget {
  uint64_t pixels = 0;
  bool exhausted = false;
};

// The viewBox (x, y, width, height in the document's user units) of the SVG
// document, stretched onto a target of targetWidth x targetHeight pixels,
// of which only the window of width x height pixels starting at (offsetX,
// offsetY) is produced.
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

enum class RenderOutcome { Drawn, Failed, OverBudget };

// Renders the window into a raster; unpainted pixels have alpha 0.
RenderOutcome RenderSvg(const std::string& svg, const SvgWindow& window, WorkBudget& budget,
                        Raster& raster);

// Rows of blue, green, red bytes that the picture is painted onto in place,
// over what they hold. `top` is image row 0; `rowStep` the bytes from one
// image row to the next (negative for storage kept bottom-up).
struct Bgr24Rows {
  uint8_t* top = nullptr;
  ptrdiff_t rowStep = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// Paints the window onto the rows, its (0, 0) at the rows' (atX, atY).
RenderOutcome PaintSvg(const std::string& svg, const SvgWindow& window, WorkBudget& budget,
                       const Bgr24Rows& rows, int32_t atX, int32_t atY);

}  // namespace quorvex::platform
