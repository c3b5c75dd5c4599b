#include "picture/readers/psd_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <span>
#include <vector>

#include "picture/byte_input.h"
#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/image_limits.h"
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

TPSDHeader TPSDHeader::Parse(std::span<const uint8_t, kSize> bytes) {
  TByteReader reader(bytes);
  TPSDHeader h;
  std::ranges::copy(reader.Bytes(sizeof h.signature), h.signature);
  h.version = reader.U16BE();
  reader.Skip(6);  // reserved
  h.channels = reader.U16BE();
  h.height = reader.U32BE();
  h.width = reader.U32BE();
  h.bitsPerChannel = reader.U16BE();
  h.colorMode = reader.U16BE();
  return h;
}

bool TPSDHeader::SignatureMatches(bool anyCase) const {
  constexpr char kSignature[] = "8BPS";
  for (size_t i = 0; i < sizeof signature; ++i) {
    const auto c = static_cast<unsigned char>(signature[i]);
    if ((anyCase ? std::toupper(c) : c) != kSignature[i]) return false;
  }
  return true;
}

// The planes of one row as the file gives them, and the converter's view of
// them.
struct TPSDGraphic::TPlanes {
  TPlanes(int count, size_t rowBytes) : count(count), rowBytes(rowBytes) {
    for (int k = 0; k < count; ++k) rows[static_cast<size_t>(k)].resize(rowBytes);
  }
  TSampleSources Sources() const {
    if (count == 1) return TSampleSources(rows[0].data());
    if (count == 3) return TSampleSources(rows[0].data(), rows[1].data(), rows[2].data());
    return TSampleSources(rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data());
  }

  int count;
  size_t rowBytes;
  std::array<std::vector<uint8_t>, 4> rows;
};

bool TPSDGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TPSDHeader::kSize)) return false;
  std::array<uint8_t, TPSDHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  stream.Seek(start);
  return TPSDHeader::Parse(raw).LooksValid();
}

bool TPSDGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  std::array<uint8_t, TPSDHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  header_ = TPSDHeader::Parse(raw);
  if (!header_.SignatureMatches(false)) return false;
  SetProperties();
  ReadSections(stream);
  return true;
}

void TPSDGraphic::SetProperties() {
  const TPSDHeader& h = header_;
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
}

// Colour mode data, image resources and layers, each after its length, then
// the merged image's compression.
void TPSDGraphic::ReadSections(TStream& stream) {
  colorDataAt_ = stream.Position();
  colorDataLength_ = stream.ReadU32BE();
  stream.Skip(colorDataLength_);
  for (int section = 0; section < 2; ++section) stream.Skip(stream.ReadU32BE());
  compressionValue_ = stream.ReadU16BE();
  imageDataAt_ = stream.Position();
  properties_.compression = compressionValue_ == kRunLengthData ? CompressionKind::PackBits
                                                                : CompressionKind::NoCompression;
}

void TPSDGraphic::Decode(TStream& stream, int64_t /*start*/, bool headerUsable) {
  if (!headerUsable) FailFormat();
  CheckHeader();
  SetUpConverter();
  MakeCanvas(stream);
  ReadColorModeData(stream);
  stream.Seek(imageDataAt_);
  const TImageProperties& p = properties_;
  const auto rowBytes = static_cast<size_t>(
      (static_cast<uint64_t>(p.width) * static_cast<uint64_t>(p.bitsPerSample) + 7) / 8);
  TPlanes planes(PlanesUsed(p.colorScheme), rowBytes);
  if (compressionValue_ == kRawData) {
    DecodeRaw(stream, planes);
  } else {
    DecodeRunLength(stream, planes);
  }
}

void TPSDGraphic::CheckHeader() const {
  const TImageProperties& p = properties_;
  const ColorScheme scheme = p.colorScheme;
  const int bits = p.bitsPerSample;
  // Large documents (version 2) widen the section lengths and byte counts,
  // which read as version 1 would give noise.
  if (header_.version != 1 || p.width <= 0 || p.height <= 0 || header_.channels == 0) {
    FailFormat();
  }
  // Photoshop stores nothing else in the merged image; the other values
  // would be read as raw bytes and show noise.
  if (compressionValue_ != kRawData && compressionValue_ != kRunLengthData) FailFormat();
  if (scheme == ColorScheme::UndefinedScheme) throw EColorConversionError(kNoConversionMethod);
  if (header_.channels < PlanesUsed(scheme)) throw EColorConversionError(kSampleCountInvalid);
  if (!(bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16) ||
      (!SingleSampleScheme(scheme) && bits < 8)) {
    throw EColorConversionError(kColorDepthInvalid);
  }
}

void TPSDGraphic::SetUpConverter() {
  const ColorScheme scheme = properties_.colorScheme;
  const int bits = properties_.bitsPerSample;
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
  cm.SetSourceSamplesPerPixel(PlanesUsed(scheme));
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
}

void TPSDGraphic::MakeCanvas(const TStream& stream) {
  const TImageProperties& p = properties_;
  const auto width = static_cast<uint32_t>(p.width);
  const auto height = static_cast<uint32_t>(p.height);
  const uint64_t rowBytes = (uint64_t{width} * p.bitsPerSample + 7) / 8;
  const auto planes = static_cast<uint64_t>(PlanesUsed(p.colorScheme));
  // A PackBits pair makes at most 128 bytes.
  RequireDataForClaim(*this, width, height, SaturatingProduct({rowBytes, height, planes}),
                      stream.Size() - colorDataAt_, compressionValue_ == kRawData ? 1 : 64);
  SetImageWidth(p.width);
  SetImageHeight(p.height);
}

// The palette of indexed files; gray files get their ramp.
void TPSDGraphic::ReadColorModeData(TStream& stream) {
  TColorManager& cm = ColorManager();
  if (properties_.colorScheme == ColorScheme::Gray) {
    ApplyPalette(cm.MakeGrayPalette((properties_.options & kPSDMinimumIsWhite) != 0));
  }
  if (properties_.colorScheme != ColorScheme::Indexed) return;
  stream.Seek(colorDataAt_ + 4);
  RequireRemaining(stream, colorDataLength_);
  std::vector<uint8_t> lists(colorDataLength_);
  stream.ReadBuffer(lists.data(), lists.size());
  // Three lists, red, green and blue.
  const size_t listLength = lists.size() / 3;
  const std::span<const uint8_t> all(lists);
  const TSampleSources planar(all.data(), all.subspan(listLength).data(),
                              all.subspan(2 * listLength).data());
  ApplyPalette(
      cm.MakeColorPalette(planar, PaletteSourceFormat::Planar8, false,
                          static_cast<uint32_t>(std::min<size_t>(listLength, kMaxPaletteEntries))));
}

void TPSDGraphic::EmitRow(TPlanes& planes, uint32_t y) {
  if (properties_.colorScheme == ColorScheme::CMYK) {
    for (int k = 0; k < planes.count; ++k) {
      for (uint8_t& b : planes.rows[static_cast<size_t>(k)]) b = static_cast<uint8_t>(255 - b);
    }
  }
  ColorManager().ConvertPixels(planes.Sources(), static_cast<uint32_t>(properties_.width), 0xFF,
                               RowBytes(static_cast<int32_t>(y)));
}

// Only the planes shown are read; extra channels may be missing.
void TPSDGraphic::DecodeRaw(TStream& stream, TPlanes& planes) {
  const auto height = static_cast<uint32_t>(properties_.height);
  const int64_t dataStart = stream.Position();
  const uint64_t planeBytes = SaturatingProduct({planes.rowBytes, height});
  RequireRemaining(stream, SaturatingProduct({planeBytes, static_cast<uint64_t>(planes.count)}));
  for (uint32_t y = 0; y < height; ++y) {
    for (int k = 0; k < planes.count; ++k) {
      if (planes.count > 1) {
        stream.Seek(dataStart + static_cast<int64_t>(planeBytes * static_cast<uint64_t>(k) +
                                                     uint64_t{planes.rowBytes} * y));
      }
      stream.ReadBuffer(planes.rows[static_cast<size_t>(k)].data(), planes.rowBytes);
    }
    EmitRow(planes, y);
  }
}

// A byte count per row of every channel, channel after channel, then the
// rows. Each row is decoded on its own, so a row whose runs overshoot or
// fall short cannot shift the rows after it.
void TPSDGraphic::DecodeRunLength(TStream& stream, TPlanes& planes) {
  const auto height = static_cast<uint32_t>(properties_.height);
  const uint64_t tableEntries = uint64_t{height} * header_.channels;
  RequireRemaining(stream, tableEntries * 2);
  const size_t usedEntries = size_t{height} * static_cast<size_t>(planes.count);
  std::vector<uint8_t> tableBytes(usedEntries * 2);
  stream.ReadBuffer(tableBytes.data(), tableBytes.size());
  stream.Skip(static_cast<int64_t>((tableEntries - usedEntries) * 2));
  TByteReader table(tableBytes);
  std::vector<uint64_t> offsets(usedEntries + 1, 0);
  for (size_t i = 0; i < usedEntries; ++i) offsets[i + 1] = offsets[i] + table.U16BE();
  RequireRemaining(stream, offsets.back());
  std::vector<uint8_t> packedBytes(static_cast<size_t>(offsets.back()));
  stream.ReadBuffer(packedBytes.data(), packedBytes.size());
  const std::span<const uint8_t> packed(packedBytes);
  for (uint32_t y = 0; y < height; ++y) {
    for (int k = 0; k < planes.count; ++k) {
      const size_t entry = size_t{height} * static_cast<size_t>(k) + y;
      const auto runs = packed.subspan(static_cast<size_t>(offsets[entry]),
                                       static_cast<size_t>(offsets[entry + 1] - offsets[entry]));
      std::vector<uint8_t>& row = planes.rows[static_cast<size_t>(k)];
      const size_t produced =
          TPackbitsRLEDecoder::Decode(runs.data(), runs.size(), row.data(), row.size());
      // A row that ends early shows the rest as sample 0.
      std::fill(row.begin() + static_cast<std::ptrdiff_t>(produced), row.end(), 0);
    }
    EmitRow(planes, y);
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
