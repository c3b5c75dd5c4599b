#include "picture/jpeg_image.h"

// jpeglib.h needs size_t and FILE declared first.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include <jpeglib.h>

#include "picture/canvas.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/jpeg_guard.h"
#include "picture/jpeg_limits.h"
#include "picture/orientation.h"
#include "picture/picture.h"
#include "picture/readers/exif_orientation.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr int kQuantizedColors = 236;

// One libjpeg decompressor over the compressed bytes in memory, destroyed
// with the object whatever happened.
class Decompressor {
 public:
  // A step of the work: libjpeg calls and plain data only, since an error
  // jumps out of it past anything it holds.
  using Step = void (*)(Decompressor& d, void* context);

  Decompressor(const uint8_t* data, size_t size) : data_(data), size_(size) {
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = UseJPEGErrorManager(errors_);
    Guard(
        [](Decompressor& d, void*) {
          jpeg_create_decompress(&d.cinfo);
          d.created_ = true;
          // Working memory is held to the same bound as pixel storage, so a
          // huge progressive file fails instead of allocating gigabytes.
          d.cinfo.mem->max_memory_to_use = static_cast<long>(kMaxStorageBytes);
          UseJPEGScanLimit(d.cinfo, d.scanLimit_);
          jpeg_mem_src(&d.cinfo, d.data_, static_cast<unsigned long>(d.size_));
        },
        nullptr);
  }
  ~Decompressor() { Destroy(); }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // Runs step; a libjpeg error in it becomes EJPEG with libjpeg's message.
  void Guard(Step step, void* context) {
    if (!Run(step, context)) {
      const std::string message = errors_.message;
      Destroy();
      if (scanLimit_.exceeded) throw EJPEG(kJPEGTooManyScans);
      throw EJPEG(message);
    }
  }

  jpeg_decompress_struct cinfo;

 private:
  bool Run(Step step, void* context) { return RunJPEGGuarded(errors_, step, *this, context); }
  void Destroy() {
    if (created_) jpeg_destroy_decompress(&cinfo);
    created_ = false;
  }

  TJPEGErrorManager errors_;
  TJPEGScanLimit scanLimit_;
  const uint8_t* data_;
  size_t size_;
  bool created_ = false;
};

constexpr int kExifMarker = JPEG_APP0 + 1;
// A marker segment holds at most this much.
constexpr unsigned kLargestMarker = 0xFFFF;

// The header, with the APP1 segments kept for their EXIF orientation.
void ReadHeaderKeepingApp1(Decompressor& d, void*) {
  jpeg_save_markers(&d.cinfo, kExifMarker, kLargestMarker);
  jpeg_read_header(&d.cinfo, TRUE);
}

// The orientation of the first EXIF segment; 1 without one.
int ExifOrientationOf(const jpeg_decompress_struct& cinfo) {
  static constexpr uint8_t kExifId[] = {'E', 'x', 'i', 'f', 0, 0};
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
    if (m->marker != kExifMarker || m->data_length < sizeof kExifId ||
        std::memcmp(m->data, kExifId, sizeof kExifId) != 0) {
      continue;
    }
    return ExifOrientation({m->data, m->data_length});
  }
  return 1;
}

TJPEGColorSpace ColorSpaceOf(J_COLOR_SPACE space) {
  switch (space) {
    case JCS_GRAYSCALE:
      return TJPEGColorSpace::Grayscale;
    case JCS_RGB:
      return TJPEGColorSpace::RGB;
    case JCS_YCbCr:
      return TJPEGColorSpace::YCbCr;
    case JCS_CMYK:
      return TJPEGColorSpace::CMYK;
    case JCS_YCCK:
      return TJPEGColorSpace::YCCK;
    default:
      return TJPEGColorSpace::Unknown;
  }
}

// What a decode is asked for; the decoded picture is kept per request.
struct DecodeRequest {
  bool quantize = false;  // an 8-bit palette picture
  bool grayOutput = false;
  bool cmyk = false;  // four-colour data, converted to RGB row by row
  TJPEGSettings settings;
};

struct RowsContext {
  uint8_t** rows = nullptr;  // one target row per output row
  uint8_t* cmykRow = nullptr;
  bool invertedCmyk = false;
};

// CMYK as print separations: each ink takes away from white. Adobe's files
// store the inks inverted.
inline uint8_t InkToChannel(uint32_t ink, uint32_t notBlack) {
  const uint32_t t = ink * notBlack + 128;
  return static_cast<uint8_t>(notBlack - (((t >> 8) + t) >> 8));
}

void ReadRows(Decompressor& d, void* rowsContext) {
  const RowsContext& context = *static_cast<const RowsContext*>(rowsContext);
  jpeg_decompress_struct& cinfo = d.cinfo;
  while (cinfo.output_scanline < cinfo.output_height) {
    const JDIMENSION y = cinfo.output_scanline;
    if (!context.cmykRow) {
      jpeg_read_scanlines(&cinfo, context.rows + y, cinfo.output_height - y);
      continue;
    }
    JSAMPROW row = context.cmykRow;
    jpeg_read_scanlines(&cinfo, &row, 1);
    uint8_t* out = context.rows[y];
    const uint8_t* in = context.cmykRow;
    for (JDIMENSION x = 0; x < cinfo.output_width; ++x, in += 4, out += 3) {
      uint32_t c = in[0], m = in[1], yellow = in[2], k = in[3];
      if (context.invertedCmyk) {
        c = 255 - c;
        m = 255 - m;
        yellow = 255 - yellow;
        k = 255 - k;
      }
      const uint32_t notBlack = 255 - k;
      out[0] = InkToChannel(yellow, notBlack);
      out[1] = InkToChannel(m, notBlack);
      out[2] = InkToChannel(c, notBlack);
    }
  }
  jpeg_finish_decompress(&cinfo);
}

}  // namespace

struct TJPEGImage::Decoded {
  TJPEGSettings settings;
  TBitmap bitmap;
};

struct TJPEGImage::Data {
  // Large storage: no zero-fill before the read, and huge pages where granted.
  TPixelStorage bytes;
  int32_t width = 0;  // upright, as shown
  int32_t height = 0;
  TJPEGColorSpace colorSpace = TJPEGColorSpace::Unknown;
  int orientation = 1;  // EXIF: how the stored picture turns upright
  // The last decode, shared by every image holding these bytes.
  mutable std::shared_ptr<const Decoded> decoded;
};

TJPEGSettings& JPEGDefaults() {
  static TJPEGSettings defaults;
  return defaults;
}

TJPEGImage::TJPEGImage() : settings_(JPEGDefaults()) {}
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::TakeFrom(const TPersistent* source) {
  if (source == nullptr) {
    data_.reset();
    return;
  }
  if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(source)) {
    if (jpeg == this) return;
    data_ = jpeg->data_;
    settings_ = jpeg->settings_;
    transparent_ = jpeg->transparent_;
    return;
  }
  TGraphic::TakeFrom(source);
}

void TJPEGImage::CopyOnto(TPersistent& target) const {
  if (auto* bitmap = dynamic_cast<TBitmap*>(&target)) {
    if (IsEmpty()) {
      bitmap->TakeFrom(nullptr);
    } else {
      bitmap->TakeFrom(&DecodedBitmap());
    }
    return;
  }
  TGraphic::CopyOnto(target);
}

int32_t TJPEGImage::ImageWidth() const {
  return data_ ? data_->width : 0;
}

int32_t TJPEGImage::ImageHeight() const {
  return data_ ? data_->height : 0;
}

TJPEGColorSpace TJPEGImage::ColorSpace() const {
  return data_ ? data_->colorSpace : TJPEGColorSpace::Unknown;
}

std::optional<TPalette> TJPEGImage::QueryPalette() const {
  if (IsEmpty()) return std::nullopt;
  return DecodedBitmap().QueryPalette();
}

void TJPEGImage::SetImageWidth(int32_t width) {
  (void)width;
}

void TJPEGImage::SetImageHeight(int32_t height) {
  (void)height;
}

void TJPEGImage::ReadFromStream(TStream& stream) {
  const int64_t remaining = stream.Remaining();
  if (remaining < 0 || static_cast<uint64_t>(remaining) > kMaxStorageBytes) {
    throw EOutOfResources(kOutOfResources);
  }
  auto data = std::make_shared<Data>();
  data->bytes =
      TPixelStorage(static_cast<uint64_t>(remaining), TPixelStorage::Contents::Overwritten);
  stream.ReadBuffer(data->bytes.Data(), data->bytes.Size());

  Decompressor d(data->bytes.Data(), data->bytes.Size());
  d.Guard(ReadHeaderKeepingApp1, nullptr);
  if (!JPEGDataCanHold(d.cinfo, data->bytes.Size())) throw EJPEG(kJPEGDataTooShort);
  data->orientation = ExifOrientationOf(d.cinfo);
  data->width = static_cast<int32_t>(d.cinfo.image_width);
  data->height = static_cast<int32_t>(d.cinfo.image_height);
  if (SwapsWidthAndHeight(data->orientation)) std::swap(data->width, data->height);
  data->colorSpace = ColorSpaceOf(d.cinfo.jpeg_color_space);
  data_ = std::move(data);
}

void TJPEGImage::WriteToStream(TStream& stream) const {
  if (data_) stream.WriteBuffer(data_->bytes.Data(), data_->bytes.Size());
}

namespace {

bool SameDecoding(const TJPEGSettings& a, const TJPEGSettings& b) {
  return a.grayscale == b.grayscale && a.performance == b.performance &&
         a.pixelFormat == b.pixelFormat && a.scale == b.scale && a.smoothing == b.smoothing;
}

void ApplySettings(jpeg_decompress_struct& cinfo, const DecodeRequest& request) {
  const TJPEGSettings& s = request.settings;
  cinfo.scale_num = 1;
  switch (s.scale) {
    case TJPEGScale::FullSize:
      cinfo.scale_denom = 1;
      break;
    case TJPEGScale::Half:
      cinfo.scale_denom = 2;
      break;
    case TJPEGScale::Quarter:
      cinfo.scale_denom = 4;
      break;
    case TJPEGScale::Eighth:
      cinfo.scale_denom = 8;
      break;
  }
  cinfo.do_fancy_upsampling = s.smoothing ? TRUE : FALSE;
  // Best quality keeps libjpeg's defaults (its default DCT method, two-pass
  // quantisation, Floyd-Steinberg dithering).
  if (s.performance == TJPEGPerformance::BestSpeed) {
    cinfo.dct_method = JDCT_IFAST;
    cinfo.two_pass_quantize = FALSE;
    cinfo.dither_mode = JDITHER_ORDERED;
  }
  if (request.cmyk) {
    cinfo.out_color_space = JCS_CMYK;
  } else if (request.grayOutput) {
    cinfo.out_color_space = JCS_GRAYSCALE;
  } else if (request.quantize) {
    cinfo.out_color_space = JCS_RGB;  // the colour map comes in output order
  } else {
    cinfo.out_color_space = JCS_EXT_BGR;  // the bitmap's own byte order
  }
  if (request.quantize) {
    cinfo.quantize_colors = TRUE;
    cinfo.desired_number_of_colors = kQuantizedColors;
  }
}

}  // namespace

const TBitmap& TJPEGImage::DecodedBitmap() const {
  return Decode()->bitmap;
}

std::shared_ptr<const TJPEGImage::Decoded> TJPEGImage::Decode() const {
  if (!data_) throw EInvalidGraphicOperation("Cannot decode an empty JPEG image");
  if (data_->decoded && SameDecoding(data_->decoded->settings, settings_)) return data_->decoded;

  DecodeRequest request;
  request.settings = settings_;
  const TJPEGColorSpace space = data_->colorSpace;
  request.cmyk = space == TJPEGColorSpace::CMYK || space == TJPEGColorSpace::YCCK;
  request.grayOutput =
      !request.cmyk && (space == TJPEGColorSpace::Grayscale || settings_.grayscale);
  request.quantize = request.grayOutput ||
                     (!request.cmyk && settings_.pixelFormat == TJPEGPixelFormat::Format8Bit);

  Decompressor d(data_->bytes.Data(), data_->bytes.Size());
  d.Guard(
      [](Decompressor& dec, void* r) {
        jpeg_read_header(&dec.cinfo, TRUE);
        ApplySettings(dec.cinfo, *static_cast<const DecodeRequest*>(r));
        jpeg_calc_output_dimensions(&dec.cinfo);
      },
      &request);

  const uint32_t width = d.cinfo.output_width;
  const uint32_t height = d.cinfo.output_height;
  const uint32_t bits = request.quantize ? 8 : 24;
  if (RowStride(width, bits) * height > kMaxStorageBytes) throw EOutOfResources(kOutOfResources);

  d.Guard([](Decompressor& dec, void*) { jpeg_start_decompress(&dec.cinfo); }, nullptr);

  auto decoded = std::make_shared<Decoded>();
  decoded->settings = settings_;
  TBitmap& bitmap = decoded->bitmap;
  std::optional<TPalette> palette;
  if (request.quantize) {
    palette.emplace();
    const int colors = std::min(d.cinfo.actual_number_of_colors, 256);
    const bool gray = d.cinfo.out_color_components == 1;
    for (int i = 0; i < colors; ++i) {
      const uint8_t r = d.cinfo.colormap[0][i];
      palette->push_back(gray ? TRGB{r, r, r}
                              : TRGB{r, d.cinfo.colormap[1][i], d.cinfo.colormap[2][i]});
    }
  }
  // The scan lines land in the bitmap's own rows and fill every pixel, so
  // the storage is neither cleared nor painted first; only the padding is.
  bitmap.Reallocate(static_cast<int32_t>(width), static_cast<int32_t>(height),
                    request.quantize ? PixelLayout::Bits8 : PixelLayout::Bits24,
                    std::move(palette));
  const size_t pixelBytes = size_t{width} * (request.quantize ? 1 : 3);
  std::vector<uint8_t*> rows(height);
  for (uint32_t y = 0; y < height; ++y) {
    const std::span<uint8_t> row = bitmap.RowBytes(static_cast<int32_t>(y));
    std::fill(row.begin() + static_cast<ptrdiff_t>(pixelBytes), row.end(), uint8_t{0});
    rows[y] = row.data();
  }
  std::vector<uint8_t> cmykRow(request.cmyk ? size_t{width} * 4 : 0);
  RowsContext context{rows.data(), request.cmyk ? cmykRow.data() : nullptr,
                      d.cinfo.saw_Adobe_marker != FALSE};
  d.Guard(ReadRows, &context);
  // Rows go straight into the bitmap; only a turned picture costs a copy.
  ApplyOrientation(bitmap, data_->orientation);

  data_->decoded = decoded;
  return decoded;
}

void TJPEGImage::DrawInto(TCanvas& canvas, const TRect& rect) const {
  if (IsEmpty() || rect.Width() <= 0 || rect.Height() <= 0) return;
  const auto decoded = Decode();
  const TBitmap& picture = decoded->bitmap;
  TBitmap& target = canvas.Target();
  const int32_t width = picture.ImageWidth();
  const int32_t height = picture.ImageHeight();
  const PixelLayout layout = picture.Layout();
  // The loader's case, unstretched onto a Bits24 bitmap, copies rows
  // straight; everything else goes through the bitmap's own drawing.
  if (rect.Width() != width || rect.Height() != height || target.Layout() != PixelLayout::Bits24 ||
      (layout != PixelLayout::Bits24 && layout != PixelLayout::Bits8)) {
    picture.DrawInto(canvas, rect);
    return;
  }
  const int32_t x0 = std::max(rect.left, 0);
  const int32_t x1 = std::min(rect.right, target.ImageWidth());
  const int32_t y0 = std::max(rect.top, 0);
  const int32_t y1 = std::min(rect.bottom, target.ImageHeight());
  if (x0 >= x1 || y0 >= y1) return;
  const size_t count = static_cast<size_t>(x1 - x0);
  const size_t skip = static_cast<size_t>(x0 - rect.left);
  // The palette as bitmap bytes, for 8-bit pictures.
  uint8_t table[256][3] = {};
  if (layout == PixelLayout::Bits8) {
    const std::vector<uint32_t>& colors = picture.ColorTable();
    for (size_t i = 0; i < std::min<size_t>(colors.size(), 256); ++i) {
      table[i][0] = static_cast<uint8_t>(colors[i]);
      table[i][1] = static_cast<uint8_t>(colors[i] >> 8);
      table[i][2] = static_cast<uint8_t>(colors[i] >> 16);
    }
  }
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* src = picture.RowAddress(y - rect.top);
    uint8_t* dst = target.RowAddress(y) + 3 * static_cast<size_t>(x0);
    if (layout == PixelLayout::Bits24) {
      std::memcpy(dst, src + 3 * skip, 3 * count);
    } else {
      for (size_t x = 0; x < count; ++x) std::memcpy(dst + 3 * x, table[src[skip + x]], 3);
    }
  }
}

void RegisterJPEGFormats(TFileFormatList& list) {
  const TGraphicClass& jpeg = ClassOf<TJPEGImage>();
  list.AddFormat("jfif", "JPG images", "JFIF images", false, jpeg);
  list.AddFormat("jpg", "", "JPG images", false, jpeg);
  list.AddFormat("jpe", "", "JPE images", false, jpeg);
  list.AddFormat("jpeg", "", "JPEG images", false, jpeg);
}

void RegisterJPEGPictureFormats(TPictureFormats& formats) {
  const TGraphicClass& jpeg = ClassOf<TJPEGImage>();
  formats.RegisterFileFormat("jpeg", "JPEG Image File", jpeg);
  formats.RegisterFileFormat("jpg", "JPEG Image File", jpeg);
}

}  // namespace quorvex
