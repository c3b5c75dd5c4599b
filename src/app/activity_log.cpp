#include "app/activity_log.h"

#include <QDate>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTime>

namespace quorvex {

TActivityLog::TActivityLog() {
  format_.color = QGuiApplication::palette().color(QPalette::WindowText);
}

void TActivityLog::SetView(QTextEdit* view) {
  view_ = view;
  if (!view_) return;
  view_->clear();
  for (size_t i = 0; i < lines_.size(); ++i) Render(lines_[i], i == 0);
}

void TActivityLog::Add(const QString& text) {
  lines_.push_back({text, format_});
  if (view_) Render(lines_.back(), lines_.size() == 1);
}

void TActivityLog::Clear() {
  lines_.clear();
  if (view_) view_->clear();
}

void TActivityLog::Render(const TLogLine& line, bool first) {
  QTextCharFormat format;
  format.setForeground(line.format.color);
  format.setFontWeight(line.format.bold ? QFont::Bold : QFont::Normal);
  format.setFontItalic(line.format.italic);
  format.setFontPointSize(line.format.size);
  format.setFontFamilies({line.format.face});
  QTextCursor cursor(view_->document());
  cursor.movePosition(QTextCursor::End);
  if (first) {
    cursor.setBlockCharFormat(format);
  } else {
    // The block's own format colours an empty line's mark as well.
    cursor.insertBlock(QTextBlockFormat(), format);
  }
  cursor.insertText(line.text, format);
  view_->moveCursor(QTextCursor::End);
  view_->ensureCursorVisible();
}

void TActivityLog::WriteHeader() {
  Add("");
  Add(kLogRule);
  SetColor(log_colors::kBlue);
  SetStyle(true, false);
  SetSize(12);
  SetFace("Arial");
  Add(" QUORVEX ACTIVITY LOG");
  SetColor(log_colors::kBlack);
  SetStyle(false, false);
  SetSize(8);
  SetFace("Arial");
  Add(" Recording started on " + LogDate() + " at " + LogTime());
  Add(kLogRule);
  Add("");
}

QString LogDate() {
  return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

QString LogTime() {
  return QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat);
}

}  // namespace quorvex
