#include "widgets/flat_tab_control.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTabBar>

#include "widgets/flat_style.h"

namespace quorvex {

TFlatTabControl::TFlatTabControl(const QStringList& tabs, QWidget* parent)
    : QWidget(parent), bar_(new QTabBar(this)) {
  bar_->setObjectName("TabBar");
  bar_->setDrawBase(false);
  bar_->setExpanding(false);
  bar_->setFocusPolicy(Qt::StrongFocus);
  for (const QString& tab : tabs) bar_->addTab(tab);
  bar_->installEventFilter(this);
  connect(bar_, &QTabBar::currentChanged, this, [this](int index) {
    if (!quiet_) emit TabChanged(index);
  });
}

int TFlatTabControl::TabIndex() const {
  return bar_->currentIndex();
}

void TFlatTabControl::SetTabIndex(int index) {
  quiet_ = true;
  bar_->setCurrentIndex(index);
  quiet_ = false;
}

int TFlatTabControl::HeaderHeight() const {
  return bar_->sizeHint().height();
}

void TFlatTabControl::resizeEvent(QResizeEvent*) {
  bar_->setGeometry(4, 0, width() - 8, HeaderHeight());
}

void TFlatTabControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(flat::kBorder);
  const int top = HeaderHeight() - 1;
  painter.drawRect(QRect(0, top, width() - 1, height() - top - 1));
}

bool TFlatTabControl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == bar_) {
    if (event->type() == QEvent::Wheel) return true;
    if (event->type() == QEvent::KeyPress) {
      switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
          return true;
        default:
          break;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace quorvex
