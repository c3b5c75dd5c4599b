#pragma once

namespace quorvex {

// Hands the icon and metafile classes over to the picture library's
// registries. Each program that links this library calls it once at
// start-up, before it reads any picture.
void InstallPlatformGraphics();

}  // namespace quorvex
