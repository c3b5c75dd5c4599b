#include "viewer/vuelet_window.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <memory>

#include "app/picture_file.h"
#include "picture/bitmap.h"
#include "picture/picture.h"
#include "widgets/bitmap_image.h"

namespace quorvex {

TVueletWindow::TVueletWindow(QWidget* parent) : QWidget(parent) {
  setObjectName("Vuelet");
  setWindowTitle("Vuelet");
  resize(480, 360);
}

void TVueletWindow::OpenFile(const QString& path) {
  TPicture container;
  std::unique_ptr<TBitmap> bitmap;
  LoadPictureFile(path.toStdString(), container, bitmap);
  picture_ = BitmapToImage(*bitmap);
  setWindowTitle(QString("%1 (%2 x %3) - Vuelet")
                     .arg(QFileInfo(path).fileName())
                     .arg(picture_.width())
                     .arg(picture_.height()));
  // Natural size when it fits in most of the screen, else scaled down.
  QSize size = picture_.size().expandedTo(QSize(240, 180));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QSize room = screen->availableGeometry().size() * 0.8;
    if (size.width() > room.width() || size.height() > room.height()) {
      size.scale(room, Qt::KeepAspectRatio);
    }
  }
  resize(size);
  update();
}

QRect TVueletWindow::FittedRect(const QSize& picture, const QSize& window) {
  if (picture.isEmpty() || window.isEmpty()) return {};
  const QSize fitted = picture.scaled(window, Qt::KeepAspectRatio);
  return QRect(
      QPoint((window.width() - fitted.width()) / 2, (window.height() - fitted.height()) / 2),
      fitted);
}

void TVueletWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(48, 48, 44));
  if (picture_.isNull()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(FittedRect(picture_.size(), size()), picture_);
}

void TVueletWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace quorvex
