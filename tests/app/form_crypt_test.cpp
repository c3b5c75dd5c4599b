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
#include <set>

#include "app/application.h"
#include "app/directory_outline.h"
#include "app/filter_combo_box.h"
#include "app/image.h"
#include "app/image_filter.h"
#include "app/picture_file.h"
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
    form->SetProgramFolder(QString::fromStdString(folder.Path()));
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  }

  int Row(const QString& name) const { return Items(form->FileListBox1).indexOf(name); }
  // Loads a file as a double-click does.
  void Load(const QString& name) { DoubleClickRow(form->FileListBox1, Row(name)); }

  test::TTempFolder folder;
  test::TScriptedServices services;
  TWindows windows;
  TFormCrypt* form = nullptr;
};

TEST_F(FormCryptTest, StartsInTheDesignedState) {
  EXPECT_EQ(form->windowTitle(), "  Quorvex");
  EXPECT_EQ(form->centralWidget()->size(), QSize(782, 537));
  EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "not resizable";
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form->DirLabel->text().toStdString(), folder.Path());
  EXPECT_TRUE(form->Tab->Bar()->hasFocus());
  EXPECT_EQ(form->Tab->TabIndex(), kEncryptPage);
  EXPECT_EQ(form->Tab->Bar()->tabText(0), "Encrypt");
  EXPECT_EQ(form->Tab->Bar()->tabText(1), "Decrypt");
  EXPECT_EQ(form->Tab->Bar()->tabText(2), "Log");

  for (QPushButton* button :
       {form->Ebutton, form->Dbutton, form->StopButton, form->ButtonSave, form->ButtonDecrypt}) {
    EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
  }
  EXPECT_TRUE(form->Dbutton->isHidden());
  EXPECT_TRUE(form->DecryptPanel->isHidden());
  EXPECT_EQ(form->Dbutton->geometry(), form->Ebutton->geometry());
  for (QLineEdit* code : {form->EditSeedEncrypt, form->EditSeedDecrypt}) {
    EXPECT_TRUE(code->isEnabled());
    EXPECT_EQ(code->text(), "614052");
    EXPECT_EQ(code->echoMode(), QLineEdit::Password);
    EXPECT_EQ(code->displayText(), "******");
    EXPECT_EQ(code->maxLength(), 32767) << "no length limit of its own";
  }
  EXPECT_FALSE(form->RevealCodes1->isChecked());
  EXPECT_TRUE(form->FB_preview->isEnabled());
  EXPECT_EQ(form->FileListBox1->Mask(), AllImagesMask());
  EXPECT_EQ(Items(form->FileListBox1), QStringList({"damaged.bmp", "Ecr_scene.bmp", "photo.bmp"}));
  EXPECT_TRUE(form->CheckBoxStretch->isChecked());
  EXPECT_FALSE(form->ShowAllFiles->isChecked());
  EXPECT_TRUE(form->EncryptOnly->isChecked());
  EXPECT_FALSE(form->EncryptAndSave->isChecked());
  EXPECT_FALSE(form->EncryptAndDelete->isChecked());
  EXPECT_EQ(form->StopLabel->text(), "0");
  EXPECT_TRUE(form->StopLabel->isHidden());
  EXPECT_TRUE(form->originalfile->isHidden());
  EXPECT_EQ(form->HelpPanel->height(), 0);
  EXPECT_FALSE(form->Led1->Lit());
  EXPECT_EQ(form->FlatGauge1->Progress(), 0);
  EXPECT_TRUE(form->ImageName->text().isEmpty());
  EXPECT_FALSE(form->ImageOriginal->HasImage());
  EXPECT_TRUE(form->ImageOriginal->Stretch());

  // Captions, hints and sizes.
  EXPECT_EQ(form->FlatSpeedButton2->text(), "----");
  EXPECT_EQ(form->FlatSpeedButton2->toolTip(), "Set destination directory");
  EXPECT_EQ(form->DestinationCaption->text(), "Destination Directory:");
  EXPECT_EQ(form->FB_preview->text(), "Preview All Images");
  EXPECT_EQ(form->CheckBoxStretch->text(), "Stretched Mode");
  EXPECT_EQ(form->EncryptionCodeBox->title(), "Encryption Code");
  EXPECT_EQ(form->DecryptionCodeBox->title(), "Decryption Code");
  EXPECT_EQ(form->Mode->title(), "Mode");
  EXPECT_EQ(form->EncryptOnly->text(), "Test run");
  EXPECT_EQ(form->EncryptOnly->toolTip(), "Test run only.");
  EXPECT_EQ(form->EncryptAndSave->text(), "Process/Save");
  EXPECT_EQ(form->EncryptAndSave->toolTip(), "Process images and preserve  originals.");
  EXPECT_EQ(form->EncryptAndDelete->text(), "Process/Delete");
  EXPECT_EQ(form->EncryptAndDelete->toolTip(), "Process images and  delete originals. ");
  EXPECT_EQ(form->Ebutton->text(), "Encrypt");
  EXPECT_EQ(form->Ebutton->toolTip(), "Encrypt selected image(s)");
  EXPECT_EQ(form->Dbutton->text(), "Decrypt");
  EXPECT_EQ(form->Dbutton->toolTip(), "Decrypt selected image(s)");
  EXPECT_TRUE(form->StopButton->text().isEmpty());
  EXPECT_FALSE(form->StopButton->icon().isNull());
  EXPECT_EQ(form->StopButton->toolTip(), "Stop the execution");
  EXPECT_EQ(form->ButtonSave->text(), "Save");
  EXPECT_EQ(form->ButtonSave->toolTip(), "Save an individual image");
  EXPECT_EQ(form->ButtonDecrypt->text(), "Decyrpt");
  EXPECT_EQ(form->ShowAllFiles->text(), "Show all <bmp> files");
  EXPECT_EQ(form->OriginalCaption->text(), "Original Image >>");
  EXPECT_EQ(form->EncryptedCaption->text(), "Encrypted Image >>");
  EXPECT_EQ(form->DecryptedCaption->text(), "Decrypted Image >>");
  EXPECT_EQ(form->ImageSelectionCaption->text(), "Image Selection");
  EXPECT_EQ(form->InstructionArrow->text(), "<< File List Box");
  EXPECT_EQ(form->FlatSpeedButton4->text(), "Clear");
  EXPECT_EQ(form->FlatSpeedButton3->text(), "Save");
  EXPECT_EQ(form->FSB_Print->text(), "Print");
  EXPECT_EQ(form->ImageOriginal->size(), QSize(233, 187));
  EXPECT_EQ(form->ImageEncrypted->size(), QSize(233, 179));
  EXPECT_EQ(form->ImageDecrypted->size(), QSize(233, 179));
  // The Decrypt page's controls lie exactly over their counterparts.
  const QPoint panel = form->DecryptPanel->pos();
  EXPECT_EQ(form->ImageDecrypted->geometry().translated(panel), form->ImageEncrypted->geometry());
  EXPECT_EQ(form->DecryptionCodeBox->geometry().translated(panel),
            form->EncryptionCodeBox->geometry());
  EXPECT_EQ(form->DecryptedCaption->geometry().translated(panel),
            form->EncryptedCaption->geometry().translated(0, -2 + 2));
  // "Decyrpt" sits below the panel's 219 pixels: never seen.
  EXPECT_EQ(form->DecryptPanel->height(), 219);
  EXPECT_EQ(form->ButtonDecrypt->y(), 225);
}

TEST_F(FormCryptTest, MenuHoldsEveryItemInOrder) {
  struct Menu {
    QMenu* menu;
    QString title;
    QStringList items;  // "-" is a separator
  };
  const Menu menus[] = {
      {form->File1,
       "File",
       {"Destination Directory", "-", "Printer Setup", "Print Log", "-", "Exit"}},
      {form->Page1,
       "Page",
       {"Encryption Page", "Decryption Page", "-", "Activity Log", "-", "Refresh"}},
      {form->Action1,
       "Action",
       {"Encrypt Image(s)", "Decrypt Image(s)", "-", "Reveal Codes", "Seal Whole Files"}},
      {form->About1, "Help", {"Help", "-", "On-Line Support", QUORVEX_HOME_ADDRESS, "-", "About"}},
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
  EXPECT_TRUE(form->RevealCodes1->isCheckable());
}

TEST_F(FormCryptTest, EncryptionPageFromTheMenuSetsThePageUpAgainButTheTabDoesNot) {
  Load("photo.bmp");
  ClickRow(form->FileListBox1, Row("photo.bmp"));
  ASSERT_TRUE(form->ImageOriginal->HasImage());
  ASSERT_EQ(form->ImageName->text(), "photo.bmp");
  ASSERT_TRUE(form->Ebutton->isEnabled());
  form->ImageEncrypted->SetImage(QImage(4, 4, QImage::Format_RGB32));

  // A click on the tab already shown changes nothing.
  QTabBar* bar = form->Tab->Bar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
  EXPECT_EQ(form->ImageName->text(), "photo.bmp");
  EXPECT_TRUE(form->ImageOriginal->HasImage());
  EXPECT_TRUE(form->ImageEncrypted->HasImage());
  EXPECT_TRUE(form->Ebutton->isEnabled());
  EXPECT_EQ(form->FileListBox1->SelCount(), 1);

  // The menu raises the page change all the same.
  form->Encrypt1->trigger();
  EXPECT_TRUE(form->ImageName->text().isEmpty());
  EXPECT_FALSE(form->ImageOriginal->HasImage());
  EXPECT_FALSE(form->ImageEncrypted->HasImage());
  EXPECT_FALSE(form->Ebutton->isEnabled());
  EXPECT_FALSE(form->Dbutton->isEnabled());
  EXPECT_FALSE(form->ButtonSave->isEnabled());
  EXPECT_EQ(form->FileListBox1->SelCount(), 0) << "the list was read again";
  EXPECT_NE(form->WorkingBitmap, nullptr) << "a page change keeps the bitmaps";
}

TEST_F(FormCryptTest, DecryptPageShowsScrambledFilesAndKeepsShowAll) {
  QTabBar* bar = form->Tab->Bar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_EQ(form->Tab->TabIndex(), kDecryptPage);
  EXPECT_FALSE(form->DecryptPanel->isHidden());
  EXPECT_FALSE(form->Dbutton->isHidden());
  EXPECT_TRUE(form->FilterComboBox1->isHidden());
  EXPECT_FALSE(form->FB_preview->isEnabled()) << "disabled on the Decrypt page in any case";
  EXPECT_EQ(form->FileListBox1->Mask(), "Ecr_*.bmp");
  EXPECT_EQ(Items(form->FileListBox1), QStringList({"Ecr_scene.bmp"}));

  QTest::mouseClick(form->ShowAllFiles, Qt::LeftButton, {},
                    QPoint(6, form->ShowAllFiles->height() / 2));
  ASSERT_TRUE(form->ShowAllFiles->isChecked());
  EXPECT_EQ(form->FileListBox1->Mask(), "*.bmp");
  EXPECT_EQ(Items(form->FileListBox1), QStringList({"damaged.bmp", "Ecr_scene.bmp", "photo.bmp"}));

  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
  EXPECT_TRUE(form->DecryptPanel->isHidden());
  EXPECT_TRUE(form->Dbutton->isHidden());
  EXPECT_FALSE(form->FilterComboBox1->isHidden());
  EXPECT_EQ(form->FilterComboBox1->currentIndex(), 0);
  EXPECT_TRUE(form->FB_preview->isEnabled());
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_TRUE(form->ShowAllFiles->isChecked());
  EXPECT_EQ(form->FileListBox1->Mask(), "*.bmp");
  EXPECT_EQ(form->FileListBox1->ItemCount(), 3);
}

TEST_F(FormCryptTest, LogPageCoversThePageAndLeavesItsControlsAlone) {
  Load("photo.bmp");
  ClickRow(form->FileListBox1, Row("photo.bmp"));
  form->ImageEncrypted->SetImage(QImage(4, 4, QImage::Format_RGB32));
  form->ActivityLog1->trigger();
  EXPECT_EQ(form->Tab->TabIndex(), kLogPage);
  EXPECT_EQ(form->HelpPanel->height(), 466);
  EXPECT_EQ(form->HelpPanel->y(), form->Tab->HeaderHeight());
  EXPECT_FALSE(form->ImageEncrypted->HasImage());
  EXPECT_TRUE(form->ImageOriginal->HasImage()) << "covered, not cleared";
  EXPECT_EQ(form->ImageName->text(), "photo.bmp");
  EXPECT_TRUE(form->Ebutton->isEnabled());
  EXPECT_EQ(form->FileListBox1->SelCount(), 1);
  // Everything underneath is covered.
  const QRect covered = form->HelpPanel->geometry();
  for (QWidget* w :
       {static_cast<QWidget*>(form->FileListBox1), static_cast<QWidget*>(form->ImageOriginal),
        static_cast<QWidget*>(form->Ebutton)}) {
    EXPECT_TRUE(covered.contains(w->geometry())) << w->objectName().toStdString();
  }
  form->Encrypt1->trigger();
  EXPECT_EQ(form->HelpPanel->height(), 0);
}

// Tab from the page tabs round the window; every control that took focus.
std::set<QWidget*> TabChain(TFormCrypt* form) {
  form->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(form));
  form->Tab->Bar()->setFocus();
  std::set<QWidget*> reached;
  for (int i = 0; i < 100 && QApplication::focusWidget(); ++i) {
    reached.insert(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  return reached;
}

TEST_F(FormCryptTest, OnlyTheLogPageReachesItsControlsWithTheKeyboard) {
  Load("photo.bmp");
  const std::vector<QWidget*> logControls = {form->FlatSpeedButton4, form->FlatSpeedButton3,
                                             form->FSB_Print, form->RichEdit1};
  for (QAction* page : {form->Encrypt1, form->Decrypt1}) {
    SCOPED_TRACE(page->objectName().toStdString());
    page->trigger();
    const std::set<QWidget*> reached = TabChain(form);
    EXPECT_TRUE(reached.count(form->FileListBox1)) << "the walk went round the window";
    for (QWidget* control : logControls) {
      EXPECT_FALSE(reached.count(control)) << control->objectName().toStdString();
    }
  }
  form->ActivityLog1->trigger();
  const std::set<QWidget*> reached = TabChain(form);
  for (QWidget* control : logControls) {
    EXPECT_TRUE(reached.count(control)) << control->objectName().toStdString();
  }
}

TEST_F(FormCryptTest, SelectionEnablesRunButtonsAndDeselectingLeavesThem) {
  form->EditSeedEncrypt->setEnabled(false);
  form->EditSeedDecrypt->setEnabled(false);
  ClickRow(form->FileListBox1, Row("photo.bmp"));
  EXPECT_TRUE(form->Ebutton->isEnabled());
  EXPECT_TRUE(form->Dbutton->isEnabled());
  EXPECT_TRUE(form->EditSeedEncrypt->isEnabled());
  EXPECT_TRUE(form->EditSeedDecrypt->isEnabled());
  ClickRow(form->FileListBox1, Row("photo.bmp"), Qt::ControlModifier);
  ASSERT_EQ(form->FileListBox1->SelCount(), 0);
  EXPECT_TRUE(form->Ebutton->isEnabled());
}

TEST_F(FormCryptTest, PreviewButtonFollowsTheListContents) {
  test::TTempFolder empty;
  form->FileListBox1->SetDirectory(empty.Path());
  EXPECT_FALSE(form->FB_preview->isEnabled());
  form->FileListBox1->SetDirectory(folder.Path());
  EXPECT_TRUE(form->FB_preview->isEnabled());
}

TEST_F(FormCryptTest, ActionMenuFollowsTheButtonsAndThePage) {
  auto openAction = [&] {
    emit form->Action1->aboutToShow();
    return std::pair{form->EncryptImages1->isEnabled(), form->DecryptImages1->isEnabled()};
  };
  EXPECT_EQ(openAction(), std::pair(false, false));
  ClickRow(form->FileListBox1, Row("photo.bmp"));
  EXPECT_EQ(openAction(), std::pair(true, false));
  form->ActivityLog1->trigger();
  EXPECT_EQ(openAction(), std::pair(true, true)) << "the Log page follows both buttons";
  form->Decrypt1->trigger();
  ClickRow(form->FileListBox1, 0);
  EXPECT_EQ(openAction(), std::pair(false, true));
}

TEST_F(FormCryptTest, CodeFieldsKeepOnlyTypedDigits) {
  for (QLineEdit* code : {form->EditSeedEncrypt, form->EditSeedDecrypt}) {
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
  for (QLineEdit* code : {form->EditSeedEncrypt, form->EditSeedDecrypt}) {
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
  form->RevealCodes1->trigger();
  EXPECT_TRUE(form->RevealCodes1->isChecked());
  EXPECT_EQ(form->EditSeedEncrypt->displayText(), "614052");
  EXPECT_EQ(form->EditSeedDecrypt->displayText(), "614052");
  form->RevealCodes1->trigger();
  EXPECT_FALSE(form->RevealCodes1->isChecked());
  EXPECT_EQ(form->EditSeedEncrypt->displayText(), "******");
  EXPECT_EQ(form->EditSeedDecrypt->displayText(), "******");
}

TEST_F(FormCryptTest, StretchedModeAppliesToAllThreePanes) {
  Load("photo.bmp");
  const QImage picture = form->ImageOriginal->Image();
  ASSERT_EQ(picture.size(), QSize(127, 64));
  QTest::mouseClick(form->CheckBoxStretch, Qt::LeftButton, {},
                    QPoint(6, form->CheckBoxStretch->height() / 2));
  ASSERT_FALSE(form->CheckBoxStretch->isChecked());
  for (TImage* pane : {form->ImageOriginal, form->ImageEncrypted, form->ImageDecrypted}) {
    EXPECT_FALSE(pane->Stretch());
  }
  // Natural size from the top-left corner, the rest of the pane empty.
  QImage natural = form->ImageOriginal->Rendered();
  EXPECT_EQ(natural.pixel(0, 0), picture.pixel(0, 0));
  EXPECT_EQ(natural.pixel(126, 63), picture.pixel(126, 63));
  EXPECT_EQ(natural.pixel(200, 150), form->ImageOriginal->palette().color(QPalette::Window).rgb());

  QTest::mouseClick(form->CheckBoxStretch, Qt::LeftButton, {},
                    QPoint(6, form->CheckBoxStretch->height() / 2));
  for (TImage* pane : {form->ImageOriginal, form->ImageEncrypted, form->ImageDecrypted}) {
    EXPECT_TRUE(pane->Stretch());
  }
  const QImage stretched = form->ImageOriginal->Rendered();
  EXPECT_EQ(stretched.size(), QSize(231, 185)) << "the pane inside its frame";
  EXPECT_NE(stretched.pixel(200, 150),
            form->ImageOriginal->palette().color(QPalette::Window).rgb());
}

TEST_F(FormCryptTest, ExitAsksAndNoKeepsEverything) {
  ClickRow(form->FileListBox1, Row("photo.bmp"));
  services.dialogs.answers = {false};
  form->Exit1->trigger();
  ASSERT_EQ(services.dialogs.confirmations.size(), 1u);
  EXPECT_EQ(services.dialogs.confirmations[0], " \n     Are you ready to exit?          ");
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->Ebutton->isEnabled());
  EXPECT_EQ(form->FileListBox1->SelCount(), 1);

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
  ClickRow(form->FileListBox1, Row("photo.bmp"));
  form->ImageEncrypted->SetImage(QImage(4, 4, QImage::Format_RGB32));
  form->ButtonSave->setEnabled(true);
  Load("photo.bmp");
  EXPECT_EQ(form->ImageName->text(), "photo.bmp");
  ASSERT_NE(form->WorkingBitmap, nullptr);
  EXPECT_EQ(form->WorkingBitmap->ImageWidth(), 127);
  EXPECT_EQ(form->WorkingBitmap->ImageHeight(), 64);
  const auto* held = dynamic_cast<const TBitmap*>(form->ImageOriginal->Graphic());
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->ImageWidth(), 127);
  const QImage shown = form->ImageOriginal->Image();
  EXPECT_EQ(shown.pixel(10, 5) & 0xFFFFFF, form->WorkingBitmap->PixelColor(10, 5));
  EXPECT_FALSE(form->ImageEncrypted->HasImage());
  EXPECT_FALSE(form->ButtonSave->isEnabled());
  EXPECT_TRUE(services.dialogs.errors.empty());
}

TEST_F(FormCryptTest, DoubleClickShowsPicturesOfOtherFormats) {
  folder.Copy("jpeg/hopper.jpg", "hopper.jpg");
  form->FileListBox1->ReRead();
  Load("hopper.jpg");
  ASSERT_TRUE(services.dialogs.errors.empty());
  EXPECT_EQ(form->ImageName->text(), "hopper.jpg");
  ASSERT_NE(form->WorkingBitmap, nullptr);
  EXPECT_EQ(form->WorkingBitmap->Layout(), PixelLayout::Bits24);
  EXPECT_EQ(form->ImageOriginal->Image().size(), QSize(128, 128));
  EXPECT_EQ(form->ImageOriginal->Image().pixel(64, 64) & 0xFFFFFF,
            form->WorkingBitmap->PixelColor(64, 64));
}

TEST_F(FormCryptTest, AFailedLoadReachesTheErrorBoxAndTheWindowGoesOn) {
  Load("photo.bmp");
  form->ButtonSave->setEnabled(true);
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
  EXPECT_EQ(form->ImageName->text(), "damaged.bmp");
  EXPECT_TRUE(form->ButtonSave->isEnabled()) << "the load ended before its last steps";
  ASSERT_NE(form->WorkingBitmap, nullptr);
  EXPECT_TRUE(form->WorkingBitmap->IsEmpty());
  Load("photo.bmp");
  EXPECT_EQ(form->ImageName->text(), "photo.bmp");
  EXPECT_EQ(services.dialogs.errors.size(), 1u);
}

TEST_F(FormCryptTest, HelpOpensTheDocumentBesideTheProgram) {
  form->Help1->trigger();
  ASSERT_EQ(services.dialogs.informations.size(), 1u);
  EXPECT_EQ(services.dialogs.informations[0], "The help file is missing or is unaccessible.");
  EXPECT_TRUE(services.shell.documents.empty());

  folder.File("quorvexhelp.html", "<html></html>");
  form->Help1->trigger();
  ASSERT_EQ(services.shell.documents.size(), 1u);
  EXPECT_EQ(services.shell.documents[0].first.toStdString(), folder / "quorvexhelp.html");
  EXPECT_EQ(services.shell.documents[0].second.toStdString(), folder.Path() + "/");
  EXPECT_EQ(services.dialogs.informations.size(), 1u);
}

TEST_F(FormCryptTest, PaneDoubleClickStartsTheViewerWithTheTreePath) {
  QTest::mouseDClick(form->ImageOriginal, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_TRUE(services.shell.programs.empty()) << "nothing shown, nothing started";

  folder.Folder("my pictures");
  folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "my pictures/a b.bmp");
  form->FileListBox1->SetDirectory(folder / "my pictures");
  QTreeWidgetItem* node = form->DirectoryOutline1->currentItem();
  node->setExpanded(true);
  ASSERT_EQ(node->childCount(), 1);
  form->DirectoryOutline1->setCurrentItem(node->child(0));
  ASSERT_EQ(form->DirectoryOutline1->Directory(), folder / "my pictures");
  Load("a b.bmp");
  QTest::mouseDClick(form->ImageOriginal, Qt::LeftButton, {}, QPoint(20, 20));
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
  form->TallowenWebSite1->trigger();
  form->OnLineSupport1->trigger();
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
  EXPECT_TRUE(QString(QUORVEX_HOME_PAGE).endsWith(form->TallowenWebSite1->text()));
}

TEST_F(FormCryptTest, AboutShowsTheAboutBoxModally) {
  form->About2->trigger();
  ASSERT_EQ(services.dialogs.modalShown.size(), 1u);
  EXPECT_EQ(services.dialogs.modalShown[0], windows.AboutBox.get());
}

TEST_F(FormCryptTest, PrinterSetupGoesThroughTheDialogs) {
  form->PrinterSetup1->trigger();
  EXPECT_EQ(services.dialogs.printerSetups, 1);
}

TEST_F(FormCryptTest, PreviewButtonShowsTheGalleryModally) {
  QDialog gallery;
  form->SetCompanions(windows.AboutBox.get(), windows.DirectoryForm.get(), &gallery);
  QTest::mouseClick(form->FB_preview, Qt::LeftButton);
  ASSERT_EQ(services.dialogs.modalShown.size(), 1u);
  EXPECT_EQ(services.dialogs.modalShown[0], &gallery);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace quorvex
