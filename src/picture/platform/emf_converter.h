#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::platform {

// The enhanced metafile (its GDI records; EMF+ ones are passed over) as an
// SVG document without a namespace prefix, or nullopt when the converter
// cannot read it.
std::optional<std::string> ConvertEmfToSvg(std::vector<uint8_t>& emf);

}  // namespace quorvex::platform
