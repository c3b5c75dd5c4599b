#pragma once

// JPEG 2000 pictures, JP2/JPX files and raw codestreams, read through
// OpenJPEG.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

enum class JPEG2000Kind { None, Boxed, Codestream };

// The JP2 signature box, or a codestream's SOC and SIZ markers.
JPEG2000Kind JPEG2000KindOf(std::span<const uint8_t> head);

// One or two components load as Bits8 with the grey ramp (a second one is
// alpha and is dropped, as for grey PNG pictures with alpha), three as
// Bits24 (sYCC turned into RGB), four as Bits32 with the fourth as alpha.
// Subsampled components are spread over the picture's grid; signed ones are
// lifted by half their range; every precision is scaled to 8 bits.
class TJPEG2000Graphic : public TReaderGraphic {
 public:
  TJPEG2000Graphic();
  ~TJPEG2000Graphic() override;

  std::string ClassName() const override { return "TJPEG2000Graphic"; }
  std::string FormatName() const override;

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  struct TSession;
  std::unique_ptr<TSession> session_;
};

// Registers jp2, j2k, jpf and jpx.
void RegisterJPEG2000Formats(TFileFormatList& list);

}  // namespace quorvex
