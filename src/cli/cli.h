#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quorvex {

// quorvex-cli: 0 when every file succeeded, 1 when any failed, 2 for a
// usage error.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quorvex
