// The main window's browsing, destination, help, viewer, web and about
// handlers.
#include <QDialog>
#include <QLabel>
#include <QListWidgetItem>
#include <QPushButton>
#include <filesystem>

#include "app/about_box.h"
#include "shell/application.h"
#include "app/current_directory.h"
#include "app/directory_form.h"
#include "app/directory_list_box.h"
#include "app/directory_outline.h"
#include "app/drive_combo_box.h"
#include "app/file_list_box.h"
#include "app/form_crypt.h"
#include "app/links.h"
#include "widgets/flat_tab_control.h"

namespace quorvex {

void TFormCrypt::DriveComboBox1Change() {
  DirectoryOutline1->SetDrive(DriveComboBox1->Drive());
}

void TFormCrypt::DirectoryOutline1Change() {
  FileListBox1->SetDirectory(DirectoryOutline1->Directory());
}

void TFormCrypt::Refresh1Click() {
  // A run works through the list it started with.
  if (RunTakingFiles()) return;
  const std::string before = DirectoryOutline1->Directory();
  DirectoryOutline1->Refresh();
  // A folder that went away has already brought the list to its parent.
  if (DirectoryOutline1->Directory() == before) FileListBox1->ReRead();
}

void TFormCrypt::NextPage(int step) {
  constexpr int kPages = 3;
  Tab->SetTabIndex((Tab->TabIndex() + step + kPages) % kPages);
  TabTabChanged();
}

void TFormCrypt::OpenFiles(const std::vector<std::string>& paths) {
  namespace fs = std::filesystem;
  std::string folder;
  std::vector<QString> names;
  for (const std::string& given : paths) {
    std::error_code error;
    const fs::path path = fs::absolute(given, error);
    if (error || !fs::is_regular_file(path, error)) continue;
    const std::string parent = path.parent_path().native();
    if (folder.empty()) folder = parent;
    if (parent == folder) names.push_back(DecodeFileName(path.filename().native()));
  }
  if (folder.empty()) return;
  if (Tab->TabIndex() == kLogPage) Encrypt1Click();
  DirectoryOutline1->SetDirectory(folder);
  DriveComboBox1->ShowDrive(DirectoryOutline1->Drive());
  // Read again even when the folder was shown already: the files may be new.
  if (FileListBox1->Directory() == DirectoryOutline1->Directory()) {
    FileListBox1->ReRead();
  } else {
    FileListBox1->SetDirectory(DirectoryOutline1->Directory());
  }
  int focused = -1;
  for (const QString& name : names) {
    for (int row = 0; row < FileListBox1->ItemCount(); ++row) {
      if (FileListBox1->ItemName(row) != name || FileListBox1->IsSelected(row)) continue;
      FileListBox1->item(row)->setSelected(true);
      if (focused < 0) focused = row;
      break;
    }
  }
  if (focused < 0) return;
  FileListBox1->setCurrentRow(focused, QItemSelectionModel::NoUpdate);
  FileListBox1->scrollToItem(FileListBox1->item(focused));
  FileListBox1->setFocus();
  FileListBox1DblClick();
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
  LaunchViewer(DecodeFileName(DirectoryOutline1->Directory()) + "/" + ImageName->text());
}

void TFormCrypt::LaunchViewer(const QString& path) {
  const QString folder = ProgramFolder();
  // The bare name resolves against the process's current directory.
  const std::string name = EncodeFileName(ImageName->text());
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
