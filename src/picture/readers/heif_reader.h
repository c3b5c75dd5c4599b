#pragma once

// HEIF and AVIF pictures (HEIC from phones, AVIF stills and sequences) read
// through libheif.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// Whether an ISO box file starts with a file type box naming one of the
// HEIF or AVIF brands, as its main brand or a compatible one.
bool HasHEIFBrand(std::span<const uint8_t> head);

// The primary picture, upright (rotation and mirror applied): colour as
// Bits24, with alpha as Bits32 (BGRA, alpha kept), grey as Bits8 with the
// grey ramp; samples of 10 and 12 bits reduced to 8.
class THEIFGraphic : public TReaderGraphic {
 public:
  THEIFGraphic();
  ~THEIFGraphic() override;

  std::string ClassName() const override { return "THEIFGraphic"; }
  std::string FormatName() const override;

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  struct TFile;
  std::unique_ptr<TFile> file_;
  std::string failure_;
};

// Registers heic, heif and avif.
void RegisterHEIFFormats(TFileFormatList& list);

}  // namespace quorvex
