#include "app/image.h"

#include "picture/bitmap.h"
#include "picture/picture.h"
#include "widgets/bitmap_image.h"

namespace quorvex {

TImage::TImage(QWidget* parent) : TImagePane(parent), picture_(std::make_unique<TPicture>()) {}

TImage::~TImage() = default;

void TImage::ShowDrawn(const TBitmap& drawn) {
  SetImage(BitmapToImage(drawn));
}

void TImage::SetGraphic(const TBitmap& bitmap) {
  picture_->SetGraphic(&bitmap);
  ShowDrawn(bitmap);
}

void TImage::Clear() {
  picture_->SetGraphic(nullptr);
  ClearImage();
}

const TGraphic* TImage::Graphic() const {
  return picture_->Graphic();
}

}  // namespace quorvex
