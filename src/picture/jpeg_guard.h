#pragma once

// libjpeg reports a fatal error by calling error_exit, which must not
// return. Ours jumps back to the guard that made the call; the code between
// a guard and libjpeg holds only plain data, so the jump skips no
// destructor, and libjpeg's own memory goes with its destroy call.

// jpeglib.h needs size_t and FILE declared first.
#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

namespace quorvex {

struct TJPEGErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool endOfInput = false;  // set by handlers that stop at a premature end
  // libjpeg's own text for the error that ended the last guarded step
  // ("Premature end of JPEG file"), formatted before the jump.
  char message[JMSG_LENGTH_MAX] = {};
};

// Installs the jumping error_exit on `errors` and returns libjpeg's error
// manager for cinfo->err. Warnings stay quiet: they are corrupt data
// libjpeg works around, not the user's business.
jpeg_error_mgr* UseJPEGErrorManager(TJPEGErrorManager& errors);

// Runs step(args...); false when libjpeg gave up inside it. The step must
// hold nothing that needs destroying.
template <class Step, class... Args>
bool RunJPEGGuarded(TJPEGErrorManager& errors, Step step, Args&... args) {
  if (setjmp(errors.jump)) return false;
  step(args...);
  return true;
}

}  // namespace quorvex
