#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/pcx_reader.h"

// Reads arbitrary bytes as a PCX file, after the content test that picks the
// reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TPCXGraphic>(
      data, size, [](const uint8_t* bytes, size_t length, quorvex::TStream&, auto&) {
        // Pictures of more than 1 MiB are legal but only slow the search.
        if (length < quorvex::TPCXHeader::kSize) return false;
        const auto header = quorvex::TPCXHeader::Parse({bytes, length});
        const int64_t pixels = int64_t{header.Width()} * header.Height();
        return pixels > 0 && pixels * 4 > (int64_t{1} << 20);
      });
}
