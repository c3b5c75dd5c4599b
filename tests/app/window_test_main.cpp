// The main of every window test program: one QApplication on Qt's offscreen
// platform, styled as the program styles itself.
#include <gtest/gtest.h>

#include <QApplication>

#include "widgets/flat_style.h"

int main(int argc, char** argv) {
  // Also when the test list is read at build time, outside CTest.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  application.setApplicationName("Quorvex");
  quorvex::ApplyFlatStyle(application);
  return RUN_ALL_TESTS();
}
