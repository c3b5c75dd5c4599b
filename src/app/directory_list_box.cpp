#include "app/directory_list_box.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/current_directory.h"
#include "app/drive_combo_box.h"
#include "shell/application.h"
#include "widgets/clipped_text_tip.h"
#include "widgets/flat_style.h"
#include "widgets/glyphs.h"

namespace quorvex {

namespace {

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kIndentRole = Qt::UserRole + 2;

// Draws each entry shifted right by its indent.
class TIndentDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem shifted(option);
    shifted.rect.setLeft(option.rect.left() + index.data(kIndentRole).toInt());
    QStyledItemDelegate::paint(painter, shifted, index);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += index.data(kIndentRole).toInt();
    return size;
  }
};

// Every subfolder of `folder` by its bytes, links followed.
std::vector<std::string> SubfolderNames(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code statError;
    if (fs::is_directory(fs::status(it->path(), statError)) && !statError) {
      names.push_back(it->path().filename().native());
    }
  }
  return names;
}

}  // namespace

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent) {
  SetFlatRole(this, FlatRole::BrowseControl);
  setIconSize(QSize(16, 16));
  setItemDelegate(new TIndentDelegate(this));
  directory_ = GetCurrentDirectoryPath();
  Rebuild();
}

void TDirectoryListBox::SetDirectory(const std::string& path) {
  if (path == directory_) return;
  if (driveCombo_ && DirectoryExists(path)) driveCombo_->ShowDrive(DriveOf(path));
  if (DirectoryExists(directory_)) SetCurrentDirectoryPath(directory_);
  SetCurrentDirectoryPath(path);
  directory_ = GetCurrentDirectoryPath();
  Rebuild();
}

void TDirectoryListBox::SetDrive(const std::string& drive) {
  SetCurrentDirectoryPath(RememberedDirectory(drive));
  directory_ = GetCurrentDirectoryPath();
  Rebuild();
}

std::string TDirectoryListBox::EntryPath(int index) const {
  const QListWidgetItem* entry = item(index);
  return entry ? EncodeFileName(entry->data(kPathRole).toString()) : std::string();
}

int TDirectoryListBox::EntryIndent(int index) const {
  const QListWidgetItem* entry = item(index);
  return entry ? entry->data(kIndentRole).toInt() : 0;
}

void TDirectoryListBox::OpenEntry(int index) {
  const std::string path = EntryPath(index);
  if (!path.empty()) SetDirectory(path);
}

void TDirectoryListBox::Rebuild() {
  clear();
  const std::string drive = DriveOf(directory_);
  // The path, one entry per level: the drive's root, then each folder.
  std::vector<std::string> levels{drive};
  std::string rest = directory_.size() > drive.size() ? directory_.substr(drive.size()) : "";
  std::string walked = drive;
  size_t start = 0;
  while (start < rest.size()) {
    const size_t end = rest.find('/', start);
    const std::string name =
        rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!name.empty()) {
      walked = JoinPath(walked, name);
      levels.push_back(walked);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  for (size_t i = 0; i < levels.size(); ++i) {
    const bool current = i + 1 == levels.size();
    const QString text =
        i == 0 ? DecodeFileName(drive) : DecodeFileName(levels[i].substr(levels[i].rfind('/') + 1));
    auto* entry = new QListWidgetItem(GlyphIcon(current ? Glyph::FolderCurrent : Glyph::FolderOpen),
                                      text, this);
    entry->setData(kPathRole, DecodeFileName(levels[i]));
    entry->setData(kIndentRole, 4 * static_cast<int>(i) + 2);
  }
  // The subfolders, hidden ones too, without regard to case; "." and ".."
  // left out. Names are read as bytes so that any name can be chosen.
  QStringList names;
  for (const std::string& name : SubfolderNames(directory_)) names.push_back(DecodeFileName(name));
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
  });
  // As many separators as a drive-letter path of this depth would hold.
  const int separators = std::max(1, static_cast<int>(levels.size()) - 1);
  for (const QString& name : names) {
    auto* entry = new QListWidgetItem(GlyphIcon(Glyph::FolderClosed), name, this);
    entry->setData(kPathRole, DecodeFileName(JoinPath(directory_, EncodeFileName(name))));
    entry->setData(kIndentRole, 4 * separators + 6);
  }
  setCurrentRow(static_cast<int>(levels.size()) - 1);
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    const int row = currentRow();
    Guarded([&] { OpenEntry(row); });
    return;
  }
  QListWidget::keyPressEvent(event);
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent* event) {
  QListWidget::mouseDoubleClickEvent(event);
  const QListWidgetItem* entry = itemAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && entry) {
    const int row = this->row(entry);
    Guarded([&] { OpenEntry(row); });
  }
}

bool TDirectoryListBox::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QListWidget::viewportEvent(event);
  auto* help = static_cast<QHelpEvent*>(event);
  const QListWidgetItem* entry = itemAt(help->pos());
  if (!entry) {
    QToolTip::hideText();
    return true;
  }
  const int textLeft =
      visualItemRect(entry).left() + entry->data(kIndentRole).toInt() + iconSize().width() + 6;
  ShowClippedTextTip(help, viewport(), entry->text(), viewport()->width() - textLeft);
  return true;
}

}  // namespace quorvex
