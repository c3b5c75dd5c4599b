#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidgetItem>
#include <QUrl>
#include <functional>
#include <optional>
#include <set>

#include "shell/application.h"
#include "app/directory_outline.h"
#include "app/filter_combo_box.h"
#include "app/image.h"
#include "app/image_filter.h"
#include "shell/picture_file.h"
#include "picture/bitmap.h"
#include "picture/picture.h"
#include "widgets/flat_gauge.h"
#include "widgets/flat_tab_control.h"
#include "widgets/led.h"
#include "window_fixture.h"

namespace quorvex {
namespace {

using test::ClickRow;
using test::DoubleClickRow;
using test::Items;

class FormCryptTest : public testing::Test {
 protected:
  void SetUp() override {
    folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "photo.bmp");
    folder.Copy("bmp/bmpsuite/g/pal8.bmp", "Ecr_scene.bmp");
    folder.File("notes.txt");
    folder.File("damaged.bmp", "BM this is no bitmap");
    windows = CreateWindows(services.Services());
    form = windows.FormCrypt.get();
    ui = test::TMainControls(*form);
    form->SetProgramFolder(QString::fromStdString(folder.Path()));
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  }

  int Row(const QString& name) const { return Items(ui.FileListBox1).indexOf(name); }
  // Loads a file as a double-click does.
  void Load(const QString& name) { DoubleClickRow(ui.FileListBox1, Row(name)); }

  test::TTempFolder folder;
  test::TScriptedServices services;
  TWindows windows;
  TFormCrypt* form = nullptr;
  test::TMainControls ui;
};

TEST_F(FormCryptTest, StartsInTheDesignedState) {
  EXPECT_EQ(form->windowTitle(), "  Quorvex");
  EXPECT_EQ(form->centralWidget()->size(), QSize(782, 537));
  EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "not resizable";
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(ui.DirLabel->text().toStdString(), folder.Path());
  EXPECT_TRUE(ui.Tab->Bar()->hasFocus());
  EXPECT_EQ(ui.Tab->TabIndex(), kEncryptPage);
  EXPECT_EQ(ui.Tab->Bar()->tabText(0), "Encrypt");
  EXPECT_EQ(ui.Tab->Bar()->tabText(1), "Decrypt");
  EXPECT_EQ(ui.Tab->Bar()->tabText(2), "Log");

  for (QPushButton* button :
       {ui.Ebutton, ui.Dbutton, ui.StopButton, ui.ButtonSave, ui.ButtonDecrypt}) {
    EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
  }
  EXPECT_TRUE(ui.Dbutton->isHidden());
  EXPECT_TRUE(ui.DecryptPanel->isHidden());
  EXPECT_EQ(ui.Dbutton->geometry(), ui.Ebutton->geometry());
  for (QLineEdit* code : {ui.EditSeedEncrypt, ui.EditSeedDecrypt}) {
    EXPECT_TRUE(code->isEnabled());
    EXPECT_EQ(code->text(), "614052");
    EXPECT_EQ(code->echoMode(), QLineEdit::Password);
    EXPECT_EQ(code->displayText(), "******");
    EXPECT_EQ(code->maxLength(), 32767) << "no length limit of its own";
  }
  EXPECT_FALSE(ui.RevealCodes1->isChecked());
  EXPECT_TRUE(ui.FB_preview->isEnabled());
  EXPECT_EQ(ui.FileListBox1->Mask(), AllImagesMask());
  EXPECT_EQ(Items(ui.FileListBox1), QStringList({"damaged.bmp", "Ecr_scene.bmp", "photo.bmp"}));
  EXPECT_TRUE(ui.CheckBoxStretch->isChecked());
  EXPECT_FALSE(ui.ShowAllFiles->isChecked());
  EXPECT_TRUE(ui.EncryptOnly->isChecked());
  EXPECT_FALSE(ui.EncryptAndSave->isChecked());
  EXPECT_FALSE(ui.EncryptAndDelete->isChecked());
  EXPECT_EQ(ui.StopLabel->text(), "0");
  EXPECT_TRUE(ui.StopLabel->isHidden());
  EXPECT_TRUE(ui.originalfile->isHidden());
  EXPECT_EQ(ui.HelpPanel->height(), 0);
  EXPECT_FALSE(ui.Led1->Lit());
  EXPECT_EQ(ui.FlatGauge1->Progress(), 0);
  EXPECT_TRUE(ui.ImageName->text().isEmpty());
  EXPECT_FALSE(ui.ImageOriginal->HasImage());
  EXPECT_TRUE(ui.ImageOriginal->Stretch());

  // Captions, hints and sizes.
  EXPECT_EQ(ui.FlatSpeedButton2->text(), "----");
  EXPECT_EQ(ui.FlatSpeedButton2->toolTip(), "Set destination directory");
  EXPECT_EQ(ui.DestinationCaption->text(), "Destination Directory:");
  EXPECT_EQ(ui.FB_preview->text(), "Preview All Images");
  EXPECT_EQ(ui.CheckBoxStretch->text(), "Stretched Mode");
  EXPECT_EQ(ui.EncryptionCodeBox->title(), "Encryption Code");
  EXPECT_EQ(ui.DecryptionCodeBox->title(), "Decryption Code");
  EXPECT_EQ(ui.Mode->title(), "Mode");
  EXPECT_EQ(ui.EncryptOnly->text(), "Test run");
  EXPECT_EQ(ui.EncryptOnly->toolTip(), "Test run only.");
  EXPECT_EQ(ui.EncryptAndSave->text(), "Process/Save");
  EXPECT_EQ(ui.EncryptAndSave->toolTip(), "Process images and preserve  originals.");
  EXPECT_EQ(ui.EncryptAndDelete->text(), "Process/Delete");
  EXPECT_EQ(ui.EncryptAndDelete->toolTip(), "Process images and  delete originals. ");
  EXPECT_EQ(ui.Ebutton->text(), "Encrypt");
  EXPECT_EQ(ui.Ebutton->toolTip(), "Encrypt selected image(s)");
  EXPECT_EQ(ui.Dbutton->text(), "Decrypt");
  EXPECT_EQ(ui.Dbutton->toolTip(), "Decrypt selected image(s)");
  EXPECT_TRUE(ui.StopButton->text().isEmpty());
  EXPECT_FALSE(ui.StopButton->icon().isNull());
  EXPECT_EQ(ui.StopButton->toolTip(), "Stop the execution");
  EXPECT_EQ(ui.ButtonSave->text(), "Save");
  EXPECT_EQ(ui.ButtonSave->toolTip(), "Save an individual image");
  EXPECT_EQ(ui.ButtonDecrypt->text(), "Decyrpt");
  EXPECT_EQ(ui.ShowAllFiles->text(), "Show all <bmp> files");
  EXPECT_EQ(ui.OriginalCaption->text(), "Original Image >>");
  EXPECT_EQ(ui.EncryptedCaption->text(), "Encrypted Image >>");
  EXPECT_EQ(ui.DecryptedCaption->text(), "Decrypted Image >>");
  EXPECT_EQ(ui.ImageSelectionCaption->text(), "Image Selection");
  EXPECT_EQ(ui.InstructionArrow->text(), "<< File List Box");
  EXPECT_EQ(ui.FlatSpeedButton4->text(), "Clear");
  EXPECT_EQ(ui.FlatSpeedButton3->text(), "Save");
  EXPECT_EQ(ui.FSB_Print->text(), "Print");
  EXPECT_EQ(ui.ImageOriginal->size(), QSize(233, 187));
  EXPECT_EQ(ui.ImageEncrypted->size(), QSize(233, 179));
  EXPECT_EQ(ui.ImageDecrypted->size(), QSize(233, 179));
  // The Decrypt page's controls lie exactly over their counterparts.
  const QPoint panel = ui.DecryptPanel->pos();
  EXPECT_EQ(ui.ImageDecrypted->geometry().translated(panel), ui.ImageEncrypted->geometry());
  EXPECT_EQ(ui.DecryptionCodeBox->geometry().translated(panel), ui.EncryptionCodeBox->geometry());
  EXPECT_EQ(ui.DecryptedCaption->geometry().translated(panel),
            ui.EncryptedCaption->geometry().translated(0, -2 + 2));
  // "Decyrpt" sits below the panel's 219 pixels: never seen.
  EXPECT_EQ(ui.DecryptPanel->height(), 219);
  EXPECT_EQ(ui.ButtonDecrypt->y(), 225);
}

TEST_F(FormCryptTest, MenuHoldsEveryItemInOrder) {
  struct Menu {
    QMenu* menu;
    QString title;
    QStringList items;  // "-" is a separator
  };
  const Menu menus[] = {
      {ui.File1, "File", {"Destination Directory", "-", "Printer Setup", "Print Log", "-", "Exit"}},
      {ui.Page1,
       "Page",
       {"Encryption Page", "Decryption Page", "-", "Activity Log", "-", "Refresh"}},
      {ui.Action1,
       "Action",
       {"Encrypt Image(s)", "Decrypt Image(s)", "-", "Reveal Codes", "Seal Whole Files"}},
      {ui.About1, "Help", {"Help", "-", "On-Line Support", QUORVEX_HOME_ADDRESS, "-", "About"}},
  };
  QList<QAction*> bar = form->menuBar()->actions();
  ASSERT_EQ(bar.size(), 4);
  for (size_t m = 0; m < std::size(menus); ++m) {
    EXPECT_EQ(bar[static_cast<int>(m)]->menu(), menus[m].menu);
    EXPECT_EQ(menus[m].menu->title(), menus[m].title);
    QStringList items;
    for (QAction* action : menus[m].menu->actions()) {
      items.push_back(action->isSeparator() ? "-" : action->text());
    }
    EXPECT_EQ(items, menus[m].items) << menus[m].title.toStdString();
  }
  EXPECT_TRUE(ui.RevealCodes1->isCheckable());
}

TEST_F(FormCryptTest, EncryptionPageFromTheMenuSetsThePageUpAgainButTheTabDoesNot) {
  Load("photo.bmp");
  ClickRow(ui.FileListBox1, Row("photo.bmp"));
  ASSERT_TRUE(ui.ImageOriginal->HasImage());
  ASSERT_EQ(ui.ImageName->text(), "photo.bmp");
  ASSERT_TRUE(ui.Ebutton->isEnabled());
  ui.ImageEncrypted->SetImage(QImage(4, 4, QImage::Format_RGB32));

  // A click on the tab already shown changes nothing.
  QTabBar* bar = ui.Tab->Bar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
  EXPECT_EQ(ui.ImageName->text(), "photo.bmp");
  EXPECT_TRUE(ui.ImageOriginal->HasImage());
  EXPECT_TRUE(ui.ImageEncrypted->HasImage());
  EXPECT_TRUE(ui.Ebutton->isEnabled());
  EXPECT_EQ(ui.FileListBox1->SelCount(), 1);

  // The menu raises the page change all the same.
  ui.Encrypt1->trigger();
  EXPECT_TRUE(ui.ImageName->text().isEmpty());
  EXPECT_FALSE(ui.ImageOriginal->HasImage());
  EXPECT_FALSE(ui.ImageEncrypted->HasImage());
  EXPECT_FALSE(ui.Ebutton->isEnabled());
  EXPECT_FALSE(ui.Dbutton->isEnabled());
  EXPECT_FALSE(ui.ButtonSave->isEnabled());
  EXPECT_EQ(ui.FileListBox1->SelCount(), 0) << "the list was read again";
  EXPECT_NE(form->WorkingBitmap, nullptr) << "a page change keeps the bitmaps";
}

TEST_F(FormCryptTest, DecryptPageShowsScrambledFilesAndKeepsShowAll) {
  QTabBar* bar = ui.Tab->Bar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_EQ(ui.Tab->TabIndex(), kDecryptPage);
  EXPECT_FALSE(ui.DecryptPanel->isHidden());
  EXPECT_FALSE(ui.Dbutton->isHidden());
  EXPECT_TRUE(ui.FilterComboBox1->isHidden());
  EXPECT_FALSE(ui.FB_preview->isEnabled()) << "disabled on the Decrypt page in any case";
  EXPECT_EQ(ui.FileListBox1->Mask(), "Ecr_*.bmp");
  EXPECT_EQ(Items(ui.FileListBox1), QStringList({"Ecr_scene.bmp"}));

  QTest::mouseClick(ui.ShowAllFiles, Qt::LeftButton, {}, QPoint(6, ui.ShowAllFiles->height() / 2));
  ASSERT_TRUE(ui.ShowAllFiles->isChecked());
  EXPECT_EQ(ui.FileListBox1->Mask(), "*.bmp");
  EXPECT_EQ(Items(ui.FileListBox1), QStringList({"damaged.bmp", "Ecr_scene.bmp", "photo.bmp"}));

  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
  EXPECT_TRUE(ui.DecryptPanel->isHidden());
  EXPECT_TRUE(ui.Dbutton->isHidden());
  EXPECT_FALSE(ui.FilterComboBox1->isHidden());
  EXPECT_EQ(ui.FilterComboBox1->currentIndex(), 0);
  EXPECT_TRUE(ui.FB_preview->isEnabled());
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_TRUE(ui.ShowAllFiles->isChecked());
  EXPECT_EQ(ui.FileListBox1->Mask(), "*.bmp");
  EXPECT_EQ(ui.FileListBox1->ItemCount(), 3);
}

TEST_F(FormCryptTest, LogPageCoversThePageAndLeavesItsControlsAlone) {
  Load("photo.bmp");
  ClickRow(ui.FileListBox1, Row("photo.bmp"));
  ui.ImageEncrypted->SetImage(QImage(4, 4, QImage::Format_RGB32));
  ui.ActivityLog1->trigger();
  EXPECT_EQ(ui.Tab->TabIndex(), kLogPage);
  EXPECT_EQ(ui.HelpPanel->height(), 466);
  EXPECT_EQ(ui.HelpPanel->y(), ui.Tab->HeaderHeight());
  EXPECT_FALSE(ui.ImageEncrypted->HasImage());
  EXPECT_TRUE(ui.ImageOriginal->HasImage()) << "covered, not cleared";
  EXPECT_EQ(ui.ImageName->text(), "photo.bmp");
  EXPECT_TRUE(ui.Ebutton->isEnabled());
  EXPECT_EQ(ui.FileListBox1->SelCount(), 1);
  // Everything underneath is covered.
  const QRect covered = ui.HelpPanel->geometry();
  for (QWidget* w : {static_cast<QWidget*>(ui.FileListBox1),
                     static_cast<QWidget*>(ui.ImageOriginal), static_cast<QWidget*>(ui.Ebutton)}) {
    EXPECT_TRUE(covered.contains(w->geometry())) << w->objectName().toStdString();
  }
  ui.Encrypt1->trigger();
  EXPECT_EQ(ui.HelpPanel->height(), 0);
}

// Tab from the page tabs round the window; every control that took focus.
std::set<QWidget*> TabChain(TFormCrypt* form, const test::TMainControls& ui) {
  form->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(form));
  ui.Tab->Bar()->setFocus();
  std::set<QWidget*> reached;
  for (int i = 0; i < 100 && QApplication::focusWidget(); ++i) {
    reached.insert(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  return reached;
}

TEST_F(FormCryptTest, OnlyTheLogPageReachesItsControlsWithTheKeyboard) {
  Load("photo.bmp");
  const std::vector<QWidget*> logControls = {ui.FlatSpeedButton4, ui.FlatSpeedButton3, ui.FSB_Print,
                                             ui.RichEdit1};
  for (QAction* page : {ui.Encrypt1, ui.Decrypt1}) {
    SCOPED_TRACE(page->objectName().toStdString());
    page->trigger();
    const std::set<QWidget*> reached = TabChain(form, ui);
    EXPECT_TRUE(reached.count(ui.FileListBox1)) << "the walk went round the window";
    for (QWidget* control : logControls) {
      EXPECT_FALSE(reached.count(control)) << control->objectName().toStdString();
    }
  }
  ui.ActivityLog1->trigger();
  const std::set<QWidget*> reached = TabChain(form, ui);
  for (QWidget* control : logControls) {
    EXPECT_TRUE(reached.count(control)) << control->objectName().toStdString();
  }
}

TEST_F(FormCryptTest, SelectionEnablesRunButtonsAndDeselectingLeavesThem) {
  ui.EditSeedEncrypt->setEnabled(false);
  ui.EditSeedDecrypt->setEnabled(false);
  ClickRow(ui.FileListBox1, Row("photo.bmp"));
  EXPECT_TRUE(ui.Ebutton->isEnabled());
  EXPECT_TRUE(ui.Dbutton->isEnabled());
  EXPECT_TRUE(ui.EditSeedEncrypt->isEnabled());
  EXPECT_TRUE(ui.EditSeedDecrypt->isEnabled());
  ClickRow(ui.FileListBox1, Row("photo.bmp"), Qt::ControlModifier);
  ASSERT_EQ(ui.FileListBox1->SelCount(), 0);
  EXPECT_TRUE(ui.Ebutton->isEnabled());
}

TEST_F(FormCryptTest, PreviewButtonFollowsTheListContents) {
  test::TTempFolder empty;
  ui.FileListBox1->SetDirectory(empty.Path());
  EXPECT_FALSE(ui.FB_preview->isEnabled());
  ui.FileListBox1->SetDirectory(folder.Path());
  EXPECT_TRUE(ui.FB_preview->isEnabled());
}

TEST_F(FormCryptTest, ActionMenuFollowsTheButtonsAndThePage) {
  auto openAction = [&] {
    emit ui.Action1->aboutToShow();
    return std::pair{ui.EncryptImages1->isEnabled(), ui.DecryptImages1->isEnabled()};
  };
  EXPECT_EQ(openAction(), std::pair(false, false));
  ClickRow(ui.FileListBox1, Row("photo.bmp"));
  EXPECT_EQ(openAction(), std::pair(true, false));
  ui.ActivityLog1->trigger();
  EXPECT_EQ(openAction(), std::pair(true, true)) << "the Log page follows both buttons";
  ui.Decrypt1->trigger();
  ClickRow(ui.FileListBox1, 0);
  EXPECT_EQ(openAction(), std::pair(false, true));
}

// Which run controls and Action items are enabled in each state the window
// can be brought to.
TEST_F(FormCryptTest, ControlStatesFollowTheWindowsState) {
  using Names = std::set<std::string>;
  struct Window {
    const test::TMainControls& ui;
    test::TScriptedServices& services;

    // The Action items too, without the menu being opened.
    Names Enabled() const {
      Names names;
      for (QWidget* control :
           {static_cast<QWidget*>(ui.Ebutton), static_cast<QWidget*>(ui.Dbutton),
            static_cast<QWidget*>(ui.StopButton), static_cast<QWidget*>(ui.ButtonSave),
            static_cast<QWidget*>(ui.ButtonDecrypt), static_cast<QWidget*>(ui.FB_preview),
            static_cast<QWidget*>(ui.EditSeedEncrypt), static_cast<QWidget*>(ui.EditSeedDecrypt)}) {
        if (control->isEnabled()) names.insert(control->objectName().toStdString());
      }
      for (QAction* item : {ui.EncryptImages1, ui.DecryptImages1}) {
        if (item->isEnabled()) names.insert(item->objectName().toStdString());
      }
      return names;
    }
    int Row(const QString& name) const { return Items(ui.FileListBox1).indexOf(name); }
    void Click(const QString& name, Qt::KeyboardModifiers modifiers = {}) const {
      ClickRow(ui.FileListBox1, Row(name), modifiers);
    }
    void Run(QPushButton* button) const {
      services.dialogs.answers.push_back(true);
      button->click();
    }
    // What is enabled while the run pauses on its first file; `during`
    // acts first.
    Names DuringRun(QPushButton* button, const std::function<void()>& during = {}) const {
      std::optional<Names> seen;
      services.pause.onProcessMessages = [&] {
        if (seen) return;
        if (during) during();
        seen = Enabled();
      };
      Run(button);
      services.pause.onProcessMessages = nullptr;
      return seen.value_or(Names{"the run never paused"});
    }
  };
  const Names selected = {"Ebutton",         "Dbutton",         "FB_preview",
                          "EditSeedEncrypt", "EditSeedDecrypt", "EncryptImages1"};
  const Names afterEncryptRun = {"Ebutton",         "Dbutton",       "ButtonSave",
                                 "ButtonDecrypt",   "FB_preview",    "EditSeedEncrypt",
                                 "EditSeedDecrypt", "EncryptImages1"};
  const Names afterDecryption = {"Ebutton",       "Dbutton",         "ButtonSave",
                                 "ButtonDecrypt", "EditSeedEncrypt", "EditSeedDecrypt",
                                 "DecryptImages1"};
  struct Case {
    const char* state;
    std::function<Names(const Window&)> reach;
    Names enabled;
  };
  const std::vector<Case> cases = {
      {"idle, nothing selected",
       [](const Window& w) { return w.Enabled(); },
       {"FB_preview", "EditSeedEncrypt", "EditSeedDecrypt"}},
      {"files selected",
       [](const Window& w) {
         w.Click("photo.bmp");
         return w.Enabled();
       },
       selected},
      {"selection cleared again",
       [](const Window& w) {
         w.Click("photo.bmp");
         w.Click("photo.bmp", Qt::ControlModifier);
         return w.Enabled();
       },
       selected},
      {"run paused on a file",
       [](const Window& w) {
         w.Click("photo.bmp");
         return w.DuringRun(w.ui.Ebutton);
       },
       {"Ebutton", "Dbutton", "StopButton", "ButtonDecrypt", "FB_preview", "EditSeedEncrypt",
        "EditSeedDecrypt", "EncryptImages1"}},
      {"stop pressed while the run pauses",
       [](const Window& w) {
         w.Click("photo.bmp");
         return w.DuringRun(w.ui.Ebutton, [&w] { w.ui.StopButton->click(); });
       },
       {"Ebutton", "Dbutton", "ButtonDecrypt", "FB_preview", "EditSeedEncrypt", "EditSeedDecrypt",
        "EncryptImages1"}},
      {"run stopped and over",
       [](const Window& w) {
         w.Click("photo.bmp");
         w.DuringRun(w.ui.Ebutton, [&w] { w.ui.StopButton->click(); });
         return w.Enabled();
       },
       afterEncryptRun},
      {"test run over",
       [](const Window& w) {
         w.Click("photo.bmp");
         w.Run(w.ui.Ebutton);
         return w.Enabled();
       },
       afterEncryptRun},
      {"run whose last file failed",
       [](const Window& w) {
         w.Click("damaged.bmp");
         w.Run(w.ui.Ebutton);
         return w.Enabled();
       },
       {"Ebutton", "Dbutton", "FB_preview", "EncryptImages1"}},
      {"files selected after the failed run",
       [](const Window& w) {
         w.Click("damaged.bmp");
         w.Run(w.ui.Ebutton);
         w.Click("photo.bmp", Qt::ControlModifier);
         return w.Enabled();
       },
       selected},
      {"picture loaded after a run",
       [](const Window& w) {
         w.Click("photo.bmp");
         w.Run(w.ui.Ebutton);
         DoubleClickRow(w.ui.FileListBox1, w.Row("photo.bmp"));
         return w.Enabled();
       },
       {"Ebutton", "Dbutton", "ButtonDecrypt", "FB_preview", "EditSeedEncrypt", "EditSeedDecrypt",
        "EncryptImages1"}},
      {"Decrypt page",
       [](const Window& w) {
         w.Click("photo.bmp");
         w.ui.Decrypt1->trigger();
         return w.Enabled();
       },
       {"EditSeedEncrypt", "EditSeedDecrypt"}},
      {"files selected on the Decrypt page",
       [](const Window& w) {
         w.ui.Decrypt1->trigger();
         w.Click("Ecr_scene.bmp");
         return w.Enabled();
       },
       {"Ebutton", "Dbutton", "EditSeedEncrypt", "EditSeedDecrypt", "DecryptImages1"}},
      {"single decryption of a loaded picture",
       [](const Window& w) {
         w.Click("photo.bmp");
         w.Run(w.ui.Ebutton);
         w.ui.Decrypt1->trigger();
         DoubleClickRow(w.ui.FileListBox1, w.Row("Ecr_scene.bmp"));
         w.ui.ButtonDecrypt->click();
         return w.Enabled();
       },
       afterDecryption},
      {"decryption test run over",
       [](const Window& w) {
         w.ui.Decrypt1->trigger();
         w.Click("Ecr_scene.bmp");
         w.Run(w.ui.Dbutton);
         return w.Enabled();
       },
       afterDecryption},
      {"Log page over a selection",
       [](const Window& w) {
         w.Click("photo.bmp");
         w.ui.ActivityLog1->trigger();
         return w.Enabled();
       },
       {"Ebutton", "Dbutton", "FB_preview", "EditSeedEncrypt", "EditSeedDecrypt", "EncryptImages1",
        "DecryptImages1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    const TWindows caseWindows = CreateWindows(services.Services());
    caseWindows.FormCrypt->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(caseWindows.FormCrypt.get()));
    const test::TMainControls controls(*caseWindows.FormCrypt);
    const Window window{controls, services};
    EXPECT_EQ(c.reach(window), c.enabled);
    EXPECT_TRUE(services.dialogs.errors.empty()) << "a failed step is logged, not shown";
  }
}

TEST_F(FormCryptTest, CodeFieldsKeepOnlyTypedDigits) {
  for (QLineEdit* code : {ui.EditSeedEncrypt, ui.EditSeedDecrypt}) {
    code->clear();
    QTest::keyClicks(code, "12a3 4-5.b6");
    EXPECT_EQ(code->text(), "123456") << code->objectName().toStdString();
    QTest::keyClick(code, Qt::Key_Backspace);
    EXPECT_EQ(code->text(), "12345");
    QTest::keyClick(code, Qt::Key_Home);
    QTest::keyClick(code, Qt::Key_Delete);
    EXPECT_EQ(code->text(), "2345");
    // A paste that is not all digits is refused.
    QGuiApplication::clipboard()->setText("9z9");
    code->setEchoMode(QLineEdit::Normal);
    code->paste();
    EXPECT_EQ(code->text(), "2345");
    QGuiApplication::clipboard()->setText("77");
    code->paste();
    EXPECT_EQ(code->text(), "772345");
  }
}

TEST_F(FormCryptTest, CodeFieldsTakeTheEditingShortcuts) {
  for (QLineEdit* code : {ui.EditSeedEncrypt, ui.EditSeedDecrypt}) {
    SCOPED_TRACE(code->objectName().toStdString());
    code->setEchoMode(QLineEdit::Normal);  // hidden text cannot be copied
    code->setText("2345");
    code->setFocus();
    QTest::keyClick(code, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(code->selectedText(), "2345");
    QTest::keyClick(code, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "2345");
    QTest::keyClick(code, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(code->text(), "");
    QTest::keyClick(code, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(code->text(), "2345");
    QTest::keyClick(code, Qt::Key_End);
    QTest::keyClick(code, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(code->text(), "23452345");
    // Typed letters are still refused.
    QTest::keyClicks(code, "q7");
    EXPECT_EQ(code->text(), "234523457");
  }
}

TEST_F(FormCryptTest, RevealCodesTogglesBothFields) {
  ui.RevealCodes1->trigger();
  EXPECT_TRUE(ui.RevealCodes1->isChecked());
  EXPECT_EQ(ui.EditSeedEncrypt->displayText(), "614052");
  EXPECT_EQ(ui.EditSeedDecrypt->displayText(), "614052");
  ui.RevealCodes1->trigger();
  EXPECT_FALSE(ui.RevealCodes1->isChecked());
  EXPECT_EQ(ui.EditSeedEncrypt->displayText(), "******");
  EXPECT_EQ(ui.EditSeedDecrypt->displayText(), "******");
}

TEST_F(FormCryptTest, StretchedModeAppliesToAllThreePanes) {
  Load("photo.bmp");
  const QImage picture = ui.ImageOriginal->Image();
  ASSERT_EQ(picture.size(), QSize(127, 64));
  QTest::mouseClick(ui.CheckBoxStretch, Qt::LeftButton, {},
                    QPoint(6, ui.CheckBoxStretch->height() / 2));
  ASSERT_FALSE(ui.CheckBoxStretch->isChecked());
  for (TImage* pane : {ui.ImageOriginal, ui.ImageEncrypted, ui.ImageDecrypted}) {
    EXPECT_FALSE(pane->Stretch());
  }
  // Natural size from the top-left corner, the rest of the pane empty.
  QImage natural = ui.ImageOriginal->Rendered();
  EXPECT_EQ(natural.pixel(0, 0), picture.pixel(0, 0));
  EXPECT_EQ(natural.pixel(126, 63), picture.pixel(126, 63));
  EXPECT_EQ(natural.pixel(200, 150), ui.ImageOriginal->palette().color(QPalette::Window).rgb());

  QTest::mouseClick(ui.CheckBoxStretch, Qt::LeftButton, {},
                    QPoint(6, ui.CheckBoxStretch->height() / 2));
  for (TImage* pane : {ui.ImageOriginal, ui.ImageEncrypted, ui.ImageDecrypted}) {
    EXPECT_TRUE(pane->Stretch());
  }
  const QImage stretched = ui.ImageOriginal->Rendered();
  EXPECT_EQ(stretched.size(), QSize(231, 185)) << "the pane inside its frame";
  EXPECT_NE(stretched.pixel(200, 150), ui.ImageOriginal->palette().color(QPalette::Window).rgb());
}

TEST_F(FormCryptTest, ExitAsksAndNoKeepsEverything) {
  ClickRow(ui.FileListBox1, Row("photo.bmp"));
  services.dialogs.answers = {false};
  ui.Exit1->trigger();
  ASSERT_EQ(services.dialogs.confirmations.size(), 1u);
  EXPECT_EQ(services.dialogs.confirmations[0], " \n     Are you ready to exit?          ");
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(ui.Ebutton->isEnabled());
  EXPECT_EQ(ui.FileListBox1->SelCount(), 1);

  services.dialogs.answers = {true};
  form->close();  // the title bar's button asks too
  EXPECT_EQ(services.dialogs.confirmations.size(), 2u);
  EXPECT_FALSE(form->isVisible());
}

TEST(ErrorBoxText, AppendsAFullStopAfterCharactersThatSortAfterIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"Bitmap image is not valid", "Bitmap image is not valid."},
      {"Stream read error.", "Stream read error."},
      {"Attempt to register %s twice.", "Attempt to register %s twice."},
      {"LZ77 decompression error.", "LZ77 decompression error."},
      {"done!", "done!"},   // '!' sorts before '.'
      {"(x)", "(x)"},       // ')' too
      {"a-", "a-"},         // '-' too
      {"path/", "path/."},  // '/' sorts after '.'
      {"I/O error 21", "I/O error 21."},
      {"", ""},
  };
  for (const auto& [message, shown] : cases) {
    EXPECT_EQ(ErrorBoxText(message), shown) << message;
  }
}

TEST_F(FormCryptTest, DoubleClickShowsThePictureWithItsName) {
  ClickRow(ui.FileListBox1, Row("photo.bmp"));
  ui.ImageEncrypted->SetImage(QImage(4, 4, QImage::Format_RGB32));
  ui.ButtonSave->setEnabled(true);
  Load("photo.bmp");
  EXPECT_EQ(ui.ImageName->text(), "photo.bmp");
  ASSERT_NE(form->WorkingBitmap, nullptr);
  EXPECT_EQ(form->WorkingBitmap->ImageWidth(), 127);
  EXPECT_EQ(form->WorkingBitmap->ImageHeight(), 64);
  const auto* held = dynamic_cast<const TBitmap*>(ui.ImageOriginal->Graphic());
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->ImageWidth(), 127);
  const QImage shown = ui.ImageOriginal->Image();
  EXPECT_EQ(shown.pixel(10, 5) & 0xFFFFFF, form->WorkingBitmap->PixelColor(10, 5));
  EXPECT_FALSE(ui.ImageEncrypted->HasImage());
  EXPECT_FALSE(ui.ButtonSave->isEnabled());
  EXPECT_TRUE(services.dialogs.errors.empty());
}

TEST_F(FormCryptTest, DoubleClickShowsPicturesOfOtherFormats) {
  folder.Copy("jpeg/hopper.jpg", "hopper.jpg");
  ui.FileListBox1->ReRead();
  Load("hopper.jpg");
  ASSERT_TRUE(services.dialogs.errors.empty());
  EXPECT_EQ(ui.ImageName->text(), "hopper.jpg");
  ASSERT_NE(form->WorkingBitmap, nullptr);
  EXPECT_EQ(form->WorkingBitmap->Layout(), PixelLayout::Bits24);
  EXPECT_EQ(ui.ImageOriginal->Image().size(), QSize(128, 128));
  EXPECT_EQ(ui.ImageOriginal->Image().pixel(64, 64) & 0xFFFFFF,
            form->WorkingBitmap->PixelColor(64, 64));
}

TEST_F(FormCryptTest, AFailedLoadReachesTheErrorBoxAndTheWindowGoesOn) {
  Load("photo.bmp");
  // A test run leaves a result to save.
  services.dialogs.answers.push_back(true);
  ui.Ebutton->click();
  ASSERT_TRUE(ui.ButtonSave->isEnabled());
  QString message;
  try {
    TPicture picture;
    std::unique_ptr<TBitmap> probe;
    LoadPictureFile(folder / "damaged.bmp", picture, probe);
  } catch (const Exception& error) {
    message = QString::fromStdString(error.Message());
  }
  ASSERT_FALSE(message.isEmpty());
  Load("damaged.bmp");
  ASSERT_EQ(services.dialogs.errors.size(), 1u);
  EXPECT_EQ(services.dialogs.errors[0], ErrorBoxText(message));
  EXPECT_EQ(ui.ImageName->text(), "damaged.bmp");
  EXPECT_TRUE(ui.ButtonSave->isEnabled()) << "the load ended before its last steps";
  ASSERT_NE(form->WorkingBitmap, nullptr);
  EXPECT_TRUE(form->WorkingBitmap->IsEmpty());
  Load("photo.bmp");
  EXPECT_EQ(ui.ImageName->text(), "photo.bmp");
  EXPECT_EQ(services.dialogs.errors.size(), 1u);
}

TEST_F(FormCryptTest, HelpOpensTheDocumentBesideTheProgram) {
  ui.Help1->trigger();
  ASSERT_EQ(services.dialogs.informations.size(), 1u);
  EXPECT_EQ(services.dialogs.informations[0], "The help file is missing or is unaccessible.");
  EXPECT_TRUE(services.shell.documents.empty());

  folder.File("quorvexhelp.html", "<html></html>");
  ui.Help1->trigger();
  ASSERT_EQ(services.shell.documents.size(), 1u);
  EXPECT_EQ(services.shell.documents[0].first.toStdString(), folder / "quorvexhelp.html");
  EXPECT_EQ(services.shell.documents[0].second.toStdString(), folder.Path() + "/");
  EXPECT_EQ(services.dialogs.informations.size(), 1u);
}

TEST_F(FormCryptTest, PaneDoubleClickStartsTheViewerWithTheTreePath) {
  QTest::mouseDClick(ui.ImageOriginal, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_TRUE(services.shell.programs.empty()) << "nothing shown, nothing started";

  folder.Folder("my pictures");
  folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "my pictures/a b.bmp");
  ui.FileListBox1->SetDirectory(folder / "my pictures");
  QTreeWidgetItem* node = ui.DirectoryOutline1->currentItem();
  node->setExpanded(true);
  ASSERT_EQ(node->childCount(), 1);
  ui.DirectoryOutline1->setCurrentItem(node->child(0));
  ASSERT_EQ(ui.DirectoryOutline1->Directory(), folder / "my pictures");
  Load("a b.bmp");
  QTest::mouseDClick(ui.ImageOriginal, Qt::LeftButton, {}, QPoint(20, 20));
  ASSERT_EQ(services.shell.programs.size(), 1u);
  const auto& start = services.shell.programs[0];
  EXPECT_EQ(start.program.toStdString(), folder / "Vuelet");
  EXPECT_EQ(start.arguments, QStringList{QString::fromStdString(folder / "my pictures/a b.bmp")})
      << "one argument, blanks and all";
  EXPECT_EQ(start.workingDirectory.toStdString(), folder.Path() + "/");

  // With the current directory moved away, the bare name is not found.
  SetCurrentDirectoryPath(folder.Path());
  form->ImageOriginalDblClick();
  EXPECT_EQ(services.shell.programs.size(), 1u);
  // A file of that name in the current directory starts the viewer with
  // the tree's path all the same.
  folder.File("a b.bmp");
  form->ImageOriginalDblClick();
  ASSERT_EQ(services.shell.programs.size(), 2u);
  EXPECT_EQ(services.shell.programs[1].arguments[0].toStdString(), folder / "my pictures/a b.bmp");
}

TEST_F(FormCryptTest, WebLinksOpenTheProjectsPages) {
  ui.TallowenWebSite1->trigger();
  ui.OnLineSupport1->trigger();
  EXPECT_EQ(services.shell.urls, std::vector<QString>({QUORVEX_HOME_PAGE, QUORVEX_SUPPORT_PAGE}));
  // Real addresses: no reserved example domain, and the menu shows the
  // address the item opens.
  for (const QString& url : services.shell.urls) {
    const QString host = QUrl(url).host();
    EXPECT_TRUE(QUrl(url).isValid() && !host.isEmpty()) << url.toStdString();
    for (const char* reserved : {"example.org", "example.com", "example.net", ".example", ".test",
                                 ".invalid", "localhost"}) {
      EXPECT_FALSE(host.endsWith(reserved) || host == QString(reserved).mid(1))
          << url.toStdString();
    }
  }
  EXPECT_TRUE(QString(QUORVEX_HOME_PAGE).endsWith(ui.TallowenWebSite1->text()));
}

TEST_F(FormCryptTest, AboutShowsTheAboutBoxModally) {
  ui.About2->trigger();
  ASSERT_EQ(services.dialogs.modalShown.size(), 1u);
  EXPECT_EQ(services.dialogs.modalShown[0], windows.AboutBox.get());
}

TEST_F(FormCryptTest, PrinterSetupGoesThroughTheDialogs) {
  ui.PrinterSetup1->trigger();
  EXPECT_EQ(services.dialogs.printerSetups, 1);
}

TEST_F(FormCryptTest, PreviewButtonShowsTheGalleryModally) {
  QDialog gallery;
  form->SetCompanions(windows.AboutBox.get(), windows.DirectoryForm.get(), &gallery);
  QTest::mouseClick(ui.FB_preview, Qt::LeftButton);
  ASSERT_EQ(services.dialogs.modalShown.size(), 1u);
  EXPECT_EQ(services.dialogs.modalShown[0], &gallery);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace quorvex
