#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/psd_reader.h"

// Reads arbitrary bytes as a Photoshop file, after the content test that
// picks the reader.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzReader<quorvex::TPSDGraphic>(
      data, size, [](const uint8_t* bytes, size_t length, quorvex::TStream&, auto&) {
        // Pictures of more than 64 K pixels are legal but only slow the search.
        if (length < quorvex::TPSDHeader::kSize) return false;
        const auto header =
            quorvex::TPSDHeader::Parse(std::span<const uint8_t, quorvex::TPSDHeader::kSize>(
                bytes, quorvex::TPSDHeader::kSize));
        return uint64_t{header.width} * header.height > (uint64_t{1} << 16);
      });
}
