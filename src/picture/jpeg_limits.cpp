#include "picture/jpeg_limits.h"

namespace quorvex {

namespace {

void StopAfterTooManyScans(j_common_ptr cinfo) {
  auto* decompressor = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (decompressor->input_scan_number <= kMaxJPEGScans) return;
  reinterpret_cast<TJPEGScanLimit*>(decompressor->progress)->exceeded = true;
  (*cinfo->err->error_exit)(cinfo);
}

}  // namespace

void UseJPEGScanLimit(jpeg_decompress_struct& cinfo, TJPEGScanLimit& limit) {
  limit.exceeded = false;
  limit.pub.progress_monitor = StopAfterTooManyScans;
  cinfo.progress = &limit.pub;
}

bool JPEGDataCanHold(const jpeg_decompress_struct& cinfo, uint64_t bytes) {
  if (cinfo.arith_code) return true;
  return uint64_t{cinfo.image_width} * cinfo.image_height <= bytes * kMaxJPEGPixelsPerByte;
}

}  // namespace quorvex
