#include <QApplication>
#include <csignal>
#include <string>
#include <vector>

#include "app/windows.h"
#include "picture/platform/install_platform_graphics.h"
#include "shell/application.h"
#include "shell/services.h"
#include "widgets/flat_style.h"
#include "widgets/glyphs.h"

int main(int argc, char** argv) {
  // Past the file size limit a write fails for its file instead of the
  // signal ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  quorvex::InstallPlatformGraphics();
  QApplication application(argc, argv);
  application.setApplicationName(quorvex::kApplicationTitle);
  quorvex::ApplyFlatStyle(application);
  application.setWindowIcon(quorvex::QuorvexIcon());
  quorvex::TWindows windows = quorvex::CreateWindows(quorvex::PlatformServices());
  windows.FormCrypt->show();
  // Pictures named on the command line (Qt has taken its own options out).
  const std::vector<std::string> files(argv + 1, argv + argc);
  quorvex::Guarded([&] { windows.FormCrypt->OpenFiles(files); });
  return application.exec();
}
