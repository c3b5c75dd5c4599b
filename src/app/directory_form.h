#pragma once

#include <QDialog>

class QPushButton;

namespace quorvex {

class TDriveComboBox;
class TDirectoryListBox;

// The destination-directory dialog. Created once; it keeps its folder from
// one opening to the next and is not refreshed when it opens.
class TDirectoryForm : public QDialog {
  Q_OBJECT
 public:
  explicit TDirectoryForm(QWidget* parent = nullptr);
  TDriveComboBox* DriveComboBox1;
  TDirectoryListBox* DirectoryListBox1;
  QPushButton* FlatSpeedButton1;  // "Set Directory": result OK
  QPushButton* FlatSpeedButton2;  // "Cancel": result Cancel

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  bool placed_ = false;
};

}  // namespace quorvex
