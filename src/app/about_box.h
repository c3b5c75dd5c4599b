#pragma once

#include <QDialog>

class QFrame;
class QLabel;

namespace quorvex {

class TShell;

// The about box. A click anywhere on it closes it, except on the web
// address line, which opens the home page and leaves the box open.
class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(TShell& shell, QWidget* parent = nullptr);
  QFrame* FlatPanel1;
  QLabel* Label1;  // "Quorvex"
  QLabel* Label2;  // "Image encryptor/decryptor"
  QLabel* Label3;  // version
  QLabel* Label4;  // build
  QLabel* Label5;  // the web address
  QFrame* Bevel1;
  QLabel* Label6;  // the notice

  void FormClick();
  void Label5Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  TShell& shell_;
  bool placed_ = false;
};

}  // namespace quorvex
