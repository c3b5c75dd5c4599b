#include "picture/readers/png_image_data.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <libdeflate.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "picture/exceptions.h"

namespace quorvex {

namespace {

// The filters run once per image byte, so each is a tight loop specialised
// for the pixel width; bytes of one pixel are independent and the compiler
// keeps them in registers. With SSE2 the Up and Sub filters work on 16
// bytes at a time and Paeth on a whole pixel at a time.

template <unsigned Bpp>
void UnfilterSubScalar(const uint8_t* src, uint8_t* dst, size_t i, size_t length) {
  uint8_t left[Bpp] = {};
  if (i >= Bpp) {
    for (unsigned k = 0; k < Bpp; ++k) left[k] = dst[i - Bpp + k];
  }
  for (; i + Bpp <= length; i += Bpp) {
    for (unsigned k = 0; k < Bpp; ++k) {
      left[k] = static_cast<uint8_t>(src[i + k] + left[k]);
      dst[i + k] = left[k];
    }
  }
  for (unsigned k = 0; i < length; ++i, ++k) dst[i] = static_cast<uint8_t>(src[i] + left[k]);
}

#if defined(__SSE2__)

// Sub is a running sum per pixel byte: within a register the sums come from
// shifted copies added together, and the last pixel carries into the next
// register. Only whole pixels are stored, so src may be dst.
template <unsigned Bpp>
void UnfilterSubVector(const uint8_t* src, uint8_t* dst, size_t length) {
  constexpr unsigned kStep = Bpp == 3 ? 15 : Bpp == 6 ? 12 : 16;
  __m128i carry = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= length; i += kStep) {
    __m128i v = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)), carry);
    v = _mm_add_epi8(v, _mm_slli_si128(v, Bpp));
    if constexpr (2 * Bpp < kStep) v = _mm_add_epi8(v, _mm_slli_si128(v, 2 * Bpp));
    if constexpr (4 * Bpp < kStep) v = _mm_add_epi8(v, _mm_slli_si128(v, 4 * Bpp));
    if constexpr (8 * Bpp < kStep) v = _mm_add_epi8(v, _mm_slli_si128(v, 8 * Bpp));
    if constexpr (kStep == 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
    } else {
      alignas(16) uint8_t pixels[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(pixels), v);
      std::memcpy(dst + i, pixels, kStep);
    }
    carry = _mm_srli_si128(v, kStep - Bpp);
    if constexpr (kStep != 16) {
      carry = _mm_and_si128(carry, _mm_srli_si128(_mm_set1_epi8(-1), 16 - Bpp));
    }
  }
  UnfilterSubScalar<Bpp>(src, dst, i, length);
}

#endif

template <unsigned Bpp>
void UnfilterSub(const uint8_t* src, uint8_t* dst, size_t length) {
#if defined(__SSE2__)
  UnfilterSubVector<Bpp>(src, dst, length);
#else
  UnfilterSubScalar<Bpp>(src, dst, 0, length);
#endif
}

void UnfilterUp(const uint8_t* src, uint8_t* dst, const uint8_t* prev, size_t length) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= length; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_add_epi8(x, b));
  }
#endif
  for (; i < length; ++i) dst[i] = static_cast<uint8_t>(src[i] + prev[i]);
}

template <unsigned Bpp>
void UnfilterAverage(const uint8_t* src, uint8_t* dst, const uint8_t* prev, size_t length) {
  unsigned left[Bpp] = {};
  size_t i = 0;
  for (; i + Bpp <= length; i += Bpp) {
    for (unsigned k = 0; k < Bpp; ++k) {
      left[k] = static_cast<uint8_t>(src[i + k] + ((left[k] + prev[i + k]) >> 1));
      dst[i + k] = static_cast<uint8_t>(left[k]);
    }
  }
  for (unsigned k = 0; i < length; ++i, ++k) {
    dst[i] = static_cast<uint8_t>(src[i] + ((left[k] + prev[i]) >> 1));
  }
}

// Left when its distance is not greater than both others, else up when its
// distance is not greater than up-left's, else up-left.
inline int PaethPredictor(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  const int bc = pb <= pc ? b : c;
  return (pa <= pb && pa <= pc) ? a : bc;
}

template <unsigned Bpp>
void UnfilterPaethScalar(const uint8_t* src, uint8_t* dst, const uint8_t* prev, size_t i,
                         size_t length) {
  int left[Bpp] = {};
  int upLeft[Bpp] = {};
  if (i >= Bpp) {
    for (unsigned k = 0; k < Bpp; ++k) {
      left[k] = dst[i - Bpp + k];
      upLeft[k] = prev[i - Bpp + k];
    }
  }
  for (; i + Bpp <= length; i += Bpp) {
    for (unsigned k = 0; k < Bpp; ++k) {
      const int up = prev[i + k];
      left[k] = static_cast<uint8_t>(src[i + k] + PaethPredictor(left[k], up, upLeft[k]));
      upLeft[k] = up;
      dst[i + k] = static_cast<uint8_t>(left[k]);
    }
  }
  for (unsigned k = 0; i < length; ++i, ++k) {
    dst[i] = static_cast<uint8_t>(src[i] + PaethPredictor(left[k], prev[i], upLeft[k]));
  }
}

#if defined(__SSE2__)

// One pixel at a time, in 16-bit lanes: the predictor of all its bytes at
// once, chosen with compare masks in the scalar rule's order. Each pixel is
// read with the bytes after it in one 8-byte load (the spare lanes are
// never stored), and stored from registers: bytes gathered on the stack
// would stall every load on its stores.
template <unsigned Bpp>
void UnfilterPaethVector(const uint8_t* src, uint8_t* dst, const uint8_t* prev, size_t length) {
  static_assert(Bpp <= 8, "a pixel must fit the eight 16-bit lanes");
  const __m128i zero = _mm_setzero_si128();
  auto load = [&](const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
  };
  auto abs16 = [&](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
  __m128i a = zero;
  __m128i c = zero;
  size_t i = 0;
  for (; i + 8 <= length; i += Bpp) {
    const __m128i b = load(prev + i);
    const __m128i x = load(src + i);
    const __m128i bc = _mm_sub_epi16(b, c);
    const __m128i ac = _mm_sub_epi16(a, c);
    const __m128i pa = abs16(bc);
    const __m128i pb = abs16(ac);
    const __m128i pc = abs16(_mm_add_epi16(bc, ac));
    const __m128i smallest = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
    const __m128i takeA = _mm_cmpeq_epi16(smallest, pa);
    const __m128i takeB = _mm_andnot_si128(takeA, _mm_cmpeq_epi16(smallest, pb));
    const __m128i takeC = _mm_andnot_si128(_mm_or_si128(takeA, takeB), _mm_set1_epi16(-1));
    const __m128i predicted = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(takeA, a), _mm_and_si128(takeB, b)), _mm_and_si128(takeC, c));
    a = _mm_and_si128(_mm_add_epi16(x, predicted), _mm_set1_epi16(0xFF));
    c = b;
    const __m128i packed = _mm_packus_epi16(a, a);
    const auto low = static_cast<uint32_t>(_mm_cvtsi128_si32(packed));
    std::memcpy(dst + i, &low, std::min(Bpp, 4u));
    if constexpr (Bpp > 4) {
      const auto high = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 4)));
      std::memcpy(dst + i + 4, &high, Bpp - 4);
    }
  }
  UnfilterPaethScalar<Bpp>(src, dst, prev, i, length);
}

#endif

template <unsigned Bpp>
void UnfilterPaeth(const uint8_t* src, uint8_t* dst, const uint8_t* prev, size_t length) {
#if defined(__SSE2__)
  if constexpr (Bpp >= 3) return UnfilterPaethVector<Bpp>(src, dst, prev, length);
#endif
  UnfilterPaethScalar<Bpp>(src, dst, prev, 0, length);
}

template <unsigned Bpp>
void Unfilter(uint8_t filterType, const uint8_t* src, uint8_t* dst, const uint8_t* prev,
              size_t length) {
  switch (filterType) {
    case 1:
      UnfilterSub<Bpp>(src, dst, length);
      return;
    case 2:
      UnfilterUp(src, dst, prev, length);
      return;
    case 3:
      UnfilterAverage<Bpp>(src, dst, prev, length);
      return;
    case 4:
      UnfilterPaeth<Bpp>(src, dst, prev, length);
      return;
    default:
      if (src != dst) std::memcpy(dst, src, length);
      return;
  }
}

}  // namespace

void UnfilterPNGRow(uint8_t filterType, const uint8_t* src, uint8_t* dst, const uint8_t* prev,
                    size_t length, unsigned bpp) {
  switch (bpp) {
    case 1:
      return Unfilter<1>(filterType, src, dst, prev, length);
    case 2:
      return Unfilter<2>(filterType, src, dst, prev, length);
    case 3:
      return Unfilter<3>(filterType, src, dst, prev, length);
    case 4:
      return Unfilter<4>(filterType, src, dst, prev, length);
    case 6:
      return Unfilter<6>(filterType, src, dst, prev, length);
    default:
      return Unfilter<8>(filterType, src, dst, prev, length);
  }
}

uint32_t Adam7PassWidth(const TAdam7Pass& pass, uint32_t width) {
  if (pass.startColumn >= width) return 0;
  return (width + pass.columnStep - pass.startColumn - 1) / pass.columnStep;
}

uint32_t Adam7PassHeight(const TAdam7Pass& pass, uint32_t height) {
  if (pass.startRow >= height) return 0;
  return (height + pass.rowStep - pass.startRow - 1) / pass.rowStep;
}

uint64_t PNGRowLength(uint64_t width, unsigned bitDepth, unsigned samplesPerPixel) {
  return (width * bitDepth + 7) / 8 * samplesPerPixel + 1;
}

TPNGImageData::~TPNGImageData() {
  if (started_) inflateEnd(&zstream_);
}

void TPNGImageData::Start() {
  zstream_ = z_stream{};
  if (inflateInit(&zstream_) != Z_OK) throw EGraphicCompression(kLZ77DecompressionError);
  started_ = true;
  streamEnded_ = false;
}

void TPNGImageData::Finish() {
  if (!started_) return;
  started_ = false;
  if (inflateEnd(&zstream_) != Z_OK) throw EGraphicCompression(kLZ77DecompressionError);
}

void TPNGImageData::Expect(uint64_t total) {
  expected_ = total;
  inputEnded_ = false;
  begin_ = end_ = 0;
  whole_.reset();
  const bool fresh = zstream_.total_in == 0 && zstream_.avail_in == 0 && ahead_.empty();
  if (started_ && fresh && total != 0 && total <= kWholeLimit && InflateWhole(total)) return;
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(total, kWindow));
  if (wanted > capacity_ || !buffer_) {
    buffer_ = std::make_unique_for_overwrite<uint8_t[]>(std::max<size_t>(wanted, 1));
    capacity_ = std::max<size_t>(wanted, 1);
  }
}

void TPNGImageData::ReadAhead(uint64_t total) {
  // A sound stream of `total` bytes is hardly longer than them (stored
  // blocks add 5 bytes in 64 KiB); reading stops past that.
  const uint64_t most = total + total / 64 + 4096;
  try {
    while (chunks_.CurrentIs(kChunkIDAT) && ahead_.size() <= most) {
      chunks_.ReadData();
      const std::span<const uint8_t> data = chunks_.Data();
      chunks_.ReadHeader();
      if (data.empty()) continue;
      ahead_.insert(ahead_.end(), data.begin(), data.end());
      aheadEnds_.push_back(ahead_.size());
    }
  } catch (...) {
    aheadError_ = std::current_exception();
  }
}

bool TPNGImageData::InflateWhole(uint64_t total) {
  ReadAhead(total);
  // Data that is cut short, damaged, followed by more or too short to make
  // the rows goes through the stream, which knows what to make of it.
  if (aheadError_ || chunks_.CurrentIs(kChunkIDAT) || ahead_.empty() ||
      ahead_.size() * uint64_t{1032} < total) {
    return false;
  }
  const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> decompressor(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  if (!decompressor) return false;
  const auto size = static_cast<size_t>(total);
  auto whole = std::make_unique_for_overwrite<uint8_t[]>(size);
  size_t taken = 0;
  size_t made = 0;
  if (libdeflate_zlib_decompress_ex(decompressor.get(), ahead_.data(), ahead_.size(), whole.get(),
                                    size, &taken, &made) != LIBDEFLATE_SUCCESS ||
      taken != ahead_.size() || made != size) {
    return false;
  }
  whole_ = std::move(whole);
  wholeSize_ = size;
  wholeNext_ = 0;
  expected_ = 0;
  ahead_ = {};
  aheadEnds_ = {};
  return true;
}

bool TPNGImageData::FeedInput() {
  // Chunk by chunk, as when they are read one at a time: data after the
  // end of the stream is only an error within the chunk that ends it.
  if (aheadFed_ < aheadEnds_.size()) {
    const size_t begin = aheadFed_ == 0 ? 0 : aheadEnds_[aheadFed_ - 1];
    zstream_.next_in = ahead_.data() + begin;
    zstream_.avail_in = static_cast<uInt>(aheadEnds_[aheadFed_] - begin);
    ++aheadFed_;
    return true;
  }
  if (aheadError_) std::rethrow_exception(std::exchange(aheadError_, nullptr));
  while (chunks_.CurrentIs(kChunkIDAT)) {
    chunks_.ReadData();
    const size_t length = chunks_.DataLength();
    chunks_.ReadHeader();
    if (length != 0) {
      zstream_.next_in = const_cast<Bytef*>(chunks_.Data().data());
      zstream_.avail_in = static_cast<uInt>(length);
      return true;
    }
  }
  return false;
}

size_t TPNGImageData::Inflate(uint8_t* out, size_t wanted, size_t room) {
  size_t done = 0;
  while (done < wanted) {
    if (streamEnded_) throw EInvalidGraphic(FormatMessage(kPNGExtraData, kPNGFormatName));
    if (inputEnded_) break;
    if (zstream_.avail_in == 0 && !FeedInput()) {
      inputEnded_ = true;
      break;
    }
    const size_t space =
        static_cast<size_t>(std::min<uint64_t>({room - done, expected_, uint64_t{UINT_MAX}}));
    if (space == 0) break;
    zstream_.next_out = out + done;
    zstream_.avail_out = static_cast<uInt>(space);
    const int result = inflate(&zstream_, Z_PARTIAL_FLUSH);
    const size_t produced = space - zstream_.avail_out;
    done += produced;
    expected_ -= produced;
    if (result == Z_STREAM_END) {
      streamEnded_ = true;
      if (zstream_.avail_in != 0) {
        throw EInvalidGraphic(FormatMessage(kPNGExtraData, kPNGFormatName));
      }
    } else if (result == Z_BUF_ERROR) {
      // No progress: only acceptable when the input simply ran out.
      if (zstream_.avail_in != 0) {
        throw EInvalidGraphic(FormatMessage(kPNGCompressionError, kPNGFormatName));
      }
    } else if (result != Z_OK) {
      throw EInvalidGraphic(FormatMessage(kPNGCompressionError, kPNGFormatName));
    }
  }
  return done;
}

std::span<const uint8_t> TPNGImageData::NextRow(std::span<uint8_t> spare) {
  const size_t length = spare.size();
  if (whole_) {
    const size_t got = std::min(length, wholeSize_ - wholeNext_);
    const std::span<const uint8_t> row(whole_.get() + wholeNext_, got);
    wholeNext_ += got;
    return row;
  }
  size_t have = end_ - begin_;
  if (length > kWindow / 2) {
    // Rows this long are inflated straight into the row buffer.
    const size_t taken = std::min(have, length);
    if (taken != 0) std::memcpy(spare.data(), buffer_.get() + begin_, taken);
    begin_ += taken;
    return spare.first(taken + Inflate(spare.data() + taken, length - taken, length - taken));
  }
  if (have < length) {
    if (begin_ != 0) {
      std::memmove(buffer_.get(), buffer_.get() + begin_, have);
      begin_ = 0;
      end_ = have;
    }
    // Inflate ahead as far as the window reaches: zlib's fast loop needs room.
    end_ += Inflate(buffer_.get() + end_, length - have, capacity_ - end_);
    have = end_;
  }
  const size_t got = std::min(length, have);
  const std::span<const uint8_t> row(buffer_.get() + begin_, got);
  begin_ += got;
  return row;
}

void TPNGImageData::SkipRemainingChunks() {
  if (aheadError_) std::rethrow_exception(std::exchange(aheadError_, nullptr));
  while (chunks_.CurrentIs(kChunkIDAT)) {
    chunks_.ReadData();
    chunks_.ReadHeader();
  }
}

}  // namespace quorvex
