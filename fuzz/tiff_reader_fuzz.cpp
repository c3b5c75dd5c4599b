#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/tiff_reader.h"

// Reads arbitrary bytes as a TIFF file, after the content test that picks
// the reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TTIFFGraphic>(
      data, size,
      [](const uint8_t*, size_t, quorvex::TStream& stream, quorvex::TTIFFGraphic& bitmap) {
        // Pictures of more than a million pixels are legal but only slow the
        // search.
        if (!bitmap.ReadHeaderInfo(stream, 0)) return false;
        const auto& p = bitmap.ImageProperties();
        return int64_t{p.width} * p.height > (int64_t{1} << 20);
      });
}
