#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/eps_reader.h"

// Reads arbitrary bytes as an EPS file with a TIFF preview, after the
// content test that picks the reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TEPSGraphic>(
      data, size,
      [](const uint8_t*, size_t, quorvex::TStream& stream, quorvex::TEPSGraphic& bitmap) {
        // Previews of more than a million pixels are legal but only slow the
        // search; the header info is the preview's.
        if (!bitmap.ReadHeaderInfo(stream, 0)) return false;
        const auto& p = bitmap.ImageProperties();
        return int64_t{p.width} * p.height > (int64_t{1} << 20);
      });
}
