#pragma once

#include <cstdint>
#include <string>

namespace quorvex {

// Converts a code text to its 32-bit seed: blanks, then a signed decimal
// number or a hexadecimal one after "$", "x", "X", "0x" or "0X". Anything
// else raises EConvertError "'%s' is not a valid integer value".
int32_t parseInteger(const std::string& text);

}  // namespace quorvex
