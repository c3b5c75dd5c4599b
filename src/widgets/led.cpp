#include "widgets/led.h"

#include <QLinearGradient>
#include <QPainter>

#include "widgets/flat_style.h"

namespace quorvex {

TLed::TLed(QWidget* parent) : QWidget(parent) {}

void TLed::SetLit(bool lit) {
  if (lit_ == lit) return;
  lit_ = lit;
  update();
}

void TLed::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const int side = std::min(width(), height()) - 1;
  const QRectF round((width() - side) / 2.0, (height() - side) / 2.0, side, side);
  QLinearGradient gradient(round.topLeft(), round.bottomLeft());
  gradient.setColorAt(0, lit_ ? QColor(255, 0, 0) : flat::kMaroon);
  gradient.setColorAt(1, Qt::black);
  painter.setPen(QPen(flat::kBorder, 1));
  painter.setBrush(gradient);
  painter.drawEllipse(round);
  if (lit_) {
    // A small gloss so that a lit lamp reads as lit at a glance.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 200, 200, 150));
    painter.drawEllipse(
        QRectF(round.left() + side * 0.28, round.top() + side * 0.15, side * 0.3, side * 0.22));
  }
}

}  // namespace quorvex
