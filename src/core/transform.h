#pragma once

#include <string>

#include "picture/safe_file_writer.h"

namespace quorvex {

class TBitmap;

inline constexpr int32_t kEncryptFallbackSeed = 51806;
inline constexpr int32_t kDecryptFallbackSeed = 46925;

// Fills target (new and empty) with the source's size, layout and palette,
// each storage byte combined by exclusive-or with the keystream seeded by
// the code. A code that does not convert falls back to a fixed seed.
void EncryptTransform(const TBitmap& source, const std::string& code, TBitmap& target);
void DecryptTransform(const TBitmap& source, const std::string& code, TBitmap& target);

// Writes to `target`, as WriteFileAtomically writes, the very bytes that
// loading a BMP file, either transform and saving its result give, without
// holding the picture: the storage goes through in runs of rows, each
// transformed where it was read. Takes only files that LoadPicture reads
// with TBitmap and that hold an uncompressed bottom-up picture in Bits1
// to Bits32; returns false, having written nothing, for any other, which
// then takes the general road and meets its errors there. A code that does not convert
// raises EConvertError, as CheckCode does, since no fallback seed applies.
bool TransformBmpFile(const std::string& source, const std::string& code, const std::string& target,
                      TExistingFile existing);

}  // namespace quorvex
