#pragma once

// Run-length encoders that make fixtures for the readers' tests and
// benchmarks, written from the formats' descriptions.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvex::test {

// PackBits: runs of two or more equal bytes as (257 - count, byte),
// literals of up to 128 bytes under (count - 1).
inline std::vector<uint8_t> EncodePackBits(const uint8_t* row, size_t size) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < size) {
    size_t run = 1;
    while (i + run < size && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    const size_t start = i;
    while (i < size && i - start < 128 && !(i + 1 < size && row[i + 1] == row[i])) ++i;
    if (i == start) ++i;  // a lone byte before a run
    out.push_back(static_cast<uint8_t>(i - start - 1));
    out.insert(out.end(), row + start, row + i);
  }
  return out;
}

// RLA: runs of two or more equal bytes as (count - 1, byte), everything
// else as literal groups of at most 128 under a negative count.
inline std::vector<uint8_t> EncodeRLARuns(const uint8_t* line, size_t size) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < size) {
    size_t run = 1;
    while (i + run < size && run < 128 && line[i + run] == line[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(run - 1));
      out.push_back(line[i]);
      i += run;
      continue;
    }
    size_t literal = 1;
    while (i + literal < size && literal < 128 &&
           !(i + literal + 1 < size && line[i + literal] == line[i + literal + 1])) {
      ++literal;
    }
    out.push_back(static_cast<uint8_t>(-static_cast<int>(literal)));
    out.insert(out.end(), line + i, line + i + literal);
    i += literal;
  }
  return out;
}

// PSP: runs of three or more equal bytes as (128 + count, byte), the rest as
// literal groups of at most 128 under their count.
inline std::vector<uint8_t> EncodePSPRuns(const uint8_t* plain, size_t size) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < size) {
    size_t run = 1;
    while (i + run < size && run < 127 && plain[i + run] == plain[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<uint8_t>(128 + run));
      out.push_back(plain[i]);
      i += run;
      continue;
    }
    size_t literal = 0;
    while (i + literal < size && literal < 128 &&
           !(i + literal + 2 < size && plain[i + literal] == plain[i + literal + 1] &&
             plain[i + literal] == plain[i + literal + 2])) {
      ++literal;
    }
    out.push_back(static_cast<uint8_t>(literal));
    out.insert(out.end(), plain + i, plain + i + literal);
    i += literal;
  }
  return out;
}

inline std::vector<uint8_t> EncodePackBits(const std::vector<uint8_t>& row) {
  return EncodePackBits(row.data(), row.size());
}
inline std::vector<uint8_t> EncodeRLARuns(const std::vector<uint8_t>& line) {
  return EncodeRLARuns(line.data(), line.size());
}
inline std::vector<uint8_t> EncodePSPRuns(const std::vector<uint8_t>& plain) {
  return EncodePSPRuns(plain.data(), plain.size());
}

}  // namespace quorvex::test
