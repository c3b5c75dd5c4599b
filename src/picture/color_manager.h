#pragma once

// TColorManager: the readers' converter from the samples a picture file
// stores to the pixel bytes of a bitmap row.
//
// A reader describes the file's samples (the source side) and the pixels it
// wants (the target side), asks TargetLayout for the bitmap's PixelLayout,
// builds its palette with MakeColorPalette or MakeGrayPalette, and then calls
// ConvertPixels once per row. The row routine is chosen once, on the first
// ConvertPixels after a setting changed, so the per-row cost is one indirect
// call and the per-pixel cost is plain arithmetic and table lookups.
//
// Typical use (a 16-bit big-endian RGB file into a Bits24 bitmap):
//
//   TColorManager& cm = ...;
//   cm.SetSourceColorScheme(ColorScheme::RGB);
//   cm.SetTargetColorScheme(ColorScheme::BGR);
//   cm.SetSourceBitsPerSample(16);
//   cm.SetTargetBitsPerSample(8);
//   cm.SetSourceOptions({ConversionOption::ByteSwapOption});
//   bitmap.SetLayout(cm.TargetLayout());
//   for (each row y) cm.ConvertPixels(fileRow, width, 0xFF, bitmap.RowBytes(y));
//
// Every failure raises EColorConversionError with one of the messages below
// and leaves the other settings as they were.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "picture/bitmap.h"
#include "picture/color_routines.h"
#include "picture/graphic.h"
#include "picture/image_properties.h"

namespace quorvex {

inline constexpr const char* kColorDepthInvalid =
    "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* kSampleCountInvalid =
    "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* kIndexedConversionUnsupported =
    "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* kTargetTooSmall = "Color conversion target too small";
inline constexpr const char* kNoConversionMethod =
    "Color conversion failed. Could not find a proper method.";
inline constexpr const char* kSubsamplingInvalid =
    "Subsampling value is invalid. Allowed are 1, 2 and 4.";
inline constexpr const char* kVerticalSubsamplingInvalid =
    "Vertical subsampling value must be <= horizontal subsampling value.";

enum class ConversionOption : uint8_t {
  AlphaOption = 1,      // pixels carry an alpha sample (kept in step with the scheme)
  GammaOption = 2,      // target: colour samples and palette entries pass the gamma table
  ByteSwapOption = 4,   // 16-bit samples are big-endian (source: read, target: written)
  LabByteOption = 8,    // source: CIELab lightness stored as 0..255 rather than 0..100
  LabOffsetOption = 16  // source: CIELab a and b stored with an offset of 128, not signed
};

// A set of ConversionOption values.
class TConversionOptions {
 public:
  constexpr TConversionOptions() = default;
  constexpr TConversionOptions(ConversionOption option) : bits_(static_cast<uint8_t>(option)) {}
  constexpr TConversionOptions(std::initializer_list<ConversionOption> options) {
    for (ConversionOption option : options) bits_ |= static_cast<uint8_t>(option);
  }

  constexpr bool Contains(ConversionOption option) const {
    return (bits_ & static_cast<uint8_t>(option)) != 0;
  }
  constexpr TConversionOptions& Include(ConversionOption option) {
    bits_ |= static_cast<uint8_t>(option);
    return *this;
  }
  constexpr TConversionOptions& Exclude(ConversionOption option) {
    bits_ &= static_cast<uint8_t>(~static_cast<uint8_t>(option));
    return *this;
  }
  constexpr uint8_t Bits() const { return bits_; }
  friend constexpr bool operator==(TConversionOptions, TConversionOptions) = default;

 private:
  uint8_t bits_ = 0;
};

enum class ColorSide : uint8_t { Source, Target };

// Layouts of the colour entries MakeColorPalette reads.
enum class PaletteSourceFormat : uint8_t {
  Interleaved8 = 0,        // 8-bit triples
  Interleaved8Quads = 1,   // 8-bit quads, fourth byte ignored
  Planar8 = 2,             // three lists of 8-bit red, green, blue
  Planar8Lists = 3,        // the same as Planar8
  Interleaved16 = 4,       // 16-bit triples
  Interleaved16Quads = 5,  // 16-bit quads, fourth sample ignored
  Planar16 = 6,            // three lists of 16-bit red, green, blue
  Planar16Lists = 7,       // the same as Planar16
};

class TColorManager {
 public:
  // Defaults: 8 bits and 3 samples on both sides, RGB to BGR, no options,
  // gamma 1.0 with display gamma 2.2, YCbCr coefficients 0.299, 0.587, 0.114.
  TColorManager();

  // 1 to 16 (any value in between is taken; only 1, 2, 4, 8 and 16 have row
  // routines); anything else fails with kColorDepthInvalid.
  void SetSourceBitsPerSample(int bits);
  void SetTargetBitsPerSample(int bits);
  // 1 to 4; anything else fails with kSampleCountInvalid.
  void SetSourceSamplesPerPixel(int samples);
  void SetTargetSamplesPerPixel(int samples);
  void SetSourceColorScheme(ColorScheme scheme);
  void SetTargetColorScheme(ColorScheme scheme);
  // Source options describe the stored samples (ByteSwap, LabByte, LabOffset);
  // target options the output (ByteSwap for 16-bit targets, Gamma).
  // AlphaOption follows the schemes when the routine is chosen.
  void SetSourceOptions(TConversionOptions options);
  void SetTargetOptions(TConversionOptions options);

  // Rebuilds the gamma table at once: entry i = (i / 255)^(1 / (main *
  // display)) * 255, rounded half to even. A main gamma not above 0 becomes
  // 1, a display gamma not above 0 becomes 2.2.
  void SetGamma(float mainGamma, float displayGamma = 2.2f);

  // Luma coefficients (the first one to three of red, green, blue replace
  // the current ones) and the chroma subsampling, which the reader reads back
  // to lay out its samples: the row routine takes full Y, Cb, Cr triples.
  // Subsampling must be 1, 2 or 4 (kSubsamplingInvalid), vertical not above
  // horizontal (kVerticalSubsamplingInvalid).
  void SetYCbCrParameters(std::span<const float> coefficients, int horizontalSubsampling,
                          int verticalSubsampling);

  int SourceBitsPerSample() const { return sourceBits_; }
  int TargetBitsPerSample() const { return targetBits_; }
  int SourceSamplesPerPixel() const { return sourceSamples_; }
  int TargetSamplesPerPixel() const { return targetSamples_; }
  ColorScheme SourceColorScheme() const { return sourceScheme_; }
  ColorScheme TargetColorScheme() const { return targetScheme_; }
  TConversionOptions SourceOptions() const { return sourceOptions_; }
  TConversionOptions TargetOptions() const { return targetOptions_; }
  float MainGamma() const { return mainGamma_; }
  float DisplayGamma() const { return displayGamma_; }
  const std::array<uint8_t, 256>& GammaTable() const { return state_.gamma; }
  const std::array<float, 3>& YCbCrCoefficients() const { return yCbCrCoefficients_; }
  int HorizontalSubsampling() const { return horizontalSubsampling_; }
  int VerticalSubsampling() const { return verticalSubsampling_; }

  // The PixelLayout that one side's samples per pixel and bits per sample
  // make: 1 sample of 1 bit Bits1, of 2 to 4 bits Bits4, of 8 to 16 bits
  // Bits8; 3 samples of 1 to 5 bits Bits15, of 6 or more Bits24; 4 samples of
  // 8 or more Bits32; anything else CustomBits.
  PixelLayout TargetLayout(ColorSide side = ColorSide::Target) const;

  // Converts `count` target pixels into `target`. Pixel x is written only
  // when bit (7 - x mod 8) of `writeMask` is set (0xFF writes all), and the
  // source advances only for written pixels, so an interlace pass's packed
  // samples land in their columns; unwritten target bytes and bits keep
  // their values. `sources` is one interleaved address or one list per
  // sample (TSampleSources). Samples below 8 bits are packed most
  // significant first, each right after the previous one, on both sides;
  // 16-bit samples are in host order unless ByteSwapOption says big-endian;
  // no alignment is required. The sources must hold the written pixels'
  // samples and the target the row's pixels.
  //
  // The routine is chosen here when a setting changed:
  //   Indexed, Gray      1 to 8 or 16 bits per side (Gray: 16 only with >= 8)
  //   GrayAlpha          8 or 16 bits per side, alpha dropped
  //   RGB(A), BGR(A)     8 or 16 bits per side, to RGB(A) or BGR(A); alpha
  //                      carried when both sides have it, dropped when only
  //                      the source has it, left untouched when only the
  //                      target has it; gamma on colour samples only
  //   CMYK, CIELab,      8 or 16 bits per side, to RGB(A) or BGR(A), target
  //   YCbCr, PhotoYCC    alpha untouched
  // CIELab is taken relative to the D50 white and shown as sRGB (Bradford
  // adaptation to D65, the sRGB curve), clamped; 16-bit CIELab is read on
  // the 8-bit scale: L and offset a, b divided by 257, signed a, b by 256.
  // Gamma applies to the RGB family only.
  // Indexed, Gray or GrayAlpha against a colour scheme (or a GrayAlpha
  // target) fails with kIndexedConversionUnsupported, anything else not
  // listed with kNoConversionMethod, as do planar sources missing a list.
  // A target shorter than `count` pixels of the target scheme's samples
  // (one for Indexed and Gray, three or four for colour) at the target's bits
  // per sample raises EColorConversionError kTargetTooSmall before anything
  // is written.
  void ConvertPixels(const TSampleSources& sources, uint32_t count, uint8_t writeMask,
                     std::span<uint8_t> target);

  // A palette from `count` colour entries (interleaved red, green, blue, or
  // blue, green, red with `reversedOrder`; planar lists are always red,
  // green, blue). 16-bit components are scaled to 8 bits (byte-swapped with
  // the source's ByteSwapOption); with the target's GammaOption components
  // pass the gamma table. At most 256 entries are made; when the target bits
  // per sample are at most 8 and differ from the source's, the palette is
  // spread to 2^target bits entries, entry j taking the colour of source
  // entry j * (2^s - 1) div (2^t - 1), the way pixel values are scaled;
  // entries beyond `count` are black.
  TPalette MakeColorPalette(const TSampleSources& sources, PaletteSourceFormat format,
                            bool reversedOrder, uint32_t count) const;

  // A gray ramp of 2^min(target bits * target samples, 8) levels, through the
  // gamma table with the target's GammaOption; entry 0 black, or white with
  // `minimumIsWhite`.
  TPalette MakeGrayPalette(bool minimumIsWhite) const;

 private:
  void SelectRoutine();
  void BuildGammaTable();
  void BuildYCbCrTables(bool photoYCC);
  void BuildIndexScale();

  uint8_t sourceBits_ = 8;
  uint8_t targetBits_ = 8;
  uint8_t sourceSamples_ = 3;
  uint8_t targetSamples_ = 3;
  float mainGamma_ = 1.0f;
  float displayGamma_ = 2.2f;
  std::array<float, 3> yCbCrCoefficients_{0.299f, 0.587f, 0.114f};
  uint8_t horizontalSubsampling_ = 1;
  uint8_t verticalSubsampling_ = 1;
  ColorScheme sourceScheme_ = ColorScheme::RGB;
  ColorScheme targetScheme_ = ColorScheme::BGR;
  TConversionOptions sourceOptions_;
  TConversionOptions targetOptions_;
  bool changed_ = true;

  TRowRoutine routine_ = nullptr;
  uint8_t requiredPlanes_ = 1;
  TConversionState state_;
};

}  // namespace quorvex
