#include "picture/readers/cut_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr size_t kHeaderSize = 6;
constexpr size_t kPaletteBlockSize = 512;
constexpr size_t kPaletteCountOffset = 12;
constexpr size_t kPaletteFirstEntry = 40;
constexpr size_t kPaletteEntrySize = 6;
constexpr size_t kPaletteLastEntryStart = kPaletteBlockSize - kPaletteEntrySize;

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// NAME.cut -> NAME.pal; a name without an extension gains one.
std::string PaletteNameFor(const std::string& path) {
  const std::filesystem::path p(path);
  std::filesystem::path pal = p;
  pal.replace_extension(".pal");
  if (IsRegularFile(pal.string())) return pal.string();
  // Files that came from a case-insensitive disk often carry capitals.
  std::filesystem::path upper = p;
  upper.replace_extension(".PAL");
  if (IsRegularFile(upper.string())) return upper.string();
  return pal.string();
}

}  // namespace

size_t TCUTRowDecoder::DecodeRow(const uint8_t* source, size_t sourceSize, uint8_t* row,
                                 size_t width) {
  if (sourceSize < 2) return 0;
  size_t in = 2;
  size_t out = 0;
  while (in < sourceSize) {
    const uint8_t control = source[in++];
    if (control == 0) return in;
    const size_t count = control & 0x7Fu;
    if (control & 0x80u) {
      if (in == sourceSize) break;
      const uint8_t value = source[in++];
      if (out < width) std::memset(row + out, value, std::min(count, width - out));
      out += count;
    } else {
      const size_t available = std::min(count, sourceSize - in);
      if (out < width) std::memcpy(row + out, source + in, std::min(available, width - out));
      in += available;
      out += count;
      if (available < count) break;
    }
  }
  return 0;
}

TPalette ReadCUTPalette(TStream& stream) {
  // 256 entries fit in four blocks; nothing beyond them is needed.
  std::vector<uint8_t> bytes(4 * kPaletteBlockSize, 0);
  const size_t got = stream.Read(bytes.data(), bytes.size());
  if (got < kPaletteCountOffset + 2) throw EReadError("Stream read error");
  const size_t stored =
      size_t{bytes[kPaletteCountOffset]} | (size_t{bytes[kPaletteCountOffset + 1]} << 8);
  TPalette palette(std::min(stored + 1, kMaxPaletteEntries));
  size_t at = kPaletteFirstEntry;
  for (TRGB& entry : palette) {
    if (at % kPaletteBlockSize > kPaletteLastEntryStart) {
      at += kPaletteBlockSize - at % kPaletteBlockSize;
    }
    if (at + kPaletteEntrySize > got) break;
    entry = {bytes[at], bytes[at + 2], bytes[at + 4]};
    at += kPaletteEntrySize;
  }
  return palette;
}

bool TCUTGraphic::AcceptsStream(TStream&) {
  return false;
}

bool TCUTGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  uint8_t raw[kHeaderSize];
  stream.ReadBuffer(raw, sizeof raw);
  TImageProperties& p = properties_;
  p.width = raw[0] | (raw[1] << 8);
  p.height = raw[2] | (raw[3] << 8);
  p.colorScheme = ColorScheme::Indexed;
  p.bitsPerSample = 8;
  p.samplesPerPixel = 1;
  p.bitsPerPixel = 8;
  p.compression = CompressionKind::RunLength;
  return true;
}

void TCUTGraphic::LoadFile(const std::string& path) {
  // Only a load from a file has a file beside it to take the palette from.
  paletteFile_ = PaletteNameFor(path);
  try {
    TReaderGraphic::LoadFile(path);
  } catch (...) {
    paletteFile_.clear();
    throw;
  }
  paletteFile_.clear();
}

void TCUTGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  ReadHeaderInfo(stream, 0);
  const int32_t width = properties_.width;
  const int32_t height = properties_.height;
  // A picture without pixels would only pass for a loaded one.
  if (width == 0 || height == 0) {
    throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, "Dr. Halo"));
  }
  SetLayout(PixelLayout::Bits8);
  // A run of up to 127 pixels takes two bytes.
  const int64_t left = std::max<int64_t>(stream.Remaining(), 0);
  RequireDataForClaim(*this, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                      uint64_t(width) * uint64_t(height), left, 64);
  SetImageWidth(width);
  SetImageHeight(height);
  if (!paletteFile_.empty() && IsRegularFile(paletteFile_)) {
    TFileStream palette(paletteFile_, TFileStream::Mode::OpenRead);
    ApplyPalette(ReadCUTPalette(palette));
  } else {
    TPalette gray(256);
    for (size_t i = 0; i < gray.size(); ++i) {
      const auto level = static_cast<uint8_t>(i);
      gray[i] = {level, level, level};
    }
    ApplyPalette(std::move(gray));
  }

  std::vector<uint8_t> data(static_cast<size_t>(left));
  stream.ReadBuffer(data.data(), data.size());
  size_t at = 0;
  for (int32_t y = 0; y < height; ++y) {
    const size_t used = TCUTRowDecoder::DecodeRow(data.data() + at, data.size() - at, RowAddress(y),
                                                  static_cast<size_t>(width));
    if (used == 0) break;
    at += used;
  }
}

void RegisterCUTFormats(TFileFormatList& list) {
  list.AddFormat("cut", "Dr. Halo images", "Dr. Halo images", false, ClassOf<TCUTGraphic>());
}

}  // namespace quorvex
