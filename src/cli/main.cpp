#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "picture/platform/install_platform_graphics.h"

int main(int argc, char** argv) {
  quorvex::InstallPlatformGraphics();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return quorvex::RunCli(args, std::cout, std::cerr, quorvex::TCliConsole::Process());
}
