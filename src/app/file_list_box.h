#pragma once

#include <QListWidget>
#include <QString>
#include <string>

namespace quorvex {

// Whether a file name matches one pattern of a file list mask: "*" and "?"
// wildcards, blanks around the pattern ignored, letter case ignored; "*.*"
// matches every name.
bool MatchesPattern(const QString& pattern, const QString& name);

// The multi-select list of the files of one folder that match a mask.
class TFileListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit TFileListBox(QWidget* parent = nullptr);

  const std::string& Directory() const { return directory_; }
  // A path that differs from the current one becomes the process's current
  // directory (a relative one resolves against the list's old folder) and
  // the list is read again.
  void SetDirectory(const std::string& path);
  const QString& Mask() const { return mask_; }
  // Patterns separated by ";". A text that differs, compared exactly, is
  // stored and the list is read again; the same text changes nothing.
  void SetMask(const QString& mask);
  // Reads the listing again: the folder becomes current, the selection is
  // cleared, the change event follows.
  void ReRead();

  int ItemCount() const { return count(); }
  QString ItemName(int index) const;
  bool IsSelected(int index) const;
  int SelCount() const;
  // The focused entry, -1 for none.
  int ItemIndex() const { return currentRow(); }
  // The full path of the focused entry when it is selected, else empty.
  std::string CurrentFile() const;
  // Whether the busy cursor showed during the last read (more than 100 items).
  bool LastReadWasBusy() const { return lastReadBusy_; }

 signals:
  void Change();    // re-read, or the focused entry changed
  void Click();     // the selection changed
  void DblClick();  // double-click on an entry

 protected:
  // Names that do not fit show whole in a tip.
  bool viewportEvent(QEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  std::string directory_;
  QString mask_;
  int lastChangeRow_ = -1;
  bool reading_ = false;
  bool lastReadBusy_ = false;
};

}  // namespace quorvex
