#pragma once

#include <QIcon>
#include <QPixmap>

namespace quorvex {

// Small pictures drawn by the widget set, so that no image files are needed
// at run time.
enum class Glyph {
  Document,       // a file in the file list
  Program,        // an executable in the file list
  FolderClosed,   // tree leaves and subfolders of the directory list
  FolderOpen,     // path entries of the directory list
  FolderCurrent,  // the current folder of the directory list
  DriveFixed,
  DriveRemovable,
  DriveNetwork,
  DriveOptical,
  Stop,  // the picture of the Stop button
};

QPixmap GlyphPixmap(Glyph glyph, int size = 16);
QIcon GlyphIcon(Glyph glyph);
// The window icon, drawn at 16, 32 and 48 pixels.
QPixmap QuorvexIconPixmap(int size);
QIcon QuorvexIcon();

}  // namespace quorvex
