// SSE2 has no 32-bit low multiply, so each state lives in the low half of a
// 64-bit lane, where the unsigned 32 x 32 -> 64 multiply reads it; the high
// halves carry junk that is never read. Eight registers give 16 bytes a step.
#include "core/keystream_kernels.h"

#ifdef QUORVEX_KEYSTREAM_X86

#include <emmintrin.h>

#define QUORVEX_SSE2 __attribute__((target("sse2")))

namespace quorvex {

namespace {

constexpr size_t kBlock = 16;
constexpr auto kTable = MakeKeystreamJumpTable<kBlock>();

// The states that draw bytes 2k and 2k + 1 of the first block.
QUORVEX_SSE2 inline __m128i Start(__m128i seed, int k) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i multiplier = _mm_unpacklo_epi32(
      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kTable.multiplier[2 * k])), zero);
  const __m128i increment = _mm_unpacklo_epi32(
      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kTable.increment[2 * k])), zero);
  return _mm_add_epi32(_mm_mul_epu32(seed, multiplier), increment);
}

QUORVEX_SSE2 inline __m128i Advance(__m128i v, __m128i multiplier, __m128i increment) {
  return _mm_add_epi32(_mm_mul_epu32(v, multiplier), increment);
}

// The four states of two registers, in order.
QUORVEX_SSE2 inline __m128i Gather(__m128i a, __m128i b) {
  return _mm_castps_si128(
      _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}

// The top bytes of 16 states in order (a holds the first four).
QUORVEX_SSE2 inline __m128i TopBytes(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i low = _mm_packs_epi32(_mm_srli_epi32(a, 24), _mm_srli_epi32(b, 24));
  const __m128i high = _mm_packs_epi32(_mm_srli_epi32(c, 24), _mm_srli_epi32(d, 24));
  return _mm_packus_epi16(low, high);
}

}  // namespace

// Eight named registers rather than an array, so that they stay registers.
QUORVEX_SSE2 uint32_t XorKeystreamSse2(uint32_t state, const uint8_t* src, uint8_t* dst,
                                       size_t count) {
  if (count < kBlock) return XorKeystreamPlain(state, src, dst, count);
  const __m128i seed = _mm_set1_epi32(static_cast<int>(state));
  __m128i v0 = Start(seed, 0), v1 = Start(seed, 1), v2 = Start(seed, 2), v3 = Start(seed, 3);
  __m128i v4 = Start(seed, 4), v5 = Start(seed, 5), v6 = Start(seed, 6), v7 = Start(seed, 7);
  // Only the low half of each 64-bit lane matters to the multiply.
  const __m128i m = _mm_set1_epi32(static_cast<int>(kTable.multiplier[kBlock - 1]));
  const __m128i c = _mm_set1_epi32(static_cast<int>(kTable.increment[kBlock - 1]));

  for (; count > kBlock; count -= kBlock, src += kBlock, dst += kBlock) {
    const __m128i keys = TopBytes(Gather(v0, v1), Gather(v2, v3), Gather(v4, v5), Gather(v6, v7));
    const __m128i data = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_xor_si128(data, keys));
    v0 = Advance(v0, m, c);
    v1 = Advance(v1, m, c);
    v2 = Advance(v2, m, c);
    v3 = Advance(v3, m, c);
    v4 = Advance(v4, m, c);
    v5 = Advance(v5, m, c);
    v6 = Advance(v6, m, c);
    v7 = Advance(v7, m, c);
  }

  // The last 1 to 16 bytes.
  const __m128i states4[] = {Gather(v0, v1), Gather(v2, v3), Gather(v4, v5), Gather(v6, v7)};
  alignas(16) uint8_t keys[kBlock];
  alignas(16) uint32_t states[kBlock];
  _mm_store_si128(reinterpret_cast<__m128i*>(keys),
                  TopBytes(states4[0], states4[1], states4[2], states4[3]));
  for (int i = 0; i < 4; ++i) {
    _mm_store_si128(reinterpret_cast<__m128i*>(&states[4 * i]), states4[i]);
  }
  for (size_t p = 0; p < count; ++p) dst[p] = static_cast<uint8_t>(src[p] ^ keys[p]);
  return states[count - 1];
}

}  // namespace quorvex

#endif
