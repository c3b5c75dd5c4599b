#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidgetItem>

#include "app/directory_form.h"
#include "app/directory_list_box.h"
#include "app/directory_outline.h"
#include "app/drive_combo_box.h"
#include "app/filter_combo_box.h"
#include "app/form_crypt.h"
#include "app/image_filter.h"
#include "window_fixture.h"

namespace quorvex {
namespace {

using test::ClickRow;
using test::Items;
using test::TTempFolder;

QStringList Children(const QTreeWidgetItem* node) {
  QStringList names;
  for (int i = 0; i < node->childCount(); ++i) names.push_back(node->child(i)->text(0));
  return names;
}

TEST(DirectoryOutline, ReadsFoldersLazilyInByteOrderWithoutDotFolders) {
  TTempFolder folder;
  for (const char* name : {"alpha", "Zeta", "beta", ".config", "Beta2", "_under"})
    folder.Folder(name);
  folder.Folder("alpha/inner");
  folder.File("file.bmp");
  TDirectoryOutline tree;
  EXPECT_EQ(tree.Directory(), folder.Path());
  EXPECT_EQ(tree.Drive(), DriveOf(folder.Path()));
  QTreeWidgetItem* node = tree.currentItem();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(tree.NodePath(node), folder.Path());
  EXPECT_FALSE(TDirectoryOutline::IsRead(node)) << "read when first opened";
  node->setExpanded(true);
  EXPECT_EQ(Children(node), QStringList({"Beta2", "Zeta", "_under", "alpha", "beta"}));
  QTreeWidgetItem* alpha = node->child(3);
  EXPECT_FALSE(TDirectoryOutline::IsRead(alpha));
  // Children are read once: a folder made later does not appear.
  folder.Folder("gamma");
  node->setExpanded(false);
  node->setExpanded(true);
  EXPECT_EQ(node->childCount(), 5);

  // Selecting a node makes its folder current and raises the change event.
  QSignalSpy changes(&tree, &TDirectoryOutline::Change);
  SetCurrentDirectoryPath("/");
  tree.setCurrentItem(alpha);
  EXPECT_EQ(tree.Directory(), folder / "alpha");
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / "alpha");
  EXPECT_EQ(changes.count(), 1);
}

TEST(DirectoryOutline, KeysOpenAndCloseButStarOpensOnlyWhatIsKnown) {
  TTempFolder folder;
  folder.Folder("a/b/c");
  folder.Folder("d/e");
  TDirectoryOutline tree;
  QTreeWidgetItem* top = tree.currentItem();
  tree.setFocus();
  QTest::keyClick(&tree, Qt::Key_Plus);
  ASSERT_TRUE(top->isExpanded());
  ASSERT_EQ(top->childCount(), 2);
  QTreeWidgetItem* a = top->child(0);
  QTreeWidgetItem* d = top->child(1);
  a->setExpanded(true);  // a is read; d never was
  a->setExpanded(false);
  QTest::keyClick(&tree, Qt::Key_Minus);
  EXPECT_FALSE(top->isExpanded());
  QTest::keyClick(&tree, Qt::Key_Return);
  EXPECT_TRUE(top->isExpanded()) << "Enter toggles";
  QTest::keyClick(&tree, Qt::Key_Asterisk);
  EXPECT_TRUE(a->isExpanded());
  EXPECT_FALSE(a->child(0)->isExpanded()) << "b's subfolders are not known";
  EXPECT_FALSE(d->isExpanded());
  EXPECT_FALSE(TDirectoryOutline::IsRead(d));
}

TEST(DirectoryOutline, DriveChangeShowsTheRootAndIgnoresNonFolders) {
  TTempFolder folder;
  TDirectoryOutline tree;
  QSignalSpy changes(&tree, &TDirectoryOutline::Change);
  const std::string drive = tree.Drive();
  tree.SetDrive(folder / "missing");
  tree.SetDrive(drive);  // the same drive
  EXPECT_EQ(changes.count(), 0);
  EXPECT_EQ(tree.Directory(), folder.Path());
  // Another mount point: a folder of this machine that is a drive.
  for (const TDrive& other : MountedDrives()) {
    if (other.root == drive) continue;
    tree.SetDrive(other.root);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(tree.Drive(), other.root);
    EXPECT_EQ(tree.Directory(), other.root);
    EXPECT_EQ(GetCurrentDirectoryPath(), other.root);
    EXPECT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(tree.currentItem(), tree.topLevelItem(0));
    break;
  }
}

TEST(PatternMatching, IgnoresCaseAndSurroundingBlanks) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*.jpg", "PHOTO.JPG", true},
      {" *.jpeg", "a.jpeg", true},
      {" *.jpe", "a.JPE", true},
      {" *.jpe", "a.jpeg", false},
      {"*.bmp", "a.bmp.txt", false},
      {"Ecr_*.bmp", "Ecr_x.bmp", true},
      {"Ecr_*.bmp", "ecr_x.bmp", true},
      {"Ecr_*.bmp", "x.bmp", false},
      {"*.*", "README", true},
      {"?.png", "a.png", true},
      {"?.png", "ab.png", false},
      {"[a].bmp", "[a].bmp", true},
      {"", "a.bmp", false},
      {"a+b.bmp", "a+b.bmp", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesPattern(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
  }
}

class FileListBoxTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"b.bmp", "A.bmp", "C.BMP", "photo.JPG", "x.jpeg", "notes.txt", ".hidden.bmp"}) {
      folder.File(name);
    }
    folder.Folder("folder.bmp");
    list = std::make_unique<TFileListBox>();
    list->resize(200, 300);
    list->show();
  }
  TTempFolder folder;
  std::unique_ptr<TFileListBox> list;
};

TEST_F(FileListBoxTest, ListsMatchingFilesSortedWithoutRegardToCase) {
  list->SetMask(AllImagesMask());
  EXPECT_EQ(Items(list.get()), QStringList({"A.bmp", "b.bmp", "C.BMP", "photo.JPG", "x.jpeg"}));
  // A file matching two patterns is listed twice.
  list->SetMask("*.bmp;b*");
  EXPECT_EQ(Items(list.get()), QStringList({"A.bmp", "b.bmp", "b.bmp", "C.BMP"}));
}

TEST_F(FileListBoxTest, ReadsAgainOnlyWhenTheMaskTextChanges) {
  QSignalSpy changes(list.get(), &TFileListBox::Change);
  list->SetMask("*.bmp");
  EXPECT_EQ(changes.count(), 1);
  folder.File("d.bmp");
  list->SetMask("*.bmp");
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(list->ItemCount(), 3) << "not read again";
  list->SetMask("*.bmp ");  // another text, the same patterns
  EXPECT_EQ(changes.count(), 2);
  EXPECT_EQ(list->ItemCount(), 4);
}

TEST_F(FileListBoxTest, CurrentFileNeedsTheFocusedEntryToBeSelected) {
  list->SetMask("*.bmp");
  EXPECT_EQ(list->CurrentFile(), "");
  ClickRow(list.get(), 1);
  EXPECT_EQ(list->CurrentFile(), folder / "b.bmp");
  ClickRow(list.get(), 2, Qt::ControlModifier);
  EXPECT_EQ(list->SelCount(), 2);
  EXPECT_EQ(list->CurrentFile(), folder / "C.BMP");
  ClickRow(list.get(), 2, Qt::ControlModifier);  // focused but deselected
  EXPECT_EQ(list->ItemIndex(), 2);
  EXPECT_EQ(list->CurrentFile(), "");
  ClickRow(list.get(), 0);
  ClickRow(list.get(), 2, Qt::ShiftModifier);
  EXPECT_EQ(list->SelCount(), 3);
  EXPECT_TRUE(list->IsSelected(1));
  // A re-read clears the selection and the focus.
  list->ReRead();
  EXPECT_EQ(list->SelCount(), 0);
  EXPECT_EQ(list->CurrentFile(), "");
}

TEST_F(FileListBoxTest, ChangeFollowsTheFocusedEntryAndClickTheSelection) {
  list->SetMask("*.bmp");
  QSignalSpy changes(list.get(), &TFileListBox::Change);
  QSignalSpy clicks(list.get(), &TFileListBox::Click);
  ClickRow(list.get(), 0);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(clicks.count(), 1);
  ClickRow(list.get(), 0, Qt::ControlModifier);  // same focused entry
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(clicks.count(), 2);
  ClickRow(list.get(), 1);
  EXPECT_EQ(changes.count(), 2);
}

TEST_F(FileListBoxTest, DirectoryChangesMakeTheFolderCurrent) {
  list->SetMask("*.bmp");
  folder.Folder("sub");
  folder.File("sub/z.bmp");
  SetCurrentDirectoryPath("/");
  list->SetDirectory("sub");  // relative to the list's own folder
  EXPECT_EQ(list->Directory(), folder / "sub");
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / "sub");
  EXPECT_EQ(Items(list.get()), QStringList({"z.bmp"}));
  SetCurrentDirectoryPath("/");
  list->ReRead();
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / "sub") << "every re-read makes it current";
  try {
    list->SetDirectory(folder / "missing");
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.Message(), "File not found");
  }
  EXPECT_EQ(list->Directory(), folder / "sub");
}

TEST_F(FileListBoxTest, ShowsTheBusyCursorForLongListsAndRestoresTheOldOne) {
  list->SetMask("*.bmp");
  EXPECT_FALSE(list->LastReadWasBusy());
  folder.Folder("many");
  for (int i = 0; i < 150; ++i) folder.File("many/p" + std::to_string(i) + ".bmp");
  QApplication::setOverrideCursor(Qt::CrossCursor);
  list->SetDirectory(folder / "many");
  EXPECT_TRUE(list->LastReadWasBusy());
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
  QApplication::restoreOverrideCursor();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(list->ItemCount(), 150);
}

TEST(FilterComboBox, OffersTheNineEntriesThenOneForEachFurtherFamilyAndSetsTheirMasks) {
  TTempFolder folder;
  TFileListBox list;
  list.SetMask(AllImagesMask());
  TFilterComboBox filter;
  filter.SetFilter(ImageFilter());
  filter.SetFileList(&list);
  const QString all = AllImagesMask();
  const std::pair<QString, QString> designed[] = {
      {"All images ", all},
      {"Bitmaps (*.bmp)", "*.bmp"},
      {"Encapsulated Postscript Images (*.eps)", "*.eps"},
      {"Ico Images (*.ico)", "*.ico"},
      {"Jpeg Images (*.jpg, *.jpeg, *.jpe)", "*.jpg; *.jpeg; *.jpe"},
      {"Portable Network Graphics (*.png)", "*.png"},
      {"Truevision Images (*.tga)", "*.tga"},
      {"Paintbrush Images (*.pcx, *.pcc)", "*.pcx; *.pcc"},
      {"Windows Metafiles (*.wmf, *.emf)", "*.wmf; *.emf"},
  };
  // The further families; each is offered once the registry reads it.
  const struct {
    const char* extension;
    const char* text;
    const char* mask;
  } further[] = {
      {"tiff", "TIFF Images (*.tiff, *.tif, *.fax)", "*.tiff; *.tif; *.fax"},
      {"psd", "Photoshop Images (*.psd, *.pdd)", "*.psd; *.pdd"},
      {"sgi", "SGI Images (*.sgi, *.rgba, *.rgb, *.bw)", "*.sgi; *.rgba; *.rgb; *.bw"},
      {"ppm", "Portable Map Images (*.ppm, *.pgm, *.pbm)", "*.ppm; *.pgm; *.pbm"},
      {"cel", "Autodesk Images (*.cel, *.pic)", "*.cel; *.pic"},
      {"cut", "Dr. Halo Images (*.cut)", "*.cut"},
      {"rla", "Alias/Wavefront Images (*.rpf, *.rla)", "*.rpf; *.rla"},
      {"pcd", "Photo-CD Images (*.pcd)", "*.pcd"},
      {"psp", "Paint Shop Pro Images (*.psp)", "*.psp"},
      {"gif", "GIF Images (*.gif)", "*.gif"},
      {"webp", "WebP Images (*.webp)", "*.webp"},
      {"heic", "HEIF/AVIF Images (*.heic, *.heif, *.avif)", "*.heic; *.heif; *.avif"},
      {"jp2", "JPEG 2000 Images (*.jp2, *.j2k, *.jpf, *.jpx)", "*.jp2; *.j2k; *.jpf; *.jpx"},
      {"jxl", "JPEG XL Images (*.jxl)", "*.jxl"},
  };
  std::vector<std::pair<QString, QString>> entries(std::begin(designed), std::end(designed));
  for (const auto& f : further) {
    if (all.split(';').contains(QString("*.") + f.extension)) entries.push_back({f.text, f.mask});
  }
  ASSERT_GE(entries.size(), 9u + 11u) << "every family this build always reads";
  ASSERT_EQ(filter.count(), static_cast<int>(entries.size()));
  EXPECT_EQ(filter.currentIndex(), 0);
  for (int i = 0; i < filter.count(); ++i) {
    EXPECT_EQ(filter.itemText(i), entries[i].first);
    EXPECT_EQ(filter.MaskAt(i), entries[i].second);
  }
  filter.setCurrentIndex(4);
  emit filter.activated(4);
  EXPECT_EQ(list.Mask(), "*.jpg; *.jpeg; *.jpe");
  filter.setCurrentIndex(-1);
  EXPECT_EQ(filter.Mask(), entries.back().second) << "none chosen: the last";
  filter.SetFilter("");
  EXPECT_EQ(filter.Mask(), "*.*");
}

TEST(DriveComboBox, EntryTexts) {
  const struct {
    TDrive drive;
    const char* text;
  } cases[] = {
      {{"/", "System", "", DriveKind::Fixed}, "/ [system]"},
      {{"/data", "", "", DriveKind::Fixed}, "/data []"},
      {{"/media/cd", "", "", DriveKind::Optical}, "/media/cd []"},
      {{"/media/usb", "STICK", "", DriveKind::Removable}, "/media/usb"},
      {{"/net", "", "Server:/Export", DriveKind::Network}, "/net server:/export"},
      {{"/net2", "Share", "", DriveKind::Network}, "/net2 [share]"},
  };
  for (const auto& c : cases) EXPECT_EQ(TDriveComboBox::EntryText(c.drive), c.text);
}

TEST(DriveComboBox, ListsTheDriveOfTheCurrentFolderAndStartsOnIt) {
  TTempFolder folder;
  TDriveComboBox drives;
  EXPECT_EQ(drives.Drive(), DriveOf(folder.Path()));
  ASSERT_GE(drives.currentIndex(), 0);
  EXPECT_EQ(drives.Drives()[static_cast<size_t>(drives.currentIndex())].root, drives.Drive());
  for (const TDrive& drive : drives.Drives()) {
    EXPECT_TRUE(DirectoryExists(drive.root)) << drive.root;
    EXPECT_NE(drive.root.rfind("/proc", 0), 0u) << "no pseudo file systems";
  }
}

TEST(CurrentDirectory, InOutErrorMessages) {
  const std::pair<int, const char*> cases[] = {
      {2, "File not found"},
      {3, "Invalid filename"},
      {4, "Too many open files"},
      {5, "File access denied"},
      {100, "Read beyond end of file"},
      {101, "Disk full"},
      {106, "Invalid numeric input"},
      {21, "I/O error 21"},
  };
  for (const auto& [code, message] : cases) EXPECT_EQ(InOutErrorMessage(code), message);
  TTempFolder folder;
  folder.File("plain");
  try {
    SetCurrentDirectoryPath(folder / "plain");
    FAIL();
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), 3);
    EXPECT_EQ(error.Message(), "Invalid filename");
  }
  EXPECT_EQ(GetCurrentDirectoryPath(), folder.Path()) << "a failed change leaves it";
}

// Sets an environment variable for the lifetime of the object.
class TEnvironment {
 public:
  TEnvironment(const char* name, const std::string& value)
      : name_(name), saved_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
    qputenv(name, QByteArray::fromStdString(value));
  }
  ~TEnvironment() {
    if (had_) {
      qputenv(name_, saved_);
    } else {
      qunsetenv(name_);
    }
  }

 private:
  const char* name_;
  QByteArray saved_;
  bool had_;
};

TEST(StartUp, InAFolderThatWasDeletedTheWindowStartsInTheHomeFolder) {
  TTempFolder folder;
  folder.Folder("home");
  folder.Folder("gone");
  const TEnvironment home("HOME", folder / "home");
  SetCurrentDirectoryPath(folder / "gone");
  std::filesystem::remove(folder / "gone");
  ASSERT_THROW(GetCurrentDirectoryPath(), EInOutError);

  test::TScriptedServices services;
  TWindows windows = CreateWindows(services.Services());
  windows.FormCrypt->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(windows.FormCrypt.get()));
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / "home");
  const test::TMainControls ui(*windows.FormCrypt);
  EXPECT_EQ(ui.DirLabel->text().toStdString(), folder / "home");
  EXPECT_EQ(ui.FileListBox1->Directory(), folder / "home");
  EXPECT_TRUE(services.dialogs.errors.empty());
}

TEST(DirectoryListBox, ShowsThePathThenSubfoldersWithDotFolders) {
  TTempFolder folder;
  for (const char* name :
       {"pics/2004/zeta", "pics/2004/Alpha", "pics/2004/.config", "pics/2004/beta"}) {
    folder.Folder(name);
  }
  folder.File("pics/2004/file");
  SetCurrentDirectoryPath(folder / "pics/2004");
  TDirectoryListBox list;
  const std::string drive = DriveOf(folder.Path());
  QStringList texts;
  for (int i = 0; i < list.count(); ++i) texts.push_back(list.item(i)->text());
  // The path from the drive's root, then the subfolders.
  QStringList expected{QString::fromStdString(drive)};
  std::string below = folder.Path().substr(drive == "/" ? 1 : drive.size() + 1);
  for (const QString& part : QString::fromStdString(below).split('/')) expected.push_back(part);
  expected << "pics"
           << "2004"
           << ".config"
           << "Alpha"
           << "beta"
           << "zeta";
  EXPECT_EQ(texts, expected);
  const int levels = static_cast<int>(expected.size()) - 4;
  EXPECT_EQ(list.currentRow(), levels - 1) << "the current folder";
  EXPECT_EQ(list.EntryIndent(0), 2);
  EXPECT_EQ(list.EntryIndent(levels - 1), 4 * (levels - 1) + 2);
  EXPECT_EQ(list.EntryIndent(levels), 4 * (levels - 1) + 6);
  EXPECT_EQ(list.EntryPath(levels - 2), folder / "pics");
  EXPECT_EQ(list.EntryPath(levels + 1), folder / "pics/2004/Alpha");

  // Opening an entry makes it the list's folder and the current directory.
  list.resize(240, 400);
  list.show();
  const QPoint point = list.visualItemRect(list.item(levels + 1)).center();
  QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, point);
  EXPECT_EQ(list.Directory(), folder / "pics/2004/Alpha");
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / "pics/2004/Alpha");
  list.setCurrentRow(levels - 2);
  QTest::keyClick(&list, Qt::Key_Return);
  EXPECT_EQ(list.Directory(), folder / "pics");
}

TEST(DirectoryListBox, AFolderWhoseNameIsNotUtf8CanBeOpened) {
  TTempFolder folder;
  const std::string odd = "caf\xe9-\xff";
  folder.Folder(odd);
  SetCurrentDirectoryPath(folder.Path());
  TDirectoryListBox list;
  int row = -1;
  for (int i = 0; i < list.count(); ++i) {
    if (list.EntryPath(i) == folder / odd) row = i;
  }
  ASSERT_GE(row, 0) << "listed under its own bytes";
  list.OpenEntry(row);
  EXPECT_EQ(list.Directory(), folder / odd);
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / odd);
}

TEST(DirectoryListBox, DriveChangeGoesToTheFolderLastCurrentThere) {
  TTempFolder folder;
  folder.Folder("deep/er");
  TDirectoryListBox list;
  ASSERT_EQ(list.Directory(), folder.Path());
  // Another widget moves the current directory on the same drive.
  SetCurrentDirectoryPath(folder / "deep/er");
  list.SetDrive(DriveOf(folder.Path()));
  EXPECT_EQ(list.Directory(), folder / "deep/er") << "not the drive's root";
  EXPECT_EQ(RememberedDirectory("/no/such/drive"), "/no/such/drive");
}

// The destination dialog and the process's current directory.
class DestinationTest : public testing::Test {
 protected:
  void SetUp() override {
    folder.Folder("shots/a");
    folder.Folder("elsewhere");
    windows = CreateWindows(services.Services());
    form = windows.FormCrypt.get();
    ui = test::TMainControls(*form);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  }
  // Selects a subfolder of the main tree's current node.
  void BrowseTo(const QString& name) {
    QTreeWidgetItem* node = ui.DirectoryOutline1->currentItem();
    node->setExpanded(true);
    for (int i = 0; i < node->childCount(); ++i) {
      if (node->child(i)->text(0) == name) ui.DirectoryOutline1->setCurrentItem(node->child(i));
    }
  }
  TTempFolder folder;
  test::TScriptedServices services;
  TWindows windows;
  TFormCrypt* form = nullptr;
  test::TMainControls ui;
};

TEST_F(DestinationTest, BrowsingMovesTheCurrentDirectoryButNotTheDestination) {
  BrowseTo("shots");
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / "shots");
  EXPECT_EQ(ui.FileListBox1->Directory(), folder / "shots");
  EXPECT_EQ(ui.DirLabel->text().toStdString(), folder.Path());
}

TEST_F(DestinationTest, SetDirectoryTakesTheFolderTheDialogShowsNotTheCurrentOne) {
  BrowseTo("shots");
  // The dialog still shows the folder of the start; nothing opened in it.
  services.dialogs.modalScripts.push_back([&](QDialog& dialog) {
    auto& form = static_cast<TDirectoryForm&>(dialog);
    EXPECT_EQ(form.DirectoryListBox1->Directory(), folder.Path());
    form.FlatSpeedButton1->click();
    return dialog.result();
  });
  QTest::mouseClick(ui.FlatSpeedButton2, Qt::LeftButton);
  ASSERT_EQ(services.dialogs.modalShown.size(), 1u);
  EXPECT_EQ(services.dialogs.modalShown[0], windows.DirectoryForm.get());
  EXPECT_EQ(form->windowTitle(), "  Quorvex   DD: <Custom set>");
  EXPECT_EQ(ui.DirLabel->text().toStdString(), folder.Path());
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / "shots") << "browsing is left where it was";
}

TEST_F(DestinationTest, OpeningEntriesThenSetDirectoryTakesTheDialogsFolder) {
  services.dialogs.modalScripts.push_back([&](QDialog& dialog) {
    auto& form = static_cast<TDirectoryForm&>(dialog);
    form.DirectoryListBox1->SetDirectory(folder / "elsewhere");
    form.FlatSpeedButton1->click();
    return dialog.result();
  });
  ui.DestinationDirectory1->trigger();
  EXPECT_EQ(ui.DirLabel->text().toStdString(), folder / "elsewhere");
}

TEST_F(DestinationTest, CancelKeepsDestinationAndCaptionButNotTheCurrentDirectory) {
  services.dialogs.modalScripts.push_back([&](QDialog& dialog) {
    auto& form = static_cast<TDirectoryForm&>(dialog);
    form.DirectoryListBox1->SetDirectory(folder / "elsewhere");
    form.FlatSpeedButton2->click();
    return dialog.result();
  });
  ui.DestinationDirectory1->trigger();
  EXPECT_EQ(form->windowTitle(), "  Quorvex");
  EXPECT_EQ(ui.DirLabel->text().toStdString(), folder.Path());
  EXPECT_EQ(GetCurrentDirectoryPath(), folder / "elsewhere");
  // The dialog keeps its folder for the next opening.
  services.dialogs.modalScripts.push_back([&](QDialog& dialog) {
    EXPECT_EQ(static_cast<TDirectoryForm&>(dialog).DirectoryListBox1->Directory(),
              folder / "elsewhere");
    return static_cast<int>(QDialog::Rejected);
  });
  ui.DestinationDirectory1->trigger();
  // The main window's list makes its own folder current again on a re-read.
  ui.FileListBox1->ReRead();
  EXPECT_EQ(GetCurrentDirectoryPath(), folder.Path());
}

TEST_F(DestinationTest, DialogLooksAsDesigned) {
  TDirectoryForm& dialog = *windows.DirectoryForm;
  EXPECT_EQ(dialog.windowTitle(), "Destination Directory");
  EXPECT_EQ(dialog.size(), QSize(352, 271));
  EXPECT_TRUE(dialog.windowFlags() & Qt::Tool);
  EXPECT_EQ(dialog.FlatSpeedButton1->text(), "Set Directory");
  EXPECT_EQ(dialog.FlatSpeedButton2->text(), "Cancel");
  EXPECT_EQ(dialog.DriveComboBox1->Drive(), DriveOf(folder.Path()));
}

}  // namespace
}  // namespace quorvex
