#include "shell/picture_file.h"

#include "picture/bitmap.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"

namespace quorvex {

void LoadPictureFile(const std::string& fileName, TPicture& picture,
                     std::unique_ptr<TBitmap>& workingBitmap) {
  LoadPicture(fileName, picture, workingBitmap);
}

}  // namespace quorvex
