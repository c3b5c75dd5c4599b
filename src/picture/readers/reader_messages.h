#pragma once

// Failure texts the readers share; each fills in its own format name.

namespace quorvex {

inline constexpr const char* kInvalidImageFormat =
    "Cannot load image. Invalid or unexpected %s image format.";
inline constexpr const char* kNotSupportedFor = "Cannot load image. %s not supported for %s files.";

}  // namespace quorvex
