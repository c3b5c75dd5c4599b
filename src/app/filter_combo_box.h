#pragma once

#include <QComboBox>
#include <QStringList>

namespace quorvex {

class TFileListBox;

// The file-type filter: entries from "description|mask|description|mask...";
// choosing one sets the bound file list's mask.
class TFilterComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TFilterComboBox(QWidget* parent = nullptr);
  // Splits the text at "|" and selects the first entry without touching the
  // file list's mask.
  void SetFilter(const QString& filter);
  void SetFileList(TFileListBox* list) { fileList_ = list; }
  // The mask of the chosen entry: the last one when none is chosen, "*.*"
  // when there are none.
  QString Mask() const;
  QString MaskAt(int index) const { return masks_.value(index); }

 private:
  QStringList masks_;
  TFileListBox* fileList_ = nullptr;
};

}  // namespace quorvex
