#pragma once

#include <string>

namespace quorvex {

class TGraphic;

// Writes the graphic as a file without ever leaving a partial one: the data
// goes to a temporary file beside the target, which is renamed over the
// target only once complete. Failures raise EFCreateError or EWriteError.
void SaveFileAtomically(const TGraphic& graphic, const std::string& path);

}  // namespace quorvex
