#include "picture/reader_graphic.h"

#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

TReaderGraphic::TReaderGraphic() : colorManager_(std::make_unique<TColorManager>()) {}
TReaderGraphic::~TReaderGraphic() = default;

void TReaderGraphic::TakeFrom(const TPersistent* source) {
  if (const auto* reader = dynamic_cast<const TReaderGraphic*>(source)) {
    properties_ = reader->properties_;
  }
  TBitmap::TakeFrom(source);
}

bool TReaderGraphic::AcceptsStream(TStream& stream) {
  (void)stream;
  return false;
}

bool TReaderGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  (void)stream;
  (void)imageIndex;
  properties_ = TImageProperties{};
  properties_.fileGamma = 1.0f;
  return false;
}

void TReaderGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  const int64_t start = stream.Position();
  const bool usable = ReadHeaderInfo(stream, 0);
  Decode(stream, start, usable);
}

void TReaderGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  (void)stream;
  (void)start;
  (void)headerUsable;
  throw EInvalidGraphic(NotValidMessage());
}

std::string TReaderGraphic::NotValidMessage() const {
  return FormatMessage(kInvalidImageFormat, FormatName().c_str());
}

TColorManager& TReaderGraphic::ColorManager() {
  return *colorManager_;
}

}  // namespace quorvex
