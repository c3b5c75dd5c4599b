// Eight registers of eight 32-bit states draw 64 bytes a step; eight
// independent multiply-add chains hide the multiplier's latency.
#include "core/keystream_kernels.h"

#ifdef QUORVEX_KEYSTREAM_X86

#include <immintrin.h>

#define QUORVEX_AVX2 __attribute__((target("avx2")))

namespace quorvex {

namespace {

constexpr size_t kBlock = 64;
constexpr auto kTable = MakeKeystreamJumpTable<kBlock>();

// The states that draw bytes 8k to 8k + 7 of the first block.
QUORVEX_AVX2 inline __m256i Start(__m256i seed, int k) {
  const __m256i multiplier =
      _mm256_load_si256(reinterpret_cast<const __m256i*>(&kTable.multiplier[8 * k]));
  const __m256i increment =
      _mm256_load_si256(reinterpret_cast<const __m256i*>(&kTable.increment[8 * k]));
  return _mm256_add_epi32(_mm256_mullo_epi32(seed, multiplier), increment);
}

QUORVEX_AVX2 inline __m256i Advance(__m256i v, __m256i multiplier, __m256i increment) {
  return _mm256_add_epi32(_mm256_mullo_epi32(v, multiplier), increment);
}

// The top bytes of 32 states in order (a holds the first eight). The packs
// work within 128-bit halves, which leaves the 4-byte groups in the order
// 0 2 4 6 1 3 5 7; the permutation puts them back.
QUORVEX_AVX2 inline __m256i TopBytes(__m256i a, __m256i b, __m256i c, __m256i d) {
  const __m256i low = _mm256_packs_epi32(_mm256_srli_epi32(a, 24), _mm256_srli_epi32(b, 24));
  const __m256i high = _mm256_packs_epi32(_mm256_srli_epi32(c, 24), _mm256_srli_epi32(d, 24));
  return _mm256_permutevar8x32_epi32(_mm256_packus_epi16(low, high),
                                     _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

QUORVEX_AVX2 inline void XorStore(const uint8_t* src, uint8_t* dst, __m256i keys) {
  const __m256i data = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_xor_si256(data, keys));
}

}  // namespace

// Eight named registers rather than an array, so that they stay registers.
QUORVEX_AVX2 uint32_t XorKeystreamAvx2(uint32_t state, const uint8_t* src, uint8_t* dst,
                                       size_t count) {
  if (count < 16) return XorKeystreamPlain(state, src, dst, count);
  const __m256i seed = _mm256_set1_epi32(static_cast<int>(state));
  __m256i v0 = Start(seed, 0), v1 = Start(seed, 1), v2 = Start(seed, 2), v3 = Start(seed, 3);
  __m256i v4 = Start(seed, 4), v5 = Start(seed, 5), v6 = Start(seed, 6), v7 = Start(seed, 7);
  const __m256i m = _mm256_set1_epi32(static_cast<int>(kTable.multiplier[kBlock - 1]));
  const __m256i c = _mm256_set1_epi32(static_cast<int>(kTable.increment[kBlock - 1]));

  for (; count > kBlock; count -= kBlock, src += kBlock, dst += kBlock) {
    XorStore(src, dst, TopBytes(v0, v1, v2, v3));
    XorStore(src + 32, dst + 32, TopBytes(v4, v5, v6, v7));
    v0 = Advance(v0, m, c);
    v1 = Advance(v1, m, c);
    v2 = Advance(v2, m, c);
    v3 = Advance(v3, m, c);
    v4 = Advance(v4, m, c);
    v5 = Advance(v5, m, c);
    v6 = Advance(v6, m, c);
    v7 = Advance(v7, m, c);
  }

  // The last 1 to 64 bytes.
  alignas(32) uint8_t keys[kBlock];
  alignas(32) uint32_t states[kBlock];
  _mm256_store_si256(reinterpret_cast<__m256i*>(keys), TopBytes(v0, v1, v2, v3));
  _mm256_store_si256(reinterpret_cast<__m256i*>(keys + 32), TopBytes(v4, v5, v6, v7));
  _mm256_store_si256(reinterpret_cast<__m256i*>(&states[0]), v0);
  _mm256_store_si256(reinterpret_cast<__m256i*>(&states[8]), v1);
  _mm256_store_si256(reinterpret_cast<__m256i*>(&states[16]), v2);
  _mm256_store_si256(reinterpret_cast<__m256i*>(&states[24]), v3);
  _mm256_store_si256(reinterpret_cast<__m256i*>(&states[32]), v4);
  _mm256_store_si256(reinterpret_cast<__m256i*>(&states[40]), v5);
  _mm256_store_si256(reinterpret_cast<__m256i*>(&states[48]), v6);
  _mm256_store_si256(reinterpret_cast<__m256i*>(&states[56]), v7);
  size_t p = 0;
  if (count >= 32) {
    XorStore(src, dst, _mm256_load_si256(reinterpret_cast<const __m256i*>(keys)));
    p = 32;
  }
  for (; p < count; ++p) dst[p] = static_cast<uint8_t>(src[p] ^ keys[p]);
  return states[count - 1];
}

}  // namespace quorvex

#endif
