// Vuelet FILE: shows one picture file in a window.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "picture/platform/install_platform_graphics.h"
#include "shell/application.h"
#include "shell/file_name_text.h"
#include "viewer/vuelet_window.h"
#include "widgets/flat_style.h"
#include "widgets/glyphs.h"

int main(int argc, char** argv) {
  quorvex::InstallPlatformGraphics();
  QApplication application(argc, argv);
  application.setApplicationName("Vuelet");
  quorvex::ApplyFlatStyle(application);
  application.setWindowIcon(quorvex::QuorvexIcon());
  // The file name as its bytes: Qt's own argument list would replace the
  // bytes of a name that is not UTF-8.
  if (argc != 2) {
    QMessageBox::warning(nullptr, "Vuelet", "Usage: Vuelet FILE\nShows the picture FILE.");
    return 2;
  }
  const QString file = quorvex::DecodeFileName(argv[1]);
  quorvex::TVueletWindow window;
  try {
    window.OpenFile(file);
  } catch (const std::exception& error) {
    QMessageBox::critical(
        nullptr, "Vuelet",
        file + "\n\n" + quorvex::ErrorBoxText(QString::fromStdString(error.what())));
    return 1;
  }
  window.show();
  return application.exec();
}
