#pragma once

#include <memory>

#include "app/about_box.h"
#include "app/directory_form.h"
#include "app/form_crypt.h"
#include "gallery/preview_form.h"
#include "shell/services.h"

namespace quorvex {

// The program's windows, created hidden in start-up order: the main window,
// the about box, the destination dialog, the gallery. They are destroyed in reverse.
struct TWindows {
  std::unique_ptr<TFormCrypt> FormCrypt;
  std::unique_ptr<TAboutBox> AboutBox;
  std::unique_ptr<TDirectoryForm> DirectoryForm;
  std::unique_ptr<TPreviewForm> PreviewForm;
};

TWindows CreateWindows(TServices services);

}  // namespace quorvex
