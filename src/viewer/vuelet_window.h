#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

namespace quorvex {

// Vuelet's window: one picture, fitted to the window with its proportions
// kept, centred on a dark background.
class TVueletWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TVueletWindow(QWidget* parent = nullptr);
  // Loads the picture with the program's own loaders; raises the loader's
  // error when it cannot be read.
  void OpenFile(const QString& path);
  const QImage& Picture() const { return picture_; }
  // Where the picture lands in a window of the given size.
  static QRect FittedRect(const QSize& picture, const QSize& window);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QImage picture_;
};

}  // namespace quorvex
