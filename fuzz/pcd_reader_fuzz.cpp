#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/pcd_reader.h"

// Reads arbitrary bytes as a Photo-CD image pack, after the content test. The
// base image has a fixed size, so inputs that reach it are as long as a pack
// (the seed is one); shorter ones exercise the header checks.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TPCDGraphic>(data, size);
}
