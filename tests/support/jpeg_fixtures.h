#pragma once

// JPEG files made in the tests with libjpeg's own encoder.

// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

namespace quorvex::test {

// A grey picture of one level, baseline or progressive (libjpeg's script:
// six scans for grey).
inline std::vector<uint8_t> EncodeUniformGrayJpeg(uint32_t width, uint32_t height,
                                                  bool progressive) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = 1;
  cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(width, 128);
  while (cinfo.next_scanline < height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

// Where each scan's markers begin and its entropy-coded data ends.
struct JpegScan {
  size_t begin, end;
};

inline std::vector<JpegScan> JpegScans(const std::vector<uint8_t>& jpeg) {
  std::vector<JpegScan> scans;
  size_t at = 2;
  size_t groupBegin = 2;
  while (at + 4 <= jpeg.size()) {
    const uint8_t marker = jpeg[at + 1];
    if (marker == 0xD9) break;
    at += 2 + ((size_t{jpeg[at + 2]} << 8) | jpeg[at + 3]);
    if (marker != 0xDA) continue;
    // Entropy-coded data runs to the next marker that is neither a stuffed
    // zero nor a restart.
    while (at + 1 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] != 0 &&
                                     (jpeg[at + 1] < 0xD0 || jpeg[at + 1] > 0xD7))) {
      ++at;
    }
    scans.push_back({groupBegin, at});
    groupBegin = at;
  }
  return scans;
}

// A progressive picture of `scans` scans: its last scan, tables and all,
// repeated. libjpeg takes the repeats as redundant refinements.
inline std::vector<uint8_t> ManyScanJpeg(uint32_t side, size_t scans) {
  const std::vector<uint8_t> jpeg = EncodeUniformGrayJpeg(side, side, true);
  const std::vector<JpegScan> found = JpegScans(jpeg);
  if (found.empty() || scans < found.size()) throw std::logic_error("too few scans asked for");
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(found.back().begin));
  for (size_t i = found.size() - 1; i < scans; ++i) {
    out.insert(out.end(), jpeg.begin() + static_cast<ptrdiff_t>(found.back().begin),
               jpeg.begin() + static_cast<ptrdiff_t>(found.back().end));
  }
  out.push_back(0xFF);
  out.push_back(0xD9);
  return out;
}

}  // namespace quorvex::test
