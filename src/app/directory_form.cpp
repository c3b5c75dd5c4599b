#include "app/directory_form.h"

#include <QFrame>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include "app/directory_list_box.h"
#include "app/drive_combo_box.h"
#include "widgets/flat_style.h"

namespace quorvex {

TDirectoryForm::TDirectoryForm(QWidget* parent) : QDialog(parent, Qt::Tool) {
  setObjectName("DirectoryForm");
  setWindowTitle("Destination Directory");
  setFixedSize(352, 271);
  setModal(true);
  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setGeometry(0, 0, 352, 271);
  panel->setFrameStyle(QFrame::Box | QFrame::Plain);
  panel->setStyleSheet("QFrame#Panel1 { border: 1px solid rgb(162,154,130); }");

  DriveComboBox1 = new TDriveComboBox(panel);
  DriveComboBox1->setObjectName("DriveComboBox1");
  DriveComboBox1->setGeometry(8, 8, 240, 22);
  DirectoryListBox1 = new TDirectoryListBox(panel);
  DirectoryListBox1->setObjectName("DirectoryListBox1");
  DirectoryListBox1->setGeometry(8, 36, 240, 227);
  DriveComboBox1->SetDirList(DirectoryListBox1);
  DirectoryListBox1->SetDriveCombo(DriveComboBox1);

  FlatSpeedButton1 = new QPushButton("Set Directory", panel);
  FlatSpeedButton1->setObjectName("FlatSpeedButton1");
  FlatSpeedButton1->setGeometry(256, 8, 88, 25);
  SetFlatRole(FlatSpeedButton1, FlatRole::SpeedButton);
  FlatSpeedButton2 = new QPushButton("Cancel", panel);
  FlatSpeedButton2->setObjectName("FlatSpeedButton2");
  FlatSpeedButton2->setGeometry(256, 38, 88, 25);
  SetFlatRole(FlatSpeedButton2, FlatRole::SpeedButton);
  // Speed buttons are not default buttons: Enter belongs to the list.
  FlatSpeedButton1->setAutoDefault(false);
  FlatSpeedButton2->setAutoDefault(false);
  connect(FlatSpeedButton1, &QPushButton::clicked, this, &QDialog::accept);
  connect(FlatSpeedButton2, &QPushButton::clicked, this, &QDialog::reject);
}

void TDirectoryForm::showEvent(QShowEvent* event) {
  if (!placed_) {
    placed_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  QDialog::showEvent(event);
}

}  // namespace quorvex
