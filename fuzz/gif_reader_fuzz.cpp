#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/gif_reader.h"

// Reads arbitrary bytes as a GIF file, after the content test that picks
// the reader. Screens of more than 4 MiB are legal but only slow the search.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TGIFGraphic>(
      data, size, quorvex::fuzz::HeaderInfoCap{int64_t{16} << 20});
}
