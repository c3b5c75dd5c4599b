#include "picture/platform/emf_converter.h"

#include <emf2svg.h>

#include <cstdlib>
#include <cstring>

namespace quorvex::platform {

std::optional<std::string> ConvertEmfToSvg(std::vector<uint8_t>& emf) {
  generatorOptions options;
  std::memset(&options, 0, sizeof options);
  char noNamespace[] = "";
  options.nameSpace = noNamespace;
  options.svgDelimiter = true;
  // The GDI records draw the whole picture, also in files with EMF+ ones.
  options.emfplus = false;
  char* svg = nullptr;
  size_t svgLength = 0;
  const int converted =
      emf2svg(reinterpret_cast<char*>(emf.data()), emf.size(), &svg, &svgLength, &options);
  std::optional<std::string> document;
  if (svg && converted && svgLength > 0) document = std::string(svg, svgLength);
  std::free(svg);
  return document;
}

}  // namespace quorvex::platform
