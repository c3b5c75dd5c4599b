// quorvex-gallery-screenshots OUTDIR FOLDER [FOLDER...]: opens the gallery on
// each folder and saves OUTDIR/gallery-N.png, and for a folder that scrolls,
// also OUTDIR/gallery-N-scrolled.png with the grid scrolled half-way.
#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QThread>
#include <cstdio>
#include <string>

#include "gallery/preview_form.h"
#include "picture/platform/install_platform_graphics.h"
#include "shell/services.h"
#include "widgets/flat_style.h"
#include "widgets/screenshot_support.h"

int main(int argc, char** argv) {
  quorvex::InstallPlatformGraphics();
  QApplication application(argc, argv);
  application.setApplicationName("Quorvex");
  quorvex::ApplyFlatStyle(application);
  if (argc < 3) {
    std::fprintf(stderr, "usage: quorvex-gallery-screenshots OUTDIR FOLDER...\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  bool ok = true;
  for (int i = 2; i < argc; ++i) {
    const std::string folder = argv[i];
    quorvex::TPreviewForm form(quorvex::PlatformServices(), [folder] { return folder; });
    form.show();
    quorvex::SettleForScreenshot();
    const QString name = out + QStringLiteral("/gallery-%1").arg(i - 1);
    ok &= quorvex::SaveScreenshot(form.grab(), name + ".png");
    if (form.VertScrollBar->maximum() > 0) {
      form.SetScrollPosition(form.VertScrollBar->maximum() / 2);
      quorvex::SettleForScreenshot();
      ok &= quorvex::SaveScreenshot(form.grab(), name + "-scrolled.png");
    }
    std::printf("%s: %s\n", folder.c_str(), form.windowTitle().toLocal8Bit().constData());
    form.hide();
  }
  return ok ? 0 : 1;
}
