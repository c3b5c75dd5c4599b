#include "picture/jpeg_limits.h"

namespace quorvex {

namespace {

uint64_t BlocksOf(const jpeg_component_info& component) {
  return uint64_t{component.width_in_blocks} * component.height_in_blocks;
}

void StopAfterTooManyScans(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  auto* limit = reinterpret_cast<TJPEGScanLimit*>(d->progress);
  const int scan = d->input_scan_number;
  if (scan < limit->lastScan) {  // a new decompression on the same object
    limit->lastScan = 0;
    limit->scanBlocks = 0;
  }
  if (scan == limit->lastScan) return;
  uint64_t blocks = 0;
  for (int i = 0; i < d->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) {
    if (d->cur_comp_info[i]) blocks += BlocksOf(*d->cur_comp_info[i]);
  }
  limit->scanBlocks += blocks * static_cast<uint64_t>(scan - limit->lastScan);
  limit->lastScan = scan;
  uint64_t pictureBlocks = 0;
  for (int i = 0; i < d->num_components; ++i) pictureBlocks += BlocksOf(d->comp_info[i]);
  const bool tooMuchWork = limit->scanBlocks > kFreeJPEGScanBlocks &&
                           limit->scanBlocks > kMaxJPEGScanPasses * pictureBlocks;
  if (scan <= kMaxJPEGScans && !tooMuchWork) return;
  limit->exceeded = true;
  (*cinfo->err->error_exit)(cinfo);
}

}  // namespace

void UseJPEGScanLimit(jpeg_decompress_struct& cinfo, TJPEGScanLimit& limit) {
  limit.exceeded = false;
  limit.lastScan = 0;
  limit.scanBlocks = 0;
  limit.pub.progress_monitor = StopAfterTooManyScans;
  cinfo.progress = &limit.pub;
}

bool JPEGDataCanHold(const jpeg_decompress_struct& cinfo, uint64_t bytes) {
  if (cinfo.arith_code) return true;
  return uint64_t{cinfo.image_width} * cinfo.image_height <= bytes * kMaxJPEGPixelsPerByte;
}

}  // namespace quorvex
