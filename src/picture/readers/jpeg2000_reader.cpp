#include "picture/readers/jpeg2000_reader.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/image_limits.h"
#include "picture/readers/library_input.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr uint8_t kSignatureBox[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                       0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr uint8_t kCodestreamStart[4] = {0xFF, 0x4F, 0xFF, 0x51};

// OpenJPEG reads from the bytes in memory through these; nothing it asks
// for can reach past them.
struct TMemorySource {
  const std::vector<uint8_t>* bytes = nullptr;
  size_t position = 0;
};

OPJ_SIZE_T ReadSource(void* buffer, OPJ_SIZE_T count, void* user) {
  auto& source = *static_cast<TMemorySource*>(user);
  const size_t left = source.bytes->size() - source.position;
  if (left == 0) return static_cast<OPJ_SIZE_T>(-1);
  const size_t n = std::min<size_t>(count, left);
  std::memcpy(buffer, source.bytes->data() + source.position, n);
  source.position += n;
  return n;
}

OPJ_OFF_T SkipSource(OPJ_OFF_T count, void* user) {
  auto& source = *static_cast<TMemorySource*>(user);
  const auto size = static_cast<OPJ_OFF_T>(source.bytes->size());
  const auto at = static_cast<OPJ_OFF_T>(source.position);
  if (count < -at || count > size - at) return -1;
  source.position = static_cast<size_t>(at + count);
  return count;
}

OPJ_BOOL SeekSource(OPJ_OFF_T position, void* user) {
  auto& source = *static_cast<TMemorySource*>(user);
  if (position < 0 || static_cast<uint64_t>(position) > source.bytes->size()) return OPJ_FALSE;
  source.position = static_cast<size_t>(position);
  return OPJ_TRUE;
}

// The first error OpenJPEG reports is the one that says why.
void KeepFirstError(const char* message, void* user) {
  auto& text = *static_cast<std::string*>(user);
  if (!text.empty() || !message) return;
  text = message;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
}

void Ignore(const char*, void*) {}

struct TCodecDestroy {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct TStreamDestroy {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct TImageDestroy {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

// One component's samples as 8-bit values of the picture's grid.
class TComponentView {
 public:
  TComponentView(const opj_image_comp_t& component, const opj_image_comp_t& grid)
      : component_(component),
        scale_(std::min<int>(static_cast<int>(component.prec), 16)),
        shift_(component.prec > 16 ? static_cast<int>(component.prec) - 16 : 0),
        lift_(component.sgnd ? int64_t{1} << (component.prec - 1) : 0),
        sameGrid_(component.dx == grid.dx && component.dy == grid.dy && component.w == grid.w &&
                  component.h == grid.h && component.x0 == grid.x0 && component.y0 == grid.y0) {
    if (!sameGrid_) {
      columns_.resize(grid.w);
      for (uint32_t x = 0; x < grid.w; ++x) {
        columns_[x] =
            MapTo(uint64_t{grid.x0} + x, grid.dx, component.dx, component.x0, component.w);
      }
      rowsOf_.resize(grid.h);
      for (uint32_t y = 0; y < grid.h; ++y) {
        rowsOf_[y] = MapTo(uint64_t{grid.y0} + y, grid.dy, component.dy, component.y0, component.h);
      }
    }
  }

  // The component's raw value at picture (x, y), lifted to unsigned.
  int64_t Raw(uint32_t x, uint32_t y) const {
    const size_t at =
        sameGrid_ ? size_t{y} * component_.w + x : size_t{rowsOf_[y]} * component_.w + columns_[x];
    return int64_t{component_.data[at]} + lift_;
  }
  uint8_t Level(uint32_t x, uint32_t y) const { return Reduce(Raw(x, y)); }
  uint8_t Reduce(int64_t raw) const {
    if (raw < 0) return 0;
    return scale_(static_cast<uint32_t>(std::min<int64_t>(raw >> shift_, 0xFFFF)));
  }
  int64_t Maximum() const { return (int64_t{1} << component_.prec) - 1; }
  int64_t Half() const { return int64_t{1} << (component_.prec - 1); }

 private:
  static uint32_t MapTo(uint64_t gridPosition, uint32_t gridStep, uint32_t step, uint32_t origin,
                        uint32_t size) {
    const uint64_t absolute = gridPosition * gridStep;
    const uint64_t own = absolute / step;
    const uint64_t index = own > origin ? own - origin : 0;
    return static_cast<uint32_t>(std::min<uint64_t>(index, size - 1));
  }

  const opj_image_comp_t& component_;
  TSampleScale scale_;
  int shift_;
  int64_t lift_;
  bool sameGrid_;
  std::vector<uint32_t> columns_;
  std::vector<uint32_t> rowsOf_;
};

// sYCC to RGB at the components' own precision, as OpenJPEG's tools do it.
void YccToRgb(int64_t y, int64_t cb, int64_t cr, int64_t half, int64_t maximum, int64_t rgb[3]) {
  cb -= half;
  cr -= half;
  const auto clamp = [maximum](int64_t v) { return std::clamp<int64_t>(v, 0, maximum); };
  rgb[0] = clamp(y + static_cast<int64_t>(1.402 * static_cast<float>(cr)));
  rgb[1] = clamp(
      y - static_cast<int64_t>(0.344 * static_cast<float>(cb) + 0.714 * static_cast<float>(cr)));
  rgb[2] = clamp(y + static_cast<int64_t>(1.772 * static_cast<float>(cb)));
}

// The grid the picture is drawn on: the components' own when they all share
// one sampling (so a wholly subsampled picture keeps its stored size, as
// OpenJPEG's tools show it), else the full reference grid.
opj_image_comp_t PictureGrid(const opj_image_t& image) {
  const opj_image_comp_t& first = image.comps[0];
  bool shared = true;
  for (uint32_t c = 1; c < image.numcomps; ++c) {
    shared = shared && image.comps[c].dx == first.dx && image.comps[c].dy == first.dy;
  }
  if (shared) return first;
  opj_image_comp_t grid{};
  grid.dx = grid.dy = 1;
  grid.x0 = image.x0;
  grid.y0 = image.y0;
  grid.w = image.x1 > image.x0 ? image.x1 - image.x0 : 0;
  grid.h = image.y1 > image.y0 ? image.y1 - image.y0 : 0;
  return grid;
}

}  // namespace

JPEG2000Kind JPEG2000KindOf(std::span<const uint8_t> head) {
  if (head.size() >= sizeof kSignatureBox &&
      std::memcmp(head.data(), kSignatureBox, sizeof kSignatureBox) == 0) {
    return JPEG2000Kind::Boxed;
  }
  if (head.size() >= sizeof kCodestreamStart &&
      std::memcmp(head.data(), kCodestreamStart, sizeof kCodestreamStart) == 0) {
    return JPEG2000Kind::Codestream;
  }
  return JPEG2000Kind::None;
}

struct TJPEG2000Graphic::TSession {
  std::vector<uint8_t> bytes;
  TMemorySource source;
  std::string error;
  std::unique_ptr<opj_codec_t, TCodecDestroy> codec;
  std::unique_ptr<opj_stream_t, TStreamDestroy> stream;
  std::unique_ptr<opj_image_t, TImageDestroy> image;
  bool sycc = false;
  opj_image_comp_t grid{};
  int alpha = -1;  // the component that is alpha, if any
};

TJPEG2000Graphic::TJPEG2000Graphic() = default;
TJPEG2000Graphic::~TJPEG2000Graphic() = default;

std::string TJPEG2000Graphic::FormatName() const {
  return "JPEG 2000";
}

bool TJPEG2000Graphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t head[sizeof kSignatureBox];
  const size_t got = stream.Read(head, sizeof head);
  stream.Seek(start);
  return JPEG2000KindOf({head, got}) != JPEG2000Kind::None;
}

bool TJPEG2000Graphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  session_ = std::make_unique<TSession>();
  TSession& s = *session_;
  s.bytes = ReadRemainingBytes(stream);
  s.source.bytes = &s.bytes;
  const JPEG2000Kind kind = JPEG2000KindOf(s.bytes);
  if (kind == JPEG2000Kind::None) {
    s.error = "no JP2 signature or codestream";
    return false;
  }

  s.codec.reset(opj_create_decompress(kind == JPEG2000Kind::Boxed ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  opj_codec_t* codec = s.codec.get();
  opj_set_error_handler(codec, KeepFirstError, &s.error);
  opj_set_warning_handler(codec, Ignore, nullptr);
  opj_set_info_handler(codec, Ignore, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(codec, &parameters)) return false;
  opj_codec_set_threads(codec, std::max(1, opj_get_num_cpus()));

  s.stream.reset(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  opj_stream_t* input = s.stream.get();
  opj_stream_set_read_function(input, ReadSource);
  opj_stream_set_skip_function(input, SkipSource);
  opj_stream_set_seek_function(input, SeekSource);
  opj_stream_set_user_data(input, &s.source, nullptr);
  opj_stream_set_user_data_length(input, s.bytes.size());

  opj_image_t* image = nullptr;
  const bool read = opj_read_header(input, codec, &image) != 0;
  s.image.reset(image);
  if (!read || !image || image->numcomps == 0 || !image->comps) {
    if (s.error.empty()) s.error = "unreadable header";
    return false;
  }
  const opj_image_comp_t& first = image->comps[0];
  const uint32_t count = image->numcomps;
  for (uint32_t c = 0; c < count; ++c) {
    if (image->comps[c].alpha && s.alpha < 0) s.alpha = static_cast<int>(c);
  }
  if (count == 4 && s.alpha < 0) s.alpha = 3;
  s.sycc = count >= 3 && (image->color_space == OPJ_CLRSPC_SYCC ||
                          (count == 3 && first.dx == first.dy && image->comps[1].dx != 1));

  s.grid = PictureGrid(*image);
  TImageProperties& p = properties_;
  p.width = static_cast<int32_t>(std::min<uint32_t>(s.grid.w, INT32_MAX));
  p.height = static_cast<int32_t>(std::min<uint32_t>(s.grid.h, INT32_MAX));
  const bool grey = count <= 2;
  p.hasAlpha = !grey && s.alpha >= 3;
  p.colorScheme = grey ? ColorScheme::Gray : p.hasAlpha ? ColorScheme::RGBA : ColorScheme::RGB;
  p.samplesPerPixel = static_cast<uint8_t>(std::min<uint32_t>(count, 255));
  p.bitsPerSample = static_cast<uint8_t>(std::min<uint32_t>(first.prec, 255));
  p.bitsPerPixel = static_cast<uint8_t>(std::min<uint32_t>(first.prec * count, 255));
  return p.width > 0 && p.height > 0;
}

namespace {

// OpenJPEG keeps every component as 32-bit samples: all of them must fit,
// and so must the bitmap, before any is made.
void CheckDecodeCost(const opj_image_t& image, const TImageProperties& p, int channels,
                     const std::string& notValid) {
  uint64_t decoded = 0;
  for (uint32_t c = 0; c < image.numcomps; ++c) {
    const opj_image_comp_t& component = image.comps[c];
    if (component.prec == 0 || component.prec > 31) {
      throw EInvalidGraphic(WithReason(notValid, "unsupported sample precision"));
    }
    decoded += StorageBytes({component.w, component.h, 4});
    StorageBytes({decoded});
  }
  StorageBytes({static_cast<uint64_t>(p.width), static_cast<uint64_t>(p.height),
                static_cast<uint64_t>(channels)});
  if (image.color_space == OPJ_CLRSPC_CMYK || image.color_space == OPJ_CLRSPC_EYCC) {
    throw EInvalidGraphic(WithReason(notValid, "colour space not supported"));
  }
}

// One row of blue, green, red (alpha) pixels, or grey levels.
void WriteRow(std::span<uint8_t> row, const std::vector<TComponentView>& views, uint32_t y,
              uint32_t width, int channels, bool sycc) {
  uint8_t* out = row.data();
  if (channels == 1) {
    for (uint32_t x = 0; x < width; ++x) out[x] = views[0].Level(x, y);
    return;
  }
  const int64_t half = views[0].Half();
  const int64_t maximum = views[0].Maximum();
  for (uint32_t x = 0; x < width; ++x, out += channels) {
    if (sycc) {
      int64_t rgb[3];
      YccToRgb(views[0].Raw(x, y), views[1].Raw(x, y), views[2].Raw(x, y), half, maximum, rgb);
      out[0] = views[0].Reduce(rgb[2]);
      out[1] = views[0].Reduce(rgb[1]);
      out[2] = views[0].Reduce(rgb[0]);
    } else {
      out[0] = views[2].Level(x, y);
      out[1] = views[1].Level(x, y);
      out[2] = views[0].Level(x, y);
    }
    if (channels == 4) out[3] = views[3].Level(x, y);
  }
}

}  // namespace

void TJPEG2000Graphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  (void)stream;
  (void)start;
  if (!session_ || !headerUsable || !session_->image) {
    throw EInvalidGraphic(WithReason(NotValidMessage(), session_ ? session_->error : ""));
  }
  TSession& s = *session_;
  opj_image_t* image = s.image.get();
  const TImageProperties& p = properties_;
  const int channels = p.colorScheme == ColorScheme::Gray ? 1 : p.hasAlpha ? 4 : 3;
  const uint32_t used = channels == 4 ? 4u : std::min<uint32_t>(image->numcomps, channels);
  CheckDecodeCost(*image, p, channels, NotValidMessage());

  if (!opj_decode(s.codec.get(), s.stream.get(), image) ||
      !opj_end_decompress(s.codec.get(), s.stream.get())) {
    throw EInvalidGraphic(
        WithReason(NotValidMessage(), s.error.empty() ? "undecodable codestream" : s.error));
  }
  for (uint32_t c = 0; c < used; ++c) {
    const opj_image_comp_t& component = image->comps[c];
    if (!component.data || component.w == 0 || component.h == 0) {
      throw EInvalidGraphic(WithReason(NotValidMessage(), "component without samples"));
    }
  }
  std::vector<TComponentView> views;
  views.reserve(used);
  for (uint32_t c = 0; c < 3 && c < used; ++c) views.emplace_back(image->comps[c], s.grid);
  if (channels == 4 && s.alpha >= 0) views.emplace_back(image->comps[s.alpha], s.grid);

  AllocatePicture(
      *this, p.width, p.height, channels,
      channels == 1 ? std::optional(ColorManager().MakeGrayPalette(false)) : std::nullopt);
  for (uint32_t y = 0; y < static_cast<uint32_t>(p.height); ++y) {
    WriteRow(RowBytes(static_cast<int32_t>(y)), views, y, static_cast<uint32_t>(p.width), channels,
             s.sycc);
  }
  // The loaded picture lives on as a bitmap; the file and decoder need not.
  session_.reset();
}

void RegisterJPEG2000Formats(TFileFormatList& list) {
  const TGraphicClass& jpeg2000 = ClassOf<TJPEG2000Graphic>();
  list.AddFormat("jp2", "JPEG 2000 images", "JPEG 2000 images", false, jpeg2000);
  list.AddFormat("j2k", "", "JPEG 2000 codestreams", false, jpeg2000);
  list.AddFormat("jpf", "", "JPEG 2000 images", false, jpeg2000);
  list.AddFormat("jpx", "", "JPEG 2000 images", false, jpeg2000);
}

}  // namespace quorvex
