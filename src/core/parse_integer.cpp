#include "core/parse_integer.h"

#include "picture/exceptions.h"

namespace quorvex {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int32_t parseInteger(const std::string& text) {
  auto fail = [&]() -> int32_t {
    throw EConvertError(FormatMessage("'%s' is not a valid integer value", text.c_str()));
  };
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return fail();

  bool hex = false;
  if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
    hex = true;
    i += 1;
  } else if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (hex) {
    uint32_t value = 0;
    if (i == text.size()) return fail();
    for (; i < text.size(); ++i) {
      const int d = HexDigit(text[i]);
      if (d < 0 || value > 0x0FFFFFFFu) return fail();
      value = value * 16 + static_cast<uint32_t>(d);
    }
    return static_cast<int32_t>(value);
  }

  bool negative = false;
  if (text[i] == '-' || text[i] == '+') {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return fail();
  uint32_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9' || value > 214748364u) return fail();
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (negative ? value > 2147483648u : value > 2147483647u) return fail();
  return negative ? static_cast<int32_t>(0u - value) : static_cast<int32_t>(value);
}

}  // namespace quorvex
