#include "app/drive_combo_box.h"

#include "app/directory_list_box.h"
#include "shell/application.h"
#include "widgets/flat_style.h"
#include "widgets/glyphs.h"

namespace quorvex {

namespace {
Glyph GlyphOf(DriveKind kind) {
  switch (kind) {
    case DriveKind::Removable:
      return Glyph::DriveRemovable;
    case DriveKind::Network:
      return Glyph::DriveNetwork;
    case DriveKind::Optical:
      return Glyph::DriveOptical;
    case DriveKind::Fixed:
      break;
  }
  return Glyph::DriveFixed;
}
}  // namespace

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  SetFlatRole(this, FlatRole::BrowseControl);
  setIconSize(QSize(16, 16));
  ReadDrives();
  ShowDrive(DriveOf(GetCurrentDirectoryPath()));
  connect(this, &QComboBox::activated, this, [this](int index) {
    Guarded([this, index] {
      if (index >= 0 && index < static_cast<int>(drives_.size())) SetDrive(drives_[index].root);
    });
  });
}

QString TDriveComboBox::EntryText(const TDrive& drive) {
  const QString root = QString::fromStdString(drive.root);
  const QString label = "[" + QString::fromStdString(drive.label).toLower() + "]";
  switch (drive.kind) {
    case DriveKind::Removable:
      return root;
    case DriveKind::Network:
      if (!drive.remote.empty()) return root + " " + QString::fromStdString(drive.remote).toLower();
      return root + " " + label;
    case DriveKind::Fixed:
    case DriveKind::Optical:
      break;
  }
  return root + " " + label;
}

void TDriveComboBox::ReadDrives() {
  drives_ = MountedDrives();
  clear();
  for (const TDrive& drive : drives_) addItem(GlyphIcon(GlyphOf(drive.kind)), EntryText(drive));
  ShowDrive(drive_);
}

void TDriveComboBox::ShowDrive(const std::string& drive) {
  drive_ = drive;
  int index = -1;
  for (size_t i = 0; i < drives_.size(); ++i) {
    if (drives_[i].root == drive) index = static_cast<int>(i);
  }
  setCurrentIndex(index);
}

void TDriveComboBox::SetDrive(const std::string& drive) {
  if (drive == drive_) return;
  ShowDrive(drive);
  if (dirList_) dirList_->SetDrive(drive);
  emit Change();
}

}  // namespace quorvex
