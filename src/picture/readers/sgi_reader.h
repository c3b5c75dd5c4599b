#pragma once

// Silicon Graphics image files: the header, the run-length decoder and the
// reader.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "picture/reader_graphic.h"
#include "picture/readers/strip_decoder.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// The fields of the 512-byte header that matter (big-endian).
struct TSGIHeader {
  static constexpr size_t kSize = 512;
  static constexpr uint16_t kMagic = 474;

  uint16_t magic = 0;
  uint8_t storage = 0;          // 1: run-length rows
  uint8_t bytesPerChannel = 0;  // 1 or 2
  uint16_t dimension = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t channels = 0;  // only the low byte counts

  // From the first bytes of the header; too few raise EReadError.
  static TSGIHeader Parse(std::span<const uint8_t> bytes);

  // What the content test asks of a header.
  bool LooksValid() const;
  bool RunLength() const { return storage == 1; }
  uint8_t ChannelCount() const { return static_cast<uint8_t>(channels); }
};

// SGI run-length rows of 8- or 16-bit samples (16-bit ones big-endian, and
// written so). A packet's low 7 bits are a count, 0 ending the row; with bit
// 7 set that many samples follow as they are, else the next sample repeats
// that many times. Output stops at the row's end whatever the packets say.
class TSGIRLEDecoder : public TStripDecoder {
 public:
  explicit TSGIRLEDecoder(int bitsPerSample);

  size_t DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                     size_t targetSize) override;

  int BitsPerSample() const { return wide_ ? 16 : 8; }

 private:
  bool wide_;
};

// Reads SGI images of 1 (Bits8, gray ramp), 3 (Bits24) or 4 (Bits32)
// channels of 8 or 16 bits, uncompressed or run-length encoded; 16-bit
// samples are reduced to 8 bits.
class TSGIGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TSGIGraphic"; }
  std::string FormatName() const override;

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  void ReadRowTables(TStream& stream);
  void SetUpConverter();
  void ReadRows(TStream& stream, uint64_t origin);

  TSGIHeader header_;
  // Run-length rows: start offsets and byte lengths, indexed by row +
  // channel * height.
  std::vector<uint32_t> starts_;
  std::vector<uint32_t> lengths_;
};

// Registers sgi, rgba, rgb and bw.
void RegisterSGIFormats(TFileFormatList& list);

}  // namespace quorvex
