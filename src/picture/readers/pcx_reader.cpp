#include "picture/readers/pcx_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
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

// Feeds the decoder from the stream in large pieces, never past `limit`; a
// refill keeps the bytes the decoder has not used yet.
class TInputWindow {
 public:
  TInputWindow(TStream& stream, int64_t limit)
      : stream_(stream), limit_(limit), buffer_(kCapacity) {
    next = end = buffer_.data();
  }

  // Reads more after the unused bytes; false when there is no more.
  bool Refill() {
    const size_t keep = static_cast<size_t>(end - next);
    std::memmove(buffer_.data(), next, keep);
    const int64_t left = std::max<int64_t>(limit_ - stream_.Position(), 0);
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, kCapacity - keep));
    const size_t got = want == 0 ? 0 : stream_.Read(buffer_.data() + keep, want);
    next = buffer_.data();
    end = next + keep + got;
    return got != 0;
  }

  const uint8_t* next = nullptr;
  const uint8_t* end = nullptr;

 private:
  static constexpr int64_t kCapacity = int64_t{64} << 10;
  TStream& stream_;
  int64_t limit_;
  std::vector<uint8_t> buffer_;
};

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
void CombinePlanes(const uint8_t* line, size_t bytesPerLine, uint32_t pixels, uint8_t* row) {
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

}  // namespace

TPCXHeader TPCXHeader::Parse(const uint8_t* b) {
  auto u16 = [b](size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); };
  TPCXHeader h;
  h.manufacturer = b[0];
  h.version = b[1];
  h.encoding = b[2];
  h.bitsPerPlane = b[3];
  h.xMin = u16(4);
  h.yMin = u16(6);
  h.xMax = u16(8);
  h.yMax = u16(10);
  h.xResolution = u16(12);
  h.yResolution = u16(14);
  std::memcpy(h.colorMap, b + 16, sizeof h.colorMap);
  h.planes = b[65];
  h.bytesPerLine = u16(66);
  h.paletteInfo = u16(68);
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
  uint8_t raw[TPCXHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  stream.Seek(start);
  return TPCXHeader::Parse(raw).LooksValid();
}

bool TPCXGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  uint8_t raw[TPCXHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TPCXHeader h = TPCXHeader::Parse(raw);
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

void TPCXGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  const int64_t base = stream.Position();
  if (!ReadHeaderInfo(stream, 0)) throw EInvalidGraphic(NotValidMessage());
  stream.Seek(base);
  uint8_t raw[TPCXHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TPCXHeader h = TPCXHeader::Parse(raw);
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
  const PixelLayout layout = fourPlanes16 ? PixelLayout::Bits4 : cm.TargetLayout();

  const int32_t width = p.width;
  const int32_t height = p.height;
  // Crossed corners, or lines too short for the width, would have the
  // planes overlap or run off the line.
  if (width <= 0 || height <= 0 ||
      uint64_t{h.bytesPerLine} * 8 < uint64_t(width) * h.bitsPerPlane) {
    throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, "PCX"));
  }

  SetLayout(layout);

  // The pixel area runs to the end of the file, less a trailing palette
  // block of an 8-bit picture when there is one.
  int64_t areaEnd = stream.Size();
  bool paletteBlock = false;
  TPalette blockPalette;
  if (layout == PixelLayout::Bits8 &&
      areaEnd - kPaletteBlockSize >= base + int64_t{TPCXHeader::kSize}) {
    uint8_t block[kPaletteBlockSize];
    stream.Seek(areaEnd - kPaletteBlockSize);
    stream.ReadBuffer(block, sizeof block);
    if (block[0] == kPaletteBlockMark) {
      paletteBlock = true;
      areaEnd -= kPaletteBlockSize;
      blockPalette.resize(256);
      for (size_t i = 0; i < 256; ++i) {
        blockPalette[i] = {block[1 + 3 * i], block[2 + 3 * i], block[3 + 3 * i]};
      }
    }
  }

  if (layout != PixelLayout::Bits24 && layout != PixelLayout::Bits32) {
    if (h.version == 3 && layout != PixelLayout::Bits1) {
      ApplyPalette(FixedPalette16());
    } else if (layout == PixelLayout::Bits1) {
      ApplyPalette(cm.MakeGrayPalette(false));
    } else if (layout == PixelLayout::Bits4) {
      if (h.paletteInfo == 2) {
        ApplyPalette(cm.MakeGrayPalette(false));
      } else {
        const uint32_t entries = std::min<uint32_t>(16, 1u << bitsPerPixel);
        ApplyPalette(
            cm.MakeColorPalette(h.colorMap, PaletteSourceFormat::Interleaved8, false, entries));
      }
    } else if (paletteBlock) {
      ApplyPalette(std::move(blockPalette));
    } else if (h.paletteInfo == 2) {
      ApplyPalette(cm.MakeGrayPalette(false));
    }
  }

  // A run-length byte pair makes at most 63 bytes of a line.
  RequireDataForClaim(*this, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                      uint64_t{h.LineLength()} * static_cast<uint64_t>(height),
                      areaEnd - base - int64_t{TPCXHeader::kSize},
                      h.RunLength() ? (kMaxPCXRunLength + 1) / 2 : 1);

  SetImageWidth(width);
  SetImageHeight(height);

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

  stream.Seek(base + int64_t{TPCXHeader::kSize});
  TInputWindow window(stream, areaEnd);
  TPCXRLEDecoder decoder;
  for (int32_t y = 0; y < height; ++y) {
    size_t got = 0;
    if (h.RunLength()) {
      for (;;) {
        got += decoder.Decode(window.next, window.end, line.data() + got, lineLength - got);
        if (got == lineLength || !window.Refill()) break;
      }
    } else {
      const int64_t left = std::max<int64_t>(areaEnd - stream.Position(), 0);
      got = stream.Read(line.data(), static_cast<size_t>(std::min<int64_t>(left, lineLength)));
    }
    // A short line gives the pixels whose every plane arrived; the rest of
    // the picture keeps its white fill.
    uint32_t pixels = static_cast<uint32_t>(width);
    if (got < lineLength) {
      const size_t lastPlaneBytes = got > lastPlane ? got - lastPlane : 0;
      pixels = static_cast<uint32_t>(
          std::min<uint64_t>(pixels, uint64_t{lastPlaneBytes} * 8 / h.bitsPerPlane));
    }
    if (pixels != 0) {
      uint8_t* row = RowAddress(y);
      if (fourPlanes16) {
        CombinePlanes(line.data(), bytesPerLine, pixels, row);
      } else {
        cm.ConvertPixels(sources, pixels, 0xFF, row);
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
