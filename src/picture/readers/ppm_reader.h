#pragma once

// Portable bitmap, gray map and pixel map files: the text forms P1, P2, P3
// and the binary forms P4, P5, P6.

#include <cstdint>
#include <string>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// What the header of a portable map says.
struct TPPMHeader {
  int type = 0;  // the digit after "P"; only 1 to 6 carry a picture
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t maximum = 1;  // P1 and P4 have none in the file

  bool HasPicture() const { return type >= 1 && type <= 6; }
  bool Text() const { return type >= 1 && type <= 3; }
  bool Bilevel() const { return type == 1 || type == 4; }
  bool Color() const { return type == 3 || type == 6; }
  // Samples above 255 need two bytes each in the binary forms.
  bool Wide() const { return maximum > 255; }
  // Gray and colour samples of any maximum but 255 are scaled to 0..255.
  bool Rescaled() const { return !Bilevel() && maximum != 255; }
};

// Reads portable maps: P1 and P4 give Bits1 (entry 0 white, entry 1 black),
// P2 and P5 Bits8 with a gray ramp, P3 and P6 Bits24. Any other digit after
// "P" loads as an empty bitmap.
class TPPMGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TPPMGraphic"; }
  std::string FormatName() const override;

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  void SetUpConverter();

  TPPMHeader header_;
};

// Registers ppm, pgm and pbm.
void RegisterPPMFormats(TFileFormatList& list);

}  // namespace quorvex
