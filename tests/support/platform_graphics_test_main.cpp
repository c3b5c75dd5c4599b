// The main of test programs that read icons and metafiles through the
// loader: the platform graphics are installed first, as every program does.
#include <gtest/gtest.h>

#include "picture/platform/install_platform_graphics.h"

int main(int argc, char** argv) {
  quorvex::InstallPlatformGraphics();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
