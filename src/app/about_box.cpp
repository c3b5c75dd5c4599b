#include "app/about_box.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>

#include "app/links.h"
#include "shell/services.h"
#include "widgets/flat_style.h"

namespace quorvex {

namespace {
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  return label;
}
}  // namespace

TAboutBox::TAboutBox(TShell& shell, QWidget* parent) : QDialog(parent, Qt::Tool), shell_(shell) {
  setObjectName("AboutBox");
  setWindowTitle("");
  setFixedSize(346, 196);
  setModal(true);
  FlatPanel1 = new QFrame(this);
  FlatPanel1->setObjectName("FlatPanel1");
  FlatPanel1->setGeometry(0, 0, 346, 196);
  FlatPanel1->setStyleSheet(
      "QFrame#FlatPanel1 { background: rgb(239,233,224); border: 1px solid rgb(77,77,57); }");

  Label1 = MakeLabel(FlatPanel1, "Label1", "Quorvex", QRect(0, 10, 346, 52));
  QFont title = DesignFont("Arial", 8, true);
  title.setPixelSize(40);
  Label1->setFont(title);
  Label1->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  Label1->setStyleSheet("color: rgb(148,39,48); background: transparent;");

  Label2 = MakeLabel(FlatPanel1, "Label2", "Image encryptor/decryptor", QRect(0, 60, 346, 16));
  Label2->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  Label2->setStyleSheet("background: transparent;");

  QFont small = DesignFont("Arial", 8);
  small.setPixelSize(13);
  Label3 = MakeLabel(FlatPanel1, "Label3", "Version:    2.2.2", QRect(24, 86, 150, 16));
  Label4 = MakeLabel(FlatPanel1, "Label4", "Build:          A00325", QRect(24, 103, 150, 16));
  for (QLabel* label : {Label3, Label4}) {
    label->setFont(small);
    label->setStyleSheet("background: transparent;");
  }

  Label5 = MakeLabel(FlatPanel1, "Label5",
                     QString("For more information visit our site at  ") + kHomePageAddress,
                     QRect(0, 128, 346, 16));
  Label5->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  Label5->setStyleSheet("color: rgb(0,0,255); background: transparent;");
  Label5->setCursor(Qt::PointingHandCursor);

  Bevel1 = new QFrame(FlatPanel1);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setGeometry(12, 152, 322, 2);
  Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);

  Label6 = MakeLabel(FlatPanel1, "Label6",
                     "Free software. Scrambling hides pictures from casual eyes;\n"
                     "it is a privacy screen, not strong encryption.",
                     QRect(0, 158, 346, 32));
  Label6->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  Label6->setStyleSheet("color: rgb(77,77,57); background: transparent;");

  for (QWidget* w : {static_cast<QWidget*>(FlatPanel1), static_cast<QWidget*>(Label1),
                     static_cast<QWidget*>(Label2), static_cast<QWidget*>(Label3),
                     static_cast<QWidget*>(Label4), static_cast<QWidget*>(Label5),
                     static_cast<QWidget*>(Label6), static_cast<QWidget*>(Bevel1)}) {
    w->installEventFilter(this);
  }
}

void TAboutBox::FormClick() {
  accept();
}

void TAboutBox::Label5Click() {
  shell_.OpenUrl(kHomePageUrl);
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  // A press goes no further than where it landed; the release acts.
  if (event->type() == QEvent::MouseButtonPress) return true;
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == Label5) {
      Label5Click();
      return true;
    }
    // The subtitle and the notice have no click of their own.
    if (watched == Label2 || watched == Label6) return true;
    FormClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TAboutBox::showEvent(QShowEvent* event) {
  if (!placed_) {
    placed_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
  }
  QDialog::showEvent(event);
}

}  // namespace quorvex
