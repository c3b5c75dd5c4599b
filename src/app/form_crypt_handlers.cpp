// The main window's own handlers: start-up tail, page set-ups, enabling
// rules, code fields, stretch mode and closing.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QTextEdit>

#include "app/activity_log.h"
#include "app/current_directory.h"
#include "app/file_list_box.h"
#include "app/filter_combo_box.h"
#include "app/form_crypt.h"
#include "app/image.h"
#include "app/image_filter.h"
#include "shell/picture_file.h"
#include "picture/bitmap.h"
#include "widgets/flat_tab_control.h"

namespace quorvex {

namespace {
constexpr int kLogPanelHeight = 466;
constexpr const char* kSealSettingKey = "Action/SealWholeFiles";

// The user's settings file; QStandardPaths' test mode moves it aside.
QSettings UserSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, "quorvex", "quorvex");
}
}  // namespace

void TFormCrypt::FormShow() {
  DirLabel->setText(QString::fromStdString(GetCurrentDirectoryPath()));
  Tab->Bar()->setFocus();
  ActivityLog().WriteHeader();
}

void TFormCrypt::TabTabChanged() {
  switch (Tab->TabIndex()) {
    case kEncryptPage:
      SetLogPanelHeight(0);
      ImageOriginal->Clear();
      DecryptPanel->hide();
      Dbutton->hide();
      FilterComboBox1->setCurrentIndex(0);
      FileListBox1->SetMask(AllImagesMask());
      FileListBox1->ReRead();
      state_.filesChosen = false;
      state_.resultToSave = false;
      state_.previewOffered = true;
      ImageName->clear();
      FilterComboBox1->show();
      ClearPanes();
      break;
    case kDecryptPage:
      SetLogPanelHeight(0);
      ImageOriginal->Clear();
      DecryptPanel->show();
      Dbutton->show();
      FileListBox1->SetMask("Ecr_*.bmp");
      FileListBox1->SetMask(ShowAllFiles->isChecked() ? "*.bmp" : "Ecr_*.bmp");
      state_.filesChosen = false;
      state_.resultToSave = false;
      state_.previewOffered = false;
      ImageName->clear();
      FilterComboBox1->hide();
      ClearPanes();
      break;
    case kLogPage:
      SetLogPanelHeight(kLogPanelHeight);
      ClearPanes();
      break;
    default:
      break;
  }
  UpdateControlStates();
}

void TFormCrypt::Encrypt1Click() {
  Tab->SetTabIndex(kEncryptPage);
  TabTabChanged();
}

void TFormCrypt::Decrypt1Click() {
  Tab->SetTabIndex(kDecryptPage);
  TabTabChanged();
}

void TFormCrypt::ActivityLog1Click() {
  Tab->SetTabIndex(kLogPage);
  TabTabChanged();
}

void TFormCrypt::ShowAllFilesClick() {
  FileListBox1->SetMask(ShowAllFiles->isChecked() ? "*.bmp" : "Ecr_*.bmp");
}

void TFormCrypt::FileListBox1Click() {
  // No selection changes nothing.
  if (FileListBox1->SelCount() == 0) return;
  state_.filesChosen = true;
  state_.codesLocked = false;
  UpdateControlStates();
}

void TFormCrypt::FileListBox1Change() {
  state_.previewOffered = FileListBox1->ItemCount() > 0 && Tab->TabIndex() != kDecryptPage;
  UpdateControlStates();
}

void TFormCrypt::FileListBox1DblClick() {
  const std::string file = FileListBox1->CurrentFile();
  const size_t slash = file.find_last_of('/');
  ImageName->setText(DecodeFileName(slash == std::string::npos ? file : file.substr(slash + 1)));
  loadedFile_.clear();
  LoadPictureFile(FileListBox1->CurrentFile(), ImageOriginal->Picture(), WorkingBitmap);
  loadedFile_ = file;
  ImageOriginal->ShowDrawn(*WorkingBitmap);
  ClearPanes();
  state_.resultToSave = false;
  UpdateControlStates();
}

void TFormCrypt::UpdateControlStates() {
  const auto page = Tab->TabIndex();
  Ebutton->setEnabled(state_.filesChosen);
  Dbutton->setEnabled(state_.filesChosen);
  StopButton->setEnabled(RunTakingFiles());
  ButtonSave->setEnabled(state_.resultToSave);
  ButtonDecrypt->setEnabled(state_.pictureFromRun);
  FB_preview->setEnabled(state_.previewOffered);
  EditSeedEncrypt->setEnabled(!state_.codesLocked);
  EditSeedDecrypt->setEnabled(!state_.codesLocked);
  // The Log page offers both runs.
  EncryptImages1->setEnabled(state_.filesChosen && page != kDecryptPage);
  DecryptImages1->setEnabled(state_.filesChosen && page != kEncryptPage);
}

bool TFormCrypt::StopRequested() const {
  return StopLabel->text() != "0";
}

bool TFormCrypt::RunTakingFiles() const {
  return state_.running && !StopRequested();
}

bool TFormCrypt::EditNumericKeyPress(QKeyEvent* event) {
  // The usual editing shortcuts type nothing; what they paste is checked
  // by the field itself.
  for (const QKeySequence::StandardKey shortcut :
       {QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste,
        QKeySequence::Undo, QKeySequence::Redo}) {
    if (event->matches(shortcut)) return true;
  }
  // Editing and moving keys produce no character and pass.
  switch (event->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
      return true;
    default:
      break;
  }
  const QString text = event->text();
  if (text.isEmpty()) return true;
  for (const QChar c : text) {
    if (c < QChar('0') || c > QChar('9')) return false;
  }
  return true;
}

void TFormCrypt::RevealCodes1Click() {
  const bool reveal = !RevealCodes1->isChecked();
  const QLineEdit::EchoMode mode = reveal ? QLineEdit::Normal : QLineEdit::Password;
  EditSeedEncrypt->setEchoMode(mode);
  EditSeedDecrypt->setEchoMode(mode);
  RevealCodes1->setChecked(reveal);
}

bool TFormCrypt::SealingOn() const {
  return SealWholeFiles1->isChecked();
}

void TFormCrypt::SealWholeFiles1Click() {
  UserSettings().setValue(kSealSettingKey, SealingOn());
  ApplyCodeFilter();
}

void TFormCrypt::RestoreSealing() {
  SealWholeFiles1->setChecked(UserSettings().value(kSealSettingKey, false).toBool());
  ApplyCodeFilter();
}

void TFormCrypt::ApplyCodeFilter() {
  // Typed keys go through EditNumericKeyPress only while sealing is off;
  // pasted text through the validator.
  for (QLineEdit* edit : {EditSeedEncrypt, EditSeedDecrypt}) {
    const QValidator* old = edit->validator();
    edit->setValidator(SealingOn()
                           ? nullptr
                           : new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    delete old;
  }
}

void TFormCrypt::CheckBoxStretchClick() {
  const bool stretch = CheckBoxStretch->isChecked();
  for (TImage* pane : {ImageOriginal, ImageEncrypted, ImageDecrypted}) pane->SetStretch(stretch);
}

void TFormCrypt::Exit1Click() {
  close();
}

bool TFormCrypt::FormCloseQuery() {
  return services_.dialogs->Confirm(this, kExitQuestion);
}

void TFormCrypt::FB_previewClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  services_.pause->ProcessMessages();
  // The gallery loads as it opens and puts the normal cursor back itself;
  // when it never came up, that is done here.
  if (previewForm_) services_.dialogs->ExecModal(*previewForm_);
  if (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void TFormCrypt::PrinterSetup1Click() {
  services_.dialogs->PrinterSetup(this, Printer());
}

}  // namespace quorvex
