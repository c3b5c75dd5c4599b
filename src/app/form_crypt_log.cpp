// The Log page's commands: clear, save as rich text, print.
#include <QFileInfo>
#include <QPrinter>
#include <QTextDocument>
#include <QTextEdit>
#include <memory>

#include "app/activity_log.h"
#include "app/form_crypt.h"
#include "app/rtf_writer.h"
#include "picture/exceptions.h"
#include "picture/safe_file_writer.h"
#include "picture/stream.h"

namespace quorvex {

// The printing layer's error.
class EPrinter : public Exception {
 public:
  explicit EPrinter(const std::string& message) : Exception(message) {}
};

namespace {
constexpr const char* kClearQuestion =
    " \n     You are about to clear this activity log.          \n     Do you want to proceed?    ";

bool HasPrintTarget(const QPrinter& printer) {
  if (printer.outputFormat() == QPrinter::PdfFormat) return !printer.outputFileName().isEmpty();
  return !printer.printerName().isEmpty();
}
}  // namespace

void TFormCrypt::FlatSpeedButton4Click() {
  if (!services_.dialogs->Confirm(this, kClearQuestion)) return;
  ActivityLog().Clear();
  ActivityLog().WriteHeader();
}

void TFormCrypt::FlatSpeedButton3Click() {
  TDialogs::SaveOptions options;
  options.fileName = SaveDialog1FileName;
  options.filter = "Rich Text Format (*.rtf)";
  options.defaultSuffix = "rtf";
  options.confirmOverwrite = true;
  std::optional<QString> chosen = services_.dialogs->SaveFileName(this, options);
  if (!chosen) return;
  if (QFileInfo(*chosen).suffix().isEmpty()) *chosen += ".rtf";
  SaveDialog1FileName = *chosen;
  const std::string rtf = LogToRtf(ActivityLog().Lines());
  WriteFileAtomically(chosen->toStdString(),
                      [&](TStream& stream) { stream.WriteBuffer(rtf.data(), rtf.size()); });
}

void TFormCrypt::FSB_PrintClick() {
  QPrinter& printer = Printer();
  // Without a default printer the user picks one (or a PDF file) first;
  // cancelling that prints nothing.
  if (!HasPrintTarget(printer) && !services_.dialogs->PrinterSetup(this, printer)) return;
  if (!HasPrintTarget(printer)) throw EPrinter("There is no default printer currently selected");
  printer.setDocName("Quorvex Log File");
  printer.setFullPage(false);
  // A copy keeps the page layout from touching the control's own document.
  std::unique_ptr<QTextDocument> document(RichEdit1->document()->clone());
  document->print(&printer);
}

void TFormCrypt::PrintLog1Click() {
  FSB_PrintClick();
}

}  // namespace quorvex
