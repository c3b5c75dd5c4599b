#pragma once

// JPEG XL pictures, bare codestreams and boxed files, read through libjxl.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// The first frame of a file (animations included), turned upright by its
// orientation: colour as Bits24, with alpha as Bits32 (BGRA, alpha kept),
// grey as Bits8 with the grey ramp; samples of more than 8 bits reduced to
// 8 as 16-bit samples are.
class TJXLGraphic : public TReaderGraphic {
 public:
  TJXLGraphic();
  ~TJXLGraphic() override;

  std::string ClassName() const override { return "TJXLGraphic"; }
  std::string FormatName() const override;

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  struct TSession;
  std::unique_ptr<TSession> session_;
};

// Registers jxl.
void RegisterJXLFormats(TFileFormatList& list);

}  // namespace quorvex
