#include "picture/readers/jxl_reader.h"

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/version.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/image_limits.h"
#include "picture/readers/library_input.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

// libjxl keeps about four floats a sample while it decodes, outside any
// allocator we could hand it: pictures that would need more than this are
// refused before it starts.
constexpr uint64_t kMaxWorkingBytes = 4 * kMaxStorageBytes;

struct TDecoderDestroy {
  void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};
struct TRunnerDestroy {
  void operator()(void* r) const { JxlThreadParallelRunnerDestroy(r); }
};

// Where decoded stripes go: the bitmap's rows, made before decoding starts
// since libjxl calls in from several threads at once.
struct TRowSink {
  std::vector<uint8_t*> rows;
  size_t width = 0;
  int channels = 3;
  bool wide = false;
  const TSampleScale* scale = nullptr;
};

void TakeStripe(void* opaque, size_t x, size_t y, size_t count, const void* pixels) {
  const auto& sink = *static_cast<const TRowSink*>(opaque);
  if (y >= sink.rows.size() || x >= sink.width) return;
  count = std::min(count, sink.width - x);
  const size_t channels = static_cast<size_t>(sink.channels);
  uint8_t* out = sink.rows[y] + x * channels;
  if (sink.wide) {
    const auto* in = static_cast<const uint16_t*>(pixels);
    const TSampleScale& scale = *sink.scale;
    for (size_t i = 0; i < count; ++i, in += channels, out += channels) {
      if (channels == 1) {
        out[0] = scale(in[0]);
        continue;
      }
      out[0] = scale(in[2]);
      out[1] = scale(in[1]);
      out[2] = scale(in[0]);
      if (channels == 4) out[3] = scale(in[3]);
    }
    return;
  }
  const auto* in = static_cast<const uint8_t*>(pixels);
  if (channels == 1) {
    std::memcpy(out, in, count);
    return;
  }
  for (size_t i = 0; i < count; ++i, in += channels, out += channels) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    if (channels == 4) out[3] = in[3];
  }
}

}  // namespace

struct TJXLGraphic::TSession {
  std::vector<uint8_t> bytes;
  std::unique_ptr<JxlDecoder, TDecoderDestroy> decoder;
  std::unique_ptr<void, TRunnerDestroy> runner;
  JxlBasicInfo info{};
  std::string error;
};

TJXLGraphic::TJXLGraphic() = default;
TJXLGraphic::~TJXLGraphic() = default;

std::string TJXLGraphic::FormatName() const {
  return "JPEG XL";
}

bool TJXLGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t head[12];
  const size_t got = stream.Read(head, sizeof head);
  stream.Seek(start);
  // The signatures themselves rather than the library's check: every
  // picture passes this test, and asking the library would load it (and
  // its codecs) for all of them where it is loaded on first use.
  static constexpr uint8_t kCodestream[] = {0xFF, 0x0A};
  static constexpr uint8_t kContainer[] = {0,   0,   0,    0x0C, 'J',  'X',
                                           'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  return (got >= sizeof kCodestream && std::memcmp(head, kCodestream, sizeof kCodestream) == 0) ||
         (got >= sizeof kContainer && std::memcmp(head, kContainer, sizeof kContainer) == 0);
}

bool TJXLGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  session_ = std::make_unique<TSession>();
  TSession& s = *session_;
  s.bytes = ReadRemainingBytes(stream);
  s.decoder.reset(JxlDecoderCreate(nullptr));
  JxlDecoder* decoder = s.decoder.get();
  // Threads as many as the reference decoder uses; libjxl takes the runner
  // only before the first input is processed.
  s.runner.reset(
      JxlThreadParallelRunnerCreate(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
  if (!decoder ||
      (s.runner && JxlDecoderSetParallelRunner(decoder, JxlThreadParallelRunner, s.runner.get()) !=
                       JXL_DEC_SUCCESS) ||
      JxlDecoderSubscribeEvents(decoder, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) !=
          JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(decoder, s.bytes.data(), s.bytes.size()) != JXL_DEC_SUCCESS) {
    s.error = "decoder could not start";
    return false;
  }
  JxlDecoderCloseInput(decoder);
  const JxlDecoderStatus status = JxlDecoderProcessInput(decoder);
  if (status != JXL_DEC_BASIC_INFO || JxlDecoderGetBasicInfo(decoder, &s.info) != JXL_DEC_SUCCESS) {
    s.error = status == JXL_DEC_NEED_MORE_INPUT ? "the header is cut short" : "invalid header";
    return false;
  }
  const JxlBasicInfo& info = s.info;
  TImageProperties& p = properties_;
  const bool grey = info.num_color_channels == 1;
  p.width = static_cast<int32_t>(std::min<uint32_t>(info.xsize, INT32_MAX));
  p.height = static_cast<int32_t>(std::min<uint32_t>(info.ysize, INT32_MAX));
  p.hasAlpha = !grey && info.alpha_bits > 0;
  p.colorScheme = grey ? ColorScheme::Gray : p.hasAlpha ? ColorScheme::RGBA : ColorScheme::RGB;
  p.samplesPerPixel = static_cast<uint8_t>(grey ? 1 : p.hasAlpha ? 4 : 3);
  p.bitsPerSample = static_cast<uint8_t>(std::min<uint32_t>(info.bits_per_sample, 255));
  p.bitsPerPixel = static_cast<uint8_t>(std::min(p.bitsPerSample * p.samplesPerPixel, 255));
  return p.width > 0 && p.height > 0;
}

void TJXLGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  (void)stream;
  (void)start;
  if (!session_ || !headerUsable) {
    throw EInvalidGraphic(WithReason(NotValidMessage(), session_ ? session_->error : ""));
  }
  TSession& s = *session_;
  const TImageProperties& p = properties_;
  const int channels = p.samplesPerPixel;
  const auto width = static_cast<uint64_t>(p.width);
  const auto height = static_cast<uint64_t>(p.height);
  StorageBytes({width, height, static_cast<uint64_t>(channels)});
  const uint64_t planes = uint64_t{s.info.num_color_channels} + s.info.num_extra_channels;
  if (SaturatingProduct({width, height, planes, 4}) > kMaxWorkingBytes) {
    throw EOutOfResources(kOutOfResources);
  }

  AllocatePicture(
      *this, p.width, p.height, channels,
      channels == 1 ? std::optional(ColorManager().MakeGrayPalette(false)) : std::nullopt);

  // Wide samples arrive as 16-bit words holding the codestream's own
  // levels (0 to 2^bits - 1), which libjxl 0.7 does by itself and later
  // versions are asked to.
  const bool wide = s.info.bits_per_sample > 8 || s.info.exponent_bits_per_sample > 0;
  const TSampleScale scale(static_cast<int>(std::min<uint32_t>(s.info.bits_per_sample, 16)));
  TRowSink sink;
  sink.width = static_cast<size_t>(width);
  sink.channels = channels;
  sink.wide = wide;
  sink.scale = &scale;
  sink.rows.resize(static_cast<size_t>(height));
  for (size_t y = 0; y < sink.rows.size(); ++y) {
    sink.rows[y] = RowBytes(static_cast<int32_t>(y)).data();
  }
  const JxlPixelFormat format{static_cast<uint32_t>(channels),
                              wide ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};

  JxlDecoder* decoder = s.decoder.get();
#if JPEGXL_NUMERIC_VERSION >= JPEGXL_COMPUTE_NUMERIC_VERSION(0, 8, 0)
  const JxlBitDepth depth{JXL_BIT_DEPTH_FROM_CODESTREAM, 0, 0};
  JxlDecoderSetImageOutBitDepth(decoder, &depth);
#endif
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(decoder);
    if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
      if (JxlDecoderSetImageOutCallback(decoder, &format, TakeStripe, &sink) != JXL_DEC_SUCCESS) {
        throw EInvalidGraphic(WithReason(NotValidMessage(), "unsupported pixel format"));
      }
    } else if (status == JXL_DEC_FULL_IMAGE) {
      break;  // the first frame is the picture
    } else if (status == JXL_DEC_NEED_MORE_INPUT) {
      throw EInvalidGraphic(WithReason(NotValidMessage(), "the file ends early"));
    } else if (status == JXL_DEC_ERROR || status == JXL_DEC_SUCCESS) {
      throw EInvalidGraphic(WithReason(NotValidMessage(), "undecodable picture data"));
    }
  }
  // The loaded picture lives on as a bitmap; the file and decoder need not.
  session_.reset();
}

void RegisterJXLFormats(TFileFormatList& list) {
  list.AddFormat("jxl", "JPEG XL images", "JPEG XL images", false, ClassOf<TJXLGraphic>());
}

}  // namespace quorvex
