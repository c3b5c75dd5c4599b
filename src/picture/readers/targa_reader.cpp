#include "picture/readers/targa_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "picture/byte_input.h"
#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/image_limits.h"
#include "picture/readers/claimed_size.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr uint64_t kMaxTargaRunLength = 128;

// The palette a colour map gives: pixel value first + i is map entry i, at
// most 256 entries in all. Values below the first index or past the map
// are black.
std::optional<TPalette> ColorMapPalette(std::span<const uint8_t> map, uint32_t entrySize,
                                        uint32_t first, uint32_t entries) {
  TPalette palette(first, TRGB{0, 0, 0});
  palette.reserve(first + entries);
  TByteReader e(map);
  for (uint32_t i = 0; i < entries; ++i) {
    switch (entrySize) {
      case 15:
      case 16: {
        const uint32_t word = e.U16LE();
        palette.push_back({static_cast<uint8_t>(((word >> 10) & 31) << 3),
                           static_cast<uint8_t>(((word >> 5) & 31) << 3),
                           static_cast<uint8_t>((word & 31) << 3)});
        break;
      }
      case 24:
      case 32: {
        const auto entry = e.Bytes(entrySize / 8);
        palette.push_back({entry[2], entry[1], entry[0]});
        break;
      }
      default:
        return std::nullopt;
    }
  }
  if (palette.empty()) return std::nullopt;
  return palette;
}

}  // namespace

TTargaHeader TTargaHeader::Parse(std::span<const uint8_t> bytes) {
  TByteReader in(bytes);
  TTargaHeader h;
  h.idLength = in.U8();
  h.colorMapType = in.U8();
  h.imageType = in.U8();
  h.colorMapFirst = in.U16LE();
  h.colorMapLength = in.U16LE();
  h.colorMapEntrySize = in.U8();
  h.xOrigin = in.U16LE();
  h.yOrigin = in.U16LE();
  h.width = in.U16LE();
  h.height = in.U16LE();
  h.pixelSize = in.U8();
  h.descriptor = in.U8();
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
  std::array<uint8_t, TTargaHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  stream.Seek(start);
  return TTargaHeader::Parse(raw).LooksValid();
}

bool TTargaGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  std::array<uint8_t, TTargaHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  header_ = TTargaHeader::Parse(raw);
  const TTargaHeader& h = header_;
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

void TTargaGraphic::Decode(TStream& stream, int64_t, bool) {
  const TTargaHeader& h = header_;
  stream.Skip(h.idLength);
  SetUpConverter();
  if (h.colorMapType == 1 || h.Grayscale()) ReadColorMap(stream);
  RequireDataForPicture(stream.Remaining());
  SetImageWidth(h.width);
  SetImageHeight(h.height);
  if (h.width == 0 || h.height == 0 || !h.HasPixelData()) return;
  pairs_.assign(h.GrayAlpha() ? size_t{h.width} * h.BytesPerPixel() : 0, 0);
  if (h.RunLength()) {
    ReadRunLengthRows(stream);
  } else {
    ReadRawRows(stream);
  }
  pairs_ = {};
}

void TTargaGraphic::SetUpConverter() {
  TColorManager& cm = ColorManager();
  const TImageProperties& p = properties_;
  if (header_.GrayAlpha()) {
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
}

void TTargaGraphic::ReadColorMap(TStream& stream) {
  const TTargaHeader& h = header_;
  std::vector<uint8_t> map;
  uint32_t used = 0;
  const auto first = static_cast<uint32_t>(std::min<size_t>(h.colorMapFirst, kMaxPaletteEntries));
  if (h.colorMapType == 1) {
    const uint32_t entryBytes = h.ColorMapEntryBytes();
    used = std::min<uint32_t>(h.colorMapLength, static_cast<uint32_t>(kMaxPaletteEntries) - first);
    map.resize(size_t{used} * entryBytes);
    stream.ReadBuffer(map.data(), map.size());
    stream.Skip(int64_t{h.colorMapLength - used} * entryBytes);
  }
  if (h.Grayscale()) {
    ApplyPalette(ColorManager().MakeGrayPalette(false));
  } else if (auto palette = ColorMapPalette(map, h.colorMapEntrySize, first, used)) {
    ApplyPalette(std::move(palette));
  }
}

void TTargaGraphic::RequireDataForPicture(int64_t available) {
  const TTargaHeader& h = header_;
  // Uncompressed data that cannot fill the picture would fail the read
  // anyway: fail before the storage is made, so a few bytes cannot claim a
  // large picture.
  const uint64_t rawSize = SaturatingProduct({h.width, h.height, h.BytesPerPixel()});
  if (h.HasPixelData() && !h.RunLength() && rawSize > static_cast<uint64_t>(available)) {
    throw EReadError(kStreamReadError);
  }
  // A run-length packet of 1 + pixel-size bytes makes at most 128 pixels.
  if (h.HasPixelData() && h.RunLength()) {
    const uint64_t packet = 1 + uint64_t{h.BytesPerPixel()};
    const uint64_t most = kMaxTargaRunLength * h.BytesPerPixel();
    RequireDataForClaim(*this, h.width, h.height, rawSize, available, (most + packet - 1) / packet);
  }
  // A type without pixel data gives a blank picture, which nothing backs.
  if (!h.HasPixelData()) {
    RequireDataForClaim(*this, h.width, h.height,
                        SaturatingProduct({h.width, h.height, BitsPerPixel()}) / 8, 0, 1);
  }
}

int32_t TTargaGraphic::BitmapRow(int32_t stored) const {
  return header_.TopDown() ? stored : int32_t{header_.height} - 1 - stored;
}

void TTargaGraphic::PlaceRow(std::span<uint8_t> row) const {
  if (!header_.RightToLeft() || header_.width < 2) return;
  const size_t bytes = BitsPerPixel() / 8;
  const size_t width = header_.width;
  for (size_t left = 0, right = width - 1; left < right; ++left, --right) {
    std::swap_ranges(row.begin() + static_cast<ptrdiff_t>(left * bytes),
                     row.begin() + static_cast<ptrdiff_t>((left + 1) * bytes),
                     row.begin() + static_cast<ptrdiff_t>(right * bytes));
  }
}

void TTargaGraphic::ReadRawRows(TStream& stream) {
  const uint32_t width = header_.width;
  const size_t rowLength = size_t{width} * header_.BytesPerPixel();
  for (int32_t i = 0; i < int32_t{header_.height}; ++i) {
    const std::span<uint8_t> row = RowBytes(BitmapRow(i));
    if (header_.GrayAlpha()) {
      stream.ReadBuffer(pairs_.data(), rowLength);
      ColorManager().ConvertPixels(pairs_.data(), width, 0xFF, row);
    } else {
      stream.ReadBuffer(row.first(rowLength).data(), rowLength);
    }
    PlaceRow(row);
  }
}

void TTargaGraphic::ReadRunLengthRows(TStream& stream) {
  // Packets run on across rows; data that ends early leaves the rest of
  // the picture as it was set up.
  const uint32_t width = header_.width;
  const uint32_t bytesPerPixel = header_.BytesPerPixel();
  TTargaRLEDecoder decoder(bytesPerPixel);
  TBufferedInput input(stream);
  bool exhausted = false;
  for (int32_t i = 0; i < int32_t{header_.height} && !exhausted; ++i) {
    const std::span<uint8_t> row = RowBytes(BitmapRow(i));
    const std::span<uint8_t> out =
        header_.GrayAlpha() ? std::span<uint8_t>(pairs_) : row.first(size_t{width} * bytesPerPixel);
    uint32_t done = 0;
    for (;;) {
      const std::span<const uint8_t> buffered = input.Buffered();
      const uint8_t* next = buffered.data();
      done += decoder.Decode(next, next + buffered.size(),
                             out.data() + size_t{done} * bytesPerPixel, width - done);
      input.Consume(static_cast<size_t>(next - buffered.data()));
      if (done == width) break;
      if (!input.Refill()) {
        exhausted = true;
        break;
      }
    }
    if (header_.GrayAlpha() && done != 0)
      ColorManager().ConvertPixels(pairs_.data(), done, 0xFF, row);
    PlaceRow(row);
  }
  input.SyncStream();
}

void RegisterTargaFormats(TFileFormatList& list) {
  const TGraphicClass& targa = ClassOf<TTargaGraphic>();
  list.AddFormat("win", "Truevision images", "Truevision images", false, targa);
  for (const char* extension : {"vst", "vda", "tga", "icb"}) {
    list.AddFormat(extension, "", "Truevision images", false, targa);
  }
}

}  // namespace quorvex
