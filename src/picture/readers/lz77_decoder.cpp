#include "picture/readers/lz77_decoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "picture/exceptions.h"
#include "picture/readers/png_chunks.h"

namespace quorvex {

struct TLZ77Decoder::TState {
  ~TState() {
    if (open) inflateEnd(&stream);
    libdeflate_free_decompressor(whole);
  }

  z_stream stream;
  bool open = false;
  libdeflate_decompressor* whole = nullptr;
};

TLZ77Decoder::TLZ77Decoder() : state_(std::make_unique<TState>()) {
  std::memset(&state_->stream, 0, sizeof state_->stream);
  if (inflateInit(&state_->stream) != Z_OK) {
    throw EGraphicCompression(kLZ77DecompressionError);
  }
  state_->open = true;
  state_->whole = libdeflate_alloc_decompressor();
  if (!state_->whole) throw EGraphicCompression(kLZ77DecompressionError);
}

TLZ77Decoder::~TLZ77Decoder() = default;

size_t TLZ77Decoder::DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                 size_t targetSize) {
  // A strip that is whole and fits goes through in one call, about twice
  // as fast as streaming; anything else (cut short, too long, corrupt) is
  // inflated again as a stream, which keeps what can be had of it.
  size_t whole = 0;
  if (libdeflate_zlib_decompress(state_->whole, source, sourceSize, target, targetSize, &whole) ==
      LIBDEFLATE_SUCCESS) {
    return whole;
  }
  z_stream& z = state_->stream;
  if (inflateReset(&z) != Z_OK) throw EGraphicCompression(kLZ77DecompressionError);
  size_t produced = 0;
  // zlib counts in 32-bit units: large strips go through in pieces.
  while (produced < targetSize) {
    if (z.avail_in == 0 && sourceSize != 0) {
      const size_t piece = std::min<size_t>(sourceSize, UINT_MAX);
      z.next_in = const_cast<Bytef*>(source);
      z.avail_in = static_cast<uInt>(piece);
      source += piece;
      sourceSize -= piece;
    }
    const size_t room = std::min<size_t>(targetSize - produced, UINT_MAX);
    z.next_out = target + produced;
    z.avail_out = static_cast<uInt>(room);
    const int result = inflate(&z, Z_PARTIAL_FLUSH);
    produced += room - z.avail_out;
    if (result == Z_STREAM_END) break;
    if (result == Z_BUF_ERROR) {
      // No progress possible: the input is used up.
      if (z.avail_in == 0 && sourceSize == 0) break;
      continue;
    }
    if (result != Z_OK) throw EGraphicCompression(kLZ77DecompressionError);
    if (z.avail_in == 0 && sourceSize == 0 && z.avail_out != 0) break;
  }
  z.next_in = nullptr;
  z.avail_in = 0;
  return produced;
}

}  // namespace quorvex
