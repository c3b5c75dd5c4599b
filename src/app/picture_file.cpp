#include "app/picture_file.h"

#include "picture/bitmap.h"
#include "picture/graphic_class.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/platform/platform_graphics.h"

namespace quorvex {

void InstallPlatformClasses() {
  // Icons and metafiles are drawn by the platform library this program links.
  static const bool platformClasses = [] {
    SetPlatformClasses({&ClassOf<TIcon>(), &ClassOf<TMetafile>()});
    return true;
  }();
  (void)platformClasses;
}

void LoadPictureFile(const std::string& fileName, TPicture& picture,
                     std::unique_ptr<TBitmap>& workingBitmap) {
  InstallPlatformClasses();
  LoadPicture(fileName, picture, workingBitmap);
}

}  // namespace quorvex
