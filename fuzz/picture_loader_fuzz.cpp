#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/transform.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/platform/install_platform_graphics.h"
#include "picture/reader_graphic.h"
#include "picture/stream.h"

namespace {

using namespace quorvex;

// Pictures of many megapixels are legal but only slow the search.
constexpr uint64_t kMaxPixels = uint64_t{4} << 20;
constexpr uint64_t kMaxScrambledBytes = uint64_t{16} << 20;

// One name per class of the container registry, plus the Targa rule and an
// unknown extension: every road the loader can take with these bytes.
const std::vector<std::string>& Names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> result;
    std::set<const TGraphicClass*> seen;
    for (const auto& record : PictureFormats().Records()) {
      if (seen.insert(record.graphicClass).second) result.push_back("input." + record.extension);
    }
    result.push_back("input.TGA");
    result.push_back("input.xyz");
    return result;
  }();
  return names;
}

// Whether the picture that class would make of the bytes is small enough,
// judged from its header: readers read only their header, the wrapper and
// the platform graphics only ever read theirs on loading.
bool SmallEnough(const TGraphicClass& graphicClass, const uint8_t* data, size_t size) {
  try {
    auto graphic = graphicClass.Create();
    TMemoryStream stream(data, size);
    uint64_t width = 0, height = 0;
    if (auto* reader = dynamic_cast<TReaderGraphic*>(graphic.get())) {
      reader->ReadHeaderInfo(stream, 0);
      width = uint64_t(std::max(reader->ImageProperties().width, 0));
      height = uint64_t(std::max(reader->ImageProperties().height, 0));
    } else if (dynamic_cast<TBitmap*>(graphic.get()) == nullptr) {
      graphic->ReadFromStream(stream);
      width = uint64_t(std::max(graphic->ImageWidth(), 0));
      height = uint64_t(std::max(graphic->ImageHeight(), 0));
    }
    return width * height <= kMaxPixels;
  } catch (const Exception&) {
    return true;  // the load fails the same way, quickly
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InstallPlatformGraphics();
  FileFormatList();
  Names();
  return 0;
}

// Loads arbitrary bytes as a picture file of every extension: content
// detection first, then the container by extension; a picture that loads is
// scrambled, which reads every byte of the working bitmap.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream detection(data, size);
  const TGraphicClass* detected = FileFormatList().DetectReader(detection);
  for (const std::string& name : Names()) {
    const TGraphicClass* graphicClass =
        detected ? detected : PictureFormats().FindClass(FileExtension(name));
    if (graphicClass && !SmallEnough(*graphicClass, data, size)) continue;
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    try {
      LoadPictureFromMemory(data, size, name, picture, working);
      if (working->Stride() * uint64_t(working->ImageHeight()) <= kMaxScrambledBytes) {
        TBitmap scrambled;
        EncryptTransform(*working, "614052", scrambled);
      }
    } catch (const Exception&) {
    }
    if (detected) break;  // a reader takes it whatever the name
  }
  return 0;
}
