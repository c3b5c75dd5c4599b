#include "app/image_filter.h"

#include <algorithm>
#include <string>

#include "picture/file_format_list.h"

namespace quorvex {

namespace {

// The designed entries after "All images ", kept as they were written.
constexpr const char* kDesignedEntries =
    "|Bitmaps (*.bmp)|*.bmp"
    "|Encapsulated Postscript Images (*.eps)|*.eps"
    "|Ico Images (*.ico)|*.ico"
    "|Jpeg Images (*.jpg, *.jpeg, *.jpe)|*.jpg; *.jpeg; *.jpe"
    "|Portable Network Graphics (*.png)|*.png"
    "|Truevision Images (*.tga)|*.tga"
    "|Paintbrush Images (*.pcx, *.pcc)|*.pcx; *.pcc"
    "|Windows Metafiles (*.wmf, *.emf)|*.wmf; *.emf";

std::vector<std::string> RegisteredExtensions() {
  std::vector<std::string> extensions;
  FileFormatList().ListExtensions(extensions);
  return extensions;
}

}  // namespace

const std::vector<TFilterFamily>& FurtherFilterFamilies() {
  static const std::vector<TFilterFamily> families = {
      {"TIFF Images", {"tiff", "tif", "fax"}},
      {"Photoshop Images", {"psd", "pdd"}},
      {"SGI Images", {"sgi", "rgba", "rgb", "bw"}},
      {"Portable Map Images", {"ppm", "pgm", "pbm"}},
      {"Autodesk Images", {"cel", "pic"}},
      {"Dr. Halo Images", {"cut"}},
      {"Alias/Wavefront Images", {"rpf", "rla"}},
      {"Photo-CD Images", {"pcd"}},
      {"Paint Shop Pro Images", {"psp"}},
      {"GIF Images", {"gif"}},
      {"WebP Images", {"webp"}},
      {"HEIF/AVIF Images", {"heic", "heif", "avif"}},
      {"JPEG 2000 Images", {"jp2", "j2k", "jpf", "jpx"}},
      {"JPEG XL Images", {"jxl"}},
  };
  return families;
}

QString AllImagesMask() {
  QStringList patterns;
  for (const std::string& extension : RegisteredExtensions()) {
    patterns.push_back("*." + QString::fromStdString(extension));
  }
  return patterns.join(';');
}

QString ImageFilter() {
  const std::vector<std::string> registered = RegisteredExtensions();
  QString filter = "All images |" + AllImagesMask() + kDesignedEntries;
  for (const TFilterFamily& family : FurtherFilterFamilies()) {
    QStringList patterns;
    for (const char* extension : family.extensions) {
      if (std::find(registered.begin(), registered.end(), extension) != registered.end()) {
        patterns.push_back(QString("*.") + extension);
      }
    }
    if (patterns.isEmpty()) continue;
    filter +=
        "|" + QString(family.description) + " (" + patterns.join(", ") + ")|" + patterns.join("; ");
  }
  return filter;
}

}  // namespace quorvex
