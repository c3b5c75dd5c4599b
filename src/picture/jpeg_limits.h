#pragma once

// Bounds that keep a small JPEG file from costing much more than it holds.
//
// Every scan of a progressive JPEG walks its part of the picture again, and
// a scan can be a few bytes: a small file of thousands of scans would take
// minutes. No real encoder writes anywhere near 100 scans, nor scans that
// walk a large picture 32 times over (the usual scripts walk it 5 to 10
// times).

// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

namespace quorvex {

inline constexpr int kMaxJPEGScans = 100;
// Blocks all scans together may walk: this many times the picture's own...
inline constexpr uint64_t kMaxJPEGScanPasses = 32;
// ...once past this many, which takes about a second.
inline constexpr uint64_t kFreeJPEGScanBlocks = uint64_t{1} << 24;
inline constexpr const char* kJPEGTooManyScans = "JPEG decompression error. Too many scans.";

struct TJPEGScanLimit {
  jpeg_progress_mgr pub{};
  bool exceeded = false;  // set just before libjpeg's error exit is taken
  // The decompression under way: scans seen and the blocks they walk.
  int lastScan = 0;
  uint64_t scanBlocks = 0;
};

// Installs a progress monitor on `cinfo` that takes libjpeg's error exit
// once a scan past the limits begins; `limit` must outlive the
// decompression.
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
