// The main window as users of other Qt programs expect it: visible focus,
// page keys, steady captions, tips for clipped names, folders read again,
// names that are not UTF-8, and pictures handed over by the desktop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTextEdit>
#include <QToolTip>
#include <QTreeWidgetItem>
#include <QUrl>

#include "app/directory_form.h"
#include "app/directory_list_box.h"
#include "app/directory_outline.h"
#include "app/drive_combo_box.h"
#include "app/filter_combo_box.h"
#include "app/form_crypt.h"
#include "app/image.h"
#include "picture/bitmap.h"
#include "widgets/flat_tab_control.h"
#include "window_fixture.h"

namespace quorvex {
namespace {

using test::DoubleClickRow;
using test::Items;

QStringList Children(const QTreeWidgetItem* node) {
  QStringList names;
  for (int i = 0; i < node->childCount(); ++i) names.push_back(node->child(i)->text(0));
  return names;
}

QStringList Selected(const TFileListBox* list) {
  QStringList names;
  for (int i = 0; i < list->ItemCount(); ++i) {
    if (list->IsSelected(i)) names.push_back(list->ItemName(i));
  }
  return names;
}

// Tips fade out after a while; the tests want them gone at once.
void HideTip() {
  QToolTip::hideText();
  EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
}

class WindowConventionsTest : public testing::Test {
 protected:
  void SetUp() override {
    folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "photo.bmp");
    folder.Folder("old");
    folder.Folder("kept/inner");
    Open();
  }
  // Opens the windows anew, over what the folder holds now.
  void Open() {
    // In reverse order of making, as the program ends.
    windows.PreviewForm.reset();
    windows.DirectoryForm.reset();
    windows.AboutBox.reset();
    windows.FormCrypt.reset();
    windows = CreateWindows(services.Services());
    form = windows.FormCrypt.get();
    ui = test::TMainControls(*form);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  }
  QTreeWidgetItem* Shown() const { return ui.DirectoryOutline1->currentItem(); }

  test::TTempFolder folder;
  test::TScriptedServices services;
  TWindows windows;
  TFormCrypt* form = nullptr;
  test::TMainControls ui;
};

// Every pixel that differs between two renderings of the same size.
int DifferingPixels(const QImage& a, const QImage& b) {
  int count = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) count += a.pixel(x, y) != b.pixel(x, y);
  }
  return count;
}

QImage Render(QWidget* widget) {
  return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST_F(WindowConventionsTest, EveryControlThatTakesFocusShowsIt) {
  QStringList checked;
  for (int page : {kEncryptPage, kDecryptPage, kLogPage}) {
    ui.Tab->SetTabIndex(page);
    form->TabTabChanged();
    // Buttons wait for a selection or a run; their look with focus is
    // checked all the same.
    for (QPushButton* button : form->findChildren<QPushButton*>()) button->setEnabled(true);
    for (QWidget* control : form->findChildren<QWidget*>()) {
      if (!(control->focusPolicy() & Qt::TabFocus) || !control->isVisible() ||
          control->visibleRegion().isEmpty() || !control->isEnabled() ||
          control->window() != form) {
        continue;
      }
      // A control inside another (a combo box's line, a view's viewport)
      // passes its focus on; the outer one is the control.
      if (control->focusProxy()) continue;
      const std::string name = control->objectName().isEmpty()
                                   ? control->metaObject()->className()
                                   : control->objectName().toStdString();
      QWidget* elsewhere =
          control == ui.Tab->Bar() ? static_cast<QWidget*>(ui.RichEdit1) : ui.Tab->Bar();
      if (page != kLogPage && elsewhere == ui.RichEdit1) elsewhere = ui.FileListBox1;
      elsewhere->setFocus();
      ASSERT_FALSE(control->hasFocus()) << name;
      const QImage without = Render(control);
      control->setFocus(Qt::TabFocusReason);
      ASSERT_TRUE(control->hasFocus()) << name;
      const QImage with = Render(control);
      // More than a text caret: a frame or a marked caption. The tab strip
      // marks its current tab.
      const auto* bar = qobject_cast<QTabBar*>(control);
      const QRect face = bar ? bar->tabRect(bar->currentIndex()) : control->rect();
      const int halfPerimeter = face.width() + face.height();
      EXPECT_GE(DifferingPixels(without, with), halfPerimeter / 2) << name << " on page " << page;
      checked.push_back(QString::fromStdString(name));
    }
  }
  for (const char* name :
       {"DriveComboBox1", "DirectoryOutline1", "FilterComboBox1", "FileListBox1", "FB_preview",
        "CheckBoxStretch", "EditSeedEncrypt", "EncryptOnly", "Ebutton", "ButtonSave",
        "EditSeedDecrypt", "ShowAllFiles", "RichEdit1", "FlatSpeedButton4"}) {
    EXPECT_TRUE(checked.contains(name)) << name;
  }
}

TEST_F(WindowConventionsTest, CtrlTabAndCtrlShiftTabSwitchPagesRoundTheEnd) {
  ui.FileListBox1->setFocus();
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int page;
  } presses[] = {
      {Qt::Key_Tab, Qt::ControlModifier, kDecryptPage},
      {Qt::Key_Tab, Qt::ControlModifier, kLogPage},
      {Qt::Key_Tab, Qt::ControlModifier, kEncryptPage},
      {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, kLogPage},
      {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, kDecryptPage},
  };
  for (const auto& press : presses) {
    QTest::keyClick(QApplication::focusWidget(), press.key, press.modifiers);
    EXPECT_EQ(ui.Tab->TabIndex(), press.page);
  }
  // The page is set up as a click on its tab sets it up.
  EXPECT_TRUE(ui.DecryptPanel->isVisible());
  EXPECT_EQ(ui.FileListBox1->Mask(), "Ecr_*.bmp");
}

TEST_F(WindowConventionsTest, CheckAndRadioCaptionsStayPutWhenChecked) {
  // A check box's own 13-pixel mark plus the gap before the caption.
  constexpr int kCaptionFrom = 16;
  for (QAbstractButton* box : std::initializer_list<QAbstractButton*>{
           ui.CheckBoxStretch, ui.EncryptOnly, ui.EncryptAndSave, ui.ShowAllFiles}) {
    // Radio buttons of one group cannot be unchecked one by one.
    box->setAutoExclusive(false);
    box->setChecked(false);
    const QImage off = Render(box);
    box->setChecked(true);
    const QImage on = Render(box);
    const QRect caption(kCaptionFrom, 0, box->width() - kCaptionFrom, box->height());
    EXPECT_EQ(off.copy(caption), on.copy(caption)) << box->objectName().toStdString();
    EXPECT_NE(off, on) << box->objectName().toStdString() << ": the mark itself changes";
    QImage blank(caption.size(), QImage::Format_RGB32);
    blank.fill(off.pixel(caption.topLeft()));
    EXPECT_GT(DifferingPixels(off.copy(caption), blank), 20)
        << "the caption is in the part compared";
  }
}

TEST_F(WindowConventionsTest, ClippedNamesAndPathsShowWholeInATip) {
  const QString longName = QString("a picture with a name far too long for the pane %1.bmp");
  const struct {
    QString text;
    bool tip;
  } cases[] = {{"short.bmp", false}, {longName.arg(1) + longName.arg(2), true}};
  for (const auto& c : cases) {
    for (QLabel* label : {ui.ImageName, ui.DirLabel}) {
      HideTip();
      label->setText(c.text + (label == ui.DirLabel ? c.text + c.text : QString()));
      QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
      QApplication::sendEvent(label, &help);
      EXPECT_EQ(QToolTip::isVisible(), c.tip) << label->objectName().toStdString();
      if (c.tip) {
        EXPECT_EQ(QToolTip::text(), label->text());
      }
    }
  }
  // In the file list.
  const std::string name = longName.arg(3).toStdString();
  folder.File(name);
  ui.FilterComboBox1->SetFilter("All|*.*");
  ui.FileListBox1->SetMask("*.*");
  for (const QString& entry : {QString("photo.bmp"), QString::fromStdString(name)}) {
    HideTip();
    const int row = Items(ui.FileListBox1).indexOf(entry);
    ASSERT_GE(row, 0);
    const QPoint at =
        ui.FileListBox1->visualItemRect(ui.FileListBox1->item(row)).topLeft() + QPoint(4, 4);
    QHelpEvent help(QEvent::ToolTip, at, ui.FileListBox1->viewport()->mapToGlobal(at));
    QApplication::sendEvent(ui.FileListBox1->viewport(), &help);
    const bool clipped = entry != "photo.bmp";
    EXPECT_EQ(QToolTip::isVisible(), clipped) << entry.toStdString();
    if (clipped) {
      EXPECT_EQ(QToolTip::text(), entry);
    }
  }
  // In the destination dialog's folder list.
  const std::string longFolder = longName.arg(4).toStdString();
  folder.Folder(longFolder);
  TDirectoryListBox* folders = windows.DirectoryForm->DirectoryListBox1;
  folders->SetDirectory(folder / "kept");  // and back, to list the new folder
  folders->SetDirectory(folder.Path());
  for (const QString& entry : {QString("old"), QString::fromStdString(longFolder)}) {
    HideTip();
    const QList<QListWidgetItem*> found = folders->findItems(entry, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << entry.toStdString();
    const QPoint at = folders->visualItemRect(found[0]).center();
    QHelpEvent help(QEvent::ToolTip, at, folders->viewport()->mapToGlobal(at));
    QApplication::sendEvent(folders->viewport(), &help);
    const bool clipped = entry != "old";
    EXPECT_EQ(QToolTip::isVisible(), clipped) << entry.toStdString();
    if (clipped) {
      EXPECT_EQ(QToolTip::text(), entry);
    }
  }
  QToolTip::hideText();
}

TEST_F(WindowConventionsTest, RefreshReadsTheTreeAndTheListAgain) {
  QTreeWidgetItem* top = Shown();
  top->setExpanded(true);
  top->child(0)->setExpanded(true);  // kept
  ASSERT_EQ(Children(top), QStringList({"kept", "old"}));
  folder.Folder("new");
  folder.Folder("kept/also");
  std::filesystem::remove(folder / "old");
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "added.bmp");

  // F5, as the Page menu's Refresh item shows.
  ASSERT_EQ(ui.Refresh1->text(), "Refresh");
  ASSERT_TRUE(ui.Page1->actions().contains(ui.Refresh1));
  EXPECT_EQ(ui.Refresh1->shortcut(), QKeySequence(Qt::Key_F5));
  QTest::keyClick(ui.FileListBox1, Qt::Key_F5);
  EXPECT_EQ(Children(top), QStringList({"kept", "new"}));
  EXPECT_EQ(Children(top->child(0)), QStringList({"also", "inner"})) << "open nodes read again";
  EXPECT_TRUE(top->child(0)->isExpanded());
  EXPECT_EQ(Shown(), top);
  EXPECT_TRUE(Items(ui.FileListBox1).contains("added.bmp"));

  // A run under way works through the list it started with.
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "during.bmp");
  QStringList listedDuringTheRun;
  services.pause.onProcessMessages = [&] {
    if (!listedDuringTheRun.isEmpty()) return;
    QTest::keyClick(ui.FileListBox1, Qt::Key_F5);
    QEvent during(QEvent::ActivationChange);
    QApplication::sendEvent(form, &during);
    listedDuringTheRun = Items(ui.FileListBox1);
  };
  ui.FileListBox1->item(Items(ui.FileListBox1).indexOf("added.bmp"))->setSelected(true);
  services.dialogs.answers.push_back(true);
  form->EbuttonClick();
  services.pause.onProcessMessages = nullptr;
  ASSERT_FALSE(listedDuringTheRun.isEmpty()) << "the run paused";
  EXPECT_FALSE(listedDuringTheRun.contains("during.bmp"));

  // Returning to the window reads the tree; the folder shown was removed
  // meanwhile, so its parent takes over, in the list as well.
  ui.DirectoryOutline1->setCurrentItem(top->child(0)->child(1));  // kept/inner
  ASSERT_EQ(GetCurrentDirectoryPath(), folder / "kept/inner");
  ASSERT_TRUE(Items(ui.FileListBox1).isEmpty());
  folder.File("kept/seen.bmp");
  std::filesystem::remove(folder / "kept/inner");
  QEvent activation(QEvent::ActivationChange);
  QApplication::sendEvent(form, &activation);
  EXPECT_EQ(ui.DirectoryOutline1->Directory(), folder / "kept");
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / "kept");
  EXPECT_EQ(Shown()->text(0), "kept");
  Shown()->setExpanded(true);
  EXPECT_EQ(Children(Shown()), QStringList({"also"}));
  EXPECT_EQ(Items(ui.FileListBox1), QStringList({"seen.bmp"}));
  EXPECT_TRUE(services.dialogs.errors.empty());
}

TEST(FileNames, BytesThatAreNotUtf8SurviveTheWayThroughText) {
  const struct {
    std::string bytes;
    bool utf8;
  } cases[] = {
      {"plain.bmp", true},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e.bmp", true},
      {"a\xff"
       "b.bmp",
       false},
      {"cut \xe2\x82", false},         // a sequence that ends early
      {"\xc0\xaf overlong", false},    // "/" spelled in two bytes
      {"\xed\xa0\x80 half", false},    // a surrogate's own encoding
      {"\x80\xbf\xfe lone", false},    // continuation bytes alone
      {"\xf4\x90\x80\x80 big", false}  // past U+10FFFF
  };
  for (const auto& c : cases) {
    const QString text = DecodeFileName(c.bytes);
    EXPECT_EQ(EncodeFileName(text), c.bytes) << c.bytes;
    if (c.utf8) {
      EXPECT_EQ(text, QString::fromUtf8(c.bytes.c_str()));
    }
    EXPECT_EQ(text.contains(QChar(0xFFFD)), false) << "nothing replaced";
  }
}

TEST_F(WindowConventionsTest, NamesThatAreNotUtf8AreListedAndLoaded) {
  const std::string file =
      "sn\xff"
      "w.bmp";
  const std::string subfolder =
      "fold\xfe"
      "r";
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", file);
  folder.Folder(subfolder);
  folder.Copy("bmp/bmpsuite/g/rgb24.bmp", subfolder + "/inside.bmp");
  Open();
  const int row = Items(ui.FileListBox1).indexOf(DecodeFileName(file));
  ASSERT_GE(row, 0) << "listed";
  DoubleClickRow(ui.FileListBox1, row);
  EXPECT_TRUE(services.dialogs.errors.empty()) << services.dialogs.errors[0].toStdString();
  ASSERT_NE(form->WorkingBitmap, nullptr) << "loaded";
  EXPECT_EQ(form->WorkingBitmap->ImageWidth(), 127);
  EXPECT_EQ(EncodeFileName(ui.ImageName->text()), file);

  QTreeWidgetItem* top = Shown();
  top->setExpanded(true);
  QTreeWidgetItem* node = nullptr;
  for (int i = 0; i < top->childCount(); ++i) {
    if (EncodeFileName(top->child(i)->text(0)) == subfolder) node = top->child(i);
  }
  ASSERT_NE(node, nullptr) << "the folder is in the tree";
  ui.DirectoryOutline1->setCurrentItem(node);
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / subfolder);
  EXPECT_EQ(Items(ui.FileListBox1), QStringList({"inside.bmp"}));
}

TEST_F(WindowConventionsTest, FilesHandedOverShowTheirFolderAndAreSelected) {
  folder.Folder("trip");
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
    folder.Copy("bmp/bmpsuite/g/rgb24.bmp", std::string("trip/") + name);
  }
  folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "kept/elsewhere.bmp");
  ui.Tab->SetTabIndex(kLogPage);
  form->TabTabChanged();
  // As on the command line: relative to the current folder, a missing file
  // and one in another folder left alone.
  form->OpenFiles(
      {"trip/c.bmp", "missing.bmp", folder / "trip/a.bmp", folder / "kept/elsewhere.bmp"});
  EXPECT_EQ(ui.Tab->TabIndex(), kEncryptPage);
  EXPECT_EQ(ui.DirectoryOutline1->Directory(), folder / "trip");
  EXPECT_EQ(Shown()->text(0), "trip");
  EXPECT_EQ(Items(ui.FileListBox1), QStringList({"a.bmp", "b.bmp", "c.bmp"}));
  EXPECT_EQ(Selected(ui.FileListBox1), QStringList({"a.bmp", "c.bmp"}));
  EXPECT_EQ(ui.FileListBox1->ItemIndex(), 2) << "the first one given is focused";
  EXPECT_EQ(ui.ImageName->text(), "c.bmp");
  EXPECT_NE(form->WorkingBitmap, nullptr);
  EXPECT_TRUE(ui.Ebutton->isEnabled()) << "ready to run on the selection";

  // Dropped from a file manager: local files are taken, anything else not.
  const std::string dropped = "sn\xff.bmp";
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", dropped);
  QMimeData web;
  web.setUrls({QUrl("https://example.com/a.bmp")});
  QDragEnterEvent refused(QPoint(20, 20), Qt::CopyAction, &web, Qt::LeftButton, {});
  QApplication::sendEvent(form, &refused);
  EXPECT_FALSE(refused.isAccepted());
  QMimeData files;
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(folder.Path()));
  url.setPath(url.path(QUrl::FullyEncoded) + "/sn%FF.bmp", QUrl::TolerantMode);
  files.setUrls({url});
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &files, Qt::LeftButton, {});
  QApplication::sendEvent(form, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &files, Qt::LeftButton, {});
  QApplication::sendEvent(form, &drop);
  EXPECT_EQ(ui.DirectoryOutline1->Directory(), folder.Path());
  EXPECT_EQ(Selected(ui.FileListBox1), QStringList({DecodeFileName(dropped)}));
  EXPECT_EQ(EncodeFileName(ui.ImageName->text()), dropped);
  EXPECT_TRUE(services.dialogs.errors.empty());
}

}  // namespace
}  // namespace quorvex
