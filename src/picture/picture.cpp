#include "picture/picture.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/jpeg_image.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

namespace {

TPlatformClasses& InstalledPlatformClasses() {
  static TPlatformClasses classes;
  return classes;
}

bool& PictureFormatsBuilt() {
  static bool built = false;
  return built;
}

TPictureFormats ProcessPictureFormats() {
  TPictureFormats formats;
  RegisterJPEGPictureFormats(formats);
  return formats;
}

}  // namespace

TPlatformClasses PlatformClasses() {
  return InstalledPlatformClasses();
}

void SetPlatformClasses(const TPlatformClasses& classes) {
  TPlatformClasses& installed = InstalledPlatformClasses();
  if (installed.icon == classes.icon && installed.metafile == classes.metafile) return;
  installed = classes;
  if (PictureFormatsBuilt()) {
    PictureFormats() = ProcessPictureFormats();
    RebuildFileFormatList();
  }
}

std::string FileExtension(const std::string& fileName) {
  // Only the file name counts: a dot in a folder name is no extension.
  const std::string name = std::filesystem::path(fileName).filename().string();
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

TPictureFormats::TPictureFormats() {
  const TPlatformClasses platform = PlatformClasses();
  if (platform.metafile) {
    RegisterFileFormat("wmf", "Metafiles", *platform.metafile);
    RegisterFileFormat("emf", "Enhanced Metafiles", *platform.metafile);
  }
  if (platform.icon) RegisterFileFormat("ico", "Icons", *platform.icon);
  RegisterFileFormat("bmp", "Bitmaps", ClassOf<TBitmap>());
}

void TPictureFormats::RegisterFileFormat(const std::string& extension,
                                         const std::string& description,
                                         const TGraphicClass& graphicClass) {
  records_.push_back({Lower(extension), description, &graphicClass});
}

void TPictureFormats::UnregisterGraphicClass(const TGraphicClass& graphicClass) {
  std::erase_if(records_, [&](const Record& r) { return r.graphicClass == &graphicClass; });
}

const TGraphicClass* TPictureFormats::FindClass(const std::string& extension) const {
  const std::string wanted = Lower(extension);
  for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
    if (it->extension == wanted) return it->graphicClass;
  }
  return nullptr;
}

TPictureFormats& PictureFormats() {
  static TPictureFormats formats = [] {
    PictureFormatsBuilt() = true;
    return ProcessPictureFormats();
  }();
  return formats;
}

TPicture::TPicture() : formats_(PictureFormats()) {
  FileFormatList();
}

std::unique_ptr<TGraphic> TPicture::NewGraphicFor(const std::string& fileName) const {
  const std::string extension = FileExtension(fileName);
  const TGraphicClass* graphicClass = formats_.FindClass(extension);
  if (!graphicClass) {
    throw EInvalidGraphic(FormatMessage("Unknown picture file extension (.%s)", extension.c_str()));
  }
  return graphicClass->Create();
}

void RequirePicture(const TGraphic& graphic) {
  if (graphic.IsEmpty()) throw EInvalidGraphic(graphic.NotValidMessage());
}

void TPicture::LoadFromFile(const std::string& fileName) {
  auto graphic = NewGraphicFor(fileName);
  graphic->LoadFile(fileName);
  RequirePicture(*graphic);
  graphic_ = std::move(graphic);
}

void TPicture::LoadFromStream(TStream& stream, const std::string& fileName) {
  auto graphic = NewGraphicFor(fileName);
  graphic->ReadFromStream(stream);
  RequirePicture(*graphic);
  graphic_ = std::move(graphic);
}

void TPicture::SetGraphic(const TGraphic* graphic) {
  if (!graphic) {
    graphic_.reset();
    return;
  }
  const TGraphicClass* graphicClass = FindGraphicClass(typeid(*graphic));
  if (!graphicClass) {
    throw EConvertError(
        FormatMessage("Cannot assign a %s to a %s", graphic->ClassName().c_str(), "TPicture"));
  }
  auto copy = graphicClass->Create();
  copy->TakeFrom(graphic);
  graphic_ = std::move(copy);
}

}  // namespace quorvex
