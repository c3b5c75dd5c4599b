#include "app/windows.h"

namespace quorvex {

TWindows CreateWindows(TServices services) {
  TWindows windows;
  windows.FormCrypt = std::make_unique<TFormCrypt>(services);
  windows.AboutBox = std::make_unique<TAboutBox>(*services.shell);
  windows.DirectoryForm = std::make_unique<TDirectoryForm>();
  windows.FormCrypt->SetCompanions(windows.AboutBox.get(), windows.DirectoryForm.get(), nullptr);
  return windows;
}

}  // namespace quorvex
