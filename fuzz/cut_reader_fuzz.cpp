#include <cstddef>
#include <cstdint>

#include "fuzz_reader.h"
#include "picture/readers/cut_reader.h"

// Reads arbitrary bytes as a Dr. Halo picture and, separately, as its
// palette file. The format has no content test.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorvex::TMemoryStream paletteStream(data, size);
  try {
    quorvex::ReadCUTPalette(paletteStream);
  } catch (const quorvex::Exception&) {
  }
  return quorvex::fuzz::FuzzReader<quorvex::TCUTGraphic, quorvex::fuzz::ContentTest::Skip>(
      data, size, [](const uint8_t* bytes, size_t length, quorvex::TStream&, auto&) {
        // Larger pictures are legal but only slow the search: scrambling a
        // palette picture under the sanitizers costs microseconds a pixel.
        if (length < 4) return false;
        const uint64_t pixels =
            uint64_t(bytes[0] | (bytes[1] << 8)) * uint64_t(bytes[2] | (bytes[3] << 8));
        return pixels > (uint64_t{1} << 12);
      });
}
