#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/autodesk_reader.h"

// Reads arbitrary bytes as an Autodesk file, after the content test that
// picks the reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TAutodeskGraphic>(
      data, size, [](const uint8_t* bytes, size_t length, quorvex::TStream&, auto&) {
        // Larger pictures are legal but only slow the search: scrambling a
        // palette picture under the sanitizers costs microseconds a pixel.
        if (length < quorvex::TAutodeskHeader::kSize) return false;
        const auto header = quorvex::TAutodeskHeader::Parse({bytes, length});
        return uint64_t{header.width} * header.height > (uint64_t{1} << 12);
      });
}
