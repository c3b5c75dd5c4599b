#include "picture/readers/autodesk_reader.h"

#include <algorithm>

#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {}  // namespace

TAutodeskHeader TAutodeskHeader::Parse(const uint8_t* b) {
  auto u16 = [b](size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); };
  TAutodeskHeader h;
  h.magic = u16(0);
  h.width = u16(2);
  h.height = u16(4);
  h.bitsPerPixel = u16(10);
  return h;
}

bool TAutodeskGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TAutodeskHeader::kSize)) return false;
  uint8_t raw[TAutodeskHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  stream.Seek(start);
  const TAutodeskHeader h = TAutodeskHeader::Parse(raw);
  return h.magic == TAutodeskHeader::kMagic && h.bitsPerPixel == 8;
}

bool TAutodeskGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  uint8_t raw[TAutodeskHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TAutodeskHeader h = TAutodeskHeader::Parse(raw);
  if (h.magic != TAutodeskHeader::kMagic) return false;
  TImageProperties& p = properties_;
  p.colorScheme = ColorScheme::Indexed;
  p.width = h.width;
  p.height = h.height;
  p.bitsPerSample = 8;
  p.samplesPerPixel = 1;
  p.bitsPerPixel = 8;
  p.compression = CompressionKind::NoCompression;
  return true;
}

void TAutodeskGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  const int64_t base = stream.Position();
  if (!ReadHeaderInfo(stream, 0)) {
    throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, "Autodesk"));
  }
  // Rows are read as one byte a pixel, so another depth would only show
  // noise; a picture without pixels would only pass for a loaded one.
  const int32_t width = properties_.width;
  const int32_t height = properties_.height;
  stream.Seek(base);
  uint8_t raw[TAutodeskHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  if (TAutodeskHeader::Parse(raw).bitsPerPixel != 8 || width == 0 || height == 0) {
    throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, "Autodesk"));
  }
  uint8_t triples[TAutodeskHeader::kPaletteSize];
  stream.ReadBuffer(triples, sizeof triples);
  TPalette palette(256);
  // Six-bit components; larger values (broken files) saturate rather than
  // wrap around to dark.
  auto scale = [](uint8_t v) { return static_cast<uint8_t>(std::min(v * 4, 255)); };
  for (size_t i = 0; i < palette.size(); ++i) {
    palette[i] = {scale(triples[3 * i]), scale(triples[3 * i + 1]), scale(triples[3 * i + 2])};
  }
  SetLayout(PixelLayout::Bits8);
  RequireDataForClaim(*this, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                      uint64_t(width) * uint64_t(height), stream.Remaining(), 1);
  ApplyPalette(std::move(palette));
  SetImageWidth(width);
  SetImageHeight(height);
  for (int32_t y = 0; y < height; ++y) {
    const size_t got = stream.Read(RowAddress(y), static_cast<size_t>(width));
    if (got < static_cast<size_t>(width)) break;
  }
}

void RegisterAutodeskFormats(TFileFormatList& list) {
  const TGraphicClass& autodesk = ClassOf<TAutodeskGraphic>();
  list.AddFormat("cel", "Autodesk images", "Autodesk images", false, autodesk);
  list.AddFormat("pic", "Autodesk images", "Autodesk images", false, autodesk);
}

}  // namespace quorvex
