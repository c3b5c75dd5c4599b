// Making the gallery's thumbnails of a folder of photographs, against
// ImageMagick making the same thumbnails (convert -sample) on the same files.
// QUORVEX_GALLERY_PHOTOS sets the number of 3000 x 2000 JPEGs (default 100).
// The mixed folder is the gallery's own case: 200 JPEGs of 1600 x 1200 and
// 100 PNGs of 640 x 480, filled the way the window fills it; the Window
// case opens the gallery itself on it (Qt's offscreen platform unless
// QT_QPA_PLATFORM says otherwise) and times it from opening to the full
// grid, with the longest the window kept its input waiting meanwhile.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "gallery/preview_form.h"
#include "gallery/thumbnail_maker.h"
#include "picture/bitmap.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "shell/services.h"
#include "widgets/bitmap_image.h"

namespace {

namespace fs = std::filesystem;

struct Photos {
  fs::path folder;
  std::vector<std::string> files;
  ~Photos() {
    std::error_code error;
    if (!folder.empty()) fs::remove_all(folder, error);
  }
};

const Photos& TheFolder() {
  static Photos photos = [] {
    Photos made;
    const char* count = std::getenv("QUORVEX_GALLERY_PHOTOS");
    const int n = count ? std::atoi(count) : 100;
    made.folder =
        fs::temp_directory_path() / ("quorvex-gallery-bench-" + std::to_string(::getpid()));
    fs::create_directories(made.folder);
    const std::string base = (made.folder / "base.jpg").string();
    // A photograph-like picture: smooth shading under fine noise.
    const std::string make =
        "/usr/bin/convert -size 3000x2000 gradient:'#c84'-'#248' -attenuate 0.4 "
        "+noise Gaussian -quality 90 '" +
        base + "'";
    if (std::system(make.c_str()) != 0) std::abort();
    for (int i = 0; i < n; ++i) {
      const fs::path file = made.folder / ("photo" + std::to_string(i) + ".jpg");
      fs::copy_file(base, file);
      made.files.push_back(file.string());
    }
    fs::remove(base);
    return made;
  }();
  return photos;
}

// 200 JPEGs of 1600 x 1200 and 100 PNGs of 640 x 480.
const Photos& TheMixedFolder() {
  static Photos photos = [] {
    Photos made;
    made.folder =
        fs::temp_directory_path() / ("quorvex-gallery-mixed-" + std::to_string(::getpid()));
    fs::create_directories(made.folder);
    const std::string jpeg = (made.folder / "base.jpg").string();
    const std::string png = (made.folder / "base.png").string();
    const std::string make =
        "/usr/bin/convert -size 1600x1200 gradient:'#c84'-'#248' -attenuate 0.4 "
        "+noise Gaussian -quality 90 '" +
        jpeg + "' && /usr/bin/convert -size 640x480 gradient:'#4c8'-'#824' '" + png + "'";
    if (std::system(make.c_str()) != 0) std::abort();
    for (int i = 0; i < 300; ++i) {
      const bool isJpeg = i % 3 != 2;
      const fs::path file =
          made.folder / ("photo" + std::to_string(i) + (isJpeg ? ".jpg" : ".png"));
      fs::copy_file(isJpeg ? jpeg : png, file);
      made.files.push_back(file.string());
    }
    fs::remove(jpeg);
    fs::remove(png);
    return made;
  }();
  return photos;
}

// The mixed folder as the gallery filled it before: one file after the
// other, each decoded at full size.
void BM_MixedFolderOneByOne(benchmark::State& state) {
  const Photos& photos = TheMixedFolder();
  for (auto _ : state) {
    for (const std::string& file : photos.files) {
      quorvex::TPicture picture;
      std::unique_ptr<quorvex::TBitmap> bitmap;
      quorvex::LoadPicture(file, picture, bitmap);
      quorvex::TBitmap thumb;
      quorvex::MakeThumbnail(*bitmap, thumb);
      benchmark::DoNotOptimize(quorvex::BitmapToImage(thumb));
    }
  }
}
BENCHMARK(BM_MixedFolderOneByOne)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The same one by one with reduced JPEG decodes: the processor time the
// workers below share, split by format.
void BM_MixedFolderReducedOneByOne(benchmark::State& state) {
  const Photos& photos = TheMixedFolder();
  double jpeg = 0;
  double png = 0;
  for (auto _ : state) {
    for (const std::string& file : photos.files) {
      const double start = quorvex::bench::ThreadCpuSeconds();
      benchmark::DoNotOptimize(quorvex::MakeFileThumbnail(file).image);
      (file.ends_with(".jpg") ? jpeg : png) += quorvex::bench::ThreadCpuSeconds() - start;
    }
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["jpeg_cpu_ms"] = jpeg * 1e3 / iterations;
  state.counters["png_cpu_ms"] = png * 1e3 / iterations;
}
BENCHMARK(BM_MixedFolderReducedOneByOne)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The mixed folder as the gallery fills it now: reduced JPEG decodes on as
// many workers as there are cores, taken in order; the time to a full
// window.
void BM_MixedFolderThumbnailMaker(benchmark::State& state) {
  const Photos& photos = TheMixedFolder();
  for (auto _ : state) {
    quorvex::TThumbnailMaker maker(photos.files);
    while (!maker.Done()) {
      auto result = maker.TakeNext(std::chrono::milliseconds(15));
      if (result) benchmark::DoNotOptimize(result->thumbnail.has_value());
    }
  }
}
BENCHMARK(BM_MixedFolderThumbnailMaker)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// The gallery window opened on the mixed folder: from opening to the full
// grid, in wall and processor time, and the longest the window left its
// input waiting meanwhile (a timer due every 5 ms measures the gaps).
void BM_MixedFolderWindow(benchmark::State& state) {
  const Photos& photos = TheMixedFolder();
  const std::string folder = photos.folder.string();
  quorvex::TPreviewForm form(quorvex::PlatformServices(), [&folder] { return folder; });
  QElapsedTimer clock;
  qint64 lastTick = 0;
  qint64 longestGap = 0;
  QTimer ticker;
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    longestGap = std::max(longestGap, now - lastTick);
    lastTick = now;
  });
  double cpu = 0;
  size_t shown = 0;
  for (auto _ : state) {
    const double cpuStart = quorvex::bench::ProcessCpuSeconds();
    clock.start();
    lastTick = 0;
    ticker.start();
    form.show();
    ticker.stop();
    longestGap = std::max(longestGap, clock.elapsed() - lastTick);
    cpu += quorvex::bench::ProcessCpuSeconds() - cpuStart;
    shown = form.Entries().size();
    state.PauseTiming();
    form.hide();
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
  if (shown != photos.files.size()) state.SkipWithError("not every picture was shown");
  state.counters["cpu_ms"] = cpu * 1e3 / static_cast<double>(state.iterations());
  state.counters["longest_input_wait_ms"] = static_cast<double>(longestGap);
}
BENCHMARK(BM_MixedFolderWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// What the gallery does per file: decode, scale, make the display copy.
void BM_GalleryThumbnails(benchmark::State& state) {
  const Photos& photos = TheFolder();
  for (auto _ : state) {
    for (const std::string& file : photos.files) {
      quorvex::TPicture picture;
      std::unique_ptr<quorvex::TBitmap> bitmap;
      quorvex::LoadPicture(file, picture, bitmap);
      quorvex::TBitmap thumb;
      quorvex::MakeThumbnail(*bitmap, thumb);
      benchmark::DoNotOptimize(quorvex::BitmapToImage(thumb));
    }
  }
  state.counters["per_picture_ms"] = benchmark::Counter(
      static_cast<double>(photos.files.size()) * 1e-3,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GalleryThumbnails)->Unit(benchmark::kMillisecond)->UseRealTime();

// The scaling step alone, on a decoded photograph.
void BM_MakeThumbnailOnly(benchmark::State& state) {
  const Photos& photos = TheFolder();
  quorvex::TPicture picture;
  std::unique_ptr<quorvex::TBitmap> bitmap;
  quorvex::LoadPicture(photos.files.front(), picture, bitmap);
  for (auto _ : state) {
    quorvex::TBitmap thumb;
    quorvex::MakeThumbnail(*bitmap, thumb);
    benchmark::DoNotOptimize(thumb.RowAddress(0));
  }
}
BENCHMARK(BM_MakeThumbnailOnly)->Unit(benchmark::kMicrosecond);

// ImageMagick, one process for the whole folder so that start-up costs once.
void BM_ImageMagickSample(benchmark::State& state) {
  const Photos& photos = TheFolder();
  const std::string out = (photos.folder / "thumbs").string();
  fs::create_directories(out);
  const std::string command = "cd '" + photos.folder.string() + "' && /usr/bin/mogrify -path '" +
                              out + "' -format bmp -sample 100x100 photo*.jpg";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("mogrify failed");
  }
  state.counters["per_picture_ms"] = benchmark::Counter(
      static_cast<double>(photos.files.size()) * 1e-3,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ImageMagickSample)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
