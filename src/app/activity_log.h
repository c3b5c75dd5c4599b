#pragma once

#include <QColor>
#include <QString>
#include <vector>

class QTextEdit;

namespace quorvex {

// The character format of a log line.
struct TLogFormat {
  QColor color;
  bool bold = false;
  bool italic = false;
  int size = 8;
  QString face = "Arial";
  bool operator==(const TLogFormat&) const = default;
};

struct TLogLine {
  QString text;
  TLogFormat format;
};

// The colours the log's lines are told apart by.
namespace log_colors {
inline const QColor kNavy{0, 0, 128};
inline const QColor kGreen{0, 128, 0};
inline const QColor kRed{255, 0, 0};
inline const QColor kPurple{128, 0, 128};
inline const QColor kMaroon{128, 0, 0};
inline const QColor kBlue{0, 0, 255};
inline const QColor kBlack{0, 0, 0};
}  // namespace log_colors

// The activity log: lines in order, each with the format current when it was
// added. The current format persists from line to line; callers change
// single attributes before adding. The log is unbounded. A view, when set,
// mirrors every change.
class TActivityLog {
 public:
  // Starts with the platform's window-text colour, no style, 8 point Arial.
  TActivityLog();

  void SetView(QTextEdit* view);
  const std::vector<TLogLine>& Lines() const { return lines_; }
  const TLogFormat& CurrentFormat() const { return format_; }

  void SetColor(const QColor& color) { format_.color = color; }
  void SetStyle(bool bold, bool italic) {
    format_.bold = bold;
    format_.italic = italic;
  }
  void SetItalic(bool italic) { format_.italic = italic; }
  void SetSize(int points) { format_.size = points; }
  void SetFace(const QString& face) { format_.face = face; }

  void Add(const QString& text);
  // Empties the log; the current format stays.
  void Clear();
  // The start-up block: blank, rule, title, recording line, rule, blank.
  void WriteHeader();

 private:
  void Render(const TLogLine& line, bool first);

  std::vector<TLogLine> lines_;
  TLogFormat format_;
  QTextEdit* view_ = nullptr;
};

// The date and the time as log lines show them: the user's short date and
// long time formats.
QString LogDate();
QString LogTime();

inline constexpr const char* kLogRule =
    " ------------------------------------------------------------------------------------------"
    "---------------------------";

}  // namespace quorvex
