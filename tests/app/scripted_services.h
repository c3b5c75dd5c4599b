#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "shell/services.h"

namespace quorvex::test {

// Dialogs answered by the test: every box is recorded, confirmations take
// the queued answers (No when none is queued), modal dialogs run the queued
// script, which returns the dialog's result.
class TScriptedDialogs : public TDialogs {
 public:
  std::vector<QString> confirmations;
  std::vector<QString> informations;
  std::vector<QString> errors;
  std::deque<bool> answers;
  std::deque<std::function<int(QDialog&)>> modalScripts;
  std::vector<QDialog*> modalShown;
  int printerSetups = 0;

  bool Confirm(QWidget*, const QString& text) override {
    confirmations.push_back(text);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  // Three-way questions take the queued answers (Cancel when none is queued).
  std::vector<QString> questions;
  std::deque<TAnswer> questionAnswers;
  TAnswer AskYesNoCancel(QWidget*, const QString& text) override {
    questions.push_back(text);
    if (questionAnswers.empty()) return TAnswer::Cancel;
    const TAnswer answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
  }
  void Inform(QWidget*, const QString& text) override { informations.push_back(text); }
  void ShowError(QWidget*, const QString& text) override { errors.push_back(text); }
  int ExecModal(QDialog& dialog) override {
    modalShown.push_back(&dialog);
    if (modalScripts.empty()) return QDialog::Rejected;
    auto script = std::move(modalScripts.front());
    modalScripts.pop_front();
    return script(dialog);
  }
  // Save dialogs take the queued paths; an empty one, or none queued, cancels.
  std::deque<QString> saveAnswers;
  std::vector<SaveOptions> saveRequests;
  std::optional<QString> SaveFileName(QWidget*, const SaveOptions& options) override {
    saveRequests.push_back(options);
    QString answer;
    if (!saveAnswers.empty()) {
      answer = saveAnswers.front();
      saveAnswers.pop_front();
    }
    if (answer.isEmpty()) return std::nullopt;
    return answer;
  }
  // Picks a printer as the user would; none set, the dialog is cancelled.
  std::function<bool(QPrinter&)> printerChoice;
  bool PrinterSetup(QWidget*, QPrinter& printer) override {
    ++printerSetups;
    return printerChoice ? printerChoice(printer) : false;
  }
  std::optional<QString> ChooseFolder(QWidget*, const QString&, const QString&) override {
    return {};
  }
};

// Records what would have been handed to the desktop.
class TRecordingShell : public TShell {
 public:
  struct Start {
    QString program;
    QStringList arguments;
    QString workingDirectory;
  };
  std::vector<std::pair<QString, QString>> documents;  // path, working folder
  std::vector<Start> programs;
  std::vector<QString> urls;

  void OpenDocument(const QString& path, const QString& workingDirectory) override {
    documents.emplace_back(path, workingDirectory);
  }
  void StartProgram(const QString& program, const QStringList& arguments,
                    const QString& workingDirectory) override {
    programs.push_back({program, arguments, workingDirectory});
  }
  void OpenUrl(const QString& url) override { urls.push_back(url); }
};

// No waiting.
class TInstantPause : public TPause {
 public:
  int sleeps = 0;
  void Sleep(int) override { ++sleeps; }
  // Runs at every point where pending messages would be let through.
  std::function<void()> onProcessMessages;
  void ProcessMessages() override {
    if (onProcessMessages) onProcessMessages();
  }
};

struct TScriptedServices {
  TScriptedDialogs dialogs;
  TRecordingShell shell;
  TInstantPause pause;
  TServices Services() { return {&dialogs, &shell, &pause}; }
};

}  // namespace quorvex::test
