#pragma once

#include <QWidget>

namespace quorvex {

// A thin progress bar without text.
class TFlatGauge : public QWidget {
  Q_OBJECT
 public:
  explicit TFlatGauge(QWidget* parent = nullptr);
  int MaxValue() const { return max_; }
  void SetMaxValue(int value);
  int Progress() const { return progress_; }
  // Kept within 0 and the maximum.
  void SetProgress(int value);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int max_ = 100;
  int progress_ = 0;
};

}  // namespace quorvex
