#include "picture/readers/tiff_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/readers/ccitt_decoder.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/lz77_decoder.h"
#include "picture/readers/packbits_decoder.h"
#include "picture/readers/thunderscan_decoder.h"
#include "picture/readers/tiff_directory.h"
#include "picture/readers/tiff_jpeg_decoder.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

// Compressed strips without byte counts are read up to the end of the file,
// but no further than this many times their decoded size (plus a little):
// enough for any sensible code, and it keeps a file of many strips from
// reading the rest of the file for each one.
constexpr uint64_t kMissingByteCountFactor = 2;
constexpr uint64_t kMissingByteCountSlack = 4096;

// The most bytes of rows one byte of strip data can decode to, from each
// code's best case: a PackBits pair makes 128 bytes, deflate 1032, a
// ThunderScan run byte 63 pixels of 4 bits, Huffman-coded JPEG 512 pixels
// (one bit per block), a fax code of one bit a whole row.
uint64_t MostDecodedBytesPerByte(CompressionKind kind, uint64_t rowBytes, uint64_t pixelBytes) {
  switch (kind) {
    case CompressionKind::NoCompression:
      return 1;
    case CompressionKind::PackBits:
      return 64;
    case CompressionKind::LZ77:
      return 1032;
    case CompressionKind::ThunderScan:
      return 32;
    case CompressionKind::JPEG:
      return 512 * pixelBytes;
    default:
      return 8 * rowBytes;  // the fax codes
  }
}

// The strip bytes the file really has: each strip from its offset, as far
// as its byte count (when there is one) and the file's end allow.
uint64_t StripBytesPresent(const TStream& stream, int64_t base,
                           const std::vector<uint32_t>& offsets,
                           const std::vector<uint32_t>& byteCounts) {
  uint64_t total = 0;
  for (size_t i = 0; i < offsets.size(); ++i) {
    const int64_t at = base + int64_t{offsets[i]};
    if (at >= stream.Size()) continue;
    uint64_t bytes = static_cast<uint64_t>(stream.Size() - at);
    if (i < byteCounts.size() && byteCounts[i] != 0) {
      bytes = std::min<uint64_t>(bytes, byteCounts[i]);
    }
    total += bytes;
  }
  return total;
}

CompressionKind KindOf(uint32_t tag) {
  switch (tag) {
    case 1:
      return CompressionKind::NoCompression;
    case 2:
      return CompressionKind::CCITTHuffman;
    case 3:
      return CompressionKind::CCITTFax3;
    case 4:
      return CompressionKind::CCITTFax4;
    case 5:
      return CompressionKind::LZW;
    case 6:
      return CompressionKind::OldJPEG;
    case 7:
      return CompressionKind::JPEG;
    case 8:
    case 32946:
      return CompressionKind::LZ77;
    case 32766:
      return CompressionKind::NeXT;
    case 32771:
      return CompressionKind::CCITTWordAligned;
    case 32773:
      return CompressionKind::PackBits;
    case 32809:
      return CompressionKind::ThunderScan;
    case 32895:
      return CompressionKind::IT8CTPAD;
    case 32896:
      return CompressionKind::IT8LW;
    case 32897:
      return CompressionKind::IT8MP;
    case 32898:
      return CompressionKind::IT8BL;
    case 32908:
      return CompressionKind::PixarFilm;
    case 32909:
      return CompressionKind::PixarLog;
    case 32947:
      return CompressionKind::DCS;
    case 34661:
      return CompressionKind::JBIG;
    default:
      return CompressionKind::UndefinedCompression;
  }
}

ColorScheme SchemeOf(uint32_t photometric, uint32_t samplesPerPixel) {
  switch (photometric) {
    case 0:
    case 1:
      return ColorScheme::Gray;
    case 2:
      return samplesPerPixel >= 4 ? ColorScheme::RGBA : ColorScheme::RGB;
    case 3:
      return ColorScheme::Indexed;
    case 5:
      return ColorScheme::CMYK;
    case 6:
      return ColorScheme::YCbCr;
    case 8:
      return ColorScheme::CIELab;
    default:
      return ColorScheme::UndefinedScheme;
  }
}

ColorScheme TargetSchemeOf(ColorScheme source) {
  switch (source) {
    case ColorScheme::RGB:
    case ColorScheme::CMY:
    case ColorScheme::CMYK:
    case ColorScheme::CIELab:
    case ColorScheme::YCbCr:
      return ColorScheme::BGR;
    case ColorScheme::RGBA:
      return ColorScheme::BGRA;
    default:
      return source;
  }
}

void ReverseBits(uint8_t* bytes, size_t count) {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
      unsigned r = 0;
      for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1u) << (7 - i);
      t[b] = static_cast<uint8_t>(r);
    }
    return t;
  }();
  for (size_t i = 0; i < count; ++i) bytes[i] = table[bytes[i]];
}

// Horizontal differencing undone: each sample adds the same sample of the
// pixel before. Samples of 16 bits add as numbers in the file's byte order;
// other widths have no predictor and stay as they are.
void UndoPredictor(uint8_t* row, size_t pixels, size_t samples, int bits, bool bigEndian) {
  if (pixels < 2) return;
  const size_t count = pixels * samples;
  if (bits == 8) {
    // The running sums stay in registers for the usual sample counts.
    if (samples == 3) {
      uint8_t r = row[0], g = row[1], b = row[2];
      for (size_t i = 3; i < count; i += 3) {
        row[i] = r = static_cast<uint8_t>(r + row[i]);
        row[i + 1] = g = static_cast<uint8_t>(g + row[i + 1]);
        row[i + 2] = b = static_cast<uint8_t>(b + row[i + 2]);
      }
    } else if (samples == 1) {
      uint8_t v = row[0];
      for (size_t i = 1; i < count; ++i) row[i] = v = static_cast<uint8_t>(v + row[i]);
    } else {
      for (size_t i = samples; i < count; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + row[i - samples]);
      }
    }
  } else if (bits == 16) {
    const size_t hi = bigEndian ? 0 : 1;
    const size_t lo = 1 - hi;
    for (size_t i = samples; i < count; ++i) {
      uint8_t* s = row + 2 * i;
      const uint8_t* p = s - 2 * samples;
      const auto v = static_cast<uint16_t>(((s[hi] << 8) | s[lo]) + ((p[hi] << 8) | p[lo]));
      s[hi] = static_cast<uint8_t>(v >> 8);
      s[lo] = static_cast<uint8_t>(v);
    }
  }
}

[[noreturn]] void FailInvalid() {
  throw EInvalidGraphic(FormatMessage(kTIFFInvalidFormat, kTIFFFormatName));
}

}  // namespace

bool TTIFFGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TTIFFHeader::kSize)) return false;
  uint8_t raw[TTIFFHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  stream.Seek(start);
  const auto header = TTIFFHeader::Parse(raw);
  return header && header->version == 42 && int64_t{header->firstIFD} < stream.Size() - start;
}

bool TTIFFGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  tiff_ = TTIFFProperties();
  const int64_t base = stream.Position();
  if (stream.Remaining() < static_cast<int64_t>(TTIFFHeader::kSize)) return false;
  uint8_t raw[TTIFFHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const auto header = TTIFFHeader::Parse(raw);
  if (!header) {
    stream.Seek(base);
    return false;
  }
  properties_.version = header->version;
  if (header->bigEndian) properties_.options |= kTIFFBigEndianOption;
  if (header->version != 42) {
    stream.Seek(base);
    return false;
  }
  uint32_t offset = header->firstIFD;
  // Later images: follow the chain, which may loop back on itself.
  std::set<uint32_t> seen{offset};
  for (int i = 0; i < imageIndex; ++i) {
    offset = TTIFFDirectory(stream, base, offset, header->bigEndian).NextIFD();
    if (offset == 0 || !seen.insert(offset).second) {
      stream.Seek(base);
      return false;
    }
  }
  const TTIFFDirectory directory(stream, base, offset, header->bigEndian);
  FillProperties(directory);
  stream.Seek(base);
  return properties_.width != 0 && properties_.height != 0;
}

void TTIFFGraphic::FillProperties(const TTIFFDirectory& d) {
  using namespace tiff_tag;
  TImageProperties& p = properties_;
  const uint32_t width = d.Value(kImageWidth, 0);
  const uint32_t height = d.Value(kImageLength, 0);
  // Sizes beyond the bitmap's range count as missing.
  p.width = width <= INT32_MAX ? static_cast<int32_t>(width) : 0;
  p.height = height <= INT32_MAX ? static_cast<int32_t>(height) : 0;
  const uint32_t bits = d.Value(kBitsPerSample, 1);
  const uint32_t samples = d.Value(kSamplesPerPixel, 1);
  p.bitsPerSample = static_cast<uint8_t>(std::min<uint32_t>(bits, 255));
  p.samplesPerPixel = static_cast<uint8_t>(std::min<uint32_t>(samples, 255));
  p.bitsPerPixel = static_cast<uint8_t>(std::min<uint64_t>(uint64_t{bits} * samples, 255));

  tiff_.compressionTag = static_cast<uint16_t>(d.Value(kCompression, 1));
  p.compression = KindOf(tiff_.compressionTag);
  tiff_.photometric = static_cast<uint16_t>(d.Value(kPhotometric, 0));
  p.colorScheme = SchemeOf(tiff_.photometric, samples);
  tiff_.minIsWhite = tiff_.photometric == 0;
  tiff_.reversedBits = d.Value(kFillOrder, 1) == 2;
  tiff_.tiled = d.Value(kTileWidth, 0) != 0 && d.Value(kTileLength, 0) != 0;
  tiff_.planarConfiguration = static_cast<uint16_t>(d.Value(kPlanarConfiguration, 1));
  tiff_.predictor = static_cast<uint16_t>(d.Value(kPredictor, 0));
  tiff_.t4Options = d.Value(kT4Options, 0);

  const std::vector<uint32_t> extra = d.Values(kExtraSamples);
  p.hasAlpha =
      !extra.empty() && std::all_of(extra.begin(), extra.end(), [](uint32_t v) { return v <= 2; });

  tiff_.rowsPerStrip = d.Values(kRowsPerStrip);
  if (tiff_.rowsPerStrip.empty() || tiff_.rowsPerStrip[0] == 0xFFFFFFFFu) {
    tiff_.rowsPerStrip = {height};
  }

  float xResolution = d.Float(kXResolution, 0, 0);
  float yResolution = d.Float(kYResolution, 0, 0);
  if (d.Value(kResolutionUnit, 2) == 3) {
    xResolution *= 2.54f;
    yResolution *= 2.54f;
  }
  p.xResolution = xResolution;
  p.yResolution = yResolution;

  for (size_t i = 0; i < 3; ++i) {
    tiff_.yCbCrCoefficients[i] = d.Float(kYCbCrCoefficients, i, tiff_.yCbCrCoefficients[i]);
  }
  const std::vector<uint32_t> subsampling = d.Values(kYCbCrSubsampling);
  if (subsampling.size() >= 2) {
    tiff_.yCbCrSubsampling = {static_cast<uint16_t>(std::min<uint32_t>(subsampling[0], 0xFFFF)),
                              static_cast<uint16_t>(std::min<uint32_t>(subsampling[1], 0xFFFF))};
  }
  tiff_.yCbCrPositioning = static_cast<uint16_t>(d.Value(kYCbCrPositioning, 1));
}

void TTIFFGraphic::SetUpColors(const TTIFFDirectory& directory) {
  const TImageProperties& p = properties_;
  TColorManager& cm = ColorManager();
  const int bits = p.bitsPerSample;
  const int samples = p.samplesPerPixel;
  const bool planar = tiff_.planarConfiguration == 2 && samples > 1;

  ColorScheme source = p.colorScheme;
  const ColorScheme target = TargetSchemeOf(p.colorScheme);
  // The JPEG decoder hands colour strips over as blue, green, red.
  if (p.compression == CompressionKind::JPEG && samples == 3 && !planar &&
      (source == ColorScheme::RGB || source == ColorScheme::YCbCr)) {
    source = ColorScheme::BGR;
  }
  if (source == ColorScheme::Indexed && p.hasAlpha) source = ColorScheme::GrayAlpha;
  // The row routines write what the scheme says, and the bitmap's layout
  // comes from the sample count: the two must agree.
  bool samplesFit = true;
  switch (source) {
    case ColorScheme::Gray:
      samplesFit = samples <= 2;  // two give a layout the bitmap refuses
      break;
    case ColorScheme::Indexed:
      samplesFit = samples == 1;
      break;
    case ColorScheme::GrayAlpha:
      samplesFit = samples == 2;
      break;
    case ColorScheme::RGB:
    case ColorScheme::BGR:
    case ColorScheme::YCbCr:
    case ColorScheme::CIELab:
      samplesFit = samples == 3;
      break;
    case ColorScheme::RGBA:
    case ColorScheme::CMYK:
      samplesFit = samples == 4;
      break;
    default:
      break;
  }
  if (!samplesFit) throw EColorConversionError(kSampleCountInvalid);

  TConversionOptions options;
  if (p.options & kTIFFBigEndianOption) options.Include(ConversionOption::ByteSwapOption);
  if (source == ColorScheme::CIELab) options.Include(ConversionOption::LabByteOption);
  cm.SetSourceOptions(options);
  cm.SetTargetOptions({});
  cm.SetSourceBitsPerSample(bits);
  // 2-bit values are scaled into the 4-bit layout, so that they keep
  // their brightness and palette entries.
  cm.SetTargetBitsPerSample(bits == 16 ? 8 : bits == 2 ? 4 : bits);
  cm.SetSourceColorScheme(source);
  cm.SetTargetColorScheme(target);
  cm.SetSourceSamplesPerPixel(samples);
  cm.SetTargetSamplesPerPixel(source == ColorScheme::CMYK        ? 3
                              : source == ColorScheme::GrayAlpha ? 1
                                                                 : samples);
  const PixelLayout layout =
      source == ColorScheme::GrayAlpha ? PixelLayout::Bits8 : cm.TargetLayout();
  SetLayout(layout);

  if (layout == PixelLayout::Bits1 || layout == PixelLayout::Bits4 ||
      layout == PixelLayout::Bits8) {
    if (target == ColorScheme::Indexed) {
      const std::vector<uint8_t> map = directory.RawBytes(tiff_tag::kColorMap);
      const TTIFFEntry* entry = directory.Find(tiff_tag::kColorMap);
      if (entry && entry->TypeSize() == 2 && map.size() >= 6) {
        const size_t listLength = map.size() / 6;
        const uint8_t* red = map.data();
        const uint8_t* green = red + 2 * listLength;
        const uint8_t* blue = green + 2 * listLength;
        const size_t entries = std::min<size_t>(listLength, size_t{1} << std::min(bits, 16));
        ApplyPalette(cm.MakeColorPalette(TSampleSources(red, green, blue),
                                         PaletteSourceFormat::Planar16, false,
                                         static_cast<uint32_t>(entries)));
      }
    } else if (target == ColorScheme::Gray) {
      ApplyPalette(cm.MakeGrayPalette(tiff_.minIsWhite));
    }
  }
  if (source == ColorScheme::YCbCr) {
    cm.SetYCbCrParameters(tiff_.yCbCrCoefficients, tiff_.yCbCrSubsampling[0],
                          tiff_.yCbCrSubsampling[1]);
  }
}

void TTIFFGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  const int64_t base = stream.Position();
  if (!ReadHeaderInfo(stream, 0)) FailInvalid();
  // Tiles are not read yet; an empty picture must not pass for a loaded one.
  if (tiff_.tiled) FailInvalid();

  uint8_t raw[TTIFFHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TTIFFHeader header = *TTIFFHeader::Parse(raw);
  const TTIFFDirectory directory(stream, base, header.firstIFD, header.bigEndian);
  const std::vector<uint32_t> offsets = directory.Values(tiff_tag::kStripOffsets);
  const std::vector<uint32_t> byteCounts = directory.Values(tiff_tag::kStripByteCounts);
  if (offsets.empty()) FailInvalid();

  const TImageProperties& p = properties_;
  const CompressionKind kind = p.compression;
  const int bits = p.bitsPerSample;
  const size_t samples = p.samplesPerPixel;
  if (kind == CompressionKind::JPEG && bits != 8) throw EJPEG(kJPEGImproperPrecision);

  // An unknown code is the better message than whatever its samples lack.
  switch (kind) {
    case CompressionKind::NoCompression:
    case CompressionKind::PackBits:
    case CompressionKind::CCITTFax3:
    case CompressionKind::CCITTHuffman:
    case CompressionKind::CCITTWordAligned:
    case CompressionKind::LZ77:
    case CompressionKind::JPEG:
    case CompressionKind::ThunderScan:
      break;
    default:
      throw EInvalidGraphic(
          FormatMessage(kTIFFNotSupported, kTIFFCompressionScheme, kTIFFFormatName));
  }
  SetUpColors(directory);
  const uint32_t width = static_cast<uint32_t>(p.width);
  const uint32_t height = static_cast<uint32_t>(p.height);

  TColorManager& cm = ColorManager();
  const bool planar = tiff_.planarConfiguration == 2 && samples > 1;
  const size_t planes = planar ? samples : 1;
  const uint64_t rowBytes64 =
      (uint64_t{planar ? uint32_t(bits) : uint32_t(bits * samples)} * width + 7) / 8;

  // Uncompressed YCbCr with subsampling stores blocks of h x v luma samples
  // followed by one Cb and one Cr; the converter takes full triples.
  const uint32_t hSub = tiff_.yCbCrSubsampling[0];
  const uint32_t vSub = tiff_.yCbCrSubsampling[1];
  const bool subsampled = cm.SourceColorScheme() == ColorScheme::YCbCr && hSub * vSub > 1;
  if (subsampled && (bits != 8 || planar)) {
    throw EColorConversionError(kNoConversionMethod);
  }
  const uint64_t blocksPerRow = subsampled ? (uint64_t{width} + hSub - 1) / hSub : 0;
  const uint32_t unitRows = subsampled ? vSub : 1;
  const uint64_t unitBytes64 = subsampled ? blocksPerRow * (hSub * vSub + 2) : rowBytes64;

  // The strips must be able to hold the picture before its storage is made,
  // so a bare header cannot claim a large one.
  const uint64_t pictureBytes = (uint64_t{height} + unitRows - 1) / unitRows * unitBytes64 * planes;
  const uint64_t pixelBytes =
      std::max<uint64_t>((uint64_t(bits) * (planar ? 1 : samples) + 7) / 8, 1);
  const uint64_t ratio =
      std::max<uint64_t>(MostDecodedBytesPerByte(kind, rowBytes64, pixelBytes), 1);
  RequireDataForClaim(*this, width, height, pictureBytes,
                      static_cast<int64_t>(StripBytesPresent(stream, base, offsets, byteCounts)),
                      ratio);
  SetImageWidth(p.width);
  SetImageHeight(p.height);

  std::unique_ptr<TStripDecoder> decoder;
  const bool reversed = tiff_.reversedBits;
  switch (kind) {
    case CompressionKind::NoCompression:
      break;
    case CompressionKind::PackBits:
      decoder = std::make_unique<TPackbitsRLEDecoder>();
      break;
    case CompressionKind::CCITTFax3:
      decoder = std::make_unique<TCCITTFax3Decoder>(tiff_.t4Options, width, reversed);
      break;
    case CompressionKind::CCITTHuffman:
    case CompressionKind::CCITTWordAligned:
      decoder = std::make_unique<TCCITTHuffmanDecoder>(width, reversed,
                                                       kind == CompressionKind::CCITTWordAligned);
      break;
    case CompressionKind::LZ77:
      decoder = std::make_unique<TLZ77Decoder>();
      break;
    case CompressionKind::JPEG:
      decoder =
          std::make_unique<TTIFFJPEGDecoder>(directory.RawBytes(tiff_tag::kJPEGTables), width,
                                             planar ? 1 : static_cast<int>(samples), p.colorScheme);
      break;
    case CompressionKind::ThunderScan:
      decoder = std::make_unique<TThunderScanDecoder>(width);
      break;
    default:
      throw EInvalidGraphic(
          FormatMessage(kTIFFNotSupported, kTIFFCompressionScheme, kTIFFFormatName));
  }
  const bool ccitt = kind == CompressionKind::CCITTFax3 || kind == CompressionKind::CCITTHuffman ||
                     kind == CompressionKind::CCITTWordAligned;
  // With fill order 2 the stored bytes, coded or not, have their bits
  // reversed. Only pictures of samples narrower than a byte are taken so:
  // wider samples under that tag come in plain order in practice. The fax
  // decoders reverse for themselves.
  const bool reverseBits = reversed && bits < 8 && !ccitt;
  const bool predict =
      kind != CompressionKind::NoCompression && tiff_.predictor == 2 && !subsampled;
  const bool bigEndian = header.bigEndian;

  const size_t rowBytes = static_cast<size_t>(rowBytes64);
  const size_t unitBytes = static_cast<size_t>(unitBytes64);
  const size_t stripsPerPlane = offsets.size() / planes;
  const std::vector<uint32_t>& rowsPerStrip = tiff_.rowsPerStrip;

  std::vector<std::vector<uint8_t>> buffers(planes);
  std::vector<size_t> got(planes);
  std::vector<uint8_t> input;
  // Expanded rows of subsampled YCbCr: v rows of full triples.
  std::vector<uint8_t> expanded(subsampled ? size_t{vSub} * width * 3 : 0);

  uint32_t y = 0;
  for (size_t strip = 0; strip < stripsPerPlane && y < height; ++strip) {
    uint32_t rows = rowsPerStrip[std::min(strip, rowsPerStrip.size() - 1)];
    if (rows == 0) rows = height;
    rows = std::min(rows, height - y);
    const uint32_t stripStart = y;
    const uint64_t units = (uint64_t{rows} + unitRows - 1) / unitRows;
    const uint64_t expected = units * unitBytes64;
    if (expected > kMaxStorageBytes) throw EOutOfResources(kOutOfResources);

    for (size_t k = 0; k < planes; ++k) {
      std::vector<uint8_t>& buffer = buffers[k];
      got[k] = 0;
      const size_t index = strip + k * stripsPerPlane;
      const int64_t at = base + int64_t{offsets[index]};
      if (at >= stream.Size()) continue;
      const uint64_t left = static_cast<uint64_t>(stream.Size() - at);
      stream.Seek(at);
      if (!decoder) {
        // A byte count below the strip's size marks where its data ends.
        uint64_t want64 = std::min(expected, left);
        if (index < byteCounts.size() && byteCounts[index] != 0) {
          want64 = std::min<uint64_t>(want64, byteCounts[index]);
        }
        const size_t want = static_cast<size_t>(want64);
        if (buffer.size() < want) buffer.resize(want);
        got[k] = stream.Read(buffer.data(), want);
        if (reverseBits) ReverseBits(buffer.data(), got[k]);
      } else {
        const uint64_t count = index < byteCounts.size()
                                   ? byteCounts[index]
                                   : expected * kMissingByteCountFactor + kMissingByteCountSlack;
        const size_t want = static_cast<size_t>(std::min(count, left));
        if (input.size() < want) input.resize(want);
        const size_t read = stream.Read(input.data(), want);
        if (reverseBits) ReverseBits(input.data(), read);
        if (buffer.size() < expected) buffer.resize(static_cast<size_t>(expected));
        got[k] =
            decoder->DecodeStrip(input.data(), read, buffer.data(), static_cast<size_t>(expected));
      }
    }

    // What every plane delivered; rows past it keep their white fill.
    const size_t available = *std::min_element(got.begin(), got.end());
    for (uint64_t unit = 0; unit < units; ++unit) {
      const size_t offset = static_cast<size_t>(unit * unitBytes64);
      if (offset >= available) break;
      const size_t bytes = std::min(unitBytes, available - offset);
      if (subsampled) {
        if (bytes < unitBytes) break;
        const uint8_t* block = buffers[0].data() + offset;
        const size_t blockSize = size_t{hSub} * vSub + 2;
        for (uint64_t b = 0; b < blocksPerRow; ++b, block += blockSize) {
          const uint8_t cb = block[blockSize - 2];
          const uint8_t cr = block[blockSize - 1];
          for (uint32_t j = 0; j < vSub; ++j) {
            for (uint32_t i = 0; i < hSub; ++i) {
              const uint64_t x = b * hSub + i;
              if (x >= width) break;
              uint8_t* pixel = expanded.data() + (size_t{j} * width + x) * 3;
              pixel[0] = block[j * hSub + i];
              pixel[1] = cb;
              pixel[2] = cr;
            }
          }
        }
        const uint32_t first = stripStart + static_cast<uint32_t>(unit) * vSub;
        for (uint32_t j = 0; j < vSub && first + j < stripStart + rows; ++j) {
          cm.ConvertPixels(TSampleSources(expanded.data() + size_t{j} * width * 3), width, 0xFF,
                           RowAddress(static_cast<int32_t>(first + j)));
        }
        continue;
      }
      // A row cut short gives the pixels whose samples all arrived.
      uint32_t pixels = width;
      if (bytes < rowBytes) {
        const uint64_t pixelBits = planar ? uint64_t(bits) : uint64_t(bits) * samples;
        pixels = static_cast<uint32_t>(std::min<uint64_t>(width, uint64_t{bytes} * 8 / pixelBits));
      }
      if (pixels != 0) {
        std::array<uint8_t*, 4> rowsOf{};
        for (size_t k = 0; k < planes && k < 4; ++k) rowsOf[k] = buffers[k].data() + offset;
        if (predict) {
          for (size_t k = 0; k < planes; ++k) {
            UndoPredictor(buffers[k].data() + offset, pixels, planar ? 1 : samples, bits,
                          bigEndian);
          }
        }
        const TSampleSources sources =
            !planar       ? TSampleSources(rowsOf[0])
            : planes == 2 ? TSampleSources(rowsOf[0], rowsOf[1])
            : planes == 3 ? TSampleSources(rowsOf[0], rowsOf[1], rowsOf[2])
                          : TSampleSources(rowsOf[0], rowsOf[1], rowsOf[2], rowsOf[3]);
        cm.ConvertPixels(sources, pixels, 0xFF,
                         RowAddress(static_cast<int32_t>(stripStart + unit)));
      }
      if (bytes < rowBytes) break;
    }
    // Rows this strip did not deliver stay white; the next strip starts at
    // its own place.
    y = stripStart + rows;
  }
}

void RegisterTIFFFormats(TFileFormatList& list) {
  const TGraphicClass& tiff = ClassOf<TTIFFGraphic>();
  list.AddFormat("tiff", "Tagged image file format images", "Macintosh TIFF images", false, tiff);
  list.AddFormat("tif", "", "PC TIF images", false, tiff);
  list.AddFormat("fax", "", "GFI fax images", false, tiff);
}

}  // namespace quorvex
