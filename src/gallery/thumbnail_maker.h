#pragma once

#include <QImage>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quorvex {

class TBitmap;
enum class TJPEGScale;

// The largest reduction libjpeg's DCT scaling makes (1/2, 1/4 or 1/8) that
// still leaves a picture of this size at least as large as its thumbnail.
TJPEGScale ThumbnailJpegScale(int32_t width, int32_t height);

// A picture file's thumbnail and its display copy. JPEG pictures are decoded
// at ThumbnailJpegScale and then stretched; the thumbnail's size is that of
// the full picture's. Raises what loading raises, and std::runtime_error for
// a file that is no regular file or gives an empty picture.
struct TThumbnail {
  std::unique_ptr<TBitmap> bitmap;
  QImage image;
};
TThumbnail MakeFileThumbnail(const std::string& path);

// Makes the thumbnails of a list of files on worker threads (by default as
// many as the machine has cores) and hands them out in the list's order.
// `made`, when given, is called on the worker after each file's result is
// ready to be taken. Destroying it stops the work still waiting.
class TThumbnailMaker {
 public:
  // A failed file has no thumbnail.
  struct Result {
    std::optional<TThumbnail> thumbnail;
  };

  explicit TThumbnailMaker(std::vector<std::string> paths, unsigned threads = 0,
                           std::function<void()> made = {});
  ~TThumbnailMaker();
  TThumbnailMaker(const TThumbnailMaker&) = delete;
  TThumbnailMaker& operator=(const TThumbnailMaker&) = delete;

  size_t Count() const { return paths_.size(); }
  bool Done() const { return next_ == paths_.size(); }
  // The next file's result once it is made, waiting for it at most `wait`;
  // nothing while it is still being made.
  std::optional<Result> TakeNext(std::chrono::milliseconds wait);

 private:
  void Work();

  std::vector<std::string> paths_;
  std::function<void()> madeNotice_;
  std::vector<std::optional<Result>> results_;
  size_t claimed_ = 0;  // files handed to workers
  size_t next_ = 0;     // files taken by TakeNext
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable made_;
  std::vector<std::thread> workers_;
};

}  // namespace quorvex
