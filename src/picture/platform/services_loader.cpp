// The services for a program that does not link Qt: each call goes to the
// module beside the program, loaded on first use (from any thread; the
// loading happens once).
#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "picture/exceptions.h"
#include "picture/platform/platform_services.h"

namespace quorvex::platform {

namespace {

std::string ModulePath() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return (error ? std::filesystem::path(QUORVEX_PLATFORM_MODULE)
                : program.parent_path() / QUORVEX_PLATFORM_MODULE)
      .string();
}

[[noreturn]] void CannotLoad(const std::string& path, const char* reason) {
  throw EInvalidGraphicOperation("Cannot load the platform graphics " + path + " (" +
                                 (reason ? reason : "no reason given") + ")");
}

const ServiceTable* LoadServices() {
  const std::string path = ModulePath();
  // Never closed: Qt keeps state for the life of the process.
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) CannotLoad(path, ::dlerror());
  const auto entry = reinterpret_cast<ServiceTableEntry>(::dlsym(module, kServiceTableSymbol));
  if (!entry) CannotLoad(path, ::dlerror());
  const ServiceTable* table = entry();
  if (!table || table->size != sizeof(ServiceTable)) CannotLoad(path, "made by another build");
  return table;
}

const ServiceTable& Services() {
  // A failed load throws and leaves the next call to try again.
  static const ServiceTable* const table = LoadServices();
  return *table;
}

}  // namespace

bool DecodePng(const uint8_t* data, size_t size, uint64_t maxPixels, Raster& raster) {
  return Services().decodePng(data, size, maxPixels, raster);
}

std::optional<std::string> ContainedSvg(const std::string& svg, uint64_t maxPicturePixels) {
  return Services().containedSvg(svg, maxPicturePixels);
}

bool SvgIsValid(const std::string& svg) {
  return Services().svgIsValid(svg);
}

RenderOutcome RenderSvg(const std::string& svg, const SvgWindow& window, WorkBudget& budget,
                        Raster& raster) {
  return Services().renderSvg(svg, window, budget, raster);
}

RenderOutcome PaintSvg(const std::string& svg, const SvgWindow& window, WorkBudget& budget,
                       const Bgr24Rows& rows, int32_t atX, int32_t atY) {
  return Services().paintSvg(svg, window, budget, rows, atX, atY);
}

std::optional<DeviceRect> ScanWmf(const std::vector<uint8_t>& metafile) {
  return Services().scanWmf(metafile);
}

std::optional<std::string> ConvertWmfToSvg(
    const std::vector<uint8_t>& metafile,
    const std::function<std::optional<SvgLayout>(const DeviceRect& drawn)>& layout) {
  return Services().convertWmfToSvg(metafile, layout);
}

std::optional<std::string> WmfLibraryProblem() {
  return Services().wmfLibraryProblem();
}

std::optional<std::string> ConvertEmfToSvg(std::vector<uint8_t>& emf) {
  return Services().convertEmfToSvg(emf);
}

}  // namespace quorvex::platform
