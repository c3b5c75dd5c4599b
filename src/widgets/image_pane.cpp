#include "widgets/image_pane.h"

#include <QMouseEvent>
#include <QPainter>

#include "widgets/crisp_frame.h"

namespace quorvex {

TImagePane::TImagePane(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  // Opaque: a pane laid over another one covers it.
  setAutoFillBackground(true);
}

void TImagePane::SetImage(const QImage& image) {
  image_ = image;
  scaled_ = QPixmap();
  update();
}

void TImagePane::ClearImage() {
  SetImage(QImage());
}

void TImagePane::SetStretch(bool stretch) {
  if (stretch_ == stretch) return;
  stretch_ = stretch;
  scaled_ = QPixmap();
  update();
}

QImage TImagePane::Rendered() const {
  QImage out(contentsRect().size(), QImage::Format_RGB32);
  out.fill(palette().color(QPalette::Window));
  if (image_.isNull()) return out;
  QPainter painter(&out);
  if (stretch_) {
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(out.rect(), image_);
  } else {
    painter.drawImage(0, 0, image_);
  }
  return out;
}

void TImagePane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!image_.isNull()) {
    const QRect area = contentsRect();
    painter.save();
    painter.setClipRect(area);
    if (stretch_) {
      if (scaled_.size() != area.size()) {
        scaled_ = QPixmap::fromImage(
            image_.scaled(area.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
      }
      painter.drawPixmap(area.topLeft(), scaled_);
    } else {
      painter.drawImage(area.topLeft(), image_);
    }
    painter.restore();
  }
  // Last, so that no picture covers it at any scale.
  DrawCrispFrame(painter, *this, palette().color(QPalette::WindowText));
}

void TImagePane::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
  QFrame::mouseDoubleClickEvent(event);
}

}  // namespace quorvex
