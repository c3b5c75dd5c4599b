#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QApplication;
class QWidget;

namespace quorvex {

// The colours of the flat widget set.
namespace flat {
inline const QColor kButtonFace{185, 187, 157};
inline const QColor kBorder{77, 77, 57};
inline const QColor kHighlight{239, 233, 224};
inline const QColor kShadow{162, 154, 130};
inline const QColor kFocusFace{255, 255, 225};  // the platform's tool-tip background
// The frame of the control that has the keyboard focus: two pixels wide
// where the others have one, so it shows on every face.
inline const QColor kFocusFrame{36, 72, 132};
inline const QColor kBrowse{215, 215, 200};  // drive box, tree, filter, list, preview
inline const QColor kField{239, 233, 224};   // code fields, destination row, top band
inline const QColor kMaroon{128, 0, 0};
inline const QColor kInstruction{77, 77, 57};
inline const QColor kHintArrow{255, 248, 179};
// The face of dialogs and windows: classic button face, so that the fixed
// colours above look the same under every desktop theme.
inline const QColor kWindowFace{212, 208, 200};
inline constexpr int kHintMaxWidth = 220;
}  // namespace flat

// Roles that the style sheet styles; set with SetFlatRole.
enum class FlatRole {
  RunButton,      // run, stop and save buttons
  BrowseControl,  // drive box, tree, filter, file list, "Preview All Images"
  Field,          // code fields
  Band,           // destination row and top band
  DestinationText,
  Caption,  // column and pane captions; the grey is set per caption
  Instruction,
  SpeedButton,  // small flat buttons of dialogs and the log page
};
void SetFlatRole(QWidget* widget, FlatRole role);
// A bold caption in grey `level` (87, 83, 92, ...).
void SetCaptionGrey(QWidget* widget, int level);

// The fonts the windows are designed for; the desktop resolves each to a
// metric-compatible face (Arial to Liberation Sans).
QFont DesignFont(const QString& family, int points, bool bold = false);
QFont MenuFont();  // Tahoma 8 point
QFont HintFont();  // MS Sans Serif 8 point

QString FlatStyleSheet();
// Fusion style, a light palette, the default font, the substitutions and the
// style sheet, for the whole application.
void ApplyFlatStyle(QApplication& application);

}  // namespace quorvex
