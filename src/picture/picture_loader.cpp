#include "picture/picture_loader.h"

#include <cctype>
#include <utility>

#include "picture/canvas.h"
#include "picture/file_format_list.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

TBusyCursor& BusyCursor() {
  static TBusyCursor cursor;
  return cursor;
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
    if (BusyCursor()) BusyCursor()(busy);
  }
};

bool IsTargaName(const std::string& fileName) {
  std::string extension = FileExtension(fileName);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == "tga";
}

void Load(const std::string& fileName, const uint8_t* data, size_t size, bool fromMemory,
          TPicture& picture, std::unique_ptr<TBitmap>& workingBitmap) {
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
  const TGraphic* graphic = picture.Graphic();
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
  std::swap(BusyCursor(), cursor);
  return cursor;
}

void LoadPicture(const std::string& fileName, TPicture& picture,
                 std::unique_ptr<TBitmap>& workingBitmap) {
  Load(fileName, nullptr, 0, false, picture, workingBitmap);
}

void LoadPictureFromMemory(const uint8_t* data, size_t size, const std::string& fileName,
                           TPicture& picture, std::unique_ptr<TBitmap>& workingBitmap) {
  Load(fileName, data, size, true, picture, workingBitmap);
}

}  // namespace quorvex
