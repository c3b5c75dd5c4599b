#include "picture/readers/gif_reader.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "picture/byte_input.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/image_limits.h"
#include "picture/readers/claimed_size.h"
#include "picture/readers/library_input.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr size_t kSignatureSize = 6;
constexpr size_t kScreenDescriptorSize = 13;
// A 12-bit LZW code stands for at most 4096 pixels.
constexpr uint64_t kMostPixelsPerByte = 4096;
// Pixels are at most 8 bits, and so is the code size that starts a frame.
constexpr int kMaxCodeSize = 8;

bool IsSignature(const uint8_t* bytes) {
  return std::memcmp(bytes, "GIF87a", kSignatureSize) == 0 ||
         std::memcmp(bytes, "GIF89a", kSignatureSize) == 0;
}

// What giflib reads from, and the last byte it took: giflib reports an LZW
// code size it cannot take as a failed read, and that byte tells why.
struct TGifSource {
  TBufferedInput& input;
  int lastByte = -1;
};

// giflib is C: nothing may be thrown through it, so a failed read is a short
// read, which giflib reports as its own read error.
int ReadInput(GifFileType* gif, GifByteType* target, int count) {
  if (count <= 0) return 0;
  auto* source = static_cast<TGifSource*>(gif->UserData);
  try {
    const size_t got = source->input.ReadSome({target, static_cast<size_t>(count)});
    source->lastByte = got > 0 ? target[got - 1] : -1;
    return static_cast<int>(got);
  } catch (const Exception&) {
    return 0;
  }
}

struct TGifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using TGifFile = std::unique_ptr<GifFileType, TGifCloser>;

std::string Reason(int errorCode) {
  const char* text = GifErrorString(errorCode);
  return text ? text : "Unknown error";
}

// The order in which an interlaced frame's rows arrive: every 8th from 0,
// every 8th from 4, every 4th from 2, every 2nd from 1.
std::vector<int32_t> InterlacedRows(int32_t height) {
  std::vector<int32_t> rows;
  rows.reserve(static_cast<size_t>(height));
  constexpr int32_t kStart[] = {0, 4, 2, 1};
  constexpr int32_t kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int32_t y = kStart[pass]; y < height; y += kStep[pass]) rows.push_back(y);
  }
  return rows;
}

TPalette PaletteOf(const ColorMapObject* map) {
  TPalette palette;
  const int count = std::clamp(map->ColorCount, 0, 256);
  for (int i = 0; i < count; ++i) {
    const GifColorType& c = map->Colors[i];
    palette.push_back({c.Red, c.Green, c.Blue});
  }
  return palette;
}

TPalette GrayRamp() {
  TPalette palette;
  for (int i = 0; i < 256; ++i) {
    const auto level = static_cast<uint8_t>(i);
    palette.push_back({level, level, level});
  }
  return palette;
}

}  // namespace

bool TGIFGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() < static_cast<int64_t>(kSignatureSize)) return false;
  uint8_t signature[kSignatureSize];
  stream.ReadBuffer(signature, sizeof signature);
  stream.Seek(start);
  return IsSignature(signature);
}

bool TGIFGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  if (stream.Remaining() < static_cast<int64_t>(kScreenDescriptorSize)) return false;
  uint8_t header[kScreenDescriptorSize];
  stream.ReadBuffer(header, sizeof header);
  if (!IsSignature(header)) return false;
  TImageProperties& p = properties_;
  p.width = LoadU16LE(header + 6);
  p.height = LoadU16LE(header + 8);
  p.colorScheme = ColorScheme::Indexed;
  p.bitsPerSample = 8;
  p.samplesPerPixel = 1;
  p.bitsPerPixel = 8;
  p.compression = CompressionKind::LZW;
  return true;
}

void TGIFGraphic::Fail(const std::string& reason) const {
  throw EInvalidGraphic(WithReason(NotValidMessage(), reason));
}

void TGIFGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  if (!headerUsable) throw EInvalidGraphic(NotValidMessage());
  stream.Seek(start);
  TBufferedInput input(stream);
  TGifSource source{input};
  int error = 0;
  TGifFile gif(DGifOpen(&source, ReadInput, &error));
  if (!gif) Fail(Reason(error));
  const int transparent = ReadUpToFirstFrame(gif.get());
  if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
    if (gif->Error == D_GIF_ERR_READ_FAILED && source.lastByte > kMaxCodeSize) {
      Fail("LZW code size " + std::to_string(source.lastByte) + " is over " +
           std::to_string(kMaxCodeSize));
    }
    Fail(Reason(gif->Error));
  }
  MakeScreen(gif.get(), transparent, input.Remaining());
  ReadFrameRows(gif.get());
}

int TGIFGraphic::ReadUpToFirstFrame(GifFileType* g) {
  // Only the graphic control block just before the first frame matters.
  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(g, &type) == GIF_ERROR) Fail(Reason(g->Error));
    if (type == IMAGE_DESC_RECORD_TYPE) return transparent;
    if (type == TERMINATE_RECORD_TYPE) Fail("no image");
    if (type != EXTENSION_RECORD_TYPE) continue;
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(g, &code, &block) == GIF_ERROR) Fail(Reason(g->Error));
    if (code == GRAPHICS_EXT_FUNC_CODE && block) {
      GraphicsControlBlock control;
      if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
        transparent = control.TransparentColor;
      }
    }
    while (block) {
      if (DGifGetExtensionNext(g, &block) == GIF_ERROR) Fail(Reason(g->Error));
    }
  }
}

void TGIFGraphic::MakeScreen(GifFileType* g, int transparent, int64_t inputLeft) {
  const GifImageDesc& frame = g->Image;
  const int32_t width = std::max<int32_t>(g->SWidth, frame.Left + frame.Width);
  const int32_t height = std::max<int32_t>(g->SHeight, frame.Top + frame.Height);
  if (width <= 0 || height <= 0) Fail("empty picture");
  StorageBytes({static_cast<uint64_t>(width), static_cast<uint64_t>(height)});
  SetLayout(PixelLayout::Bits8);
  // The whole screen counts, not just the frame: a few bytes must not make
  // a frame far out on an empty screen cost a gigabyte.
  RequireDataForClaim(*this, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                      uint64_t(width) * static_cast<uint64_t>(height), inputLeft,
                      kMostPixelsPerByte);

  const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : g->SColorMap;
  Reallocate(width, height, PixelLayout::Bits8, map ? PaletteOf(map) : GrayRamp());
  const auto background = static_cast<uint8_t>(std::clamp(transparent, 0, 255));
  for (int32_t y = 0; y < height; ++y) {
    std::span<uint8_t> row = RowBytes(y);
    std::memset(row.data(), background, static_cast<size_t>(width));
    std::memset(row.data() + width, 0, row.size() - static_cast<size_t>(width));
  }
  properties_.width = width;
  properties_.height = height;
  properties_.interlaced = frame.Interlace;
}

void TGIFGraphic::ReadFrameRows(GifFileType* g) {
  const GifImageDesc& frame = g->Image;
  if (frame.Width <= 0) return;
  std::vector<int32_t> order;
  if (frame.Interlace) order = InterlacedRows(frame.Height);
  for (int32_t i = 0; i < frame.Height; ++i) {
    const int32_t y = frame.Top + (frame.Interlace ? order[static_cast<size_t>(i)] : i);
    GifPixelType* target = RowBytes(y).data() + frame.Left;
    if (DGifGetLine(g, target, frame.Width) == GIF_ERROR) Fail(Reason(g->Error));
  }
}

void RegisterGIFFormats(TFileFormatList& list) {
  list.AddFormat("gif", "GIF images", "GIF images", false, ClassOf<TGIFGraphic>());
}

}  // namespace quorvex
