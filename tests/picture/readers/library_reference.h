#pragma once

// For the readers built on decoding libraries: fixtures made at test time
// with the formats' own encoders, and the formats' own decoders as the
// reference (tests/tools/decoder_reference.py).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "support/test_support.h"

namespace quorvex::test {

// Samples as a reference decoder gives them, reduced to 8 bits.
struct DecodedPicture {
  int width = 0;
  int height = 0;
  int channels = 0;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
  std::vector<uint8_t> samples;
};

inline std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

// Runs a shell command; a failing one fails the test (tools are installed by
// scripts/setup, so a missing one is a fault, not a skip).
inline bool RunTool(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  EXPECT_EQ(status, 0) << command;
  return status == 0;
}

// A small picture with a pattern over every level, made by the reference
// tool: kind rgb, rgba, grey, greya, rgb16, grey16, rgb-turned (PNG), pgm12,
// pgm16, ppm16 or gif3.
inline std::string MakeFixture(const std::string& dir, const std::string& kind, int width,
                               int height) {
  const std::string path = dir + "/" + kind + "_" + std::to_string(width) + "x" +
                           std::to_string(height) +
                           (kind.starts_with("pgm")   ? ".pgm"
                            : kind.starts_with("ppm") ? ".ppm"
                                                      : ".png");
  if (!std::filesystem::exists(path)) {
    RunTool(std::string(QUORVEX_DECODER_REFERENCE) + " fixture " + kind + " " +
            std::to_string(width) + " " + std::to_string(height) + " " + Quoted(path));
  }
  return path;
}

inline std::optional<DecodedPicture> ReferenceDecode(const std::string& decoder,
                                                     const std::string& path) {
  const std::string command = std::string(QUORVEX_DECODER_REFERENCE) + " decode " + decoder + " " +
                              Quoted(path) + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  if (::pclose(pipe) != 0) return std::nullopt;
  const auto newline = std::find(bytes.begin(), bytes.end(), uint8_t{'\n'});
  if (newline == bytes.end()) return std::nullopt;
  DecodedPicture picture;
  std::istringstream(std::string(bytes.begin(), newline)) >> picture.width >> picture.height >>
      picture.channels;
  picture.samples.assign(newline + 1, bytes.end());
  return picture;
}

// "" when the bitmap shows the reference within `tolerance` per channel:
// Bits8 its grey (alpha of a grey reference dropped, as the readers drop
// it), Bits24 its colour, Bits32 colour and alpha; else what differs.
inline std::string CompareWithReference(const TBitmap& bitmap, const DecodedPicture& reference,
                                        int tolerance) {
  std::ostringstream why;
  if (bitmap.ImageWidth() != reference.width || bitmap.ImageHeight() != reference.height) {
    why << "size " << bitmap.ImageWidth() << "x" << bitmap.ImageHeight() << ", reference "
        << reference.width << "x" << reference.height;
    return why.str();
  }
  const int bytes = bitmap.BitsPerPixel() / 8;
  const int channels = reference.channels;
  if (reference.samples.size() != size_t(reference.width) * reference.height * channels) {
    return "reference data cut short";
  }
  for (int y = 0; y < reference.height; ++y) {
    const uint8_t* row = bitmap.RowAddress(y);
    for (int x = 0; x < reference.width; ++x) {
      const uint8_t* ref = &reference.samples[(size_t(y) * reference.width + x) * channels];
      const uint8_t* got = row + size_t(x) * bytes;
      const bool greyReference = channels <= 2;
      int expected[4] = {ref[0], greyReference ? ref[0] : ref[1], greyReference ? ref[0] : ref[2],
                         channels == 2   ? ref[1]
                         : channels == 4 ? ref[3]
                                         : 255};
      int actual[4] = {got[0], got[0], got[0], 255};
      if (bytes >= 3) {
        actual[0] = got[2];
        actual[1] = got[1];
        actual[2] = got[0];
      }
      if (bytes == 4) actual[3] = got[3];
      const int compared = bytes == 4 ? 4 : bytes == 1 ? 1 : 3;
      for (int c = 0; c < compared; ++c) {
        if (std::abs(expected[c] - actual[c]) > tolerance) {
          why << "pixel (" << x << ", " << y << ") channel " << c << ": " << actual[c]
              << ", reference " << expected[c];
          return why.str();
        }
      }
    }
  }
  return "";
}

}  // namespace quorvex::test
