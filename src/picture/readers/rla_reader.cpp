#include "picture/readers/rla_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "picture/byte_input.h"
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
constexpr size_t kChannelBitsOffset = 658;
constexpr size_t kMatteBitsOffset = 662;

[[noreturn]] void Invalid() {
  throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, kFormatName));
}

// A line's channel: a big-endian byte count, then that many bytes of
// run-length code, decoded into `plane`. Data that ends early, or code that
// does not fill the plane, is a broken file.
void ReadChannel(TBufferedInput& input, std::span<uint8_t> plane) {
  if (!input.Ensure(2)) Invalid();
  const size_t length = LoadU16BE(input.Buffered().data());
  input.Consume(2);
  if (!input.Ensure(length)) Invalid();
  const std::span<const uint8_t> coded = input.Buffered().first(length);
  if (TRLARunLengthDecoder::Decode(coded.data(), coded.size(), plane.data(), plane.size()) !=
      plane.size()) {
    Invalid();
  }
  input.Consume(length);
}

}  // namespace

TRLAHeader TRLAHeader::Parse(std::span<const uint8_t> bytes) {
  if (bytes.size() < kSize) throw EReadError(kStreamReadError);
  TByteReader in(bytes);
  TRLAHeader h;
  h.windowLeft = in.I16BE();
  h.windowRight = in.I16BE();
  h.windowBottom = in.I16BE();
  h.windowTop = in.I16BE();
  h.activeLeft = in.I16BE();
  h.activeRight = in.I16BE();
  h.activeBottom = in.I16BE();
  h.activeTop = in.I16BE();
  in.Skip(2);  // frame
  h.storageType = in.I16BE();
  h.colorChannels = in.I16BE();
  h.matteChannels = in.I16BE();
  h.auxChannels = in.I16BE();
  h.revision = in.U16BE();
  const std::span<const uint8_t> text = in.Sub(kChannelsOffset, kChannelsSize).All();
  const auto length = static_cast<size_t>(std::find(text.begin(), text.end(), 0) - text.begin());
  h.channels.assign(reinterpret_cast<const char*>(text.data()), length);
  in.Seek(kChannelBitsOffset);
  h.channelBits = in.I16BE();
  in.Seek(kMatteBitsOffset);
  h.matteBits = in.I16BE();
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
  std::array<uint8_t, TRLAHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  stream.Seek(start);
  return TRLAHeader::Parse(raw).LooksValid();
}

bool TRLAGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  if (stream.Remaining() < static_cast<int64_t>(TRLAHeader::kSize)) return false;
  std::array<uint8_t, TRLAHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  header_ = TRLAHeader::Parse(raw);
  const TRLAHeader& h = header_;
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

size_t TRLAGraphic::ShownChannels() const {
  if (header_.colorChannels == 1) return 1;
  return header_.matteChannels > 0 ? 4 : 3;
}

void TRLAGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  if (!headerUsable) Invalid();
  const TRLAHeader& h = header_;
  const size_t channels = ShownChannels();
  const int matteBits = h.matteBits == 0 ? 8 : h.matteBits;
  if (properties_.bitsPerSample != 8 || (h.colorChannels != 1 && h.colorChannels != 3) ||
      (channels == 4 && matteBits != 8)) {
    Invalid();
  }
  // The offset table must be in the file before anything is allocated for
  // the picture it describes.
  const size_t tableBytes = size_t(properties_.height) * 4;
  if (stream.Remaining() < static_cast<int64_t>(tableBytes)) Invalid();
  std::vector<uint8_t> offsets(tableBytes);
  stream.ReadBuffer(offsets.data(), offsets.size());

  SetUpConverter(channels);
  SetImageWidth(properties_.width);
  SetImageHeight(properties_.height);
  ReadLines(stream, start, offsets, channels);
}

void TRLAGraphic::SetUpConverter(size_t channels) {
  const bool gray = channels == 1;
  const bool matte = channels == 4;
  SetLayout(gray ? PixelLayout::Bits8 : matte ? PixelLayout::Bits32 : PixelLayout::Bits24);
  TColorManager& cm = ColorManager();
  if (gray) {
    cm.SetSourceColorScheme(ColorScheme::Gray);
    cm.SetTargetColorScheme(ColorScheme::Gray);
  } else {
    cm.SetSourceColorScheme(matte ? ColorScheme::RGBA : ColorScheme::RGB);
    cm.SetTargetColorScheme(matte ? ColorScheme::BGRA : ColorScheme::BGR);
  }
  cm.SetSourceSamplesPerPixel(static_cast<int>(channels));
  cm.SetTargetSamplesPerPixel(static_cast<int>(channels));
  cm.SetSourceBitsPerSample(8);
  cm.SetTargetBitsPerSample(8);
  cm.SetSourceOptions({});
  if (gray) ApplyPalette(cm.MakeGrayPalette(false));
}

void TRLAGraphic::ReadLines(TStream& stream, int64_t start, const std::vector<uint8_t>& offsets,
                            size_t channels) {
  // Each stored line holds the colour channels, then the mattes; only the
  // ones the picture shows are decoded. Lines usually follow one another,
  // so one buffered input serves them until one lies behind it.
  const int32_t height = properties_.height;
  const size_t lineWidth = static_cast<size_t>(properties_.width);
  std::vector<uint8_t> planes(channels * lineWidth);
  TByteReader table(offsets);
  std::optional<TBufferedInput> input;
  for (int32_t line = 0; line < height; ++line) {
    const uint32_t offset = table.U32BE();
    if (offset < TRLAHeader::kSize || int64_t{offset} >= stream.Size() - start) Invalid();
    const int64_t at = start + offset;
    if (input && at >= input->Position() && at - input->Position() <= input->Remaining()) {
      input->Skip(static_cast<uint64_t>(at - input->Position()));
    } else {
      // A line behind the buffer: start again there, with the same buffer.
      if (!input) input.emplace(stream);
      input->Reposition(at);
      if (input->Position() != at) Invalid();
    }
    for (size_t c = 0; c < channels; ++c) {
      ReadChannel(*input, std::span<uint8_t>(planes).subspan(c * lineWidth, lineWidth));
    }
    // Lines are stored bottom line first.
    WriteRow(height - 1 - line, planes, channels);
  }
}

void TRLAGraphic::WriteRow(int32_t y, const std::vector<uint8_t>& planes, size_t channels) {
  const std::span<uint8_t> row = RowBytes(y);
  const size_t lineWidth = static_cast<size_t>(properties_.width);
  const uint8_t* p0 = planes.data();
  const auto width = static_cast<uint32_t>(properties_.width);
  if (channels == 1) {
    std::memcpy(row.first(lineWidth).data(), p0, lineWidth);
  } else if (channels == 4) {
    ColorManager().ConvertPixels(
        TSampleSources(p0, p0 + lineWidth, p0 + 2 * lineWidth, p0 + 3 * lineWidth), width, 0xFF,
        row);
  } else {
    ColorManager().ConvertPixels(TSampleSources(p0, p0 + lineWidth, p0 + 2 * lineWidth), width,
                                 0xFF, row);
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
