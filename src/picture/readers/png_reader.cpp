#include "picture/readers/png_reader.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>
#include <vector>

#include "picture/byte_input.h"
#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/image_limits.h"
#include "picture/pixel_codec.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/png_image_data.h"

namespace quorvex {

namespace {

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
uint32_t ColorOf(uint32_t red, uint32_t green, uint32_t blue) {
  return (red << 16) | (green << 8) | blue;
}

// A tRNS value as the bitmap stores it: scaled like the pixels.
uint8_t StoredLevel(uint16_t value, unsigned depth) {
  if (depth == 16) return static_cast<uint8_t>(value * 255u / 65535u);
  if (depth == 2) return static_cast<uint8_t>((value & 3u) * 5u);
  return static_cast<uint8_t>(std::min<unsigned>(value, 255));
}

// How the samples of one colour type and depth are converted and stored.
struct TColorSetup {
  ColorScheme source = ColorScheme::UndefinedScheme;
  ColorScheme target = ColorScheme::UndefinedScheme;
  int samples = 1;  // of source and target alike
  int targetBits = 8;
  PixelLayout layout = PixelLayout::Bits8;
  bool grayRamp = false;
};

bool DepthAllowed(uint8_t colorType, unsigned depth) {
  switch (colorType) {
    case 0:
      return OneOf(depth, {1, 2, 4, 8, 16});
    case 3:
      return OneOf(depth, {1, 2, 4, 8});
    case 2:
    case 4:
    case 6:
      return OneOf(depth, {8, 16});
    default:
      return false;
  }
}

// Gray and index values keep their bits, but two-bit ones widen to four and
// sixteen-bit ones narrow to eight.
int ValueBits(unsigned depth) {
  return depth == 2 ? 4 : depth == 16 ? 8 : static_cast<int>(depth);
}
PixelLayout ValueLayout(unsigned depth) {
  return depth == 1 ? PixelLayout::Bits1 : depth <= 4 ? PixelLayout::Bits4 : PixelLayout::Bits8;
}

// For a depth that DepthAllowed accepts.
TColorSetup ColorSetupOf(uint8_t colorType, unsigned depth) {
  using enum ColorScheme;
  switch (colorType) {
    case 0:
      return {Gray, Gray, 1, ValueBits(depth), ValueLayout(depth), true};
    case 2:
      return {RGB, BGR, 3, 8, PixelLayout::Bits24, false};
    case 3:
      return {Indexed, Indexed, 1, ValueBits(depth), ValueLayout(depth), false};
    case 4:
      return {GrayAlpha, Indexed, 1, 8, PixelLayout::Bits8, true};
    default:
      return {RGBA, BGRA, 4, 8, PixelLayout::Bits32, false};
  }
}

// Every pixel in one colour (0xRRGGBB), the nearest table entry at 8 bits
// per pixel or fewer, and the row padding zero.
void FillBackground(TBitmap& bitmap, uint32_t rgb) {
  const int32_t width = bitmap.ImageWidth();
  const int32_t height = bitmap.ImageHeight();
  if (width == 0 || height == 0) return;
  const uint16_t bits = bitmap.BitsPerPixel();
  const std::span<uint8_t> first = bitmap.RowBytes(0);
  std::ranges::fill(first, uint8_t{0});
  if (bits <= 8) {
    const std::vector<uint32_t>& table = bitmap.ColorTable();
    const uint32_t index = NearestColorIndex(table, rgb, table.size());
    for (int32_t x = 0; x < width; ++x) WritePixelIndex(first.data(), x, bits, index);
  } else {
    for (int32_t x = 0; x < width; ++x) WriteDirectPixel(first.data(), x, bits, rgb & 0xFFFFFFu);
  }
  for (int32_t y = 1; y < height; ++y) std::ranges::copy(first, bitmap.RowBytes(y).begin());
}

// Undoes the filter of one stored row (filter byte first) into `row`
// against `previous`.
void UnfilterRow(std::span<const uint8_t> stored, std::span<uint8_t> row,
                 std::span<const uint8_t> previous, unsigned bpp) {
  const size_t length = row.size() - 1;
  if (stored.size() == row.size()) {
    row[0] = stored[0];
    UnfilterPNGRow(stored[0], stored.data() + 1, row.data() + 1, previous.data() + 1, length, bpp);
    return;
  }
  // The image data ended early: the rest of the row is what the buffer held
  // before.
  if (!stored.empty() && stored.data() != row.data()) std::ranges::copy(stored, row.begin());
  UnfilterPNGRow(row[0], row.data() + 1, row.data() + 1, previous.data() + 1, length, bpp);
}

}  // namespace

// What one load knows besides the bitmap.
struct TPNGGraphic::TLoad {
  TLoad(TStream& stream, const TPNGHeader& ihdr)
      : chunks(stream), header(ihdr), channels(ChannelsOf(ihdr.colorType)) {}

  TPNGChunkReader chunks;
  TPNGHeader header;
  unsigned channels = 1;
  unsigned filterBpp = 1;
  PixelLayout layout = PixelLayout::Bits8;
  bool colorsSet = false;
  bool imageDecoded = false;
  std::optional<TPalette> palette;
  std::optional<uint32_t> background;  // 0xRRGGBB
  // The tRNS value as a bitmap pixel: a gray or index value, or red, green, blue.
  std::optional<std::array<uint8_t, 3>> transparent;
};

// One full-size pass, or one of the seven Adam7 passes.
struct TPNGGraphic::TPass {
  uint32_t startRow = 0;
  uint32_t rowStep = 1;
  uint32_t rows = 0;
  uint64_t rowLength = 0;  // filter byte included
  uint8_t mask = 0xFF;
};

bool TPNGGraphic::AcceptsStream(TStream& stream) {
  return HasPNGSignature(stream);
}

bool TPNGGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  const int64_t start = stream.Position();
  header_ = ReadPNGSignatureAndHeader(stream);
  if (!header_) {
    stream.Seek(start);
    return false;
  }
  const TPNGHeader& h = header_->ihdr;
  TImageProperties& p = properties_;
  p.width = static_cast<int32_t>(h.width);
  p.height = static_cast<int32_t>(h.height);
  p.bitsPerSample = h.bitDepth;
  p.samplesPerPixel = static_cast<uint8_t>(ChannelsOf(h.colorType));
  p.bitsPerPixel = static_cast<uint8_t>(std::min(255u, unsigned{h.bitDepth} * p.samplesPerPixel));
  p.compression =
      h.compression == 0 ? CompressionKind::LZ77 : CompressionKind::UndefinedCompression;
  p.interlaced = h.interlace != 0;
  p.colorScheme = SchemeOf(h.colorType);
  p.hasAlpha = p.colorScheme == ColorScheme::GrayAlpha || p.colorScheme == ColorScheme::RGBA;
  filterMethod_ = h.filter;
  if (const std::optional<uint32_t> gamma = FindPNGGamma(stream)) {
    p.fileGamma = static_cast<float>(*gamma) / 100000.0f;
  }
  stream.Seek(start);
  return true;
}

void TPNGGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  SetTransparentFlag(false);
  transparentColor_.reset();
  if (!headerUsable) Fail(kPNGInvalidFormat);
  StartConverter();
  // The IHDR chunk was read with the header; its CRC is checked here.
  if (!header_->crcPresent) throw EReadError(kStreamReadError);
  if (!header_->crcMatches) throw EInvalidGraphic(FormatMessage(kPNGCRCError, kPNGFormatName));
  if (header_->ihdr.compression != 0) {
    throw EInvalidGraphic(FormatMessage(kPNGNotSupported, kPNGCompressionScheme, kPNGFormatName));
  }
  stream.Seek(start + static_cast<int64_t>(TPNGFileHeader::kSize));
  TLoad load(stream, header_->ihdr);
  TPNGImageData data(load.chunks);
  data.Start();
  ReadChunks(load, data);
  // A file without image data would otherwise load as an empty picture.
  if (!load.imageDecoded) Fail(kPNGInvalidFormat);
  data.Finish();
}

// Every load starts from the same converter state, so that a reader used
// twice neither keeps the last file's gamma nor builds the gamma table for
// its bit depths.
void TPNGGraphic::StartConverter() {
  TColorManager& cm = ColorManager();
  cm.SetSourceOptions(ConversionOption::ByteSwapOption);
  cm.SetTargetOptions({});
  cm.SetSourceBitsPerSample(8);
  cm.SetTargetBitsPerSample(8);
}

void TPNGGraphic::ReadChunks(TLoad& load, TPNGImageData& data) {
  TPNGChunkReader& chunks = load.chunks;
  for (;;) {
    chunks.ReadHeader();
    if (HandleChunk(load)) continue;
    // The chunk after the image data is passed over like an unknown one.
    if (chunks.CurrentIs(kChunkIDAT)) DecodeImage(load, data);
    const uint32_t type = chunks.Current().type;
    chunks.SkipData();
    if (SameChunkType(type, kChunkIEND)) return;
    if (IsCriticalChunk(type)) throw EInvalidGraphic(kPNGCriticalChunk);
  }
}

// Hands the chunks read before the image data to their handlers; false for
// the others.
bool TPNGGraphic::HandleChunk(TLoad& load) {
  struct THandler {
    uint32_t type;
    void (TPNGGraphic::*read)(TLoad&);
  };
  static constexpr THandler kHandlers[] = {
      {kChunkPLTE, &TPNGGraphic::ReadPalette},
      {kChunkgAMA, &TPNGGraphic::ReadGamma},
      {kChunkbKGD, &TPNGGraphic::ReadBackground},
      {kChunktRNS, &TPNGGraphic::ReadTransparency},
  };
  for (const THandler& handler : kHandlers) {
    if (load.chunks.CurrentIs(handler.type)) {
      (this->*handler.read)(load);
      return true;
    }
  }
  return false;
}

void TPNGGraphic::SetUpColors(TLoad& load) {
  const unsigned depth = load.header.bitDepth;
  if (!DepthAllowed(load.header.colorType, depth)) Fail(kPNGInvalidColorFormat);
  const TColorSetup setup = ColorSetupOf(load.header.colorType, depth);
  TColorManager& cm = ColorManager();
  cm.SetSourceColorScheme(setup.source);
  cm.SetSourceBitsPerSample(static_cast<int>(depth));
  cm.SetSourceSamplesPerPixel(setup.samples);
  cm.SetTargetColorScheme(setup.target);
  cm.SetTargetBitsPerSample(setup.targetBits);
  cm.SetTargetSamplesPerPixel(setup.samples);
  // The claimed size is weighed at this layout before the storage is made.
  SetLayout(setup.layout);
  load.layout = setup.layout;
  if (setup.grayRamp) load.palette = cm.MakeGrayPalette(false);
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
  load.palette = ColorManager().MakeColorPalette(TSampleSources(chunks.Data().data()),
                                                 PaletteSourceFormat::Interleaved8, false, count);
}

void TPNGGraphic::ReadGamma(TLoad& load) {
  load.chunks.ReadData();
  TByteReader data(load.chunks.Data());
  if (!data.Has(4)) return;
  TColorManager& cm = ColorManager();
  cm.SetGamma(static_cast<float>(data.U32BE()) / 100000.0f, 2.2f);
  cm.SetTargetOptions(cm.TargetOptions().Include(ConversionOption::GammaOption));
}

void TPNGGraphic::ReadBackground(TLoad& load) {
  load.chunks.ReadData();
  TByteReader data(load.chunks.Data());
  const unsigned depth = load.header.bitDepth;
  switch (load.header.colorType) {
    case 3:
      if (data.Has(1)) {
        const uint8_t index = data.U8();
        if (load.palette && index < load.palette->size()) {
          load.background = ColorOf((*load.palette)[index]);
        }
      }
      break;
    case 0:
    case 4:
      if (data.Has(2)) load.background = Level8(data.U16BE(), depth) * 0x010101u;
      break;
    case 2:
    case 6:
      if (data.Has(6)) {
        const uint8_t red = Level8(data.U16BE(), depth);
        const uint8_t green = Level8(data.U16BE(), depth);
        load.background = ColorOf(red, green, Level8(data.U16BE(), depth));
      }
      break;
    default:
      break;
  }
}

void TPNGGraphic::ReadTransparency(TLoad& load) {
  load.chunks.ReadData();
  TByteReader data(load.chunks.Data());
  const unsigned depth = load.header.bitDepth;
  if (load.header.colorType == 0 && data.Has(2)) {
    const uint8_t v = StoredLevel(data.U16BE(), depth);
    load.transparent = std::array<uint8_t, 3>{v, v, v};
  } else if (load.header.colorType == 2 && data.Has(6)) {
    const uint8_t red = StoredLevel(data.U16BE(), depth);
    const uint8_t green = StoredLevel(data.U16BE(), depth);
    load.transparent = std::array<uint8_t, 3>{red, green, StoredLevel(data.U16BE(), depth)};
  }
}

void TPNGGraphic::DecodeImage(TLoad& load, TPNGImageData& data) {
  if (!load.colorsSet) SetUpColors(load);
  MakeCanvas(load, data);
  if (load.transparent) MarkTransparent(load);
  load.imageDecoded = true;
  DecodeRows(load, data);
  data.SkipRemainingChunks();
}

void TPNGGraphic::MakeCanvas(const TLoad& load, const TPNGImageData& data) {
  const TPNGHeader& h = load.header;
  // Deflate makes at most 1032 bytes of one.
  RequireDataForClaim(
      *this, h.width, h.height,
      SaturatingProduct({PNGRowLength(h.width, h.bitDepth, load.channels), h.height}),
      data.InputLeft(), 1032);
  Reallocate(static_cast<int32_t>(h.width), static_cast<int32_t>(h.height), load.layout,
             load.palette);
  // The rows overwrite every pixel but not the padding, and a load that
  // fails halfway leaves the rest: white unless a bKGD chunk says otherwise.
  FillBackground(*this, load.background.value_or(kWhiteFill));
}

void TPNGGraphic::MarkTransparent(const TLoad& load) {
  const auto& t = *load.transparent;
  if (load.header.colorType == 0) {
    if (load.palette && t[0] < load.palette->size()) {
      transparentColor_ = ColorOf((*load.palette)[t[0]]);
    }
  } else {
    TColorManager& cm = ColorManager();
    const bool gamma = cm.TargetOptions().Contains(ConversionOption::GammaOption);
    const auto& table = cm.GammaTable();
    transparentColor_ =
        gamma ? ColorOf(table[t[0]], table[t[1]], table[t[2]]) : ColorOf(t[0], t[1], t[2]);
  }
  SetTransparentFlag(true);
}

void TPNGGraphic::DecodeRows(TLoad& load, TPNGImageData& data) {
  const std::vector<TPass> passes = PassesOf(load.header, load.channels);
  uint64_t total = 0;
  uint64_t largest = 0;
  for (const TPass& p : passes) {
    total += SaturatingProduct({p.rowLength, p.rows});
    largest = std::max(largest, p.rowLength);
  }
  const auto rowBuffer = static_cast<size_t>(StorageBytes({largest}));
  data.Expect(total);
  std::vector<uint8_t> first(rowBuffer), second(rowBuffer);
  std::span<uint8_t> current(first);
  std::span<uint8_t> previous(second);
  for (const TPass& p : passes) DecodePass(p, load, data, current, previous);
}

void TPNGGraphic::DecodePass(const TPass& pass, const TLoad& load, TPNGImageData& data,
                             std::span<uint8_t>& current, std::span<uint8_t>& previous) {
  TColorManager& cm = ColorManager();
  const auto rowLength = static_cast<size_t>(pass.rowLength);
  std::ranges::fill(previous.first(rowLength), uint8_t{0});
  uint32_t y = pass.startRow;
  for (uint32_t r = 0; r < pass.rows; ++r, y += pass.rowStep) {
    const std::span<uint8_t> row = current.first(rowLength);
    UnfilterRow(data.NextRow(row), row, previous, load.filterBpp);
    cm.ConvertPixels(TSampleSources(row.data() + 1), load.header.width, pass.mask,
                     RowBytes(static_cast<int32_t>(y)));
    std::swap(current, previous);
  }
}

std::vector<TPNGGraphic::TPass> TPNGGraphic::PassesOf(const TPNGHeader& h, unsigned channels) {
  if (h.interlace == 0) {
    return {{0, 1, h.height, PNGRowLength(h.width, h.bitDepth, channels), 0xFF}};
  }
  std::vector<TPNGGraphic::TPass> passes;
  for (const TAdam7Pass& a : kAdam7Passes) {
    const uint32_t passWidth = Adam7PassWidth(a, h.width);
    const uint32_t rows = Adam7PassHeight(a, h.height);
    if (passWidth == 0 || rows == 0) continue;
    passes.push_back(
        {a.startRow, a.rowStep, rows, PNGRowLength(passWidth, h.bitDepth, channels), a.writeMask});
  }
  return passes;
}

void RegisterPNGFormats(TFileFormatList& list) {
  list.AddFormat("png", "Portable network graphic images", "Portable network graphic images", false,
                 ClassOf<TPNGGraphic>());
}

}  // namespace quorvex
