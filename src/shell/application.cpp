#include "shell/application.h"

#include <cstdio>

#include "picture/exceptions.h"

namespace quorvex {

namespace {
TErrorBox& ErrorBox() {
  static TErrorBox box;
  return box;
}
}  // namespace

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QChar('.')) return message + ".";
  return message;
}

void SetErrorBox(TErrorBox box) {
  ErrorBox() = std::move(box);
}

void HandleException(const std::exception& error) {
  const QString text = ErrorBoxText(QString::fromStdString(error.what()));
  if (ErrorBox()) {
    ErrorBox()(text);
  } else {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  }
}

}  // namespace quorvex
