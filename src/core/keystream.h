#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvex {

// The 32-bit linear congruential generator whose state is set straight from
// the user's code; each thread has its own, so that files transformed side
// by side each keep their own stream. Files scrambled by one build must
// unscramble with another, so every step is fixed bit for bit.
class Keystream {
 public:
  static constexpr uint32_t kMultiplier = 134775813;  // 0x08088405
  static constexpr uint32_t kIncrement = 1;

  static void setSeed(int32_t seed) { state_ = static_cast<uint32_t>(seed); }
  static void setState(uint32_t state) { state_ = state; }
  // Advances one step, then scales the new state into [0, range).
  static uint32_t nextBelow(uint32_t range) {
    state_ = state_ * kMultiplier + kIncrement;
    return static_cast<uint32_t>((uint64_t{state_} * range) >> 32);
  }
  static uint32_t state() { return state_; }

  // dst[i] = nextBelow(256) ^ src[i] for i = 0 .. count-1, in that order,
  // leaving the state where count single steps leave it. Draws many bytes at
  // a time with the fastest instruction set at hand. src and dst may be the
  // same buffer; other overlaps are not allowed.
  static void xorBytes(const uint8_t* src, uint8_t* dst, size_t count);
  // The same by one dependent step per byte: the reference for the above.
  static void xorBytesPlain(const uint8_t* src, uint8_t* dst, size_t count);

  // The state `count` steps after `state`, in a few dozen multiplications.
  static uint32_t stateAfter(uint32_t state, uint64_t count);
  // As xorBytes, but drawing from the given state and leaving the
  // generator's own alone; returns the state after the last byte. Lets a
  // caller take a buffer's pieces in any order.
  static uint32_t xorBytesFrom(uint32_t state, const uint8_t* src, uint8_t* dst, size_t count);

 private:
  static inline thread_local uint32_t state_ = 0;
};

}  // namespace quorvex
