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
// the level.
THeifImage DecodeAsRgb(const heif_image_handle* handle, bool alpha, bool wide,
                       const std::string& notValid) {
  heif_chroma chroma = alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
  if (wide) {
    chroma = alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE;
  }
  std::unique_ptr<heif_decoding_options, TOptionsFree> options(heif_decoding_options_alloc());
  heif_image* decoded = nullptr;
  const heif_error error =
      heif_decode_image(handle, &decoded, heif_colorspace_RGB, chroma, options.get());
  THeifImage image(decoded);
  if (error.code != heif_error_Ok) {
    if (error.subcode == heif_suberror_Security_limit_exceeded) {
      throw EOutOfResources(kOutOfResources);
    }
    throw EInvalidGraphic(WithReason(notValid, error.message));
  }
  return image;
}

// Rows of the decoded RGB(A) picture into the bitmap's layout: one level for
// grey, blue first for colour, samples wider than 8 bits reduced.
void CopyRows(TBitmap& bitmap, const heif_image* image, int channels, int decodedChannels,
              std::optional<TPalette> palette, const std::string& notValid) {
  const heif_channel plane = heif_channel_interleaved;
  int stride = 0;
  const uint8_t* pixels = heif_image_get_plane_readonly(image, plane, &stride);
  const int width = heif_image_get_width(image, plane);
  const int height = heif_image_get_height(image, plane);
  if (!pixels || width <= 0 || height <= 0) {
    throw EInvalidGraphic(WithReason(notValid, "no picture decoded"));
  }
  const int bits = std::clamp(heif_image_get_bits_per_pixel_range(image, plane), 1, 16);
  const bool sixteen = heif_image_get_bits_per_pixel(image, plane) > 8 * decodedChannels;
  AllocatePicture(bitmap, width, height, channels, std::move(palette));

  const TSampleScale scale(bits);
  const size_t samples = size_t(width) * decodedChannels;
  std::vector<uint8_t> narrow(sixteen ? samples : 0);
  std::vector<uint16_t> words(sixteen ? samples : 0);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = pixels + size_t(y) * size_t(stride);
    std::span<uint8_t> target = bitmap.RowBytes(y);
    if (sixteen) {
      for (size_t i = 0; i < samples; ++i) words[i] = LoadU16LE(row + 2 * i);
      scale.Reduce(words.data(), samples, narrow.data());
      row = narrow.data();
    }
    if (channels == 1) {
      for (size_t x = 0; x < size_t(width); ++x) target[x] = row[3 * x];
    } else {
      SwapRedBlue(row, size_t(width), channels, target);
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
  THeifImage image =
      DecodeAsRgb(file_->handle.get(), p.hasAlpha, file_->bits > 8, NotValidMessage());
  CopyRows(*this, image.get(), p.samplesPerPixel, p.hasAlpha ? 4 : 3,
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
