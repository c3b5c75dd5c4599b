#pragma once

#include <QStringList>
#include <QWidget>

class QTabBar;

namespace quorvex {

// A tab strip whose area holds one shared set of controls: the controls are
// children of this widget and the owner rearranges them when the page
// changes. Tabs change only by the mouse; the keyboard and the wheel do not
// reach them.
class TFlatTabControl : public QWidget {
  Q_OBJECT
 public:
  explicit TFlatTabControl(const QStringList& tabs, QWidget* parent = nullptr);
  int TabIndex() const;
  // Selects a tab without raising TabChanged.
  void SetTabIndex(int index);
  int HeaderHeight() const;
  QTabBar* Bar() const { return bar_; }

 signals:
  void TabChanged(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTabBar* bar_;
  bool quiet_ = false;
};

}  // namespace quorvex
