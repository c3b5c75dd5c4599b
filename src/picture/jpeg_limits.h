#pragma once

// Bounds that keep a small JPEG file from costing much more than it holds.
//
// Every scan of a progressive JPEG walks the whole picture again, and a
// scan can be a few bytes: a small file of thousands of scans would take
// minutes. No real encoder writes anywhere near this many.

// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

namespace quorvex {

inline constexpr int kMaxJPEGScans = 100;
inline constexpr const char* kJPEGTooManyScans =
    "JPEG decompression error. More than 100 scans in the file.";

struct TJPEGScanLimit {
  jpeg_progress_mgr pub{};
  bool exceeded = false;  // set just before libjpeg's error exit is taken
};

// Installs a progress monitor on `cinfo` that takes libjpeg's error exit
// once the scan after the last allowed one begins; `limit` must outlive
// the decompression.
void UseJPEGScanLimit(jpeg_decompress_struct& cinfo, TJPEGScanLimit& limit);

// Huffman-coded data spends at least one bit on every block of the first
// scan that carries it, and a block is at most 64 pixels of the picture: a
// file of N bytes cannot hold more than 512 N pixels. Arithmetic-coded data
// has no such floor and is not bounded here.
inline constexpr uint64_t kMaxJPEGPixelsPerByte = 512;
inline constexpr const char* kJPEGDataTooShort =
    "JPEG decompression error. The file is too short for its picture size.";

// Whether `bytes` of JPEG data could hold the picture whose header `cinfo`
// has read.
bool JPEGDataCanHold(const jpeg_decompress_struct& cinfo, uint64_t bytes);

}  // namespace quorvex
