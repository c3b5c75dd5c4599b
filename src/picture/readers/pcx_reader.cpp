#include "picture/readers/pcx_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "picture/byte_input.h"
#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/image_limits.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr const char* kInvalidColorFormat = "Invalid color format in %s file.";
// The trailing palette block of 256-colour files: a 12, then 256 triples.
constexpr int64_t kPaletteBlockSize = 769;
constexpr uint8_t kPaletteBlockMark = 12;
constexpr uint64_t kMaxPCXRunLength = 63;

// The fixed palette of version 3 files.
const TPalette& FixedPalette16() {
  static const TPalette palette = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                   {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {128, 128, 128},
                                   {192, 192, 192}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                   {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  return palette;
}

// Bit j (7 = leftmost pixel) of a plane byte, moved to the lowest bit of its
// pixel's nibble in a big-endian word of 8 four-bit pixels.
const std::array<uint32_t, 256>& NibbleSpread() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t b = 0; b < 256; ++b) {
      for (uint32_t j = 0; j < 8; ++j) {
        if (b & (0x80u >> j)) t[b] |= 1u << (28 - 4 * j);
      }
    }
    return t;
  }();
  return table;
}

// Four planes of one bit into two pixels a byte, plane k giving bit k.
void CombinePlanes(const uint8_t* line, size_t bytesPerLine, uint32_t pixels,
                   std::span<uint8_t> target) {
  uint8_t* row = target.first((size_t{pixels} * 4 + 7) / 8).data();
  const auto& spread = NibbleSpread();
  const uint8_t* p0 = line;
  const uint8_t* p1 = p0 + bytesPerLine;
  const uint8_t* p2 = p1 + bytesPerLine;
  const uint8_t* p3 = p2 + bytesPerLine;
  const size_t outBytes = (size_t{pixels} * 4 + 7) / 8;
  size_t i = 0;
  for (; (i + 1) * 4 <= outBytes; ++i, row += 4) {
    const uint32_t v =
        spread[p0[i]] | (spread[p1[i]] << 1) | (spread[p2[i]] << 2) | (spread[p3[i]] << 3);
    row[0] = static_cast<uint8_t>(v >> 24);
    row[1] = static_cast<uint8_t>(v >> 16);
    row[2] = static_cast<uint8_t>(v >> 8);
    row[3] = static_cast<uint8_t>(v);
  }
  const size_t rest = outBytes - i * 4;
  if (rest != 0) {
    const uint32_t v =
        spread[p0[i]] | (spread[p1[i]] << 1) | (spread[p2[i]] << 2) | (spread[p3[i]] << 3);
    for (size_t k = 0; k < rest; ++k) row[k] = static_cast<uint8_t>(v >> (24 - 8 * k));
  }
}

// Fills `line` from run-length data; returns the bytes written, fewer when
// the data ends.
size_t DecodeLine(TBufferedInput& input, TPCXRLEDecoder& decoder, std::span<uint8_t> line) {
  size_t got = 0;
  for (;;) {
    const std::span<const uint8_t> buffered = input.Buffered();
    const uint8_t* next = buffered.data();
    got += decoder.Decode(next, next + buffered.size(), line.data() + got, line.size() - got);
    input.Consume(static_cast<size_t>(next - buffered.data()));
    if (got == line.size() || !input.Refill()) return got;
  }
}

}  // namespace

TPCXHeader TPCXHeader::Parse(std::span<const uint8_t> bytes) {
  if (bytes.size() < kSize) throw EReadError(kStreamReadError);
  TByteReader in(bytes);
  TPCXHeader h;
  h.manufacturer = in.U8();
  h.version = in.U8();
  h.encoding = in.U8();
  h.bitsPerPlane = in.U8();
  h.xMin = in.U16LE();
  h.yMin = in.U16LE();
  h.xMax = in.U16LE();
  h.yMax = in.U16LE();
  h.xResolution = in.U16LE();
  h.yResolution = in.U16LE();
  in.ReadInto(h.colorMap);
  in.Skip(1);  // reserved
  h.planes = in.U8();
  h.bytesPerLine = in.U16LE();
  h.paletteInfo = in.U16LE();
  return h;
}

bool TPCXHeader::LooksValid() const {
  return (manufacturer == 10 || manufacturer == 12) &&
         (version == 0 || version == 2 || version == 3 || version == 5) && encoding <= 1;
}

size_t TPCXRLEDecoder::Decode(const uint8_t*& source, const uint8_t* end, uint8_t* target,
                              size_t count) {
  uint8_t* out = target;
  uint8_t* const outEnd = target + count;
  const uint8_t* in = source;
  if (left_ != 0) {
    const size_t n = std::min(left_, count);
    std::memset(out, value_, n);
    out += n;
    left_ -= n;
  }
  while (out != outEnd && in != end) {
    const uint8_t b = *in;
    if (b < 0xC0) {
      *out++ = b;
      ++in;
      continue;
    }
    if (end - in < 2) break;
    const size_t runLength = b & 0x3Fu;
    const uint8_t value = in[1];
    in += 2;
    const size_t n = std::min(runLength, static_cast<size_t>(outEnd - out));
    std::memset(out, value, n);
    out += n;
    left_ = runLength - n;
    value_ = value;
  }
  source = in;
  return static_cast<size_t>(out - target);
}

bool TPCXGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TPCXHeader::kSize)) return false;
  std::array<uint8_t, TPCXHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  stream.Seek(start);
  return TPCXHeader::Parse(raw).LooksValid();
}

bool TPCXGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  std::array<uint8_t, TPCXHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  header_ = TPCXHeader::Parse(raw);
  const TPCXHeader& h = header_;
  if (!h.Accepted()) return false;
  TImageProperties& p = properties_;
  p.width = h.Width();
  p.height = h.Height();
  p.samplesPerPixel = h.planes;
  p.bitsPerSample = h.bitsPerPlane;
  const uint32_t bitsPerPixel = uint32_t{h.planes} * h.bitsPerPlane;
  p.bitsPerPixel = static_cast<uint8_t>(bitsPerPixel);
  if (bitsPerPixel <= 8) {
    p.colorScheme = ColorScheme::Indexed;
  } else if (h.planes == 4) {
    p.colorScheme = ColorScheme::RGBA;
    p.hasAlpha = true;
  } else {
    p.colorScheme = ColorScheme::RGB;
  }
  p.compression = h.RunLength() ? CompressionKind::RunLength : CompressionKind::NoCompression;
  p.xResolution = h.xResolution;
  p.yResolution = h.yResolution;
  return true;
}

void TPCXGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  if (!headerUsable) throw EInvalidGraphic(NotValidMessage());
  const TPCXHeader& h = header_;
  const PixelLayout layout = SetUpConverter();
  CheckLineLength();
  SetLayout(layout);
  const int64_t areaEnd = ReadPaletteBlock(stream, start, layout);
  ApplyHeaderPalette(layout);

  const auto width = static_cast<uint32_t>(properties_.width);
  const auto height = static_cast<uint32_t>(properties_.height);
  // A run-length byte pair makes at most 63 bytes of a line.
  RequireDataForClaim(*this, width, height, SaturatingProduct({h.LineLength(), height}),
                      areaEnd - start - int64_t{TPCXHeader::kSize},
                      h.RunLength() ? (kMaxPCXRunLength + 1) / 2 : 1);
  SetImageWidth(properties_.width);
  SetImageHeight(properties_.height);
  blockPalette_ = {};

  stream.Seek(start + int64_t{TPCXHeader::kSize});
  ReadLines(stream, areaEnd, h.planes == 4 && h.bitsPerPlane == 1);
}

PixelLayout TPCXGraphic::SetUpConverter() {
  const TPCXHeader& h = header_;
  const TImageProperties& p = properties_;
  // Depths and plane counts out of range fail in the converter's setters.
  TColorManager& cm = ColorManager();
  const bool indexed = p.colorScheme == ColorScheme::Indexed;
  cm.SetSourceOptions({});
  cm.SetSourceColorScheme(p.colorScheme);
  cm.SetSourceBitsPerSample(h.bitsPerPlane);
  cm.SetSourceSamplesPerPixel(h.planes);
  cm.SetTargetColorScheme(indexed ? ColorScheme::Indexed
                                  : (p.hasAlpha ? ColorScheme::BGRA : ColorScheme::BGR));
  const uint32_t bitsPerPixel = uint32_t{h.planes} * h.bitsPerPlane;
  cm.SetTargetBitsPerSample(bitsPerPixel == 2 ? 4 : h.bitsPerPlane);
  cm.SetTargetSamplesPerPixel(h.planes);

  const bool fourPlanes16 = h.planes == 4 && h.bitsPerPlane == 1;
  const bool supported = (h.planes == 1 && (h.bitsPerPlane == 1 || h.bitsPerPlane == 2 ||
                                            h.bitsPerPlane == 4 || h.bitsPerPlane == 8)) ||
                         fourPlanes16 || (h.planes == 3 && h.bitsPerPlane == 8) ||
                         (h.planes == 4 && h.bitsPerPlane == 8);
  if (!supported) throw EInvalidGraphic(FormatMessage(kInvalidColorFormat, "PCX"));
  return fourPlanes16 ? PixelLayout::Bits4 : cm.TargetLayout();
}

void TPCXGraphic::CheckLineLength() const {
  // Crossed corners, or lines too short for the width, would have the
  // planes overlap or run off the line.
  const int32_t width = properties_.width;
  if (width <= 0 || properties_.height <= 0 ||
      uint64_t{header_.bytesPerLine} * 8 < uint64_t(width) * header_.bitsPerPlane) {
    throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, "PCX"));
  }
}

int64_t TPCXGraphic::ReadPaletteBlock(TStream& stream, int64_t start, PixelLayout layout) {
  // The pixel area runs to the end of the file, less a trailing palette
  // block of an 8-bit picture when there is one.
  const int64_t areaEnd = stream.Size();
  blockPalette_.clear();
  if (layout != PixelLayout::Bits8 ||
      areaEnd - kPaletteBlockSize < start + int64_t{TPCXHeader::kSize}) {
    return areaEnd;
  }
  std::array<uint8_t, kPaletteBlockSize> block;
  stream.Seek(areaEnd - kPaletteBlockSize);
  stream.ReadBuffer(block.data(), block.size());
  TByteReader in(block);
  if (in.U8() != kPaletteBlockMark) return areaEnd;
  blockPalette_.resize(256);
  for (TRGB& entry : blockPalette_) {
    const auto triple = in.Bytes(3);
    entry = {triple[0], triple[1], triple[2]};
  }
  return areaEnd - kPaletteBlockSize;
}

void TPCXGraphic::ApplyHeaderPalette(PixelLayout layout) {
  const TPCXHeader& h = header_;
  TColorManager& cm = ColorManager();
  if (layout == PixelLayout::Bits24 || layout == PixelLayout::Bits32) return;
  if (h.version == 3 && layout != PixelLayout::Bits1) {
    ApplyPalette(FixedPalette16());
  } else if (layout == PixelLayout::Bits1) {
    ApplyPalette(cm.MakeGrayPalette(false));
  } else if (layout == PixelLayout::Bits4) {
    if (h.paletteInfo == 2) {
      ApplyPalette(cm.MakeGrayPalette(false));
    } else {
      const uint32_t entries = std::min<uint32_t>(16, 1u << (uint32_t{h.planes} * h.bitsPerPlane));
      ApplyPalette(
          cm.MakeColorPalette(h.colorMap, PaletteSourceFormat::Interleaved8, false, entries));
    }
  } else if (!blockPalette_.empty()) {
    ApplyPalette(std::move(blockPalette_));
  } else if (h.paletteInfo == 2) {
    ApplyPalette(cm.MakeGrayPalette(false));
  }
}

void TPCXGraphic::ReadLines(TStream& stream, int64_t areaEnd, bool fourPlanes16) {
  const TPCXHeader& h = header_;
  const size_t bytesPerLine = h.bytesPerLine;
  const size_t lineLength = h.LineLength();
  std::vector<uint8_t> line(lineLength);
  const uint8_t* planes[4] = {};
  for (size_t k = 0; k < h.planes; ++k) planes[k] = line.data() + k * bytesPerLine;
  const TSampleSources sources = h.planes == 1 ? TSampleSources(planes[0])
                                 : h.planes == 3
                                     ? TSampleSources(planes[0], planes[1], planes[2])
                                     : TSampleSources(planes[0], planes[1], planes[2], planes[3]);
  const size_t lastPlane = (h.planes - 1) * bytesPerLine;
  const uint32_t width = static_cast<uint32_t>(properties_.width);

  TBufferedInput input(stream, std::max<int64_t>(areaEnd - stream.Position(), 0));
  TPCXRLEDecoder decoder;
  for (int32_t y = 0; y < properties_.height; ++y) {
    const size_t got = h.RunLength() ? DecodeLine(input, decoder, line) : input.ReadSome(line);
    // A short line gives the pixels whose every plane arrived; the rest of
    // the picture keeps its white fill.
    uint32_t pixels = width;
    if (got < lineLength) {
      const size_t lastPlaneBytes = got > lastPlane ? got - lastPlane : 0;
      pixels = static_cast<uint32_t>(
          std::min<uint64_t>(pixels, uint64_t{lastPlaneBytes} * 8 / h.bitsPerPlane));
    }
    if (pixels != 0) {
      const std::span<uint8_t> row = RowBytes(y);
      if (fourPlanes16) {
        CombinePlanes(line.data(), bytesPerLine, pixels, row);
      } else {
        ColorManager().ConvertPixels(sources, pixels, 0xFF, row);
      }
    }
    if (got < lineLength) break;
  }
}

void RegisterPCXFormats(TFileFormatList& list) {
  const TGraphicClass& pcx = ClassOf<TPCXGraphic>();
  list.AddFormat("pcx", "ZSoft Paintbrush images", "ZSoft Paintbrush images", false, pcx);
  list.AddFormat("pcc", "", "ZSoft Paintbrush images", false, pcx);
  list.AddFormat("scr", "", "Word 5.x screen capture images", false, pcx);
}

}  // namespace quorvex
