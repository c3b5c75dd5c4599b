#include "picture/picture_loader.h"

#include <atomic>
#include <cctype>
#include <thread>
#include <utility>

#include "picture/canvas.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/jpeg_image.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

TBusyCursor& BusyCursor() {
  static TBusyCursor cursor;
  return cursor;
}

// The cursor is the window's: loads on other threads leave it alone.
std::atomic<std::thread::id>& BusyCursorThread() {
  static std::atomic<std::thread::id> thread;
  return thread;
}

// Shows the busy cursor for the lifetime of the object.
class BusyScope {
 public:
  BusyScope() { Show(true); }
  ~BusyScope() { Show(false); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  static void Show(bool busy) {
    if (BusyCursorThread().load() != std::this_thread::get_id()) return;
    if (BusyCursor()) BusyCursor()(busy);
  }
};

bool IsTargaName(const std::string& fileName) {
  std::string extension = FileExtension(fileName);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "tga";
}

// A Bits24 decode becomes the working bitmap itself, so no second picture
// of the full size is made; other decodes are drawn onto Bits24 at their size.
void WorkingFromJpeg(const TJPEGImage& jpeg, TBitmap& working) {
  const TBitmap& decoded = jpeg.DecodedBitmap();
  if (decoded.Layout() == PixelLayout::Bits24) {
    working.TakeFrom(&decoded);
    return;
  }
  const int32_t width = decoded.ImageWidth();
  const int32_t height = decoded.ImageHeight();
  working.SetLayout(PixelLayout::Bits24);
  working.SetImageWidth(width);
  working.SetImageHeight(height);
  jpeg.DrawInto(working.Surface(), {0, 0, width, height});
}

void Load(const std::string& fileName, const uint8_t* data, size_t size, bool fromMemory,
          TPicture& picture, std::unique_ptr<TBitmap>& workingBitmap, const TJPEGScaleRule& rule) {
  BusyScope busy;
  workingBitmap = std::make_unique<TBitmap>();
  TBitmap& working = *workingBitmap;

  const TFileFormatList& registry = FileFormatList();
  const TGraphicClass* reader = nullptr;
  if (fromMemory) {
    TMemoryStream stream(data, size);
    reader = registry.DetectReader(stream);
  } else {
    reader = registry.DetectReader(fileName);
  }

  if (reader) {
    auto graphic = reader->Create();
    if (fromMemory) {
      TMemoryStream stream(data, size);
      graphic->ReadFromStream(stream);
    } else {
      graphic->LoadFile(fileName);
    }
    RequirePicture(*graphic);
    picture.SetGraphic(graphic.get());
    working.TakeFrom(picture.Graphic());
    return;
  }

  if (fromMemory) {
    TMemoryStream stream(data, size);
    picture.LoadFromStream(stream, fileName);
  } else {
    picture.LoadFromFile(fileName);
  }
  TGraphic* graphic = picture.Graphic();
  auto* jpeg = dynamic_cast<TJPEGImage*>(graphic);
  if (jpeg && !IsTargaName(fileName)) {
    if (rule) jpeg->Settings().scale = rule(jpeg->ImageWidth(), jpeg->ImageHeight());
    WorkingFromJpeg(*jpeg, working);
    return;
  }
  if (IsTargaName(fileName) || dynamic_cast<const TBitmap*>(graphic) == nullptr) {
    working.SetLayout(PixelLayout::Bits24);
    working.SetImageWidth(picture.Width());
    working.SetImageHeight(picture.Height());
    working.Surface().DrawGraphic(0, 0, graphic);
  } else {
    working.TakeFrom(graphic);
  }
}

}  // namespace

TBusyCursor SetBusyCursor(TBusyCursor cursor) {
  BusyCursorThread().store(std::this_thread::get_id());
  std::swap(BusyCursor(), cursor);
  return cursor;
}

void LoadPicture(const std::string& fileName, TPicture& picture,
                 std::unique_ptr<TBitmap>& workingBitmap, const TJPEGScaleRule& rule) {
  Load(fileName, nullptr, 0, false, picture, workingBitmap, rule);
}

bool LoadsAsBitmap(const std::string& fileName) {
  return FileFormatList().DetectReader(fileName) == nullptr &&
         PictureFormats().FindClass(FileExtension(fileName)) == &ClassOf<TBitmap>();
}

void LoadPictureFromMemory(const uint8_t* data, size_t size, const std::string& fileName,
                           TPicture& picture, std::unique_ptr<TBitmap>& workingBitmap) {
  Load(fileName, data, size, true, picture, workingBitmap, {});
}

}  // namespace quorvex
