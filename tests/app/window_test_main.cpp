// The main of every window test program: one QApplication on Qt's offscreen
// platform, styled as the program styles itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include "picture/platform/install_platform_graphics.h"
#include "widgets/flat_style.h"

int main(int argc, char** argv) {
  // Also when the test list is read at build time, outside CTest.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  quorvex::InstallPlatformGraphics();
  testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  application.setApplicationName("Quorvex");
  quorvex::ApplyFlatStyle(application);
  // Settings the window keeps go to a folder of this process, never the
  // user's, and start out empty.
  const QTemporaryDir settings;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  return RUN_ALL_TESTS();
}
