#pragma once

// Portable Network Graphics files: TPNGGraphic reads one image into itself,
// a bitmap in Bits1, Bits4, Bits8, Bits24 or Bits32 by colour type and bit
// depth.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "picture/reader_graphic.h"
#include "picture/readers/png_chunks.h"

namespace quorvex {

class TPNGImageData;
class TFileFormatList;

class TPNGGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TPNGGraphic"; }
  std::string FormatName() const override { return kPNGFormatName; }

  // More than 8 bytes remain and they start with the PNG signature.
  static bool AcceptsStream(TStream& stream);
  // Signature, IHDR and a gAMA chunk (if one comes before IEND); the stream
  // position is restored. The image index is ignored.
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

  // The IHDR filter method of the last header read.
  uint8_t FilterMethod() const { return filterMethod_; }
  // The colour (0xRRGGBB) that a tRNS chunk marked transparent, as the
  // bitmap shows it; it only affects display.
  std::optional<uint32_t> TransparentColor() const { return transparentColor_; }

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  struct TLoad;
  struct TPass;
  void StartConverter();
  void ReadChunks(TLoad& load, TPNGImageData& data);
  bool HandleChunk(TLoad& load);
  void SetUpColors(TLoad& load);
  void ReadPalette(TLoad& load);
  void ReadGamma(TLoad& load);
  void ReadBackground(TLoad& load);
  void ReadTransparency(TLoad& load);
  void DecodeImage(TLoad& load, TPNGImageData& data);
  void MakeCanvas(const TLoad& load, const TPNGImageData& data);
  void MarkTransparent(const TLoad& load);
  static std::vector<TPass> PassesOf(const TPNGHeader& h, unsigned channels);
  void DecodeRows(TLoad& load, TPNGImageData& data);
  void DecodePass(const TPass& pass, const TLoad& load, TPNGImageData& data,
                  std::span<uint8_t>& current, std::span<uint8_t>& previous);

  std::optional<TPNGFileHeader> header_;
  uint8_t filterMethod_ = 0;
  std::optional<uint32_t> transparentColor_;
};

// Registers png.
void RegisterPNGFormats(TFileFormatList& list);

}  // namespace quorvex
