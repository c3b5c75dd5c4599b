#pragma once

#include <string>

namespace quorvex {

class TBitmap;

inline constexpr int32_t kEncryptFallbackSeed = 51806;
inline constexpr int32_t kDecryptFallbackSeed = 46925;

// Fills target (new and empty) with the source's size, layout and palette,
// each storage byte combined by exclusive-or with the keystream seeded by
// the code. A code that does not convert falls back to a fixed seed.
void EncryptTransform(const TBitmap& source, const std::string& code, TBitmap& target);
void DecryptTransform(const TBitmap& source, const std::string& code, TBitmap& target);

}  // namespace quorvex
