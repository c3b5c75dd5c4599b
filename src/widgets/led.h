#pragma once

#include <QWidget>

namespace quorvex {

// A round indicator lamp filled with a vertical gradient: red to black while
// lit, maroon to black while unlit.
class TLed : public QWidget {
  Q_OBJECT
 public:
  explicit TLed(QWidget* parent = nullptr);
  bool Lit() const { return lit_; }
  void SetLit(bool lit);
  QSize sizeHint() const override { return {14, 14}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool lit_ = false;
};

}  // namespace quorvex
