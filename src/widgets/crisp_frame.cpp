#include "widgets/crisp_frame.h"

#include <QColor>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace quorvex {

void DrawCrispFrame(QPainter& painter, const QWidget& widget, const QColor& color) {
  const qreal ratio = widget.devicePixelRatioF();
  // The widget's edges where the window's device pixels put them.
  const QPointF origin = widget.mapTo(widget.window(), QPoint(0, 0));
  const auto edge = [ratio](qreal at) { return std::round(at * ratio); };
  const qreal left = edge(origin.x()) / ratio - origin.x();
  const qreal top = edge(origin.y()) / ratio - origin.y();
  const qreal right = edge(origin.x() + widget.width()) / ratio - origin.x();
  const qreal bottom = edge(origin.y() + widget.height()) / ratio - origin.y();
  const qreal line = std::max<qreal>(1, std::round(ratio)) / ratio;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.fillRect(QRectF(left, top, right - left, line), color);
  painter.fillRect(QRectF(left, bottom - line, right - left, line), color);
  painter.fillRect(QRectF(left, top, line, bottom - top), color);
  painter.fillRect(QRectF(right - line, top, line, bottom - top), color);
  painter.restore();
}

}  // namespace quorvex
