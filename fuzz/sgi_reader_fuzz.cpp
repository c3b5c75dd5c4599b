#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/sgi_reader.h"

// Reads arbitrary bytes as an SGI image, after the content test that picks
// the reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TSGIGraphic>(
      data, size, [](const uint8_t* bytes, size_t length, quorvex::TStream&, auto&) {
        // Pictures of more than 1 MiB are legal but only slow the search.
        if (length < quorvex::TSGIHeader::kSize) return false;
        const auto header = quorvex::TSGIHeader::Parse({bytes, length});
        const int64_t samples = int64_t{header.width} * header.height * header.ChannelCount();
        return samples > (int64_t{1} << 20);
      });
}
