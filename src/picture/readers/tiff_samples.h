#pragma once

// What the TIFF reader does to a row's samples before the colour converter
// sees them: samples the converter has no routine for (32-bit integers,
// 16- and 32-bit floating point) become 16-bit integers, and colours stored
// premultiplied by their alpha are divided by it again.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/color_routines.h"

namespace quorvex {

// Values of the SampleFormat tag.
enum class TIFFSampleFormat : uint16_t {
  UnsignedInteger = 1,
  SignedInteger = 2,
  FloatingPoint = 3,
};

// How a row's samples are stored.
struct TTIFFSampleKind {
  int bits = 8;
  TIFFSampleFormat format = TIFFSampleFormat::UnsignedInteger;
  bool bigEndian = false;
  size_t samples = 1;  // per pixel
  bool planar = false;
  bool floatPredictor = false;  // predictor 3 applies to the row
  bool premultiplied = false;   // the last sample is an associated alpha
};

class TTIFFSamples {
 public:
  explicit TTIFFSamples(const TTIFFSampleKind& kind);

  // Whether the converter gets 16-bit samples in host order from Prepare
  // rather than the file's own.
  bool Widens() const { return widen_; }
  // What the converter is to be told: bits per sample and whether 16-bit
  // samples are big-endian.
  int DeliveredBits() const { return widen_ ? 16 : kind_.bits; }
  bool DeliveredBigEndian() const { return !widen_ && kind_.bigEndian; }

  // The samples of `pixels` pixels, from one row per plane (`planes` of
  // them; only the first four are handed on), ready for the converter.
  // The rows themselves may be changed. Premultiplied colours come out
  // divided by their alpha: round(c * max / alpha), at most max, where max
  // is the largest sample; a pixel of alpha 0 is black.
  TSampleSources Prepare(const std::array<uint8_t*, 4>& rows, size_t planes, uint32_t pixels);

 private:
  void Widen(const uint8_t* row, size_t count, std::vector<uint16_t>& out) const;
  void UndoFloatPredictor(uint8_t* row, size_t count);

  TTIFFSampleKind kind_;
  bool widen_;
  std::array<std::vector<uint16_t>, 4> wide_;
  std::vector<uint8_t> reordered_;  // predictor 3: the row before its bytes are put back
};

// Whether the samples' kind is one this reader takes: unsigned integers of
// 1 to 16 or 32 bits (signed ones of 8 and 16 bits are read as unsigned, as
// they always were), floating point of 16 and 32 bits.
bool TIFFSamplesReadable(int bits, TIFFSampleFormat format);

}  // namespace quorvex
