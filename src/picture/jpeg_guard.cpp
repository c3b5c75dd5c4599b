#include "picture/jpeg_guard.h"

namespace quorvex {

namespace {

[[noreturn]] void JumpToGuard(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<TJPEGErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, errors->message);
  std::longjmp(errors->jump, 1);
}

void Silent(j_common_ptr) {}

}  // namespace

jpeg_error_mgr* UseJPEGErrorManager(TJPEGErrorManager& errors) {
  jpeg_error_mgr* manager = jpeg_std_error(&errors.pub);
  manager->error_exit = JumpToGuard;
  manager->output_message = Silent;
  return manager;
}

}  // namespace quorvex
