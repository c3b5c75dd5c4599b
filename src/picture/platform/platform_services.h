#pragma once

// The services of Qt and the metafile libraries that icons and metafiles
// use, as one table. Programs with windows link them; the command line
// loads them from a module beside itself the first time a picture needs
// them, so that its start does not pay for loading Qt.

#include <cstdint>

#include "picture/platform/emf_converter.h"
#include "picture/platform/qt_raster.h"
#include "picture/platform/wmf_player.h"

namespace quorvex::platform {

struct ServiceTable {
  // Guards against a module from another build: the table's size.
  uint32_t size = sizeof(ServiceTable);
  bool (*decodePng)(const uint8_t*, size_t, uint64_t, Raster&);
  std::optional<std::string> (*containedSvg)(const std::string&, uint64_t);
  bool (*svgIsValid)(const std::string&);
  RenderOutcome (*renderSvg)(const std::string&, const SvgWindow&, WorkBudget&, Raster&);
  RenderOutcome (*paintSvg)(const std::string&, const SvgWindow&, WorkBudget&, const Bgr24Rows&,
                            int32_t, int32_t);
  std::optional<DeviceRect> (*scanWmf)(const std::vector<uint8_t>&);
  std::optional<std::string> (*convertWmfToSvg)(
      const std::vector<uint8_t>&,
      const std::function<std::optional<SvgLayout>(const DeviceRect&)>&);
  std::optional<std::string> (*wmfLibraryProblem)();
  std::optional<std::string> (*convertEmfToSvg)(std::vector<uint8_t>&);
};

// The name under which the module exports its table: a C function taking
// nothing and returning a pointer to the table.
inline constexpr char kServiceTableSymbol[] = "quorvex_platform_services";
using ServiceTableEntry = const ServiceTable* (*)();

}  // namespace quorvex::platform
