#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QDialog;
class QPrinter;
class QWidget;

namespace quorvex {

// Every box and dialog the windows show goes through here, so that tests can
// answer them and nothing modal blocks a test.
class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // A confirmation: question icon, buttons Yes and No. True for Yes.
  virtual bool Confirm(QWidget* owner, const QString& text) = 0;
  enum class TAnswer { Yes, No, Cancel };
  // A question with buttons Yes, No and Cancel; closing the box cancels.
  virtual TAnswer AskYesNoCancel(QWidget* owner, const QString& text) = 0;
  // A plain message box with OK, captioned with the application title.
  virtual void Inform(QWidget* owner, const QString& text) = 0;
  // The application's error box, captioned with the application title.
  virtual void ShowError(QWidget* owner, const QString& text) = 0;
  // Shows one of the program's own dialogs modally; its result code.
  virtual int ExecModal(QDialog& dialog) = 0;

  struct SaveOptions {
    QString caption;
    QString directory;  // empty: the platform's default
    QString fileName;
    QString filter;         // "Bitmaps (*.bmp)"
    QString defaultSuffix;  // without the dot
    bool confirmOverwrite = false;
    bool picturePreview = false;
  };
  // The chosen path, or nothing when cancelled.
  virtual std::optional<QString> SaveFileName(QWidget* owner, const SaveOptions& options) = 0;
  // The system's print dialog, where the user picks the printer (or a PDF
  // file) that printing then uses; true when confirmed.
  virtual bool PrinterSetup(QWidget* owner, QPrinter& printer) = 0;
  // The folder chooser; the chosen folder, or nothing when cancelled.
  virtual std::optional<QString> ChooseFolder(QWidget* owner, const QString& caption,
                                              const QString& start) = 0;
};

// The shell: documents, programs and web pages handed to the desktop. Nothing
// waits for them and no result is checked.
class TShell {
 public:
  virtual ~TShell() = default;
  virtual void OpenDocument(const QString& path, const QString& workingDirectory) = 0;
  virtual void StartProgram(const QString& program, const QStringList& arguments,
                            const QString& workingDirectory) = 0;
  virtual void OpenUrl(const QString& url) = 0;
};

// Pausing the interface thread and letting pending window messages through.
class TPause {
 public:
  virtual ~TPause() = default;
  virtual void Sleep(int milliseconds) = 0;
  virtual void ProcessMessages() = 0;
};

struct TServices {
  TDialogs* dialogs;
  TShell* shell;
  TPause* pause;
};

// The real boxes, the desktop and the real clock.
TServices PlatformServices();

}  // namespace quorvex
