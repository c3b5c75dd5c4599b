#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/graphic.h"

namespace quorvex {

class TFileFormatList;
class TPictureFormats;

enum class TJPEGPixelFormat { Format24Bit, Format8Bit };
enum class TJPEGPerformance { BestQuality, BestSpeed };
enum class TJPEGScale { FullSize, Half, Quarter, Eighth };

// How a TJPEGImage decodes; every new image starts from the process-wide
// defaults (JPEGDefaults).
struct TJPEGSettings {
  int compressionQuality = 90;  // for writing, which this program never does
  bool grayscale = false;
  TJPEGPerformance performance = TJPEGPerformance::BestQuality;
  TJPEGPixelFormat pixelFormat = TJPEGPixelFormat::Format24Bit;
  bool progressiveDisplay = false;
  TJPEGScale scale = TJPEGScale::FullSize;
  bool smoothing = true;  // fancy upsampling
};

// The defaults new images take. A program on a display of at most 8 bits
// per pixel sets pixelFormat to Format8Bit at start-up.
TJPEGSettings& JPEGDefaults();

// What the header says about the colours of the file.
enum class TJPEGColorSpace { Unknown, Grayscale, RGB, YCbCr, CMYK, YCCK };

// A JPEG picture: the compressed file kept in memory, the header read when
// loading, the pixels decoded the first time they are needed (drawing,
// copying onto a bitmap). A picture whose EXIF block gives an orientation is
// turned upright: its size and pixels are those shown. libjpeg's errors raise EJPEG with libjpeg's
// own message text ("Not a JPEG file: starts with 0x%02x 0x%02x").
class TJPEGImage : public TGraphic {
 public:
  TJPEGImage();
  ~TJPEGImage() override;
  TJPEGImage(const TJPEGImage&) = delete;
  TJPEGImage& operator=(const TJPEGImage&) = delete;

  std::string ClassName() const override { return "TJPEGImage"; }
  // Another TJPEGImage: shares its data and its decoded picture. None:
  // empties this one.
  void TakeFrom(const TPersistent* source) override;
  // Onto a TBitmap: the decoded picture (Bits24, or Bits8 with its palette).
  void CopyOnto(TPersistent& target) const override;

  bool IsEmpty() const override { return !data_; }
  int32_t ImageWidth() const override;
  int32_t ImageHeight() const override;
  std::optional<TPalette> QueryPalette() const override;
  // The size is the file's: these change nothing.
  void SetImageWidth(int32_t width) override;
  void SetImageHeight(int32_t height) override;
  // Takes the rest of the stream and reads its header.
  void ReadFromStream(TStream& stream) override;
  // Writes the compressed file as it was read.
  void WriteToStream(TStream& stream) const override;
  void DrawInto(TCanvas& canvas, const TRect& rect) const override;

  TJPEGSettings& Settings() { return settings_; }
  const TJPEGSettings& Settings() const { return settings_; }
  TJPEGColorSpace ColorSpace() const;
  // The decoded picture, decoded on first use and kept with the data for
  // every image that shares it, until a decode with other settings.
  const TBitmap& DecodedBitmap() const;

 private:
  struct Data;
  struct Decoded;
  std::shared_ptr<const Decoded> Decode() const;

  std::shared_ptr<const Data> data_;
  TJPEGSettings settings_;
};

// The wrapper's own rows of the registration table (jfif, jpg, jpe, jpeg).
void RegisterJPEGFormats(TFileFormatList& list);
// The wrapper's records in the picture container registry (jpeg, jpg).
void RegisterJPEGPictureFormats(TPictureFormats& formats);

}  // namespace quorvex
