// quorvex-screenshots OUTDIR [FOLDER]: shows the windows on the running
// display, browsing FOLDER, and saves a PNG of each page, of the Action menu,
// of the destination dialog and of the about box.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>

#include "app/application.h"
#include "app/current_directory.h"
#include "app/file_list_box.h"
#include "app/services.h"
#include "app/windows.h"
#include "widgets/flat_style.h"
#include "widgets/glyphs.h"

namespace {

void Settle() {
  for (int i = 0; i < 20; ++i) {
    QApplication::processEvents();
    QThread::msleep(15);
  }
}

bool Save(const QPixmap& pixmap, const QString& path) {
  const bool ok = pixmap.save(path);
  std::printf("%s %s\n", ok ? "wrote" : "could not write", path.toLocal8Bit().constData());
  return ok;
}

QPixmap GrabScreenArea(const QRect& area) {
  return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                      area.height());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: quorvex-screenshots OUTDIR [FOLDER]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  if (argc > 2) quorvex::SetCurrentDirectoryPath(argv[2]);
  application.setApplicationName(quorvex::kApplicationTitle);
  quorvex::ApplyFlatStyle(application);
  application.setWindowIcon(quorvex::QuorvexIcon());
  quorvex::TWindows windows = quorvex::CreateWindows(quorvex::PlatformServices());
  quorvex::TFormCrypt& form = *windows.FormCrypt;
  form.show();
  Settle();
  bool ok = true;

  // Encrypt page with the first picture loaded and two files selected.
  quorvex::TFileListBox* list = form.FileListBox1;
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
  Settle();
  ok &= Save(form.grab(), out + "/encrypt.png");

  // The Action menu opened over the Encrypt page.
  form.Action1->popup(
      form.mapToGlobal(form.menuBar()->actionGeometry(form.Action1->menuAction()).bottomLeft()));
  Settle();
  ok &= Save(GrabScreenArea(form.frameGeometry()), out + "/action_menu.png");
  form.Action1->hide();
  Settle();

  form.Decrypt1Click();
  Settle();
  ok &= Save(form.grab(), out + "/decrypt.png");

  form.ActivityLog1Click();
  Settle();
  ok &= Save(form.grab(), out + "/log.png");
  form.Encrypt1Click();

  windows.DirectoryForm->show();
  Settle();
  ok &= Save(windows.DirectoryForm->grab(), out + "/destination.png");
  windows.DirectoryForm->hide();

  windows.AboutBox->show();
  Settle();
  ok &= Save(windows.AboutBox->grab(), out + "/about.png");
  windows.AboutBox->hide();

  for (int size : {16, 32, 48}) {
    ok &= Save(quorvex::QuorvexIconPixmap(size), out + QString("/icon%1.png").arg(size));
  }
  // The whole screen once, to see the window as placed.
  form.show();
  Settle();
  ok &= Save(GrabScreenArea(QGuiApplication::primaryScreen()->geometry()), out + "/screen.png");
  return ok ? 0 : 1;
}
