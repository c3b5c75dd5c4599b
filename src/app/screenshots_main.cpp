// quorvex-screenshots OUTDIR [FOLDER]: shows the windows on the running
// display, browsing FOLDER, and saves a PNG of each page, of the Action menu,
// of the controls with the keyboard focus, of the destination dialog and of
// the about box.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QTabBar>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "shell/application.h"
#include "app/current_directory.h"
#include "app/directory_outline.h"
#include "app/drive_combo_box.h"
#include "app/file_list_box.h"
#include "app/filter_combo_box.h"
#include "shell/services.h"
#include "app/windows.h"
#include "picture/platform/install_platform_graphics.h"
#include "widgets/flat_style.h"
#include "widgets/flat_tab_control.h"
#include "widgets/glyphs.h"
#include "widgets/screenshot_support.h"

namespace {

// A control of the window, by the object name the window gives it.
template <typename T>
T* Control(const QWidget& window, const char* name) {
  T* control = window.findChild<T*>(name);
  if (!control) {
    std::fprintf(stderr, "the window has no control %s\n", name);
    std::exit(1);
  }
  return control;
}

QPixmap GrabScreenArea(const QRect& area) {
  return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                      area.height());
}

// Says yes to every question and keeps the boxes to itself, so that a run
// can be shown without anyone at the keyboard; the rest is the platform's.
class TAnsweringDialogs : public quorvex::TDialogs {
 public:
  explicit TAnsweringDialogs(quorvex::TDialogs& platform) : platform_(platform) {}
  bool Confirm(QWidget*, const QString&) override { return true; }
  TAnswer AskYesNoCancel(QWidget*, const QString&) override { return TAnswer::Yes; }
  void Inform(QWidget*, const QString&) override {}
  void ShowError(QWidget*, const QString& text) override {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  }
  int ExecModal(QDialog& dialog) override { return platform_.ExecModal(dialog); }
  std::optional<QString> SaveFileName(QWidget*, const SaveOptions&) override { return {}; }
  bool PrinterSetup(QWidget*, QPrinter&) override { return false; }
  std::optional<QString> ChooseFolder(QWidget*, const QString&, const QString&) override {
    return {};
  }

 private:
  quorvex::TDialogs& platform_;
};

}  // namespace

int main(int argc, char** argv) {
  quorvex::InstallPlatformGraphics();
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: quorvex-screenshots OUTDIR [FOLDER]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  if (argc > 2) quorvex::SetCurrentDirectoryPath(argv[2]);
  application.setApplicationName(quorvex::kApplicationTitle);
  // The window's settings stay out of the user's own.
  const QTemporaryDir settings;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  quorvex::ApplyFlatStyle(application);
  application.setWindowIcon(quorvex::QuorvexIcon());
  quorvex::TWindows windows = quorvex::CreateWindows(quorvex::PlatformServices());
  quorvex::TFormCrypt& form = *windows.FormCrypt;
  auto* action = Control<QMenu>(form, "Action1");
  auto* tab = Control<quorvex::TFlatTabControl>(form, "Tab");
  auto* runButton = Control<QPushButton>(form, "Ebutton");
  form.show();
  quorvex::SettleForScreenshot();
  bool ok = true;

  // Encrypt page with the first picture loaded and two files selected.
  auto* list = Control<quorvex::TFileListBox>(form, "FileListBox1");
  if (list->ItemCount() > 0) {
    // A photograph if there is one.
    int row = 0;
    for (int i = list->ItemCount() - 1; i >= 0; --i) {
      if (list->ItemName(i).endsWith(".jpg", Qt::CaseInsensitive)) row = i;
    }
    list->setCurrentRow(row);
    quorvex::Guarded([&] { form.FileListBox1DblClick(); });
    if (list->ItemCount() > 1) list->item(row == 0 ? 1 : 0)->setSelected(true);
  }
  quorvex::SettleForScreenshot();
  ok &= quorvex::SaveScreenshot(form.grab(), out + "/encrypt.png");

  // Each control of the Encrypt page with the keyboard focus, one below the
  // other, to see that the focus shows on every one.
  {
    form.activateWindow();
    runButton->setEnabled(true);
    const QList<QWidget*> controls = {tab->Bar(),
                                      Control<QWidget>(form, "DriveComboBox1"),
                                      Control<QWidget>(form, "DirectoryOutline1"),
                                      Control<QWidget>(form, "FilterComboBox1"),
                                      list,
                                      Control<QWidget>(form, "FB_preview"),
                                      Control<QWidget>(form, "CheckBoxStretch"),
                                      Control<QWidget>(form, "EditSeedEncrypt"),
                                      Control<QWidget>(form, "EncryptOnly"),
                                      runButton};
    QList<QPixmap> shots;
    int width = 0;
    int height = 0;
    for (QWidget* control : controls) {
      control->setFocus(Qt::TabFocusReason);
      quorvex::SettleForScreenshot();
      QRect area = control->rect().adjusted(-4, -4, 4, 4);
      area.setHeight(std::min(area.height(), 60));
      shots.push_back(form.grab(QRect(control->mapTo(&form, area.topLeft()), area.size())));
      width = std::max(width, area.width());
      height += area.height() + 6;
    }
    const qreal ratio = form.devicePixelRatioF();
    QPixmap sheet(QSize(width, height) * ratio);
    sheet.setDevicePixelRatio(ratio);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int y = 0;
    for (const QPixmap& shot : shots) {
      painter.drawPixmap(0, y, shot);
      y += static_cast<int>(shot.deviceIndependentSize().height()) + 6;
    }
    painter.end();
    ok &= quorvex::SaveScreenshot(sheet, out + "/focus.png");
    tab->Bar()->setFocus();
  }

  // The Action menu opened over the Encrypt page.
  action->popup(
      form.mapToGlobal(form.menuBar()->actionGeometry(action->menuAction()).bottomLeft()));
  quorvex::SettleForScreenshot();
  ok &= quorvex::SaveScreenshot(GrabScreenArea(form.frameGeometry()), out + "/action_menu.png");
  action->hide();
  quorvex::SettleForScreenshot();

  form.Decrypt1Click();
  quorvex::SettleForScreenshot();
  ok &= quorvex::SaveScreenshot(form.grab(), out + "/decrypt.png");

  form.ActivityLog1Click();
  quorvex::SettleForScreenshot();
  ok &= quorvex::SaveScreenshot(form.grab(), out + "/log.png");
  form.Encrypt1Click();

  windows.DirectoryForm->show();
  quorvex::SettleForScreenshot();
  ok &= quorvex::SaveScreenshot(windows.DirectoryForm->grab(), out + "/destination.png");
  windows.DirectoryForm->hide();

  windows.AboutBox->show();
  quorvex::SettleForScreenshot();
  ok &= quorvex::SaveScreenshot(windows.AboutBox->grab(), out + "/about.png");
  windows.AboutBox->hide();

  for (int size : {16, 32, 48}) {
    ok &= quorvex::SaveScreenshot(quorvex::QuorvexIconPixmap(size),
                                  out + QString("/icon%1.png").arg(size));
  }
  // "Seal Whole Files" ticked: the Action menu, then the log of a test run
  // that seals the selected files without writing.
  {
    const quorvex::TServices platform = quorvex::PlatformServices();
    TAnsweringDialogs answering(*platform.dialogs);
    quorvex::TWindows sealing =
        quorvex::CreateWindows({&answering, platform.shell, platform.pause});
    quorvex::TFormCrypt& sealForm = *sealing.FormCrypt;
    auto* sealAction = Control<QMenu>(sealForm, "Action1");
    auto* sealItem = Control<QAction>(sealForm, "SealWholeFiles1");
    sealForm.show();
    sealItem->trigger();
    quorvex::SettleForScreenshot();
    sealAction->popup(sealForm.mapToGlobal(
        sealForm.menuBar()->actionGeometry(sealAction->menuAction()).bottomLeft()));
    quorvex::SettleForScreenshot();
    ok &= quorvex::SaveScreenshot(GrabScreenArea(sealForm.frameGeometry()),
                                  out + "/action_menu_sealing.png");
    sealAction->hide();
    auto* sealList = Control<quorvex::TFileListBox>(sealForm, "FileListBox1");
    for (int i = 0; i < std::min(3, sealList->ItemCount()); ++i) {
      sealList->item(i)->setSelected(true);
    }
    Control<QLineEdit>(sealForm, "EditSeedEncrypt")->setText("correct horse battery");
    Control<QRadioButton>(sealForm, "EncryptOnly")->setChecked(true);
    quorvex::Guarded([&] { sealForm.EbuttonClick(); });
    quorvex::SettleForScreenshot();
    ok &= quorvex::SaveScreenshot(sealForm.grab(), out + "/encrypt_sealing.png");
    sealForm.ActivityLog1Click();
    quorvex::SettleForScreenshot();
    ok &= quorvex::SaveScreenshot(sealForm.grab(), out + "/log_sealing.png");
    sealItem->trigger();
    sealForm.hide();
  }

  // The whole screen once, to see the window as placed.
  form.show();
  quorvex::SettleForScreenshot();
  ok &= quorvex::SaveScreenshot(GrabScreenArea(QGuiApplication::primaryScreen()->geometry()),
                                out + "/screen.png");
  return ok ? 0 : 1;
}
