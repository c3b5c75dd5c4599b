#pragma once

// WebP files, through libwebp: still pictures, lossy or lossless, and the
// first frame of animations; EXIF orientation applied.

#include <string>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// Reads a WebP file as Bits24 (blue, green, red) or, when it has alpha, as
// Bits32 with the alpha kept (blue, green, red, alpha, not premultiplied).
// An animation gives its first frame on the animation's canvas.
class TWebPGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TWebPGraphic"; }
  std::string FormatName() const override { return "WebP"; }

  // "RIFF", a size, "WEBP".
  static bool AcceptsStream(TStream& stream);
  // Size, alpha and animation from the first chunks.
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  [[noreturn]] void Fail(const std::string& reason) const;
  void DecodeStill(const std::vector<uint8_t>& file);
  void DecodeFirstFrame(const std::vector<uint8_t>& file);
};

// Registers webp.
void RegisterWebPFormats(TFileFormatList& list);

}  // namespace quorvex
