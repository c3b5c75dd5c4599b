#include "picture/readers/targa_reader.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/readers/claimed_size.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr uint64_t kMaxTargaRunLength = 128;

// Feeds a decoder from the stream in large pieces; a refill keeps the bytes
// the decoder has not used yet.
class TInputWindow {
 public:
  explicit TInputWindow(TStream& stream) : stream_(stream), buffer_(kCapacity) {
    next = end = buffer_.data();
  }

  // Reads more after the unused bytes; false when the stream has no more.
  bool Refill() {
    const size_t keep = static_cast<size_t>(end - next);
    std::memmove(buffer_.data(), next, keep);
    const size_t got = stream_.Read(buffer_.data() + keep, buffer_.size() - keep);
    next = buffer_.data();
    end = next + keep + got;
    return got != 0;
  }
  // The stream position just after the bytes used.
  int64_t UsedPosition() const { return stream_.Position() - (end - next); }

  const uint8_t* next = nullptr;
  const uint8_t* end = nullptr;

 private:
  static constexpr size_t kCapacity = size_t{64} << 10;
  TStream& stream_;
  std::vector<uint8_t> buffer_;
};

// The palette a colour map gives: entry i is map entry i (the first-index
// field plays no part), at most 256 of them.
std::optional<TPalette> ColorMapPalette(const std::vector<uint8_t>& map, uint32_t entrySize,
                                        uint32_t entries) {
  TPalette palette;
  palette.reserve(entries);
  const uint8_t* e = map.data();
  for (uint32_t i = 0; i < entries; ++i) {
    switch (entrySize) {
      case 15:
      case 16: {
        const uint32_t word = e[0] | (uint32_t{e[1]} << 8);
        palette.push_back({static_cast<uint8_t>(((word >> 10) & 31) << 3),
                           static_cast<uint8_t>(((word >> 5) & 31) << 3),
                           static_cast<uint8_t>((word & 31) << 3)});
        e += 2;
        break;
      }
      case 24:
      case 32:
        palette.push_back({e[2], e[1], e[0]});
        e += entrySize / 8;
        break;
      default:
        return std::nullopt;
    }
  }
  if (palette.empty()) return std::nullopt;
  return palette;
}

}  // namespace

TTargaHeader TTargaHeader::Parse(const uint8_t* b) {
  auto u16 = [b](size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); };
  TTargaHeader h;
  h.idLength = b[0];
  h.colorMapType = b[1];
  h.imageType = b[2];
  h.colorMapFirst = u16(3);
  h.colorMapLength = u16(5);
  h.colorMapEntrySize = b[7];
  h.xOrigin = u16(8);
  h.yOrigin = u16(10);
  h.width = u16(12);
  h.height = u16(14);
  h.pixelSize = b[16];
  h.descriptor = b[17];
  return h;
}

bool TTargaHeader::LooksValid() const {
  const bool typeOk = imageType <= 3 || (imageType >= 9 && imageType <= 11);
  const bool mapTypeOk = colorMapType <= 1;
  const bool entryOk = colorMapEntrySize == 15 || colorMapEntrySize == 16 ||
                       colorMapEntrySize == 24 || colorMapEntrySize == 32;
  return typeOk && mapTypeOk && entryOk && BytesPerPixel() != 0;
}

uint32_t TTargaHeader::BytesPerPixel() const {
  switch (pixelSize) {
    case 8:
      return 1;
    case 15:
    case 16:
      return 2;
    case 24:
      return 3;
    case 32:
      return 4;
    default:
      return 0;
  }
}

TTargaRLEDecoder::TTargaRLEDecoder(uint32_t bytesPerPixel)
    : bytesPerPixel_(std::clamp<uint32_t>(bytesPerPixel, 1, 4)) {}

void TTargaRLEDecoder::Reset() {
  left_ = 0;
  run_ = false;
}

uint32_t TTargaRLEDecoder::Decode(const uint8_t*& source, const uint8_t* end, uint8_t* target,
                                  uint32_t count) {
  switch (bytesPerPixel_) {
    case 1:
      return DecodeWith<1>(source, end, target, count);
    case 2:
      return DecodeWith<2>(source, end, target, count);
    case 3:
      return DecodeWith<3>(source, end, target, count);
    default:
      return DecodeWith<4>(source, end, target, count);
  }
}

template <uint32_t N>
uint32_t TTargaRLEDecoder::DecodeWith(const uint8_t*& source, const uint8_t* end, uint8_t* target,
                                      uint32_t count) {
  const uint8_t* in = source;
  uint32_t done = 0;
  while (done < count) {
    if (left_ == 0) {
      if (in == end) break;
      const uint8_t header = *in;
      run_ = (header & 0x80) != 0;
      if (run_) {
        if (static_cast<size_t>(end - in) < 1 + N) break;
        std::memcpy(value_, in + 1, N);
        in += 1 + N;
      } else {
        ++in;
      }
      left_ = (header & 0x7Fu) + 1;
    }
    uint32_t n = std::min(left_, count - done);
    uint8_t* out = target + static_cast<size_t>(done) * N;
    if (run_) {
      if constexpr (N == 1) {
        std::memset(out, value_[0], n);
      } else {
        for (uint32_t i = 0; i < n; ++i) std::memcpy(out + i * N, value_, N);
      }
    } else {
      n = std::min<uint32_t>(n, static_cast<uint32_t>(static_cast<size_t>(end - in) / N));
      if (n == 0) break;
      std::memcpy(out, in, static_cast<size_t>(n) * N);
      in += static_cast<size_t>(n) * N;
    }
    done += n;
    left_ -= n;
  }
  source = in;
  return done;
}

bool TTargaGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TTargaHeader::kSize)) return false;
  uint8_t raw[TTargaHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  stream.Seek(start);
  return TTargaHeader::Parse(raw).LooksValid();
}

bool TTargaGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  uint8_t raw[TTargaHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TTargaHeader h = TTargaHeader::Parse(raw);
  TImageProperties& p = properties_;
  p.width = h.width;
  p.height = h.height;
  p.compression = h.RunLength() ? CompressionKind::RunLength : CompressionKind::NoCompression;
  p.bitsPerSample = 8;
  switch (h.pixelSize) {
    case 8:
      p.colorScheme = h.Grayscale() ? ColorScheme::Gray : ColorScheme::Indexed;
      p.samplesPerPixel = 1;
      p.bitsPerPixel = 8;
      break;
    case 15:
    case 16:
      if (h.GrayAlpha()) {
        p.colorScheme = ColorScheme::GrayAlpha;
        p.samplesPerPixel = 2;
        p.bitsPerPixel = 16;
        p.hasAlpha = true;
      } else {
        p.colorScheme = ColorScheme::RGB;
        p.bitsPerSample = 5;
        p.samplesPerPixel = 3;
        p.bitsPerPixel = 15;
      }
      break;
    case 24:
      p.colorScheme = ColorScheme::RGB;
      p.samplesPerPixel = 3;
      p.bitsPerPixel = 24;
      break;
    case 32:
      p.colorScheme = ColorScheme::RGBA;
      p.samplesPerPixel = 4;
      p.bitsPerPixel = 32;
      p.hasAlpha = true;
      break;
    default:
      p.colorScheme = ColorScheme::UndefinedScheme;
      p.samplesPerPixel = 0;
      p.bitsPerPixel = 0;
      break;
  }
  return true;
}

void TTargaGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  const int64_t base = stream.Position();
  ReadHeaderInfo(stream, 0);
  stream.Seek(base);

  uint8_t raw[TTargaHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TTargaHeader h = TTargaHeader::Parse(raw);
  stream.Skip(h.idLength);

  TColorManager& cm = ColorManager();
  const TImageProperties& p = properties_;
  if (h.GrayAlpha()) {
    // Gray plus alpha: the gray byte becomes an index into the gray ramp.
    cm.SetSourceSamplesPerPixel(2);
    cm.SetTargetSamplesPerPixel(1);
    cm.SetSourceColorScheme(ColorScheme::GrayAlpha);
    cm.SetTargetColorScheme(ColorScheme::Gray);
  } else {
    // A pixel size without samples fails here.
    cm.SetSourceSamplesPerPixel(p.samplesPerPixel);
    cm.SetTargetSamplesPerPixel(p.samplesPerPixel);
    cm.SetSourceColorScheme(p.colorScheme);
    cm.SetTargetColorScheme(ColorScheme::BGR);
  }
  cm.SetSourceOptions({});
  cm.SetSourceBitsPerSample(p.bitsPerSample);
  cm.SetTargetBitsPerSample(p.bitsPerSample);
  SetLayout(cm.TargetLayout());

  if (h.colorMapType == 1 || h.Grayscale()) {
    std::vector<uint8_t> map;
    uint32_t used = 0;
    if (h.colorMapType == 1) {
      const uint32_t entryBytes = h.ColorMapEntryBytes();
      used = std::min<uint32_t>(h.colorMapLength, kMaxPaletteEntries);
      map.resize(size_t{used} * entryBytes);
      stream.ReadBuffer(map.data(), map.size());
      stream.Skip(int64_t{h.colorMapLength - used} * entryBytes);
    }
    if (h.Grayscale()) {
      ApplyPalette(cm.MakeGrayPalette(false));
    } else if (auto palette = ColorMapPalette(map, h.colorMapEntrySize, used)) {
      ApplyPalette(std::move(palette));
    }
  }

  // Uncompressed data that cannot fill the picture would fail the read
  // anyway: fail before the storage is made, so a few bytes cannot claim a
  // large picture.
  const uint64_t rawSize = uint64_t{h.width} * h.height * h.BytesPerPixel();
  if (h.HasPixelData() && !h.RunLength() && rawSize > static_cast<uint64_t>(stream.Remaining())) {
    throw EReadError(kStreamReadError);
  }
  // A run-length packet of 1 + pixel-size bytes makes at most 128 pixels.
  if (h.HasPixelData() && h.RunLength()) {
    const uint64_t packet = 1 + uint64_t{h.BytesPerPixel()};
    const uint64_t most = kMaxTargaRunLength * h.BytesPerPixel();
    RequireDataForClaim(*this, h.width, h.height, rawSize, stream.Remaining(),
                        (most + packet - 1) / packet);
  }
  // A type without pixel data gives a blank picture, which nothing backs.
  if (!h.HasPixelData()) {
    RequireDataForClaim(*this, h.width, h.height, uint64_t{h.width} * h.height * BitsPerPixel() / 8,
                        0, 1);
  }

  SetImageWidth(h.width);
  SetImageHeight(h.height);
  if (h.width == 0 || h.height == 0 || !h.HasPixelData()) return;

  const uint32_t width = h.width;
  const int32_t height = h.height;
  const uint32_t bytesPerPixel = h.BytesPerPixel();
  const size_t rowLength = size_t{width} * bytesPerPixel;
  // Gray plus alpha is decoded into this row first, then reduced to gray.
  std::vector<uint8_t> pairs(h.GrayAlpha() ? rowLength : 0);
  auto bitmapRow = [&](int32_t i) { return RowAddress(h.TopDown() ? i : height - 1 - i); };

  if (!h.RunLength()) {
    for (int32_t i = 0; i < height; ++i) {
      uint8_t* row = bitmapRow(i);
      if (h.GrayAlpha()) {
        stream.ReadBuffer(pairs.data(), rowLength);
        cm.ConvertPixels(pairs.data(), width, 0xFF, row);
      } else {
        stream.ReadBuffer(row, rowLength);
      }
    }
    return;
  }

  // Packets run on across rows; data that ends early leaves the rest of
  // the picture as it was set up.
  TTargaRLEDecoder decoder(bytesPerPixel);
  TInputWindow window(stream);
  bool exhausted = false;
  for (int32_t i = 0; i < height && !exhausted; ++i) {
    uint8_t* row = bitmapRow(i);
    uint8_t* out = h.GrayAlpha() ? pairs.data() : row;
    uint32_t done = 0;
    for (;;) {
      done +=
          decoder.Decode(window.next, window.end, out + size_t{done} * bytesPerPixel, width - done);
      if (done == width) break;
      if (!window.Refill()) {
        exhausted = true;
        break;
      }
    }
    if (h.GrayAlpha() && done != 0) cm.ConvertPixels(pairs.data(), done, 0xFF, row);
  }
  stream.Seek(window.UsedPosition());
}

void RegisterTargaFormats(TFileFormatList& list) {
  const TGraphicClass& targa = ClassOf<TTargaGraphic>();
  list.AddFormat("win", "Truevision images", "Truevision images", false, targa);
  for (const char* extension : {"vst", "vda", "tga", "icb"}) {
    list.AddFormat(extension, "", "Truevision images", false, targa);
  }
}

}  // namespace quorvex
