#include "picture/readers/tiff_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "picture/byte_input.h"
#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/image_limits.h"
#include "picture/orientation.h"
#include "picture/readers/ccitt_decoder.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/lz77_decoder.h"
#include "picture/readers/lzw_decoder.h"
#include "picture/readers/packbits_decoder.h"
#include "picture/readers/thunderscan_decoder.h"
#include "picture/readers/tiff_directory.h"
#include "picture/readers/tiff_jpeg_decoder.h"
#include "picture/readers/tiff_samples.h"
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
// code's best case: a PackBits pair makes 128 bytes, deflate 1032, an LZW
// code of 12 bits at most a whole table of 4096, a ThunderScan run byte 63
// pixels of 4 bits, Huffman-coded JPEG 512 pixels (one bit per block), a
// fax code of one bit a whole row.
uint64_t MostDecodedBytesPerByte(CompressionKind kind, uint64_t rowBytes, uint64_t pixelBytes) {
  switch (kind) {
    case CompressionKind::NoCompression:
      return 1;
    case CompressionKind::PackBits:
      return 64;
    case CompressionKind::LZ77:
      return 1032;
    case CompressionKind::LZW:
      return TLZWDecoder::kTableSize * 8 / TLZWDecoder::kMaxCodeBits + 1;
    case CompressionKind::ThunderScan:
      return 32;
    case CompressionKind::JPEG:
      return 512 * pixelBytes;
    default:
      return 8 * rowBytes;  // the fax codes
  }
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

void ReverseBits(std::span<uint8_t> bytes) {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
      unsigned r = 0;
      for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1u) << (7 - i);
      t[b] = static_cast<uint8_t>(r);
    }
    return t;
  }();
  for (uint8_t& b : bytes) b = table[b];
}

// Horizontal differencing undone: each sample adds the same sample of the
// pixel before. Samples of 16 and 32 bits add as numbers in the file's byte
// order; other widths have no predictor and stay as they are. `row` holds at least
// `pixels` pixels.
void UndoPredictor(std::span<uint8_t> row, size_t pixels, size_t samples, int bits,
                   bool bigEndian) {
  if (pixels < 2) return;
  const size_t count = pixels * samples;
  uint8_t* s = row.data();
  if (bits == 8) {
    // The running sums stay in registers for the usual sample counts.
    if (samples == 3) {
      uint8_t r = s[0], g = s[1], b = s[2];
      for (size_t i = 3; i < count; i += 3) {
        s[i] = r = static_cast<uint8_t>(r + s[i]);
        s[i + 1] = g = static_cast<uint8_t>(g + s[i + 1]);
        s[i + 2] = b = static_cast<uint8_t>(b + s[i + 2]);
      }
    } else if (samples == 1) {
      uint8_t v = s[0];
      for (size_t i = 1; i < count; ++i) s[i] = v = static_cast<uint8_t>(v + s[i]);
    } else {
      for (size_t i = samples; i < count; ++i) s[i] = static_cast<uint8_t>(s[i] + s[i - samples]);
    }
  } else if (bits == 16) {
    for (size_t i = samples; i < count; ++i) {
      uint8_t* sample = s + 2 * i;
      const auto sum = static_cast<uint16_t>(LoadU16(sample, bigEndian) +
                                             LoadU16(sample - 2 * samples, bigEndian));
      if (bigEndian) {
        sample[0] = static_cast<uint8_t>(sum >> 8);
        sample[1] = static_cast<uint8_t>(sum);
      } else {
        StoreU16LE(sample, sum);
      }
    }
  } else if (bits == 32) {
    for (size_t i = samples; i < count; ++i) {
      uint8_t* sample = s + 4 * i;
      const uint32_t sum = LoadU32(sample, bigEndian) + LoadU32(sample - 4 * samples, bigEndian);
      for (int k = 0; k < 4; ++k) {
        sample[k] = static_cast<uint8_t>(sum >> (bigEndian ? 24 - 8 * k : 8 * k));
      }
    }
  }
}

[[noreturn]] void FailInvalid() {
  throw EInvalidGraphic(FormatMessage(kTIFFInvalidFormat, kTIFFFormatName));
}

[[noreturn]] void FailCompression() {
  throw EInvalidGraphic(FormatMessage(kTIFFNotSupported, kTIFFCompressionScheme, kTIFFFormatName));
}

// The header at the stream's position, which is kept; nullopt when it is cut
// short or its byte-order mark is wrong.
std::optional<TTIFFHeader> PeekHeader(TStream& stream) {
  if (stream.Remaining() < static_cast<int64_t>(TTIFFHeader::kSize)) return std::nullopt;
  const int64_t start = stream.Position();
  std::array<uint8_t, TTIFFHeader::kBigSize> raw;
  const size_t got = stream.Read(raw.data(), raw.size());
  stream.Seek(start);
  return TTIFFHeader::Parse(std::span(raw).first(got));
}

// The offset of the imageIndex-th IFD; nullopt when the chain ends or loops
// back on itself first.
std::optional<uint64_t> FindIFD(TStream& stream, int64_t base, const TTIFFHeader& header,
                                int imageIndex) {
  uint64_t offset = header.firstIFD;
  std::set<uint64_t> seen{offset};
  for (int i = 0; i < imageIndex; ++i) {
    offset = TTIFFDirectory(stream, base, offset, header.bigEndian, header.bigTIFF).NextIFD();
    if (offset == 0 || !seen.insert(offset).second) return std::nullopt;
  }
  return offset;
}

bool IsSupported(CompressionKind kind) {
  switch (kind) {
    case CompressionKind::NoCompression:
    case CompressionKind::PackBits:
    case CompressionKind::CCITTFax3:
    case CompressionKind::CCITTFax4:
    case CompressionKind::CCITTHuffman:
    case CompressionKind::CCITTWordAligned:
    case CompressionKind::LZ77:
    case CompressionKind::LZW:
    case CompressionKind::JPEG:
    case CompressionKind::ThunderScan:
      return true;
    default:
      return false;
  }
}

bool IsFax(CompressionKind kind) {
  return kind == CompressionKind::CCITTFax3 || kind == CompressionKind::CCITTFax4 ||
         kind == CompressionKind::CCITTHuffman || kind == CompressionKind::CCITTWordAligned;
}

// Whether the row routines of `source` write as many samples as the bitmap's
// layout, which comes from the sample count, expects.
bool SamplesFit(ColorScheme source, int samples) {
  switch (source) {
    case ColorScheme::Gray:
      return samples == 1;
    case ColorScheme::Indexed:
      return samples == 1;
    case ColorScheme::GrayAlpha:
      return samples == 2;
    case ColorScheme::RGB:
    case ColorScheme::BGR:
    case ColorScheme::YCbCr:
    case ColorScheme::CIELab:
      return samples == 3;
    case ColorScheme::RGBA:
    case ColorScheme::CMYK:
      return samples == 4;
    default:
      return true;
  }
}

// Where each block's (strip's or tile's) bytes start, counted from the base,
// and how many the file says there are (the list may be shorter, or empty).
struct TStripTable {
  std::vector<uint64_t> offsets;
  std::vector<uint64_t> byteCounts;
};

TStripTable ReadStripTable(const TTIFFFields& fields, bool tiled) {
  using namespace tiff_tag;
  // Tiles have tags of their own, but readers take the strip tags for them
  // too (and libtiff does).
  const auto tagOf = [&](uint16_t tileTag, uint16_t stripTag) {
    return tiled && fields.Find(tileTag) ? tileTag : stripTag;
  };
  TStripTable table{fields.Values64(tagOf(kTileOffsets, kStripOffsets)),
                    fields.Values64(tagOf(kTileByteCounts, kStripByteCounts))};
  if (table.offsets.empty()) FailInvalid();
  return table;
}

// How decoded samples lie in a strip: rows of each plane, or, for
// subsampled YCbCr, units of vSub rows made of blocks of hSub x vSub luma
// samples followed by one Cb and one Cr.
struct TSampleLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  int bits = 0;
  size_t samples = 0;
  bool planar = false;
  size_t planes = 1;
  uint64_t rowBytes = 0;  // one row of one plane
  bool subsampled = false;
  uint32_t hSub = 1;
  uint32_t vSub = 1;
  uint64_t blocksPerRow = 0;
  uint32_t unitRows = 1;   // rows decoded together
  uint64_t unitBytes = 0;  // their bytes in one plane

  uint64_t UnitsOf(uint32_t rows) const { return (uint64_t{rows} + unitRows - 1) / unitRows; }
  uint64_t PixelBits() const { return planar ? uint64_t(bits) : uint64_t(bits) * samples; }
  size_t BlockSize() const { return size_t{hSub} * vSub + 2; }
};

// Bytes of the stream from the block at `offset` (counted from the base) to
// its end; 0 when the block starts past the end.
uint64_t BytesFrom(const TStream& stream, int64_t base, uint64_t offset) {
  const uint64_t room = static_cast<uint64_t>(stream.Size() - base);
  return offset < room ? room - offset : 0;
}

// The block bytes the file really has: each block from its offset, as far
// as its byte count (when there is one) and the file's end allow.
uint64_t StripBytesPresent(const TStream& stream, int64_t base, const TStripTable& table) {
  uint64_t total = 0;
  for (size_t i = 0; i < table.offsets.size(); ++i) {
    uint64_t bytes = BytesFrom(stream, base, table.offsets[i]);
    if (i < table.byteCounts.size() && table.byteCounts[i] != 0) {
      bytes = std::min(bytes, table.byteCounts[i]);
    }
    total += bytes;
  }
  return total;
}

// Reads single blocks, strips or tiles, from the stream and decodes them.
class TBlockReader {
 public:
  TBlockReader(TStream& stream, int64_t base, const TStripTable& table,
               std::unique_ptr<TStripDecoder> decoder, bool reverseBits)
      : stream_(stream),
        base_(base),
        table_(table),
        decoder_(std::move(decoder)),
        reverseBits_(reverseBits) {}

  size_t Count() const { return table_.offsets.size(); }
  // Decodes block `index` into `buffer`, grown as needed, at most `expected`
  // bytes; tells how many it delivered (none for a block the table lacks).
  size_t Load(size_t index, uint64_t expected, std::vector<uint8_t>& buffer) {
    if (index >= Count()) return 0;
    return decoder_ ? LoadCoded(index, expected, buffer) : LoadStored(index, expected, buffer);
  }

 private:
  // Bytes from the block's offset to the end of the stream, with the
  // stream moved there; 0 when the block starts past the end.
  uint64_t SeekStrip(size_t index) {
    const uint64_t left = BytesFrom(stream_, base_, table_.offsets[index]);
    if (left != 0) stream_.Seek(base_ + static_cast<int64_t>(table_.offsets[index]));
    return left;
  }

  size_t LoadStored(size_t index, uint64_t expected, std::vector<uint8_t>& buffer) {
    const uint64_t left = SeekStrip(index);
    if (left == 0) return 0;
    // A byte count below the block's size marks where its data ends.
    uint64_t want = std::min(expected, left);
    if (index < table_.byteCounts.size() && table_.byteCounts[index] != 0) {
      want = std::min(want, table_.byteCounts[index]);
    }
    if (buffer.size() < want) buffer.resize(static_cast<size_t>(want));
    const size_t got = stream_.Read(buffer.data(), static_cast<size_t>(want));
    if (reverseBits_) ReverseBits(std::span(buffer).first(got));
    return got;
  }

  size_t LoadCoded(size_t index, uint64_t expected, std::vector<uint8_t>& buffer) {
    const uint64_t left = SeekStrip(index);
    if (left == 0) return 0;
    const uint64_t count = index < table_.byteCounts.size()
                               ? table_.byteCounts[index]
                               : expected * kMissingByteCountFactor + kMissingByteCountSlack;
    const size_t want = static_cast<size_t>(std::min(count, left));
    if (input_.size() < want) input_.resize(want);
    const size_t read = stream_.Read(input_.data(), want);
    const std::span<uint8_t> coded = std::span(input_).first(read);
    if (reverseBits_) ReverseBits(coded);
    if (buffer.size() < expected) buffer.resize(static_cast<size_t>(expected));
    return decoder_->DecodeBlock(coded, std::span(buffer).first(static_cast<size_t>(expected)));
  }

  TStream& stream_;
  int64_t base_;
  const TStripTable& table_;
  std::unique_ptr<TStripDecoder> decoder_;  // none for stored blocks
  bool reverseBits_;
  std::vector<uint8_t> input_;
};

// Hands the picture over a band of rows at a time, each plane in a buffer
// of its own laid out as the picture's rows: a strip, or a row of tiles.
class TBlockSource {
 public:
  virtual ~TBlockSource() = default;
  // The bands of one plane.
  virtual size_t BlocksPerPlane() const = 0;
  // Decodes band `block`, of `rows` rows, into every plane's buffer and
  // tells how many bytes every plane delivered.
  virtual size_t Load(size_t block, uint32_t rows) = 0;
  std::span<uint8_t> Plane(size_t k) { return buffers_[k]; }

 protected:
  explicit TBlockSource(size_t planes) : buffers_(planes) {}

  std::vector<std::vector<uint8_t>> buffers_;
};

// Strips are bands as they stand.
class TStripSource : public TBlockSource {
 public:
  TStripSource(TBlockReader& reader, const TSampleLayout& layout)
      : TBlockSource(layout.planes), reader_(reader), layout_(layout), got_(layout.planes) {}

  size_t BlocksPerPlane() const override { return reader_.Count() / buffers_.size(); }
  size_t Load(size_t strip, uint32_t rows) override {
    const uint64_t expected = StorageBytes({layout_.UnitsOf(rows), layout_.unitBytes});
    for (size_t k = 0; k < buffers_.size(); ++k) {
      got_[k] = reader_.Load(strip + k * BlocksPerPlane(), expected, buffers_[k]);
    }
    return *std::min_element(got_.begin(), got_.end());
  }

 private:
  TBlockReader& reader_;
  const TSampleLayout& layout_;
  std::vector<size_t> got_;
};

// Copies `count` bits from the start of `from` to bit `at` of `to`, most
// significant bit first: tiles whose rows do not start on a whole byte of
// the picture's rows.
void CopyBits(const uint8_t* from, uint8_t* to, uint64_t at, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t bit = at + i;
    const auto mask = static_cast<uint8_t>(0x80u >> (bit & 7));
    if ((from[i >> 3] << (i & 7)) & 0x80) {
      to[bit >> 3] |= mask;
    } else {
      to[bit >> 3] &= static_cast<uint8_t>(~mask);
    }
  }
}

// How tiles cover the picture: `tile` is the layout of one tile, its width
// and length the tile's.
struct TTileGrid {
  TSampleLayout tile;
  uint64_t across = 0;
  uint64_t down = 0;

  uint64_t PerPlane() const { return across * down; }
  // The rows of the tiles in row `r` that lie inside the picture.
  uint32_t RowsIn(uint64_t r, uint32_t height) const {
    return static_cast<uint32_t>(std::min<uint64_t>(tile.height, height - r * tile.height));
  }
};

// Tiles are decoded one by one and laid side by side into bands of the
// picture's width, cropped at the right edge. Horizontal differencing
// starts afresh in every tile row, so it is undone here.
class TTileSource : public TBlockSource {
 public:
  TTileSource(TBlockReader& reader, const TSampleLayout& layout, const TTileGrid& grid,
              bool predict, bool bigEndian)
      : TBlockSource(layout.planes),
        reader_(reader),
        layout_(layout),
        grid_(grid),
        predict_(predict),
        bigEndian_(bigEndian) {}

  size_t BlocksPerPlane() const override { return static_cast<size_t>(grid_.down); }
  // A band gives the rows that every one of its tiles delivered.
  size_t Load(size_t block, uint32_t rows) override {
    const uint64_t units = layout_.UnitsOf(rows);
    const uint64_t bandBytes = StorageBytes({units, layout_.unitBytes});
    const uint64_t tileBytes = StorageBytes({units, grid_.tile.unitBytes});
    // A band with a tile missing from the list delivers nothing; so a short
    // list ends the work however many tiles the picture claims.
    const size_t planes = buffers_.size();
    if ((planes - 1) * grid_.PerPlane() + (block + 1) * grid_.across > reader_.Count()) return 0;
    uint64_t delivered = units;
    for (size_t k = 0; k < planes; ++k) {
      if (buffers_[k].size() < bandBytes) buffers_[k].resize(static_cast<size_t>(bandBytes));
      for (uint64_t column = 0; column < grid_.across; ++column) {
        const uint64_t index = k * grid_.PerPlane() + block * grid_.across + column;
        const size_t got = reader_.Load(static_cast<size_t>(index), tileBytes, tile_);
        const TPlacement place = PlacementOf(column);
        // What overhangs the right edge need not be there.
        const uint64_t whole =
            got < place.bytes ? 0 : std::min(units, (got - place.bytes) / grid_.tile.unitBytes + 1);
        if (whole == 0) return 0;
        Place(place, whole, buffers_[k]);
        delivered = std::min(delivered, whole);
      }
    }
    return static_cast<size_t>(delivered * layout_.unitBytes);
  }

 private:
  // Where the tiles of a column go in each unit of the band: from byte `at`
  // (bit `bitsAt`), `bytes` of the tile's units, holding `pixels` pixels.
  struct TPlacement {
    uint32_t pixels = 0;
    uint64_t bitsAt = 0;
    uint64_t at = 0;
    uint64_t bytes = 0;
    bool wholeBytes = true;
  };

  TPlacement PlacementOf(uint64_t column) const {
    const TSampleLayout& t = grid_.tile;
    const uint64_t x = column * t.width;
    TPlacement p;
    p.pixels = static_cast<uint32_t>(std::min<uint64_t>(t.width, layout_.width - x));
    p.bitsAt = x * t.PixelBits();
    p.wholeBytes = t.subsampled || p.bitsAt % 8 == 0;
    // Subsampled tiles lie whole blocks apart.
    p.at = t.subsampled ? column * t.unitBytes : p.bitsAt / 8;
    p.bytes = t.subsampled ? std::min(t.unitBytes, layout_.unitBytes - p.at)
                           : (uint64_t{p.pixels} * t.PixelBits() + 7) / 8;
    return p;
  }

  // The first `units` units of the decoded tile, into the band.
  void Place(const TPlacement& p, uint64_t units, std::vector<uint8_t>& band) {
    const TSampleLayout& t = grid_.tile;
    const uint32_t pixels = p.pixels;
    const uint64_t bytes = std::min(p.bytes, layout_.unitBytes - p.at);
    const uint64_t tailBits = uint64_t{pixels} * t.PixelBits() % 8;
    for (uint64_t u = 0; u < units; ++u) {
      uint8_t* from = tile_.data() + u * t.unitBytes;
      uint8_t* to = band.data() + u * layout_.unitBytes;
      if (predict_) {
        UndoPredictor({from, static_cast<size_t>(p.bytes)}, pixels,
                      layout_.planar ? 1 : layout_.samples, layout_.bits, bigEndian_);
      }
      if (p.wholeBytes && (t.subsampled || tailBits == 0)) {
        std::memcpy(to + p.at, from, static_cast<size_t>(bytes));
      } else if (p.wholeBytes) {
        // The bits past the right edge stay out of the row's padding.
        std::memcpy(to + p.at, from, static_cast<size_t>(bytes - 1));
        CopyBits(from + bytes - 1, to, (p.at + bytes - 1) * 8, tailBits);
      } else {
        CopyBits(from, to, p.bitsAt, uint64_t{pixels} * t.PixelBits());
      }
    }
  }

  TBlockReader& reader_;
  const TSampleLayout& layout_;
  const TTileGrid& grid_;
  bool predict_;
  bool bigEndian_;
  std::vector<uint8_t> tile_;
};

// Turns decoded strips into bitmap rows: undoes the predictor, expands
// subsampled YCbCr and converts the samples to pixels.
class TTIFFRowWriter {
 public:
  TTIFFRowWriter(TBitmap& bitmap, TColorManager& cm, const TSampleLayout& layout, bool predict,
                 bool bigEndian, TTIFFSamples& samples)
      : bitmap_(bitmap),
        cm_(cm),
        layout_(layout),
        predict_(predict),
        bigEndian_(bigEndian),
        samples_(samples),
        expanded_(layout.subsampled ? StorageBytes({layout.vSub, layout.width, 3}) : 0) {}

  // The `rows` rows from `firstRow` out of a strip of which every plane
  // delivered `available` bytes; rows past those keep their white fill.
  void WriteStrip(TBlockSource& source, size_t available, uint32_t firstRow, uint32_t rows) {
    const size_t unitBytes = static_cast<size_t>(layout_.unitBytes);
    const uint64_t units = layout_.UnitsOf(rows);
    for (uint64_t unit = 0; unit < units; ++unit) {
      const size_t offset = static_cast<size_t>(unit * layout_.unitBytes);
      if (offset >= available) break;
      const size_t bytes = std::min(unitBytes, available - offset);
      if (layout_.subsampled) {
        if (bytes < unitBytes) break;
        const uint32_t first = firstRow + static_cast<uint32_t>(unit) * layout_.vSub;
        ExpandBlocks(source.Plane(0).subspan(offset, unitBytes));
        WriteExpandedRows(first, std::min(layout_.vSub, firstRow + rows - first));
        continue;
      }
      if (!WriteRow(source, offset, bytes, firstRow + static_cast<uint32_t>(unit))) break;
    }
  }

 private:
  // One row from `bytes` bytes of each plane at `offset`; false when they
  // were short of a whole row.
  bool WriteRow(TBlockSource& source, size_t offset, size_t bytes, uint32_t y) {
    const TSampleLayout& l = layout_;
    // A row cut short gives the pixels whose samples all arrived.
    uint32_t pixels = l.width;
    if (bytes < l.rowBytes) {
      pixels =
          static_cast<uint32_t>(std::min<uint64_t>(l.width, uint64_t{bytes} * 8 / l.PixelBits()));
    }
    if (pixels != 0) {
      std::array<uint8_t*, 4> rowsOf{};
      for (size_t k = 0; k < l.planes; ++k) {
        const std::span<uint8_t> row = source.Plane(k).subspan(offset, bytes);
        if (predict_) UndoPredictor(row, pixels, l.planar ? 1 : l.samples, l.bits, bigEndian_);
        if (k < rowsOf.size()) rowsOf[k] = row.data();
      }
      cm_.ConvertPixels(samples_.Prepare(rowsOf, l.planes, pixels), pixels, 0xFF,
                        bitmap_.RowBytes(static_cast<int32_t>(y)));
    }
    return bytes >= l.rowBytes;
  }

  // Spreads each block's Cb and Cr over its luma samples: vSub rows of full
  // triples, which is what the converter takes.
  void ExpandBlocks(std::span<const uint8_t> unit) {
    const TSampleLayout& l = layout_;
    const size_t blockSize = l.BlockSize();
    for (uint64_t b = 0; b < l.blocksPerRow; ++b) {
      const std::span<const uint8_t> block =
          unit.subspan(static_cast<size_t>(b) * blockSize, blockSize);
      const uint8_t cb = block[blockSize - 2];
      const uint8_t cr = block[blockSize - 1];
      for (uint32_t j = 0; j < l.vSub; ++j) {
        for (uint32_t i = 0; i < l.hSub; ++i) {
          const uint64_t x = b * l.hSub + i;
          if (x >= l.width) break;
          uint8_t* pixel = expanded_.data() + (size_t{j} * l.width + x) * 3;
          pixel[0] = block[j * l.hSub + i];
          pixel[1] = cb;
          pixel[2] = cr;
        }
      }
    }
  }

  void WriteExpandedRows(uint32_t firstRow, uint32_t rows) {
    const size_t rowBytes = size_t{layout_.width} * 3;
    for (uint32_t j = 0; j < rows; ++j) {
      cm_.ConvertPixels(TSampleSources(expanded_.data() + j * rowBytes), layout_.width, 0xFF,
                        bitmap_.RowBytes(static_cast<int32_t>(firstRow + j)));
    }
  }

  TBitmap& bitmap_;
  TColorManager& cm_;
  const TSampleLayout& layout_;
  bool predict_;
  bool bigEndian_;
  TTIFFSamples& samples_;
  std::vector<uint8_t> expanded_;  // subsampled YCbCr: vSub rows of triples
};

}  // namespace

bool TTIFFGraphic::AcceptsStream(TStream& stream) {
  if (stream.Remaining() <= static_cast<int64_t>(TTIFFHeader::kSize)) return false;
  const auto header = PeekHeader(stream);
  return header && header->Usable() &&
         header->firstIFD < static_cast<uint64_t>(stream.Size() - stream.Position());
}

bool TTIFFGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  tiff_ = TTIFFProperties();
  directory_ = TTIFFDirectory();
  const int64_t base = stream.Position();
  const auto header = PeekHeader(stream);
  if (!header) return false;
  properties_.version = header->version;
  if (header->bigEndian) properties_.options |= kTIFFBigEndianOption;
  if (!header->Usable()) return false;
  const std::optional<uint64_t> offset = FindIFD(stream, base, *header, imageIndex);
  if (!offset) {
    stream.Seek(base);
    return false;
  }
  directory_ = TTIFFDirectory(stream, base, *offset, header->bigEndian, header->bigTIFF);
  FillProperties(TTIFFFields(directory_, stream));
  stream.Seek(base);
  return properties_.width != 0 && properties_.height != 0;
}

namespace {

// The scheme the samples arrive in, which is not always the file's.
ColorScheme SourceSchemeOf(const TImageProperties& p, bool planar) {
  ColorScheme source = p.colorScheme;
  // The JPEG decoder hands colour strips over as blue, green, red.
  if (p.compression == CompressionKind::JPEG && p.samplesPerPixel == 3 && !planar &&
      (source == ColorScheme::RGB || source == ColorScheme::YCbCr)) {
    source = ColorScheme::BGR;
  }
  if (source == ColorScheme::Indexed && p.hasAlpha) source = ColorScheme::GrayAlpha;
  // Gray with a second sample is read as gray and alpha, whatever the
  // extra sample is said to be, and the alpha is dropped.
  if (source == ColorScheme::Gray && p.samplesPerPixel == 2) source = ColorScheme::GrayAlpha;
  return source;
}

// The layout with the sizes of a block `width` pixels wide and `height`
// rows high: the picture, or one of its tiles.
TSampleLayout Sized(TSampleLayout l, uint32_t width, uint32_t height) {
  l.width = width;
  l.height = height;
  l.rowBytes = (l.PixelBits() * l.width + 7) / 8;
  if (l.subsampled) {
    l.blocksPerRow = (uint64_t{l.width} + l.hSub - 1) / l.hSub;
    l.unitRows = l.vSub;
    l.unitBytes = l.blocksPerRow * l.BlockSize();
  } else {
    l.unitBytes = l.rowBytes;
  }
  return l;
}

TSampleLayout LayoutOf(const TImageProperties& p, const TTIFFProperties& tiff, ColorScheme source) {
  TSampleLayout l;
  l.bits = p.bitsPerSample;
  l.samples = p.samplesPerPixel;
  l.planar = tiff.planarConfiguration == 2 && l.samples > 1;
  l.planes = l.planar ? l.samples : 1;
  l.hSub = tiff.yCbCrSubsampling[0];
  l.vSub = tiff.yCbCrSubsampling[1];
  l.subsampled = source == ColorScheme::YCbCr && l.hSub * l.vSub > 1;
  if (l.subsampled && (l.bits != 8 || l.planar)) {
    throw EColorConversionError(kNoConversionMethod);
  }
  return Sized(l, static_cast<uint32_t>(p.width), static_cast<uint32_t>(p.height));
}

// The tiles of the picture. Subsampled tiles must hold whole blocks.
TTileGrid GridOf(const TSampleLayout& layout, const TTIFFProperties& tiff) {
  if (layout.subsampled &&
      (tiff.tileWidth % layout.hSub != 0 || tiff.tileLength % layout.vSub != 0)) {
    FailInvalid();
  }
  TTileGrid grid{Sized(layout, tiff.tileWidth, tiff.tileLength)};
  grid.across = (uint64_t{layout.width} + tiff.tileWidth - 1) / tiff.tileWidth;
  grid.down = (uint64_t{layout.height} + tiff.tileLength - 1) / tiff.tileLength;
  return grid;
}

std::unique_ptr<TStripDecoder> MakeStripDecoder(const TImageProperties& p,
                                                const TTIFFProperties& tiff,
                                                const TSampleLayout& layout,
                                                const TTIFFFields& fields) {
  const CompressionKind kind = p.compression;
  switch (kind) {
    case CompressionKind::NoCompression:
      return nullptr;
    case CompressionKind::PackBits:
      return std::make_unique<TPackbitsRLEDecoder>();
    case CompressionKind::CCITTFax3:
      return std::make_unique<TCCITTFax3Decoder>(tiff.t4Options, layout.width, tiff.reversedBits);
    case CompressionKind::CCITTFax4:
      return std::make_unique<TCCITTFax4Decoder>(layout.width, tiff.reversedBits);
    case CompressionKind::CCITTHuffman:
    case CompressionKind::CCITTWordAligned:
      return std::make_unique<TCCITTHuffmanDecoder>(layout.width, tiff.reversedBits,
                                                    kind == CompressionKind::CCITTWordAligned);
    case CompressionKind::LZ77:
      return std::make_unique<TLZ77Decoder>();
    case CompressionKind::LZW:
      return std::make_unique<TLZWDecoder>();
    case CompressionKind::JPEG:
      return std::make_unique<TTIFFJPEGDecoder>(
          fields.RawBytes(tiff_tag::kJPEGTables), layout.width,
          layout.planar ? 1 : static_cast<int>(layout.samples), p.colorScheme);
    case CompressionKind::ThunderScan:
      return std::make_unique<TThunderScanDecoder>(layout.width);
    default:
      FailCompression();
  }
}

// The blocks must be able to hold what they decode to before any storage is
// made, so a bare header cannot claim a large picture, nor large tiles.
// `block` is the layout of one block, `decoded` what they all decode to.
void RequireStripData(const TBitmap& bitmap, const TStream& stream, int64_t base,
                      const TStripTable& strips, const TSampleLayout& picture,
                      const TSampleLayout& block, uint64_t decoded, CompressionKind kind) {
  const uint64_t pixelBytes = std::max<uint64_t>((block.PixelBits() + 7) / 8, 1);
  RequireDataForClaim(
      bitmap, picture.width, picture.height, decoded,
      static_cast<int64_t>(StripBytesPresent(stream, base, strips)),
      std::max<uint64_t>(MostDecodedBytesPerByte(kind, block.rowBytes, pixelBytes), 1));
}

// What the strips decode to: the picture's rows of every plane.
uint64_t StripsDecodedBytes(const TSampleLayout& l) {
  return SaturatingProduct({l.UnitsOf(l.height), l.unitBytes, l.planes});
}

// What the tiles decode to, the parts that overhang the picture's right
// edge included (those below the bottom are not decoded).
uint64_t TilesDecodedBytes(const TSampleLayout& l, const TTileGrid& grid) {
  const uint32_t lastRows = grid.RowsIn(grid.down - 1, l.height);
  const uint64_t units =
      SaturatingProduct({grid.down - 1, l.UnitsOf(grid.tile.height)}) + l.UnitsOf(lastRows);
  return SaturatingProduct({units, grid.tile.unitBytes, grid.across, l.planes});
}

// Band after band, each `rowsPerBlock` rows high (the last value for bands
// past the list), top to bottom.
void ReadStrips(TBlockSource& source, TTIFFRowWriter& writer, const TSampleLayout& layout,
                const std::vector<uint32_t>& rowsPerStrip) {
  uint32_t y = 0;
  for (size_t strip = 0; strip < source.BlocksPerPlane() && y < layout.height; ++strip) {
    uint32_t rows = rowsPerStrip[std::min(strip, rowsPerStrip.size() - 1)];
    if (rows == 0) rows = layout.height;
    rows = std::min(rows, layout.height - y);
    writer.WriteStrip(source, source.Load(strip, rows), y, rows);
    // Rows this band did not deliver stay white; the next band starts at
    // its own place.
    y += rows;
  }
}

}  // namespace

void TTIFFGraphic::FillProperties(const TTIFFFields& d) {
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
  tiff_.tileWidth = d.Value(kTileWidth, 0);
  tiff_.tileLength = d.Value(kTileLength, 0);
  tiff_.tiled = tiff_.tileWidth != 0 && tiff_.tileLength != 0;
  tiff_.planarConfiguration = static_cast<uint16_t>(d.Value(kPlanarConfiguration, 1));
  tiff_.predictor = static_cast<uint16_t>(d.Value(kPredictor, 0));
  tiff_.t4Options = d.Value(kT4Options, 0);

  const std::vector<uint32_t> extra = d.Values(kExtraSamples);
  p.hasAlpha =
      !extra.empty() && std::all_of(extra.begin(), extra.end(), [](uint32_t v) { return v <= 2; });
  tiff_.associatedAlpha = !extra.empty() && extra[0] == 1;
  tiff_.sampleFormat = static_cast<uint16_t>(d.Value(kSampleFormat, 1));
  tiff_.orientation = static_cast<uint16_t>(d.Value(kOrientation, 1));

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

TTIFFSampleKind TTIFFGraphic::SampleKind() const {
  const TImageProperties& p = properties_;
  const int samples = p.samplesPerPixel;
  const bool planar = tiff_.planarConfiguration == 2 && samples > 1;
  const ColorScheme source = SourceSchemeOf(p, planar);
  TTIFFSampleKind kind;
  kind.bits = p.bitsPerSample;
  kind.format = static_cast<TIFFSampleFormat>(tiff_.sampleFormat);
  kind.bigEndian = (p.options & kTIFFBigEndianOption) != 0;
  kind.samples = static_cast<size_t>(samples);
  kind.planar = planar;
  kind.floatPredictor = tiff_.predictor == 3 && p.compression != CompressionKind::NoCompression &&
                        kind.format == TIFFSampleFormat::FloatingPoint;
  kind.premultiplied = tiff_.associatedAlpha && (kind.bits == 8 || kind.bits >= 16) &&
                       (source == ColorScheme::RGBA ||
                        (source == ColorScheme::GrayAlpha && p.colorScheme == ColorScheme::Gray));
  return kind;
}

void TTIFFGraphic::SetUpColors(const TTIFFFields& fields, const TTIFFSamples& delivered) {
  const TImageProperties& p = properties_;
  TColorManager& cm = ColorManager();
  const int samples = p.samplesPerPixel;
  const ColorScheme source = SourceSchemeOf(p, tiff_.planarConfiguration == 2 && samples > 1);
  const ColorScheme target = TargetSchemeOf(p.colorScheme);
  if (!SamplesFit(source, samples)) throw EColorConversionError(kSampleCountInvalid);
  if (!TIFFSamplesReadable(p.bitsPerSample, static_cast<TIFFSampleFormat>(tiff_.sampleFormat))) {
    throw EColorConversionError(kColorDepthInvalid);
  }
  // Wide and floating-point samples reach the converter as 16-bit numbers,
  // which only the schemes of plain levels take.
  if (delivered.Widens() && source != ColorScheme::Gray && source != ColorScheme::GrayAlpha &&
      source != ColorScheme::RGB && source != ColorScheme::RGBA && source != ColorScheme::CMYK) {
    throw EColorConversionError(kColorDepthInvalid);
  }
  const int bits = delivered.DeliveredBits();

  TConversionOptions options;
  if (delivered.DeliveredBigEndian()) options.Include(ConversionOption::ByteSwapOption);
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
    SetUpPalette(fields, target);
  }
  if (source == ColorScheme::YCbCr) {
    cm.SetYCbCrParameters(tiff_.yCbCrCoefficients, tiff_.yCbCrSubsampling[0],
                          tiff_.yCbCrSubsampling[1]);
  }
}

void TTIFFGraphic::SetUpPalette(const TTIFFFields& fields, ColorScheme target) {
  TColorManager& cm = ColorManager();
  if (target == ColorScheme::Gray) {
    ApplyPalette(cm.MakeGrayPalette(tiff_.minIsWhite));
    return;
  }
  if (target != ColorScheme::Indexed) return;
  const std::vector<uint8_t> map = fields.RawBytes(tiff_tag::kColorMap);
  const TTIFFEntry* entry = fields.Find(tiff_tag::kColorMap);
  if (!entry || entry->TypeSize() != 2 || map.size() < 6) return;
  // Three lists of 16-bit values: red, green, blue.
  const size_t listLength = map.size() / 6;
  const uint8_t* red = map.data();
  const uint8_t* green = red + 2 * listLength;
  const uint8_t* blue = green + 2 * listLength;
  const int bits = properties_.bitsPerSample;
  const size_t entries = std::min<size_t>(listLength, size_t{1} << std::min(bits, 16));
  ApplyPalette(cm.MakeColorPalette(TSampleSources(red, green, blue), PaletteSourceFormat::Planar16,
                                   false, static_cast<uint32_t>(entries)));
}

void TTIFFGraphic::CheckCompression() const {
  const CompressionKind kind = properties_.compression;
  if (kind == CompressionKind::JPEG && properties_.bitsPerSample != 8) {
    throw EJPEG(kJPEGImproperPrecision);
  }
  // An unknown code is the better message than whatever its samples lack.
  if (!IsSupported(kind)) FailCompression();
}

void TTIFFGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  (void)start;  // the directory keeps where the file's offsets count from
  if (!headerUsable) FailInvalid();
  const TTIFFFields fields(directory_, stream);
  const TStripTable strips = ReadStripTable(fields, tiff_.tiled);
  CheckCompression();
  const TTIFFSampleKind kind = SampleKind();
  // The floating-point predictor is undone over whole rows, which tiles
  // do not store; refused rather than shown scrambled.
  if (tiff_.tiled && kind.floatPredictor) FailCompression();
  TTIFFSamples samples(kind);
  SetUpColors(fields, samples);
  const TImageProperties& p = properties_;
  const TSampleLayout layout = LayoutOf(p, tiff_, ColorManager().SourceColorScheme());
  const std::optional<TTileGrid> grid =
      tiff_.tiled ? std::optional(GridOf(layout, tiff_)) : std::nullopt;
  // What a decoder works on: a strip of the picture's width, or one tile.
  const TSampleLayout& block = grid ? grid->tile : layout;

  RequireStripData(*this, stream, directory_.Base(), strips, layout, block,
                   grid ? TilesDecodedBytes(layout, *grid) : StripsDecodedBytes(layout),
                   p.compression);
  SetImageWidth(p.width);
  SetImageHeight(p.height);

  // With fill order 2 the stored bytes, coded or not, have their bits
  // reversed. Only pictures of samples narrower than a byte are taken so:
  // wider samples under that tag come in plain order in practice. The fax
  // decoders reverse for themselves.
  const bool reverseBits = tiff_.reversedBits && layout.bits < 8 && !IsFax(p.compression);
  const bool predict =
      p.compression != CompressionKind::NoCompression && tiff_.predictor == 2 && !layout.subsampled;
  TBlockReader reader(stream, directory_.Base(), strips, MakeStripDecoder(p, tiff_, block, fields),
                      reverseBits);
  if (grid) {
    TTileSource source(reader, layout, *grid, predict, directory_.BigEndian());
    TTIFFRowWriter writer(*this, ColorManager(), layout, false, directory_.BigEndian(), samples);
    ReadStrips(source, writer, layout, {grid->tile.height});
  } else {
    TStripSource source(reader, layout);
    TTIFFRowWriter writer(*this, ColorManager(), layout, predict, directory_.BigEndian(), samples);
    ReadStrips(source, writer, layout, tiff_.rowsPerStrip);
  }
  // Shown upright; from here on the header facts give the upright size.
  ApplyOrientation(*this, tiff_.orientation);
  properties_.width = ImageWidth();
  properties_.height = ImageHeight();
}

void RegisterTIFFFormats(TFileFormatList& list) {
  const TGraphicClass& tiff = ClassOf<TTIFFGraphic>();
  list.AddFormat("tiff", "Tagged image file format images", "Macintosh TIFF images", false, tiff);
  list.AddFormat("tif", "", "PC TIF images", false, tiff);
  list.AddFormat("fax", "", "GFI fax images", false, tiff);
}

}  // namespace quorvex
