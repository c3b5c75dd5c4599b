#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/graphic.h"

namespace quorvex {

inline constexpr const char* kIconNotValid = "Icon image is not valid";
inline constexpr const char* kMetafileNotValid = "Metafile is not valid";
inline constexpr const char* kIconSizeFixed = "Cannot change the size of an icon";

// An icon file (.ico, also cursor files). Of its images the one nearest to
// the requested size (the display's standard icon size, 32 x 32) is chosen,
// ties going to the larger image and then to the deeper colour up to the
// display's 32 bits per pixel, then to the earlier entry. The graphic
// reports that image's size and paints it through its mask, so transparent
// pixels leave whatever is underneath.
class TIcon : public TGraphic {
 public:
  static constexpr int32_t kStandardSize = 32;
  static constexpr int kDisplayBitsPerPixel = 32;

  TIcon() { transparent_ = true; }
  std::string ClassName() const override { return "TIcon"; }
  std::string NotValidMessage() const override { return kIconNotValid; }
  void TakeFrom(const TPersistent* source) override;

  bool IsEmpty() const override { return bytes_.empty(); }
  int32_t ImageWidth() const override;
  int32_t ImageHeight() const override;
  // An empty icon takes these as the size to pick for; a loaded one cannot
  // be resized (EInvalidGraphicOperation "Cannot change the size of an icon").
  void SetImageWidth(int32_t width) override;
  void SetImageHeight(int32_t height) override;
  // The whole file from the stream's position; EInvalidGraphic "Icon image
  // is not valid" when no image of it can be drawn.
  void ReadFromStream(TStream& stream) override;
  // The file's bytes as they were read.
  void WriteToStream(TStream& stream) const override;
  void DrawInto(TCanvas& canvas, const TRect& rect) const override;

  // Facts of the loaded file: how many images its directory lists, which
  // one was chosen, and the chosen image's pixels as blue, green, red,
  // alpha (straight), top row first, ImageWidth() * 4 bytes a row.
  int32_t ImageCount() const { return imageCount_; }
  int32_t ChosenIndex() const { return chosen_; }
  const std::vector<uint8_t>& Raster() const { return raster_; }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> raster_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t imageCount_ = 0;
  int32_t chosen_ = -1;
  int32_t requestedWidth_ = kStandardSize;
  int32_t requestedHeight_ = kStandardSize;
};

// A Windows metafile (.wmf, placeable or not) or enhanced metafile (.emf).
// It reports its frame in pixels at 96 dots per inch and plays the picture
// so that the frame fills the rectangle it is drawn into. The frame is
// - placeable WMF: the bounding box, sized by its units per inch (the
//   window the records set, if any, is what fills it);
// - other WMF: the window the records set in the (an)isotropic modes,
//   counted in twips, else what the records draw, in the units of their
//   mapping mode (device units count as pixels);
// - EMF: the frame of the header (0.01 mm), or its device bounds when the
//   frame is empty.
class TMetafile : public TGraphic {
 public:
  static constexpr double kScreenDpi = 96.0;

  // The frame in the user space of the picture's SVG document; the frame is
  // what maps onto the drawing rectangle.
  struct DeviceFrame {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
  };

  TMetafile() { transparent_ = true; }
  std::string ClassName() const override { return "TMetafile"; }
  std::string NotValidMessage() const override { return kMetafileNotValid; }
  void TakeFrom(const TPersistent* source) override;

  bool IsEmpty() const override { return bytes_.empty(); }
  int32_t ImageWidth() const override { return width_; }
  int32_t ImageHeight() const override { return height_; }
  // Changes the size the picture reports (and is then stretched to); values
  // below 1 are ignored.
  void SetImageWidth(int32_t width) override;
  void SetImageHeight(int32_t height) override;
  // The whole file from the stream's position; EInvalidGraphic "Metafile is
  // not valid" for anything that is not a complete metafile, and for frames
  // whose Bits24 bitmap would pass the storage cap. Nothing the file names
  // outside itself is ever read. EInvalidGraphicOperation names what is
  // missing when the WMF library cannot work at all.
  void ReadFromStream(TStream& stream) override;
  void WriteToStream(TStream& stream) const override;
  // Plays the picture into rect (only the part inside the canvas is
  // rendered); areas the picture leaves empty keep what is underneath. A
  // Bits24 canvas is painted in place, others through a few rows at a time.
  // EInvalidGraphic "Metafile is not valid" when the drawing would cost far
  // more than covering the rectangle a few times over.
  void DrawInto(TCanvas& canvas, const TRect& rect) const override;

  bool Enhanced() const { return enhanced_; }

 private:
  std::vector<uint8_t> bytes_;
  bool enhanced_ = false;
  int32_t width_ = 0;
  int32_t height_ = 0;
  // The picture as an SVG document, which Qt renders.
  std::vector<uint8_t> playable_;
  DeviceFrame frame_;
};

}  // namespace quorvex
