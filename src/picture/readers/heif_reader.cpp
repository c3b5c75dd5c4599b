#include "picture/readers/heif_reader.h"

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "picture/byte_input.h"
#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/image_limits.h"
#include "picture/readers/heif_boxes.h"
#include "picture/readers/library_input.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

// The longest side libheif is let to accept: wider pictures could not fit
// the storage cap anyway unless they are a sliver.
constexpr int kMaxSide = 1 << 16;

constexpr std::array<const char*, 11> kBrands = {"heic", "heix", "hevc", "heim", "heis", "hevm",
                                                 "hevs", "mif1", "msf1", "avif", "avis"};

bool IsBrand(const uint8_t* p) {
  return std::any_of(kBrands.begin(), kBrands.end(),
                     [p](const char* brand) { return std::memcmp(p, brand, 4) == 0; });
}

// libheif reads its plug-ins once per process.
void InitialiseLibrary() {
  static const bool done = [] {
    heif_init(nullptr);
    return true;
  }();
  (void)done;
}

struct TContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct THandleRelease {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct TImageRelease {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct TOptionsFree {
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

}  // namespace

bool HasHEIFBrand(std::span<const uint8_t> head) {
  if (head.size() < 16 || std::memcmp(head.data() + 4, "ftyp", 4) != 0) return false;
  const size_t boxSize = std::min<size_t>(LoadU32BE(head.data()), head.size());
  if (IsBrand(head.data() + 8)) return true;
  for (size_t at = 16; at + 4 <= boxSize; at += 4) {
    if (IsBrand(head.data() + at)) return true;
  }
  return false;
}

struct THEIFGraphic::TFile {
  std::vector<uint8_t> bytes;
  std::unique_ptr<heif_context, TContextFree> context;
  std::unique_ptr<heif_image_handle, THandleRelease> handle;
  bool grey = false;
  int bits = 8;
};

THEIFGraphic::THEIFGraphic() = default;
THEIFGraphic::~THEIFGraphic() = default;

std::string THEIFGraphic::FormatName() const {
  return "HEIF";
}

bool THEIFGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t head[256];
  const size_t got = stream.Read(head, sizeof head);
  stream.Seek(start);
  return HasHEIFBrand({head, got});
}

bool THEIFGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  InitialiseLibrary();
  failure_.clear();
  file_ = std::make_unique<TFile>();
  file_->bytes = ReadRemainingBytes(stream);
  const std::vector<uint8_t>& bytes = file_->bytes;
  file_->context.reset(heif_context_alloc());
  heif_context* context = file_->context.get();
  heif_context_set_maximum_image_size_limit(context, kMaxSide);
  heif_error error =
      heif_context_read_from_memory_without_copy(context, bytes.data(), bytes.size(), nullptr);
  heif_image_handle* handle = nullptr;
  if (error.code == heif_error_Ok) {
    error = heif_context_get_primary_image_handle(context, &handle);
  }
  if (error.code != heif_error_Ok) {
    failure_ =
        error.subcode == heif_suberror_Security_limit_exceeded ? kOutOfResources : error.message;
    return false;
  }
  file_->handle.reset(handle);
  file_->grey = PrimaryIsMonochrome(bytes);
  file_->bits = std::clamp(heif_image_handle_get_luma_bits_per_pixel(handle), 8, 16);

  TImageProperties& p = properties_;
  p.width = heif_image_handle_get_width(handle);
  p.height = heif_image_handle_get_height(handle);
  p.hasAlpha = !file_->grey && heif_image_handle_has_alpha_channel(handle) != 0;
  p.colorScheme = file_->grey  ? ColorScheme::Gray
                  : p.hasAlpha ? ColorScheme::RGBA
                               : ColorScheme::RGB;
  p.samplesPerPixel = file_->grey ? 1 : p.hasAlpha ? 4 : 3;
  p.bitsPerSample = static_cast<uint8_t>(file_->bits);
  p.bitsPerPixel = static_cast<uint8_t>(std::min(p.bitsPerSample * p.samplesPerPixel, 255));
  return p.width > 0 && p.height > 0;
}

namespace {

using THeifImage = std::unique_ptr<heif_image, TImageRelease>;

// Grey pictures too are asked for as RGB: libheif cannot hand out every grey
// picture as grey (derived ones fail), and its grey to RGB step only copies
// the level. The planes are asked for, not interleaved samples: libheif's
// own interleaving would cost a pass and a buffer of the picture's size
// more, and the rows have to be put in blue-first order anyway.
THeifImage DecodeAsRgbPlanes(const heif_image_handle* handle, const std::string& notValid) {
  std::unique_ptr<heif_decoding_options, TOptionsFree> options(heif_decoding_options_alloc());
  heif_image* decoded = nullptr;
  const heif_error error =
      heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_444, options.get());
  THeifImage image(decoded);
  if (error.code != heif_error_Ok) {
    if (error.subcode == heif_suberror_Security_limit_exceeded) {
      throw EOutOfResources(kOutOfResources);
    }
    throw EInvalidGraphic(WithReason(notValid, error.message));
  }
  return image;
}

// One decoded plane: its rows, and whether its samples take two bytes.
struct TPlane {
  const uint8_t* pixels = nullptr;
  int stride = 0;
  bool wide = false;
  int bits = 8;
};

TPlane PlaneOf(const heif_image* image, heif_channel channel, int width, int height,
               const std::string& notValid) {
  TPlane plane;
  plane.pixels = heif_image_get_plane_readonly(image, channel, &plane.stride);
  if (!plane.pixels || heif_image_get_width(image, channel) != width ||
      heif_image_get_height(image, channel) != height) {
    throw EInvalidGraphic(WithReason(notValid, "no picture decoded"));
  }
  plane.bits = std::clamp(heif_image_get_bits_per_pixel_range(image, channel), 1, 16);
  plane.wide = heif_image_get_bits_per_pixel(image, channel) > 8;
  return plane;
}

// A row of a plane in 8-bit samples: the row itself, or its samples
// reduced into `narrow`.
const uint8_t* NarrowRow(const TPlane& plane, const TSampleScale& scale, int y, size_t width,
                         std::vector<uint16_t>& words, std::vector<uint8_t>& narrow) {
  const uint8_t* row = plane.pixels + size_t(y) * size_t(plane.stride);
  if (!plane.wide) return row;
  for (size_t i = 0; i < width; ++i) words[i] = LoadU16LE(row + 2 * i);
  scale.Reduce(words.data(), width, narrow.data());
  return narrow.data();
}

// The red, green, blue (and alpha) planes into the bitmap's layout: one
// level for grey, blue first for colour, samples wider than 8 bits reduced.
void InterleaveRows(TBitmap& bitmap, const heif_image* image, int channels,
                    std::optional<TPalette> palette, const std::string& notValid) {
  const int width = heif_image_get_width(image, heif_channel_R);
  const int height = heif_image_get_height(image, heif_channel_R);
  if (width <= 0 || height <= 0) throw EInvalidGraphic(WithReason(notValid, "no picture decoded"));
  // Grey takes the red plane, which holds the level.
  const int planeCount = channels;
  const heif_channel order[4] = {heif_channel_B, heif_channel_G, heif_channel_R,
                                 heif_channel_Alpha};
  std::array<TPlane, 4> planes;
  for (int c = 0; c < planeCount; ++c) {
    planes[c] = PlaneOf(image, channels == 1 ? heif_channel_R : order[c], width, height, notValid);
  }
  AllocatePicture(bitmap, width, height, channels, std::move(palette));

  const size_t w = size_t(width);
  std::array<std::optional<TSampleScale>, 4> scales;
  std::array<std::vector<uint16_t>, 4> words;
  std::array<std::vector<uint8_t>, 4> narrow;
  for (int c = 0; c < planeCount; ++c) {
    if (!planes[c].wide) continue;
    scales[c].emplace(planes[c].bits);
    words[c].resize(w);
    narrow[c].resize(w);
  }
  const TSampleScale identity(8);
  std::array<const uint8_t*, 4> rows{};
  for (int y = 0; y < height; ++y) {
    for (int c = 0; c < planeCount; ++c) {
      rows[c] = NarrowRow(planes[c], scales[c] ? *scales[c] : identity, y, w, words[c], narrow[c]);
    }
    uint8_t* out = bitmap.RowBytes(y).data();
    if (channels == 1) {
      std::memcpy(out, rows[0], w);
    } else if (channels == 3) {
      const uint8_t *b = rows[0], *g = rows[1], *r = rows[2];
      for (size_t x = 0; x < w; ++x, out += 3) {
        out[0] = b[x];
        out[1] = g[x];
        out[2] = r[x];
      }
    } else {
      const uint8_t *b = rows[0], *g = rows[1], *r = rows[2], *a = rows[3];
      for (size_t x = 0; x < w; ++x, out += 4) {
        out[0] = b[x];
        out[1] = g[x];
        out[2] = r[x];
        out[3] = a[x];
      }
    }
  }
}

}  // namespace

void THEIFGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  (void)stream;
  (void)start;
  if (failure_ == kOutOfResources) throw EOutOfResources(kOutOfResources);
  if (!headerUsable || !file_ || !file_->handle) {
    throw EInvalidGraphic(WithReason(NotValidMessage(), failure_));
  }
  const TImageProperties& p = properties_;
  // The claim is checked before libheif makes any picture of it.
  StorageBytes({static_cast<uint64_t>(p.width), static_cast<uint64_t>(p.height),
                static_cast<uint64_t>(p.samplesPerPixel)});
  THeifImage image = DecodeAsRgbPlanes(file_->handle.get(), NotValidMessage());
  InterleaveRows(*this, image.get(), p.samplesPerPixel,
                 file_->grey ? std::optional(ColorManager().MakeGrayPalette(false)) : std::nullopt,
                 NotValidMessage());
  // The loaded picture lives on as a bitmap; the file and decoder need not.
  image.reset();
  file_.reset();
}

void RegisterHEIFFormats(TFileFormatList& list) {
  const TGraphicClass& heif = ClassOf<THEIFGraphic>();
  list.AddFormat("heic", "HEIF images", "HEIF images", false, heif);
  list.AddFormat("heif", "", "HEIF images", false, heif);
  list.AddFormat("avif", "", "AVIF images", false, heif);
}

}  // namespace quorvex
