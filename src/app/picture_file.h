#pragma once

// Picture-file loading is shared with the viewer, so it lives in the shell library.
#include "shell/picture_file.h"
