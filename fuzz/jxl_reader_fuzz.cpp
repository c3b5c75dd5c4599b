#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/jxl_reader.h"

// Reads arbitrary bytes as a JPEG XL picture, after the content test that picks the
// reader. Pictures over 64 MiB are legal but only slow the search.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TJXLGraphic>(
      data, size, quorvex::fuzz::HeaderInfoCap{int64_t{64} << 20});
}
