#include "picture/readers/psd_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/packbits_decoder.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr const char* kFormatName = "PSD or PDD";
constexpr uint16_t kRawData = 0;
constexpr uint16_t kRunLengthData = 1;

[[noreturn]] void FailFormat() {
  throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, kFormatName));
}

[[noreturn]] void FailShortStream() {
  throw EReadError("Stream read error");
}

// Sizes come from the file; refuse them before allocating anything for them.
void RequireRemaining(const TStream& stream, uint64_t bytes) {
  const int64_t remaining = stream.Remaining();
  if (remaining < 0 || bytes > static_cast<uint64_t>(remaining)) FailShortStream();
}

bool SingleSampleScheme(ColorScheme scheme) {
  return scheme == ColorScheme::Gray || scheme == ColorScheme::Indexed;
}

// Planes handed to the converter per pixel.
int PlanesUsed(ColorScheme scheme) {
  switch (scheme) {
    case ColorScheme::Gray:
    case ColorScheme::Indexed:
      return 1;
    case ColorScheme::RGB:
    case ColorScheme::CIELab:
      return 3;
    default:
      return 4;
  }
}

}  // namespace

TPSDHeader TPSDHeader::Parse(const uint8_t* b) {
  auto u16 = [b](size_t at) { return static_cast<uint16_t>((b[at] << 8) | b[at + 1]); };
  auto u32 = [b](size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
           b[at + 3];
  };
  TPSDHeader h;
  std::memcpy(h.signature, b, 4);
  h.version = u16(4);
  h.channels = u16(12);
  h.height = u32(14);
  h.width = u32(18);
  h.bitsPerChannel = u16(22);
  h.colorMode = u16(24);
  return h;
}

bool TPSDGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TPSDHeader::kSize)) return false;
  uint8_t raw[TPSDHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  stream.Seek(start);
  const TPSDHeader h = TPSDHeader::Parse(raw);
  char upper[4];
  for (size_t i = 0; i < 4; ++i) {
    upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(h.signature[i])));
  }
  return std::memcmp(upper, "8BPS", 4) == 0 && h.version == 1;
}

bool TPSDGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  uint8_t raw[TPSDHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TPSDHeader h = TPSDHeader::Parse(raw);
  if (std::memcmp(h.signature, "8BPS", 4) != 0) return false;

  TImageProperties& p = properties_;
  p.options = h.colorMode == static_cast<uint16_t>(PSDColorMode::Bitmap) ? kPSDMinimumIsWhite : 0;
  p.bitsPerSample = static_cast<uint8_t>(std::min<uint16_t>(h.bitsPerChannel, 255));
  p.samplesPerPixel = static_cast<uint8_t>(std::min<uint16_t>(h.channels, 4));
  p.bitsPerPixel =
      static_cast<uint8_t>(std::min<uint32_t>(uint32_t{h.channels} * h.bitsPerChannel, 255));
  // Sizes beyond the signed range are kept negative and refused on loading.
  p.width = static_cast<int32_t>(h.width);
  p.height = static_cast<int32_t>(h.height);
  switch (static_cast<PSDColorMode>(h.colorMode)) {
    case PSDColorMode::Bitmap:
    case PSDColorMode::Grayscale:
    case PSDColorMode::Duotone:
      p.colorScheme = ColorScheme::Gray;
      break;
    case PSDColorMode::Indexed:
      p.colorScheme = ColorScheme::Indexed;
      break;
    case PSDColorMode::RGB:
    case PSDColorMode::Multichannel:
      p.colorScheme = h.channels == 3 ? ColorScheme::RGB : ColorScheme::RGBA;
      p.hasAlpha = h.channels != 3;
      break;
    case PSDColorMode::CMYK:
      p.colorScheme = ColorScheme::CMYK;
      break;
    case PSDColorMode::Lab:
      p.colorScheme = ColorScheme::CIELab;
      break;
    default:
      p.colorScheme = ColorScheme::UndefinedScheme;
      break;
  }
  version_ = h.version;
  channels_ = h.channels;
  colorMode_ = h.colorMode;

  for (int section = 0; section < 3; ++section) stream.Skip(stream.ReadU32BE());
  compressionValue_ = stream.ReadU16BE();
  p.compression = compressionValue_ == kRunLengthData ? CompressionKind::PackBits
                                                      : CompressionKind::NoCompression;
  return true;
}

void TPSDGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  const int64_t base = stream.Position();
  if (!ReadHeaderInfo(stream, 0)) FailFormat();
  stream.Seek(base);
  stream.Skip(TPSDHeader::kSize);
  const TImageProperties& p = properties_;
  const ColorScheme scheme = p.colorScheme;
  const int bits = p.bitsPerSample;

  // Large documents (version 2) widen the section lengths and byte counts,
  // which read as version 1 would give noise.
  if (version_ != 1 || p.width <= 0 || p.height <= 0 || channels_ == 0) FailFormat();
  // Photoshop stores nothing else in the merged image; the other values
  // would be read as raw bytes and show noise.
  if (compressionValue_ != kRawData && compressionValue_ != kRunLengthData) FailFormat();
  if (scheme == ColorScheme::UndefinedScheme) throw EColorConversionError(kNoConversionMethod);
  const bool singlePlane = SingleSampleScheme(scheme);
  const int planes = PlanesUsed(scheme);
  if (channels_ < planes) throw EColorConversionError(kSampleCountInvalid);
  if (!(bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16) ||
      (!singlePlane && bits < 8)) {
    throw EColorConversionError(kColorDepthInvalid);
  }

  TColorManager& cm = ColorManager();
  TConversionOptions options{ConversionOption::ByteSwapOption};
  if (scheme == ColorScheme::CIELab) {
    options.Include(ConversionOption::LabByteOption).Include(ConversionOption::LabOffsetOption);
  }
  cm.SetSourceOptions(options);
  cm.SetTargetOptions({});
  cm.SetSourceBitsPerSample(bits);
  // Two-bit gray has no layout of its own; it widens to four.
  cm.SetTargetBitsPerSample(bits == 16 ? 8 : bits == 2 ? 4 : bits);
  cm.SetSourceSamplesPerPixel(planes);
  cm.SetSourceColorScheme(scheme);
  switch (scheme) {
    case ColorScheme::RGB:
    case ColorScheme::CMYK:
    case ColorScheme::CIELab:
      cm.SetTargetColorScheme(ColorScheme::BGR);
      cm.SetTargetSamplesPerPixel(3);
      break;
    case ColorScheme::RGBA:
      cm.SetTargetColorScheme(ColorScheme::BGRA);
      cm.SetTargetSamplesPerPixel(4);
      break;
    default:
      cm.SetTargetColorScheme(scheme);
      cm.SetTargetSamplesPerPixel(1);
      break;
  }
  SetLayout(cm.TargetLayout());
  // A PackBits pair makes at most 128 bytes.
  const uint64_t claimed = (uint64_t(p.width) * bits + 7) / 8 * uint64_t(p.height) * planes;
  RequireDataForClaim(*this, static_cast<uint32_t>(p.width), static_cast<uint32_t>(p.height),
                      claimed, stream.Remaining(), compressionValue_ == kRawData ? 1 : 64);
  SetImageWidth(p.width);
  SetImageHeight(p.height);

  // Colour mode data: the palette of indexed files, passed over otherwise.
  const uint32_t colorDataLength = stream.ReadU32BE();
  if (scheme == ColorScheme::Indexed) {
    RequireRemaining(stream, colorDataLength);
    std::vector<uint8_t> lists(colorDataLength);
    stream.ReadBuffer(lists.data(), lists.size());
    const size_t listLength = lists.size() / 3;
    const uint8_t* red = lists.data();
    ApplyPalette(cm.MakeColorPalette(
        TSampleSources(red, red + listLength, red + 2 * listLength), PaletteSourceFormat::Planar8,
        false, static_cast<uint32_t>(std::min<size_t>(listLength, kMaxPaletteEntries))));
  } else {
    stream.Skip(colorDataLength);
    if (scheme == ColorScheme::Gray) {
      ApplyPalette(cm.MakeGrayPalette((p.options & kPSDMinimumIsWhite) != 0));
    }
  }
  stream.Skip(stream.ReadU32BE());  // image resources
  stream.Skip(stream.ReadU32BE());  // layer and mask information
  stream.Skip(2);                   // compression, already known

  const uint32_t width = static_cast<uint32_t>(p.width);
  const uint32_t height = static_cast<uint32_t>(p.height);
  const size_t rowBytes = static_cast<size_t>((uint64_t{width} * bits + 7) / 8);
  const uint64_t planeBytes = uint64_t{rowBytes} * height;
  std::array<std::vector<uint8_t>, 4> rows;
  for (int k = 0; k < planes; ++k) rows[k].resize(rowBytes);
  const TSampleSources sources =
      planes == 1 ? TSampleSources(rows[0].data())
      : planes == 3
          ? TSampleSources(rows[0].data(), rows[1].data(), rows[2].data())
          : TSampleSources(rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data());
  const bool inverted = scheme == ColorScheme::CMYK;

  auto emitRow = [&](uint32_t y) {
    if (inverted) {
      for (int k = 0; k < planes; ++k) {
        for (uint8_t& b : rows[k]) b = static_cast<uint8_t>(255 - b);
      }
    }
    cm.ConvertPixels(sources, width, 0xFF, RowAddress(static_cast<int32_t>(y)));
  };

  if (compressionValue_ == kRawData) {
    // Only the planes shown are read; extra channels may be missing.
    const int64_t dataStart = stream.Position();
    RequireRemaining(stream, planeBytes * planes);
    for (uint32_t y = 0; y < height; ++y) {
      for (int k = 0; k < planes; ++k) {
        if (planes > 1)
          stream.Seek(dataStart + static_cast<int64_t>(planeBytes * k + uint64_t{rowBytes} * y));
        stream.ReadBuffer(rows[k].data(), rowBytes);
      }
      emitRow(y);
    }
    return;
  }

  // Run-length: a byte count per row of every channel, channel after
  // channel, then the rows. Each row is decoded on its own, so a row whose
  // runs overshoot or fall short cannot shift the rows after it.
  const uint64_t tableEntries = uint64_t{height} * channels_;
  RequireRemaining(stream, tableEntries * 2);
  const size_t usedEntries = size_t{height} * static_cast<size_t>(planes);
  std::vector<uint8_t> table(usedEntries * 2);
  stream.ReadBuffer(table.data(), table.size());
  stream.Skip(static_cast<int64_t>((tableEntries - usedEntries) * 2));
  std::vector<uint64_t> offsets(usedEntries + 1, 0);
  for (size_t i = 0; i < usedEntries; ++i) {
    offsets[i + 1] = offsets[i] + ((uint32_t{table[2 * i]} << 8) | table[2 * i + 1]);
  }
  RequireRemaining(stream, offsets.back());
  std::vector<uint8_t> packed(static_cast<size_t>(offsets.back()));
  stream.ReadBuffer(packed.data(), packed.size());
  for (uint32_t y = 0; y < height; ++y) {
    for (int k = 0; k < planes; ++k) {
      const size_t entry = size_t{height} * static_cast<size_t>(k) + y;
      const size_t produced = TPackbitsRLEDecoder::Decode(
          packed.data() + offsets[entry], static_cast<size_t>(offsets[entry + 1] - offsets[entry]),
          rows[k].data(), rowBytes);
      // A row that ends early shows the rest as sample 0.
      std::fill(rows[k].begin() + static_cast<std::ptrdiff_t>(produced), rows[k].end(), 0);
    }
    emitRow(y);
  }
}

void RegisterPSDFormats(TFileFormatList& list) {
  const TGraphicClass& psd = ClassOf<TPSDGraphic>();
  list.AddFormat("psd", "Photoshop images", "Photoshop images", false, psd);
  list.AddFormat("pdd", "", "Photoshop images", false, psd);
}

std::string TPSDGraphic::FormatName() const {
  return kFormatName;
}

}  // namespace quorvex
