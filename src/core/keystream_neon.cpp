// Eight registers of four 32-bit states draw 32 bytes a step.
#include "core/keystream_kernels.h"

#ifdef QUORVEX_KEYSTREAM_NEON

#include <arm_neon.h>

namespace quorvex {

namespace {

constexpr size_t kBlock = 32;
constexpr auto kTable = MakeKeystreamJumpTable<kBlock>();

// The top bytes of the states of 16 bytes in order (v[k] holds bytes 4k to
// 4k + 3).
inline uint8x16_t TopBytes(const uint32x4_t* v) {
  const uint16x8_t low = vcombine_u16(vshrn_n_u32(v[0], 16), vshrn_n_u32(v[1], 16));
  const uint16x8_t high = vcombine_u16(vshrn_n_u32(v[2], 16), vshrn_n_u32(v[3], 16));
  return vcombine_u8(vshrn_n_u16(low, 8), vshrn_n_u16(high, 8));
}

}  // namespace

uint32_t XorKeystreamNeon(uint32_t state, const uint8_t* src, uint8_t* dst, size_t count) {
  if (count < 16) return XorKeystreamPlain(state, src, dst, count);
  const uint32x4_t seed = vdupq_n_u32(state);
  uint32x4_t v[8];
  for (int k = 0; k < 8; ++k) {
    v[k] =
        vmlaq_u32(vld1q_u32(&kTable.increment[4 * k]), seed, vld1q_u32(&kTable.multiplier[4 * k]));
  }
  const uint32x4_t stepMultiplier = vdupq_n_u32(kTable.multiplier[kBlock - 1]);
  const uint32x4_t stepIncrement = vdupq_n_u32(kTable.increment[kBlock - 1]);

  for (; count > kBlock; count -= kBlock, src += kBlock, dst += kBlock) {
    const uint8x16_t data0 = vld1q_u8(src);
    const uint8x16_t data1 = vld1q_u8(src + 16);
    vst1q_u8(dst, veorq_u8(data0, TopBytes(v)));
    vst1q_u8(dst + 16, veorq_u8(data1, TopBytes(v + 4)));
    for (int k = 0; k < 8; ++k) v[k] = vmlaq_u32(stepIncrement, v[k], stepMultiplier);
  }

  // The last 1 to 32 bytes.
  uint8_t keys[kBlock];
  uint32_t states[kBlock];
  vst1q_u8(keys, TopBytes(v));
  vst1q_u8(keys + 16, TopBytes(v + 4));
  for (int k = 0; k < 8; ++k) vst1q_u32(&states[4 * k], v[k]);
  for (size_t p = 0; p < count; ++p) dst[p] = static_cast<uint8_t>(src[p] ^ keys[p]);
  return states[count - 1];
}

}  // namespace quorvex

#endif
