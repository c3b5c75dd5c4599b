#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/targa_reader.h"

// Reads arbitrary bytes as a Targa file, after the content test that picks
// the reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TTargaGraphic>(
      data, size, [](const uint8_t* bytes, size_t length, quorvex::TStream&, auto&) {
        // Pictures of more than 1 MiB are legal but only slow the search.
        if (length < quorvex::TTargaHeader::kSize) return false;
        const auto header = quorvex::TTargaHeader::Parse({bytes, length});
        return uint64_t{header.width} * header.height * 4 > (uint64_t{1} << 20);
      });
}
