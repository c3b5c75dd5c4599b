#include "picture/jpeg_guard.h"

namespace quorvex {

namespace {

[[noreturn]] void JumpToGuard(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TJPEGErrorManager*>(cinfo->err)->jump, 1);
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
