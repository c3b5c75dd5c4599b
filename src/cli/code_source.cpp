#include "cli/code_source.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "picture/exceptions.h"

namespace quorvex {

namespace {

// What Ctrl+C during the prompt must restore before the default action.
struct PromptTerminal {
  int fd = -1;
  termios saved{};
};
PromptTerminal gPromptTerminal;

extern "C" void RestoreEchoAndRaise(int signal) {
  if (gPromptTerminal.fd >= 0) ::tcsetattr(gPromptTerminal.fd, TCSAFLUSH, &gPromptTerminal.saved);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::optional<std::string> ReadLine(int fd) {
  std::string line;
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
    if (c == '\n') return line;
    line.push_back(c);
  }
}

}  // namespace

std::string ReadCodeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string line;
  if (!file || (!std::getline(file, line) && file.bad())) {
    throw Exception("Cannot read code file " + path + ": " + std::strerror(errno));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::optional<std::string> ReadLineWithoutEcho(int fd, int promptFd, const std::string& prompt) {
  termios saved{};
  const bool terminal = ::tcgetattr(fd, &saved) == 0;
  struct sigaction restore {};
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
  if (terminal) {
    gPromptTerminal = {fd, saved};
    restore.sa_handler = RestoreEchoAndRaise;
    ::sigaction(SIGINT, &restore, &oldInt);
    ::sigaction(SIGTERM, &restore, &oldTerm);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  WriteAll(promptFd, prompt);
  std::optional<std::string> line = ReadLine(fd);
  if (terminal) {
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    gPromptTerminal.fd = -1;
  }
  if (line && !line->empty() && line->back() == '\r') line->pop_back();
  return line;
}

TCliConsole TCliConsole::Process() {
  TCliConsole console = Detached();
  console.inputIsTerminal = ::isatty(STDIN_FILENO) == 1;
  console.errorIsTerminal = ::isatty(STDERR_FILENO) == 1;
  console.readHidden = [](const std::string& prompt) {
    return ReadLineWithoutEcho(STDIN_FILENO, STDERR_FILENO, prompt);
  };
  return console;
}

TCliConsole TCliConsole::Detached() {
  TCliConsole console;
  console.readHidden = [](const std::string&) { return std::optional<std::string>(); };
  console.environment = [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
  };
  return console;
}

}  // namespace quorvex
