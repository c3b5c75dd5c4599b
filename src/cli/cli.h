#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quorvex {

// quorvex-cli: 0 when every file succeeded, 1 when any failed, 2 for a
// usage error or a code that does not convert.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quorvex
