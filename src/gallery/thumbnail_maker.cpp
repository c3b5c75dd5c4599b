#include "gallery/thumbnail_maker.h"

#include <sys/stat.h>

#include <stdexcept>
#include <utility>

#include "core/processor_count.h"
#include "gallery/preview_form.h"
#include "picture/bitmap.h"
#include "picture/jpeg_image.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "widgets/bitmap_image.h"

namespace quorvex {

namespace {

// Pipes, sockets and devices are never opened: reading one could wait
// forever or never end.
bool Openable(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode));
}

// libjpeg's size of a reduced picture: the fraction rounded up.
int64_t Reduced(int32_t size, int denominator) {
  return (int64_t{size} + denominator - 1) / denominator;
}

}  // namespace

TJPEGScale ThumbnailJpegScale(int32_t width, int32_t height) {
  int32_t thumbWidth = 0;
  int32_t thumbHeight = 0;
  ThumbnailSize(width, height, thumbWidth, thumbHeight);
  static constexpr std::pair<int, TJPEGScale> kScales[] = {
      {8, TJPEGScale::Eighth}, {4, TJPEGScale::Quarter}, {2, TJPEGScale::Half}};
  for (const auto& [denominator, scale] : kScales) {
    if (Reduced(width, denominator) >= thumbWidth && Reduced(height, denominator) >= thumbHeight) {
      return scale;
    }
  }
  return TJPEGScale::FullSize;
}

TThumbnail MakeFileThumbnail(const std::string& path) {
  if (!Openable(path)) throw std::runtime_error("not a file");
  TPicture picture;
  std::unique_ptr<TBitmap> bitmap;
  LoadPicture(path, picture, bitmap, ThumbnailJpegScale);
  // An empty file gives an empty picture: nothing to show.
  if (!bitmap || bitmap->IsEmpty()) throw std::runtime_error("empty picture");
  // A reduced JPEG decode is smaller than the picture; the thumbnail is
  // sized by the picture.
  const bool reduced =
      bitmap->ImageWidth() != picture.Width() || bitmap->ImageHeight() != picture.Height();
  TThumbnail thumbnail;
  thumbnail.bitmap = std::make_unique<TBitmap>();
  if (reduced) {
    int32_t thumbWidth = 0;
    int32_t thumbHeight = 0;
    ThumbnailSize(picture.Width(), picture.Height(), thumbWidth, thumbHeight);
    StretchThumbnail(*bitmap, *thumbnail.bitmap, thumbWidth, thumbHeight);
  } else {
    MakeThumbnail(*bitmap, *thumbnail.bitmap);
  }
  thumbnail.image = BitmapToImage(*thumbnail.bitmap);
  return thumbnail;
}

TThumbnailMaker::TThumbnailMaker(std::vector<std::string> paths, unsigned threads,
                                 std::function<void()> made)
    : paths_(std::move(paths)), madeNotice_(std::move(made)), results_(paths_.size()) {
  if (threads == 0) threads = ProcessorCount();
  threads = static_cast<unsigned>(std::min<size_t>(threads, paths_.size()));
  for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

TThumbnailMaker::~TThumbnailMaker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  for (std::thread& worker : workers_) worker.join();
}

void TThumbnailMaker::Work() {
  for (;;) {
    size_t index = 0;
    {
      std::lock_guard lock(mutex_);
      if (stopping_ || claimed_ == paths_.size()) return;
      index = claimed_++;
    }
    Result result;
    try {
      result.thumbnail = MakeFileThumbnail(paths_[index]);
    } catch (...) {
      // A picture that cannot be shown is left out.
    }
    {
      std::lock_guard lock(mutex_);
      results_[index] = std::move(result);
    }
    made_.notify_all();
    if (madeNotice_) madeNotice_();
  }
}

std::optional<TThumbnailMaker::Result> TThumbnailMaker::TakeNext(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  if (next_ == paths_.size()) return std::nullopt;
  if (!made_.wait_for(lock, wait, [this] { return results_[next_].has_value(); })) {
    return std::nullopt;
  }
  std::optional<Result> result = std::move(results_[next_]);
  results_[next_].reset();
  ++next_;
  return result;
}

}  // namespace quorvex
