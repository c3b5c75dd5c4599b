#pragma once

// The row routines behind TColorManager::ConvertPixels, one instantiation per
// combination of sample widths, byte orders, alpha and channel order, so that
// the inner loops hold no per-pixel decisions beyond the write mask.

#include <array>
#include <cstddef>
#include <cstdint>

namespace quorvex {

// Where a row's samples come from: one address for interleaved samples, or
// one address per sample (planar: first, second, third, fourth sample
// lists). A single address is always interleaved.
class TSampleSources {
 public:
  TSampleSources(const void* interleaved) : planes_{Bytes(interleaved)}, planeCount_(1) {}
  TSampleSources(const void* first, const void* second, const void* third = nullptr,
                 const void* fourth = nullptr)
      : planes_{Bytes(first), Bytes(second), Bytes(third), Bytes(fourth)},
        planeCount_(fourth  ? 4
                    : third ? 3
                            : 2) {}

  bool IsPlanar() const { return planeCount_ > 1; }
  int PlaneCount() const { return planeCount_; }
  const uint8_t* Plane(int index) const { return planes_[static_cast<size_t>(index)]; }

 private:
  static const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }
  std::array<const uint8_t*, 4> planes_{};
  int planeCount_;
};

// How one side stores a sample.
enum class SampleFormat : uint8_t { U8, U16, U16Swapped };

// What the row routines read besides the samples; filled when the routine is
// chosen (gamma: whenever SetGamma runs).
struct TConversionState {
  uint8_t sourceBits = 8;
  uint8_t targetBits = 8;
  bool labByte = false;
  bool labOffset = false;
  std::array<uint8_t, 256> gamma{};
  // Indexed and gray values below 16 bits scaled to the target bits.
  std::array<uint16_t, 256> indexScale{};
  // YCbCr: Cr to red, Cb to blue, Cr and Cb shares of green.
  std::array<int32_t, 256> crToRed{};
  std::array<int32_t, 256> cbToBlue{};
  std::array<int32_t, 256> crToGreen{};
  std::array<int32_t, 256> cbToGreen{};
};

using TRowRoutine = void (*)(const TConversionState& state, const TSampleSources& sources,
                             uint32_t count, uint8_t mask, uint8_t* target);

// Indexed and gray values: U8 stands for 1 to 8 bits packed most
// significant bits first (the widths are in the state), U16 for 16 bits.
TRowRoutine IndexRoutine(SampleFormat source, SampleFormat target);
// Gray (and gray + alpha, alpha dropped) of 8 or 16 bits per side.
TRowRoutine GrayRoutine(SampleFormat source, SampleFormat target, bool sourceAlpha);
TRowRoutine RgbRoutine(SampleFormat source, SampleFormat target, bool sourceAlpha, bool targetAlpha,
                       bool gamma, bool reversed);
TRowRoutine CmykRoutine(SampleFormat source, SampleFormat target, bool targetAlpha, bool reversed);
TRowRoutine LabRoutine(SampleFormat source, SampleFormat target, bool targetAlpha, bool reversed);
TRowRoutine YCbCrRoutine(SampleFormat source, SampleFormat target, bool targetAlpha, bool reversed);

}  // namespace quorvex
