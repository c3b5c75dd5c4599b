#pragma once

// The dialogs seam is shared with the viewer and the gallery, so it lives in the shell library.
#include "shell/services.h"
