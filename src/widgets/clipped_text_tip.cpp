#include "widgets/clipped_text_tip.h"

#include <QEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>

namespace quorvex {

namespace {

class TLabelTip : public QObject {
 public:
  explicit TLabelTip(QLabel* label) : QObject(label), label_(label) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != label_ || event->type() != QEvent::ToolTip) return false;
    ShowClippedTextTip(static_cast<QHelpEvent*>(event), label_, label_->text(),
                       label_->contentsRect().width());
    return true;
  }

 private:
  QLabel* label_;
};

}  // namespace

bool IsClipped(const QWidget* widget, const QString& text, int room) {
  return widget->fontMetrics().horizontalAdvance(text) > room;
}

void ShowClippedTextTip(QHelpEvent* event, QWidget* widget, const QString& text, int room) {
  if (!text.isEmpty() && IsClipped(widget, text, room)) {
    QToolTip::showText(event->globalPos(), text, widget);
  } else {
    QToolTip::hideText();
    event->ignore();
  }
}

void TipWhenClipped(QLabel* label) {
  label->installEventFilter(new TLabelTip(label));
}

}  // namespace quorvex
