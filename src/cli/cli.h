#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/code_source.h"

namespace quorvex {

// quorvex-cli: 0 when every file succeeded, 1 when any failed, 2 for a
// usage error or a code that is missing or does not convert.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const TCliConsole& console = TCliConsole::Detached());

}  // namespace quorvex
