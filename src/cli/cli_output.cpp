#include "cli/cli_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace quorvex {

namespace {

// The length of the valid UTF-8 sequence at i, or 0.
size_t Utf8SequenceLength(const std::string& s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  uint32_t min = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code < min || code > 0x10FFFF || surrogate ? 0 : length;
}

std::string Escape(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "\\u%04x", value);
  return text;
}

}  // namespace

std::string JsonString(const std::string& bytes) {
  std::string json = "\"";
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      switch (c) {
        case '"':
          json += "\\\"";
          break;
        case '\\':
          json += "\\\\";
          break;
        case '\n':
          json += "\\n";
          break;
        case '\r':
          json += "\\r";
          break;
        case '\t':
          json += "\\t";
          break;
        default:
          if (c < 0x20 || c == 0x7F) {
            json += Escape(c);
          } else {
            json += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    const size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) {
      json += Escape(0xDC00 + c);
      ++i;
    } else {
      json.append(bytes, i, length);
      i += length;
    }
  }
  return json + "\"";
}

std::string FormatRate(double bytesPerSecond) {
  static const char* const kUnits[] = {"B/s", "kB/s", "MB/s", "GB/s"};
  size_t unit = 0;
  while (bytesPerSecond >= 1000 && unit + 1 < std::size(kUnits)) {
    bytesPerSecond /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytesPerSecond, kUnits[unit]);
  return text;
}

std::string FormatDuration(double seconds) {
  const long total = std::lround(std::max(0.0, seconds));
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

TProgressLine::TProgressLine(std::ostream& terminal, size_t files, uint64_t bytes)
    : terminal_(terminal), files_(files), bytes_(bytes) {}

void TProgressLine::FileDone(uint64_t bytes) {
  ++filesDone_;
  bytesDone_ += bytes;
}

void TProgressLine::Clear() {
  terminal_ << "\r\x1b[K" << std::flush;
}

void TProgressLine::Draw() {
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  std::string line = "\r" + std::to_string(filesDone_) + " of " + std::to_string(files_) + " files";
  if (filesDone_ > 0 && seconds > 0) {
    const double rate = static_cast<double>(bytesDone_) / seconds;
    line += ", " + FormatRate(rate);
    if (rate > 0) {
      const uint64_t left = bytes_ > bytesDone_ ? bytes_ - bytesDone_ : 0;
      line += ", " + FormatDuration(static_cast<double>(left) / rate) + " left";
    }
  }
  terminal_ << line << "\x1b[K" << std::flush;
}

}  // namespace quorvex
