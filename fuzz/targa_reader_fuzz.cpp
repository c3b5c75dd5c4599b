#include <cstddef>
#include <cstdint>

#include "core/transform.h"
#include "picture/exceptions.h"
#include "picture/readers/targa_reader.h"
#include "picture/stream.h"

// Reads arbitrary bytes as a Targa file, after the content test that picks
// the reader. A picture that loads is scrambled, which reads every storage
// byte the reader produced.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorvex::TMemoryStream stream(data, size);
  quorvex::TTargaGraphic::AcceptsStream(stream);
  if (size >= quorvex::TTargaHeader::kSize) {
    // Pictures of more than 1 MiB are legal but only slow the search.
    const auto header = quorvex::TTargaHeader::Parse(data);
    if (uint64_t{header.width} * header.height * 4 > (uint64_t{1} << 20)) return 0;
  }
  quorvex::TTargaGraphic bitmap;
  try {
    bitmap.ReadFromStream(stream);
    quorvex::TBitmap scrambled;
    quorvex::EncryptTransform(bitmap, "614052", scrambled);
  } catch (const quorvex::Exception&) {
  }
  return 0;
}
