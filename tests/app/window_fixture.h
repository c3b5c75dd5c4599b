#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "app/current_directory.h"
#include "app/directory_outline.h"
#include "app/drive_combo_box.h"
#include "app/file_list_box.h"
#include "app/filter_combo_box.h"
#include "app/image.h"
#include "app/scripted_services.h"
#include "app/windows.h"
#include "support/test_support.h"
#include "widgets/flat_gauge.h"
#include "widgets/flat_tab_control.h"
#include "widgets/led.h"

namespace quorvex::test {

// A temporary folder made current for the test and restored afterwards.
class TTempFolder {
 public:
  TTempFolder() {
    saved_ = GetCurrentDirectoryPath();
    made_ = MakeTempDir();
    SetCurrentDirectoryPath(made_);
    path_ = GetCurrentDirectoryPath();
  }
  ~TTempFolder() {
    std::error_code error;
    ::chdir(saved_.c_str());
    std::filesystem::remove_all(made_, error);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return JoinPath(path_, name); }
  void Folder(const std::string& relative) const {
    std::filesystem::create_directories(*this / relative);
  }
  void File(const std::string& relative, const std::string& content = "x") const {
    WriteFileBytes(*this / relative, std::vector<uint8_t>(content.begin(), content.end()));
  }
  void Copy(const std::string& testData, const std::string& relative) const {
    std::filesystem::copy_file(TestData(testData), *this / relative);
  }

 private:
  std::string saved_;
  std::string made_;
  std::string path_;
};

// The main window's controls, found by the object names the window gives
// them. A name that is missing, or given twice, throws.
class TMainControls {
 public:
  TMainControls() = default;
  explicit TMainControls(const QWidget& window) : window_(&window) {}

 private:
  // Declared first: the members below are found through it.
  const QWidget* window_ = nullptr;

  template <typename T>
  static void Collect(const QObject* parent, const QString& name, QList<T*>& found) {
    for (QObject* child : parent->children()) {
      const auto* widget = qobject_cast<const QWidget*>(child);
      // Another window's controls (the gallery's) are not this one's; menus
      // are windows of their own but belong to it.
      if (widget && widget->isWindow() && !qobject_cast<const QMenu*>(widget)) continue;
      if (auto* control = qobject_cast<T*>(child); control && child->objectName() == name) {
        found.push_back(control);
      }
      Collect(child, name, found);
    }
  }

  template <typename T>
  T* Find(const char* name) const {
    if (!window_) return nullptr;
    QList<T*> found;
    Collect(window_, name, found);
    if (found.size() != 1) {
      throw std::logic_error(std::string("controls named ") + name + ": " +
                             std::to_string(found.size()));
    }
    return found.front();
  }

 public:
  QFrame* TopBand = Find<QFrame>("TopBand");
  QLabel* DestinationCaption = Find<QLabel>("DestinationCaption");
  QLabel* DirLabel = Find<QLabel>("DirLabel");
  QPushButton* FlatSpeedButton2 = Find<QPushButton>("FlatSpeedButton2");
  QLabel* originalfile = Find<QLabel>("originalfile");
  TFlatTabControl* Tab = Find<TFlatTabControl>("Tab");
  TDriveComboBox* DriveComboBox1 = Find<TDriveComboBox>("DriveComboBox1");
  TDirectoryOutline* DirectoryOutline1 = Find<TDirectoryOutline>("DirectoryOutline1");
  QLabel* ImageSelectionCaption = Find<QLabel>("ImageSelectionCaption");
  TFilterComboBox* FilterComboBox1 = Find<TFilterComboBox>("FilterComboBox1");
  TFileListBox* FileListBox1 = Find<TFileListBox>("FileListBox1");
  QPushButton* FB_preview = Find<QPushButton>("FB_preview");
  TFlatGauge* FlatGauge1 = Find<TFlatGauge>("FlatGauge1");
  QLabel* OriginalCaption = Find<QLabel>("OriginalCaption");
  QCheckBox* CheckBoxStretch = Find<QCheckBox>("CheckBoxStretch");
  QLabel* InstructionArrow = Find<QLabel>("InstructionArrow");
  QGroupBox* EncryptionCodeBox = Find<QGroupBox>("EncryptionCodeBox");
  QLineEdit* EditSeedEncrypt = Find<QLineEdit>("EditSeedEncrypt");
  QGroupBox* Mode = Find<QGroupBox>("Mode");
  QRadioButton* EncryptOnly = Find<QRadioButton>("EncryptOnly");
  QRadioButton* EncryptAndSave = Find<QRadioButton>("EncryptAndSave");
  QRadioButton* EncryptAndDelete = Find<QRadioButton>("EncryptAndDelete");
  TImage* ImageOriginal = Find<TImage>("ImageOriginal");
  QLabel* ImageName = Find<QLabel>("ImageName");
  TLed* Led1 = Find<TLed>("Led1");
  QLabel* EncryptedCaption = Find<QLabel>("EncryptedCaption");
  TImage* ImageEncrypted = Find<TImage>("ImageEncrypted");
  QPushButton* Ebutton = Find<QPushButton>("Ebutton");
  QPushButton* Dbutton = Find<QPushButton>("Dbutton");
  QPushButton* StopButton = Find<QPushButton>("StopButton");
  QPushButton* ButtonSave = Find<QPushButton>("ButtonSave");
  QWidget* DecryptPanel = Find<QWidget>("DecryptPanel");
  QLabel* DecryptedCaption = Find<QLabel>("DecryptedCaption");
  TImage* ImageDecrypted = Find<TImage>("ImageDecrypted");
  QGroupBox* DecryptionCodeBox = Find<QGroupBox>("DecryptionCodeBox");
  QLineEdit* EditSeedDecrypt = Find<QLineEdit>("EditSeedDecrypt");
  QCheckBox* ShowAllFiles = Find<QCheckBox>("ShowAllFiles");
  QPushButton* ButtonDecrypt = Find<QPushButton>("ButtonDecrypt");
  QLabel* StopLabel = Find<QLabel>("StopLabel");
  QFrame* HelpPanel = Find<QFrame>("HelpPanel");
  QTextEdit* RichEdit1 = Find<QTextEdit>("RichEdit1");
  QPushButton* FlatSpeedButton4 = Find<QPushButton>("FlatSpeedButton4");
  QPushButton* FlatSpeedButton3 = Find<QPushButton>("FlatSpeedButton3");
  QPushButton* FSB_Print = Find<QPushButton>("FSB_Print");

  QMenu* File1 = Find<QMenu>("File1");
  QAction* DestinationDirectory1 = Find<QAction>("DestinationDirectory1");
  QAction* PrinterSetup1 = Find<QAction>("PrinterSetup1");
  QAction* PrintLog1 = Find<QAction>("PrintLog1");
  QAction* Exit1 = Find<QAction>("Exit1");
  QMenu* Page1 = Find<QMenu>("Page1");
  QAction* Encrypt1 = Find<QAction>("Encrypt1");
  QAction* Decrypt1 = Find<QAction>("Decrypt1");
  QAction* ActivityLog1 = Find<QAction>("ActivityLog1");
  QAction* Refresh1 = Find<QAction>("Refresh1");
  QMenu* Action1 = Find<QMenu>("Action1");
  QAction* EncryptImages1 = Find<QAction>("EncryptImages1");
  QAction* DecryptImages1 = Find<QAction>("DecryptImages1");
  QAction* RevealCodes1 = Find<QAction>("RevealCodes1");
  QAction* SealWholeFiles1 = Find<QAction>("SealWholeFiles1");
  QMenu* About1 = Find<QMenu>("About1");
  QAction* Help1 = Find<QAction>("Help1");
  QAction* OnLineSupport1 = Find<QAction>("OnLineSupport1");
  QAction* TallowenWebSite1 = Find<QAction>("TallowenWebSite1");
  QAction* About2 = Find<QAction>("About2");
};

// Clicks entry `row` of a list with the given keyboard modifiers.
inline void ClickRow(QListWidget* list, int row, Qt::KeyboardModifiers modifiers = {}) {
  const QRect rect = list->visualItemRect(list->item(row));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, rect.center());
}

inline void DoubleClickRow(QListWidget* list, int row) {
  const QPoint point = list->visualItemRect(list->item(row)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, point);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, point);
}

inline QStringList Items(const TFileListBox* list) {
  QStringList names;
  for (int i = 0; i < list->ItemCount(); ++i) names.push_back(list->ItemName(i));
  return names;
}

}  // namespace quorvex::test
