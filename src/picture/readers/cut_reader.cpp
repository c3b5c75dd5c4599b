#include "picture/readers/cut_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <vector>

#include "picture/byte_input.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

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

TCUTHeader TCUTHeader::Parse(std::span<const uint8_t> bytes) {
  if (bytes.size() < kSize) throw EReadError(kStreamReadError);
  TByteReader in(bytes);
  TCUTHeader h;
  h.width = in.U16LE();
  h.height = in.U16LE();
  return h;
}

TPalette ReadCUTPalette(TStream& stream) {
  // 256 entries fit in four blocks; nothing beyond them is needed.
  std::vector<uint8_t> bytes(4 * kPaletteBlockSize, 0);
  const size_t got = stream.Read(bytes.data(), bytes.size());
  const TByteReader file(bytes.data(), got);
  if (got < kPaletteCountOffset + 2) throw EReadError("Stream read error");
  const size_t stored = file.Sub(kPaletteCountOffset, 2).U16LE();
  TPalette palette(std::min(stored + 1, kMaxPaletteEntries));
  size_t at = kPaletteFirstEntry;
  for (TRGB& entry : palette) {
    if (at % kPaletteBlockSize > kPaletteLastEntryStart) {
      at += kPaletteBlockSize - at % kPaletteBlockSize;
    }
    if (at + kPaletteEntrySize > got) break;
    const auto e = file.Sub(at, kPaletteEntrySize).All();
    entry = {e[0], e[2], e[4]};
    at += kPaletteEntrySize;
  }
  return palette;
}

bool TCUTGraphic::AcceptsStream(TStream&) {
  return false;
}

bool TCUTGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  std::array<uint8_t, TCUTHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  const TCUTHeader h = TCUTHeader::Parse(raw);
  TImageProperties& p = properties_;
  p.width = h.width;
  p.height = h.height;
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

void TCUTGraphic::Decode(TStream& stream, int64_t, bool) {
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
  ApplyPaletteFile();
  ReadRows(stream, left);
}

void TCUTGraphic::ApplyPaletteFile() {
  if (!paletteFile_.empty() && IsRegularFile(paletteFile_)) {
    TFileStream palette(paletteFile_, TFileStream::Mode::OpenRead);
    ApplyPalette(ReadCUTPalette(palette));
    return;
  }
  TPalette gray(256);
  for (size_t i = 0; i < gray.size(); ++i) {
    const auto level = static_cast<uint8_t>(i);
    gray[i] = {level, level, level};
  }
  ApplyPalette(std::move(gray));
}

void TCUTGraphic::ReadRows(TStream& stream, int64_t available) {
  std::vector<uint8_t> data(static_cast<size_t>(available));
  stream.ReadBuffer(data.data(), data.size());
  TByteReader rest(data);
  for (int32_t y = 0; y < properties_.height; ++y) {
    const std::span<uint8_t> row = RowBytes(y).first(static_cast<size_t>(properties_.width));
    const std::span<const uint8_t> record = rest.Rest();
    const size_t used =
        TCUTRowDecoder::DecodeRow(record.data(), record.size(), row.data(), row.size());
    if (used == 0) break;
    rest.Skip(used);
  }
}

void RegisterCUTFormats(TFileFormatList& list) {
  list.AddFormat("cut", "Dr. Halo images", "Dr. Halo images", false, ClassOf<TCUTGraphic>());
}

}  // namespace quorvex
