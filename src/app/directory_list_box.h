#pragma once

#include <QListWidget>
#include <string>

namespace quorvex {

class TDriveComboBox;

// The destination dialog's folder list: the path of its folder one entry per
// level from the drive's root, then the subfolders (dot folders included).
class TDirectoryListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit TDirectoryListBox(QWidget* parent = nullptr);
  const std::string& Directory() const { return directory_; }
  // Makes the old folder current (when it still exists), then `path`, takes
  // the current directory as its folder and lists it again.
  void SetDirectory(const std::string& path);
  // Moves to the folder last made current on `drive`.
  void SetDrive(const std::string& drive);
  void SetDriveCombo(TDriveComboBox* combo) { driveCombo_ = combo; }
  // The folder an entry opens.
  std::string EntryPath(int index) const;
  // The left indent of an entry's glyph in pixels.
  int EntryIndent(int index) const;
  // Opens an entry, as a double-click or the Enter key does.
  void OpenEntry(int index);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  // Names that do not fit show whole in a tip.
  bool viewportEvent(QEvent* event) override;

 private:
  void Rebuild();

  std::string directory_;
  TDriveComboBox* driveCombo_ = nullptr;
};

}  // namespace quorvex
