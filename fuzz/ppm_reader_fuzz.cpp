#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/ppm_reader.h"

// Reads arbitrary bytes as a portable map, after the content test that picks
// the reader. No size cap is needed: the reader refuses a picture before
// allocating it unless the input could fill it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TPPMGraphic>(data, size);
}
