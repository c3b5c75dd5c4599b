#include "support/test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace quorvex::test {

std::string TestData(const std::string& relative) {
  return std::string(QUORVEX_TESTDATA) + "/" + relative;
}

namespace {

std::optional<RgbPicture> RunReferenceTool(const std::string& options, const std::string& path) {
  const std::string command =
      std::string(QUORVEX_REFERENCE_TOOL) + options + " '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  if (::pclose(pipe) != 0) return std::nullopt;
  const auto newline = std::find(bytes.begin(), bytes.end(), uint8_t{'\n'});
  if (newline == bytes.end()) return std::nullopt;
  RgbPicture picture;
  std::istringstream(std::string(bytes.begin(), newline)) >> picture.width >> picture.height;
  picture.rgb.assign(newline + 1, bytes.end());
  return picture;
}

}  // namespace

std::optional<RgbPicture> ReferencePixels(const std::string& path, bool upright) {
  return RunReferenceTool(upright ? " --upright" : "", path);
}

std::optional<RgbPicture> ImageMagickPixels(const std::string& path) {
  return RunReferenceTool(" --imagemagick", path);
}

RgbPicture BitmapPixels(const TBitmap& bitmap) {
  RgbPicture picture{bitmap.ImageWidth(), bitmap.ImageHeight(), {}};
  picture.rgb.reserve(static_cast<size_t>(picture.width) * picture.height * 3);
  for (int32_t y = 0; y < picture.height; ++y) {
    for (int32_t x = 0; x < picture.width; ++x) {
      const uint32_t c = bitmap.PixelColor(x, y);
      picture.rgb.push_back(static_cast<uint8_t>(c >> 16));
      picture.rgb.push_back(static_cast<uint8_t>(c >> 8));
      picture.rgb.push_back(static_cast<uint8_t>(c));
    }
  }
  return picture;
}

std::string ComparePictures(const RgbPicture& expected, const RgbPicture& actual, int tolerance) {
  std::ostringstream why;
  if (expected.width != actual.width || expected.height != actual.height) {
    why << "size " << actual.width << "x" << actual.height << ", expected " << expected.width << "x"
        << expected.height;
    return why.str();
  }
  if (expected.rgb.size() != actual.rgb.size()) return "pixel data sizes differ";
  for (size_t i = 0; i < expected.rgb.size(); ++i) {
    if (std::abs(int{expected.rgb[i]} - int{actual.rgb[i]}) > tolerance) {
      const size_t pixel = i / 3;
      why << "pixel (" << pixel % expected.width << ", " << pixel / expected.width << ") channel "
          << i % 3 << ": " << int{actual.rgb[i]} << ", expected " << int{expected.rgb[i]};
      return why.str();
    }
  }
  return "";
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> StorageBytes(const TBitmap& bitmap) {
  std::vector<uint8_t> bytes;
  for (int32_t y = 0; y < bitmap.ImageHeight(); ++y) {
    const uint8_t* row = bitmap.RowAddress(y);
    bytes.insert(bytes.end(), row, row + bitmap.Stride());
  }
  return bytes;
}

namespace {

// Folders made by this process, removed when it exits normally, so that
// test runs do not pile up in the temporary folder. A forked child leaves
// them to its parent.
class TTempDirs {
 public:
  static TTempDirs& Get() {
    static TTempDirs* dirs = [] {
      auto* made = new TTempDirs;  // never destroyed: used at exit
      std::atexit([] { Get().RemoveAll(); });
      return made;
    }();
    return *dirs;
  }

  void Add(const std::string& path) {
    std::lock_guard lock(mutex_);
    paths_.push_back(path);
  }

 private:
  void RemoveAll() {
    std::lock_guard lock(mutex_);
    if (::getpid() != owner_) return;
    for (const std::string& path : paths_) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
    paths_.clear();
  }

  std::mutex mutex_;
  std::vector<std::string> paths_;
  const pid_t owner_ = ::getpid();
};

}  // namespace

std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) std::abort();
  TTempDirs::Get().Add(pattern);
  return pattern;
}

}  // namespace quorvex::test
