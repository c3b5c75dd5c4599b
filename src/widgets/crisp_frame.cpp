#include "widgets/crisp_frame.h"

#include <QColor>
#include <QPainter>
#include <QTransform>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace quorvex {

void DrawCrispFrame(QPainter& painter, const QWidget& widget, const QColor& color) {
  // The widget's edges where the device's pixels put them.
  const QTransform toDevice = painter.deviceTransform();
  const QTransform toWidget = toDevice.inverted();
  const QPointF from = toDevice.map(QPointF(0, 0));
  const QPointF to = toDevice.map(QPointF(widget.width(), widget.height()));
  const QPointF topLeft = toWidget.map(QPointF(std::round(from.x()), std::round(from.y())));
  const QPointF bottomRight = toWidget.map(QPointF(std::round(to.x()), std::round(to.y())));
  const qreal ratio = toDevice.m11();
  const qreal line = std::max<qreal>(1, std::round(ratio)) / ratio;
  const qreal width = bottomRight.x() - topLeft.x();
  const qreal height = bottomRight.y() - topLeft.y();
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.fillRect(QRectF(topLeft.x(), topLeft.y(), width, line), color);
  painter.fillRect(QRectF(topLeft.x(), bottomRight.y() - line, width, line), color);
  painter.fillRect(QRectF(topLeft.x(), topLeft.y(), line, height), color);
  painter.fillRect(QRectF(bottomRight.x() - line, topLeft.y(), line, height), color);
  painter.restore();
}

}  // namespace quorvex
