#include "app/rtf_writer.h"

#include <QStringList>
#include <algorithm>
#include <vector>

namespace quorvex {

namespace {

// Text with the document's control characters escaped; everything outside
// 7-bit ASCII as a Unicode escape with "?" for readers that lack them.
std::string EscapeText(const QString& text) {
  std::string out;
  for (const QChar c : text) {
    const char16_t code = c.unicode();
    if (code == '\\' || code == '{' || code == '}') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (code == '\t') {
      out += "\\tab ";
    } else if (code >= 0x20 && code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x20) {
      out += ' ';
    } else {
      out += "\\u" + std::to_string(static_cast<int16_t>(code)) + '?';
    }
  }
  return out;
}

}  // namespace

std::string LogToRtf(const std::vector<TLogLine>& lines) {
  QStringList faces;
  std::vector<QColor> colors;
  for (const TLogLine& line : lines) {
    if (!faces.contains(line.format.face)) faces.push_back(line.format.face);
    const QColor color = line.format.color.toRgb();
    if (std::find(colors.begin(), colors.end(), color) == colors.end()) colors.push_back(color);
  }
  if (faces.isEmpty()) faces.push_back("Arial");

  std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\n{\\fonttbl";
  for (int i = 0; i < faces.size(); ++i) {
    out += "{\\f" + std::to_string(i) + "\\fswiss " + EscapeText(faces[i]) + ";}";
  }
  out += "}\n{\\colortbl ;";
  for (const QColor& color : colors) {
    out += "\\red" + std::to_string(color.red()) + "\\green" + std::to_string(color.green()) +
           "\\blue" + std::to_string(color.blue()) + ";";
  }
  out += "}\n";
  for (const TLogLine& line : lines) {
    const TLogFormat& f = line.format;
    const auto color = std::find(colors.begin(), colors.end(), f.color.toRgb()) - colors.begin();
    out += "\\pard\\plain\\f" + std::to_string(faces.indexOf(f.face)) + "\\fs" +
           std::to_string(f.size * 2) + "\\cf" + std::to_string(color + 1) +
           (f.bold ? "\\b" : "\\b0") + (f.italic ? "\\i" : "\\i0") + " " + EscapeText(line.text) +
           "\\par\n";
  }
  out += "}\n";
  return out;
}

}  // namespace quorvex
