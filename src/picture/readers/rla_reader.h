#pragma once

// Alias/Wavefront RLA and RPF files: the header, the run-length code and the
// reader.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// The 740-byte header at the start of every RLA file (big-endian). Only the
// fields the reader uses are kept.
struct TRLAHeader {
  static constexpr size_t kSize = 740;
  static constexpr uint16_t kCurrentRevision = 0xFFFE;

  int16_t windowLeft = 0;
  int16_t windowRight = 0;
  int16_t windowBottom = 0;
  int16_t windowTop = 0;
  int16_t activeLeft = 0;
  int16_t activeRight = 0;
  int16_t activeBottom = 0;
  int16_t activeTop = 0;
  int16_t storageType = 0;
  int16_t colorChannels = 0;
  int16_t matteChannels = 0;
  int16_t auxChannels = 0;
  uint16_t revision = 0;
  std::string channels;  // "rgb", "xyz", ... up to its first zero byte
  int16_t channelBits = 0;
  int16_t matteBits = 0;

  // From the first kSize bytes; fewer raise EReadError.
  static TRLAHeader Parse(std::span<const uint8_t> bytes);

  // What the content test asks of a header.
  bool LooksValid() const;
  // The active window holds the stored pixels; empty or crossed gives <= 0.
  int32_t Width() const { return int32_t{activeRight} - activeLeft + 1; }
  int32_t Height() const { return int32_t{activeTop} - activeBottom + 1; }
};

// The RLA run-length code: a signed count byte n >= 0 repeats the next byte
// n + 1 times, n < 0 copies the next -n bytes. Runs and literals are cut to
// the output still needed and to the input left.
class TRLARunLengthDecoder {
 public:
  // Decodes [source, source + sourceSize) into at most targetSize bytes and
  // returns the bytes written; `consumed`, when given, receives the input
  // bytes used.
  static size_t Decode(const uint8_t* source, size_t sourceSize, uint8_t* target, size_t targetSize,
                       size_t* consumed = nullptr);
};

// Reads RLA/RPF files of 8-bit channels: three colour channels (Bits24, or
// Bits32 with the first matte channel as the fourth byte) or one (Bits8
// gray). Auxiliary channels and further mattes are skipped.
class TRLAGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TRLAGraphic"; }
  std::string FormatName() const override;

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  // How many channels of each line the picture shows: 1, 3 or 4.
  size_t ShownChannels() const;
  void SetUpConverter(size_t channels);
  void ReadLines(TStream& stream, int64_t start, const std::vector<uint8_t>& offsets,
                 size_t channels);
  void WriteRow(int32_t y, const std::vector<uint8_t>& planes, size_t channels);

  TRLAHeader header_;
};

// Registers rpf and rla.
void RegisterRLAFormats(TFileFormatList& list);

}  // namespace quorvex
