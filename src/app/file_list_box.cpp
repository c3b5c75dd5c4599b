#include "app/file_list_box.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QRegularExpression>
#include <algorithm>
#include <vector>

#include "app/application.h"
#include "app/current_directory.h"
#include "widgets/flat_style.h"
#include "widgets/glyphs.h"

namespace quorvex {

namespace {

constexpr int kBusyFrom = 100;

QRegularExpression PatternExpression(const QString& pattern) {
  const QString trimmed = pattern.trimmed();
  if (trimmed == "*.*" || trimmed == "*") return QRegularExpression(".*");
  if (trimmed.isEmpty()) return QRegularExpression("(?!)");
  QString expression = "^";
  for (const QChar c : trimmed) {
    if (c == '*') {
      expression += ".*";
    } else if (c == '?') {
      expression += ".";
    } else {
      expression += QRegularExpression::escape(QString(c));
    }
  }
  expression += "$";
  return QRegularExpression(expression, QRegularExpression::CaseInsensitiveOption |
                                            QRegularExpression::DotMatchesEverythingOption);
}

bool IsProgramName(const QString& name) {
  for (const char* extension : {".exe", ".com", ".bat", ".pif"}) {
    if (name.endsWith(extension, Qt::CaseInsensitive)) return true;
  }
  return false;
}

// Restores the cursor that was there before, however the read ends.
class TBusyCursor {
 public:
  void Show() {
    if (shown_) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    shown_ = true;
  }
  bool Shown() const { return shown_; }
  ~TBusyCursor() {
    if (shown_) QApplication::restoreOverrideCursor();
  }

 private:
  bool shown_ = false;
};

}  // namespace

bool MatchesPattern(const QString& pattern, const QString& name) {
  return PatternExpression(pattern).match(name).hasMatch();
}

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
  SetFlatRole(this, FlatRole::BrowseControl);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setIconSize(QSize(16, 16));
  setUniformItemSizes(true);
  directory_ = GetCurrentDirectoryPath();
  connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
    if (reading_ || row == lastChangeRow_) return;
    lastChangeRow_ = row;
    emit Change();
  });
  connect(this, &QListWidget::itemSelectionChanged, this, [this] {
    if (!reading_) emit Click();
  });
}

void TFileListBox::SetDirectory(const std::string& path) {
  if (path == directory_) return;
  if (DirectoryExists(directory_)) SetCurrentDirectoryPath(directory_);
  SetCurrentDirectoryPath(path);
  directory_ = GetCurrentDirectoryPath();
  ReRead();
}

void TFileListBox::SetMask(const QString& mask) {
  if (mask == mask_) return;
  mask_ = mask;
  ReRead();
}

void TFileListBox::ReRead() {
  SetCurrentDirectoryPath(directory_);
  const QStringList patterns = mask_.split(';');
  std::vector<QRegularExpression> expressions;
  for (const QString& pattern : patterns) expressions.push_back(PatternExpression(pattern));
  const QStringList names = QDir(QString::fromStdString(directory_))
                                .entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
  TBusyCursor busy;
  std::vector<QString> items;
  // Each pattern lists its own matches: a name matching two patterns is
  // listed twice.
  for (const QRegularExpression& expression : expressions) {
    for (const QString& name : names) {
      if (!expression.match(name).hasMatch()) continue;
      items.push_back(name);
      if (static_cast<int>(items.size()) > kBusyFrom) busy.Show();
    }
  }
  std::stable_sort(items.begin(), items.end(), [](const QString& a, const QString& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
  });
  reading_ = true;
  clear();
  const QIcon document = GlyphIcon(Glyph::Document);
  const QIcon program = GlyphIcon(Glyph::Program);
  for (const QString& name : items) {
    addItem(new QListWidgetItem(IsProgramName(name) ? program : document, name));
  }
  setCurrentRow(-1, QItemSelectionModel::NoUpdate);
  clearSelection();
  lastChangeRow_ = currentRow();
  reading_ = false;
  lastReadBusy_ = busy.Shown();
  emit Change();
}

QString TFileListBox::ItemName(int index) const {
  const QListWidgetItem* entry = item(index);
  return entry ? entry->text() : QString();
}

bool TFileListBox::IsSelected(int index) const {
  const QListWidgetItem* entry = item(index);
  return entry && entry->isSelected();
}

int TFileListBox::SelCount() const {
  return static_cast<int>(selectedItems().size());
}

std::string TFileListBox::CurrentFile() const {
  const QListWidgetItem* focused = currentItem();
  if (!focused || !focused->isSelected()) return {};
  return JoinPath(directory_, focused->text().toStdString());
}

void TFileListBox::mouseDoubleClickEvent(QMouseEvent* event) {
  QListWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && itemAt(event->position().toPoint())) emit DblClick();
}

}  // namespace quorvex
