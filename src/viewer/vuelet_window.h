#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

class QAction;

namespace quorvex {

// Vuelet's window: one picture, centred on a dark background. Pictures that
// fit are shown at their own size and larger ones fitted to the window with
// their proportions kept, until the user zooms; the 1:1 and Fit commands
// return to the natural size or to that fitting.
class TVueletWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TVueletWindow(QWidget* parent = nullptr);
  // Loads the picture with the program's own loaders; raises the loader's
  // error when it cannot be read.
  void OpenFile(const QString& path);
  const QImage& Picture() const { return picture_; }
  // Where a picture fitted to the window lands, scaled up or down.
  static QRect FittedRect(const QSize& picture, const QSize& window);
  // Where the picture lands when fitting: at its own size when it fits,
  // else fitted.
  static QRect FitOnlyLargerRect(const QSize& picture, const QSize& window);
  // Where the picture lands now.
  QRect PictureRect() const;
  // The scale the picture is drawn at now.
  double Scale() const;
  bool Fitting() const { return fitting_; }

  // The view commands, also in the context menu.
  void ZoomIn();
  void ZoomOut();
  void ActualSize();
  void FitToWindow();

  QAction* ZoomInAction;
  QAction* ZoomOutAction;
  QAction* ActualSizeAction;
  QAction* FitAction;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SetScale(double scale);
  void ShowTitle();

  QImage picture_;
  QString fileName_;
  bool fitting_ = true;
  double scale_ = 1.0;
};

}  // namespace quorvex
