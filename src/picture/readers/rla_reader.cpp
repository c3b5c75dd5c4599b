#include "picture/readers/rla_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr const char* kFormatName = "RLA";

constexpr size_t kChannelsOffset = 580;
constexpr size_t kChannelsSize = 32;

[[noreturn]] void Invalid() {
  throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, kFormatName));
}

// Reads the scan lines through a window of the file, so that the many small
// reads of a line's channels cost no stream access each; lines usually
// follow one another, so a window serves several.
class TLineInput {
 public:
  explicit TLineInput(TStream& stream) : stream_(stream), buffer_(kCapacity) {}

  void Seek(int64_t position) { position_ = position; }

  // Exactly `count` bytes; running out of file is bad data.
  void Read(uint8_t* target, size_t count) {
    while (count != 0) {
      if (position_ < start_ || position_ >= start_ + static_cast<int64_t>(length_)) Fill();
      const size_t at = static_cast<size_t>(position_ - start_);
      const size_t n = std::min(count, length_ - at);
      std::memcpy(target, buffer_.data() + at, n);
      target += n;
      count -= n;
      position_ += static_cast<int64_t>(n);
    }
  }

 private:
  static constexpr size_t kCapacity = size_t{64} << 10;

  void Fill() {
    start_ = position_;
    stream_.Seek(position_);
    length_ = stream_.Position() == position_ ? stream_.Read(buffer_.data(), buffer_.size()) : 0;
    if (length_ == 0) Invalid();
  }

  TStream& stream_;
  std::vector<uint8_t> buffer_;
  int64_t position_ = 0;
  int64_t start_ = 0;
  size_t length_ = 0;
};

}  // namespace

TRLAHeader TRLAHeader::Parse(const uint8_t* b) {
  auto i16 = [b](size_t at) { return static_cast<int16_t>((b[at] << 8) | b[at + 1]); };
  TRLAHeader h;
  h.windowLeft = i16(0);
  h.windowRight = i16(2);
  h.windowBottom = i16(4);
  h.windowTop = i16(6);
  h.activeLeft = i16(8);
  h.activeRight = i16(10);
  h.activeBottom = i16(12);
  h.activeTop = i16(14);
  h.storageType = i16(18);
  h.colorChannels = i16(20);
  h.matteChannels = i16(22);
  h.auxChannels = i16(24);
  h.revision = static_cast<uint16_t>(i16(26));
  const uint8_t* text = b + kChannelsOffset;
  const size_t length = static_cast<size_t>(std::find(text, text + kChannelsSize, 0) - text);
  h.channels.assign(reinterpret_cast<const char*>(text), length);
  h.channelBits = i16(658);
  h.matteBits = i16(662);
  return h;
}

bool TRLAHeader::LooksValid() const {
  if (revision != kCurrentRevision) return false;
  std::string name = channels;
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name == "rgb" || name == "xyz";
}

size_t TRLARunLengthDecoder::Decode(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                    size_t targetSize, size_t* consumed) {
  const uint8_t* in = source;
  const uint8_t* const inEnd = source + sourceSize;
  uint8_t* out = target;
  uint8_t* const outEnd = target + targetSize;
  while (in != inEnd && out != outEnd) {
    const auto count = static_cast<int8_t>(*in++);
    const size_t room = static_cast<size_t>(outEnd - out);
    if (count >= 0) {
      if (in == inEnd) break;
      const size_t n = std::min<size_t>(static_cast<size_t>(count) + 1, room);
      std::memset(out, *in++, n);
      out += n;
    } else {
      const size_t available = static_cast<size_t>(inEnd - in);
      const size_t n = std::min({static_cast<size_t>(-count), room, available});
      std::memcpy(out, in, n);
      out += n;
      in += n;
    }
  }
  if (consumed != nullptr) *consumed = static_cast<size_t>(in - source);
  return static_cast<size_t>(out - target);
}

bool TRLAGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TRLAHeader::kSize)) return false;
  uint8_t raw[TRLAHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  stream.Seek(start);
  return TRLAHeader::Parse(raw).LooksValid();
}

bool TRLAGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  if (stream.Remaining() < static_cast<int64_t>(TRLAHeader::kSize)) return false;
  uint8_t raw[TRLAHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TRLAHeader h = TRLAHeader::Parse(raw);
  // Older files leave the channel depth at 0 for 8 bits.
  const int bits = h.channelBits == 0 ? 8 : h.channelBits;
  if (h.Width() <= 0 || h.Height() <= 0 || h.colorChannels <= 0 || h.matteChannels < 0 ||
      h.auxChannels < 0 || bits <= 0 || bits > 32) {
    return false;
  }
  TImageProperties& p = properties_;
  p.version = h.revision;
  p.width = h.Width();
  p.height = h.Height();
  p.hasAlpha = h.matteChannels > 0;
  p.colorScheme = h.colorChannels >= 3 ? (p.hasAlpha ? ColorScheme::RGBA : ColorScheme::RGB)
                                       : (p.hasAlpha ? ColorScheme::GrayAlpha : ColorScheme::Gray);
  p.bitsPerSample = static_cast<uint8_t>(bits);
  p.samplesPerPixel =
      static_cast<uint8_t>(std::min(h.colorChannels, int16_t{3}) + (p.hasAlpha ? 1 : 0));
  p.bitsPerPixel = static_cast<uint8_t>(std::min(p.samplesPerPixel * bits, 255));
  p.compression = CompressionKind::RunLength;
  return true;
}

void TRLAGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  const int64_t base = stream.Position();
  if (!ReadHeaderInfo(stream, 0)) Invalid();
  stream.Seek(base);
  uint8_t raw[TRLAHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TRLAHeader h = TRLAHeader::Parse(raw);
  const TImageProperties& p = properties_;

  const bool gray = h.colorChannels == 1;
  const bool matte = !gray && h.matteChannels > 0;
  const int matteBits = h.matteBits == 0 ? 8 : h.matteBits;
  if (p.bitsPerSample != 8 || (h.colorChannels != 1 && h.colorChannels != 3) ||
      (matte && matteBits != 8)) {
    Invalid();
  }
  const int32_t width = p.width;
  const int32_t height = p.height;

  // The offset table must be in the file before anything is allocated for
  // the picture it describes.
  const size_t tableBytes = size_t(height) * 4;
  if (stream.Remaining() < static_cast<int64_t>(tableBytes)) Invalid();
  std::vector<uint8_t> table(tableBytes);
  stream.ReadBuffer(table.data(), table.size());

  SetLayout(gray ? PixelLayout::Bits8 : matte ? PixelLayout::Bits32 : PixelLayout::Bits24);
  TColorManager& cm = ColorManager();
  if (gray) {
    cm.SetSourceColorScheme(ColorScheme::Gray);
    cm.SetTargetColorScheme(ColorScheme::Gray);
    cm.SetSourceSamplesPerPixel(1);
    cm.SetTargetSamplesPerPixel(1);
  } else {
    cm.SetSourceColorScheme(matte ? ColorScheme::RGBA : ColorScheme::RGB);
    cm.SetTargetColorScheme(matte ? ColorScheme::BGRA : ColorScheme::BGR);
    cm.SetSourceSamplesPerPixel(matte ? 4 : 3);
    cm.SetTargetSamplesPerPixel(matte ? 4 : 3);
  }
  cm.SetSourceBitsPerSample(8);
  cm.SetTargetBitsPerSample(8);
  cm.SetSourceOptions({});
  if (gray) ApplyPalette(cm.MakeGrayPalette(false));
  SetImageWidth(width);
  SetImageHeight(height);

  // Each stored line holds the colour channels, then the mattes; only the
  // ones the picture shows are decoded.
  const size_t channels = gray ? 1 : matte ? 4 : 3;
  const size_t lineWidth = static_cast<size_t>(width);
  std::vector<uint8_t> planes(channels * lineWidth);
  std::vector<uint8_t> coded;
  TLineInput input(stream);
  for (int32_t line = 0; line < height; ++line) {
    const uint8_t* entry = table.data() + size_t(line) * 4;
    const uint32_t offset = (uint32_t{entry[0]} << 24) | (uint32_t{entry[1]} << 16) |
                            (uint32_t{entry[2]} << 8) | entry[3];
    if (offset < TRLAHeader::kSize || int64_t{offset} >= stream.Size() - base) Invalid();
    input.Seek(base + offset);
    for (size_t c = 0; c < channels; ++c) {
      uint8_t lengthBytes[2];
      input.Read(lengthBytes, 2);
      const size_t length = size_t(lengthBytes[0]) << 8 | lengthBytes[1];
      coded.resize(length);
      input.Read(coded.data(), length);
      uint8_t* plane = planes.data() + c * lineWidth;
      if (TRLARunLengthDecoder::Decode(coded.data(), length, plane, lineWidth) != lineWidth) {
        Invalid();
      }
    }
    // Lines are stored bottom line first.
    uint8_t* row = RowAddress(height - 1 - line);
    const uint8_t* p0 = planes.data();
    if (gray) {
      std::memcpy(row, p0, lineWidth);
    } else if (matte) {
      cm.ConvertPixels(TSampleSources(p0, p0 + lineWidth, p0 + 2 * lineWidth, p0 + 3 * lineWidth),
                       static_cast<uint32_t>(width), 0xFF, row);
    } else {
      cm.ConvertPixels(TSampleSources(p0, p0 + lineWidth, p0 + 2 * lineWidth),
                       static_cast<uint32_t>(width), 0xFF, row);
    }
  }
}

void RegisterRLAFormats(TFileFormatList& list) {
  const TGraphicClass& rla = ClassOf<TRLAGraphic>();
  list.AddFormat("rpf", "Alias/Wavefront images", "Alias/Wavefront images", false, rla);
  list.AddFormat("rla", "", "Alias/Wavefront images", false, rla);
}

std::string TRLAGraphic::FormatName() const {
  return kFormatName;
}

}  // namespace quorvex
