#include "picture/file_format_list.h"

#include <algorithm>
#include <cctype>

#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/jpeg_image.h"
#include "picture/picture.h"
#include "picture/stream.h"

// Each reader registers its own rows through a function
// `void RegisterXFormats(TFileFormatList&)` in its own file. A reader joins
// the registry with one line here, placed by its first row of the
// registration table, so that the rows keep the table's relative order.
#define QUORVEX_READER_REGISTRATIONS(X) \
  X(RegisterTargaFormats)               \
  X(RegisterTIFFFormats)                \
  X(RegisterEPSFormats)                 \
  X(RegisterPCXFormats)                 \
  X(RegisterRLAFormats)                 \
  X(RegisterSGIFormats)                 \
  X(RegisterPSDFormats)                 \
  X(RegisterPPMFormats)                 \
  X(RegisterAutodeskFormats)            \
  X(RegisterPCDFormats)                 \
  X(RegisterCUTFormats)                 \
  X(RegisterPSPFormats)                 \
  X(RegisterPNGFormats)                 \
  X(RegisterGIFFormats)                 \
  X(RegisterWebPFormats)

namespace quorvex {

#define QUORVEX_DECLARE_REGISTRATION(function) void function(TFileFormatList& list);
QUORVEX_READER_REGISTRATIONS(QUORVEX_DECLARE_REGISTRATION)
#undef QUORVEX_DECLARE_REGISTRATION

namespace {

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

TFileFormatList::TFileFormatList(TPictureFormats& pictureFormats)
    : pictureFormats_(pictureFormats) {}

TFileFormatList::TClassEntry& TFileFormatList::ClassEntryFor(const TGraphicClass& graphicClass) {
  for (auto& entry : classes_) {
    if (entry->graphicClass == &graphicClass) return *entry;
  }
  classes_.push_back(std::make_unique<TClassEntry>(TClassEntry{&graphicClass, "", 0}));
  return *classes_.back();
}

void TFileFormatList::RemoveClassEntry(TClassEntry* entry) {
  pictureFormats_.UnregisterGraphicClass(*entry->graphicClass);
  std::erase_if(classes_, [&](const auto& e) { return e.get() == entry; });
}

void TFileFormatList::Release(TClassEntry* entry) {
  if (--entry->count <= 0) RemoveClassEntry(entry);
}

void TFileFormatList::AddFormat(const std::string& extension, const std::string& classDescription,
                                const std::string& extensionDescription, bool replace,
                                const TGraphicClass& graphicClass) {
  if (extension.empty()) return;
  const auto found = std::find_if(extensions_.begin(), extensions_.end(),
                                  [&](const auto& e) { return SameText(e->extension, extension); });
  TClassEntry* classEntry = nullptr;
  if (found == extensions_.end()) {
    auto entry = std::make_unique<TExtensionEntry>(
        TExtensionEntry{extension, extensionDescription, nullptr});
    classEntry = &ClassEntryFor(graphicClass);
    if (!classDescription.empty()) classEntry->description = classDescription;
    ++classEntry->count;
    entry->classEntry = classEntry;
    extensions_.push_back(std::move(entry));
  } else if (!replace) {
    throw EInvalidGraphic(FormatMessage("Attempt to register %s twice.", extension.c_str()));
  } else {
    TExtensionEntry& entry = **found;
    classEntry = entry.classEntry;
    if (classEntry->graphicClass != &graphicClass) {
      TClassEntry* old = classEntry;
      classEntry = &ClassEntryFor(graphicClass);
      if (!classDescription.empty()) classEntry->description = classDescription;
      ++classEntry->count;
      entry.classEntry = classEntry;
      Release(old);
    }
  }
  pictureFormats_.RegisterFileFormat(
      extension, extensionDescription.empty() ? classEntry->description : extensionDescription,
      graphicClass);
}

void TFileFormatList::RemoveFormat(const std::optional<std::string>& extension,
                                   const TGraphicClass& graphicClass) {
  if (extension) {
    const auto found = std::find_if(extensions_.begin(), extensions_.end(), [&](const auto& e) {
      return SameText(e->extension, *extension);
    });
    if (found == extensions_.end()) return;
    TClassEntry* classEntry = (*found)->classEntry;
    extensions_.erase(found);
    Release(classEntry);
    return;
  }
  const auto found = std::find_if(classes_.begin(), classes_.end(),
                                  [&](const auto& e) { return e->graphicClass == &graphicClass; });
  if (found == classes_.end()) {
    pictureFormats_.UnregisterGraphicClass(graphicClass);
    return;
  }
  TClassEntry* classEntry = found->get();
  // Extensions of a removed class must not keep pointing at it.
  std::erase_if(extensions_, [&](const auto& e) { return e->classEntry == classEntry; });
  RemoveClassEntry(classEntry);
}

void TFileFormatList::ListExtensions(std::vector<std::string>& list) const {
  list.clear();
  for (const auto& entry : extensions_) list.push_back(entry->extension);
}

const TGraphicClass* TFileFormatList::DetectReader(const std::string& fileName) const {
  TFileStream stream(fileName, TFileStream::Mode::OpenRead);
  return DetectReader(stream);
}

const TGraphicClass* TFileFormatList::DetectReader(TStream& stream) const {
  for (const auto& entry : classes_) {
    if (entry->graphicClass->IsReader() && entry->graphicClass->AcceptsStream(stream)) {
      return entry->graphicClass;
    }
  }
  return nullptr;
}

void TFileFormatList::RegisterStartupFormats() {
  const TGraphicClass& bitmap = ClassOf<TBitmap>();
  const TPlatformClasses platform = PlatformClasses();
  AddFormat("bmp", "Windows bitmaps", "Windows bitmaps", false, bitmap);
  if (platform.icon) AddFormat("ico", "Windows icons", "Windows icons", false, *platform.icon);
  if (platform.metafile) {
    AddFormat("wmf", "Windows metafiles", "Windows metafiles", false, *platform.metafile);
    AddFormat("emf", "Windows metafiles", "Windows enhanced meta files", false, *platform.metafile);
  }
  RegisterJPEGFormats(*this);
  AddFormat("rle", "Windows bitmaps", "Run length encoded Windows bitmaps", false, bitmap);
  AddFormat("dib", "", "Device independant Windows bitmaps", false, bitmap);
#define QUORVEX_CALL_REGISTRATION(function) function(*this);
  QUORVEX_READER_REGISTRATIONS(QUORVEX_CALL_REGISTRATION)
#undef QUORVEX_CALL_REGISTRATION
}

void TFileFormatList::UnregisterAtShutdown() {
  std::vector<const TGraphicClass*> readers;
  for (const auto& entry : classes_) {
    if (entry->graphicClass->IsReader()) readers.push_back(entry->graphicClass);
  }
  for (const TGraphicClass* reader : readers) RemoveFormat(std::nullopt, *reader);
  RemoveFormat("rle", ClassOf<TBitmap>());
  RemoveFormat("dib", ClassOf<TBitmap>());
}

void TFileFormatList::Clear() {
  extensions_.clear();
  classes_.clear();
}

namespace {

// Empties the registry of its readers when the process ends, as shutdown
// does; the container registry it feeds outlives it.
struct ProcessRegistry {
  ProcessRegistry() : list(PictureFormats()) {
    list.RegisterStartupFormats();
    built = true;
  }
  ~ProcessRegistry() { list.UnregisterAtShutdown(); }
  TFileFormatList list;
  static inline bool built = false;
};

}  // namespace

TFileFormatList& FileFormatList() {
  static ProcessRegistry registry;
  return registry.list;
}

void RebuildFileFormatList() {
  if (!ProcessRegistry::built) return;
  FileFormatList().Clear();
  FileFormatList().RegisterStartupFormats();
}

}  // namespace quorvex
