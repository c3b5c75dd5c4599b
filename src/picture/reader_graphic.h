#pragma once

#include <memory>

#include "picture/bitmap.h"
#include "picture/image_properties.h"

namespace quorvex {

class TColorManager;
class TStream;

// The base of the registry's readers. A loaded reader is itself a bitmap in
// some PixelLayout; it keeps the header facts it read and the converter that
// turns file samples into pixels.
class TReaderGraphic : public TBitmap {
 public:
  TReaderGraphic();
  ~TReaderGraphic() override;

  std::string ClassName() const override { return "TReaderGraphic"; }
  // Copies the header facts first, then shares the source's image.
  void TakeFrom(const TPersistent* source) override;

  // The content test, asked through the class (ClassOf<T>()) before any
  // instance exists. It reads from the stream's current position and
  // restores it. Each reader declares its own; the base accepts nothing.
  static bool AcceptsStream(TStream& stream);

  // Fills the header facts without decoding pixels and tells whether the
  // header is usable. The base clears them, with a file gamma of 1.0, and
  // answers no.
  virtual bool ReadHeaderInfo(TStream& stream, int imageIndex);

  TImageProperties& ImageProperties() { return properties_; }
  const TImageProperties& ImageProperties() const { return properties_; }
  TColorManager& ColorManager();

  // Every reader reads the same way: the picture is emptied, the header is
  // read and checked once by ReadHeaderInfo, which keeps what decoding
  // needs, and then the reader's Decode step runs.
  void ReadFromStream(TStream& stream) final;

  // The name the reader's messages give its format ("PCX", "TIF/TIFF").
  virtual std::string FormatName() const = 0;
  // "Cannot load image. Invalid or unexpected %s image format."
  std::string NotValidMessage() const override;

 protected:
  // The pixels, after ReadHeaderInfo: the stream stands where the header
  // read left it, `start` is where the picture begins and `headerUsable` is
  // what ReadHeaderInfo answered.
  virtual void Decode(TStream& stream, int64_t start, bool headerUsable);

  TImageProperties properties_;

 private:
  std::unique_ptr<TColorManager> colorManager_;
};

}  // namespace quorvex
