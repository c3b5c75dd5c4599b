#pragma once

#include <string>

namespace quorvex {

// "Ecr_" + name, with everything from the last "." on replaced by ".bmp".
std::string EncryptedOutputName(const std::string& name);
// The name without a leading "Ecr_" (case-sensitive), else "Dcr_" + name.
std::string DecryptedOutputName(const std::string& name);

}  // namespace quorvex
