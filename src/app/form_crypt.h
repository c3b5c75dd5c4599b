#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/services.h"
#include "core/batch_step.h"
#include "picture/safe_file_writer.h"

class QAction;
class QCheckBox;
class QDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPrinter;
class QPushButton;
class QRadioButton;
class QTextEdit;

namespace quorvex {

class TAboutBox;
class TActivityLog;
class TGraphic;
class TBitmap;
class TBatchRun;
class TDirectoryForm;
class TDirectoryOutline;
class TDriveComboBox;
class TFileListBox;
class TFilterComboBox;
class TFlatGauge;
class TFlatTabControl;
class TImage;
class TLed;

inline constexpr const char* kMainCaption = "  Quorvex";
inline constexpr const char* kCustomDestinationCaption = "  Quorvex   DD: <Custom set>";
inline constexpr const char* kExitQuestion = " \n     Are you ready to exit?          ";
inline constexpr const char* kHelpMissing = "The help file is missing or is unaccessible.";
inline constexpr const char* kDefaultCode = "614052";

enum TPage { kEncryptPage = 0, kDecryptPage = 1, kLogPage = 2 };

// The main window: one tab strip with a shared set of controls that each
// page rearranges, the browsing column, the picture panes, the code fields,
// the run controls and the activity log. State lives in the controls, but
// for the few facts their enabling follows.
class TFormCrypt : public QMainWindow {
  Q_OBJECT
 public:
  explicit TFormCrypt(TServices services, QWidget* parent = nullptr);
  ~TFormCrypt() override;

  // The windows made after this one at start-up, which its commands show.
  void SetCompanions(TAboutBox* aboutBox, TDirectoryForm* directoryForm, QDialog* previewForm);
  // The folder the help file and the viewer are looked for in, with a
  // trailing "/": the program's own folder unless set.
  QString ProgramFolder() const;
  void SetProgramFolder(const QString& folder) { programFolder_ = folder; }
  const TServices& Services() const { return services_; }
  QPrinter& Printer();
  // The activity log shown in RichEdit1.
  TActivityLog& ActivityLog() { return *activityLog_; }
  // Writes every output picture; tests put a failing writer here.
  using TPictureWriter = std::function<void(const TGraphic&, const std::string&, TExistingFile)>;
  void SetPictureWriter(TPictureWriter writer) { pictureWriter_ = std::move(writer); }
  // The folder the folder tree shows, which the gallery opens on.
  std::string ShownFolder() const;

  // The picture loaded last and the result of the last encrypt step.
  std::unique_ptr<TBitmap> WorkingBitmap;
  std::unique_ptr<TBitmap> EncryptedBitmap;
  // What the picture save dialog holds from one use to the next: its file
  // name and its starting folder (empty: the platform's default).
  QString SavePictureDialogFileName;
  QString SavePictureDialogFolder;
  // The log save dialog's file name, proposed again on later uses.
  QString SaveDialog1FileName = "quorvex_log";

  // Handlers.
  void FormShow();
  void TabTabChanged();
  void Encrypt1Click();
  void Decrypt1Click();
  void ActivityLog1Click();
  void ShowAllFilesClick();
  void FileListBox1Click();
  void FileListBox1Change();
  void FileListBox1DblClick();
  // The digit filter of both code fields: true when the key is kept.
  bool EditNumericKeyPress(QKeyEvent* event);
  void RevealCodes1Click();
  // Turns sealing on or off: the code fields take any passphrase while it
  // is on; the choice is kept for the next session.
  void SealWholeFiles1Click();
  bool SealingOn() const;
  void CheckBoxStretchClick();
  void Exit1Click();
  // Asks before the window closes; true to close.
  bool FormCloseQuery();
  void FB_previewClick();
  void DriveComboBox1Change();
  void DirectoryOutline1Change();
  // Reads the folder tree and the file list again; not while a run is under
  // way.
  void Refresh1Click();
  // Ctrl+Tab and Ctrl+Shift+Tab: the next or previous page, round the end.
  void NextPage(int step);
  // Shows the folder of the files given (on the command line or dropped on
  // the window) and selects those of them that the list shows; the focused
  // one is loaded as a double-click loads it. Paths are bytes; those in
  // other folders than the first existing file's are left alone.
  void OpenFiles(const std::vector<std::string>& paths);
  void DestinationDirectory1Click();
  void FlatSpeedButton2Click();
  void PrinterSetup1Click();
  void Help1Click();
  void ImageOriginalDblClick();
  void LaunchViewer(const QString& path);
  void TallowenWebSite1Click();
  void OnLineSupport1Click();
  void About2Click();
  void EbuttonClick();
  void DbuttonClick();
  void StopButtonClick();
  void ButtonDecryptClick();
  void ButtonSaveClick();
  void FlatSpeedButton4Click();
  void FlatSpeedButton3Click();
  void FSB_PrintClick();
  void PrintLog1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Controls, named as the window's design names them; tests find them by
  // these names.
  QFrame* TopBand;
  QFrame* DestinationRow;
  QLabel* DestinationCaption;
  QLabel* DirLabel;
  QPushButton* FlatSpeedButton2;
  QLabel* originalfile;
  TFlatTabControl* Tab;
  TDriveComboBox* DriveComboBox1;
  TDirectoryOutline* DirectoryOutline1;
  QLabel* ImageSelectionCaption;
  TFilterComboBox* FilterComboBox1;
  TFileListBox* FileListBox1;
  QPushButton* FB_preview;
  TFlatGauge* FlatGauge1;
  QLabel* OriginalCaption;
  QCheckBox* CheckBoxStretch;
  QFrame* InstructionPanel;
  QLabel* InstructionClick;
  QLabel* InstructionDoubleClick;
  QLabel* InstructionArrow;
  QGroupBox* EncryptionCodeBox;
  QLineEdit* EditSeedEncrypt;
  QGroupBox* Mode;
  QRadioButton* EncryptOnly;
  QRadioButton* EncryptAndSave;
  QRadioButton* EncryptAndDelete;
  TImage* ImageOriginal;
  QLabel* ImageName;
  TLed* Led1;
  QLabel* EncryptedCaption;
  TImage* ImageEncrypted;
  QPushButton* Ebutton;
  QPushButton* Dbutton;
  QPushButton* StopButton;
  QPushButton* ButtonSave;
  QWidget* DecryptPanel;
  QLabel* DecryptedCaption;
  TImage* ImageDecrypted;
  QGroupBox* DecryptionCodeBox;
  QLineEdit* EditSeedDecrypt;
  QLabel* DecryptArrow;
  QCheckBox* ShowAllFiles;
  QPushButton* ButtonDecrypt;
  QLabel* StopLabel;
  QFrame* HelpPanel;
  QLabel* Lettering;
  QTextEdit* RichEdit1;
  QPushButton* FlatSpeedButton4;  // "Clear"
  QPushButton* FlatSpeedButton3;  // "Save"
  QPushButton* FSB_Print;         // "Print"

  // The main menu.
  QMenu* File1;
  QAction* DestinationDirectory1;
  QAction* N4;
  QAction* PrinterSetup1;
  QAction* PrintLog1;
  QAction* N3;
  QAction* Exit1;
  QMenu* Page1;
  QAction* Encrypt1;
  QAction* Decrypt1;
  QAction* N5;
  QAction* ActivityLog1;
  QAction* N7;
  QAction* Refresh1;  // F5
  QMenu* Action1;
  QAction* EncryptImages1;
  QAction* DecryptImages1;
  QAction* N2;
  QAction* RevealCodes1;
  QAction* SealWholeFiles1;
  QMenu* About1;
  QAction* Help1;
  QAction* N6;
  QAction* OnLineSupport1;
  QAction* TallowenWebSite1;
  QAction* N1;
  QAction* About2;

  // What the enabled state of the run controls and the Action items follows,
  // besides the page and the stop flag. Handlers change it, then call
  // UpdateControlStates.
  struct TControlState {
    // A selection was made since the page was set up; clearing it leaves
    // the run buttons enabled.
    bool filesChosen = false;
    // The list held files at its last change, on a page that previews.
    bool previewOffered = true;
    // A pane holds a result that "Save" writes.
    bool resultToSave = false;
    // A run step loaded the picture the single decrypt step works on.
    bool pictureFromRun = false;
    // A run step failed; the code fields wait for the next file.
    bool codesLocked = false;
    bool running = false;
  };
  // Sets the enabled state of every run control and Action item.
  void UpdateControlStates();
  bool StopRequested() const;
  // Whether a run still takes files from the list: once stopped it takes
  // no more.
  bool RunTakingFiles() const;

  void BuildWindow();
  void BuildMenu();
  void Connect();
  void SetLogPanelHeight(int height);
  void RestoreSealing();
  void ApplyCodeFilter();
  void ClearPanes();
  void DecryptStep();
  void BatchRun(bool encrypt);
  // Asks once whether files already in the destination may be replaced;
  // false when the run is cancelled.
  bool AllowReplacing(TBatchRun& run);
  // Whether any selected file is not sealed.
  bool SelectionHasPictures() const;
  TBatchOutcome BatchFileStep(TBatchRun& run, bool encrypt, int position);
  void WritePicture(const TGraphic& graphic, const QString& path);
  // The decrypt step of a sealed file: restores it in memory and shows it
  // when it is a picture the program draws.
  void UnsealLoadedFile();
  // The encrypt step of a sealing run: shows the sealed BMP of source, read
  // back from its output or sealed in memory when nothing was written.
  void ShowSealed(const std::string& source, const TBatchOutcome& outcome);
  // Asks where to save (and before replacing), then writes and logs it.
  void SaveSingle(bool encrypt, TDialogs::SaveOptions options,
                  const std::function<void(const QString&)>& write);

  TServices services_;
  TControlState state_;
  TAboutBox* aboutBox_ = nullptr;
  TDirectoryForm* directoryForm_ = nullptr;
  QDialog* previewForm_ = nullptr;
  QString programFolder_;
  std::unique_ptr<QPrinter> printer_;
  bool shown_ = false;
  std::unique_ptr<TActivityLog> activityLog_;
  TPictureWriter pictureWriter_;
  // The file the working bitmap was loaded from; empty when none.
  std::string loadedFile_;
  // A sealed file opened by the decrypt step, for "Save".
  struct TRestoredFile {
    std::string name;
    std::vector<uint8_t> bytes;
    TSealedFileInfo info;
  };
  std::optional<TRestoredFile> restored_;
  // The sealed BMP the encrypted pane shows, for "Save".
  std::optional<std::vector<uint8_t>> sealed_;
  // Seals for the pane in test runs; kept while the passphrase stays.
  std::unique_ptr<TSealer> paneSealer_;
  std::string paneSealerPassphrase_;
};

}  // namespace quorvex
