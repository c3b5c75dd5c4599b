#include <cstddef>
#include <cstdint>

#include "core/transform.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/stream.h"

// Reads arbitrary bytes as a BMP file; a picture that loads is scrambled and
// written again, which touches every storage byte the reader produced.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorvex::TMemoryStream stream(data, size);
  quorvex::TBitmap bitmap;
  try {
    bitmap.ReadFromStream(stream);
    if (bitmap.Stride() * static_cast<uint64_t>(bitmap.ImageHeight()) > (uint64_t{16} << 20)) {
      return 0;
    }
    quorvex::TBitmap scrambled;
    quorvex::EncryptTransform(bitmap, "614052", scrambled);
    quorvex::TMemoryStream out;
    scrambled.WriteToStream(out);
  } catch (const quorvex::Exception&) {
  }
  return 0;
}
