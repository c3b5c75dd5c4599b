#include "picture/readers/autodesk_reader.h"

#include <algorithm>
#include <array>
#include <span>

#include "picture/byte_input.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

// Six-bit components; larger values (broken files) saturate rather than
// wrap around to dark.
TPalette PaletteOf(std::span<const uint8_t> triples) {
  auto scale = [](uint8_t v) { return static_cast<uint8_t>(std::min(v * 4, 255)); };
  TByteReader in(triples);
  TPalette palette(256);
  for (TRGB& entry : palette) {
    const auto triple = in.Bytes(3);
    entry = {scale(triple[0]), scale(triple[1]), scale(triple[2])};
  }
  return palette;
}

}  // namespace

TAutodeskHeader TAutodeskHeader::Parse(std::span<const uint8_t> bytes) {
  if (bytes.size() < kSize) throw EReadError(kStreamReadError);
  TByteReader in(bytes);
  TAutodeskHeader h;
  h.magic = in.U16LE();
  h.width = in.U16LE();
  h.height = in.U16LE();
  in.Seek(10);
  h.bitsPerPixel = in.U16LE();
  return h;
}

bool TAutodeskGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TAutodeskHeader::kSize)) return false;
  std::array<uint8_t, TAutodeskHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  stream.Seek(start);
  return TAutodeskHeader::Parse(raw).LooksValid();
}

bool TAutodeskGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  std::array<uint8_t, TAutodeskHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  header_ = TAutodeskHeader::Parse(raw);
  if (header_.magic != TAutodeskHeader::kMagic) return false;
  TImageProperties& p = properties_;
  p.colorScheme = ColorScheme::Indexed;
  p.width = header_.width;
  p.height = header_.height;
  p.bitsPerSample = 8;
  p.samplesPerPixel = 1;
  p.bitsPerPixel = 8;
  p.compression = CompressionKind::NoCompression;
  return true;
}

void TAutodeskGraphic::Decode(TStream& stream, int64_t, bool headerUsable) {
  // Rows are read as one byte a pixel, so another depth would only show
  // noise; a picture without pixels would only pass for a loaded one.
  const int32_t width = header_.width;
  const int32_t height = header_.height;
  if (!headerUsable || !header_.LooksValid() || width == 0 || height == 0) {
    throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, "Autodesk"));
  }
  std::array<uint8_t, TAutodeskHeader::kPaletteSize> triples;
  stream.ReadBuffer(triples.data(), triples.size());
  SetLayout(PixelLayout::Bits8);
  RequireDataForClaim(*this, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                      uint64_t(width) * uint64_t(height), stream.Remaining(), 1);
  ApplyPalette(PaletteOf(triples));
  SetImageWidth(width);
  SetImageHeight(height);
  for (int32_t y = 0; y < height; ++y) {
    const std::span<uint8_t> row = RowBytes(y).first(static_cast<size_t>(width));
    if (stream.Read(row.data(), row.size()) < row.size()) break;
  }
}

void RegisterAutodeskFormats(TFileFormatList& list) {
  const TGraphicClass& autodesk = ClassOf<TAutodeskGraphic>();
  list.AddFormat("cel", "Autodesk images", "Autodesk images", false, autodesk);
  list.AddFormat("pic", "Autodesk images", "Autodesk images", false, autodesk);
}

}  // namespace quorvex
