#pragma once

#include <QString>

class QHelpEvent;
class QLabel;
class QWidget;

namespace quorvex {

// Whether `text` in `widget`'s font is wider than `room` pixels.
bool IsClipped(const QWidget* widget, const QString& text, int room);

// Answers a tool-tip request over text that may not fit: a clipped text
// shows whole in the tip, one that fits shows none.
void ShowClippedTextTip(QHelpEvent* event, QWidget* widget, const QString& text, int room);

// Gives a single-line label that tip whenever its text does not fit.
void TipWhenClipped(QLabel* label);

}  // namespace quorvex
