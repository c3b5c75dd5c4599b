// The main window's browsing, destination, help, viewer, web and about
// handlers.
#include <QDialog>
#include <QLabel>
#include <filesystem>

#include "app/about_box.h"
#include "app/current_directory.h"
#include "app/directory_form.h"
#include "app/directory_list_box.h"
#include "app/directory_outline.h"
#include "app/drive_combo_box.h"
#include "app/file_list_box.h"
#include "app/form_crypt.h"
#include "app/links.h"

namespace quorvex {

void TFormCrypt::DriveComboBox1Change() {
  DirectoryOutline1->SetDrive(DriveComboBox1->Drive());
}

void TFormCrypt::DirectoryOutline1Change() {
  FileListBox1->SetDirectory(DirectoryOutline1->Directory());
}

void TFormCrypt::DestinationDirectory1Click() {
  if (!directoryForm_) return;
  if (services_.dialogs->ExecModal(*directoryForm_) != QDialog::Accepted) return;
  setWindowTitle(kCustomDestinationCaption);
  // The folder the dialog shows: browsing elsewhere may have moved the
  // process's current folder since.
  DirLabel->setText(QString::fromStdString(directoryForm_->DirectoryListBox1->Directory()));
}

void TFormCrypt::FlatSpeedButton2Click() {
  DestinationDirectory1Click();
}

void TFormCrypt::Help1Click() {
  const QString folder = ProgramFolder();
  const QString help = folder + kHelpFileName;
  if (std::filesystem::exists(help.toStdString())) {
    services_.shell->OpenDocument(help, folder);
  } else {
    services_.dialogs->Inform(this, kHelpMissing);
  }
}

void TFormCrypt::ImageOriginalDblClick() {
  LaunchViewer(QString::fromStdString(DirectoryOutline1->Directory()) + "/" + ImageName->text());
}

void TFormCrypt::LaunchViewer(const QString& path) {
  const QString folder = ProgramFolder();
  // The bare name resolves against the process's current directory.
  const std::string name = ImageName->text().toStdString();
  std::error_code error;
  if (name.empty() || !std::filesystem::exists(name, error)) return;
  services_.shell->StartProgram(folder + kViewerName, {path}, folder);
}

void TFormCrypt::TallowenWebSite1Click() {
  services_.shell->OpenUrl(kHomePageUrl);
}

void TFormCrypt::OnLineSupport1Click() {
  services_.shell->OpenUrl(kSupportUrl);
}

void TFormCrypt::About2Click() {
  if (aboutBox_) services_.dialogs->ExecModal(*aboutBox_);
}

}  // namespace quorvex
