#pragma once

// Paint Shop Pro image files (file version 3 and later): the block
// structure, the run-length code and the reader.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// The file starts with a 32-byte signature and the major and minor file
// versions (little-endian, as is every number of the format).
struct TPSPFileHeader {
  static constexpr size_t kSize = 36;
  static constexpr size_t kSignatureLength = 25;  // "Paint Shop Pro Image File"

  bool signatureMatches = false;
  uint16_t majorVersion = 0;
  uint16_t minorVersion = 0;

  static TPSPFileHeader Parse(std::span<const uint8_t, kSize> bytes);
  bool LooksValid() const { return signatureMatches && majorVersion >= 3; }
};

// Block identifiers the reader looks at.
enum class PSPBlock : uint16_t {
  Image = 0,
  Color = 2,
  LayerStart = 3,
  Layer = 4,
  Channel = 5,
  CompositeImage = 9,
  CompositeImageBank = 16,
  CompositeAttributes = 17,
};

// The PSP run-length code: a count byte above 128 repeats the next byte
// count - 128 times; any other count copies that many bytes. Runs and
// literal groups may be split across calls, so input can arrive in pieces of
// any size.
class TPSPRunLengthDecoder {
 public:
  // Writes up to `count` bytes to `target`, taking bytes from [source, end)
  // and moving `source` past them. Returns the bytes written, fewer than
  // `count` only when the input ran out.
  size_t Decode(const uint8_t*& source, const uint8_t* end, uint8_t* target, size_t count);

 private:
  size_t runLeft_ = 0;
  size_t literalLeft_ = 0;
  bool awaitingValue_ = false;
  uint8_t value_ = 0;
};

// Reads the composite image of a file that has one, else its first raster
// layer (placed on a white canvas of the image's size, a transparency mask
// blended onto the white); uncompressed, run-length or LZ77 channel data.
// Palette pictures of 1, 4 or 8 bits become Bits8 with their palette (a gray
// ramp for gray pictures without one), colour pictures Bits24.
class TPSPGraphic : public TReaderGraphic {
 public:
  TPSPGraphic();
  ~TPSPGraphic() override;

  std::string ClassName() const override { return "TPSPGraphic"; }
  std::string FormatName() const override;

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  struct TDocument;

  // The top-level blocks the header read found.
  std::unique_ptr<TDocument> document_;
};

// Registers psp.
void RegisterPSPFormats(TFileFormatList& list);

}  // namespace quorvex
