#pragma once

#include <QString>
#include <string>

namespace quorvex {

// File names are bytes, shown as text. Bytes that are not UTF-8 become the
// lone surrogates U+DC80..U+DCFF, so that the text turns back into exactly
// the bytes it came from (the locale codec would replace them for good).
QString DecodeFileName(const std::string& name);
std::string EncodeFileName(const QString& text);

}  // namespace quorvex
