#include "picture/platform/install_platform_graphics.h"

#include "picture/graphic_class.h"
#include "picture/picture.h"
#include "picture/platform/platform_graphics.h"

namespace quorvex {

void InstallPlatformGraphics() {
  SetPlatformClasses({&ClassOf<TIcon>(), &ClassOf<TMetafile>()});
}

}  // namespace quorvex
