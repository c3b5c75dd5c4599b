#include "app/file_list_box.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QToolTip>
#include <algorithm>
#include <vector>

#include "app/current_directory.h"
#include "shell/application.h"
#include "widgets/clipped_text_tip.h"
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

// The expressions match only well-formed text: the bytes of a name that is
// not UTF-8 (lone surrogates) take the replacement character there.
QString MatchableText(const QString& name) {
  QString text = name;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      ++i;
    } else if (text[i].isSurrogate()) {
      text[i] = QChar::ReplacementCharacter;
    }
  }
  return text;
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
  return PatternExpression(pattern).match(MatchableText(name)).hasMatch();
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
  QStringList names;
  for (const std::string& name : ListEntries(directory_, EntryKind::Files)) {
    names.push_back(DecodeFileName(name));
  }
  TBusyCursor busy;
  std::vector<QString> items;
  // Each pattern lists its own matches: a name matching two patterns is
  // listed twice.
  for (const QRegularExpression& expression : expressions) {
    for (const QString& name : names) {
      if (!expression.match(MatchableText(name)).hasMatch()) continue;
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
  return JoinPath(directory_, EncodeFileName(focused->text()));
}

void TFileListBox::mouseDoubleClickEvent(QMouseEvent* event) {
  QListWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && itemAt(event->position().toPoint())) emit DblClick();
}

bool TFileListBox::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QListWidget::viewportEvent(event);
  auto* help = static_cast<QHelpEvent*>(event);
  const auto* entry = itemAt(help->pos());
  if (!entry) {
    QToolTip::hideText();
    return true;
  }
  // The text starts after the icon and the gap beside it.
  const int textLeft = visualItemRect(entry).left() + iconSize().width() + 6;
  ShowClippedTextTip(help, viewport(), entry->text(), viewport()->width() - textLeft);
  return true;
}

}  // namespace quorvex
