#pragma once

#include <memory>
#include <string>
#include <vector>

#include "picture/graphic.h"
#include "picture/graphic_class.h"

namespace quorvex {

class TStream;

// The platform graphics (icons, metafiles) live in a library of their own,
// which this one does not depend on. A program that links it hands their
// classes over once at start-up (InstallPlatformGraphics). Until then their
// rows and records are absent. Handing them over after the process-wide
// registries were built rebuilds both, so the rows still come in table
// order (formats registered by hand in between are dropped).
struct TPlatformClasses {
  const TGraphicClass* icon = nullptr;
  const TGraphicClass* metafile = nullptr;
};
void SetPlatformClasses(const TPlatformClasses& classes);
TPlatformClasses PlatformClasses();

// The picture container's own registry: which graphic class loads which
// extension. Later records win.
class TPictureFormats {
 public:
  struct Record {
    std::string extension;  // lower case, no dot
    std::string description;
    const TGraphicClass* graphicClass = nullptr;
  };

  // Starts with the built-in records: wmf and emf (TMetafile), ico (TIcon),
  // bmp (TBitmap); classes the build does not hold are left out.
  TPictureFormats();

  void RegisterFileFormat(const std::string& extension, const std::string& description,
                          const TGraphicClass& graphicClass);
  // Withdraws every record of the class.
  void UnregisterGraphicClass(const TGraphicClass& graphicClass);
  // The class of the last record with this extension (any case, no dot).
  const TGraphicClass* FindClass(const std::string& extension) const;
  const std::vector<Record>& Records() const { return records_; }

 private:
  std::vector<Record> records_;
};

// The process-wide container registry, made on first use: the built-in
// records, then the JPEG wrapper's.
TPictureFormats& PictureFormats();

// Raises the graphic's own EInvalidGraphic message when it holds no picture:
// a load that yields nothing is a failure, never an empty success.
void RequirePicture(const TGraphic& graphic);

// Holds one graphic, loaded by extension or set as a copy of another.
class TPicture {
 public:
  // Over the process-wide registry, with the format registry's start-up
  // registrations made.
  TPicture();
  explicit TPicture(TPictureFormats& formats) : formats_(formats) {}
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // Loads by the extension of the file name; the current graphic is
  // replaced only once the new one has loaded, and a load that yields an
  // empty graphic fails (RequirePicture). Unknown extensions fail with
  // EInvalidGraphic "Unknown picture file extension (.%s)".
  void LoadFromFile(const std::string& fileName);
  // The same from a stream; the file name gives only the extension.
  void LoadFromStream(TStream& stream, const std::string& fileName);
  // Stores a copy: a new instance of the graphic's class that takes its
  // content. No graphic empties the container.
  void SetGraphic(const TGraphic* graphic);

  TGraphic* Graphic() const { return graphic_.get(); }
  int32_t Width() const { return graphic_ ? graphic_->ImageWidth() : 0; }
  int32_t Height() const { return graphic_ ? graphic_->ImageHeight() : 0; }

 private:
  std::unique_ptr<TGraphic> NewGraphicFor(const std::string& fileName) const;

  TPictureFormats& formats_;
  std::unique_ptr<TGraphic> graphic_;
};

// The extension of a path's file name as the container reads it: the text
// after the last dot, without the dot; empty when the name has no dot.
std::string FileExtension(const std::string& fileName);

}  // namespace quorvex
