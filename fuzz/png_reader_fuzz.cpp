#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/transform.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/readers/png_reader.h"
#include "picture/stream.h"

namespace {

// Mutations almost always break a chunk's CRC, which would stop nearly
// every input at its first damaged chunk. So the CRCs are made right again,
// except for inputs whose last byte is a multiple of 8, which keep theirs
// and exercise the CRC failures.
void FixChunkCrcs(std::vector<uint8_t>& bytes) {
  if (bytes.empty() || bytes.back() % 8 == 0) return;
  size_t at = 8;
  while (at + 12 <= bytes.size()) {
    const uint32_t length = (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
                            (uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
    if (length > bytes.size() - at - 12) return;
    const uint32_t crc =
        static_cast<uint32_t>(crc32(0, bytes.data() + at + 4, static_cast<uInt>(length) + 4));
    uint8_t* stored = bytes.data() + at + 8 + length;
    stored[0] = static_cast<uint8_t>(crc >> 24);
    stored[1] = static_cast<uint8_t>(crc >> 16);
    stored[2] = static_cast<uint8_t>(crc >> 8);
    stored[3] = static_cast<uint8_t>(crc);
    at += size_t{length} + 12;
  }
}

}  // namespace

// Reads arbitrary bytes as a PNG file; a picture that loads is scrambled and
// written as BMP, which touches every storage byte the reader produced.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  FixChunkCrcs(bytes);
  quorvex::TMemoryStream stream(std::move(bytes));
  quorvex::TPNGGraphic::AcceptsStream(stream);
  quorvex::TPNGGraphic png;
  try {
    // Pictures of many megapixels only spend the fuzzer's time and memory
    // on the size checks, which the tests cover.
    if (png.ReadHeaderInfo(stream, 0)) {
      const auto& p = png.ImageProperties();
      if (static_cast<uint64_t>(p.width) * static_cast<uint64_t>(p.height) > (uint64_t{1} << 22)) {
        return 0;
      }
    }
    png.ReadFromStream(stream);
    quorvex::TBitmap scrambled;
    quorvex::EncryptTransform(png, "614052", scrambled);
    quorvex::TMemoryStream out;
    scrambled.WriteToStream(out);
  } catch (const quorvex::Exception&) {
  }
  return 0;
}
