#include "app/windows.h"

#include "app/current_directory.h"
#include "app/directory_outline.h"
#include "shell/application.h"

namespace quorvex {

TWindows CreateWindows(TServices services) {
  EnsureCurrentDirectory();
  TWindows windows;
  windows.FormCrypt = std::make_unique<TFormCrypt>(services);
  windows.AboutBox = std::make_unique<TAboutBox>(*services.shell);
  windows.DirectoryForm = std::make_unique<TDirectoryForm>();
  TFormCrypt* form = windows.FormCrypt.get();
  windows.PreviewForm = std::make_unique<TPreviewForm>(
      services, [form] { return form->ShownFolder(); }, form);
  windows.PreviewForm->SetErrorReport([](const std::exception& error) { HandleException(error); });
  windows.FormCrypt->SetCompanions(windows.AboutBox.get(), windows.DirectoryForm.get(),
                                   windows.PreviewForm.get());
  return windows;
}

}  // namespace quorvex
