#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace quorvex {

// Every failure the picture code and the transforms raise carries the exact
// message text that ends up in the log or the error box.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

#define QUORVEX_EXCEPTION(Name, Base)                            \
  class Name : public Base {                                     \
   public:                                                       \
    explicit Name(const std::string& message) : Base(message) {} \
  }

QUORVEX_EXCEPTION(EConvertError, Exception);
QUORVEX_EXCEPTION(EOutOfResources, Exception);
QUORVEX_EXCEPTION(EWin32Error, Exception);
QUORVEX_EXCEPTION(EInvalidGraphic, Exception);
QUORVEX_EXCEPTION(EInvalidGraphicOperation, Exception);
QUORVEX_EXCEPTION(EGraphicCompression, Exception);
QUORVEX_EXCEPTION(EColorConversionError, Exception);
QUORVEX_EXCEPTION(EJPEG, Exception);
QUORVEX_EXCEPTION(EStreamError, Exception);
QUORVEX_EXCEPTION(EReadError, EStreamError);
QUORVEX_EXCEPTION(EWriteError, EStreamError);
QUORVEX_EXCEPTION(EFOpenError, EStreamError);
QUORVEX_EXCEPTION(EFCreateError, EStreamError);

#undef QUORVEX_EXCEPTION

// Fills the %s / %d arguments of a quoted message text.
template <typename... Args>
std::string FormatMessage(const char* format, Args... args) {
  const int size = std::snprintf(nullptr, 0, format, args...);
  if (size <= 0) return format;
  std::string text(static_cast<size_t>(size), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

inline constexpr const char* kStreamReadError = "Stream read error";
inline constexpr const char* kStreamWriteError = "Stream write error";
inline constexpr const char* kBitmapNotValid = "Bitmap image is not valid";
inline constexpr const char* kScanLineOutOfRange = "Scan line index out of range";
inline constexpr const char* kInvalidPixelFormat = "Invalid pixel format";
inline constexpr const char* kOutOfResources = "Out of system resources";

}  // namespace quorvex
