#pragma once

#include <QTreeWidget>
#include <string>

namespace quorvex {

// The folder tree of one drive. A node's subfolders are read the first time
// it opens, and again on Refresh; they are ordered byte by byte ("Zeta"
// before "alpha") and leave out names beginning with ".".
class TDirectoryOutline : public QTreeWidget {
  Q_OBJECT
 public:
  explicit TDirectoryOutline(QWidget* parent = nullptr);

  const std::string& Drive() const { return drive_; }
  // A drive other than the current one: its root becomes the current
  // directory and the tree is built anew there; the change event follows.
  // Anything that is not a folder is ignored.
  void SetDrive(const std::string& drive);
  // The folder shown.
  const std::string& Directory() const { return directory_; }
  // Makes `path` current and shows it, on its own drive when it lies on
  // another; the change event follows when the folder differs.
  void SetDirectory(const std::string& path);
  // The folder of a node: the node texts joined by "/".
  std::string NodePath(const QTreeWidgetItem* node) const;
  // Whether the node's subfolders have been read.
  static bool IsRead(const QTreeWidgetItem* node);
  // Reads every node read so far again, keeping what is open: folders made
  // elsewhere appear, removed ones go. When the folder shown is gone, its
  // nearest remaining parent becomes current and the change event follows.
  void Refresh();

 signals:
  void Change();

 protected:
  // Names that do not fit show whole in a tip.
  bool viewportEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Rebuild();
  void ReadChildren(QTreeWidgetItem* node);
  void ReReadChildren(QTreeWidgetItem* node);
  static QTreeWidgetItem* NewFolderNode(const std::string& name);
  void ExpandKnown(QTreeWidgetItem* node);
  void NodeSelected(QTreeWidgetItem* node);

  std::string drive_;
  std::string directory_;
  bool building_ = false;
};

}  // namespace quorvex
