#include "viewer/vuelet_window.h"

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>

#include "picture/bitmap.h"
#include "picture/picture.h"
#include "shell/file_name_text.h"
#include "shell/picture_file.h"
#include "widgets/bitmap_image.h"

namespace quorvex {

namespace {

// The zoom steps: each Ctrl+plus or Ctrl+minus goes to the next one.
constexpr double kZoomSteps[] = {1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 0.25, 1.0 / 3, 0.5,
                                 2.0 / 3,  1.0,      1.5,     2.0,     3.0,  4.0,     6.0,
                                 8.0,      12.0,     16.0,    24.0,    32.0};
constexpr double kStepTolerance = 1e-6;

QAction* MakeAction(QWidget* window, const QString& text, const QList<QKeySequence>& keys) {
  auto* action = new QAction(text, window);
  action->setShortcuts(keys);
  action->setShortcutContext(Qt::WindowShortcut);
  window->addAction(action);
  return action;
}

}  // namespace

TVueletWindow::TVueletWindow(QWidget* parent) : QWidget(parent) {
  setObjectName("Vuelet");
  setWindowTitle("Vuelet");
  resize(480, 360);
  // Ctrl+= as well: on most keyboards plus is the shifted equals key.
  ZoomInAction =
      MakeAction(this, "Zoom In",
                 {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  ZoomOutAction = MakeAction(this, "Zoom Out", {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
  ActualSizeAction = MakeAction(this, "Actual Size (1:1)", {QKeySequence(Qt::CTRL | Qt::Key_0)});
  FitAction = MakeAction(this, "Fit to Window", {QKeySequence(Qt::Key_F)});
  connect(ZoomInAction, &QAction::triggered, this, &TVueletWindow::ZoomIn);
  connect(ZoomOutAction, &QAction::triggered, this, &TVueletWindow::ZoomOut);
  connect(ActualSizeAction, &QAction::triggered, this, &TVueletWindow::ActualSize);
  connect(FitAction, &QAction::triggered, this, &TVueletWindow::FitToWindow);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void TVueletWindow::OpenFile(const QString& path) {
  TPicture container;
  std::unique_ptr<TBitmap> bitmap;
  LoadPictureFile(EncodeFileName(path), container, bitmap);
  picture_ = BitmapToImage(*bitmap);
  fileName_ = QFileInfo(path).fileName();
  fitting_ = true;
  ShowTitle();
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

QRect TVueletWindow::FitOnlyLargerRect(const QSize& picture, const QSize& window) {
  if (picture.isEmpty() || window.isEmpty()) return {};
  if (picture.width() > window.width() || picture.height() > window.height()) {
    return FittedRect(picture, window);
  }
  return QRect(
      QPoint((window.width() - picture.width()) / 2, (window.height() - picture.height()) / 2),
      picture);
}

QRect TVueletWindow::PictureRect() const {
  if (picture_.isNull()) return {};
  if (fitting_) return FitOnlyLargerRect(picture_.size(), size());
  const QSize scaled(std::max(1, static_cast<int>(std::lround(picture_.width() * scale_))),
                     std::max(1, static_cast<int>(std::lround(picture_.height() * scale_))));
  return QRect(QPoint((width() - scaled.width()) / 2, (height() - scaled.height()) / 2), scaled);
}

double TVueletWindow::Scale() const {
  if (!fitting_ || picture_.isNull()) return scale_;
  return static_cast<double>(PictureRect().width()) / picture_.width();
}

void TVueletWindow::SetScale(double scale) {
  fitting_ = false;
  scale_ = scale;
  ShowTitle();
  update();
}

void TVueletWindow::ZoomIn() {
  const double now = Scale();
  for (double step : kZoomSteps) {
    if (step > now + kStepTolerance) return SetScale(step);
  }
}

void TVueletWindow::ZoomOut() {
  const double now = Scale();
  for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it) {
    if (*it < now - kStepTolerance) return SetScale(*it);
  }
}

void TVueletWindow::ActualSize() {
  SetScale(1.0);
}

void TVueletWindow::FitToWindow() {
  fitting_ = true;
  ShowTitle();
  update();
}

void TVueletWindow::ShowTitle() {
  if (picture_.isNull()) return;
  QString title =
      QString("%1 (%2 x %3)").arg(fileName_).arg(picture_.width()).arg(picture_.height());
  if (!fitting_) title += QString(" %1%").arg(std::lround(scale_ * 100));
  setWindowTitle(title + " - Vuelet");
}

void TVueletWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(48, 48, 44));
  if (picture_.isNull()) return;
  const QRect target = PictureRect();
  // Smoothing when shrinking; enlarged pixels stay sharp squares.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, target.width() < picture_.width());
  painter.drawImage(target, picture_);
}

void TVueletWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace quorvex
