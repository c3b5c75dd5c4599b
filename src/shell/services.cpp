#include "shell/services.h"

#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QThread>
#include <QUrl>
#include <string>
#include <vector>

#include "shell/application.h"
#include "shell/file_name_text.h"

namespace quorvex {

namespace {

// QProcess hands arguments over in the locale's encoding, which loses file
// names that are not UTF-8; these go out as the bytes they stand for. The
// program runs as a grandchild, so nothing is left to reap.
void StartDetached(const QString& program, const QStringList& arguments,
                   const QString& workingDirectory) {
  std::vector<std::string> words{EncodeFileName(program)};
  for (const QString& argument : arguments) words.push_back(EncodeFileName(argument));
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string folder = EncodeFileName(workingDirectory);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::fork() == 0) {
      if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(127);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::_exit(0);
  }
  if (child > 0) ::waitpid(child, nullptr, 0);
}

class TPlatformDialogs : public TDialogs {
 public:
  bool Confirm(QWidget* owner, const QString& text) override {
    return QMessageBox::question(owner, kApplicationTitle, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
  }
  TAnswer AskYesNoCancel(QWidget* owner, const QString& text) override {
    switch (QMessageBox::question(owner, kApplicationTitle, text,
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                  QMessageBox::No)) {
      case QMessageBox::Yes:
        return TAnswer::Yes;
      case QMessageBox::No:
        return TAnswer::No;
      default:
        return TAnswer::Cancel;
    }
  }
  void Inform(QWidget* owner, const QString& text) override {
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, owner);
    box.exec();
  }
  void ShowError(QWidget* owner, const QString& text) override {
    QMessageBox::critical(owner, kApplicationTitle, text);
  }
  int ExecModal(QDialog& dialog) override { return dialog.exec(); }
  std::optional<QString> SaveFileName(QWidget* owner, const SaveOptions& options) override {
    QFileDialog dialog(owner, options.caption, options.directory, options.filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(options.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.confirmOverwrite);
    if (!options.fileName.isEmpty()) dialog.selectFile(options.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
  }
  // The system's print dialog: every printer, printing to a PDF file, and
  // the page set-up behind its options.
  bool PrinterSetup(QWidget* owner, QPrinter& printer) override {
    QPrintDialog dialog(&printer, owner);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    return dialog.exec() == QDialog::Accepted;
  }
  std::optional<QString> ChooseFolder(QWidget* owner, const QString& caption,
                                      const QString& start) override {
    const QString folder = QFileDialog::getExistingDirectory(owner, caption, start);
    if (folder.isEmpty()) return {};
    return folder;
  }
};

class TPlatformShell : public TShell {
 public:
  void OpenDocument(const QString& path, const QString&) override {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  }
  void StartProgram(const QString& program, const QStringList& arguments,
                    const QString& workingDirectory) override {
    StartDetached(program, arguments, workingDirectory);
  }
  void OpenUrl(const QString& url) override { QDesktopServices::openUrl(QUrl(url)); }
};

class TPlatformPause : public TPause {
 public:
  void Sleep(int milliseconds) override {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
  }
  void ProcessMessages() override { QApplication::processEvents(); }
};

}  // namespace

TServices PlatformServices() {
  static TPlatformDialogs dialogs;
  static TPlatformShell shell;
  static TPlatformPause pause;
  return {&dialogs, &shell, &pause};
}

}  // namespace quorvex
