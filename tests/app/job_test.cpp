#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTextEdit>
#include <filesystem>
#include <map>
#include <set>

#include "app/activity_log.h"
#include "app/image.h"
#include "shell/picture_file.h"
#include "core/sealed_file.h"
#include "core/transform.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/picture.h"
#include "picture/safe_file_writer.h"
#include "picture/stream.h"
#include "widgets/flat_gauge.h"
#include "widgets/led.h"
#include "window_fixture.h"

namespace quorvex {
namespace {

using test::Items;
using test::ReadFileBytes;
using test::TestData;

const QColor kNavy = log_colors::kNavy;
const QColor kGreen = log_colors::kGreen;
const QColor kRed = log_colors::kRed;

std::set<std::string> FolderFiles(const std::string& path) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::vector<uint8_t> LoadedStorage(const std::string& path) {
  TPicture picture;
  std::unique_ptr<TBitmap> bitmap;
  LoadPictureFile(path, picture, bitmap);
  return test::StorageBytes(*bitmap);
}

class JobTest : public testing::Test {
 public:
  void Open() {
    windows = CreateWindows(services.Services());
    form = windows.FormCrypt.get();
    ui = test::TMainControls(*form);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  }
  void Select(const std::vector<QString>& names) {
    for (const QString& name : names) {
      const int row = Items(ui.FileListBox1).indexOf(name);
      ASSERT_GE(row, 0) << name.toStdString();
      ui.FileListBox1->item(row)->setSelected(true);
    }
    form->FileListBox1Click();
  }
  // Runs with the confirmation answered Yes.
  void Run(QPushButton* button) {
    services.dialogs.answers.push_back(true);
    button->setEnabled(true);
    button->click();
  }
  // The log lines written after the header.
  std::vector<TLogLine> RunLines() const {
    const auto& lines = form->ActivityLog().Lines();
    return {lines.begin() + 6, lines.end()};
  }
  static void ExpectLine(const TLogLine& line, const QString& pattern, const QColor& color,
                         bool italic) {
    EXPECT_TRUE(QRegularExpression("^" + pattern + "$").match(line.text).hasMatch())
        << line.text.toStdString() << " vs " << pattern.toStdString();
    EXPECT_EQ(line.format.color, color) << line.text.toStdString();
    EXPECT_EQ(line.format.italic, italic) << line.text.toStdString();
  }

  test::TTempFolder folder;
  test::TScriptedServices services;
  TWindows windows;
  TFormCrypt* form = nullptr;
  test::TMainControls ui;
};

TEST_F(JobTest, HeaderAtStartAndClearWithItsQuestion) {
  Open();
  const auto& lines = form->ActivityLog().Lines();
  ASSERT_EQ(lines.size(), 6u);
  const QString rule = " " + QString(117, '-');
  EXPECT_EQ(lines[0].text, "");
  EXPECT_EQ(lines[1].text, rule);
  EXPECT_EQ(lines[2].text, " QUORVEX ACTIVITY LOG");
  EXPECT_EQ(lines[2].format, (TLogFormat{QColor(0, 0, 255), true, false, 12, "Arial"}));
  EXPECT_TRUE(lines[3].text.startsWith(" Recording started on "));
  EXPECT_TRUE(lines[3].text.contains(" at "));
  EXPECT_EQ(lines[3].format, (TLogFormat{QColor(0, 0, 0), false, false, 8, "Arial"}));
  EXPECT_EQ(lines[4].text, rule);
  EXPECT_EQ(lines[5].text, "");
  EXPECT_EQ(ui.RichEdit1->toPlainText().split('\n').size(), 6);
  EXPECT_TRUE(ui.RichEdit1->toPlainText().contains("QUORVEX ACTIVITY LOG"));

  form->ActivityLog().Add("extra");
  ui.FlatSpeedButton4->click();  // answered No
  ASSERT_EQ(services.dialogs.confirmations.size(), 1u);
  EXPECT_EQ(services.dialogs.confirmations[0],
            " \n     You are about to clear this activity log.          \n     Do you want to "
            "proceed?    ");
  EXPECT_EQ(form->ActivityLog().Lines().size(), 7u);
  services.dialogs.answers.push_back(true);
  ui.FlatSpeedButton4->click();
  EXPECT_EQ(form->ActivityLog().Lines().size(), 6u);
  EXPECT_EQ(form->ActivityLog().Lines()[2].text, " QUORVEX ACTIVITY LOG");
  EXPECT_FALSE(ui.RichEdit1->toPlainText().contains("extra"));
}

TEST_F(JobTest, EncryptionRunWithDamagedSecondFile) {
  folder.Copy("jpeg/hopper.jpg", "a.jpg");
  folder.File("b.bmp", "BM this is no bitmap");
  folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "c.bmp");
  Open();
  ui.EncryptAndSave->setChecked(true);
  Select({"a.jpg", "b.bmp", "c.bmp"});
  Run(ui.Ebutton);

  EXPECT_EQ(services.dialogs.confirmations.back(),
            " \n You are about to initiate encryption process.   \n Your encryption code is set "
            "to 614052.  \n\n Do you want to proceed?");
  const auto lines = RunLines();
  ASSERT_EQ(lines.size(), 11u);
  ExpectLine(lines[0], "", QColor(0, 0, 0), false);
  ExpectLine(lines[1], " BATCH IMAGE ENCRYPTION STARTED ON .+ at .+", kNavy, false);
  ExpectLine(lines[2], " Encryption Mode: Encrypt and Save Original", kNavy, false);
  ExpectLine(lines[3], " Image saved as:  Ecr_a\\.bmp", kNavy, true);
  ExpectLine(lines[4], " ERROR \\(.+\\) while processing b\\.bmp", kRed, true);
  ExpectLine(lines[5], " Image saved as:  Ecr_c\\.bmp", kNavy, true);
  ExpectLine(lines[6], " Total image count selected: 3", kNavy, true);
  ExpectLine(lines[7], " Total image count encrypted: 2", kNavy, true);
  ExpectLine(lines[8], " Finish time: .+", kNavy, true);
  ExpectLine(lines[9], " Encryption completed with errors\\.", kNavy, true);
  ExpectLine(lines[10], "", kNavy, true);
  EXPECT_EQ(services.dialogs.informations.back(),
            "                  Encryption complete!               ");
  EXPECT_EQ(services.pause.sleeps, 4);
  EXPECT_EQ(FolderFiles(folder.Path()),
            (std::set<std::string>{"a.jpg", "b.bmp", "c.bmp", "Ecr_a.bmp", "Ecr_c.bmp"}));
  // The third file's step enabled the code fields again.
  EXPECT_TRUE(ui.EditSeedEncrypt->isEnabled());
  EXPECT_TRUE(ui.EditSeedDecrypt->isEnabled());
  EXPECT_FALSE(ui.StopButton->isEnabled());
  EXPECT_FALSE(ui.Led1->Lit());
  EXPECT_EQ(ui.FlatGauge1->Progress(), 0);
  // Re-read: the new files are listed and nothing is selected.
  EXPECT_TRUE(Items(ui.FileListBox1).contains("Ecr_a.bmp"));
  EXPECT_EQ(ui.FileListBox1->SelCount(), 0);

  // The written file decrypts to the original's storage.
  TPicture picture;
  std::unique_ptr<TBitmap> written;
  LoadPictureFile(folder / "Ecr_a.bmp", picture, written);
  TBitmap decrypted;
  DecryptTransform(*written, "614052", decrypted);
  EXPECT_EQ(test::StorageBytes(decrypted), LoadedStorage(folder / "a.jpg"));

  // With the decrypted pane empty, "Save" has nothing to write or report.
  form->Decrypt1Click();
  const size_t requests = services.dialogs.saveRequests.size();
  ui.ButtonSave->setEnabled(true);
  ui.ButtonSave->click();
  EXPECT_EQ(services.dialogs.saveRequests.size(), requests);
  EXPECT_EQ(RunLines().size(), 11u);

  // A single save of a decryption result inherits the italic style.
  test::DoubleClickRow(ui.FileListBox1, Items(ui.FileListBox1).indexOf("Ecr_a.bmp"));
  ui.ButtonDecrypt->click();
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "single.bmp"));
  ui.ButtonSave->click();
  const auto after = RunLines();
  ASSERT_EQ(after.size(), 16u);
  ExpectLine(after[12], " SINGLE IMAGE \\(DECRYPTION\\) SAVED ON .+ AT .+", QColor(128, 0, 0),
             true);
  ExpectLine(after[13], " Decrypted file name:  single\\.bmp", QColor(128, 0, 0), true);
  ExpectLine(after[14], " Image saved successfuly\\.", QColor(128, 0, 0), true);
  EXPECT_EQ(LoadedStorage(folder / "single.bmp"), LoadedStorage(folder / "a.jpg"));
}

// A FIFO would block the open until a writer came. The list leaves FIFOs
// out, but a listed file can become one: selected for a run or opened by a
// double-click, it fails at once and the run goes on.
TEST_F(JobTest, AFifoAmongTheFilesFailsAtOnce) {
  folder.Copy("jpeg/hopper.jpg", "b.jpg");
  folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "c.bmp");
  Open();
  ASSERT_TRUE(Items(ui.FileListBox1).contains("b.jpg"));
  std::filesystem::remove(folder / "b.jpg");
  ASSERT_EQ(::mkfifo((folder / "b.jpg").c_str(), 0600), 0);

  test::DoubleClickRow(ui.FileListBox1, Items(ui.FileListBox1).indexOf("b.jpg"));
  ASSERT_EQ(services.dialogs.errors.size(), 1u);
  EXPECT_TRUE(services.dialogs.errors[0].contains("Cannot open file " +
                                                  QString::fromStdString(folder / "b.jpg")))
      << services.dialogs.errors[0].toStdString();

  ui.EncryptAndSave->setChecked(true);
  Select({"b.jpg", "c.bmp"});
  Run(ui.Ebutton);
  const auto lines = RunLines();
  ASSERT_GE(lines.size(), 5u);
  ExpectLine(lines[3], " ERROR \\(Cannot open file .*/b\\.jpg\\) while processing b\\.jpg", kRed,
             false);
  ExpectLine(lines[4], " Image saved as:  Ecr_c\\.bmp", kNavy, true);
}

TEST_F(JobTest, NoFileSelectedStillLogsARun) {
  folder.Copy("jpeg/hopper.jpg", "a.jpg");
  Open();
  Run(ui.Ebutton);
  const auto lines = RunLines();
  ASSERT_EQ(lines.size(), 8u);
  ExpectLine(lines[2], " Encryption Mode: Test Only", kNavy, false);
  ExpectLine(lines[3], " Total image count selected: 0", kNavy, false);
  ExpectLine(lines[4], " Total image count encrypted: 0", kNavy, false);
  ExpectLine(lines[6], " Encryption completed without errors\\.", kNavy, false);
  EXPECT_EQ(services.dialogs.informations.size(), 1u);
}

TEST_F(JobTest, NoAnswerChangesNothing) {
  folder.Copy("jpeg/hopper.jpg", "a.jpg");
  Open();
  Select({"a.jpg"});
  ui.Ebutton->click();
  EXPECT_EQ(RunLines().size(), 0u);
  EXPECT_FALSE(ui.Led1->Lit());
}

TEST_F(JobTest, StopDuringTheFirstOfFive) {
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp"}) {
    folder.Copy("bmp/bmpsuite/g/pal8.bmp", name);
  }
  Open();
  ui.EncryptAndSave->setChecked(true);
  Select({"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp"});
  services.pause.onProcessMessages = [this] {
    if (ui.StopButton->isEnabled()) ui.StopButton->click();
  };
  Run(ui.Ebutton);
  EXPECT_EQ(services.dialogs.informations.back(), "    Execution stoped on user request!    ");
  const auto lines = RunLines();
  ASSERT_EQ(lines.size(), 9u);
  ExpectLine(lines[3], " Image saved as:  Ecr_a\\.bmp", kNavy, true);
  ExpectLine(lines[4], " Total image count selected: 5", kNavy, true);
  ExpectLine(lines[5], " Total image count encrypted: 1", kNavy, true);
  ExpectLine(lines[7], " Encryption was interupted on user request!", kRed, true);
  ExpectLine(lines[8], "", kRed, true);
  EXPECT_EQ(ui.StopLabel->text(), "1");
  EXPECT_TRUE(std::filesystem::exists(folder / "Ecr_a.bmp"));
  EXPECT_FALSE(std::filesystem::exists(folder / "Ecr_b.bmp"));

  // The next run starts with a red blank line and clears the stop flag.
  services.pause.onProcessMessages = nullptr;
  Run(ui.Ebutton);
  const auto next = RunLines();
  ExpectLine(next[9], "", kRed, true);
  EXPECT_EQ(ui.StopLabel->text(), "0");
}

TEST_F(JobTest, TestRunWritesNothingAndKeepsTheList) {
  folder.Copy("jpeg/hopper.jpg", "a.jpg");
  folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "c.bmp");
  Open();
  Select({"a.jpg", "c.bmp"});
  const auto before = FolderFiles(folder.Path());
  Run(ui.Ebutton);
  EXPECT_EQ(FolderFiles(folder.Path()), before);
  EXPECT_EQ(ui.FileListBox1->SelCount(), 2) << "the list is not read again";
  EXPECT_EQ(RunLines()[4].text, " Total image count encrypted: 2");
  EXPECT_EQ(services.pause.sleeps, 2);
  // "Save" proposes the last file's name and writes its result.
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "out.bmp"));
  ui.ButtonSave->click();
  EXPECT_EQ(services.dialogs.saveRequests.back().fileName, "Ecr_c.bmp");
  TPicture picture;
  std::unique_ptr<TBitmap> written;
  LoadPictureFile(folder / "out.bmp", picture, written);
  EXPECT_EQ(test::StorageBytes(*written), test::StorageBytes(*form->EncryptedBitmap));
  ExpectLine(RunLines()[9], " SINGLE IMAGE \\(ENCRYPTION\\) SAVED ON .+ AT .+", QColor(128, 0, 128),
             false);
  ExpectLine(RunLines()[10], " Encrypted file name:  out\\.bmp", QColor(128, 0, 128), false);
  // Cancelling writes and logs nothing.
  const size_t count = form->ActivityLog().Lines().size();
  ui.ButtonSave->click();
  EXPECT_EQ(form->ActivityLog().Lines().size(), count);
}

TEST_F(JobTest, DecryptionNamesAndModes) {
  folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "Ecr_photo.bmp");
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "ecr_photo.bmp");
  folder.Copy("bmp/bmpsuite/g/pal4.bmp", "plain.bmp");
  Open();
  form->Decrypt1Click();
  ui.ShowAllFiles->setChecked(true);
  form->ShowAllFilesClick();
  ui.EncryptAndDelete->setChecked(true);
  Select({"Ecr_photo.bmp", "ecr_photo.bmp", "plain.bmp"});
  Run(ui.Dbutton);
  EXPECT_EQ(services.dialogs.confirmations.back(),
            " \n You are about to initiate decryption process.   \n Your decryption code is set "
            "to 614052.  \n\n Do you want to proceed?");
  EXPECT_EQ(FolderFiles(folder.Path()),
            (std::set<std::string>{"photo.bmp", "Dcr_ecr_photo.bmp", "Dcr_plain.bmp"}));
  const auto lines = RunLines();
  ExpectLine(lines[1], " BATCH IMAGE DECRYPTION STARTED ON .+ at .+", kGreen, false);
  ExpectLine(lines[2], " Decryption Mode: Decrypt and Delete Original", kGreen, false);
  std::set<QString> saved;
  for (int i = 3; i <= 5; ++i) {
    ExpectLine(lines[i], " Image saved as:  .+", kGreen, true);
    saved.insert(lines[i].text);
  }
  EXPECT_EQ(saved,
            (std::set<QString>{" Image saved as:  Dcr_ecr_photo.bmp",
                               " Image saved as:  Dcr_plain.bmp", " Image saved as:  photo.bmp"}));
  ExpectLine(lines[7], " Total image count decrypted: 3", kGreen, true);
  ExpectLine(lines[9], " Decryption completed without errors\\.", kGreen, true);
  EXPECT_EQ(services.dialogs.informations.back(), "             Decryption complete!             ");
  EXPECT_EQ(" Image saved as:  " + form->SavePictureDialogFileName, lines[5].text);
}

TEST_F(JobTest, EncryptAndDecryptWithDeleteRoundTrip) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"jpeg/hopper.jpg", "hopper.jpg"},
      {"bmp/bmpsuite/g/pal8.bmp", "pal8.bmp"},
      {"pcx/odd_stride.pcx", "stride.pcx"},
      {"png/pngsuite/basi0g01.png", "gray.png"}};
  std::map<std::string, std::vector<uint8_t>> originals;
  std::set<std::string> expected;
  for (const auto& [data, name] : files) {
    folder.Copy(data, name);
    originals[name] = LoadedStorage(folder / name);
    expected.insert(name.substr(0, name.rfind('.')) + ".bmp");
  }
  Open();
  ui.EncryptAndDelete->setChecked(true);
  std::vector<QString> names;
  for (const auto& file : files) names.push_back(QString::fromStdString(file.second));
  Select(names);
  Run(ui.Ebutton);
  std::set<std::string> encrypted;
  for (const auto& name : expected) encrypted.insert("Ecr_" + name);
  EXPECT_EQ(FolderFiles(folder.Path()), encrypted);

  form->Decrypt1Click();
  Select({"Ecr_hopper.bmp", "Ecr_pal8.bmp", "Ecr_stride.bmp", "Ecr_gray.bmp"});
  Run(ui.Dbutton);
  EXPECT_EQ(FolderFiles(folder.Path()), expected);
  for (const auto& [name, storage] : originals) {
    EXPECT_EQ(LoadedStorage(folder / (name.substr(0, name.rfind('.')) + ".bmp")), storage) << name;
  }
}

TEST_F(JobTest, SingleDecryptAndSaveOnTheDecryptPage) {
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "Ecr_a.bmp");
  folder.File("Ecr_bad.bmp", "BM this is no bitmap");
  Open();
  form->Decrypt1Click();
  test::DoubleClickRow(ui.FileListBox1, Items(ui.FileListBox1).indexOf("Ecr_a.bmp"));
  EXPECT_FALSE(ui.ButtonSave->isEnabled());
  ui.ButtonDecrypt->setEnabled(true);
  ui.ButtonDecrypt->click();
  ASSERT_NE(ui.ImageDecrypted->Graphic(), nullptr);
  EXPECT_TRUE(ui.ButtonSave->isEnabled());

  // The dialog holds no proposed name; the written file is the pane's picture.
  form->SavePictureDialogFileName = "held.bmp";
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "plain.bmp"));
  ui.ButtonSave->click();
  EXPECT_EQ(services.dialogs.saveRequests.back().fileName, "held.bmp");
  TBitmap expected;
  DecryptTransform(*form->WorkingBitmap, "614052", expected);
  EXPECT_EQ(LoadedStorage(folder / "plain.bmp"), test::StorageBytes(expected));
  EXPECT_TRUE(Items(ui.FileListBox1).contains("Ecr_a.bmp")) << "the list was read again";

  // A failed write: the heading only, the error in the box.
  form->SetPictureWriter([](const TGraphic&, const std::string&, TExistingFile) {
    throw EWriteError("Stream write error");
  });
  const size_t before = form->ActivityLog().Lines().size();
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "again.bmp"));
  ui.ButtonSave->click();
  ASSERT_EQ(form->ActivityLog().Lines().size(), before + 2);
  EXPECT_TRUE(form->ActivityLog().Lines().back().text.startsWith(" SINGLE IMAGE (DECRYPTION)"));
  ASSERT_EQ(services.dialogs.errors.size(), 1u);
  EXPECT_TRUE(services.dialogs.errors[0].startsWith("Stream write error"));

  // Decrypting after a failed load goes to the error box.
  test::DoubleClickRow(ui.FileListBox1, Items(ui.FileListBox1).indexOf("Ecr_bad.bmp"));
  ui.ButtonSave->setEnabled(false);
  ui.ButtonDecrypt->setEnabled(true);
  ui.ButtonDecrypt->click();
  EXPECT_EQ(services.dialogs.errors.back(), "Scan line index out of range.");
  EXPECT_FALSE(ui.ButtonSave->isEnabled());
}

TEST_F(JobTest, SaveAsksBeforeReplacingAFile) {
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "Ecr_a.bmp");
  const std::string restored = "the only restored copy";
  folder.File("a.bmp", restored);
  Open();
  form->Decrypt1Click();
  test::DoubleClickRow(ui.FileListBox1, Items(ui.FileListBox1).indexOf("Ecr_a.bmp"));
  ui.ButtonDecrypt->setEnabled(true);
  ui.ButtonDecrypt->click();
  const size_t logged = form->ActivityLog().Lines().size();

  // No keeps the file and logs nothing.
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "a.bmp"));
  services.dialogs.answers.push_back(false);
  ui.ButtonSave->click();
  ASSERT_EQ(services.dialogs.confirmations.size(), 1u);
  EXPECT_EQ(services.dialogs.confirmations[0], "a.bmp already exists.\nDo you want to replace it?");
  EXPECT_EQ(test::ReadFileBytes(folder / "a.bmp"),
            std::vector<uint8_t>(restored.begin(), restored.end()));
  EXPECT_EQ(form->ActivityLog().Lines().size(), logged);

  // Yes replaces it with the pane's picture.
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "a.bmp"));
  services.dialogs.answers.push_back(true);
  ui.ButtonSave->click();
  EXPECT_EQ(services.dialogs.confirmations.size(), 2u);
  TBitmap expected;
  DecryptTransform(*form->WorkingBitmap, "614052", expected);
  EXPECT_EQ(LoadedStorage(folder / "a.bmp"), test::StorageBytes(expected));

  // A new name needs no question.
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "new.bmp"));
  ui.ButtonSave->click();
  EXPECT_EQ(services.dialogs.confirmations.size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(folder / "new.bmp"));
}

TEST_F(JobTest, ACodeTypedDuringARunAppliesToLaterFiles) {
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "a.bmp");
  folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "b.bmp");
  Open();
  ui.EncryptAndSave->setChecked(true);
  Select({"a.bmp", "b.bmp"});
  // The code changes once the first file has been written.
  services.pause.onProcessMessages = [this] {
    if (std::filesystem::exists(folder / "Ecr_a.bmp")) ui.EditSeedEncrypt->setText("77");
  };
  Run(ui.Ebutton);
  EXPECT_TRUE(services.dialogs.confirmations.back().contains("code is set to 614052."));
  for (const auto& [name, code] : {std::pair{"a", "614052"}, std::pair{"b", "77"}}) {
    TPicture picture;
    std::unique_ptr<TBitmap> written;
    LoadPictureFile(folder / ("Ecr_" + std::string(name) + ".bmp"), picture, written);
    TBitmap decrypted;
    DecryptTransform(*written, code, decrypted);
    EXPECT_EQ(test::StorageBytes(decrypted), LoadedStorage(folder / (std::string(name) + ".bmp")))
        << name;
  }
}

// The step deletes the file it loaded, whatever the list shows by then.
TEST_F(JobTest, AClickOnAnotherFileDuringADeleteRunDeletesOnlyTheEncryptedOne) {
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "a.bmp");
  folder.Copy("bmp/bmpsuite/g/rgb24.bmp", "b.bmp");
  const auto aBytes = test::ReadFileBytes(folder / "a.bmp");
  const auto bStorage = LoadedStorage(folder / "b.bmp");
  Open();
  ui.EncryptAndDelete->setChecked(true);
  Select({"b.bmp"});
  bool clicked = false;
  services.pause.onProcessMessages = [&] {
    if (clicked) return;
    clicked = true;
    test::ClickRow(ui.FileListBox1, Items(ui.FileListBox1).indexOf("a.bmp"));
  };
  Run(ui.Ebutton);
  ASSERT_TRUE(clicked);
  EXPECT_EQ(FolderFiles(folder.Path()), (std::set<std::string>{"a.bmp", "Ecr_b.bmp"}));
  EXPECT_EQ(test::ReadFileBytes(folder / "a.bmp"), aBytes);
  TPicture picture;
  std::unique_ptr<TBitmap> written;
  LoadPictureFile(folder / "Ecr_b.bmp", picture, written);
  TBitmap decrypted;
  DecryptTransform(*written, "614052", decrypted);
  EXPECT_EQ(test::StorageBytes(decrypted), bStorage);
  ExpectLine(RunLines()[3], " Image saved as:  Ecr_b\\.bmp", kNavy, true);
}

// A code the transforms cannot use stops a run, and a single decryption,
// before anything is written or deleted.
TEST_F(JobTest, CodesThatDoNotConvertAreRefusedBeforeAnyFile) {
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "a.bmp");
  Open();
  ui.EncryptAndDelete->setChecked(true);
  Select({"a.bmp"});
  for (const QString code : {"", "99999999999"}) {
    services.dialogs.errors.clear();
    ui.EditSeedEncrypt->setText(code);
    Run(ui.Ebutton);
    EXPECT_EQ(services.dialogs.errors,
              std::vector<QString>{"'" + code + "' is not a valid integer value."});
    EXPECT_EQ(RunLines().size(), 0u);
    EXPECT_EQ(FolderFiles(folder.Path()), std::set<std::string>{"a.bmp"});
  }
  // A code emptied while the run pauses fails that file and keeps it.
  ui.EditSeedEncrypt->setText("614052");
  services.pause.onProcessMessages = [this] { ui.EditSeedEncrypt->clear(); };
  Run(ui.Ebutton);
  ExpectLine(RunLines()[3], " ERROR \\('' is not a valid integer value\\) while processing a\\.bmp",
             kRed, false);
  EXPECT_EQ(FolderFiles(folder.Path()), std::set<std::string>{"a.bmp"});
  services.pause.onProcessMessages = nullptr;

  form->Decrypt1Click();
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "Ecr_a.bmp");
  ui.FileListBox1->ReRead();
  test::DoubleClickRow(ui.FileListBox1, Items(ui.FileListBox1).indexOf("Ecr_a.bmp"));
  ui.EditSeedDecrypt->setText("4294967296");
  ui.ButtonDecrypt->setEnabled(true);
  ui.ButtonDecrypt->click();
  EXPECT_EQ(services.dialogs.errors.back(), "'4294967296' is not a valid integer value.");
  EXPECT_EQ(ui.ImageDecrypted->Graphic(), nullptr);
}

// Files already in the destination are replaced only when the user says so,
// asked once per run; sources whose outputs are kept stay.
TEST_F(JobTest, ExistingOutputsAreReplacedOnlyWhenTheUserSaysSo) {
  using TAnswer = TDialogs::TAnswer;
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  struct Case {
    TAnswer answer;
    bool replaced;
    size_t logLines;  // 0: the run never started
  };
  for (const Case& c : {Case{TAnswer::Yes, true, 11}, Case{TAnswer::No, false, 11},
                        Case{TAnswer::Cancel, false, 0}}) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    test::TTempFolder local;
    local.Copy("bmp/bmpsuite/g/pal8.bmp", "a.bmp");
    local.Copy("bmp/bmpsuite/g/rgb24.bmp", "b.bmp");
    local.Copy("bmp/bmpsuite/g/pal4.bmp", "c.bmp");
    test::WriteFileBytes(local / "Ecr_a.bmp", old);
    test::WriteFileBytes(local / "Ecr_b.bmp", old);
    services.dialogs.questions.clear();
    services.dialogs.questionAnswers = {c.answer};
    const TWindows caseWindows = CreateWindows(services.Services());
    form = caseWindows.FormCrypt.get();
    ui = test::TMainControls(*form);
    form->show();
    ui.EncryptAndDelete->setChecked(true);
    Select({"a.bmp", "b.bmp", "c.bmp"});
    Run(ui.Ebutton);
    ASSERT_EQ(
        services.dialogs.questions,
        std::vector<QString>{"2 files already exist in the destination folder. Replace them?"});
    const auto lines = RunLines();
    ASSERT_EQ(lines.size(), c.logLines);
    const std::set<std::string> files = FolderFiles(local.Path());
    if (c.answer == TAnswer::Cancel) {
      EXPECT_EQ(files,
                (std::set<std::string>{"a.bmp", "b.bmp", "c.bmp", "Ecr_a.bmp", "Ecr_b.bmp"}));
      EXPECT_EQ(test::ReadFileBytes(local / "Ecr_a.bmp"), old);
      continue;
    }
    if (c.replaced) {
      EXPECT_EQ(files, (std::set<std::string>{"Ecr_a.bmp", "Ecr_b.bmp", "Ecr_c.bmp"}));
      EXPECT_NE(test::ReadFileBytes(local / "Ecr_a.bmp"), old);
      ExpectLine(lines[9], " Encryption completed without errors\\.", kNavy, true);
    } else {
      EXPECT_EQ(files,
                (std::set<std::string>{"a.bmp", "b.bmp", "Ecr_a.bmp", "Ecr_b.bmp", "Ecr_c.bmp"}));
      EXPECT_EQ(test::ReadFileBytes(local / "Ecr_a.bmp"), old);
      EXPECT_EQ(test::ReadFileBytes(local / "Ecr_b.bmp"), old);
      ExpectLine(lines[3],
                 " ERROR \\(Ecr_a\\.bmp already exists in the destination folder\\) while "
                 "processing a\\.bmp",
                 kRed, false);
      ExpectLine(lines[4],
                 " ERROR \\(Ecr_b\\.bmp already exists in the destination folder\\) while "
                 "processing b\\.bmp",
                 kRed, false);
      ExpectLine(lines[5], " Image saved as:  Ecr_c\\.bmp", kNavy, true);
      ExpectLine(lines[7], " Total image count encrypted: 1", kNavy, true);
      ExpectLine(lines[9], " Encryption completed with errors\\.", kNavy, true);
    }
  }
}

// A failed write logs the error, keeps the source, leaves no partial file
// and the run goes on.
TEST_F(JobTest, WriteFaultsKeepTheSource) {
  struct Case {
    const char* label;
    std::function<void(JobTest&)> arrange;
    const char* message;  // a pattern
  };
  const std::vector<Case> cases = {
      {"destination deleted",
       [](JobTest& t) {
         t.folder.Folder("gone");
         t.ui.DirLabel->setText(QString::fromStdString(t.folder / "gone"));
         std::filesystem::remove(t.folder / "gone");
       },
       "Cannot create file .+/gone/Ecr_.\\.bmp"},
      {"destination not a folder",
       [](JobTest& t) {
         t.folder.File("plain");
         t.ui.DirLabel->setText(QString::fromStdString(t.folder / "plain"));
       },
       "Cannot create file .+"},
      {"disk full",
       [](JobTest& t) {
         t.form->SetPictureWriter([](const TGraphic&, const std::string& path, TExistingFile) {
           // The disk fills after the first bytes of the temporary file.
           WriteFileAtomically(path, [](TStream& stream) {
             stream.WriteBuffer("BM", 2);
             throw EWriteError("Stream write error");
           });
         });
       },
       "Stream write error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    test::TTempFolder local;
    local.Copy("bmp/bmpsuite/g/pal8.bmp", "a.bmp");
    local.Copy("bmp/bmpsuite/g/rgb24.bmp", "b.bmp");
    services.dialogs.informations.clear();
    const TWindows caseWindows = CreateWindows(services.Services());
    form = caseWindows.FormCrypt.get();
    ui = test::TMainControls(*form);
    form->show();
    ui.EncryptAndDelete->setChecked(true);
    Select({"a.bmp", "b.bmp"});
    c.arrange(*this);
    Run(ui.Ebutton);
    const auto lines = RunLines();
    // No file is reported saved.
    ASSERT_EQ(lines.size(), 10u);
    ExpectLine(lines[3], " ERROR \\(" + QString(c.message) + "\\) while processing a\\.bmp", kRed,
               false);
    ExpectLine(lines[4], " ERROR \\(.+\\) while processing b\\.bmp", kRed, false);
    ExpectLine(lines[6], " Total image count encrypted: 0", kNavy, false);
    ExpectLine(lines[8], " Encryption completed with errors\\.", kNavy, false);
    EXPECT_EQ(FolderFiles(local.Path()), (std::set<std::string>{"a.bmp", "b.bmp"}));
    EXPECT_FALSE(ui.EditSeedEncrypt->isEnabled());
  }
}

TEST_F(JobTest, SavesTheLogAsRichTextAndPrintsIt) {
  Open();
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "mylog"));
  ui.FlatSpeedButton3->click();
  EXPECT_EQ(services.dialogs.saveRequests.back().fileName, "quorvex_log");
  const auto bytes = test::ReadFileBytes(folder / "mylog.rtf");
  const std::string rtf(bytes.begin(), bytes.end());
  EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
  EXPECT_NE(rtf.find("\\red0\\green0\\blue255;"), std::string::npos);
  EXPECT_NE(rtf.find("\\fs24\\cf2\\b\\i0  QUORVEX ACTIVITY LOG\\par"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("{\\f0\\fswiss Arial;}"), std::string::npos);
  EXPECT_EQ(form->SaveDialog1FileName, QString::fromStdString(folder / "mylog.rtf"));
}

// An independent reader sees each line's colour, style and size.
TEST_F(JobTest, SavedLogReadsBackInAnotherReader) {
  if (QStandardPaths::findExecutable("unrtf").isEmpty()) GTEST_SKIP() << "unrtf is missing";
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "a.bmp");
  Open();
  ui.EncryptAndSave->setChecked(true);
  Select({"a.bmp"});
  Run(ui.Ebutton);
  form->ActivityLog().Add("braces {} and \\ backslash");
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "log.rtf"));
  ui.FlatSpeedButton3->click();
  QProcess unrtf;
  unrtf.start("unrtf", {"--html", QString::fromStdString(folder / "log.rtf")});
  ASSERT_TRUE(unrtf.waitForFinished(10000));
  const QString html = QString::fromUtf8(unrtf.readAllStandardOutput());
  EXPECT_TRUE(html.contains(R"(<font size="3"><font color="#0000ff"><b> QUORVEX ACTIVITY LOG)"))
      << html.toStdString();
  EXPECT_TRUE(html.contains(R"(<font color="#000080"><i> Image saved as: Ecr_a.bmp)"))
      << html.toStdString();
  EXPECT_TRUE(html.contains(R"(<font color="#000080"> Encryption Mode: Encrypt and Save Original)"))
      << html.toStdString();
  EXPECT_TRUE(html.contains("braces {} and \\ backslash"));
}

TEST_F(JobTest, PrintsTheWholeLogToPdf) {
  Open();

  for (int i = 0; i < 200; ++i) form->ActivityLog().Add(QString(" line %1").arg(i));
  form->Printer().setOutputFormat(QPrinter::PdfFormat);
  form->Printer().setOutputFileName(QString::fromStdString(folder / "log.pdf"));
  ui.FSB_Print->click();
  EXPECT_TRUE(services.dialogs.errors.empty());
  EXPECT_EQ(form->Printer().docName(), "Quorvex Log File");
  const auto pdf = test::ReadFileBytes(folder / "log.pdf");
  const std::string text(pdf.begin(), pdf.end());
  size_t pages = 0;
  for (size_t at = text.find("/Type /Page\n"); at != std::string::npos;
       at = text.find("/Type /Page\n", at + 1)) {
    ++pages;
  }
  EXPECT_GT(pages, 1u) << "the log spans pages";
}

TEST_F(JobTest, WithoutAPrinterPrintOpensThePrintDialogAndUsesItsChoice) {
  Open();
  QPrinter& printer = form->Printer();
  // What a machine without a default printer gives.
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName("");
  const auto pickPdf = [&](const std::string& name) {
    services.dialogs.printerChoice = [path = folder / name](QPrinter& chosen) {
      chosen.setOutputFormat(QPrinter::PdfFormat);
      chosen.setOutputFileName(QString::fromStdString(path));
      return true;
    };
  };

  // Cancelled: nothing printed, no error.
  ui.FSB_Print->click();
  EXPECT_EQ(services.dialogs.printerSetups, 1);
  EXPECT_TRUE(services.dialogs.errors.empty());

  pickPdf("first.pdf");
  ui.FSB_Print->click();
  EXPECT_EQ(services.dialogs.printerSetups, 2);
  EXPECT_TRUE(std::filesystem::exists(folder / "first.pdf"));
  EXPECT_TRUE(services.dialogs.errors.empty());

  // Printing again, from the menu too, uses that choice without asking.
  std::filesystem::remove(folder / "first.pdf");
  ui.PrintLog1->trigger();
  EXPECT_EQ(services.dialogs.printerSetups, 2);
  EXPECT_TRUE(std::filesystem::exists(folder / "first.pdf"));

  // Printer Setup changes the printer Print uses.
  pickPdf("second.pdf");
  ui.PrinterSetup1->trigger();
  EXPECT_EQ(services.dialogs.printerSetups, 3);
  ui.FSB_Print->click();
  EXPECT_EQ(services.dialogs.printerSetups, 3);
  EXPECT_TRUE(std::filesystem::exists(folder / "second.pdf"));
  EXPECT_TRUE(services.dialogs.errors.empty());
}

// Sealing runs with a cheap key derivation; the item is off again after
// each test, whatever it left in the settings.
class SealJobTest : public JobTest {
 public:
  SealJobTest() {
    previous_ =
        SetKeyDerivation([](const std::string& passphrase, const TSalt& salt, TSealParameters) {
          return DeriveSealKey(passphrase, salt, TSealParameters{1, 8});
        });
  }
  ~SealJobTest() override {
    SetKeyDerivation(previous_);
    QSettings(QSettings::IniFormat, QSettings::UserScope, "quorvex", "quorvex").clear();
  }
  void TypeInto(QLineEdit* edit, const QString& text) {
    edit->setEnabled(true);
    edit->clear();
    edit->setFocus();
    QTest::keyClicks(edit, text);
  }

 private:
  TKeyDerivation previous_;
};

TEST_F(SealJobTest, ItemIsOffByDefaultRememberedAndLiftsTheDigitFilterWhileOn) {
  Open();
  EXPECT_EQ(ui.SealWholeFiles1->text(), "Seal Whole Files");
  EXPECT_TRUE(ui.Action1->actions().contains(ui.SealWholeFiles1));
  EXPECT_TRUE(ui.SealWholeFiles1->isCheckable());
  EXPECT_FALSE(ui.SealWholeFiles1->isChecked());
  for (QLineEdit* edit : {ui.EditSeedEncrypt, ui.EditSeedDecrypt}) {
    TypeInto(edit, "4a2 b!");
    EXPECT_EQ(edit->text(), "42");
  }

  ui.SealWholeFiles1->trigger();
  EXPECT_TRUE(ui.SealWholeFiles1->isChecked());
  for (QLineEdit* edit : {ui.EditSeedEncrypt, ui.EditSeedDecrypt}) {
    TypeInto(edit, "4a2 b!");
    EXPECT_EQ(edit->text(), "4a2 b!");
    // Pasted text is not filtered either.
    edit->clear();
    edit->insert("pässwörd 9");
    EXPECT_EQ(edit->text(), "pässwörd 9");
  }
  // "Reveal Codes" still shows and hides what was typed.
  ui.RevealCodes1->trigger();
  EXPECT_EQ(ui.EditSeedEncrypt->echoMode(), QLineEdit::Normal);
  ui.RevealCodes1->trigger();
  EXPECT_EQ(ui.EditSeedEncrypt->echoMode(), QLineEdit::Password);

  // The next session finds the item as it was left.
  {
    const TWindows next = CreateWindows(services.Services());
    const test::TMainControls again(*next.FormCrypt);
    EXPECT_TRUE(again.SealWholeFiles1->isChecked());
    next.FormCrypt->show();
    TypeInto(again.EditSeedDecrypt, "x1y");
    EXPECT_EQ(again.EditSeedDecrypt->text(), "x1y");
    again.SealWholeFiles1->trigger();
    TypeInto(again.EditSeedDecrypt, "x1y");
    EXPECT_EQ(again.EditSeedDecrypt->text(), "1");
  }
  const TWindows last = CreateWindows(services.Services());
  EXPECT_FALSE(test::TMainControls(*last.FormCrypt).SealWholeFiles1->isChecked());
}

TEST_F(SealJobTest, SealsAFolderAndUnsealsItByteForByte) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"jpeg/hopper.jpg", "hopper.jpg"}, {"bmp/bmpsuite/g/pal8.bmp", "pal8.bmp"}};
  for (const auto& [data, name] : files) folder.Copy(data, name);
  folder.Folder("originals");
  Open();
  ui.SealWholeFiles1->trigger();
  ui.EditSeedEncrypt->setText("correct horse");
  ui.EncryptAndSave->setChecked(true);
  Select({"hopper.jpg", "pal8.bmp"});
  Run(ui.Ebutton);

  EXPECT_EQ(services.dialogs.confirmations.back(),
            " \n You are about to initiate encryption process.   \n Files are sealed whole with "
            "your passphrase.  \n Your encryption code is set to correct horse.  \n\n Do you "
            "want to proceed?");
  EXPECT_TRUE(services.dialogs.errors.empty());
  auto lines = RunLines();
  ASSERT_GE(lines.size(), 5u);
  ExpectLine(lines[2], " Encryption Mode: Encrypt and Save Original", kNavy, false);
  ExpectLine(lines[3], " Files are sealed whole \\(passphrase encryption\\)\\.", kNavy, false);
  ExpectLine(lines[4], " Image saved as:  Ecr_hopper\\.bmp", kNavy, true);
  // The pane shows the last sealed file as it was written.
  const auto* noise = dynamic_cast<const TBitmap*>(ui.ImageEncrypted->Graphic());
  ASSERT_NE(noise, nullptr);
  EXPECT_EQ(test::StorageBytes(*noise), LoadedStorage(folder / "Ecr_pal8.bmp"));
  for (const auto& [data, name] : files) {
    const std::string sealed = folder / ("Ecr_" + name.substr(0, name.rfind('.')) + ".bmp");
    EXPECT_TRUE(IsSealedFile(sealed)) << sealed;
    std::filesystem::rename(folder / name, folder / ("originals/" + name));
  }

  form->Decrypt1Click();
  ui.EditSeedDecrypt->setText("correct horse");
  Select({"Ecr_hopper.bmp", "Ecr_pal8.bmp"});
  const size_t before = form->ActivityLog().Lines().size();
  Run(ui.Dbutton);
  EXPECT_TRUE(services.dialogs.confirmations.back().contains(
      " Sealed files are restored as their original files.  \n"));
  EXPECT_TRUE(services.dialogs.errors.empty());
  lines = form->ActivityLog().Lines();
  ASSERT_GT(lines.size(), before + 4);
  // The header's lines take the italic style the last run left.
  ExpectLine(lines[before + 3], " Sealed files are unsealed to their original files\\.", kGreen,
             true);
  ExpectLine(lines[before + 4], " Image saved as:  hopper\\.jpg", kGreen, true);
  for (const auto& [data, name] : files) {
    EXPECT_EQ(ReadFileBytes(folder / name), ReadFileBytes(TestData(data))) << name;
  }
}

TEST_F(SealJobTest, SealingRefusesWeakPassphrasesBeforeTheRun) {
  folder.Copy("jpeg/hopper.jpg", "a.jpg");
  Open();
  ui.SealWholeFiles1->trigger();
  ui.EncryptAndSave->setChecked(true);
  Select({"a.jpg"});
  for (const QString code : {"614052", "short"}) {
    services.dialogs.errors.clear();
    ui.EditSeedEncrypt->setText(code);
    Run(ui.Ebutton);
    ASSERT_EQ(services.dialogs.errors.size(), 1u) << code.toStdString();
    EXPECT_TRUE(services.dialogs.confirmations.empty());
    EXPECT_EQ(RunLines().size(), 0u);
    EXPECT_EQ(FolderFiles(folder.Path()), std::set<std::string>{"a.jpg"});
    services.dialogs.answers.clear();
  }
}

// Decrypt runs recognise sealed files with the item off too; a code that is
// no number is still refused for the others.
TEST_F(SealJobTest, DecryptRunsUnsealWhateverTheItemSays) {
  folder.File("notes.txt", "any bytes at all\n");
  TSealer sealer("20261210");
  sealer.Seal(folder / "notes.txt", folder / "Ecr_notes.bmp");
  std::filesystem::rename(folder / "notes.txt", folder / "kept.txt");
  folder.Copy("bmp/bmpsuite/g/pal8.bmp", "Ecr_plain.bmp");
  Open();
  ASSERT_FALSE(ui.SealWholeFiles1->isChecked());
  form->Decrypt1Click();
  ui.EncryptAndSave->setChecked(true);

  ui.EditSeedDecrypt->setText("not a number");
  Select({"Ecr_notes.bmp", "Ecr_plain.bmp"});
  Run(ui.Dbutton);
  EXPECT_EQ(services.dialogs.errors,
            std::vector<QString>{"'not a number' is not a valid integer value."});
  EXPECT_FALSE(std::filesystem::exists(folder / "notes.txt"));

  services.dialogs.errors.clear();
  ui.EditSeedDecrypt->setText("20261210");
  Select({"Ecr_notes.bmp"});
  Run(ui.Dbutton);
  EXPECT_TRUE(services.dialogs.errors.empty());
  EXPECT_EQ(ReadFileBytes(folder / "notes.txt"), ReadFileBytes(folder / "kept.txt"));
}

// The decrypt step on a sealed file shows the restored picture, and "Save"
// writes the original's bytes under its own name, asking before replacing.
TEST_F(SealJobTest, SingleUnsealShowsThePictureAndSavesTheOriginal) {
  folder.Copy("jpeg/hopper.jpg", "hopper.jpg");
  TSealer sealer("correct horse");
  sealer.Seal(folder / "hopper.jpg", folder / "Ecr_hopper.bmp");
  folder.Folder("out");
  Open();
  form->Decrypt1Click();
  test::DoubleClickRow(ui.FileListBox1, Items(ui.FileListBox1).indexOf("Ecr_hopper.bmp"));

  // A wrong passphrase shows nothing and offers nothing to save.
  ui.EditSeedDecrypt->setText("wrong horse");
  ui.ButtonDecrypt->setEnabled(true);
  ui.ButtonDecrypt->click();
  EXPECT_EQ(services.dialogs.errors, std::vector<QString>{kSealRefusal});
  EXPECT_EQ(ui.ImageDecrypted->Graphic(), nullptr);

  ui.EditSeedDecrypt->setText("correct horse");
  ui.ButtonDecrypt->click();
  EXPECT_EQ(services.dialogs.errors.size(), 1u);
  ASSERT_NE(ui.ImageDecrypted->Graphic(), nullptr);
  const auto* shown = dynamic_cast<const TBitmap*>(ui.ImageDecrypted->Graphic());
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(test::StorageBytes(*shown), LoadedStorage(folder / "hopper.jpg"));

  EXPECT_TRUE(ui.ButtonSave->isEnabled());
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "out/hopper.jpg"));
  ui.ButtonSave->click();
  ASSERT_FALSE(services.dialogs.saveRequests.empty());
  EXPECT_EQ(services.dialogs.saveRequests.back().fileName, "hopper.jpg");
  EXPECT_EQ(ReadFileBytes(folder / "out/hopper.jpg"), ReadFileBytes(folder / "hopper.jpg"));
  ExpectLine(RunLines().end()[-3], " Decrypted file name:  hopper\\.jpg", QColor(128, 0, 0), false);

  // An existing file is replaced only when the user says so.
  test::WriteFileBytes(folder / "out/hopper.jpg", {1, 2, 3});
  services.dialogs.saveAnswers.push_back(QString::fromStdString(folder / "out/hopper.jpg"));
  ui.ButtonSave->click();
  EXPECT_EQ(services.dialogs.confirmations.back(),
            "hopper.jpg already exists.\nDo you want to replace it?");
  EXPECT_EQ(ReadFileBytes(folder / "out/hopper.jpg"), (std::vector<uint8_t>{1, 2, 3}));
}

// The encrypt step of a test run with sealing on shows the sealed BMP's
// noise without writing; "Save" writes that sealed BMP, which unseals to
// the original.
TEST_F(SealJobTest, SingleSealShowsTheNoiseAndSavesTheSealedFile) {
  folder.Copy("jpeg/hopper.jpg", "hopper.jpg");
  folder.Folder("out");
  Open();
  ui.SealWholeFiles1->trigger();
  ui.EditSeedEncrypt->setText("correct horse");
  Select({"hopper.jpg"});
  Run(ui.Ebutton);
  EXPECT_TRUE(services.dialogs.errors.empty());
  EXPECT_EQ(FolderFiles(folder.Path()), (std::set<std::string>{"hopper.jpg", "out"}));
  const auto* noise = dynamic_cast<const TBitmap*>(ui.ImageEncrypted->Graphic());
  ASSERT_NE(noise, nullptr);
  EXPECT_GT(noise->ImageWidth(), 0);

  ASSERT_TRUE(ui.ButtonSave->isEnabled());
  const std::string target = folder / "out/Ecr_hopper.bmp";
  services.dialogs.saveAnswers.push_back(QString::fromStdString(target));
  ui.ButtonSave->click();
  EXPECT_EQ(services.dialogs.saveRequests.back().fileName, "Ecr_hopper.bmp");
  ASSERT_TRUE(IsSealedFile(target));
  EXPECT_EQ(LoadedStorage(target), test::StorageBytes(*noise));
  TUnsealer unsealer("correct horse");
  TFileStream in(target, TFileStream::Mode::OpenRead);
  TUnsealer::TOpened opened = unsealer.Open(in);
  TMemoryStream content;
  opened.CopyContent(content);
  EXPECT_EQ(content.Bytes(), ReadFileBytes(folder / "hopper.jpg"));
}

}  // namespace
}  // namespace quorvex
