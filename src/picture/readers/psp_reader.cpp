#include "picture/readers/psp_reader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "picture/byte_input.h"
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
  const size_t headerSize = version3 ? 14 : 10;
  if (limit - at < static_cast<int64_t>(headerSize)) return std::nullopt;
  std::array<uint8_t, 14> bytes;
  stream.Seek(at);
  stream.ReadBuffer(bytes.data(), headerSize);
  TByteReader h(std::span<const uint8_t>(bytes).first(headerSize));
  if (!std::ranges::equal(h.Bytes(sizeof kBlockMark), kBlockMark)) return std::nullopt;
  TBlock block;
  block.id = h.U16LE();
  block.initialLength = version3 ? h.U32LE() : 0;
  const uint32_t length = h.U32LE();
  block.data = at + static_cast<int64_t>(headerSize);
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
    const uint32_t size = TByteReader(ReadFields(stream, block, 0, 4)).U32LE();
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
  const auto bytes = ReadFields(stream, block, chunk.fields, 28);
  TByteReader f(bytes);
  TAttributes a;
  a.width = f.I32LE();
  a.height = f.I32LE();
  a.resolution = std::bit_cast<double>(f.U64LE());
  a.metric = f.U8();
  a.compression = f.U16LE();
  a.bitDepth = f.U16LE();
  f.Skip(6);  // plane count, colour count
  a.greyscale = f.U8() != 0;
  return a;
}

// Entries are blue, green, red and a spare byte.
TPalette ReadPalette(TStream& stream, const TBlock& block, bool version3) {
  const TChunk chunk = ReadChunk(stream, block, version3, 4);
  const uint32_t count = TByteReader(ReadFields(stream, block, chunk.fields, 4)).U32LE();
  const int64_t entriesAt = version3 ? 4 : chunk.end;
  const size_t used = std::min<size_t>(count, kMaxPaletteEntries);
  const auto raw = ReadFields(stream, block, entriesAt, used * 4);
  TByteReader entries(raw);
  TPalette palette(used);
  for (TRGB& color : palette) {
    color.blue = entries.U8();
    color.green = entries.U8();
    color.red = entries.U8();
    entries.Skip(1);
  }
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
  const auto bytes = ReadFields(stream, block, chunk.fields, 12);
  TByteReader f(bytes);
  TChannel c;
  c.compressedLength = f.U32LE();
  c.uncompressedLength = f.U32LE();
  c.bitmapType = f.U16LE();
  c.channelType = f.U16LE();
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

// The attributes of one composite image (version 4 on).
struct TComposite {
  int32_t width = 0;
  int32_t height = 0;
  uint16_t bitDepth = 0;
  uint16_t compression = 0;
  uint16_t type = 0;
};

TComposite ReadCompositeAttributes(std::span<const uint8_t> bytes) {
  TByteReader f(bytes);
  TComposite c;
  c.width = f.I32LE();
  c.height = f.I32LE();
  c.bitDepth = f.U16LE();
  c.compression = f.U16LE();
  f.Skip(6);  // plane count, colour count
  c.type = f.U16LE();
  return c;
}

// The full-size composite image of a composite image bank (version 4 on),
// when it is stored as channels rather than as JPEG data. Attribute blocks
// and image blocks are paired in order.
std::optional<TSource> FindComposite(TStream& stream, const TBlock& bank) {
  const TChunk chunk = ReadChunk(stream, bank, false, 4);
  std::vector<TComposite> attributes;
  std::vector<TBlock> images;
  ForEachBlock(stream, bank.data + chunk.end, bank.end, false, [&](const TBlock& b) {
    if (b.id == static_cast<uint16_t>(PSPBlock::CompositeAttributes)) {
      const TChunk c = ReadChunk(stream, b, false, 20);
      attributes.push_back(ReadCompositeAttributes(ReadFields(stream, b, c.fields, 20)));
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

// What a layer block says before its channels: its type, its image and
// saved rectangles, and where its channel blocks start.
struct TLayerInfo {
  uint8_t type = 0;
  std::vector<uint8_t> rects;
  int64_t channelsAt = 0;
};

// A 256-byte name, the type, the image and saved rectangles.
TLayerInfo ReadLayerInfo3(TStream& stream, const TBlock& b) {
  const TChunk c = ReadChunk(stream, b, true, 289);
  return {ReadFields(stream, b, 256, 1)[0], ReadFields(stream, b, 257, 32), c.end};
}

// A name of stated length, the type and the rectangles; the layer bitmap
// chunk (its size, bitmap and channel counts) follows.
TLayerInfo ReadLayerInfo(TStream& stream, const TBlock& b) {
  const TChunk info = ReadChunk(stream, b, false, 2);
  const uint16_t nameLength = TByteReader(ReadFields(stream, b, info.fields, 2)).U16LE();
  const int64_t typeAt = info.fields + 2 + nameLength;
  if (info.end < typeAt + 33) Invalid();
  TLayerInfo layer;
  layer.type = ReadFields(stream, b, typeAt, 1)[0];
  layer.rects = ReadFields(stream, b, typeAt + 1, 32);
  const uint32_t bitmapChunk = TByteReader(ReadFields(stream, b, info.end, 4)).U32LE();
  layer.channelsAt = info.end + bitmapChunk;
  if (bitmapChunk < 4 || layer.channelsAt > b.end - b.data) Invalid();
  return layer;
}

// The saved rectangle, within the layer's image rectangle, is what is
// stored; it must lie within the coordinate range.
TRect SavedRect(std::span<const uint8_t> rects) {
  TByteReader r(rects);
  const int32_t imageLeft = r.I32LE();
  const int32_t imageTop = r.I32LE();
  r.Skip(8);  // image right and bottom
  const int32_t savedLeft = r.I32LE();
  const int32_t savedTop = r.I32LE();
  const int32_t savedRight = r.I32LE();
  const int32_t savedBottom = r.I32LE();
  const int64_t left = int64_t{imageLeft} + savedLeft;
  const int64_t top = int64_t{imageTop} + savedTop;
  const int64_t width = int64_t{savedRight} - savedLeft;
  const int64_t height = int64_t{savedBottom} - savedTop;
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX || left < INT32_MIN ||
      top < INT32_MIN || left + width > INT32_MAX || top + height > INT32_MAX) {
    Invalid();
  }
  return {static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(left + width),
          static_cast<int32_t>(top + height)};
}

// A raster layer with image channels as a source; nullopt for other layers.
std::optional<TSource> ReadRasterLayer(TStream& stream, const TBlock& b, bool version3,
                                       const TAttributes& attributes) {
  const TLayerInfo layer = version3 ? ReadLayerInfo3(stream, b) : ReadLayerInfo(stream, b);
  const bool raster = version3 ? layer.type <= 1 : (layer.type == 1 || layer.type == 2);
  if (!raster) return std::nullopt;
  TSource source;
  source.rect = SavedRect(layer.rects);
  source.bitDepth = attributes.bitDepth;
  source.compression = attributes.compression;
  CollectChannels(stream, b.data + layer.channelsAt, b, version3, source);
  if (!HasImageChannel(source)) return std::nullopt;
  return source;
}

// The first raster layer of the layer bank that has image channels.
std::optional<TSource> FindLayer(TStream& stream, const TBlock& bank, bool version3,
                                 const TAttributes& attributes) {
  std::optional<TSource> found;
  ForEachBlock(stream, bank.data + bank.initialLength, bank.end, version3, [&](const TBlock& b) {
    if (found || b.id != static_cast<uint16_t>(PSPBlock::Layer)) return;
    found = ReadRasterLayer(stream, b, version3, attributes);
  });
  return found;
}

// Delivers a channel's bytes in order from its compressed data through a
// buffered input of its own. Channels are read side by side from the one
// stream, so each input finds the stream where it left it before reading
// on. Running out of data is bad data.
class TChannelReader {
 public:
  TChannelReader(TStream& stream, const TChannel& channel, uint16_t compression)
      : stream_(stream),
        streamAt_(channel.data),
        input_(Positioned(stream, channel.data), channel.compressedLength,
               static_cast<size_t>(std::clamp<int64_t>(channel.compressedLength, 1, kCapacity))),
        compression_(compression) {
    if (compression_ == kLZ77) StartInflating();
  }
  ~TChannelReader() {
    if (inflating_) inflateEnd(&z_);
  }
  TChannelReader(const TChannelReader&) = delete;
  TChannelReader& operator=(const TChannelReader&) = delete;

  void Read(std::span<uint8_t> target) {
    while (!target.empty()) {
      const size_t got = Produce(target);
      target = target.subspan(got);
      if (!target.empty() && got == 0 && !Refill()) Invalid();
    }
  }

  void Skip(uint64_t count) {
    if (compression_ == kNoCompression) {
      if (count > static_cast<uint64_t>(input_.Remaining())) Invalid();
      stream_.Seek(streamAt_);
      input_.Skip(count);
      streamAt_ = stream_.Position();
      return;
    }
    std::array<uint8_t, 4096> scratch;
    while (count != 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(count, scratch.size()));
      Read(std::span(scratch).first(n));
      count -= n;
    }
  }

 private:
  static constexpr int64_t kCapacity = int64_t{64} << 10;

  static TStream& Positioned(TStream& stream, int64_t at) {
    stream.Seek(at);
    return stream;
  }

  // zlib streams normally; a bare deflate stream is taken as well.
  void StartInflating() {
    Refill();
    TByteReader head(input_.Buffered());
    const bool wrapped = head.Has(2) && (head.Rest()[0] & 0x0F) == 8 && head.U16BE() % 31 == 0;
    if (inflateInit2(&z_, wrapped ? 15 : -15) != Z_OK) Invalid();
    inflating_ = true;
  }

  // Bytes made from the input at hand, perhaps none.
  size_t Produce(std::span<uint8_t> target) {
    const std::span<const uint8_t> in = input_.Buffered();
    switch (compression_) {
      case kRunLength: {
        const uint8_t* next = in.data();
        const size_t made =
            runLength_.Decode(next, in.data() + in.size(), target.data(), target.size());
        input_.Consume(static_cast<size_t>(next - in.data()));
        return made;
      }
      case kLZ77:
        return Inflate(in, target);
      default: {
        const size_t n = std::min(target.size(), in.size());
        std::copy_n(in.begin(), n, target.begin());
        input_.Consume(n);
        return n;
      }
    }
  }

  size_t Inflate(std::span<const uint8_t> in, std::span<uint8_t> target) {
    if (finished_) Invalid();
    z_.next_in = const_cast<Bytef*>(in.data());
    z_.avail_in = static_cast<uInt>(in.size());
    z_.next_out = target.data();
    z_.avail_out = static_cast<uInt>(std::min<size_t>(target.size(), UINT32_MAX));
    const int result = inflate(&z_, Z_NO_FLUSH);
    input_.Consume(in.size() - z_.avail_in);
    if (result == Z_STREAM_END) {
      finished_ = true;
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      Invalid();
    }
    return static_cast<size_t>(z_.next_out - target.data());
  }

  // Keeps the unused bytes and reads more after them; false at the end of
  // the channel's data.
  bool Refill() {
    stream_.Seek(streamAt_);
    const bool got = input_.Refill();
    streamAt_ = stream_.Position();
    return got;
  }

  TStream& stream_;
  int64_t streamAt_;  // where this channel's input left the stream
  TBufferedInput input_;
  uint16_t compression_;
  TPSPRunLengthDecoder runLength_;
  z_stream z_{};
  bool inflating_ = false;
  bool finished_ = false;
};

// The visible part of a stored rectangle on a canvas.
struct TVisible {
  int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
  size_t Width() const { return static_cast<size_t>(x1 - x0); }
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
  std::span<const uint8_t> NextRow() {
    if (!first_) reader_->Skip(rowBytes_ - endByte_);
    first_ = false;
    reader_->Skip(startByte_);
    reader_->Read(piece_);
    return piece_;
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

// The channels a picture is made of, each checked before the canvas is made.
struct TChannelChoice {
  std::vector<const TChannel*> color;
  const TChannel* mask = nullptr;
};

TChannelChoice ChooseChannels(const TSource& source, bool indexed, int sampleBits) {
  TChannelChoice choice;
  for (const TChannel& c : source.channels) {
    const bool image = IsImageBitmap(c.bitmapType);
    if (indexed && image && c.channelType == kCompositeChannel) {
      choice.color.push_back(&c);
    } else if (!indexed && image && c.channelType >= 1 && c.channelType <= 3) {
      choice.color.push_back(&c);
    } else if (!indexed && IsTransparencyBitmap(c.bitmapType) &&
               c.channelType == kCompositeChannel) {
      choice.mask = &c;
    } else {
      continue;
    }
    StoredRowBytes(c, source.rect, IsTransparencyBitmap(c.bitmapType) ? 8 : sampleBits,
                   source.compression);
  }
  if (choice.color.empty()) Invalid();
  return choice;
}

// The palette of a palette picture: its source's own, else the document's,
// else a gray ramp, so that indices without colours show as grays.
TPalette PaletteOf(const TSource& source, const std::optional<TPalette>& document,
                   uint16_t bitDepth) {
  const size_t entries = size_t{1} << bitDepth;
  TPalette colors = source.palette ? *source.palette : document ? *document : TPalette{};
  if (colors.empty()) {
    for (size_t i = 0; i < entries; ++i) {
      const auto v = static_cast<uint8_t>(i * 255 / (entries - 1));
      colors.push_back({v, v, v});
    }
  }
  colors.resize(std::max(colors.size(), entries));
  return colors;
}

// Of several index channels the last one counts.
void DecodeIndexed(TBitmap& canvas, TStream& stream, const TSource& source,
                   const TChannelChoice& channels, int sampleBits) {
  TChannelRows rows(stream, *channels.color.back(), source, sampleBits, canvas.ImageWidth(),
                    canvas.ImageHeight());
  const TVisible& v = rows.Visible();
  if (v.Empty()) return;
  const unsigned mask = (1u << sampleBits) - 1;
  for (int32_t y = v.y0; y < v.y1; ++y) {
    const std::span<const uint8_t> bytes = rows.NextRow();
    const std::span<uint8_t> out = canvas.RowBytes(y).subspan(static_cast<size_t>(v.x0), v.Width());
    if (sampleBits == 8) {
      std::ranges::copy(bytes.first(out.size()), out.begin());
      continue;
    }
    int bit = rows.BitOffset();
    for (uint8_t& index : out) {
      index = static_cast<uint8_t>(
          (bytes[static_cast<size_t>(bit / 8)] >> (8 - sampleBits - bit % 8)) & mask);
      bit += sampleBits;
    }
  }
}

// One canvas row from the visible parts of the red, green and blue rows (a
// missing one white) and the mask row (none: opaque), blended onto white.
void BlendRow(std::span<uint8_t> out, const std::array<std::span<const uint8_t>, 3>& in,
              std::span<const uint8_t> alpha) {
  const size_t count = out.size() / 3;
  const bool complete = !in[0].empty() && !in[1].empty() && !in[2].empty();
  if (complete && alpha.empty()) {
    // Local pointers: the byte stores could otherwise alias the spans.
    const uint8_t* blue = in[0].data();
    const uint8_t* green = in[1].data();
    const uint8_t* red = in[2].data();
    uint8_t* pixel = out.data();
    for (size_t i = 0; i < count; ++i, pixel += 3) {
      pixel[0] = blue[i];
      pixel[1] = green[i];
      pixel[2] = red[i];
    }
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    const unsigned opacity = !alpha.empty() ? alpha[i] : 255;
    for (size_t k = 0; k < 3; ++k) {
      const unsigned value = !in[k].empty() ? in[k][i] : 255;
      out[3 * i + k] = static_cast<uint8_t>((value * opacity + 255 * (255 - opacity) + 127) / 255);
    }
  }
}

// The colour channels are read side by side, a row of each at a time, so
// that each bitmap row is written once. Red, green and blue land on bytes
// 2, 1 and 0 of each pixel; a missing one stays white, and so does what a
// transparency mask hides.
void DecodeColor(TBitmap& canvas, TStream& stream, const TSource& source,
                 const TChannelChoice& channels) {
  const int32_t width = canvas.ImageWidth();
  const int32_t height = canvas.ImageHeight();
  std::optional<TChannelRows> planes[3];
  for (const TChannel* c : channels.color) {
    planes[3 - c->channelType].reset();
    planes[3 - c->channelType].emplace(stream, *c, source, 8, width, height);
  }
  std::optional<TChannelRows> alpha;
  if (channels.mask != nullptr) alpha.emplace(stream, *channels.mask, source, 8, width, height);
  // A layer wholly beside or below the canvas leaves it white.
  const TVisible v = Clip(source.rect, width, height);
  if (v.Empty()) return;
  for (int32_t y = v.y0; y < v.y1; ++y) {
    std::array<std::span<const uint8_t>, 3> in;
    for (size_t k = 0; k < 3; ++k) {
      if (planes[k]) in[k] = planes[k]->NextRow();
    }
    const std::span<const uint8_t> a = alpha ? alpha->NextRow() : std::span<const uint8_t>();
    BlendRow(canvas.RowBytes(y).subspan(size_t(v.x0) * 3, v.Width() * 3), in, a);
  }
}

// Where the file's top-level blocks put the picture, as the header read
// found them.
struct TTopBlocks {
  std::optional<TAttributes> attributes;
  std::optional<TBlock> color;
  std::optional<TBlock> layerBank;
  std::optional<TBlock> compositeBank;
};

TTopBlocks ReadTopBlocks(TStream& stream, int64_t from, bool version3) {
  TTopBlocks top;
  ForEachBlock(stream, from, stream.Size(), version3, [&](const TBlock& b) {
    switch (static_cast<PSPBlock>(b.id)) {
      case PSPBlock::Image:
        if (!top.attributes) top.attributes = ReadAttributes(stream, b, version3);
        break;
      case PSPBlock::Color:
        if (!top.color) top.color = b;
        break;
      case PSPBlock::LayerStart:
        if (!top.layerBank) top.layerBank = b;
        break;
      case PSPBlock::CompositeImageBank:
        if (!top.compositeBank && !version3) top.compositeBank = b;
        break;
      default:
        break;
    }
  });
  return top;
}

}  // namespace

struct TPSPGraphic::TDocument {
  bool version3 = false;
  TTopBlocks blocks;
};

TPSPGraphic::TPSPGraphic() : document_(std::make_unique<TDocument>()) {}
TPSPGraphic::~TPSPGraphic() = default;

TPSPFileHeader TPSPFileHeader::Parse(std::span<const uint8_t, kSize> bytes) {
  TByteReader reader(bytes);
  TPSPFileHeader h;
  h.signatureMatches = true;
  for (const char expected : std::string_view(kSignature)) {
    if (std::tolower(reader.U8()) != std::tolower(static_cast<unsigned char>(expected))) {
      h.signatureMatches = false;
    }
  }
  reader.Seek(32);
  h.majorVersion = reader.U16LE();
  h.minorVersion = reader.U16LE();
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
  std::array<uint8_t, TPSPFileHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  stream.Seek(start);
  return TPSPFileHeader::Parse(raw).LooksValid();
}

bool TPSPGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  *document_ = TDocument{};
  const int64_t base = stream.Position();
  if (stream.Remaining() < static_cast<int64_t>(TPSPFileHeader::kSize)) return false;
  std::array<uint8_t, TPSPFileHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  const TPSPFileHeader header = TPSPFileHeader::Parse(raw);
  if (!header.LooksValid()) return false;
  document_->version3 = header.majorVersion == 3;
  document_->blocks =
      ReadTopBlocks(stream, base + int64_t{TPSPFileHeader::kSize}, document_->version3);
  const std::optional<TAttributes>& attributes = document_->blocks.attributes;
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

void TPSPGraphic::Decode(TStream& stream, int64_t /*start*/, bool headerUsable) {
  if (!headerUsable) Invalid();
  const bool version3 = document_->version3;
  const TTopBlocks& top = document_->blocks;
  std::optional<TPalette> palette;
  if (top.color) palette = ReadPalette(stream, *top.color, version3);
  const TAttributes& a = *top.attributes;
  const bool indexed = a.bitDepth == 1 || a.bitDepth == 4 || a.bitDepth == 8;
  if (!indexed && a.bitDepth != 24) Invalid();

  std::optional<TSource> source;
  if (top.compositeBank) source = FindComposite(stream, *top.compositeBank);
  if (!source && top.layerBank) source = FindLayer(stream, *top.layerBank, version3, a);
  if (!source || source->bitDepth != a.bitDepth || source->compression > kLZ77) Invalid();

  const int sampleBits = indexed ? a.bitDepth : 8;
  const TChannelChoice channels = ChooseChannels(*source, indexed, sampleBits);
  if (indexed) {
    SetLayout(PixelLayout::Bits8);
    ApplyPalette(PaletteOf(*source, palette, a.bitDepth));
  } else {
    SetLayout(PixelLayout::Bits24);
  }
  SetImageWidth(a.width);
  SetImageHeight(a.height);
  if (indexed) {
    DecodeIndexed(*this, stream, *source, channels, sampleBits);
  } else {
    DecodeColor(*this, stream, *source, channels);
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
