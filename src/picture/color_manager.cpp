#include "picture/color_manager.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "picture/exceptions.h"

namespace quorvex {
namespace {

using enum ColorScheme;

bool OneOf(ColorScheme scheme, std::initializer_list<ColorScheme> schemes) {
  return std::find(schemes.begin(), schemes.end(), scheme) != schemes.end();
}

bool HasAlpha(ColorScheme scheme) {
  return OneOf(scheme, {GrayAlpha, RGBA, BGRA});
}

SampleFormat FormatOf(uint8_t bits, TConversionOptions options) {
  if (bits != 16) return SampleFormat::U8;
  return options.Contains(ConversionOption::ByteSwapOption) ? SampleFormat::U16Swapped
                                                            : SampleFormat::U16;
}

bool EightOrSixteen(uint8_t bits) {
  return bits == 8 || bits == 16;
}

// Nearest integer, halves to the even one; NaN and absurd values (from
// degenerate coefficients) are held to a range that cannot overflow a pixel
// sum and still saturates every channel.
int32_t NearestBounded(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(std::nearbyint(std::clamp(v, -65536.0, 65536.0)));
}

uint8_t CheckedBits(int bits) {
  if (bits < 1 || bits > 16) throw EColorConversionError(kColorDepthInvalid);
  return static_cast<uint8_t>(bits);
}

uint8_t CheckedSamples(int samples) {
  if (samples < 1 || samples > 4) throw EColorConversionError(kSampleCountInvalid);
  return static_cast<uint8_t>(samples);
}

}  // namespace

TColorManager::TColorManager() {
  BuildGammaTable();
}

void TColorManager::SetSourceBitsPerSample(int bits) {
  sourceBits_ = CheckedBits(bits);
  changed_ = true;
}

void TColorManager::SetTargetBitsPerSample(int bits) {
  targetBits_ = CheckedBits(bits);
  changed_ = true;
}

void TColorManager::SetSourceSamplesPerPixel(int samples) {
  sourceSamples_ = CheckedSamples(samples);
  changed_ = true;
}

void TColorManager::SetTargetSamplesPerPixel(int samples) {
  targetSamples_ = CheckedSamples(samples);
  changed_ = true;
}

void TColorManager::SetSourceColorScheme(ColorScheme scheme) {
  sourceScheme_ = scheme;
  changed_ = true;
}

void TColorManager::SetTargetColorScheme(ColorScheme scheme) {
  targetScheme_ = scheme;
  changed_ = true;
}

void TColorManager::SetSourceOptions(TConversionOptions options) {
  sourceOptions_ = options;
  changed_ = true;
}

void TColorManager::SetTargetOptions(TConversionOptions options) {
  targetOptions_ = options;
  changed_ = true;
}

void TColorManager::SetGamma(float mainGamma, float displayGamma) {
  mainGamma_ = mainGamma > 0 ? mainGamma : 1.0f;
  displayGamma_ = displayGamma > 0 ? displayGamma : 2.2f;
  BuildGammaTable();
  changed_ = true;
}

void TColorManager::SetYCbCrParameters(std::span<const float> coefficients,
                                       int horizontalSubsampling, int verticalSubsampling) {
  auto allowed = [](int v) { return v == 1 || v == 2 || v == 4; };
  if (!allowed(horizontalSubsampling) || !allowed(verticalSubsampling)) {
    throw EColorConversionError(kSubsamplingInvalid);
  }
  if (verticalSubsampling > horizontalSubsampling) {
    throw EColorConversionError(kVerticalSubsamplingInvalid);
  }
  const size_t n = std::min<size_t>(coefficients.size(), yCbCrCoefficients_.size());
  std::copy_n(coefficients.begin(), n, yCbCrCoefficients_.begin());
  horizontalSubsampling_ = static_cast<uint8_t>(horizontalSubsampling);
  verticalSubsampling_ = static_cast<uint8_t>(verticalSubsampling);
  changed_ = true;
}

PixelLayout TColorManager::TargetLayout(ColorSide side) const {
  const bool source = side == ColorSide::Source;
  const int samples = source ? sourceSamples_ : targetSamples_;
  const int bits = source ? sourceBits_ : targetBits_;
  switch (samples) {
    case 1:
      if (bits == 1) return PixelLayout::Bits1;
      if (bits >= 2 && bits <= 4) return PixelLayout::Bits4;
      if (bits >= 8 && bits <= 16) return PixelLayout::Bits8;
      break;
    case 3:
      return bits <= 5 ? PixelLayout::Bits15 : PixelLayout::Bits24;
    case 4:
      if (bits >= 8) return PixelLayout::Bits32;
      break;
    default:
      break;
  }
  return PixelLayout::CustomBits;
}

// The table always maps 8-bit values to 8-bit values: every user (colour
// samples, palette components, gray ramp levels) looks up 8-bit values.
void TColorManager::BuildGammaTable() {
  const double exponent = 1.0 / (double{mainGamma_} * double{displayGamma_});
  for (int i = 0; i < 256; ++i) {
    const double v = std::pow(i / 255.0, exponent) * 255.0;
    state_.gamma[static_cast<size_t>(i)] =
        static_cast<uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0));
  }
}

void TColorManager::BuildYCbCrTables(bool photoYCC) {
  const double kr = yCbCrCoefficients_[0];
  const double kg = yCbCrCoefficients_[1];
  const double kb = yCbCrCoefficients_[2];
  const double cr = 2.0 - 2.0 * kr;
  const double cb = 2.0 - 2.0 * kb;
  for (int i = 0; i < 256; ++i) {
    const double redSide = i - (photoYCC ? 137 : 128);
    const double blueSide = i - (photoYCC ? 156 : 128);
    const auto at = static_cast<size_t>(i);
    state_.crToRed[at] = NearestBounded(cr * redSide);
    state_.cbToBlue[at] = NearestBounded(cb * blueSide);
    state_.crToGreen[at] = -NearestBounded(kr * cr / kg * redSide);
    state_.cbToGreen[at] = -NearestBounded(kb * cb / kg * blueSide);
  }
}

// Values below 16 bits scaled to the target's bits (16-bit targets included).
void TColorManager::BuildIndexScale() {
  if (sourceBits_ > 8) return;
  const uint32_t from = (1u << sourceBits_) - 1;
  const uint32_t to = (1u << targetBits_) - 1;
  for (uint32_t v = 0; v <= from; ++v) state_.indexScale[v] = static_cast<uint16_t>(v * to / from);
}

void TColorManager::SelectRoutine() {
  const ColorScheme source = sourceScheme_;
  const ColorScheme target = targetScheme_;
  const bool indexedSource = OneOf(source, {Indexed, Gray, GrayAlpha});
  if ((indexedSource && !OneOf(target, {Indexed, Gray})) ||
      (OneOf(target, {Indexed, Gray, GrayAlpha}) && !indexedSource)) {
    throw EColorConversionError(kIndexedConversionUnsupported);
  }

  TConversionOptions sourceOptions = sourceOptions_;
  TConversionOptions targetOptions = targetOptions_;
  HasAlpha(source) ? sourceOptions.Include(ConversionOption::AlphaOption)
                   : sourceOptions.Exclude(ConversionOption::AlphaOption);
  HasAlpha(target) ? targetOptions.Include(ConversionOption::AlphaOption)
                   : targetOptions.Exclude(ConversionOption::AlphaOption);

  const SampleFormat from = FormatOf(sourceBits_, sourceOptions);
  const SampleFormat to = FormatOf(targetBits_, targetOptions);
  const bool wideEnough = EightOrSixteen(sourceBits_) && EightOrSixteen(targetBits_);
  const bool rgbTarget = OneOf(target, {RGB, RGBA});
  const bool colourTarget = rgbTarget || OneOf(target, {BGR, BGRA});
  const bool targetAlpha = HasAlpha(target);

  TRowRoutine routine = nullptr;
  uint8_t planes = 1;
  bool buildIndexScale = false;
  switch (source) {
    case Indexed:
    case Gray: {
      const bool narrowSource = sourceBits_ <= 8;
      const bool narrowTarget = targetBits_ <= 8;
      if (source == Gray && (sourceBits_ == 16 || targetBits_ == 16)) {
        if (wideEnough) routine = GrayRoutine(from, to, false);
      } else if ((narrowSource || sourceBits_ == 16) && (narrowTarget || targetBits_ == 16)) {
        routine = IndexRoutine(from, to);
        buildIndexScale = true;
      }
      break;
    }
    case GrayAlpha:
      if (wideEnough) routine = GrayRoutine(from, to, true);
      break;
    case RGB:
    case RGBA:
    case BGR:
    case BGRA:
      if (wideEnough && colourTarget) {
        const bool sourceAlpha = HasAlpha(source);
        const bool reversed = OneOf(source, {RGB, RGBA}) != rgbTarget;
        routine = RgbRoutine(from, to, sourceAlpha, targetAlpha,
                             targetOptions.Contains(ConversionOption::GammaOption), reversed);
        planes = sourceAlpha && targetAlpha ? 4 : 3;
      }
      break;
    case CMYK:
      if (wideEnough && colourTarget) {
        routine = CmykRoutine(from, to, targetAlpha, !rgbTarget);
        planes = 4;
      }
      break;
    case CIELab:
      if (wideEnough && colourTarget) {
        routine = LabRoutine(from, to, targetAlpha, !rgbTarget);
        planes = 3;
      }
      break;
    case YCbCr:
    case PhotoYCC:
      if (wideEnough && colourTarget) {
        BuildYCbCrTables(source == PhotoYCC);
        routine = YCbCrRoutine(from, to, targetAlpha, !rgbTarget);
        planes = 3;
      }
      break;
    default:
      break;
  }
  if (!routine) throw EColorConversionError(kNoConversionMethod);

  sourceOptions_ = sourceOptions;
  targetOptions_ = targetOptions;
  state_.sourceBits = sourceBits_;
  state_.targetBits = targetBits_;
  state_.labByte = sourceOptions.Contains(ConversionOption::LabByteOption);
  state_.labOffset = sourceOptions.Contains(ConversionOption::LabOffsetOption);
  if (buildIndexScale) BuildIndexScale();
  routine_ = routine;
  requiredPlanes_ = planes;
  changed_ = false;
}

void TColorManager::ConvertPixels(const TSampleSources& sources, uint32_t count, uint8_t writeMask,
                                  std::span<uint8_t> target) {
  // A conversion that does not exist says so first. The routines write as
  // many samples as the target scheme has, whatever the samples setting;
  // colour pixels of 5 bits or fewer a sample are whole 16-bit words.
  if (changed_) SelectRoutine();
  const bool oneSample = OneOf(targetScheme_, {Indexed, Gray, GrayAlpha});
  const uint32_t samples = oneSample ? 1 : (HasAlpha(targetScheme_) ? 4 : 3);
  uint32_t bitsPerPixel = samples * targetBits_;
  if (samples == 3 && targetBits_ <= 5) bitsPerPixel = 16;
  const uint64_t bits = uint64_t{count} * bitsPerPixel;
  if ((bits + 7) / 8 > target.size()) throw EColorConversionError(kTargetTooSmall);
  if (count == 0) return;
  if (sources.IsPlanar()) {
    for (int i = 0; i < requiredPlanes_; ++i) {
      if (!sources.Plane(i)) throw EColorConversionError(kNoConversionMethod);
    }
  }
  routine_(state_, sources, count, writeMask, target.data());
}

TPalette TColorManager::MakeColorPalette(const TSampleSources& sources, PaletteSourceFormat format,
                                         bool reversedOrder, uint32_t count) const {
  const auto kind = static_cast<uint8_t>(format);
  if (kind > 7) throw EColorConversionError(kNoConversionMethod);
  const bool wide = kind >= 4;
  const bool planar = (kind & 3) >= 2;
  const size_t stride = (kind & 3) == 1 ? 4 : 3;
  for (int i = 0; i < (planar ? 3 : 1); ++i) {
    if (count > 0 && !sources.Plane(i)) throw EColorConversionError(kNoConversionMethod);
  }
  const bool swap = sourceOptions_.Contains(ConversionOption::ByteSwapOption);
  const bool gamma = targetOptions_.Contains(ConversionOption::GammaOption);

  auto component = [&](const uint8_t* list, size_t index) -> uint8_t {
    uint32_t v;
    if (wide) {
      uint16_t w;
      std::memcpy(&w, list + 2 * index, 2);
      if (swap) w = __builtin_bswap16(w);
      v = w / 257u;
    } else {
      v = list[index];
    }
    return gamma ? state_.gamma[v] : static_cast<uint8_t>(v);
  };
  auto entry = [&](uint32_t i) -> TRGB {
    if (planar) {
      return {component(sources.Plane(0), i), component(sources.Plane(1), i),
              component(sources.Plane(2), i)};
    }
    const size_t at = size_t{i} * stride;
    TRGB c{component(sources.Plane(0), at), component(sources.Plane(0), at + 1),
           component(sources.Plane(0), at + 2)};
    if (reversedOrder) std::swap(c.red, c.blue);
    return c;
  };

  const bool spread = targetBits_ <= 8 && targetBits_ != sourceBits_;
  const uint32_t entries =
      spread ? 1u << targetBits_ : std::min<uint32_t>(count, kMaxPaletteEntries);
  const uint64_t sourceMax = (uint64_t{1} << sourceBits_) - 1;
  const uint64_t targetMax = (uint64_t{1} << targetBits_) - 1;
  TPalette palette;
  palette.reserve(entries);
  for (uint32_t j = 0; j < entries; ++j) {
    const uint64_t from = spread ? j * sourceMax / targetMax : j;
    palette.push_back(from < count ? entry(static_cast<uint32_t>(from)) : TRGB{});
  }
  return palette;
}

TPalette TColorManager::MakeGrayPalette(bool minimumIsWhite) const {
  const int bits = std::min(targetBits_ * targetSamples_, 8);
  const uint32_t count = 1u << bits;
  const uint32_t step = 255 / (count - 1);
  const bool gamma = targetOptions_.Contains(ConversionOption::GammaOption);
  TPalette palette(count);
  for (uint32_t i = 0; i < count; ++i) {
    const auto level = static_cast<uint8_t>(step * i);
    const uint8_t v = gamma ? state_.gamma[level] : level;
    palette[minimumIsWhite ? count - 1 - i : i] = TRGB{v, v, v};
  }
  return palette;
}

}  // namespace quorvex
