#include "picture/readers/sgi_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "picture/byte_input.h"
#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/image_limits.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr const char* kFormatName = "sgi, bw or rgb(a)";

// Reads up to `count` bytes at `position`, none past the stream's end;
// returns how many arrived.
size_t ReadAt(TStream& stream, uint64_t position, uint8_t* target, size_t count) {
  const int64_t size = stream.Size();
  if (position >= static_cast<uint64_t>(size)) return 0;
  const uint64_t left = static_cast<uint64_t>(size) - position;
  stream.Seek(static_cast<int64_t>(position));
  return stream.Read(target, static_cast<size_t>(std::min<uint64_t>(left, count)));
}

}  // namespace

TSGIHeader TSGIHeader::Parse(std::span<const uint8_t> bytes) {
  TByteReader in(bytes);
  TSGIHeader h;
  h.magic = in.U16BE();
  h.storage = in.U8();
  h.bytesPerChannel = in.U8();
  h.dimension = in.U16BE();
  h.width = in.U16BE();
  h.height = in.U16BE();
  h.channels = in.U16BE();
  return h;
}

bool TSGIHeader::LooksValid() const {
  return magic == kMagic && (bytesPerChannel == 1 || bytesPerChannel == 2) && dimension >= 1 &&
         dimension <= 3;
}

TSGIRLEDecoder::TSGIRLEDecoder(int bitsPerSample) : wide_(bitsPerSample == 16) {}

size_t TSGIRLEDecoder::DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                   size_t targetSize) {
  if (!wide_) {
    const uint8_t* in = source;
    const uint8_t* const inEnd = source + sourceSize;
    uint8_t* out = target;
    uint8_t* const outEnd = target + targetSize;
    while (in != inEnd && out != outEnd) {
      const uint8_t packet = *in++;
      const size_t count = packet & 0x7Fu;
      if (count == 0) break;
      const size_t room = static_cast<size_t>(outEnd - out);
      if (packet & 0x80u) {
        const size_t n = std::min({count, room, static_cast<size_t>(inEnd - in)});
        std::memcpy(out, in, n);
        out += n;
        in += n;
        if (n < count) break;
      } else {
        if (in == inEnd) break;
        const size_t n = std::min(count, room);
        std::memset(out, *in++, n);
        out += n;
      }
    }
    return static_cast<size_t>(out - target);
  }

  // Words of two bytes; a stray last byte of either range is not a word.
  const size_t inWords = sourceSize / 2;
  const size_t outWords = targetSize / 2;
  size_t i = 0;
  size_t o = 0;
  while (i < inWords && o < outWords) {
    const uint16_t packet = LoadU16BE(source + 2 * i++);
    const size_t count = packet & 0x7Fu;
    if (count == 0) break;
    const size_t room = outWords - o;
    if (packet & 0x80u) {
      const size_t n = std::min({count, room, inWords - i});
      std::memcpy(target + 2 * o, source + 2 * i, 2 * n);
      o += n;
      i += n;
      if (n < count) break;
    } else {
      if (i == inWords) break;
      const uint8_t high = source[2 * i];
      const uint8_t low = source[2 * i + 1];
      ++i;
      const size_t n = std::min(count, room);
      for (uint8_t *p = target + 2 * o, *end = p + 2 * n; p != end; p += 2) {
        p[0] = high;
        p[1] = low;
      }
      o += n;
    }
  }
  return 2 * o;
}

bool TSGIGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TSGIHeader::kSize)) return false;
  std::array<uint8_t, TSGIHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  stream.Seek(start);
  return TSGIHeader::Parse(raw).LooksValid();
}

bool TSGIGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  std::array<uint8_t, TSGIHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  header_ = TSGIHeader::Parse(raw);
  const TSGIHeader& h = header_;
  if (h.magic != TSGIHeader::kMagic) return false;
  TImageProperties& p = properties_;
  const uint8_t channels = h.ChannelCount();
  p.width = h.width;
  p.height = h.height;
  p.samplesPerPixel = channels;
  p.bitsPerSample = static_cast<uint8_t>(std::min(8 * h.bytesPerChannel, 255));
  p.bitsPerPixel = static_cast<uint8_t>(std::min(8 * h.bytesPerChannel * channels, 255));
  p.colorScheme = channels == 3   ? ColorScheme::RGB
                  : channels == 4 ? ColorScheme::RGBA
                                  : ColorScheme::Indexed;
  p.hasAlpha = channels == 4;
  p.compression = h.RunLength() ? CompressionKind::RunLength : CompressionKind::NoCompression;
  return true;
}

void TSGIGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  const TSGIHeader& h = header_;
  if (!headerUsable || h.width == 0 || h.height == 0) {
    throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, kFormatName));
  }
  starts_.clear();
  lengths_.clear();
  if (h.RunLength()) ReadRowTables(stream);
  SetUpConverter();
  // Run-length rows may share their data, so only uncompressed data has a
  // floor: all of it.
  if (!h.RunLength()) {
    RequireDataForClaim(*this, h.width, h.height,
                        SaturatingProduct({h.width, h.height, h.bytesPerChannel, h.ChannelCount()}),
                        stream.Remaining(), 1);
  }
  SetImageWidth(h.width);
  SetImageHeight(h.height);
  ReadRows(stream, static_cast<uint64_t>(start));
  starts_ = {};
  lengths_ = {};
}

void TSGIGraphic::ReadRowTables(TStream& stream) {
  // Their size is checked before anything is allocated.
  const size_t entries = size_t{header_.height} * header_.ChannelCount();
  if (static_cast<uint64_t>(stream.Remaining()) < uint64_t{entries} * 8) {
    throw EReadError(kStreamReadError);
  }
  std::vector<uint8_t> tables(entries * 8);
  stream.ReadBuffer(tables.data(), tables.size());
  TByteReader in(tables);
  starts_.resize(entries);
  lengths_.resize(entries);
  for (uint32_t& entry : starts_) entry = in.U32BE();
  for (uint32_t& entry : lengths_) entry = in.U32BE();
}

void TSGIGraphic::SetUpConverter() {
  // Bytes per channel other than 1 or 2, and channel counts other than 1
  // to 4, fail here; two channels fail when the layout is applied.
  const TImageProperties& p = properties_;
  const int channels = header_.ChannelCount();
  TColorManager& cm = ColorManager();
  cm.SetSourceOptions(ConversionOption::ByteSwapOption);
  cm.SetTargetOptions({});
  cm.SetSourceBitsPerSample(p.bitsPerSample);
  cm.SetTargetBitsPerSample(8);
  cm.SetSourceSamplesPerPixel(channels);
  cm.SetTargetSamplesPerPixel(channels);
  cm.SetSourceColorScheme(p.colorScheme);
  cm.SetTargetColorScheme(p.colorScheme == ColorScheme::RGB    ? ColorScheme::BGR
                          : p.colorScheme == ColorScheme::RGBA ? ColorScheme::BGRA
                                                               : ColorScheme::Indexed);
  SetLayout(cm.TargetLayout());
  if (channels == 1) ApplyPalette(cm.MakeGrayPalette(false));
}

void TSGIGraphic::ReadRows(TStream& stream, uint64_t origin) {
  const TSGIHeader& h = header_;
  const size_t channels = h.ChannelCount();
  const size_t height = h.height;
  const size_t bytesPerChannel = h.bytesPerChannel;
  const size_t rowBytes = size_t{h.width} * bytesPerChannel;
  std::vector<uint8_t> rows(rowBytes * channels);
  uint8_t* channelRow[4] = {};
  for (size_t c = 0; c < channels; ++c) channelRow[c] = rows.data() + c * rowBytes;
  const TSampleSources sources =
      channels == 1   ? TSampleSources(channelRow[0])
      : channels == 3 ? TSampleSources(channelRow[0], channelRow[1], channelRow[2])
                      : TSampleSources(channelRow[0], channelRow[1], channelRow[2], channelRow[3]);
  // No run-length row yields more samples than half its bytes, end mark
  // aside, so more input than this is never needed.
  const size_t packedLimit = (2 * size_t{h.width} + 1) * bytesPerChannel;
  std::vector<uint8_t> packed(h.RunLength() ? packedLimit : 0);
  TSGIRLEDecoder decoder(properties_.bitsPerSample);

  for (size_t y = 0; y < height; ++y) {
    // Samples a row does not supply stay white, as the fresh bitmap is.
    std::fill(rows.begin(), rows.end(), 0xFF);
    for (size_t c = 0; c < channels; ++c) {
      const size_t index = y + c * height;
      if (h.RunLength()) {
        const uint64_t wanted = uint64_t{lengths_[index]} * bytesPerChannel;
        const size_t got = ReadAt(stream, origin + starts_[index], packed.data(),
                                  static_cast<size_t>(std::min<uint64_t>(wanted, packedLimit)));
        decoder.DecodeStrip(packed.data(), got, channelRow[c], rowBytes);
      } else {
        ReadAt(stream, origin + TSGIHeader::kSize + uint64_t{rowBytes} * index, channelRow[c],
               rowBytes);
      }
    }
    ColorManager().ConvertPixels(sources, h.width, 0xFF,
                                 RowBytes(static_cast<int32_t>(height - 1 - y)));
  }
}

void RegisterSGIFormats(TFileFormatList& list) {
  const TGraphicClass& sgi = ClassOf<TSGIGraphic>();
  list.AddFormat("sgi", "SGI images", "SGI true color images", false, sgi);
  list.AddFormat("rgba", "", "SGI true color images with alpha", false, sgi);
  list.AddFormat("rgb", "", "SGI true color images", false, sgi);
  list.AddFormat("bw", "", "SGI black/white images", false, sgi);
}

std::string TSGIGraphic::FormatName() const {
  return kFormatName;
}

}  // namespace quorvex
