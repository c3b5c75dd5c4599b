#pragma once

// Truevision Targa files: the header, the run-length decoder and the reader.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// The 18-byte header at the start of every Targa file (little-endian).
struct TTargaHeader {
  static constexpr size_t kSize = 18;

  uint8_t idLength = 0;
  uint8_t colorMapType = 0;
  uint8_t imageType = 0;
  uint16_t colorMapFirst = 0;
  uint16_t colorMapLength = 0;
  uint8_t colorMapEntrySize = 0;
  uint16_t xOrigin = 0;
  uint16_t yOrigin = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t pixelSize = 0;
  uint8_t descriptor = 0;

  // From the first kSize bytes; fewer raise EReadError.
  static TTargaHeader Parse(std::span<const uint8_t> bytes);

  // What the content test asks of a header.
  bool LooksValid() const;
  bool TopDown() const { return (descriptor & 0x20) != 0; }
  bool RightToLeft() const { return (descriptor & 0x10) != 0; }
  bool Grayscale() const { return imageType == 3 || imageType == 11; }
  bool RunLength() const { return imageType >= 9 && imageType <= 11; }
  bool HasPixelData() const {
    return (imageType >= 1 && imageType <= 3) || (imageType >= 9 && imageType <= 11);
  }
  // Gray plus alpha, two bytes a pixel: read as gray, alpha dropped.
  bool GrayAlpha() const { return Grayscale() && pixelSize == 16; }
  // Bytes of one stored pixel: 1 for 8 bits, 2 for 15 and 16, 3 for 24, 4
  // for 32, 0 for any other pixel size.
  uint32_t BytesPerPixel() const;
  // Bytes of one colour-map entry.
  uint32_t ColorMapEntryBytes() const { return (colorMapEntrySize + 7u) / 8u; }
};

// Targa run-length packets of 1 to 4 byte pixels. A header byte with bit 7
// set is a run of (header & 127) + 1 copies of the pixel that follows; with
// bit 7 clear (header & 127) + 1 pixels follow as they are.
//
// The decoder keeps what is left of a packet between calls, so a packet that
// yields more pixels than one row needs carries them into the next row, and
// input may arrive in pieces of any size.
class TTargaRLEDecoder {
 public:
  explicit TTargaRLEDecoder(uint32_t bytesPerPixel);

  // Decodes up to `count` pixels into `target`, taking bytes from
  // [source, end) and moving `source` past the bytes used. Returns the
  // pixels written, fewer than `count` when the bytes run out (an incomplete
  // pixel or run header is left unread for the next call).
  uint32_t Decode(const uint8_t*& source, const uint8_t* end, uint8_t* target, uint32_t count);
  // Forgets any unfinished packet.
  void Reset();

  uint32_t BytesPerPixel() const { return bytesPerPixel_; }
  // Pixels still owed by the current packet.
  uint32_t PendingPixels() const { return left_; }

 private:
  template <uint32_t N>
  uint32_t DecodeWith(const uint8_t*& source, const uint8_t* end, uint8_t* target, uint32_t count);

  uint32_t bytesPerPixel_;
  uint32_t left_ = 0;
  bool run_ = false;
  uint8_t value_[4] = {};
};

// Reads Targa files of image types 1 to 3 and 9 to 11 into a bitmap of
// the file's own bytes: Bits8 for 8-bit pixels (colour map or gray ramp as
// palette), Bits15 for 15- and 16-bit words, Bits24 and Bits32 for blue,
// green, red (alpha). 16-bit grayscale is gray plus alpha and becomes Bits8
// gray, alpha dropped.
class TTargaGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TTargaGraphic"; }
  std::string FormatName() const override { return "Targa"; }

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  void SetUpConverter();
  void ReadColorMap(TStream& stream);
  void RequireDataForPicture(int64_t available);
  int32_t BitmapRow(int32_t stored) const;
  // Mirrors a finished bitmap row when the file stores pixels right to left.
  void PlaceRow(std::span<uint8_t> row) const;
  void ReadRawRows(TStream& stream);
  void ReadRunLengthRows(TStream& stream);

  TTargaHeader header_;
  // Gray plus alpha rows are decoded here first, then reduced to gray.
  std::vector<uint8_t> pairs_;
};

// Registers win, vst, vda, tga and icb.
void RegisterTargaFormats(TFileFormatList& list);

}  // namespace quorvex
