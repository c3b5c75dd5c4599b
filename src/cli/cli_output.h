#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace quorvex {

// The string as a JSON string literal. Bytes that are not UTF-8 (file names
// may hold any) become \udcXX, the escape Python's surrogateescape uses, so
// the original bytes can be recovered.
std::string JsonString(const std::string& bytes);

// "1.5 MB/s" style rate; "0:07" style duration.
std::string FormatRate(double bytesPerSecond);
std::string FormatDuration(double seconds);

// One line on a terminal, redrawn in place: files done of total, the rate
// and the time left.
class TProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  TProgressLine(std::ostream& terminal, size_t files, uint64_t bytes);
  void FileDone(uint64_t bytes);
  // Empties the line, for another line to be printed or at the end.
  void Clear();
  void Draw();

 private:
  std::ostream& terminal_;
  size_t files_;
  uint64_t bytes_;
  size_t filesDone_ = 0;
  uint64_t bytesDone_ = 0;
  Clock::time_point start_ = Clock::now();
};

}  // namespace quorvex
