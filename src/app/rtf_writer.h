#pragma once

#include <string>
#include <vector>

#include "app/activity_log.h"

namespace quorvex {

// The log as a rich-text document: one paragraph per line, each carrying
// its text, colour, bold, italic, size and face.
std::string LogToRtf(const std::vector<TLogLine>& lines);

}  // namespace quorvex
