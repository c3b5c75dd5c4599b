#include "widgets/flat_style.h"

#include <QApplication>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QToolTip>
#include <QWidget>

// The style sheet's pictures live in the library's resources.
static void InitWidgetResources() {
  Q_INIT_RESOURCE(widgets);
}

namespace quorvex {

namespace {

const char* RoleName(FlatRole role) {
  switch (role) {
    case FlatRole::RunButton:
      return "run";
    case FlatRole::BrowseControl:
      return "browse";
    case FlatRole::Field:
      return "field";
    case FlatRole::Band:
      return "band";
    case FlatRole::DestinationText:
      return "destination";
    case FlatRole::Caption:
      return "caption";
    case FlatRole::Instruction:
      return "instruction";
    case FlatRole::SpeedButton:
      return "speed";
  }
  return "";
}

// Fusion with the widget set's own hints.
class TFlatProxyStyle : public QProxyStyle {
 public:
  TFlatProxyStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

QString Rgb(const QColor& c) {
  return QString("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

}  // namespace

void SetFlatRole(QWidget* widget, FlatRole role) {
  widget->setProperty("quorvexRole", RoleName(role));
}

void SetCaptionGrey(QWidget* widget, int level) {
  SetFlatRole(widget, FlatRole::Caption);
  widget->setStyleSheet(QString("color: rgb(%1,%1,%1);").arg(level));
  QFont font = widget->font();
  font.setBold(true);
  widget->setFont(font);
}

QFont DesignFont(const QString& family, int points, bool bold) {
  QFont font(family, points);
  font.setBold(bold);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QFont MenuFont() {
  return DesignFont("Tahoma", 8);
}
QFont HintFont() {
  return DesignFont("MS Sans Serif", 8);
}

QString FlatStyleSheet() {
  const QString face = Rgb(flat::kButtonFace);
  const QString border = Rgb(flat::kBorder);
  const QString highlight = Rgb(flat::kHighlight);
  const QString shadow = Rgb(flat::kShadow);
  const QString browse = Rgb(flat::kBrowse);
  const QString field = Rgb(flat::kField);
  const QString maroon = Rgb(flat::kMaroon);
  QString s;
  // Run, stop and save buttons: a flat face inside a dark border, with a
  // one-pixel highlight and shadow as the bevel.
  s += QString(
           "QPushButton[quorvexRole=\"run\"], QToolButton[quorvexRole=\"run\"] {"
           " background: %1; color: black; border: 1px solid %2;"
           " border-top-color: %2; padding: 2px 6px; }"
           "QPushButton[quorvexRole=\"run\"]:hover, QToolButton[quorvexRole=\"run\"]:hover {"
           " background: %3; }"
           "QPushButton[quorvexRole=\"run\"]:pressed, QToolButton[quorvexRole=\"run\"]:pressed {"
           " background: %4; }"
           "QPushButton[quorvexRole=\"run\"]:focus, QToolButton[quorvexRole=\"run\"]:focus {"
           " background: %5; border: 2px solid %6; padding: 1px 5px; }"
           "QPushButton[quorvexRole=\"run\"]:disabled, QToolButton[quorvexRole=\"run\"]:disabled {"
           " color: %4; background: %1; border-color: %4; }")
           .arg(face, border, highlight, shadow, Rgb(flat::kFocusFace), Rgb(flat::kFocusFrame));
  // Small flat buttons of the destination row, the dialogs and the log page.
  s +=
      QString(
          "QPushButton[quorvexRole=\"speed\"], QToolButton[quorvexRole=\"speed\"] {"
          " background: %1; border: 1px solid %2; padding: 1px 6px; color: black; }"
          "QPushButton[quorvexRole=\"speed\"]:hover, QToolButton[quorvexRole=\"speed\"]:hover {"
          " background: %3; }"
          "QPushButton[quorvexRole=\"speed\"]:pressed, QToolButton[quorvexRole=\"speed\"]:pressed {"
          " background: %4; }"
          "QPushButton[quorvexRole=\"speed\"]:focus { background: %5; border: 2px solid %6;"
          " padding: 0px 5px; }"
          "QPushButton[quorvexRole=\"speed\"]:disabled { color: %4; }")
          .arg(face, border, highlight, shadow, Rgb(flat::kFocusFace), Rgb(flat::kFocusFrame));
  // The browsing controls.
  s += QString(
           "QComboBox[quorvexRole=\"browse\"] { background: %1; border: 1px solid %2;"
           " padding: 1px 4px; color: black; }"
           "QComboBox[quorvexRole=\"browse\"]:focus { border: 2px solid %6; padding: 0px 3px; }"
           "QComboBox[quorvexRole=\"browse\"]::drop-down { border-left: 1px solid %2; width: 15px;"
           " background: %3; }"
           "QComboBox[quorvexRole=\"browse\"]::down-arrow { image: url(:/quorvex/down_arrow.png);"
           " width: 7px; height: 4px; }"
           "QComboBox[quorvexRole=\"browse\"] QAbstractItemView { background: %1;"
           " selection-background-color: %2; selection-color: white; border: 1px solid %2; }"
           "QTreeView[quorvexRole=\"browse\"], QListView[quorvexRole=\"browse\"] { background: %1;"
           " border: 1px solid %2; padding: 1px; selection-background-color: %2;"
           " selection-color: white; color: black; }"
           "QTreeView[quorvexRole=\"browse\"]:focus, QListView[quorvexRole=\"browse\"]:focus {"
           " border: 2px solid %6; padding: 0px; }"
           "QPushButton[quorvexRole=\"browse\"] { background: %1; border: 1px solid %2;"
           " padding: 2px; color: black; }"
           "QPushButton[quorvexRole=\"browse\"]:hover { background: %4; }"
           "QPushButton[quorvexRole=\"browse\"]:pressed { background: %3; }"
           "QPushButton[quorvexRole=\"browse\"]:focus { background: %5; border: 2px solid %6;"
           " padding: 1px; }"
           "QPushButton[quorvexRole=\"browse\"]:disabled { color: %3; }")
           .arg(browse, border, Rgb(flat::kShadow), Rgb(flat::kHighlight), Rgb(flat::kFocusFace),
                Rgb(flat::kFocusFrame));
  // Code fields and bands.
  s += QString(
           "QLineEdit[quorvexRole=\"field\"] { background: %1; border: 1px solid %2; padding: 1px "
           "3px;"
           " color: black; }"
           "QLineEdit[quorvexRole=\"field\"]:focus { border: 2px solid %5; padding: 0px 2px; }"
           "QLineEdit[quorvexRole=\"field\"]:disabled { color: %3; }"
           "QFrame[quorvexRole=\"band\"] { background: %1; border: 1px solid %2; }"
           "QLabel[quorvexRole=\"destination\"] { color: %4; background: transparent; border: "
           "none; }"
           "QLabel[quorvexRole=\"instruction\"] { color: %2; background: transparent; }")
           .arg(field, border, shadow, maroon, Rgb(flat::kFocusFrame));
  // Group boxes, check boxes and radio buttons, flat.
  s += QString(
           "QGroupBox { border: 1px solid %1; margin-top: 7px; padding-top: 4px; }"
           "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; }"
           "QCheckBox::indicator, QRadioButton::indicator { width: 11px; height: 11px;"
           " border: 1px solid %1; background: white; }"
           "QRadioButton::indicator { border-radius: 6px; }"
           // The mark sits inside the same 13-pixel box, so the caption stays put.
           "QCheckBox::indicator:checked { width: 7px; height: 7px; background: %1; padding: 2px;"
           " background-clip: content; border: 1px solid %1; }"
           "QCheckBox::indicator:focus, QRadioButton::indicator:focus { border-color: %3; }"
           "QCheckBox:focus, QRadioButton:focus { color: %3; }"
           "QRadioButton::indicator:checked { background: qradialgradient(cx:0.5, cy:0.5,"
           " radius:0.5, fx:0.5, fy:0.5, stop:0 %1, stop:0.45 %1, stop:0.5 white); }"
           "QCheckBox:disabled, QRadioButton:disabled { color: %2; }")
           .arg(border, shadow, Rgb(flat::kFocusFrame));
  // The tab strip: dark unselected tabs on the strip's dark border.
  s += QString(
           "QTabBar::tab { background: %1; color: white; border: 1px solid %1;"
           " padding: 3px 14px; margin-right: 1px; }"
           "QTabBar::tab:selected { background: %2; color: black; border-bottom-color: %2; }"
           "QTabBar::tab:!selected:hover { background: %3; }"
           "QTabBar::tab:selected:focus { color: %4; text-decoration: underline;"
           " border-top-color: %4; border-left-color: %4; border-right-color: %4; }")
           .arg(border, Rgb(flat::kWindowFace), Rgb(QColor(107, 107, 85)), Rgb(flat::kFocusFrame));
  // Hint windows.
  s += QString("QToolTip { background: %1; color: black; border: 1px solid %2; padding: 2px; }")
           .arg(Rgb(flat::kHighlight), border);
  // Menus: flat, in the platform colours.
  s += QString(
           "QMenuBar { background: %1; border-bottom: 1px solid %2; }"
           "QMenuBar::item { padding: 2px 7px; background: transparent; }"
           "QMenuBar::item:selected { background: %3; color: white; }"
           "QMenu { background: %4; border: 1px solid %2; padding: 2px 0; }"
           "QMenu::item { padding: 3px 22px 3px 22px; }"
           "QMenu::item:selected { background: %3; color: white; }"
           "QMenu::item:disabled { color: %5; }"
           "QMenu::separator { height: 1px; background: %5; margin: 3px 4px; }"
           "QMenu::indicator { width: 11px; height: 11px; left: 5px; }")
           .arg(Rgb(flat::kWindowFace), Rgb(flat::kShadow), border, Rgb(QColor(246, 245, 240)),
                Rgb(QColor(150, 150, 140)));
  s += "QScrollBar:vertical { width: 14px; }";
  return s;
}

void ApplyFlatStyle(QApplication& application) {
  InitWidgetResources();
  QFont::insertSubstitutions("Arial", {"Liberation Sans", "Arimo"});
  QFont::insertSubstitutions("Tahoma", {"Liberation Sans", "Arimo", "DejaVu Sans"});
  QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "Arimo", "DejaVu Sans"});
  application.setStyle(new TFlatProxyStyle);
  QPalette palette;
  palette.setColor(QPalette::Window, flat::kWindowFace);
  palette.setColor(QPalette::Button, flat::kWindowFace);
  palette.setColor(QPalette::WindowText, Qt::black);
  palette.setColor(QPalette::ButtonText, Qt::black);
  palette.setColor(QPalette::Text, Qt::black);
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, flat::kHighlight);
  palette.setColor(QPalette::Highlight, flat::kBorder);
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::ToolTipBase, flat::kHighlight);
  palette.setColor(QPalette::ToolTipText, Qt::black);
  palette.setColor(QPalette::Light, flat::kHighlight);
  palette.setColor(QPalette::Mid, flat::kShadow);
  palette.setColor(QPalette::Dark, flat::kBorder);
  palette.setColor(QPalette::Disabled, QPalette::WindowText, flat::kShadow);
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, flat::kShadow);
  palette.setColor(QPalette::Disabled, QPalette::Text, flat::kShadow);
  application.setPalette(palette);
  application.setFont(DesignFont("Arial", 8));
  QToolTip::setFont(HintFont());
  QToolTip::setPalette(palette);
  application.setStyleSheet(FlatStyleSheet());
}

}  // namespace quorvex
