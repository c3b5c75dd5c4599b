#pragma once

#include <QFrame>
#include <QImage>
#include <QPixmap>

namespace quorvex {

// A framed picture pane. Stretched: the picture fills the pane exactly,
// aspect ratio ignored. Not stretched: drawn at its natural size from the
// top-left corner and clipped.
class TImagePane : public QFrame {
  Q_OBJECT
 public:
  explicit TImagePane(QWidget* parent = nullptr);
  void SetImage(const QImage& image);
  void ClearImage();
  bool HasImage() const { return !image_.isNull(); }
  const QImage& Image() const { return image_; }
  bool Stretch() const { return stretch_; }
  void SetStretch(bool stretch);
  // The pane's picture as it is painted now, for tests and screenshots.
  QImage Rendered() const;

 signals:
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QImage image_;
  bool stretch_ = true;
  mutable QPixmap scaled_;  // the stretched picture for the current size
};

}  // namespace quorvex
