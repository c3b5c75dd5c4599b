#pragma once

#include <memory>

#include "widgets/image_pane.h"

namespace quorvex {

class TBitmap;
class TGraphic;
class TPicture;

// A picture pane with its picture container. The container keeps its own
// copy of what it is given, sharing the bitmap's image.
class TImage : public TImagePane {
  Q_OBJECT
 public:
  explicit TImage(QWidget* parent = nullptr);
  ~TImage() override;
  // The container the loader fills; show the result with ShowDrawn.
  TPicture& Picture() { return *picture_; }
  // Shows what the loader drew of the container's picture.
  void ShowDrawn(const TBitmap& drawn);
  // Stores a copy of the bitmap and shows it.
  void SetGraphic(const TBitmap& bitmap);
  // Empties the pane.
  void Clear();
  // The pane's picture, null when empty.
  const TGraphic* Graphic() const;

 private:
  std::unique_ptr<TPicture> picture_;
};

}  // namespace quorvex
