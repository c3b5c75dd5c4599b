#pragma once

// The keystream combined with a buffer by several instruction sets. Every
// kernel gives exactly the bytes and the final state of one generator step
// per byte; they differ only in speed. Internal to the core, its tests and
// its benchmarks.

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/keystream.h"

namespace quorvex {

enum class KeystreamKernel {
  Plain,     // one dependent step per byte
  Portable,  // independent lanes in plain C++
  Sse2,
  Avx2,
  Neon,
};

// Each kernel: dst[i] = byte(i) ^ src[i] for i < count, where byte(i) is the
// top byte of the state i + 1 steps after `state`; returns the state after
// `count` steps. dst may be src.
using KeystreamKernelFn = uint32_t (*)(uint32_t state, const uint8_t* src, uint8_t* dst,
                                       size_t count);

const char* KeystreamKernelName(KeystreamKernel kernel);
// Whether the kernel is built in and this processor can run it.
bool KeystreamKernelAvailable(KeystreamKernel kernel);
// The fastest available kernel; chosen once per process.
KeystreamKernel BestKeystreamKernel();
// Makes Keystream::xorBytes, and so the transforms, use the given kernel
// from now on, if it is available; for tests and benchmarks. Not for use
// while another thread draws.
bool SelectKeystreamKernel(KeystreamKernel kernel);
KeystreamKernel SelectedKeystreamKernel();
// Runs a given kernel, which must be available.
uint32_t XorKeystreamWith(KeystreamKernel kernel, uint32_t state, const uint8_t* src, uint8_t* dst,
                          size_t count);

// The generator's state after k steps is state * multiplier + increment, with
// multiplier = a^k and increment = c * (a^(k-1) + ... + a + 1), modulo 2^32.
// Entry p holds the jump of p + 1 steps: it takes the state before a block to
// the state that draws the block's byte p, and entry N - 1 advances a lane
// that draws every N-th byte.
template <size_t N>
struct KeystreamJumpTable {
  alignas(64) std::array<uint32_t, N> multiplier{};
  alignas(64) std::array<uint32_t, N> increment{};
};

template <size_t N>
constexpr KeystreamJumpTable<N> MakeKeystreamJumpTable() {
  KeystreamJumpTable<N> table;
  uint32_t multiplier = 1;
  uint32_t increment = 0;
  for (size_t p = 0; p < N; ++p) {
    multiplier *= Keystream::kMultiplier;
    increment = increment * Keystream::kMultiplier + Keystream::kIncrement;
    table.multiplier[p] = multiplier;
    table.increment[p] = increment;
  }
  return table;
}

uint32_t XorKeystreamPlain(uint32_t state, const uint8_t* src, uint8_t* dst, size_t count);
uint32_t XorKeystreamPortable(uint32_t state, const uint8_t* src, uint8_t* dst, size_t count);
#if defined(__x86_64__) || defined(__i386__)
#define QUORVEX_KEYSTREAM_X86 1
uint32_t XorKeystreamSse2(uint32_t state, const uint8_t* src, uint8_t* dst, size_t count);
uint32_t XorKeystreamAvx2(uint32_t state, const uint8_t* src, uint8_t* dst, size_t count);
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#define QUORVEX_KEYSTREAM_NEON 1
uint32_t XorKeystreamNeon(uint32_t state, const uint8_t* src, uint8_t* dst, size_t count);
#endif

}  // namespace quorvex
