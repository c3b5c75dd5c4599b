#include "app/form_crypt.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShortcut>
#include <QTabBar>
#include <QTextEdit>
#include <QUrl>

#include "app/activity_log.h"
#include "shell/application.h"
#include "app/directory_outline.h"
#include "app/drive_combo_box.h"
#include "app/file_list_box.h"
#include "app/filter_combo_box.h"
#include "app/image.h"
#include "app/image_filter.h"
#include "app/links.h"
#include "picture/bitmap.h"
#include "picture/picture_loader.h"
#include "picture/safe_file_writer.h"
#include "widgets/clipped_text_tip.h"
#include "widgets/flat_gauge.h"
#include "widgets/flat_style.h"
#include "widgets/flat_tab_control.h"
#include "widgets/glyphs.h"
#include "widgets/led.h"

namespace quorvex {

namespace {

constexpr int kClientWidth = 782;
constexpr int kClientHeight = 537;

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  auto* label = Named(new QLabel(text, parent), name);
  label->setGeometry(geometry);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QRect& geometry, FlatRole role, const QString& hint = {}) {
  auto* button = Named(new QPushButton(text, parent), name);
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  SetFlatRole(button, role);
  if (!hint.isEmpty()) button->setToolTip(hint);
  return button;
}

QLineEdit* MakeCodeField(QWidget* parent, const char* name) {
  auto* edit = Named(new QLineEdit(kDefaultCode, parent), name);
  SetFlatRole(edit, FlatRole::Field);
  edit->setEchoMode(QLineEdit::Password);
  edit->setGeometry(8, 22, 144, 20);
  // Pasted text goes through this; typed text through the key filter.
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
  return edit;
}

// The local files among dropped items, as the bytes of their paths.
std::vector<std::string> DroppedFiles(const QMimeData* data) {
  std::vector<std::string> files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    // Percent-decoded by hand: the bytes of a name that is not UTF-8 stay.
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toUtf8());
    if (!path.isEmpty()) files.emplace_back(path.constData(), static_cast<size_t>(path.size()));
  }
  return files;
}

QGroupBox* MakeCodeBox(QWidget* parent, const char* name, const QString& title,
                       const QRect& geometry) {
  auto* box = Named(new QGroupBox(title, parent), name);
  box->setGeometry(geometry);
  box->setStyleSheet(QString("QGroupBox#%1 { background: rgb(239,233,224); }"
                             "QGroupBox#%1::title { background: rgb(239,233,224); }")
                         .arg(name));
  return box;
}

}  // namespace

TFormCrypt::TFormCrypt(TServices services, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      services_(services) {
  setObjectName("FormCrypt");
  setWindowTitle(kMainCaption);
  setWindowIcon(QuorvexIcon());
  activityLog_ = std::make_unique<TActivityLog>();
  pictureWriter_ = [](const TGraphic& graphic, const std::string& path, TExistingFile existing) {
    SaveFileAtomically(graphic, path, existing);
  };
  BuildWindow();
  activityLog_->SetView(RichEdit1);
  BuildMenu();
  Connect();
  UpdateControlStates();
  RestoreSealing();
  setAcceptDrops(true);
  SetErrorBox([this](const QString& text) { services_.dialogs->ShowError(this, text); });
  SetBusyCursor([](bool busy) {
    if (busy) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  });
  // The first read of the file list, as the window comes up.
  Guarded([this] { FileListBox1->SetMask(AllImagesMask()); });
  // Fixed size: the client area below the menu bar is 782 by 537.
  const int menuHeight = menuBar()->sizeHint().height();
  setFixedSize(kClientWidth, kClientHeight + menuHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

TFormCrypt::~TFormCrypt() {
  SetErrorBox({});
  SetBusyCursor({});
  // FormDestroy: the two bitmaps go with the window.
  WorkingBitmap.reset();
  EncryptedBitmap.reset();
}

void TFormCrypt::SetCompanions(TAboutBox* aboutBox, TDirectoryForm* directoryForm,
                               QDialog* previewForm) {
  aboutBox_ = aboutBox;
  directoryForm_ = directoryForm;
  previewForm_ = previewForm;
}

std::string TFormCrypt::ShownFolder() const {
  return DirectoryOutline1->Directory();
}

QString TFormCrypt::ProgramFolder() const {
  QString folder =
      programFolder_.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder_;
  if (!folder.endsWith('/')) folder += '/';
  return folder;
}

QPrinter& TFormCrypt::Printer() {
  if (!printer_) printer_ = std::make_unique<QPrinter>();
  return *printer_;
}

void TFormCrypt::BuildWindow() {
  auto* client = Named(new QWidget(this), "Client");
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  // Top band and destination row.
  TopBand = Named(new QFrame(client), "TopBand");
  SetFlatRole(TopBand, FlatRole::Band);
  TopBand->setGeometry(0, 0, kClientWidth, 7);
  DestinationRow = Named(new QFrame(client), "DestinationRow");
  SetFlatRole(DestinationRow, FlatRole::Band);
  DestinationRow->setGeometry(4, 11, 774, 25);
  DestinationCaption = MakeLabel(DestinationRow, "DestinationCaption",
                                 "Destination Directory:", QRect(6, 4, 122, 16));
  SetFlatRole(DestinationCaption, FlatRole::DestinationText);
  QFont bold = DestinationCaption->font();
  bold.setBold(true);
  DestinationCaption->setFont(bold);
  DirLabel = MakeLabel(DestinationRow, "DirLabel", "", QRect(130, 4, 596, 16));
  SetFlatRole(DirLabel, FlatRole::DestinationText);
  TipWhenClipped(DirLabel);
  originalfile = MakeLabel(DestinationRow, "originalfile", "originalfile", QRect(560, 4, 80, 16));
  originalfile->hide();
  FlatSpeedButton2 = MakeButton(DestinationRow, "FlatSpeedButton2", "----", QRect(736, 3, 34, 19),
                                FlatRole::SpeedButton, "Set destination directory");
  FlatSpeedButton2->setFocusPolicy(Qt::NoFocus);

  // The tab strip and its shared controls.
  Tab = Named(new TFlatTabControl({"Encrypt", "Decrypt", "Log"}, client), "Tab");
  Tab->setGeometry(4, 41, 774, 492);

  // Left column: drive box above the folder tree.
  DriveComboBox1 = Named(new TDriveComboBox(Tab), "DriveComboBox1");
  DriveComboBox1->setGeometry(8, 32, 176, 22);
  DirectoryOutline1 = Named(new TDirectoryOutline(Tab), "DirectoryOutline1");
  DirectoryOutline1->setGeometry(8, 58, 176, 386);

  // Middle column: filter, file list, preview button.
  ImageSelectionCaption =
      MakeLabel(Tab, "ImageSelectionCaption", "Image Selection", QRect(190, 32, 168, 16));
  SetCaptionGrey(ImageSelectionCaption, 83);
  ImageSelectionCaption->setAlignment(Qt::AlignCenter);
  FilterComboBox1 = Named(new TFilterComboBox(Tab), "FilterComboBox1");
  FilterComboBox1->setGeometry(190, 50, 168, 22);
  FileListBox1 = Named(new TFileListBox(Tab), "FileListBox1");
  FileListBox1->setGeometry(190, 76, 168, 338);
  FilterComboBox1->SetFilter(ImageFilter());
  FilterComboBox1->SetFileList(FileListBox1);
  FB_preview = MakeButton(Tab, "FB_preview", "Preview All Images", QRect(190, 420, 168, 24),
                          FlatRole::BrowseControl);
  FlatGauge1 = Named(new TFlatGauge(Tab), "FlatGauge1");
  FlatGauge1->setGeometry(8, 452, 350, 6);

  // Centre column.
  OriginalCaption = MakeLabel(Tab, "OriginalCaption", "Original Image >>", QRect(366, 32, 160, 16));
  SetCaptionGrey(OriginalCaption, 87);
  OriginalCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  CheckBoxStretch = Named(new QCheckBox("Stretched Mode", Tab), "CheckBoxStretch");
  CheckBoxStretch->setGeometry(392, 56, 134, 18);
  CheckBoxStretch->setChecked(true);
  InstructionPanel = Named(new QFrame(Tab), "InstructionPanel");
  InstructionPanel->setGeometry(366, 82, 160, 132);
  InstructionPanel->setStyleSheet(
      "QFrame#InstructionPanel { border: 1px solid rgb(162,154,130); }");
  InstructionClick = MakeLabel(InstructionPanel, "InstructionClick",
                               "Click on a single file or press and hold Ctrl key and click on "
                               "multiple files to select them.",
                               QRect(7, 6, 146, 46));
  InstructionDoubleClick =
      MakeLabel(InstructionPanel, "InstructionDoubleClick",
                "Double-click the file to display that image in the Original Image panel.",
                QRect(7, 56, 146, 46));
  for (QLabel* label : {InstructionClick, InstructionDoubleClick}) {
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetFlatRole(label, FlatRole::Instruction);
  }
  InstructionArrow =
      MakeLabel(InstructionPanel, "InstructionArrow", "<< File List Box", QRect(7, 108, 146, 16));
  SetCaptionGrey(InstructionArrow, 87);

  EncryptedCaption =
      MakeLabel(Tab, "EncryptedCaption", "Encrypted Image >>", QRect(366, 248, 160, 16));
  SetCaptionGrey(EncryptedCaption, 92);
  EncryptedCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  EncryptionCodeBox =
      MakeCodeBox(Tab, "EncryptionCodeBox", "Encryption Code", QRect(366, 272, 160, 50));
  EditSeedEncrypt = MakeCodeField(EncryptionCodeBox, "EditSeedEncrypt");

  Mode = Named(new QGroupBox("Mode", Tab), "Mode");
  Mode->setGeometry(366, 330, 160, 86);
  EncryptOnly = Named(new QRadioButton("Test run", Mode), "EncryptOnly");
  EncryptOnly->setGeometry(12, 18, 140, 18);
  EncryptOnly->setToolTip("Test run only.");
  EncryptOnly->setChecked(true);
  EncryptAndSave = Named(new QRadioButton("Process/Save", Mode), "EncryptAndSave");
  EncryptAndSave->setGeometry(12, 40, 140, 18);
  EncryptAndSave->setToolTip("Process images and preserve  originals.");
  EncryptAndDelete = Named(new QRadioButton("Process/Delete", Mode), "EncryptAndDelete");
  EncryptAndDelete->setGeometry(12, 62, 140, 18);
  EncryptAndDelete->setToolTip("Process images and  delete originals. ");

  // Right column.
  ImageOriginal = Named(new TImage(Tab), "ImageOriginal");
  ImageOriginal->setGeometry(533, 32, 233, 187);
  ImageName = MakeLabel(Tab, "ImageName", "", QRect(533, 222, 212, 16));
  TipWhenClipped(ImageName);
  Led1 = Named(new TLed(Tab), "Led1");
  Led1->setGeometry(752, 223, 14, 14);
  ImageEncrypted = Named(new TImage(Tab), "ImageEncrypted");
  ImageEncrypted->setGeometry(533, 248, 233, 179);
  const QRect runButton(533, 433, 90, 25);
  Ebutton = MakeButton(Tab, "Ebutton", "Encrypt", runButton, FlatRole::RunButton,
                       "Encrypt selected image(s)");
  StopButton = MakeButton(Tab, "StopButton", "", QRect(628, 433, 34, 25), FlatRole::RunButton,
                          "Stop the execution");
  StopButton->setIcon(GlyphIcon(Glyph::Stop));
  ButtonSave = MakeButton(Tab, "ButtonSave", "Save", QRect(667, 433, 99, 25), FlatRole::RunButton,
                          "Save an individual image");

  // The Decrypt page's panel: transparent, its controls exactly over their
  // Encrypt-page counterparts.
  DecryptPanel = Named(new QWidget(Tab), "DecryptPanel");
  DecryptPanel->setGeometry(366, 242, 400, 219);
  DecryptedCaption =
      MakeLabel(DecryptPanel, "DecryptedCaption", "Decrypted Image >>", QRect(0, 6, 160, 16));
  SetCaptionGrey(DecryptedCaption, 92);
  // Opaque, so that it covers the Encrypt page's caption.
  DecryptedCaption->setStyleSheet(DecryptedCaption->styleSheet() +
                                  " background: rgb(212,208,200);");
  DecryptedCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  ImageDecrypted = Named(new TImage(DecryptPanel), "ImageDecrypted");
  ImageDecrypted->setGeometry(167, 6, 233, 179);
  DecryptionCodeBox =
      MakeCodeBox(DecryptPanel, "DecryptionCodeBox", "Decryption Code", QRect(0, 30, 160, 50));
  EditSeedDecrypt = MakeCodeField(DecryptionCodeBox, "EditSeedDecrypt");
  DecryptArrow = MakeLabel(DecryptPanel, "DecryptArrow", "<<", QRect(0, 180, 18, 16));
  SetFlatRole(DecryptArrow, FlatRole::Instruction);
  ShowAllFiles = Named(new QCheckBox("Show all <bmp> files", DecryptPanel), "ShowAllFiles");
  ShowAllFiles->setGeometry(20, 179, 140, 18);
  // Below the panel's visible area: never seen, yet reachable with Tab.
  ButtonDecrypt = Named(new QPushButton("Decyrpt", DecryptPanel), "ButtonDecrypt");
  ButtonDecrypt->setGeometry(0, 225, 75, 25);
  ButtonDecrypt->setAutoDefault(false);
  DecryptPanel->hide();

  Dbutton = MakeButton(Tab, "Dbutton", "Decrypt", runButton, FlatRole::RunButton,
                       "Decrypt selected image(s)");
  Dbutton->hide();
  // The Mode group and the run buttons stay above the Decrypt panel.
  Mode->raise();
  for (QPushButton* button : {Ebutton, Dbutton, StopButton, ButtonSave}) button->raise();

  StopLabel = MakeLabel(Tab, "StopLabel", "0", QRect(740, 4, 20, 14));
  StopLabel->hide();

  // The Log page: a panel over the page area, zero high on the other pages.
  HelpPanel = Named(new QFrame(Tab), "HelpPanel");
  HelpPanel->setAutoFillBackground(true);
  HelpPanel->setStyleSheet("QFrame#HelpPanel { border: none; background: rgb(212,208,200); }");
  Lettering = MakeLabel(HelpPanel, "Lettering", "", QRect(8, 8, 114, 418));
  Lettering->setTextFormat(Qt::RichText);
  Lettering->setText(
      "<div style='color: rgb(215,215,200); line-height: 90%;'>"
      "<div style='font-size: 64px; font-weight: bold;'>Q</div>"
      "<div style='font-size: 64px; font-weight: bold;'>V</div>"
      "<div style='font-size: 17px; font-weight: bold;'>activity</div>"
      "<div style='font-size: 17px; font-weight: bold;'>record</div></div>");
  Lettering->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Lettering->setStyleSheet("background: rgb(77,77,57); padding-top: 10px;");
  RichEdit1 = Named(new QTextEdit(HelpPanel), "RichEdit1");
  RichEdit1->setGeometry(130, 8, 634, 418);
  RichEdit1->setReadOnly(true);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setLineWrapMode(QTextEdit::WidgetWidth);
  RichEdit1->setStyleSheet(
      QString("QTextEdit#RichEdit1 { border: 1px solid rgb(77,77,57); background: white; }"
              "QTextEdit#RichEdit1:focus { border: 2px solid %1; }")
          .arg(flat::kFocusFrame.name()));
  FlatSpeedButton4 = MakeButton(HelpPanel, "FlatSpeedButton4", "Clear", QRect(530, 434, 74, 24),
                                FlatRole::SpeedButton);
  FlatSpeedButton3 = MakeButton(HelpPanel, "FlatSpeedButton3", "Save", QRect(610, 434, 74, 24),
                                FlatRole::SpeedButton);
  FSB_Print =
      MakeButton(HelpPanel, "FSB_Print", "Print", QRect(690, 434, 74, 24), FlatRole::SpeedButton);
  SetLogPanelHeight(0);

  Tab->Bar()->setFocus();
}

void TFormCrypt::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setFont(MenuFont());
  auto separator = [](QMenu* menu, const char* name) {
    QAction* action = menu->addSeparator();
    action->setObjectName(name);
    return action;
  };
  auto item = [](QMenu* menu, const char* name, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    return action;
  };
  File1 = Named(bar->addMenu("File"), "File1");
  DestinationDirectory1 = item(File1, "DestinationDirectory1", "Destination Directory");
  N4 = separator(File1, "N4");
  PrinterSetup1 = item(File1, "PrinterSetup1", "Printer Setup");
  PrintLog1 = item(File1, "PrintLog1", "Print Log");
  N3 = separator(File1, "N3");
  Exit1 = item(File1, "Exit1", "Exit");

  Page1 = Named(bar->addMenu("Page"), "Page1");
  Encrypt1 = item(Page1, "Encrypt1", "Encryption Page");
  Decrypt1 = item(Page1, "Decrypt1", "Decryption Page");
  N5 = separator(Page1, "N5");
  ActivityLog1 = item(Page1, "ActivityLog1", "Activity Log");
  N7 = separator(Page1, "N7");
  Refresh1 = item(Page1, "Refresh1", "Refresh");
  Refresh1->setShortcut(QKeySequence::Refresh);

  Action1 = Named(bar->addMenu("Action"), "Action1");
  EncryptImages1 = item(Action1, "EncryptImages1", "Encrypt Image(s)");
  DecryptImages1 = item(Action1, "DecryptImages1", "Decrypt Image(s)");
  N2 = separator(Action1, "N2");
  RevealCodes1 = item(Action1, "RevealCodes1", "Reveal Codes");
  RevealCodes1->setCheckable(true);
  SealWholeFiles1 = item(Action1, "SealWholeFiles1", "Seal Whole Files");
  SealWholeFiles1->setCheckable(true);

  About1 = Named(bar->addMenu("Help"), "About1");
  Help1 = item(About1, "Help1", "Help");
  N6 = separator(About1, "N6");
  OnLineSupport1 = item(About1, "OnLineSupport1", "On-Line Support");
  TallowenWebSite1 = item(About1, "TallowenWebSite1", kHomePageAddress);
  N1 = separator(About1, "N1");
  About2 = item(About1, "About2", "About");
  for (QMenu* menu : {File1, Page1, Action1, About1}) menu->setFont(MenuFont());
}

void TFormCrypt::Connect() {
  // Every handler runs guarded: an error it does not catch goes to the
  // error box and the window carries on.
  auto on = [this](auto* sender, auto signal, void (TFormCrypt::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
  };
  on(Tab, &TFlatTabControl::TabChanged, &TFormCrypt::TabTabChanged);
  on(Encrypt1, &QAction::triggered, &TFormCrypt::Encrypt1Click);
  on(Decrypt1, &QAction::triggered, &TFormCrypt::Decrypt1Click);
  on(ActivityLog1, &QAction::triggered, &TFormCrypt::ActivityLog1Click);
  on(ShowAllFiles, &QCheckBox::clicked, &TFormCrypt::ShowAllFilesClick);
  on(FileListBox1, &TFileListBox::Click, &TFormCrypt::FileListBox1Click);
  on(FileListBox1, &TFileListBox::Change, &TFormCrypt::FileListBox1Change);
  on(FileListBox1, &TFileListBox::DblClick, &TFormCrypt::FileListBox1DblClick);
  // The item's check mark is the handler's to set.
  connect(RevealCodes1, &QAction::triggered, this, [this] {
    RevealCodes1->setChecked(!RevealCodes1->isChecked());
    Guarded([this] { RevealCodes1Click(); });
  });
  on(SealWholeFiles1, &QAction::triggered, &TFormCrypt::SealWholeFiles1Click);
  on(CheckBoxStretch, &QCheckBox::clicked, &TFormCrypt::CheckBoxStretchClick);
  on(Exit1, &QAction::triggered, &TFormCrypt::Exit1Click);
  on(FB_preview, &QPushButton::clicked, &TFormCrypt::FB_previewClick);
  on(DriveComboBox1, &TDriveComboBox::Change, &TFormCrypt::DriveComboBox1Change);
  on(DirectoryOutline1, &TDirectoryOutline::Change, &TFormCrypt::DirectoryOutline1Change);
  on(Refresh1, &QAction::triggered, &TFormCrypt::Refresh1Click);
  for (const auto& [keys, step] :
       {std::pair{QKeySequence::NextChild, 1}, std::pair{QKeySequence::PreviousChild, -1}}) {
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, this,
            [this, step = step] { Guarded([&] { NextPage(step); }); });
  }
  on(DestinationDirectory1, &QAction::triggered, &TFormCrypt::DestinationDirectory1Click);
  on(FlatSpeedButton2, &QPushButton::clicked, &TFormCrypt::FlatSpeedButton2Click);
  on(PrinterSetup1, &QAction::triggered, &TFormCrypt::PrinterSetup1Click);
  on(Help1, &QAction::triggered, &TFormCrypt::Help1Click);
  on(ImageOriginal, &TImagePane::DoubleClicked, &TFormCrypt::ImageOriginalDblClick);
  on(TallowenWebSite1, &QAction::triggered, &TFormCrypt::TallowenWebSite1Click);
  on(OnLineSupport1, &QAction::triggered, &TFormCrypt::OnLineSupport1Click);
  on(About2, &QAction::triggered, &TFormCrypt::About2Click);
  on(Ebutton, &QPushButton::clicked, &TFormCrypt::EbuttonClick);
  on(EncryptImages1, &QAction::triggered, &TFormCrypt::EbuttonClick);
  on(Dbutton, &QPushButton::clicked, &TFormCrypt::DbuttonClick);
  on(DecryptImages1, &QAction::triggered, &TFormCrypt::DbuttonClick);
  on(StopButton, &QPushButton::clicked, &TFormCrypt::StopButtonClick);
  on(ButtonDecrypt, &QPushButton::clicked, &TFormCrypt::ButtonDecryptClick);
  on(ButtonSave, &QPushButton::clicked, &TFormCrypt::ButtonSaveClick);
  on(FlatSpeedButton4, &QPushButton::clicked, &TFormCrypt::FlatSpeedButton4Click);
  on(FlatSpeedButton3, &QPushButton::clicked, &TFormCrypt::FlatSpeedButton3Click);
  on(FSB_Print, &QPushButton::clicked, &TFormCrypt::FSB_PrintClick);
  on(PrintLog1, &QAction::triggered, &TFormCrypt::PrintLog1Click);
  EditSeedEncrypt->installEventFilter(this);
  EditSeedDecrypt->installEventFilter(this);
}

void TFormCrypt::SetLogPanelHeight(int height) {
  HelpPanel->setGeometry(1, Tab->HeaderHeight(), Tab->width() - 2, height);
  HelpPanel->raise();
  // Zero high, its buttons would still take Tab and Space unseen.
  HelpPanel->setVisible(height > 0);
}

void TFormCrypt::ClearPanes() {
  ImageEncrypted->Clear();
  ImageDecrypted->Clear();
  restored_.reset();
  sealed_.reset();
}

void TFormCrypt::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    Guarded([this] { FormShow(); });
  }
}

void TFormCrypt::closeEvent(QCloseEvent* event) {
  bool close = false;
  Guarded([&] { close = FormCloseQuery(); });
  if (close) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TFormCrypt::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Back from another program: folders may have come and gone meanwhile.
  // Not while a run is under way, which reads the list it started with.
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && shown_ &&
      !RunTakingFiles()) {
    Guarded([this] { DirectoryOutline1->Refresh(); });
  }
}

void TFormCrypt::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void TFormCrypt::dropEvent(QDropEvent* event) {
  const std::vector<std::string> files = DroppedFiles(event->mimeData());
  if (files.empty()) return;
  event->acceptProposedAction();
  Guarded([&] { OpenFiles(files); });
}

bool TFormCrypt::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == EditSeedEncrypt || watched == EditSeedDecrypt) &&
      event->type() == QEvent::KeyPress && !SealingOn()) {
    return !EditNumericKeyPress(static_cast<QKeyEvent*>(event));
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace quorvex
