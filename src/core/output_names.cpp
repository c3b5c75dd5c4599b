#include "core/output_names.h"

namespace quorvex {

std::string EncryptedOutputName(const std::string& name) {
  const size_t dot = name.rfind('.');
  return "Ecr_" + (dot == std::string::npos ? name : name.substr(0, dot)) + ".bmp";
}

std::string DecryptedOutputName(const std::string& name) {
  if (name.compare(0, 4, "Ecr_") == 0) return name.substr(4);
  return "Dcr_" + name;
}

}  // namespace quorvex
