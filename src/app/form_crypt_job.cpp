// The window's work: the single-image operations and the batch runs.
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <exception>
#include <filesystem>

#include "app/activity_log.h"
#include "app/current_directory.h"
#include "app/directory_outline.h"
#include "app/file_list_box.h"
#include "app/form_crypt.h"
#include "app/image.h"
#include "core/batch_step.h"
#include "core/output_names.h"
#include "core/transform.h"
#include "picture/bitmap.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/stream.h"
#include "widgets/flat_gauge.h"
#include "widgets/flat_tab_control.h"
#include "widgets/led.h"

namespace quorvex {

namespace {

constexpr int kStepPause = 650;

// A failed load leaves no working bitmap; the transforms then see an empty
// one and fail as they do on any empty picture.
const TBitmap& SourceOf(const std::unique_ptr<TBitmap>& bitmap) {
  static const TBitmap empty;
  return bitmap ? *bitmap : empty;
}

QString FileNamePart(const QString& path) {
  const int slash = path.lastIndexOf('/');
  return slash < 0 ? path : path.mid(slash + 1);
}

QString ReplaceQuestion(const QString& path) {
  return QString("%1 already exists.\nDo you want to replace it?").arg(FileNamePart(path));
}

}  // namespace

void TFormCrypt::DecryptStep() {
  TBitmap decrypted;
  DecryptTransform(SourceOf(WorkingBitmap), EditSeedDecrypt->text().toStdString(), decrypted);
  ImageDecrypted->SetGraphic(decrypted);
}

void TFormCrypt::ButtonDecryptClick() {
  if (!loadedFile_.empty() && IsSealedFile(loadedFile_)) {
    UnsealLoadedFile();
  } else {
    // A code the transform would replace by its fallback seed is refused.
    CheckCode(EditSeedDecrypt->text().toStdString());
    DecryptStep();
  }
  state_.resultToSave = true;
  UpdateControlStates();
}

void TFormCrypt::UnsealLoadedFile() {
  ImageDecrypted->Clear();
  restored_.reset();
  TUnsealer unsealer(EditSeedDecrypt->text().toStdString());
  TFileStream in(loadedFile_, TFileStream::Mode::OpenRead);
  TUnsealer::TOpened opened = unsealer.Open(in);
  TMemoryStream content;
  opened.CopyContent(content);
  TRestoredFile file{
      SafeStoredName(opened.Info().name,
                     DecryptedOutputName(loadedFile_.substr(loadedFile_.find_last_of('/') + 1))),
      content.Bytes(), opened.Info()};
  // Any file can be sealed; only pictures the program reads are shown.
  try {
    TPicture picture;
    std::unique_ptr<TBitmap> drawn;
    LoadPictureFromMemory(file.bytes.data(), file.bytes.size(), file.name, picture, drawn);
    if (drawn) ImageDecrypted->SetGraphic(*drawn);
  } catch (const std::exception&) {
    ImageDecrypted->Clear();
  }
  restored_ = std::move(file);
}

namespace {
// Larger files are sealed as usual but not shown in the pane.
constexpr uint64_t kShownSealLimit = uint64_t{64} << 20;
}  // namespace

void TFormCrypt::ShowSealed(const std::string& source, const TBatchOutcome& outcome) {
  sealed_.reset();
  // A written output is read back: in delete mode the source is gone.
  const std::string shown =
      outcome.written ? JoinPath(DirLabel->text().toStdString(), outcome.outputName) : source;
  std::error_code error;
  if (std::filesystem::file_size(shown, error) > kShownSealLimit || error) return;
  std::vector<uint8_t> bytes;
  if (outcome.written) {
    TFileStream in(shown, TFileStream::Mode::OpenRead);
    bytes.resize(static_cast<size_t>(in.Size()));
    in.ReadBuffer(bytes.data(), bytes.size());
  } else {
    const std::string passphrase = EditSeedEncrypt->text().toStdString();
    if (!paneSealer_ || paneSealerPassphrase_ != passphrase) {
      paneSealer_ = std::make_unique<TSealer>(passphrase);
      paneSealerPassphrase_ = passphrase;
    }
    TMemoryStream out;
    paneSealer_->SealFileTo(source, out);
    bytes = out.Bytes();
  }
  TPicture picture;
  std::unique_ptr<TBitmap> noise;
  LoadPictureFromMemory(bytes.data(), bytes.size(), "sealed.bmp", picture, noise);
  ImageEncrypted->SetGraphic(*noise);
  sealed_ = std::move(bytes);
  state_.resultToSave = true;
  UpdateControlStates();
}

void TFormCrypt::SaveSingle(bool encrypt, TDialogs::SaveOptions options,
                            const std::function<void(const QString&)>& write) {
  options.directory = SavePictureDialogFolder;
  // The question below is asked instead, so that the user is asked once.
  options.confirmOverwrite = false;
  const std::optional<QString> chosen = services_.dialogs->SaveFileName(this, options);
  if (!chosen) return;
  if (QFileInfo::exists(*chosen) && !services_.dialogs->Confirm(this, ReplaceQuestion(*chosen))) {
    return;
  }
  // A restored original keeps its own name out of the next picture's save.
  if (!restored_ || encrypt) SavePictureDialogFileName = *chosen;

  TActivityLog& log = ActivityLog();
  log.Add("");
  log.SetColor(encrypt ? log_colors::kPurple : log_colors::kMaroon);
  log.Add(QString(" SINGLE IMAGE (%1) SAVED ON ").arg(encrypt ? "ENCRYPTION" : "DECRYPTION") +
          LogDate() + " AT " + LogTime());
  write(*chosen);
  log.Add((encrypt ? " Encrypted file name:  " : " Decrypted file name:  ") +
          FileNamePart(*chosen));
  log.Add(" Image saved successfuly.");
  log.Add("");
  FileListBox1->ReRead();
}

void TFormCrypt::WritePicture(const TGraphic& graphic, const QString& path) {
  pictureWriter_(graphic, path.toStdString(), TExistingFile::Replace);
}

void TFormCrypt::ButtonSaveClick() {
  const int page = Tab->TabIndex();
  if (page != kEncryptPage && page != kDecryptPage) return;
  const bool encrypt = page == kEncryptPage;
  TDialogs::SaveOptions options;
  options.filter = "Bitmaps (*.bmp)";
  options.defaultSuffix = "BMP";
  if (encrypt) {
    SavePictureDialogFileName =
        QString::fromStdString(EncryptedOutputName(ImageName->text().toStdString()));
  }
  options.fileName = SavePictureDialogFileName;

  if (!encrypt && restored_) {
    // The original file, byte for byte, under its own name.
    options.fileName = QString::fromStdString(restored_->name);
    options.filter = "All files (*)";
    options.defaultSuffix.clear();
    SaveSingle(encrypt, options, [&](const QString& path) {
      TFileAttributes attributes;
      attributes.permissions = restored_->info.permissions & 0777;
      attributes.modified = restored_->info.modified;
      const std::vector<uint8_t>& bytes = restored_->bytes;
      WriteFileAtomically(
          EncodeFileName(path), [&](TStream& out) { out.WriteBuffer(bytes.data(), bytes.size()); },
          TExistingFile::Replace, attributes);
    });
    return;
  }
  if (encrypt && sealed_) {
    SaveSingle(encrypt, options, [&](const QString& path) {
      const std::vector<uint8_t>& bytes = *sealed_;
      WriteFileAtomically(EncodeFileName(path),
                          [&](TStream& out) { out.WriteBuffer(bytes.data(), bytes.size()); });
    });
    return;
  }
  const TGraphic* picture = encrypt ? EncryptedBitmap.get() : ImageDecrypted->Graphic();
  // With nothing to write there is no save to report.
  if (!picture) return;
  options.picturePreview = true;
  SaveSingle(encrypt, options, [&](const QString& path) { WritePicture(*picture, path); });
}

void TFormCrypt::EbuttonClick() {
  BatchRun(true);
}

void TFormCrypt::DbuttonClick() {
  BatchRun(false);
}

void TFormCrypt::StopButtonClick() {
  StopLabel->setText("1");
  UpdateControlStates();
}

void TFormCrypt::BatchRun(bool encrypt) {
  QString errorWord = "without";
  const QString what = encrypt ? "encryption" : "decryption";
  const QString code = (encrypt ? EditSeedEncrypt : EditSeedDecrypt)->text();
  const bool sealing = SealingOn();
  if (encrypt && sealing) {
    CheckSealPassphrase(code.toStdString());
  } else if (encrypt || (!sealing && SelectionHasPictures())) {
    // Files made with a code the transforms cannot use could not be
    // restored by typing it again. Sealed sources take any passphrase.
    CheckCode(code.toStdString());
  }
  const QString sealClause =
      !sealing  ? QString()
      : encrypt ? QString(" Files are sealed whole with your passphrase.  \n")
                : QString(" Sealed files are restored as their original files.  \n");
  const QString question = " \n You are about to initiate " + what + " process.   \n" + sealClause +
                           " Your " + what + " code is set to " + code +
                           ".  \n\n Do you want to proceed?";
  if (!services_.dialogs->Confirm(this, question)) return;

  const TBatchMode mode = EncryptAndSave->isChecked()     ? TBatchMode::Save
                          : EncryptAndDelete->isChecked() ? TBatchMode::Delete
                                                          : TBatchMode::TestOnly;
  TBatchRun run(encrypt, mode, DirLabel->text().toStdString());
  run.SetWriter(pictureWriter_);
  run.SetSealing(encrypt && sealing);
  if (mode != TBatchMode::TestOnly && !AllowReplacing(run)) return;

  if (!encrypt) state_.resultToSave = false;
  FlatGauge1->SetProgress(0);
  SavePictureDialogFolder = QString::fromStdString(DirectoryOutline1->Directory());
  FlatGauge1->SetMaxValue(FileListBox1->SelCount());
  StopLabel->setText("0");
  state_.running = true;
  UpdateControlStates();

  const QColor color = encrypt ? log_colors::kNavy : log_colors::kGreen;
  TActivityLog& log = ActivityLog();
  log.Add("");
  log.SetColor(color);
  log.Add(QString(" BATCH IMAGE %1 STARTED ON ").arg(encrypt ? "ENCRYPTION" : "DECRYPTION") +
          LogDate() + " at " + LogTime());
  const char* modeLine =
      mode == TBatchMode::Save ? (encrypt ? " Encryption Mode: Encrypt and Save Original"
                                          : " Decryption Mode: Decrypt and Save")
      : mode == TBatchMode::Delete
          ? (encrypt ? " Encryption Mode: Encrypt and Delete Original"
                     : " Decryption Mode: Decrypt and Delete Original")
          : (encrypt ? " Encryption Mode: Test Only" : " Decryption Mode: Test Only");
  log.Add(modeLine);
  if (sealing) {
    log.Add(encrypt ? " Files are sealed whole (passphrase encryption)."
                    : " Sealed files are unsealed to their original files.");
  }
  Led1->SetLit(true);

  const int count = FileListBox1->ItemCount();
  for (int p = 0; p < count; ++p) {
    // A list read again during the run may have become shorter.
    if (p >= FileListBox1->ItemCount()) break;
    if (!FileListBox1->IsSelected(p)) continue;
    if (StopLabel->text() != "0") continue;
    FileListBox1->setCurrentRow(p, QItemSelectionModel::NoUpdate);
    QString failure;
    QString name = ImageName->text();
    try {
      const TBatchOutcome outcome = BatchFileStep(run, encrypt, p);
      failure = QString::fromStdString(outcome.error);
      name = FileNamePart(QString::fromStdString(outcome.source));
    } catch (const std::exception& error) {
      failure = QString::fromStdString(error.what());
    }
    if (failure.isEmpty()) continue;
    errorWord = "with";
    log.SetColor(log_colors::kRed);
    log.Add(" ERROR (" + failure + ") while processing " + name);
    state_.pictureFromRun = false;
    state_.codesLocked = true;
    if (!encrypt) state_.resultToSave = false;
    UpdateControlStates();
  }

  if (!EncryptOnly->isChecked()) FileListBox1->ReRead();
  const bool stopped = StopLabel->text() == "1";
  if (encrypt) {
    services_.dialogs->Inform(this, stopped
                                        ? "    Execution stoped on user request!    "
                                        : "                  Encryption complete!               ");
  } else {
    services_.dialogs->Inform(this, stopped ? "   Execution stoped on user request!   "
                                            : "             Decryption complete!             ");
  }
  state_.running = false;
  UpdateControlStates();
  log.SetColor(color);
  log.Add(" Total image count selected: " + QString::number(FlatGauge1->MaxValue()));
  log.Add((encrypt ? " Total image count encrypted: " : " Total image count decrypted: ") +
          QString::number(FlatGauge1->Progress()));
  log.Add(" Finish time: " + LogTime());
  if (stopped) {
    log.SetColor(log_colors::kRed);
    log.Add(encrypt ? " Encryption was interupted on user request!"
                    : " Decryption was interupted on user request!");
  } else {
    log.Add((encrypt ? " Encryption completed " : " Decryption completed ") + errorWord +
            " errors.");
  }
  log.Add("");
  FlatGauge1->SetProgress(0);
  Led1->SetLit(false);
}

bool TFormCrypt::SelectionHasPictures() const {
  for (int p = 0; p < FileListBox1->ItemCount(); ++p) {
    if (!FileListBox1->IsSelected(p)) continue;
    const std::string path =
        JoinPath(FileListBox1->Directory(), EncodeFileName(FileListBox1->ItemName(p)));
    if (!IsSealedFile(path)) return true;
  }
  return false;
}

bool TFormCrypt::AllowReplacing(TBatchRun& run) {
  std::vector<std::string> sources;
  for (int p = 0; p < FileListBox1->ItemCount(); ++p) {
    if (FileListBox1->IsSelected(p)) sources.push_back(EncodeFileName(FileListBox1->ItemName(p)));
  }
  const size_t existing = run.ExistingOutputs(sources).size();
  if (existing == 0) return true;
  const QString question =
      QString::number(existing) + " files already exist in the destination folder. Replace them?";
  switch (services_.dialogs->AskYesNoCancel(this, question)) {
    case TDialogs::TAnswer::Yes:
      run.SetReplaceExisting(true);
      return true;
    case TDialogs::TAnswer::No:
      return true;
    case TDialogs::TAnswer::Cancel:
      break;
  }
  return false;
}

TBatchOutcome TFormCrypt::BatchFileStep(TBatchRun& run, bool encrypt, int position) {
  // Taken once: a click during the pauses below moves the list's current
  // file, never the one this step loads, names and deletes.
  const std::string source = FileListBox1->CurrentFile();
  ImageName->setText(FileNamePart(DecodeFileName(source)));
  // The mode is the run's, whatever is clicked while it pauses.
  const bool writing = run.Mode() != TBatchMode::TestOnly;
  if (run.Mode() == TBatchMode::Delete) originalfile->setText(QString::fromStdString(source));

  std::unique_ptr<TBitmap> decrypted;
  TBatchHooks hooks;
  hooks.loaded = [&] {
    loadedFile_ = source;
    ImageOriginal->ShowDrawn(*WorkingBitmap);
    ClearPanes();
    state_.resultToSave = false;
    state_.pictureFromRun = true;
    state_.codesLocked = false;
    UpdateControlStates();
    services_.pause->ProcessMessages();
    services_.pause->Sleep(kStepPause);
  };
  // Read as each transform starts: a code typed during a run applies to the
  // files after it.
  hooks.code = [&] { return (encrypt ? EditSeedEncrypt : EditSeedDecrypt)->text().toStdString(); };
  hooks.transformed = [&] {
    if (encrypt) {
      ImageEncrypted->SetGraphic(*EncryptedBitmap);
      state_.pictureFromRun = true;
      state_.resultToSave = true;
      UpdateControlStates();
    } else {
      ImageDecrypted->SetGraphic(*decrypted);
    }
    services_.pause->ProcessMessages();
    if (writing) services_.pause->Sleep(kStepPause);
  };
  hooks.saved = [&](const std::string& outputName) {
    const QString output = QString::fromStdString(outputName);
    TActivityLog& log = ActivityLog();
    log.SetColor(encrypt ? log_colors::kNavy : log_colors::kGreen);
    log.SetStyle(false, true);
    log.Add(" Image saved as:  " + output);
    SavePictureDialogFileName = output;
  };
  const TBatchOutcome outcome = run.Step(
      source, {ImageOriginal->Picture(), WorkingBitmap, encrypt ? EncryptedBitmap : decrypted},
      hooks);
  if (writing && outcome.written) services_.pause->ProcessMessages();
  // An output that was written counts, even when its source could not be
  // deleted.
  if (outcome.written || !outcome.Failed()) {
    FlatGauge1->SetProgress(std::min(FlatGauge1->Progress() + 1, FlatGauge1->MaxValue()));
  }
  if (outcome.Failed()) return outcome;
  if (encrypt && run.Sealing()) ShowSealed(source, outcome);

  FileListBox1->viewport()->update();
  if (position + 1 < FileListBox1->ItemCount()) {
    FileListBox1->setCurrentRow(position + 1, QItemSelectionModel::NoUpdate);
  }
  if (!encrypt && !writing) {
    state_.resultToSave = true;
    UpdateControlStates();
  }
  return outcome;
}

}  // namespace quorvex
