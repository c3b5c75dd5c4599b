#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <QListWidget>
#include <QTest>

#include <filesystem>
#include <string>

#include "app/current_directory.h"
#include "app/file_list_box.h"
#include "app/scripted_services.h"
#include "app/windows.h"
#include "support/test_support.h"

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
