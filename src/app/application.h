#pragma once

// Application set-up is shared with the viewer, so it lives in the shell library.
#include "shell/application.h"
