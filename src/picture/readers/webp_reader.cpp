#include "picture/readers/webp_reader.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "picture/byte_input.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/image_limits.h"
#include "picture/orientation.h"
#include "picture/readers/exif_orientation.h"
#include "picture/readers/library_input.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr size_t kRiffHeaderSize = 12;
// Enough for the first chunk headers that WebPGetFeatures looks at.
constexpr size_t kHeaderProbeSize = 4096;

bool IsRiffWebP(const uint8_t* bytes) {
  return std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WEBP", 4) == 0;
}

std::string StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
      return "out of memory";
    case VP8_STATUS_INVALID_PARAM:
      return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR:
      return "bitstream error";
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return "unsupported feature";
    case VP8_STATUS_SUSPENDED:
      return "suspended";
    case VP8_STATUS_USER_ABORT:
      return "aborted";
    case VP8_STATUS_NOT_ENOUGH_DATA:
      return "not enough data";
    default:
      return "unknown error";
  }
}

// The file from the stream's position: as many bytes as the RIFF header
// says, or what there is when it says more.
std::vector<uint8_t> ReadFile(TStream& stream) {
  uint64_t most = UINT64_MAX;
  if (stream.Remaining() >= static_cast<int64_t>(kRiffHeaderSize)) {
    uint8_t header[kRiffHeaderSize];
    const int64_t start = stream.Position();
    stream.ReadBuffer(header, sizeof header);
    stream.Seek(start);
    most = uint64_t{LoadU32LE(header + 4)} + 8;
  }
  return ReadRemainingBytes(stream, most);
}

struct TDemuxDeleter {
  void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
struct TAnimDecoderDeleter {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

int OrientationOf(const std::vector<uint8_t>& file) {
  const WebPData data{file.data(), file.size()};
  std::unique_ptr<WebPDemuxer, TDemuxDeleter> demux(WebPDemux(&data));
  if (!demux) return 1;
  WebPChunkIterator chunk;
  if (!WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk)) return 1;
  const int orientation = ExifOrientation({chunk.chunk.bytes, chunk.chunk.size});
  WebPDemuxReleaseChunkIterator(&chunk);
  return orientation;
}

}  // namespace

bool TWebPGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() < static_cast<int64_t>(kRiffHeaderSize)) return false;
  uint8_t header[kRiffHeaderSize];
  stream.ReadBuffer(header, sizeof header);
  stream.Seek(start);
  return IsRiffWebP(header);
}

bool TWebPGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  const auto size = static_cast<size_t>(
      std::clamp<int64_t>(stream.Remaining(), 0, static_cast<int64_t>(kHeaderProbeSize)));
  if (size < kRiffHeaderSize) return false;
  std::vector<uint8_t> head(size);
  stream.ReadBuffer(head.data(), head.size());
  if (!IsRiffWebP(head.data())) return false;
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(head.data(), head.size(), &features) != VP8_STATUS_OK) return false;
  TImageProperties& p = properties_;
  p.width = features.width;
  p.height = features.height;
  p.hasAlpha = features.has_alpha != 0;
  p.samplesPerPixel = p.hasAlpha ? 4 : 3;
  p.bitsPerSample = 8;
  p.bitsPerPixel = static_cast<uint8_t>(8 * p.samplesPerPixel);
  p.colorScheme = p.hasAlpha ? ColorScheme::RGBA : ColorScheme::RGB;
  return true;
}

void TWebPGraphic::Fail(const std::string& reason) const {
  throw EInvalidGraphic(WithReason(NotValidMessage(), reason));
}

void TWebPGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  stream.Seek(start);
  if (!AcceptsStream(stream)) throw EInvalidGraphic(NotValidMessage());
  (void)headerUsable;  // the whole file is asked again below
  const std::vector<uint8_t> file = ReadFile(stream);
  WebPBitstreamFeatures features;
  const VP8StatusCode status = WebPGetFeatures(file.data(), file.size(), &features);
  if (status != VP8_STATUS_OK) Fail(StatusText(status));
  if (features.width <= 0 || features.height <= 0) Fail("empty picture");
  // Checked before libwebp allocates anything of that size.
  StorageBytes({static_cast<uint64_t>(features.width), static_cast<uint64_t>(features.height), 4});
  properties_.hasAlpha = features.has_alpha != 0;
  if (features.has_animation) {
    DecodeFirstFrame(file);
  } else {
    DecodeStill(file);
  }
  ApplyOrientation(*this, OrientationOf(file));
  properties_.width = ImageWidth();
  properties_.height = ImageHeight();
}

void TWebPGraphic::DecodeStill(const std::vector<uint8_t>& file) {
  const bool alpha = properties_.hasAlpha;
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) Fail("library version mismatch");
  WebPGetFeatures(file.data(), file.size(), &config.input);
  const int32_t width = config.input.width;
  const int32_t height = config.input.height;
  Reallocate(width, height, alpha ? PixelLayout::Bits32 : PixelLayout::Bits24);
  // Straight into the storage, whichever way up its rows lie.
  const bool bottomUp = !IsTopDown();
  const int32_t firstInMemory = bottomUp ? height - 1 : 0;
  uint8_t* storage = RowBytes(firstInMemory).data();
  const size_t stride = Stride();
  const size_t rowBytes = static_cast<size_t>(width) * (alpha ? 4 : 3);
  for (int32_t y = 0; y < height; ++y) {
    std::span<uint8_t> row = RowBytes(y);
    std::memset(row.data() + rowBytes, 0, row.size() - rowBytes);
  }
  config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = storage;
  config.output.u.RGBA.stride = static_cast<int>(stride);
  config.output.u.RGBA.size = stride * static_cast<size_t>(height);
  config.options.flip = bottomUp ? 1 : 0;
  const VP8StatusCode status = WebPDecode(file.data(), file.size(), &config);
  WebPFreeDecBuffer(&config.output);
  if (status != VP8_STATUS_OK) Fail(StatusText(status));
}

void TWebPGraphic::DecodeFirstFrame(const std::vector<uint8_t>& file) {
  const bool alpha = properties_.hasAlpha;
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) Fail("library version mismatch");
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const WebPData data{file.data(), file.size()};
  std::unique_ptr<WebPAnimDecoder, TAnimDecoderDeleter> decoder(
      WebPAnimDecoderNew(&data, &options));
  if (!decoder) Fail("invalid animation");
  WebPAnimInfo info;
  if (!WebPAnimDecoderGetInfo(decoder.get(), &info)) Fail("invalid animation");
  const auto width = static_cast<int32_t>(info.canvas_width);
  const auto height = static_cast<int32_t>(info.canvas_height);
  uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || !canvas) {
    Fail("invalid animation frame");
  }
  Reallocate(width, height, alpha ? PixelLayout::Bits32 : PixelLayout::Bits24);
  const size_t canvasRow = static_cast<size_t>(width) * 4;
  for (int32_t y = 0; y < height; ++y) {
    std::span<uint8_t> row = RowBytes(y);
    const uint8_t* from = canvas + static_cast<size_t>(y) * canvasRow;
    std::memset(row.data(), 0, row.size());
    if (alpha) {
      std::memcpy(row.data(), from, canvasRow);
    } else {
      for (int32_t x = 0; x < width; ++x)
        std::memcpy(row.data() + size_t(x) * 3, from + size_t(x) * 4, 3);
    }
  }
}

void RegisterWebPFormats(TFileFormatList& list) {
  list.AddFormat("webp", "WebP images", "WebP images", false, ClassOf<TWebPGraphic>());
}

}  // namespace quorvex
