#pragma once

// GIF files, through giflib: the first picture of the file, on its logical
// screen.

#include <string>

#include "picture/reader_graphic.h"

struct GifFileType;

namespace quorvex {

class TFileFormatList;
class TStream;

// Reads the first frame of a GIF file as a Bits8 bitmap with the frame's
// colour map (its own, else the file's, else a gray ramp). The frame sits on
// the logical screen, grown to hold it if it reaches past it; the rest of
// the screen shows the frame's transparent index, else index 0. The
// transparent index keeps its palette colour.
class TGIFGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TGIFGraphic"; }
  std::string FormatName() const override { return "GIF"; }

  // "GIF87a" or "GIF89a".
  static bool AcceptsStream(TStream& stream);
  // The signature and the logical screen descriptor.
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  [[noreturn]] void Fail(const std::string& reason) const;
  // The transparent index of the graphic control block before the first
  // frame, read up to that frame's descriptor.
  int ReadUpToFirstFrame(GifFileType* gif);
  // The screen, grown to hold the frame, filled with the transparent index.
  void MakeScreen(GifFileType* gif, int transparent, int64_t inputLeft);
  void ReadFrameRows(GifFileType* gif);
};

// Registers gif.
void RegisterGIFFormats(TFileFormatList& list);

}  // namespace quorvex
