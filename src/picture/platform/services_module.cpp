// The entry of the module that the command line loads: the services of this
// build, reached through one exported name.
#include "picture/platform/platform_services.h"

extern "C" __attribute__((visibility("default"))) const quorvex::platform::ServiceTable*
quorvex_platform_services() {
  using namespace quorvex::platform;
  static const ServiceTable table{
      sizeof(ServiceTable), &DecodePng,       &ContainedSvg, &SvgIsValid,
      &RenderSvg,           &PaintSvg,        &ScanWmf,      &ConvertWmfToSvg,
      &WmfLibraryProblem,   &ConvertEmfToSvg,
  };
  return &table;
}
