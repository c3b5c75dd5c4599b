#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::platform {

// A rectangle in the metafile library's device space (left < right,
// top < bottom).
struct DeviceRect {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
};

// The device-space box around everything the Windows metafile draws, or
// nullopt when the library cannot read it.
std::optional<DeviceRect> ScanWmf(const std::vector<uint8_t>& metafile);

// How a metafile becomes a document: `area` of the library's device space
// maps onto width x height user units.
struct SvgLayout {
  DeviceRect area;
  uint32_t width = 0;
  uint32_t height = 0;
};

// The metafile as an SVG document. `layout` is asked with the device-space
// box around what the metafile draws; nullopt from it, or a failure of the
// library, gives nullopt.
std::optional<std::string> ConvertWmfToSvg(
    const std::vector<uint8_t>& metafile,
    const std::function<std::optional<SvgLayout>(const DeviceRect& drawn)>& layout);

// What keeps the library from drawing any metafile at all (its fonts not
// installed, for one), or nullopt when it works.
std::optional<std::string> WmfLibraryProblem();

}  // namespace quorvex::platform
