#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/webp_reader.h"

// Reads arbitrary bytes as a WebP file, after the content test that picks
// the reader. Pictures of more than 4 MiB are legal but only slow the search.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TWebPGraphic>(
      data, size, quorvex::fuzz::HeaderInfoCap{int64_t{16} << 20});
}
