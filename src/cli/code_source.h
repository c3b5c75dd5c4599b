#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace quorvex {

// The terminal and environment as the command line sees them; tests give
// their own.
struct TCliConsole {
  bool inputIsTerminal = false;
  bool errorIsTerminal = false;
  // Shows the prompt and reads one line without echo; nullopt at end of input.
  std::function<std::optional<std::string>(const std::string& prompt)> readHidden;
  std::function<std::optional<std::string>(const std::string& name)> environment;

  // The process's own standard streams and environment.
  static TCliConsole Process();
  // No terminal at all; the environment is the process's.
  static TCliConsole Detached();
};

// The first line of the file, without its line end. Exception "Cannot read
// code file NAME: REASON" when it cannot be read.
std::string ReadCodeFile(const std::string& path);

// Turns echo off on the terminal at fd while reading one line from it; the
// prompt goes to promptFd. Echo comes back also when the read is
// interrupted by Ctrl+C.
std::optional<std::string> ReadLineWithoutEcho(int fd, int promptFd, const std::string& prompt);

}  // namespace quorvex
