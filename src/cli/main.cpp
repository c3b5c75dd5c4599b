#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return quorvex::RunCli(args, std::cout, std::cerr, quorvex::TCliConsole::Process());
}
