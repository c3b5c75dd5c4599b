#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picture/graphic_class.h"

namespace quorvex {

class TStream;
class TPictureFormats;

// The format registry: which class reads which extension, and in which order
// the readers are asked to recognise a file by its content.
class TFileFormatList {
 public:
  struct TClassEntry {
    const TGraphicClass* graphicClass = nullptr;
    std::string description;
    int count = 0;  // extensions that refer to this entry
  };
  struct TExtensionEntry {
    std::string extension;  // as registered: lower case, no dot
    std::string description;
    TClassEntry* classEntry = nullptr;
  };

  // Every extension is also registered with this container registry.
  explicit TFileFormatList(TPictureFormats& pictureFormats);
  TFileFormatList(const TFileFormatList&) = delete;
  TFileFormatList& operator=(const TFileFormatList&) = delete;

  // EInvalidGraphic "Attempt to register %s twice." for a known extension
  // unless replace is set. An empty extension does nothing.
  void AddFormat(const std::string& extension, const std::string& classDescription,
                 const std::string& extensionDescription, bool replace,
                 const TGraphicClass& graphicClass);
  // With an extension: drops that extension (an unknown one does nothing).
  // Without: drops the class. A class that loses its last extension also
  // leaves the container registry.
  void RemoveFormat(const std::optional<std::string>& extension, const TGraphicClass& graphicClass);
  // Every registered extension, in registration order.
  void ListExtensions(std::vector<std::string>& list) const;

  // The first reader, in class-list order, whose content test accepts the
  // file; null when none does. EFOpenError "Cannot open file %s" when the
  // file cannot be opened.
  const TGraphicClass* DetectReader(const std::string& fileName) const;
  // The same from the stream's current position, which is kept.
  const TGraphicClass* DetectReader(TStream& stream) const;

  const std::vector<std::unique_ptr<TExtensionEntry>>& Extensions() const { return extensions_; }
  const std::vector<std::unique_ptr<TClassEntry>>& Classes() const { return classes_; }

  // Registers the rows of the built-in classes and of every reader the build
  // holds, in table order.
  void RegisterStartupFormats();
  // What the program does at shutdown: drops the reader classes and the
  // extensions rle and dib again.
  void UnregisterAtShutdown();
  // Forgets every extension and class (the container registry is left alone).
  void Clear();

 private:
  TClassEntry& ClassEntryFor(const TGraphicClass& graphicClass);
  void Release(TClassEntry* entry);
  void RemoveClassEntry(TClassEntry* entry);

  TPictureFormats& pictureFormats_;
  std::vector<std::unique_ptr<TExtensionEntry>> extensions_;
  std::vector<std::unique_ptr<TClassEntry>> classes_;
};

// The process-wide registry, filled on first use (start-up) and emptied of
// its readers and of rle and dib when the process ends.
TFileFormatList& FileFormatList();
// Empties the process-wide registry, if it was built, and registers the
// start-up formats again.
void RebuildFileFormatList();

}  // namespace quorvex
