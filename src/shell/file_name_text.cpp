#include "shell/file_name_text.h"

namespace quorvex {

namespace {

// The length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
size_t Utf8SequenceLength(const std::string& text, size_t at, char32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  size_t length = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

constexpr char16_t kEscapeBase = 0xDC00;

}  // namespace

QString DecodeFileName(const std::string& name) {
  QString text;
  text.reserve(static_cast<qsizetype>(name.size()));
  for (size_t at = 0; at < name.size();) {
    char32_t code = 0;
    const size_t length = Utf8SequenceLength(name, at, code);
    if (length == 0) {
      text += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(name[at])));
      ++at;
      continue;
    }
    text += QString::fromUcs4(&code, 1);
    at += length;
  }
  return text;
}

std::string EncodeFileName(const QString& text) {
  std::string name;
  name.reserve(static_cast<size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i].unicode();
    if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      AppendUtf8(name, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
      ++i;
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      name += static_cast<char>(unit - kEscapeBase);
    } else if (QChar::isSurrogate(unit)) {
      AppendUtf8(name, 0xFFFD);
    } else {
      AppendUtf8(name, unit);
    }
  }
  return name;
}

}  // namespace quorvex
