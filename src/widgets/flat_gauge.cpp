#include "widgets/flat_gauge.h"

#include <QPainter>
#include <algorithm>

#include "widgets/crisp_frame.h"
#include "widgets/flat_style.h"

namespace quorvex {

TFlatGauge::TFlatGauge(QWidget* parent) : QWidget(parent) {}

void TFlatGauge::SetMaxValue(int value) {
  max_ = std::max(0, value);
  progress_ = std::min(progress_, max_);
  update();
}

void TFlatGauge::SetProgress(int value) {
  progress_ = std::clamp(value, 0, max_);
  update();
}

void TFlatGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), flat::kBrowse);
  if (max_ > 0 && progress_ > 0) {
    const int filled = static_cast<int>(static_cast<int64_t>(width() - 2) * progress_ / max_);
    painter.fillRect(QRect(1, 1, filled, height() - 2), flat::kBorder);
  }
  DrawCrispFrame(painter, *this, flat::kBorder);
}

}  // namespace quorvex
