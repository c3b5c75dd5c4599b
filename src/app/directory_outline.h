#pragma once

#include <QTreeWidget>
#include <string>

namespace quorvex {

// The folder tree of one drive. A node's subfolders are read the first time
// it opens and never again; they are ordered byte by byte ("Zeta" before
// "alpha") and leave out names beginning with ".".
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
  // The folder of a node: the node texts joined by "/".
  std::string NodePath(const QTreeWidgetItem* node) const;
  // Whether the node's subfolders have been read.
  static bool IsRead(const QTreeWidgetItem* node);

 signals:
  void Change();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Rebuild();
  void ReadChildren(QTreeWidgetItem* node);
  void ExpandKnown(QTreeWidgetItem* node);
  void NodeSelected(QTreeWidgetItem* node);

  std::string drive_;
  std::string directory_;
  bool building_ = false;
};

}  // namespace quorvex
