#include "picture/readers/psp_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr const char* kFormatName = "PSP";
constexpr char kSignature[] = "Paint Shop Pro Image File";
constexpr uint8_t kBlockMark[4] = {'~', 'B', 'K', 0};

// Channel compression of the general image attributes.
constexpr uint16_t kNoCompression = 0;
constexpr uint16_t kRunLength = 1;
constexpr uint16_t kLZ77 = 2;

// Bitmap types whose channels carry the picture, and those that carry its
// transparency: a layer's image, a thumbnail, a composite image.
bool IsImageBitmap(uint16_t type) {
  return type == 0 || type == 5 || type == 8;
}
bool IsTransparencyBitmap(uint16_t type) {
  return type == 1 || type == 6 || type == 9;
}

constexpr uint16_t kCompositeChannel = 0;  // the index channel of palette pictures

[[noreturn]] void Invalid() {
  throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, kFormatName));
}

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
int32_t I32(const uint8_t* p) {
  return static_cast<int32_t>(U32(p));
}

// A block's data lies in [data, end). Version 3 blocks state the length of
// their own fields, which later versions keep in a leading chunk size.
struct TBlock {
  uint16_t id = 0;
  int64_t data = 0;
  int64_t end = 0;
  uint32_t initialLength = 0;
};

// The block whose header starts at `at`; nullopt when none does, or when its
// data would run past `limit` (the end of its parent or of the file).
std::optional<TBlock> ReadBlock(TStream& stream, int64_t at, int64_t limit, bool version3) {
  const int64_t headerSize = version3 ? 14 : 10;
  if (limit - at < headerSize) return std::nullopt;
  uint8_t h[14];
  stream.Seek(at);
  stream.ReadBuffer(h, static_cast<size_t>(headerSize));
  if (std::memcmp(h, kBlockMark, sizeof kBlockMark) != 0) return std::nullopt;
  TBlock block;
  block.id = U16(h + 4);
  const uint32_t length = version3 ? U32(h + 10) : U32(h + 6);
  block.initialLength = version3 ? U32(h + 6) : 0;
  block.data = at + headerSize;
  if (length > limit - block.data || block.initialLength > length) return std::nullopt;
  block.end = block.data + length;
  return block;
}

// Calls `visit` for each sub-block in [from, limit) until one is missing.
void ForEachBlock(TStream& stream, int64_t from, int64_t limit, bool version3,
                  const std::function<void(const TBlock&)>& visit) {
  for (int64_t at = from; at < limit;) {
    const auto block = ReadBlock(stream, at, limit, version3);
    if (!block) return;
    visit(*block);
    at = block->end;
  }
}

// `count` bytes of a block's data from `offset` on; bad data when the block
// is shorter.
std::vector<uint8_t> ReadFields(TStream& stream, const TBlock& block, int64_t offset,
                                size_t count) {
  if (offset < 0 || block.end - block.data < offset + static_cast<int64_t>(count)) Invalid();
  std::vector<uint8_t> bytes(count);
  stream.Seek(block.data + offset);
  stream.ReadBuffer(bytes.data(), count);
  return bytes;
}

// Where a version 4+ block's fields start (after its chunk size) and where
// its chunk ends; version 3 blocks have their fields at once and end them at
// their initial length.
struct TChunk {
  int64_t fields = 0;
  int64_t end = 0;
};

TChunk ReadChunk(TStream& stream, const TBlock& block, bool version3, size_t fieldBytes) {
  TChunk chunk;
  if (version3) {
    chunk.fields = 0;
    chunk.end = block.initialLength;
  } else {
    const uint32_t size = U32(ReadFields(stream, block, 0, 4).data());
    chunk.fields = 4;
    chunk.end = size;
  }
  if (chunk.end < chunk.fields + static_cast<int64_t>(fieldBytes) ||
      chunk.end > block.end - block.data) {
    Invalid();
  }
  return chunk;
}

struct TAttributes {
  int32_t width = 0;
  int32_t height = 0;
  double resolution = 0;
  uint8_t metric = 0;
  uint16_t compression = 0;
  uint16_t bitDepth = 0;
  bool greyscale = false;
};

TAttributes ReadAttributes(TStream& stream, const TBlock& block, bool version3) {
  const TChunk chunk = ReadChunk(stream, block, version3, 28);
  const auto f = ReadFields(stream, block, chunk.fields, 28);
  TAttributes a;
  a.width = I32(&f[0]);
  a.height = I32(&f[4]);
  std::memcpy(&a.resolution, &f[8], sizeof a.resolution);
  a.metric = f[16];
  a.compression = U16(&f[17]);
  a.bitDepth = U16(&f[19]);
  a.greyscale = f[27] != 0;
  return a;
}

// Entries are blue, green, red and a spare byte.
TPalette ReadPalette(TStream& stream, const TBlock& block, bool version3) {
  const TChunk chunk = ReadChunk(stream, block, version3, 4);
  const uint32_t count = U32(ReadFields(stream, block, chunk.fields, 4).data());
  const int64_t entriesAt = version3 ? 4 : chunk.end;
  const size_t used = std::min<size_t>(count, kMaxPaletteEntries);
  const auto raw = ReadFields(stream, block, entriesAt, used * 4);
  TPalette palette(used);
  for (size_t i = 0; i < used; ++i) palette[i] = {raw[4 * i + 2], raw[4 * i + 1], raw[4 * i]};
  return palette;
}

// One channel of a picture and where its compressed bytes are.
struct TChannel {
  uint32_t compressedLength = 0;
  uint32_t uncompressedLength = 0;
  uint16_t bitmapType = 0;
  uint16_t channelType = 0;
  int64_t data = 0;
};

TChannel ReadChannel(TStream& stream, const TBlock& block, bool version3) {
  const TChunk chunk = ReadChunk(stream, block, version3, 12);
  const auto f = ReadFields(stream, block, chunk.fields, 12);
  TChannel c;
  c.compressedLength = U32(&f[0]);
  c.uncompressedLength = U32(&f[4]);
  c.bitmapType = U16(&f[8]);
  c.channelType = U16(&f[10]);
  c.data = block.data + chunk.end;
  // Some version 3 writers count the content into the initial length.
  if (version3 && c.compressedLength > block.end - c.data) c.data = block.data + 12;
  if (c.compressedLength > block.end - c.data) Invalid();
  return c;
}

// The stored bitmap the picture comes from: where its rows go on the canvas,
// how they are stored, its channels and its own palette if it has one.
struct TSource {
  TRect rect;
  uint16_t bitDepth = 0;
  uint16_t compression = 0;
  std::vector<TChannel> channels;
  std::optional<TPalette> palette;
};

void CollectChannels(TStream& stream, int64_t from, const TBlock& parent, bool version3,
                     TSource& source) {
  ForEachBlock(stream, from, parent.end, version3, [&](const TBlock& b) {
    if (b.id == static_cast<uint16_t>(PSPBlock::Channel)) {
      source.channels.push_back(ReadChannel(stream, b, version3));
    } else if (b.id == static_cast<uint16_t>(PSPBlock::Color) && !source.palette) {
      source.palette = ReadPalette(stream, b, version3);
    }
  });
}

bool HasImageChannel(const TSource& source) {
  return std::any_of(source.channels.begin(), source.channels.end(),
                     [](const TChannel& c) { return IsImageBitmap(c.bitmapType); });
}

// The full-size composite image of a composite image bank (version 4 on),
// when it is stored as channels rather than as JPEG data. Attribute blocks
// and image blocks are paired in order.
std::optional<TSource> FindComposite(TStream& stream, const TBlock& bank) {
  const TChunk chunk = ReadChunk(stream, bank, false, 4);
  struct TComposite {
    int32_t width;
    int32_t height;
    uint16_t bitDepth;
    uint16_t compression;
    uint16_t type;
  };
  std::vector<TComposite> attributes;
  std::vector<TBlock> images;
  ForEachBlock(stream, bank.data + chunk.end, bank.end, false, [&](const TBlock& b) {
    if (b.id == static_cast<uint16_t>(PSPBlock::CompositeAttributes)) {
      const TChunk c = ReadChunk(stream, b, false, 20);
      const auto f = ReadFields(stream, b, c.fields, 20);
      attributes.push_back({I32(&f[0]), I32(&f[4]), U16(&f[8]), U16(&f[10]), U16(&f[18])});
    } else if (b.id == static_cast<uint16_t>(PSPBlock::CompositeImage) || b.id == 18) {
      images.push_back(b);
    }
  });
  constexpr uint16_t kFullComposite = 0;
  for (size_t i = 0; i < std::min(attributes.size(), images.size()); ++i) {
    const TComposite& a = attributes[i];
    if (a.type != kFullComposite || a.width <= 0 || a.height <= 0 ||
        images[i].id != static_cast<uint16_t>(PSPBlock::CompositeImage)) {
      continue;
    }
    TSource source;
    source.rect = {0, 0, a.width, a.height};
    source.bitDepth = a.bitDepth;
    source.compression = a.compression;
    const TChunk c = ReadChunk(stream, images[i], false, 4);
    CollectChannels(stream, images[i].data + c.end, images[i], false, source);
    if (HasImageChannel(source)) return source;
  }
  return std::nullopt;
}

// The first raster layer of the layer bank that has image channels.
std::optional<TSource> FindLayer(TStream& stream, const TBlock& bank, bool version3,
                                 const TAttributes& attributes) {
  std::optional<TSource> found;
  ForEachBlock(stream, bank.data + bank.initialLength, bank.end, version3, [&](const TBlock& b) {
    if (found || b.id != static_cast<uint16_t>(PSPBlock::Layer)) return;
    uint8_t type = 0;
    std::vector<uint8_t> rects;
    int64_t channelsAt = 0;
    if (version3) {
      // A 256-byte name, the type, the image and saved rectangles.
      const TChunk c = ReadChunk(stream, b, true, 289);
      type = ReadFields(stream, b, 256, 1)[0];
      rects = ReadFields(stream, b, 257, 32);
      channelsAt = c.end;
    } else {
      const TChunk info = ReadChunk(stream, b, false, 2);
      const uint16_t nameLength = U16(ReadFields(stream, b, info.fields, 2).data());
      const int64_t typeAt = info.fields + 2 + nameLength;
      if (info.end < typeAt + 33) Invalid();
      type = ReadFields(stream, b, typeAt, 1)[0];
      rects = ReadFields(stream, b, typeAt + 1, 32);
      // The layer bitmap chunk (its size, bitmap and channel counts) follows.
      const uint32_t bitmapChunk = U32(ReadFields(stream, b, info.end, 4).data());
      channelsAt = info.end + bitmapChunk;
      if (bitmapChunk < 4 || channelsAt > b.end - b.data) Invalid();
    }
    const bool raster = version3 ? type <= 1 : (type == 1 || type == 2);
    if (!raster) return;
    // The saved rectangle, within the layer's image rectangle, is what is
    // stored.
    const int64_t left = int64_t{I32(&rects[0])} + I32(&rects[16]);
    const int64_t top = int64_t{I32(&rects[4])} + I32(&rects[20]);
    const int64_t width = int64_t{I32(&rects[24])} - I32(&rects[16]);
    const int64_t height = int64_t{I32(&rects[28])} - I32(&rects[20]);
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX || left < INT32_MIN ||
        top < INT32_MIN || left + width > INT32_MAX || top + height > INT32_MAX) {
      Invalid();
    }
    TSource source;
    source.rect = {static_cast<int32_t>(left), static_cast<int32_t>(top),
                   static_cast<int32_t>(left + width), static_cast<int32_t>(top + height)};
    source.bitDepth = attributes.bitDepth;
    source.compression = attributes.compression;
    CollectChannels(stream, b.data + channelsAt, b, version3, source);
    if (HasImageChannel(source)) found = std::move(source);
  });
  return found;
}

// Delivers a channel's bytes in order from its compressed data, reading the
// stream in pieces; running out of data is bad data.
class TChannelReader {
 public:
  TChannelReader(TStream& stream, const TChannel& channel, uint16_t compression)
      : stream_(stream),
        position_(channel.data),
        end_(channel.data + channel.compressedLength),
        compression_(compression),
        // Never empty, so that its address is never null.
        buffer_(static_cast<size_t>(std::clamp<int64_t>(channel.compressedLength, 1, kCapacity))) {
    next_ = end_ptr_ = buffer_.data();
    if (compression_ == kLZ77) {
      // zlib streams normally; a bare deflate stream is taken as well.
      Refill();
      const bool wrapped =
          end_ptr_ - next_ >= 2 && (next_[0] & 0x0F) == 8 && ((next_[0] << 8) | next_[1]) % 31 == 0;
      if (inflateInit2(&z_, wrapped ? 15 : -15) != Z_OK) Invalid();
      inflating_ = true;
    }
  }
  ~TChannelReader() {
    if (inflating_) inflateEnd(&z_);
  }
  TChannelReader(const TChannelReader&) = delete;
  TChannelReader& operator=(const TChannelReader&) = delete;

  void Read(uint8_t* target, size_t count) {
    while (count != 0) {
      const size_t got = Produce(target, count);
      target += got;
      count -= got;
      if (count != 0 && got == 0 && !Refill()) Invalid();
    }
  }

  void Skip(uint64_t count) {
    if (compression_ == kNoCompression) {
      const uint64_t buffered = std::min<uint64_t>(count, uint64_t(end_ptr_ - next_));
      next_ += buffered;
      count -= buffered;
      if (count > uint64_t(end_ - position_)) Invalid();
      position_ += static_cast<int64_t>(count);
      return;
    }
    uint8_t scratch[4096];
    while (count != 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(count, sizeof scratch));
      Read(scratch, n);
      count -= n;
    }
  }

 private:
  static constexpr int64_t kCapacity = int64_t{64} << 10;

  // Bytes made from the input at hand, perhaps none.
  size_t Produce(uint8_t* target, size_t count) {
    switch (compression_) {
      case kRunLength:
        return runLength_.Decode(next_, end_ptr_, target, count);
      case kLZ77: {
        if (finished_) Invalid();
        z_.next_in = const_cast<Bytef*>(next_);
        z_.avail_in = static_cast<uInt>(end_ptr_ - next_);
        z_.next_out = target;
        z_.avail_out = static_cast<uInt>(std::min<size_t>(count, UINT32_MAX));
        const int result = inflate(&z_, Z_NO_FLUSH);
        next_ = z_.next_in;
        if (result == Z_STREAM_END)
          finished_ = true;
        else if (result != Z_OK && result != Z_BUF_ERROR)
          Invalid();
        return static_cast<size_t>(z_.next_out - target);
      }
      default: {
        const size_t n = std::min(count, static_cast<size_t>(end_ptr_ - next_));
        if (n == 0) return 0;
        std::memcpy(target, next_, n);
        next_ += n;
        return n;
      }
    }
  }

  // Keeps the unused bytes and reads more after them; false at the end of
  // the channel's data.
  bool Refill() {
    const size_t keep = static_cast<size_t>(end_ptr_ - next_);
    if (keep != 0) std::memmove(buffer_.data(), next_, keep);
    const size_t want =
        static_cast<size_t>(std::min<int64_t>(end_ - position_, int64_t(buffer_.size() - keep)));
    size_t got = 0;
    if (want != 0) {
      stream_.Seek(position_);
      got = stream_.Read(buffer_.data() + keep, want);
      position_ += static_cast<int64_t>(got);
    }
    next_ = buffer_.data();
    end_ptr_ = next_ + keep + got;
    return got != 0;
  }

  TStream& stream_;
  int64_t position_;
  int64_t end_;
  uint16_t compression_;
  std::vector<uint8_t> buffer_;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ptr_ = nullptr;
  TPSPRunLengthDecoder runLength_;
  z_stream z_{};
  bool inflating_ = false;
  bool finished_ = false;
};

// The visible part of a stored rectangle on a canvas.
struct TVisible {
  int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

TVisible Clip(const TRect& rect, int32_t width, int32_t height) {
  return {std::max(rect.left, 0), std::min(rect.right, width), std::max(rect.top, 0),
          std::min(rect.bottom, height)};
}

// Bytes per stored row of a channel, from its uncompressed length: rows are
// packed or padded by at most 3 bytes. Anything else, or a length the
// compressed data cannot hold, is bad data.
uint64_t StoredRowBytes(const TChannel& channel, const TRect& rect, int bits,
                        uint16_t compression) {
  const uint64_t rows = static_cast<uint64_t>(rect.Height());
  const uint64_t packed = (uint64_t(rect.Width()) * uint64_t(bits) + 7) / 8;
  const uint64_t total = channel.uncompressedLength;
  if (total % rows != 0) Invalid();
  const uint64_t rowBytes = total / rows;
  if (rowBytes < packed || rowBytes - packed > 3) Invalid();
  // Deflate makes at most 1032 bytes of one, the run-length code 127 of 2.
  const uint64_t compressed = channel.compressedLength;
  const bool possible = compression == kNoCompression ? compressed >= total
                        : compression == kRunLength   ? total <= compressed * 64
                                                      : total <= compressed * 1032 + 64;
  if (!possible) Invalid();
  return rowBytes;
}

// A channel's stored rows as the canvas sees them: the visible part of each
// visible row, one row after another. Several can be read side by side.
class TChannelRows {
 public:
  TChannelRows(TStream& stream, const TChannel& channel, const TSource& source, int bits,
               int32_t canvasWidth, int32_t canvasHeight)
      : visible_(Clip(source.rect, canvasWidth, canvasHeight)) {
    const TRect& rect = source.rect;
    if (rect.Width() <= 0 || rect.Height() <= 0) Invalid();
    rowBytes_ = StoredRowBytes(channel, rect, bits, source.compression);
    if (visible_.Empty()) return;
    const uint64_t startBit = uint64_t(visible_.x0 - rect.left) * uint64_t(bits);
    bitOffset_ = static_cast<int>(startBit % 8);
    startByte_ = startBit / 8;
    endByte_ = (uint64_t(visible_.x1 - rect.left) * uint64_t(bits) + 7) / 8;
    piece_.resize(static_cast<size_t>(endByte_ - startByte_));
    reader_.emplace(stream, channel, source.compression);
    reader_->Skip(uint64_t(visible_.y0 - rect.top) * rowBytes_);
  }

  const TVisible& Visible() const { return visible_; }
  // Bit position of the first visible pixel in the first byte of a row.
  int BitOffset() const { return bitOffset_; }

  // The visible bytes of the next visible row; the rows after the last
  // visible one are never decoded. Only for a non-empty visible part.
  const uint8_t* NextRow() {
    if (!first_) reader_->Skip(rowBytes_ - endByte_);
    first_ = false;
    reader_->Skip(startByte_);
    reader_->Read(piece_.data(), piece_.size());
    return piece_.data();
  }

 private:
  TVisible visible_;
  uint64_t rowBytes_ = 0;
  uint64_t startByte_ = 0;
  uint64_t endByte_ = 0;
  int bitOffset_ = 0;
  bool first_ = true;
  std::vector<uint8_t> piece_;
  std::optional<TChannelReader> reader_;
};

}  // namespace

TPSPFileHeader TPSPFileHeader::Parse(const uint8_t* b) {
  TPSPFileHeader h;
  h.signatureMatches = true;
  for (size_t i = 0; i < kSignatureLength; ++i) {
    if (std::tolower(b[i]) != std::tolower(static_cast<unsigned char>(kSignature[i]))) {
      h.signatureMatches = false;
    }
  }
  h.majorVersion = U16(b + 32);
  h.minorVersion = U16(b + 34);
  return h;
}

size_t TPSPRunLengthDecoder::Decode(const uint8_t*& source, const uint8_t* end, uint8_t* target,
                                    size_t count) {
  uint8_t* out = target;
  uint8_t* const outEnd = target + count;
  const uint8_t* in = source;
  while (out != outEnd) {
    if (awaitingValue_) {
      if (in == end) break;
      value_ = *in++;
      awaitingValue_ = false;
    }
    if (runLeft_ != 0) {
      const size_t n = std::min(runLeft_, static_cast<size_t>(outEnd - out));
      std::memset(out, value_, n);
      out += n;
      runLeft_ -= n;
      continue;
    }
    if (literalLeft_ != 0) {
      const size_t n = std::min(
          {literalLeft_, static_cast<size_t>(outEnd - out), static_cast<size_t>(end - in)});
      if (n == 0) break;
      std::memcpy(out, in, n);
      out += n;
      in += n;
      literalLeft_ -= n;
      continue;
    }
    if (in == end) break;
    const uint8_t code = *in++;
    if (code > 128) {
      runLeft_ = code - 128u;
      awaitingValue_ = true;
    } else {
      literalLeft_ = code;
    }
  }
  source = in;
  return static_cast<size_t>(out - target);
}

bool TPSPGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TPSPFileHeader::kSize)) return false;
  uint8_t raw[TPSPFileHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  stream.Seek(start);
  return TPSPFileHeader::Parse(raw).LooksValid();
}

bool TPSPGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  const int64_t base = stream.Position();
  if (stream.Remaining() < static_cast<int64_t>(TPSPFileHeader::kSize)) return false;
  uint8_t raw[TPSPFileHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TPSPFileHeader header = TPSPFileHeader::Parse(raw);
  if (!header.LooksValid()) return false;
  const bool version3 = header.majorVersion == 3;
  std::optional<TAttributes> attributes;
  ForEachBlock(stream, base + int64_t{TPSPFileHeader::kSize}, stream.Size(), version3,
               [&](const TBlock& b) {
                 if (b.id == static_cast<uint16_t>(PSPBlock::Image) && !attributes) {
                   attributes = ReadAttributes(stream, b, version3);
                 }
               });
  if (!attributes || attributes->width <= 0 || attributes->height <= 0) return false;
  TImageProperties& p = properties_;
  const TAttributes& a = *attributes;
  p.version = header.majorVersion;
  p.width = a.width;
  p.height = a.height;
  const bool palette = a.bitDepth <= 8;
  p.colorScheme = !palette      ? ColorScheme::RGB
                  : a.greyscale ? ColorScheme::Gray
                                : ColorScheme::Indexed;
  p.bitsPerSample = static_cast<uint8_t>(palette ? a.bitDepth : 8);
  p.samplesPerPixel = palette ? 1 : 3;
  p.bitsPerPixel = static_cast<uint8_t>(std::min<uint16_t>(a.bitDepth, 255));
  p.compression = a.compression == kNoCompression ? CompressionKind::NoCompression
                  : a.compression == kRunLength   ? CompressionKind::RunLength
                  : a.compression == kLZ77        ? CompressionKind::LZ77
                                                  : CompressionKind::UndefinedCompression;
  // Resolution is in pixels per inch (metric 1) or per centimetre (2).
  if (a.metric == 1 || a.metric == 2) {
    p.xResolution = p.yResolution = static_cast<float>(a.resolution);
  }
  return true;
}

void TPSPGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  const int64_t base = stream.Position();
  if (!ReadHeaderInfo(stream, 0)) Invalid();
  stream.Seek(base);
  uint8_t raw[TPSPFileHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const bool version3 = TPSPFileHeader::Parse(raw).majorVersion == 3;

  std::optional<TAttributes> attributes;
  std::optional<TPalette> palette;
  std::optional<TBlock> layerBank;
  std::optional<TBlock> compositeBank;
  ForEachBlock(stream, base + int64_t{TPSPFileHeader::kSize}, stream.Size(), version3,
               [&](const TBlock& b) {
                 switch (static_cast<PSPBlock>(b.id)) {
                   case PSPBlock::Image:
                     if (!attributes) attributes = ReadAttributes(stream, b, version3);
                     break;
                   case PSPBlock::Color:
                     if (!palette) palette = ReadPalette(stream, b, version3);
                     break;
                   case PSPBlock::LayerStart:
                     if (!layerBank) layerBank = b;
                     break;
                   case PSPBlock::CompositeImageBank:
                     if (!compositeBank && !version3) compositeBank = b;
                     break;
                   default:
                     break;
                 }
               });
  if (!attributes) Invalid();
  const TAttributes& a = *attributes;
  const bool indexed = a.bitDepth == 1 || a.bitDepth == 4 || a.bitDepth == 8;
  if (!indexed && a.bitDepth != 24) Invalid();

  std::optional<TSource> source;
  if (compositeBank) source = FindComposite(stream, *compositeBank);
  if (!source && layerBank) source = FindLayer(stream, *layerBank, version3, a);
  if (!source || source->bitDepth != a.bitDepth || source->compression > kLZ77) Invalid();

  // Every channel used is checked before the canvas is made.
  const int sampleBits = indexed ? a.bitDepth : 8;
  std::vector<const TChannel*> color;
  const TChannel* mask = nullptr;
  for (const TChannel& c : source->channels) {
    const bool image = IsImageBitmap(c.bitmapType);
    if (indexed && image && c.channelType == kCompositeChannel) {
      color.push_back(&c);
    } else if (!indexed && image && c.channelType >= 1 && c.channelType <= 3) {
      color.push_back(&c);
    } else if (!indexed && IsTransparencyBitmap(c.bitmapType) &&
               c.channelType == kCompositeChannel) {
      mask = &c;
    } else {
      continue;
    }
    StoredRowBytes(c, source->rect, IsTransparencyBitmap(c.bitmapType) ? 8 : sampleBits,
                   source->compression);
  }
  if (color.empty()) Invalid();

  const int32_t width = a.width;
  const int32_t height = a.height;
  if (indexed) {
    SetLayout(PixelLayout::Bits8);
    // Palette pictures without a palette show their indices as grays.
    const size_t entries = size_t{1} << a.bitDepth;
    TPalette colors = source->palette ? *source->palette : palette ? *palette : TPalette{};
    if (colors.empty()) {
      for (size_t i = 0; i < entries; ++i) {
        const auto v = static_cast<uint8_t>(i * 255 / (entries - 1));
        colors.push_back({v, v, v});
      }
    }
    colors.resize(std::max(colors.size(), entries));
    ApplyPalette(std::move(colors));
  } else {
    SetLayout(PixelLayout::Bits24);
  }
  SetImageWidth(width);
  SetImageHeight(height);

  if (indexed) {
    // Of several index channels the last one counts.
    TChannelRows rows(stream, *color.back(), *source, sampleBits, width, height);
    const TVisible& v = rows.Visible();
    if (v.Empty()) return;
    const unsigned mask = (1u << sampleBits) - 1;
    for (int32_t y = v.y0; y < v.y1; ++y) {
      const uint8_t* bytes = rows.NextRow();
      uint8_t* out = RowAddress(y) + v.x0;
      if (sampleBits == 8) {
        std::memcpy(out, bytes, static_cast<size_t>(v.x1 - v.x0));
        continue;
      }
      int bit = rows.BitOffset();
      for (int32_t i = 0; i < v.x1 - v.x0; ++i, bit += sampleBits) {
        out[i] = static_cast<uint8_t>((bytes[bit / 8] >> (8 - sampleBits - bit % 8)) & mask);
      }
    }
    return;
  }

  // The colour channels are read side by side, a row of each at a time, so
  // that each bitmap row is written once. Red, green and blue land on bytes
  // 2, 1 and 0 of each pixel; a missing one stays white, and so does what a
  // transparency mask hides.
  std::optional<TChannelRows> planes[3];
  for (const TChannel* c : color) {
    planes[3 - c->channelType].reset();
    planes[3 - c->channelType].emplace(stream, *c, *source, 8, width, height);
  }
  std::optional<TChannelRows> alpha;
  if (mask != nullptr) alpha.emplace(stream, *mask, *source, 8, width, height);
  // A layer wholly beside or below the canvas leaves it white.
  const TVisible v = Clip(source->rect, width, height);
  if (v.Empty()) return;
  const size_t count = static_cast<size_t>(v.x1 - v.x0);
  for (int32_t y = v.y0; y < v.y1; ++y) {
    const uint8_t* in[3];
    for (size_t k = 0; k < 3; ++k) in[k] = planes[k] ? planes[k]->NextRow() : nullptr;
    const uint8_t* a = alpha ? alpha->NextRow() : nullptr;
    uint8_t* out = RowAddress(y) + size_t(v.x0) * 3;
    if (in[0] != nullptr && in[1] != nullptr && in[2] != nullptr && a == nullptr) {
      for (size_t i = 0; i < count; ++i) {
        out[3 * i] = in[0][i];
        out[3 * i + 1] = in[1][i];
        out[3 * i + 2] = in[2][i];
      }
      continue;
    }
    for (size_t i = 0; i < count; ++i) {
      const unsigned opacity = a != nullptr ? a[i] : 255;
      for (size_t k = 0; k < 3; ++k) {
        const unsigned value = in[k] != nullptr ? in[k][i] : 255;
        out[3 * i + k] =
            static_cast<uint8_t>((value * opacity + 255 * (255 - opacity) + 127) / 255);
      }
    }
  }
}

void RegisterPSPFormats(TFileFormatList& list) {
  list.AddFormat("psp", "Paintshop Pro images", "Paintshop Pro images", false,
                 ClassOf<TPSPGraphic>());
}

std::string TPSPGraphic::FormatName() const {
  return kFormatName;
}

}  // namespace quorvex
