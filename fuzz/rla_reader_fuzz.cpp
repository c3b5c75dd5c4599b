#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/rla_reader.h"

// Reads arbitrary bytes as an RLA file, after the content test that picks
// the reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Pictures of more than 1 MiB are legal but only slow the search.
  return quorvex::fuzz::FuzzReader<quorvex::TRLAGraphic>(
      data, size, quorvex::fuzz::HeaderInfoCap{int64_t{1} << 20});
}
