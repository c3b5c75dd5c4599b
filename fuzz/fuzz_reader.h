#pragma once

#include <cstddef>
#include <cstdint>

#include "core/transform.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/stream.h"

namespace quorvex::fuzz {

// Whether the content test runs first, as the registry would run it before
// picking the reader.
enum class ContentTest { Run, Skip };

// A size cap that never refuses: for readers that refuse a picture before
// allocating it unless the input could fill it.
struct NoCap {
  template <class Graphic>
  bool operator()(const uint8_t*, size_t, TStream&, Graphic&) const {
    return false;
  }
};

// Refuses pictures whose header, as the reader itself reads it, promises
// more than `maxBytes` at four bytes a pixel, or a side past a million.
struct HeaderInfoCap {
  int64_t maxBytes;
  template <class Graphic>
  bool operator()(const uint8_t*, size_t, TStream& stream, Graphic& bitmap) const {
    if (!bitmap.ReadHeaderInfo(stream, 0)) return false;
    const auto& p = bitmap.ImageProperties();
    return p.width > (1 << 20) || p.height > (1 << 20) ||
           int64_t{p.width} * p.height * 4 > maxBytes;
  }
};

// Reads arbitrary bytes as a picture of one reader's format. `tooLarge`
// peeks at the header (the raw bytes, or the stream through the reader's
// own header read) and refuses pictures that are legal but only slow the
// search; the stream is rewound after it. A picture that loads is
// scrambled, which reads every storage byte the reader produced.
template <class Graphic, ContentTest content = ContentTest::Run, class TooLarge = NoCap>
int FuzzReader(const uint8_t* data, size_t size, TooLarge tooLarge = {}) {
  TMemoryStream stream(data, size);
  if constexpr (content == ContentTest::Run) Graphic::AcceptsStream(stream);
  Graphic bitmap;
  try {
    if (tooLarge(data, size, static_cast<TStream&>(stream), bitmap)) return 0;
    stream.Seek(0);
    bitmap.ReadFromStream(stream);
    TBitmap scrambled;
    EncryptTransform(bitmap, "614052", scrambled);
  } catch (const Exception&) {
  }
  return 0;
}

}  // namespace quorvex::fuzz
