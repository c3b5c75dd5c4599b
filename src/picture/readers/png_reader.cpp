#include "picture/readers/png_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/png_image_data.h"

namespace quorvex {

namespace {

uint16_t BigEndian16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

[[noreturn]] void Fail(const char* message) {
  throw EInvalidGraphic(FormatMessage(message, kPNGFormatName));
}

bool OneOf(unsigned value, std::initializer_list<unsigned> allowed) {
  return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

// Samples a pixel of each colour type stores.
unsigned ChannelsOf(uint8_t colorType) {
  switch (colorType) {
    case 2:
      return 3;
    case 4:
      return 2;
    case 6:
      return 4;
    default:
      return 1;
  }
}

ColorScheme SchemeOf(uint8_t colorType) {
  switch (colorType) {
    case 0:
      return ColorScheme::Gray;
    case 2:
      return ColorScheme::RGB;
    case 3:
      return ColorScheme::Indexed;
    case 4:
      return ColorScheme::GrayAlpha;
    case 6:
      return ColorScheme::RGBA;
    default:
      return ColorScheme::UndefinedScheme;
  }
}

// A sample of `depth` bits as an 8-bit level.
uint8_t Level8(uint32_t value, unsigned depth) {
  if (depth >= 16) return static_cast<uint8_t>((value & 0xFFFF) * 255 / 65535);
  if (depth >= 8) return static_cast<uint8_t>(std::min<uint32_t>(value, 255));
  if (depth == 0) return 0;  // an invalid depth, refused once the colours are set up
  const uint32_t top = (1u << depth) - 1;
  return static_cast<uint8_t>(std::min(value, top) * 255 / top);
}

uint32_t ColorOf(const TRGB& rgb) {
  return (uint32_t{rgb.red} << 16) | (uint32_t{rgb.green} << 8) | rgb.blue;
}

}  // namespace

// What one load knows besides the bitmap.
struct TPNGGraphic::TLoad {
  explicit TLoad(TStream& stream) : chunks(stream) {}

  TPNGChunkReader chunks;
  TPNGHeader header;
  unsigned channels = 1;
  unsigned filterBpp = 1;
  bool colorsSet = false;
  bool imageDecoded = false;
  std::optional<TPalette> palette;
  std::optional<uint32_t> background;  // 0xRRGGBB
  // The tRNS value as a bitmap pixel: a gray or index value, or red, green, blue.
  std::optional<std::array<uint8_t, 3>> transparent;
};

bool TPNGGraphic::AcceptsStream(TStream& stream) {
  return HasPNGSignature(stream);
}

bool TPNGGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  const int64_t start = stream.Position();
  const std::optional<TPNGHeader> header = ReadPNGSignatureAndHeader(stream);
  if (!header) {
    stream.Seek(start);
    return false;
  }
  TImageProperties& p = properties_;
  p.width = static_cast<int32_t>(header->width);
  p.height = static_cast<int32_t>(header->height);
  p.bitsPerSample = header->bitDepth;
  p.samplesPerPixel = static_cast<uint8_t>(ChannelsOf(header->colorType));
  p.bitsPerPixel =
      static_cast<uint8_t>(std::min(255u, unsigned{header->bitDepth} * p.samplesPerPixel));
  p.compression =
      header->compression == 0 ? CompressionKind::LZ77 : CompressionKind::UndefinedCompression;
  p.interlaced = header->interlace != 0;
  p.colorScheme = SchemeOf(header->colorType);
  p.hasAlpha = p.colorScheme == ColorScheme::GrayAlpha || p.colorScheme == ColorScheme::RGBA;
  filterMethod_ = header->filter;
  if (const std::optional<uint32_t> gamma = FindPNGGamma(stream)) {
    p.fileGamma = static_cast<float>(*gamma) / 100000.0f;
  }
  stream.Seek(start);
  return true;
}

void TPNGGraphic::ReadFromStream(TStream& stream) {
  TakeFrom(nullptr);
  SetTransparentFlag(false);
  transparentColor_.reset();

  const int64_t base = stream.Position();
  if (!ReadHeaderInfo(stream, 0)) Fail(kPNGInvalidFormat);
  stream.Seek(base + 8);

  TLoad load(stream);
  // Every load starts from the same converter state, so that a reader used
  // twice neither keeps the last file's gamma nor builds the gamma table for
  // its bit depths.
  TColorManager& cm = ColorManager();
  cm.SetSourceOptions(ConversionOption::ByteSwapOption);
  cm.SetTargetOptions({});
  cm.SetSourceBitsPerSample(8);
  cm.SetTargetBitsPerSample(8);

  TPNGChunkReader& chunks = load.chunks;
  chunks.ReadHeader();  // IHDR, which the header check found
  chunks.ReadData();
  load.header = ParsePNGHeader(chunks.Data());
  load.channels = ChannelsOf(load.header.colorType);
  if (load.header.compression != 0) {
    throw EInvalidGraphic(FormatMessage(kPNGNotSupported, kPNGCompressionScheme, kPNGFormatName));
  }

  TPNGImageData data(chunks);
  data.Start();
  for (;;) {
    chunks.ReadHeader();
    if (chunks.CurrentIs(kChunkIDAT)) {
      DecodeImage(load, data);
      // The chunk after the image data is handled like an unknown one.
    } else if (chunks.CurrentIs(kChunkPLTE)) {
      ReadPalette(load);
      continue;
    } else if (chunks.CurrentIs(kChunkgAMA)) {
      ReadGamma(load);
      continue;
    } else if (chunks.CurrentIs(kChunkbKGD)) {
      ReadBackground(load);
      continue;
    } else if (chunks.CurrentIs(kChunktRNS)) {
      ReadTransparency(load);
      continue;
    }
    const uint32_t type = chunks.Current().type;
    chunks.SkipData();
    if (SameChunkType(type, kChunkIEND)) break;
    if (IsCriticalChunk(type)) throw EInvalidGraphic(kPNGCriticalChunk);
  }
  // A file without image data would otherwise load as an empty picture.
  if (!load.imageDecoded) Fail(kPNGInvalidFormat);
  data.Finish();
}

void TPNGGraphic::SetUpColors(TLoad& load) {
  const unsigned depth = load.header.bitDepth;
  ColorScheme source = ColorScheme::UndefinedScheme;
  ColorScheme target = ColorScheme::UndefinedScheme;
  int sourceSamples = 1;
  int targetSamples = 1;
  int targetBits = 8;
  PixelLayout layout = PixelLayout::Bits8;
  bool grayRamp = false;
  switch (load.header.colorType) {
    case 0:
      if (!OneOf(depth, {1, 2, 4, 8, 16})) Fail(kPNGInvalidColorFormat);
      source = target = ColorScheme::Gray;
      targetBits = depth == 2 ? 4 : depth == 16 ? 8 : static_cast<int>(depth);
      layout = depth == 1   ? PixelLayout::Bits1
               : depth <= 4 ? PixelLayout::Bits4
                            : PixelLayout::Bits8;
      grayRamp = true;
      break;
    case 2:
      if (!OneOf(depth, {8, 16})) Fail(kPNGInvalidColorFormat);
      source = ColorScheme::RGB;
      target = ColorScheme::BGR;
      sourceSamples = targetSamples = 3;
      layout = PixelLayout::Bits24;
      break;
    case 3:
      if (!OneOf(depth, {1, 2, 4, 8})) Fail(kPNGInvalidColorFormat);
      source = target = ColorScheme::Indexed;
      targetBits = depth == 2 ? 4 : static_cast<int>(depth);
      layout = depth == 1   ? PixelLayout::Bits1
               : depth <= 4 ? PixelLayout::Bits4
                            : PixelLayout::Bits8;
      break;
    case 4:
      if (!OneOf(depth, {8, 16})) Fail(kPNGInvalidColorFormat);
      source = ColorScheme::GrayAlpha;
      target = ColorScheme::Indexed;
      grayRamp = true;
      break;
    case 6:
      if (!OneOf(depth, {8, 16})) Fail(kPNGInvalidColorFormat);
      source = ColorScheme::RGBA;
      target = ColorScheme::BGRA;
      sourceSamples = targetSamples = 4;
      layout = PixelLayout::Bits32;
      break;
    default:
      Fail(kPNGInvalidColorFormat);
  }
  TColorManager& cm = ColorManager();
  cm.SetSourceColorScheme(source);
  cm.SetSourceBitsPerSample(static_cast<int>(depth));
  cm.SetSourceSamplesPerPixel(sourceSamples);
  cm.SetTargetColorScheme(target);
  cm.SetTargetBitsPerSample(targetBits);
  cm.SetTargetSamplesPerPixel(targetSamples);
  SetLayout(layout);
  if (grayRamp) load.palette = cm.MakeGrayPalette(false);
  load.filterBpp = std::max(1u, depth * load.channels / 8);
  load.colorsSet = true;
}

void TPNGGraphic::ReadPalette(TLoad& load) {
  TPNGChunkReader& chunks = load.chunks;
  if (chunks.DataLength() % 3 != 0) Fail(kPNGInvalidPalette);
  chunks.ReadData();
  if (load.header.colorType != 3) return;
  SetUpColors(load);
  const auto count =
      static_cast<uint32_t>(std::min<size_t>(chunks.DataLength() / 3, kMaxPaletteEntries));
  // A 2-bit image's palette is spread over 16 entries, the way its values are.
  load.palette = ColorManager().MakeColorPalette(TSampleSources(chunks.Data()),
                                                 PaletteSourceFormat::Interleaved8, false, count);
}

void TPNGGraphic::ReadGamma(TLoad& load) {
  TPNGChunkReader& chunks = load.chunks;
  chunks.ReadData();
  if (chunks.DataLength() < 4) return;
  TColorManager& cm = ColorManager();
  cm.SetGamma(static_cast<float>(BigEndian32(chunks.Data())) / 100000.0f, 2.2f);
  cm.SetTargetOptions(cm.TargetOptions().Include(ConversionOption::GammaOption));
}

void TPNGGraphic::ReadBackground(TLoad& load) {
  TPNGChunkReader& chunks = load.chunks;
  chunks.ReadData();
  const uint8_t* d = chunks.Data();
  const size_t length = chunks.DataLength();
  const unsigned depth = load.header.bitDepth;
  switch (load.header.colorType) {
    case 3:
      if (length >= 1 && load.palette && d[0] < load.palette->size()) {
        load.background = ColorOf((*load.palette)[d[0]]);
      }
      break;
    case 0:
    case 4:
      if (length >= 2) {
        const uint32_t gray = Level8(BigEndian16(d), depth);
        load.background = gray * 0x010101u;
      }
      break;
    case 2:
    case 6:
      if (length >= 6) {
        load.background = (uint32_t{Level8(BigEndian16(d), depth)} << 16) |
                          (uint32_t{Level8(BigEndian16(d + 2), depth)} << 8) |
                          Level8(BigEndian16(d + 4), depth);
      }
      break;
    default:
      break;
  }
}

void TPNGGraphic::ReadTransparency(TLoad& load) {
  TPNGChunkReader& chunks = load.chunks;
  chunks.ReadData();
  const uint8_t* d = chunks.Data();
  const size_t length = chunks.DataLength();
  const unsigned depth = load.header.bitDepth;
  // The value as the bitmap stores it: scaled like the pixels.
  auto pixelValue = [depth](uint16_t value) -> uint8_t {
    if (depth == 16) return static_cast<uint8_t>(value * 255u / 65535u);
    if (depth == 2) return static_cast<uint8_t>((value & 3u) * 5u);
    return static_cast<uint8_t>(std::min<unsigned>(value, 255));
  };
  if (load.header.colorType == 0 && length >= 2) {
    const uint8_t v = pixelValue(BigEndian16(d));
    load.transparent = std::array<uint8_t, 3>{v, v, v};
  } else if (load.header.colorType == 2 && length >= 6) {
    load.transparent = std::array<uint8_t, 3>{
        pixelValue(BigEndian16(d)), pixelValue(BigEndian16(d + 2)), pixelValue(BigEndian16(d + 4))};
  }
}

void TPNGGraphic::DecodeImage(TLoad& load, TPNGImageData& data) {
  if (!load.colorsSet) SetUpColors(load);
  if (load.palette) ApplyPalette(load.palette);
  // Deflate makes at most 1032 bytes of one.
  const TPNGHeader& h = load.header;
  RequireDataForClaim(*this, h.width, h.height,
                      PNGRowLength(h.width, h.bitDepth, load.channels) * h.height, data.InputLeft(),
                      1032);
  // New storage is filled with the background, white unless a bKGD chunk
  // says otherwise. The rows overwrite it.
  SetImageSize(static_cast<int32_t>(h.width), static_cast<int32_t>(h.height),
               load.background.value_or(kWhiteFill));

  if (load.transparent) {
    const auto& t = *load.transparent;
    if (load.header.colorType == 0) {
      if (load.palette && t[0] < load.palette->size()) {
        transparentColor_ = ColorOf((*load.palette)[t[0]]);
      }
    } else {
      TColorManager& cm = ColorManager();
      const bool gamma = cm.TargetOptions().Contains(ConversionOption::GammaOption);
      auto level = [&](uint8_t v) -> uint32_t { return gamma ? cm.GammaTable()[v] : v; };
      transparentColor_ = (level(t[0]) << 16) | (level(t[1]) << 8) | level(t[2]);
    }
    SetTransparentFlag(true);
  }

  load.imageDecoded = true;
  DecodeRows(load, data);
  data.SkipRemainingChunks();
}

void TPNGGraphic::DecodeRows(TLoad& load, TPNGImageData& data) {
  const TPNGHeader& h = load.header;
  const uint32_t width = h.width;
  const uint32_t height = h.height;
  const unsigned bpp = load.filterBpp;
  TColorManager& cm = ColorManager();

  // Pass geometry: one full-size pass, or the seven Adam7 passes.
  struct Pass {
    uint32_t startRow, rowStep, rows;
    uint64_t rowLength;
    uint8_t mask;
  };
  std::vector<Pass> passes;
  if (h.interlace == 0) {
    passes.push_back({0, 1, height, PNGRowLength(width, h.bitDepth, load.channels), 0xFF});
  } else {
    for (const TAdam7Pass& a : kAdam7Passes) {
      const uint32_t passWidth = Adam7PassWidth(a, width);
      const uint32_t rows = Adam7PassHeight(a, height);
      if (passWidth == 0 || rows == 0) continue;
      passes.push_back({a.startRow, a.rowStep, rows,
                        PNGRowLength(passWidth, h.bitDepth, load.channels), a.writeMask});
    }
  }
  uint64_t total = 0;
  uint64_t largest = 0;
  for (const Pass& p : passes) {
    total += p.rowLength * p.rows;
    largest = std::max(largest, p.rowLength);
  }
  if (largest > kMaxStorageBytes) throw EOutOfResources(kOutOfResources);
  data.Expect(total);

  std::vector<uint8_t> first(largest), second(largest);
  uint8_t* current = first.data();
  uint8_t* previous = second.data();
  for (const Pass& p : passes) {
    const auto rowLength = static_cast<size_t>(p.rowLength);
    std::memset(previous, 0, rowLength);
    uint32_t y = p.startRow;
    for (uint32_t r = 0; r < p.rows; ++r, y += p.rowStep) {
      const uint8_t* row = nullptr;
      const size_t got = data.NextRow(rowLength, current, &row);
      if (got == rowLength) {
        current[0] = row[0];
        UnfilterPNGRow(row[0], row + 1, current + 1, previous + 1, rowLength - 1, bpp);
      } else {
        // The image data ended early: the rest of the row is what the
        // buffer held before.
        if (got != 0 && row != current) std::memcpy(current, row, got);
        UnfilterPNGRow(current[0], current + 1, current + 1, previous + 1, rowLength - 1, bpp);
      }
      cm.ConvertPixels(TSampleSources(current + 1), width, p.mask,
                       RowAddress(static_cast<int32_t>(y)));
      std::swap(current, previous);
    }
  }
}

void RegisterPNGFormats(TFileFormatList& list) {
  list.AddFormat("png", "Portable network graphic images", "Portable network graphic images", false,
                 ClassOf<TPNGGraphic>());
}

}  // namespace quorvex
