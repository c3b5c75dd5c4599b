#include <cstddef>
#include <cstdint>

#include "core/transform.h"
#include "picture/exceptions.h"
#include "picture/readers/pcx_reader.h"
#include "picture/stream.h"

// Reads arbitrary bytes as a PCX file, after the content test that picks the
// reader. A picture that loads is scrambled, which reads every storage byte
// the reader produced.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorvex::TMemoryStream stream(data, size);
  quorvex::TPCXGraphic::AcceptsStream(stream);
  if (size >= quorvex::TPCXHeader::kSize) {
    // Pictures of more than 1 MiB are legal but only slow the search.
    const auto header = quorvex::TPCXHeader::Parse(data);
    const int64_t pixels = int64_t{header.Width()} * header.Height();
    if (pixels > 0 && pixels * 4 > (int64_t{1} << 20)) return 0;
  }
  quorvex::TPCXGraphic bitmap;
  try {
    bitmap.ReadFromStream(stream);
    quorvex::TBitmap scrambled;
    quorvex::EncryptTransform(bitmap, "614052", scrambled);
  } catch (const quorvex::Exception&) {
  }
  return 0;
}
