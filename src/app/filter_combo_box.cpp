#include "app/filter_combo_box.h"

#include "shell/application.h"
#include "app/file_list_box.h"
#include "widgets/flat_style.h"

namespace quorvex {

TFilterComboBox::TFilterComboBox(QWidget* parent) : QComboBox(parent) {
  SetFlatRole(this, FlatRole::BrowseControl);
  connect(this, &QComboBox::activated, this, [this](int) {
    Guarded([this] {
      if (fileList_) fileList_->SetMask(Mask());
    });
  });
}

void TFilterComboBox::SetFilter(const QString& filter) {
  clear();
  masks_.clear();
  const QStringList pieces = filter.split('|');
  for (int i = 0; i + 1 < pieces.size(); i += 2) {
    addItem(pieces[i]);
    masks_.push_back(pieces[i + 1]);
  }
  setCurrentIndex(count() > 0 ? 0 : -1);
}

QString TFilterComboBox::Mask() const {
  if (masks_.isEmpty()) return "*.*";
  const int index = currentIndex();
  return index >= 0 && index < masks_.size() ? masks_[index] : masks_.back();
}

}  // namespace quorvex
