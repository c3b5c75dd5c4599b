#pragma once

// Deflate (zlib) strips of TIFF files, compression 8 and 32946.

#include <memory>

#include "picture/readers/strip_decoder.h"

namespace quorvex {

// Each strip is a zlib stream of its own: the inflater starts afresh for
// every DecodeStrip. Output stops at the target size, so a strip that
// inflates to more than it should costs no more than its buffer. A strip
// whose data ends early yields the bytes inflated so far; corrupt data, and
// failures to start or end the inflater, raise EGraphicCompression
// "LZ77 decompression error.".
class TLZ77Decoder : public TStripDecoder {
 public:
  TLZ77Decoder();
  ~TLZ77Decoder() override;
  TLZ77Decoder(const TLZ77Decoder&) = delete;
  TLZ77Decoder& operator=(const TLZ77Decoder&) = delete;

  size_t DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                     size_t targetSize) override;

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace quorvex
