#pragma once

#include <functional>
#include <string>

namespace quorvex {

class TGraphic;
class TStream;

// Writes the graphic as a file without ever leaving a partial one: the data
// goes to a temporary file beside the target, which is renamed over the
// target only once complete. Failures raise EFCreateError or EWriteError.
void SaveFileAtomically(const TGraphic& graphic, const std::string& path);

// The same for any content: `write` fills the temporary file's stream.
void WriteFileAtomically(const std::string& path, const std::function<void(TStream&)>& write);

}  // namespace quorvex
