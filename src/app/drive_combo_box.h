#pragma once

#include <QComboBox>
#include <string>
#include <vector>

#include "app/current_directory.h"

namespace quorvex {

class TDirectoryListBox;

// One entry per mounted volume. A drive is named by its mount point.
class TDriveComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TDriveComboBox(QWidget* parent = nullptr);
  const std::string& Drive() const { return drive_; }
  // A drive that differs from the current one is stored, handed to the
  // linked directory list, and the change event follows.
  void SetDrive(const std::string& drive);
  // Shows `drive` as chosen without touching the directory list.
  void ShowDrive(const std::string& drive);
  void SetDirList(TDirectoryListBox* list) { dirList_ = list; }
  // Lists the mounted volumes again.
  void ReadDrives();
  const std::vector<TDrive>& Drives() const { return drives_; }

  // The entry text of a drive: "/data [photos]" (label lower-cased, empty
  // brackets without one), a removable drive by its mount point only, a
  // network drive with its remote name.
  static QString EntryText(const TDrive& drive);

 signals:
  void Change();

 private:
  std::vector<TDrive> drives_;
  std::string drive_;
  TDirectoryListBox* dirList_ = nullptr;
};

}  // namespace quorvex
