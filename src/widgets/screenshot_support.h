#pragma once

#include <QApplication>
#include <QPixmap>
#include <QString>
#include <QThread>
#include <cstdio>

namespace quorvex {

// Lets the windows finish painting before a screenshot is taken.
inline void SettleForScreenshot() {
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QThread::msleep(15);
  }
}

// Saves a screenshot and says where it went.
inline bool SaveScreenshot(const QPixmap& pixmap, const QString& path) {
  const bool ok = pixmap.save(path);
  std::printf("%s %s\n", ok ? "wrote" : "could not write", path.toLocal8Bit().constData());
  return ok;
}

}  // namespace quorvex
