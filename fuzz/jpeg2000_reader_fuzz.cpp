#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/jpeg2000_reader.h"

// Reads arbitrary bytes as a JPEG 2000 picture, after the content test that
// picks the reader. Pictures over 4 MiB are legal but only slow the search:
// OpenJPEG takes seconds on a wide one of many empty tiles.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TJPEG2000Graphic>(
      data, size, quorvex::fuzz::HeaderInfoCap{int64_t{4} << 20});
}
