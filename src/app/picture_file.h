#pragma once

#include <memory>
#include <string>

namespace quorvex {

class TBitmap;
class TPicture;

// Loads a picture file with the program's loader, recognised by content and
// then by extension: the one place where the windows read picture files.
// The picture container gets the picture, the working-bitmap slot a fresh
// bitmap of it; a failed load leaves the slot empty and raises the reader's
// error.
void LoadPictureFile(const std::string& fileName, TPicture& picture,
                     std::unique_ptr<TBitmap>& workingBitmap);

// Puts the icon and metafile classes of the platform library into the
// registry, once; whatever lists the registry's extensions asks first.
void InstallPlatformClasses();

}  // namespace quorvex
