#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/eps_reader.h"

// Reads arbitrary bytes as an EPS file with a TIFF preview, after the
// content test that picks the reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TEPSGraphic>(
      data, size,
      [](const uint8_t* bytes, size_t length, quorvex::TStream& stream,
         quorvex::TEPSGraphic& bitmap) {
        // Previews of more than a million pixels are legal but only slow the
        // search.
        if (length < quorvex::TEPSHeader::kSize) return false;
        const auto header = quorvex::TEPSHeader::Parse(bytes);
        stream.Seek(int64_t{header.tiffOffset});
        if (!bitmap.ReadHeaderInfo(stream, 0)) return false;
        const auto& p = bitmap.ImageProperties();
        return int64_t{p.width} * p.height > (int64_t{1} << 20);
      });
}
