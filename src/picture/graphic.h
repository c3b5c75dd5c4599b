#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvex {

class TStream;
class TCanvas;

struct TRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;   // exclusive
  int32_t bottom = 0;  // exclusive
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
};

struct TRGB {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  friend bool operator==(const TRGB&, const TRGB&) = default;
};

// An ordered list of at most 256 colours; absence is std::nullopt.
using TPalette = std::vector<TRGB>;
inline constexpr size_t kMaxPaletteEntries = 256;

// An independent copy; copying no palette or an empty one gives none.
std::optional<TPalette> copyPalette(const std::optional<TPalette>& palette);

class TPersistent {
 public:
  virtual ~TPersistent() = default;
  virtual std::string ClassName() const = 0;
  // Base behaviour: EConvertError "Cannot assign a %s to a %s".
  virtual void CopyOnto(TPersistent& target) const;
  virtual void TakeFrom(const TPersistent* source);
};

// Anything that can be a picture: bitmaps, every reader, icons, metafiles.
class TGraphic : public TPersistent {
 public:
  virtual bool IsEmpty() const = 0;
  virtual int32_t ImageWidth() const = 0;
  virtual int32_t ImageHeight() const = 0;
  virtual std::optional<TPalette> QueryPalette() const { return std::nullopt; }
  virtual bool IsTransparent() const { return transparent_; }
  virtual void SetTransparentFlag(bool value) { transparent_ = value; }
  virtual void SetImageWidth(int32_t width) = 0;
  virtual void SetImageHeight(int32_t height) = 0;
  virtual void ApplyPalette(std::optional<TPalette> palette) { (void)palette; }
  virtual void LoadFile(const std::string& path);
  virtual void SaveFile(const std::string& path) const;
  virtual void ReadFromStream(TStream& stream) = 0;
  // The format's own message for a file that yields no picture.
  virtual std::string NotValidMessage() const;
  virtual void WriteToStream(TStream& stream) const = 0;
  // Paints the whole graphic into rect of the canvas, stretched to it and
  // clipped to the canvas's bitmap. The base paints nothing.
  virtual void DrawInto(TCanvas& canvas, const TRect& rect) const;

 protected:
  bool transparent_ = false;
};

}  // namespace quorvex
