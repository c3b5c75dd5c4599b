#pragma once

// Test fixtures written and read back by libtiff, the independent reference
// the strip decoders are checked against.

#include <cstdint>
#include <string>
#include <vector>

namespace quorvex::test {

// A one-strip-per-`rowsPerStrip` picture of `bitsPerSample` gray samples,
// rows packed to whole bytes.
struct TiffPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bitsPerSample = 1;
  uint32_t rowsPerStrip = 0;
  std::vector<uint8_t> rows;
};

// What libtiff stores and what it decodes, strip by strip.
struct TiffStrips {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t compression = 0;
  uint16_t fillOrder = 1;
  uint32_t t4Options = 0;
  std::vector<std::vector<uint8_t>> raw;
  // Empty for a strip that libtiff fails to decode.
  std::vector<std::vector<uint8_t>> decoded;
};

// Writes `picture` with `compression` and `fillOrder`; libtiff's own encoder
// compresses the strips (or, with `rawStrips`, they are stored as given).
void WriteTiff(const std::string& path, const TiffPicture& picture, uint16_t compression,
               uint16_t fillOrder = 1,
               const std::vector<std::vector<uint8_t>>* rawStrips = nullptr);
// Runs libtiff's `tiffcp` with `options` from `from` to `to`; false when it fails.
bool RunTiffcp(const std::string& options, const std::string& from, const std::string& to);
// Every strip of the first image, raw and decoded by libtiff.
TiffStrips ReadTiffStrips(const std::string& path);

}  // namespace quorvex::test
