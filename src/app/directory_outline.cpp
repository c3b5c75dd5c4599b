#include "app/directory_outline.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
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

constexpr int kReadRole = Qt::UserRole + 1;

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = path.find('/', start);
    const std::string part =
        path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace

TDirectoryOutline::TDirectoryOutline(QWidget* parent) : QTreeWidget(parent) {
  SetFlatRole(this, FlatRole::BrowseControl);
  setHeaderHidden(true);
  setColumnCount(1);
  setIconSize(QSize(16, 16));
  setIndentation(14);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setExpandsOnDoubleClick(true);
  header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  directory_ = GetCurrentDirectoryPath();
  drive_ = DriveOf(directory_);
  Rebuild();
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) {
    Guarded([&] { ReadChildren(node); });
    node->setIcon(0, GlyphIcon(Glyph::FolderOpen));
  });
  connect(this, &QTreeWidget::itemCollapsed, this,
          [](QTreeWidgetItem* node) { node->setIcon(0, GlyphIcon(Glyph::FolderClosed)); });
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
    if (building_ || !node) return;
    Guarded([&] { NodeSelected(node); });
  });
}

bool TDirectoryOutline::IsRead(const QTreeWidgetItem* node) {
  return node->data(0, kReadRole).toBool();
}

std::string TDirectoryOutline::NodePath(const QTreeWidgetItem* node) const {
  std::vector<std::string> names;
  for (; node; node = node->parent()) names.push_back(EncodeFileName(node->text(0)));
  std::string path = names.back();
  for (auto it = names.rbegin() + 1; it != names.rend(); ++it) path = JoinPath(path, *it);
  return path;
}

void TDirectoryOutline::SetDrive(const std::string& drive) {
  if (!DirectoryExists(drive) || drive == drive_) return;
  drive_ = drive;
  SetCurrentDirectoryPath(drive);
  directory_ = GetCurrentDirectoryPath();
  Rebuild();
  emit Change();
}

void TDirectoryOutline::SetDirectory(const std::string& path) {
  SetCurrentDirectoryPath(path);
  const std::string current = GetCurrentDirectoryPath();
  if (current == directory_) return;
  directory_ = current;
  drive_ = DriveOf(directory_);
  Rebuild();
  emit Change();
}

void TDirectoryOutline::Rebuild() {
  building_ = true;
  clear();
  auto* root = new QTreeWidgetItem(QStringList{DecodeFileName(drive_)});
  root->setIcon(0, GlyphIcon(Glyph::FolderClosed));
  root->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  addTopLevelItem(root);
  QTreeWidgetItem* node = root;
  std::string below = directory_.size() > drive_.size() ? directory_.substr(drive_.size()) : "";
  if (drive_ == "/") below = directory_;
  for (const std::string& name : SplitPath(below)) {
    ReadChildren(node);
    node->setExpanded(true);
    node->setIcon(0, GlyphIcon(Glyph::FolderOpen));
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < node->childCount(); ++i) {
      if (EncodeFileName(node->child(i)->text(0)) == name) next = node->child(i);
    }
    if (!next) break;  // a folder the tree does not show, such as a dot folder
    node = next;
  }
  setCurrentItem(node);
  scrollToItem(node);
  building_ = false;
}

void TDirectoryOutline::ReadChildren(QTreeWidgetItem* node) {
  if (IsRead(node)) return;
  node->setData(0, kReadRole, true);
  std::vector<std::string> names = ListEntries(NodePath(node), EntryKind::Folders);
  std::sort(names.begin(), names.end());  // byte order, letter case included
  for (const std::string& name : names) node->addChild(NewFolderNode(name));
  node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem* TDirectoryOutline::NewFolderNode(const std::string& name) {
  auto* node = new QTreeWidgetItem(QStringList{DecodeFileName(name)});
  node->setIcon(0, GlyphIcon(Glyph::FolderClosed));
  node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  return node;
}

void TDirectoryOutline::Refresh() {
  std::string shown = directory_;
  while (!DirectoryExists(shown) && shown != "/") {
    const size_t slash = shown.find_last_of('/');
    shown = slash == 0 || slash == std::string::npos ? "/" : shown.substr(0, slash);
  }
  building_ = true;
  if (QTreeWidgetItem* root = topLevelItem(0)) ReReadChildren(root);
  building_ = false;
  if (shown == directory_) return;
  directory_ = shown;
  drive_ = DriveOf(directory_);
  SetCurrentDirectoryPath(directory_);
  Rebuild();
  emit Change();
}

void TDirectoryOutline::ReReadChildren(QTreeWidgetItem* node) {
  if (!IsRead(node)) return;
  std::vector<std::string> names = ListEntries(NodePath(node), EntryKind::Folders);
  std::sort(names.begin(), names.end());
  for (int i = node->childCount() - 1; i >= 0; --i) {
    if (!std::binary_search(names.begin(), names.end(), EncodeFileName(node->child(i)->text(0)))) {
      delete node->takeChild(i);
    }
  }
  // Both lists are in byte order: new names go in where they sort.
  int at = 0;
  for (const std::string& name : names) {
    while (at < node->childCount() && EncodeFileName(node->child(at)->text(0)) < name) ++at;
    if (at < node->childCount() && EncodeFileName(node->child(at)->text(0)) == name) {
      ReReadChildren(node->child(at));
    } else {
      node->insertChild(at, NewFolderNode(name));
    }
    ++at;
  }
}

void TDirectoryOutline::NodeSelected(QTreeWidgetItem* node) {
  std::string path = NodePath(node);
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path == directory_) return;
  directory_ = path;
  SetCurrentDirectoryPath(path);
  emit Change();
}

void TDirectoryOutline::ExpandKnown(QTreeWidgetItem* node) {
  if (!IsRead(node) || node->childCount() == 0) return;
  node->setExpanded(true);
  for (int i = 0; i < node->childCount(); ++i) ExpandKnown(node->child(i));
}

void TDirectoryOutline::keyPressEvent(QKeyEvent* event) {
  QTreeWidgetItem* node = currentItem();
  if (node) {
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        node->setExpanded(!node->isExpanded());
        return;
      case Qt::Key_Plus:
        node->setExpanded(true);
        return;
      case Qt::Key_Minus:
        node->setExpanded(false);
        return;
      case Qt::Key_Asterisk:
        ExpandKnown(node);
        return;
      default:
        break;
    }
  }
  QTreeWidget::keyPressEvent(event);
}

bool TDirectoryOutline::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QTreeWidget::viewportEvent(event);
  auto* help = static_cast<QHelpEvent*>(event);
  const auto* entry = itemAt(help->pos());
  if (!entry) {
    QToolTip::hideText();
    return true;
  }
  // The text starts after the icon and the gap beside it.
  const int textLeft = visualItemRect(entry).left() + iconSize().width() + 6;
  ShowClippedTextTip(help, viewport(), entry->text(0), viewport()->width() - textLeft);
  return true;
}

}  // namespace quorvex
