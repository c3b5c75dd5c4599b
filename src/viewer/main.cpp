// Vuelet FILE: shows one picture file in a window.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "app/application.h"
#include "viewer/vuelet_window.h"
#include "widgets/flat_style.h"
#include "widgets/glyphs.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setApplicationName("Vuelet");
  quorvex::ApplyFlatStyle(application);
  application.setWindowIcon(quorvex::QuorvexIcon());
  const QStringList arguments = application.arguments();
  if (arguments.size() != 2) {
    QMessageBox::warning(nullptr, "Vuelet", "Usage: Vuelet FILE\nShows the picture FILE.");
    return 2;
  }
  quorvex::TVueletWindow window;
  try {
    window.OpenFile(arguments[1]);
  } catch (const std::exception& error) {
    QMessageBox::critical(
        nullptr, "Vuelet",
        arguments[1] + "\n\n" + quorvex::ErrorBoxText(QString::fromStdString(error.what())));
    return 1;
  }
  window.show();
  return application.exec();
}
