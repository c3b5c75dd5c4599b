#include "core/keystream.h"

#include <bit>
#include <cstring>

#include "core/keystream_kernels.h"

namespace quorvex {

namespace {

KeystreamKernelFn FunctionOf(KeystreamKernel kernel) {
  switch (kernel) {
    case KeystreamKernel::Plain:
      return XorKeystreamPlain;
    case KeystreamKernel::Portable:
      return XorKeystreamPortable;
#ifdef QUORVEX_KEYSTREAM_X86
    case KeystreamKernel::Sse2:
      return XorKeystreamSse2;
    case KeystreamKernel::Avx2:
      return XorKeystreamAvx2;
#endif
#ifdef QUORVEX_KEYSTREAM_NEON
    case KeystreamKernel::Neon:
      return XorKeystreamNeon;
#endif
    default:
      return nullptr;
  }
}

struct Selection {
  KeystreamKernel kernel;
  KeystreamKernelFn function;
};

Selection& Selected() {
  static Selection selection{BestKeystreamKernel(), FunctionOf(BestKeystreamKernel())};
  return selection;
}

// The key byte of `lane` placed where a 64-bit load puts the byte at address
// p, whatever the byte order.
constexpr uint64_t Key(uint32_t lane, int p) {
  const int shift = std::endian::native == std::endian::little ? 8 * p : 56 - 8 * p;
  return uint64_t{lane >> 24} << shift;
}

}  // namespace

uint32_t XorKeystreamPlain(uint32_t state, const uint8_t* src, uint8_t* dst, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    state = state * Keystream::kMultiplier + Keystream::kIncrement;
    dst[i] = static_cast<uint8_t>(src[i] ^ (state >> 24));
  }
  return state;
}

uint32_t XorKeystreamPortable(uint32_t state, const uint8_t* src, uint8_t* dst, size_t count) {
  // Lane p draws bytes p, p + 8, p + 16, ...: eight short chains that the
  // processor runs side by side instead of one long one. Named variables
  // rather than an array keep them in registers.
  constexpr size_t kLanes = 8;
  static constexpr auto kTable = MakeKeystreamJumpTable<kLanes>();
  if (count < kLanes) return XorKeystreamPlain(state, src, dst, count);
  const auto start = [state](size_t p) {
    return state * kTable.multiplier[p] + kTable.increment[p];
  };
  uint32_t s0 = start(0), s1 = start(1), s2 = start(2), s3 = start(3);
  uint32_t s4 = start(4), s5 = start(5), s6 = start(6), s7 = start(7);
  const uint32_t m = kTable.multiplier[kLanes - 1];
  const uint32_t c = kTable.increment[kLanes - 1];
  for (; count > kLanes; count -= kLanes, src += kLanes, dst += kLanes) {
    const uint64_t keys = Key(s0, 0) | Key(s1, 1) | Key(s2, 2) | Key(s3, 3) | Key(s4, 4) |
                          Key(s5, 5) | Key(s6, 6) | Key(s7, 7);
    uint64_t data;
    std::memcpy(&data, src, sizeof data);
    data ^= keys;
    std::memcpy(dst, &data, sizeof data);
    s0 = s0 * m + c;
    s1 = s1 * m + c;
    s2 = s2 * m + c;
    s3 = s3 * m + c;
    s4 = s4 * m + c;
    s5 = s5 * m + c;
    s6 = s6 * m + c;
    s7 = s7 * m + c;
  }
  const uint32_t lanes[kLanes] = {s0, s1, s2, s3, s4, s5, s6, s7};
  for (size_t p = 0; p < count; ++p) dst[p] = static_cast<uint8_t>(src[p] ^ (lanes[p] >> 24));
  return lanes[count - 1];
}

const char* KeystreamKernelName(KeystreamKernel kernel) {
  switch (kernel) {
    case KeystreamKernel::Plain:
      return "Plain";
    case KeystreamKernel::Portable:
      return "Portable";
    case KeystreamKernel::Sse2:
      return "SSE2";
    case KeystreamKernel::Avx2:
      return "AVX2";
    case KeystreamKernel::Neon:
      return "NEON";
  }
  return "?";
}

bool KeystreamKernelAvailable(KeystreamKernel kernel) {
  if (FunctionOf(kernel) == nullptr) return false;
#ifdef QUORVEX_KEYSTREAM_X86
  __builtin_cpu_init();
  if (kernel == KeystreamKernel::Sse2) return __builtin_cpu_supports("sse2");
  // Also checks that the system saves the wide registers.
  if (kernel == KeystreamKernel::Avx2) return __builtin_cpu_supports("avx2");
#endif
  return true;
}

KeystreamKernel BestKeystreamKernel() {
  static const KeystreamKernel best = [] {
    for (KeystreamKernel kernel :
         {KeystreamKernel::Avx2, KeystreamKernel::Neon, KeystreamKernel::Sse2}) {
      if (KeystreamKernelAvailable(kernel)) return kernel;
    }
    return KeystreamKernel::Portable;
  }();
  return best;
}

bool SelectKeystreamKernel(KeystreamKernel kernel) {
  if (!KeystreamKernelAvailable(kernel)) return false;
  Selected() = {kernel, FunctionOf(kernel)};
  return true;
}

KeystreamKernel SelectedKeystreamKernel() {
  return Selected().kernel;
}

uint32_t XorKeystreamWith(KeystreamKernel kernel, uint32_t state, const uint8_t* src, uint8_t* dst,
                          size_t count) {
  return FunctionOf(kernel)(state, src, dst, count);
}

void Keystream::xorBytes(const uint8_t* src, uint8_t* dst, size_t count) {
  state_ = Selected().function(state_, src, dst, count);
}

uint32_t Keystream::stateAfter(uint32_t state, uint64_t count) {
  // Powers of one affine step s -> a*s + c, by repeated squaring.
  uint32_t multiplier = kMultiplier, increment = kIncrement;
  for (; count != 0; count >>= 1) {
    if (count & 1) state = state * multiplier + increment;
    increment = increment * multiplier + increment;
    multiplier *= multiplier;
  }
  return state;
}

uint32_t Keystream::xorBytesFrom(uint32_t state, const uint8_t* src, uint8_t* dst, size_t count) {
  return Selected().function(state, src, dst, count);
}

void Keystream::xorBytesPlain(const uint8_t* src, uint8_t* dst, size_t count) {
  state_ = XorKeystreamPlain(state_, src, dst, count);
}

}  // namespace quorvex
