#pragma once

#include <QString>
#include <exception>
#include <functional>

namespace quorvex {

// The application's title: the task-bar caption and the caption of every
// message box that has none of its own.
inline constexpr const char* kApplicationTitle = "Quorvex";

// The text of the error box for a message: a full stop is appended when the
// message's last character sorts after ".".
QString ErrorBoxText(const QString& message);

// Where uncaught handler errors go. The main window shows them in its error
// box; without one they are written to the standard error stream.
using TErrorBox = std::function<void(const QString& text)>;
void SetErrorBox(TErrorBox box);
// Shows the exception's message in the error box (with ErrorBoxText).
void HandleException(const std::exception& error);

// Runs one event handler; an error it does not catch ends the handler and is
// shown in the error box, and the program goes on.
template <typename F>
void Guarded(F&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    HandleException(error);
  }
}

}  // namespace quorvex
