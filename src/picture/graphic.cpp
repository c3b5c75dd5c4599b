#include "picture/graphic.h"

#include "picture/exceptions.h"
#include "picture/stream.h"

namespace quorvex {

std::optional<TPalette> copyPalette(const std::optional<TPalette>& palette) {
  if (!palette || palette->empty()) return std::nullopt;
  return *palette;
}

void TPersistent::CopyOnto(TPersistent& target) const {
  throw EConvertError(
      FormatMessage("Cannot assign a %s to a %s", ClassName().c_str(), target.ClassName().c_str()));
}

void TPersistent::TakeFrom(const TPersistent* source) {
  if (source) {
    source->CopyOnto(*this);
  } else {
    throw EConvertError(FormatMessage("Cannot assign a %s to a %s", "nil", ClassName().c_str()));
  }
}

void TGraphic::DrawInto(TCanvas& canvas, const TRect& rect) const {
  (void)canvas;
  (void)rect;
}

void TGraphic::LoadFile(const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::OpenRead);
  ReadFromStream(stream);
}

std::string TGraphic::NotValidMessage() const {
  return kBitmapNotValid;
}

void TGraphic::SaveFile(const std::string& path) const {
  TFileStream stream(path, TFileStream::Mode::Create);
  WriteToStream(stream);
}

}  // namespace quorvex
