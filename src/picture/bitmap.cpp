#include "picture/bitmap.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "picture/canvas.h"  // owned: made in Surface(), dropped with the bitmap
#include "picture/exceptions.h"
#include "picture/pixel_codec.h"

namespace quorvex {

namespace {

std::mutex& ImageLock() {
  static std::mutex lock;
  return lock;
}

uint16_t BitsOfLayout(PixelLayout layout) {
  switch (layout) {
    case PixelLayout::Bits1:
      return 1;
    case PixelLayout::Bits4:
      return 4;
    case PixelLayout::Bits8:
      return 8;
    case PixelLayout::Bits15:
    case PixelLayout::Bits16:
      return 16;
    case PixelLayout::Bits24:
      return 24;
    case PixelLayout::Bits32:
      return 32;
    default:
      return 0;
  }
}

std::vector<uint32_t> TableFromPalette(const TPalette& palette, size_t entries) {
  std::vector<uint32_t> table(entries, 0);
  for (size_t i = 0; i < std::min(entries, palette.size()); ++i) {
    table[i] = uint32_t{palette[i].blue} | (uint32_t{palette[i].green} << 8) |
               (uint32_t{palette[i].red} << 16);
  }
  return table;
}

// A record with the same header values, table and palette but no storage.
std::shared_ptr<TBitmapImage> CloneHeader(const TBitmapImage& image) {
  auto copy = std::make_shared<TBitmapImage>();
  copy->width = image.width;
  copy->height = image.height;
  copy->topDown = image.topDown;
  copy->bitCount = image.bitCount;
  copy->compression = image.compression;
  copy->masks = image.masks;
  copy->xPelsPerMeter = image.xPelsPerMeter;
  copy->yPelsPerMeter = image.yPelsPerMeter;
  copy->colorsUsed = image.colorsUsed;
  copy->colorsImportant = image.colorsImportant;
  copy->colorTable = image.colorTable;
  copy->palette = image.palette;
  return copy;
}

std::shared_ptr<TBitmapImage> CloneImage(const TBitmapImage& image) {
  auto copy = CloneHeader(image);
  copy->storage = image.storage;
  if (image.pixels.Data()) {
    copy->pixels = TPixelStorage(image.pixels.Size(), TPixelStorage::Contents::Overwritten);
    std::memcpy(copy->pixels.Data(), image.pixels.Data(), image.pixels.Size());
  }
  return copy;
}

// Fills every pixel of new device-independent storage with a colour
// (0xRRGGBB); padding stays zero.
void FillColor(TBitmapImage& image, uint32_t rgb) {
  const uint16_t bits = image.bitCount;
  const uint64_t stride = image.Stride();
  if (image.height == 0 || stride == 0) return;
  uint8_t* first = image.StorageRow(0);
  if (bits <= 8) {
    const uint32_t index = NearestColorIndex(image.colorTable, rgb, image.colorTable.size());
    for (int32_t x = 0; x < image.width; ++x) WritePixelIndex(first, x, bits, index);
  } else {
    const uint32_t encoded = EncodeDirectColor(image, rgb);
    for (int32_t x = 0; x < image.width; ++x) WriteDirectPixel(first, x, bits, encoded);
  }
  for (int32_t r = 1; r < image.height; ++r) std::memcpy(image.StorageRow(r), first, stride);
}

// Paints `from` onto `to` pixel by pixel from the top-left corner, matching
// colours into to's table at 8 bits per pixel or fewer.
void CopyPicture(const TBitmapImage& from, TBitmapImage& to, size_t matchCount) {
  if (!from.HasPixels() || !to.HasPixels()) return;
  if (from.storage == TBitmapImage::Storage::Device && !from.pixels.Data()) return;  // white
  const int32_t w = std::min(from.width, to.width);
  const int32_t h = std::min(from.height, to.height);
  const uint16_t toBits = to.StorageBits();
  const bool sameFormat = from.storage == to.storage && from.bitCount == to.bitCount &&
                          from.compression == to.compression && from.masks == to.masks &&
                          from.colorTable == to.colorTable;
  std::unordered_map<uint32_t, uint32_t> matches;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* src = from.StorageRow(from.StorageRowOf(y));
    uint8_t* dst = to.StorageRow(to.StorageRowOf(y));
    if (sameFormat && toBits >= 8) {
      std::memcpy(dst, src, static_cast<size_t>(w) * (toBits / 8));
      continue;
    }
    for (int32_t x = 0; x < w; ++x) {
      if (sameFormat) {
        WritePixelIndex(dst, x, toBits, ReadPixelIndex(src, x, toBits));
        continue;
      }
      const uint32_t rgb = ReadPixelColor(from, src, x);
      if (toBits <= 8) {
        auto it = matches.find(rgb);
        if (it == matches.end()) {
          it = matches.emplace(rgb, NearestColorIndex(to.colorTable, rgb, matchCount)).first;
        }
        WritePixelIndex(dst, x, toBits, it->second);
      } else {
        WriteDirectPixel(dst, x, toBits, EncodeDirectColor(to, rgb));
      }
    }
  }
}

// Large blocks. The first write to new memory takes a page fault for every
// 4 KiB, and on virtual machines each costs microseconds: for a 36 MB
// picture that is more than decoding it. Large storage is therefore mapped
// on its own, 2 MiB-aligned and rounded up to whole 2 MiB, with huge pages
// asked for, so that where the system grants them each 2 MiB comes in one
// fault. A fresh mapping reads as zero. Under AddressSanitizer blocks come
// from calloc, so that overflows past them are still caught.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEX_ADDRESS_SANITIZER
#endif
#endif
#if defined(__linux__) && defined(MADV_HUGEPAGE) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(QUORVEX_ADDRESS_SANITIZER)
#define QUORVEX_MAP_LARGE_BLOCKS 1
#else
#define QUORVEX_MAP_LARGE_BLOCKS 0
#endif

constexpr size_t kHugePage = size_t{2} << 20;
// From here a block is mapped: at worst half of its last huge page is slack.
constexpr size_t kMappedMinimum = kHugePage / 2;

// A zeroed block of at least `size` bytes; `capacity` says how many.
uint8_t* AllocateBlock(size_t size, size_t& capacity) {
#if QUORVEX_MAP_LARGE_BLOCKS
  if (size >= kMappedMinimum && size <= SIZE_MAX - 2 * kHugePage) {
    const size_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
    void* mapped = ::mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
    // Unmap the slack before and after the aligned stretch.
    if (aligned > start) ::munmap(mapped, aligned - start);
    const size_t after = start + rounded + kHugePage - (aligned + rounded);
    if (after > 0) ::munmap(reinterpret_cast<void*>(aligned + rounded), after);
    auto* block = reinterpret_cast<uint8_t*>(aligned);
    ::madvise(block, rounded, MADV_HUGEPAGE);  // only advice: no matter if refused
    capacity = rounded;
    return block;
  }
#endif
  capacity = size;
  return static_cast<uint8_t*>(std::calloc(size, 1));
}

void FreeBlock(uint8_t* block, size_t capacity) {
  if (QUORVEX_MAP_LARGE_BLOCKS && capacity >= kMappedMinimum) {
    ::munmap(block, capacity);
  } else {
    std::free(block);
  }
}

void AllocateStorage(TBitmapImage& image,
                     TPixelStorage::Contents contents = TPixelStorage::Contents::Zeroed) {
  image.pixels = TPixelStorage(image.Stride() * static_cast<uint64_t>(image.height), contents);
}

}  // namespace

const char* PixelLayoutName(PixelLayout layout) {
  static const char* const names[] = {"DeviceBitmap", "Bits1",  "Bits4",  "Bits8",     "Bits15",
                                      "Bits16",       "Bits24", "Bits32", "CustomBits"};
  return names[static_cast<int>(layout)];
}

uint64_t RowStride(uint64_t width, uint32_t bitsPerPixel) {
  return ((width * bitsPerPixel + 31) / 32) * 4;
}

namespace {

// Large blocks freed lately, kept for the next storage of about their size.
// A batch of same-sized pictures then skips the page faults and the
// kernel's zeroing of new memory, which together cost about as much as
// copying the picture once. A step holds two pictures (the loaded one and
// its transform) and steps may run side by side, so several are kept; the
// oldest goes first when the count or the total would grow too large.
class TStorageRecycler {
 public:
  static constexpr size_t kMinimum = kMappedMinimum;
  static constexpr size_t kMaximum = size_t{256} << 20;
  static constexpr size_t kBlocks = 8;
  static constexpr size_t kTotal = size_t{512} << 20;

  // A kept block of at least `size` bytes and less than twice that (the
  // smallest such), or null.
  uint8_t* Take(size_t size, size_t& capacity) {
    std::lock_guard lock(mutex_);
    auto best = blocks_.end();
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
      if (it->capacity < size || it->capacity / 2 >= size) continue;
      if (best == blocks_.end() || it->capacity < best->capacity) best = it;
    }
    if (best == blocks_.end()) return nullptr;
    capacity = best->capacity;
    uint8_t* block = best->data.release();
    total_ -= capacity;
    blocks_.erase(best);
    return block;
  }

  void Release() {
    std::vector<TBlock> freed;
    std::lock_guard lock(mutex_);
    freed.swap(blocks_);
    total_ = 0;
  }

  void Give(uint8_t* block, size_t capacity) {
    if (capacity < kMinimum || capacity > kMaximum) {
      FreeBlock(block, capacity);
      return;
    }
    std::vector<TBlock> evicted;
    std::lock_guard lock(mutex_);
    blocks_.push_back({std::unique_ptr<uint8_t, TFree>(block, TFree{capacity}), capacity});
    total_ += capacity;
    size_t first = 0;
    while (blocks_.size() - first > kBlocks || total_ > kTotal) total_ -= blocks_[first++].capacity;
    evicted.assign(std::make_move_iterator(blocks_.begin()),
                   std::make_move_iterator(blocks_.begin() + static_cast<ptrdiff_t>(first)));
    blocks_.erase(blocks_.begin(), blocks_.begin() + static_cast<ptrdiff_t>(first));
  }

 private:
  struct TFree {
    size_t capacity;
    void operator()(uint8_t* block) const { FreeBlock(block, capacity); }
  };
  struct TBlock {
    std::unique_ptr<uint8_t, TFree> data;
    size_t capacity;
  };
  std::mutex mutex_;
  std::vector<TBlock> blocks_;  // oldest first
  size_t total_ = 0;
};

// Never destroyed: storage may be freed by other static objects at exit.
TStorageRecycler& Recycler() {
  static auto* recycler = new TStorageRecycler;
  return *recycler;
}

}  // namespace

TPixelStorage::TPixelStorage(uint64_t size, Contents contents) {
  if (size > kMaxStorageBytes) throw EOutOfResources(kOutOfResources);
  if (size == 0) return;
  const auto bytes = static_cast<size_t>(size);
  size_t capacity = bytes;
  uint8_t* p = bytes >= TStorageRecycler::kMinimum ? Recycler().Take(bytes, capacity) : nullptr;
  if (p) {
    if (contents == Contents::Zeroed) std::memset(p, 0, bytes);
  } else {
    p = AllocateBlock(bytes, capacity);
    if (!p) throw EOutOfResources(kOutOfResources);
  }
  data_ = std::unique_ptr<uint8_t, Free>(p, Free{capacity});
  size_ = bytes;
}

void ReleaseRecycledStorage() {
  Recycler().Release();
}

void TPixelStorage::Free::operator()(uint8_t* p) const {
  Recycler().Give(p, capacity);
}

uint64_t TBitmapImage::Stride() const {
  return RowStride(static_cast<uint64_t>(width), StorageBits());
}

void TBitmapImage::Materialize() const {
  if (storage != Storage::Device || pixels.Data()) return;
  TPixelStorage white(Stride() * static_cast<uint64_t>(height));
  std::memset(white.Data(), 0, white.Size());
  for (size_t i = 0; i + 3 < white.Size(); i += 4) std::memset(white.Data() + i, 0xFF, 3);
  pixels = std::move(white);
}

PixelLayout TBitmapImage::Layout() const {
  if (storage != Storage::Dib) return PixelLayout::DeviceBitmap;
  const bool fields = compression == kCompressionBitFields;
  if (compression != kCompressionNone && !fields) return PixelLayout::CustomBits;
  switch (bitCount) {
    case 1:
      return fields ? PixelLayout::CustomBits : PixelLayout::Bits1;
    case 4:
      return fields ? PixelLayout::CustomBits : PixelLayout::Bits4;
    case 8:
      return fields ? PixelLayout::CustomBits : PixelLayout::Bits8;
    case 16:
      if (!fields) return PixelLayout::Bits15;
      return masks[1] == 0x07E0 ? PixelLayout::Bits16 : PixelLayout::CustomBits;
    case 24:
      return fields ? PixelLayout::CustomBits : PixelLayout::Bits24;
    case 32:
      return fields ? PixelLayout::CustomBits : PixelLayout::Bits32;
    default:
      return PixelLayout::CustomBits;
  }
}

const TPalette& StandardPalette16() {
  static const TPalette palette = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                   {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {128, 128, 128},
                                   {192, 192, 192}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                   {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  return palette;
}

const TPalette& HalftonePalette() {
  // A 6 x 6 x 6 colour cube followed by a ramp of 40 grays.
  static const TPalette palette = [] {
    TPalette p;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          p.push_back({static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51),
                       static_cast<uint8_t>(b * 51)});
    for (int i = 0; i < 40; ++i) {
      const auto v = static_cast<uint8_t>((i + 1) * 255 / 41);
      p.push_back({v, v, v});
    }
    return p;
  }();
  return palette;
}

TBitmap::TBitmap() : image_(std::make_shared<TBitmapImage>()) {}
TBitmap::~TBitmap() = default;

std::shared_ptr<TBitmapImage> TBitmap::Image() const {
  return image_;
}

void TBitmap::ReplaceImage(std::shared_ptr<TBitmapImage> image) {
  {
    std::lock_guard<std::mutex> guard(ImageLock());
    image_.swap(image);
  }
  // The old record dies here, outside the lock, if this was its last holder.
}

TBitmapImage& TBitmap::MakePrivate() {
  if (image_.use_count() > 1) ReplaceImage(CloneImage(*image_));
  return *image_;
}

void TBitmap::TakeFrom(const TPersistent* source) {
  if (source == nullptr) {
    ReplaceImage(std::make_shared<TBitmapImage>());
    return;
  }
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
    if (bitmap == this) return;
    {
      std::lock_guard<std::mutex> guard(ImageLock());
      image_ = bitmap->image_;
    }
    transparent_ = bitmap->transparent_;
    return;
  }
  source->CopyOnto(*this);
}

bool TBitmap::IsEmpty() const {
  return !image_->HasPixels();
}
int32_t TBitmap::ImageWidth() const {
  return image_->width;
}
int32_t TBitmap::ImageHeight() const {
  return image_->height;
}
PixelLayout TBitmap::Layout() const {
  return image_->Layout();
}
uint64_t TBitmap::Stride() const {
  return image_->Stride();
}
uint16_t TBitmap::BitsPerPixel() const {
  return image_->StorageBits();
}
uint32_t TBitmap::Compression() const {
  return image_->compression;
}
std::array<uint32_t, 3> TBitmap::Masks() const {
  return image_->masks;
}
bool TBitmap::IsTopDown() const {
  return image_->topDown;
}
const std::vector<uint32_t>& TBitmap::ColorTable() const {
  return image_->colorTable;
}
bool TBitmap::SharesImageWith(const TBitmap& other) const {
  return image_ == other.image_;
}

std::optional<TPalette> TBitmapImage::Palette() const {
  if (palette) return palette;
  if (bitCount == 0 || bitCount > 8 || colorTable.empty()) return std::nullopt;
  TPalette fromTable;
  for (uint32_t entry : colorTable) {
    fromTable.push_back({static_cast<uint8_t>(entry >> 16), static_cast<uint8_t>(entry >> 8),
                         static_cast<uint8_t>(entry)});
  }
  return fromTable;
}

std::optional<TPalette> TBitmap::QueryPalette() const {
  return image_->Palette();
}

namespace {

// The same picture at a new size: filled with `fill`, with the old picture
// at the top left, cut to the new size.
std::shared_ptr<TBitmapImage> Resized(const TBitmapImage& old, int32_t width, int32_t height,
                                      uint32_t fill) {
  if (width < 0 || height < 0) throw EInvalidGraphic(kBitmapNotValid);
  auto image = CloneHeader(old);
  image->width = width;
  image->height = height;
  image->topDown = false;
  if (width == 0 || height == 0) {
    image->storage = TBitmapImage::Storage::None;
  } else if (image->bitCount != 0) {
    image->storage = TBitmapImage::Storage::Dib;
    AllocateStorage(*image);
    FillColor(*image, fill);
    CopyPicture(old, *image, image->colorTable.size());
  } else {
    image->storage = TBitmapImage::Storage::Device;
    // Check the size now so that a later materialisation cannot fail on it.
    if (image->Stride() * static_cast<uint64_t>(height) > kMaxStorageBytes) {
      throw EOutOfResources(kOutOfResources);
    }
    if (old.storage == TBitmapImage::Storage::Device && old.pixels.Data()) {
      image->Materialize();
      CopyPicture(old, *image, 0);
    }
  }
  return image;
}

// At most 256 entries; an empty palette counts as none.
std::optional<TPalette> Normalized(std::optional<TPalette> palette) {
  if (palette && palette->size() > kMaxPaletteEntries) palette->resize(kMaxPaletteEntries);
  if (palette && palette->empty()) palette.reset();
  return palette;
}

// A header for a picture of the given size in a device-independent layout,
// without storage. `palette` comes in as the one to keep and leaves as the
// one the layout starts with.
std::shared_ptr<TBitmapImage> ImageOfLayout(int32_t width, int32_t height, PixelLayout layout,
                                            std::optional<TPalette>& palette) {
  auto image = std::make_shared<TBitmapImage>();
  image->width = width;
  image->height = height;
  image->bitCount = BitsOfLayout(layout);
  if (layout == PixelLayout::Bits16) {
    image->compression = kCompressionBitFields;
    image->masks = {0xF800, 0x07E0, 0x001F};
  }
  if (layout == PixelLayout::Bits4) {
    palette = StandardPalette16();
  } else if (layout == PixelLayout::Bits8) {
    palette = HalftonePalette();
  }
  if (image->bitCount <= 8) {
    if (!palette) palette = TPalette{{0, 0, 0}, {255, 255, 255}};
    image->colorTable = TableFromPalette(*palette, size_t{1} << image->bitCount);
  } else {
    image->palette = palette;
  }
  return image;
}

}  // namespace

void TBitmap::SetImageWidth(int32_t width) {
  SetImageSize(width, image_->height, kWhiteFill);
}

void TBitmap::SetImageHeight(int32_t height) {
  SetImageSize(image_->width, height, kWhiteFill);
}

void TBitmap::SetImageSize(int32_t width, int32_t height, uint32_t fill) {
  if (width != image_->width) ReplaceImage(Resized(*image_, width, image_->height, fill));
  if (height != image_->height) ReplaceImage(Resized(*image_, image_->width, height, fill));
}

void TBitmap::SetLayout(PixelLayout layout) {
  if (layout == Layout()) return;
  if (layout == PixelLayout::DeviceBitmap) {
    SetStorageKind(StorageKind::DeviceDependent);
    return;
  }
  if (layout == PixelLayout::CustomBits) throw EInvalidGraphic(kInvalidPixelFormat);

  const TBitmapImage& old = *image_;
  std::optional<TPalette> palette = QueryPalette();
  auto image = ImageOfLayout(old.width, old.height, layout, palette);
  if (old.HasPixels()) {
    image->storage = TBitmapImage::Storage::Dib;
    AllocateStorage(*image);
    FillColor(*image, 0xFFFFFF);
    CopyPicture(old, *image, palette ? std::min(palette->size(), image->colorTable.size()) : 0);
  }
  ReplaceImage(std::move(image));
}

void TBitmap::Reallocate(int32_t width, int32_t height, PixelLayout layout,
                         std::optional<TPalette> palette) {
  if (layout < PixelLayout::Bits1 || layout > PixelLayout::Bits32) {
    throw EInvalidGraphic(kInvalidPixelFormat);
  }
  if (width < 0 || height < 0) throw EInvalidGraphic(kBitmapNotValid);
  std::optional<TPalette> starting;
  auto image = ImageOfLayout(width, height, layout, starting);
  palette = Normalized(std::move(palette));
  if (palette) {
    // As ApplyPalette would leave it, without matching pixels nobody has
    // written yet.
    if (image->bitCount <= 8) {
      image->colorTable = TableFromPalette(*palette, size_t{1} << image->bitCount);
    }
    image->palette = std::move(palette);
  }
  if (width > 0 && height > 0) {
    image->storage = TBitmapImage::Storage::Dib;
    AllocateStorage(*image, TPixelStorage::Contents::Overwritten);
  }
  ReplaceImage(std::move(image));
}

void TBitmap::SetStorageKind(StorageKind kind) {
  const TBitmapImage& old = *image_;
  if (kind == StorageKind::DeviceDependent) {
    if (old.storage == TBitmapImage::Storage::Device) return;
    auto image = std::make_shared<TBitmapImage>();
    image->width = old.width;
    image->height = old.height;
    image->palette = old.palette;
    if (old.HasPixels()) {
      image->storage = TBitmapImage::Storage::Device;
      image->Materialize();
      CopyPicture(old, *image, 0);
    }
    ReplaceImage(std::move(image));
    return;
  }
  if (old.storage != TBitmapImage::Storage::Device) return;
  old.Materialize();
  auto image = CloneImage(old);
  image->storage = TBitmapImage::Storage::Dib;
  image->bitCount = 32;
  ReplaceImage(std::move(image));
}

void TBitmap::ApplyPalette(std::optional<TPalette> palette) {
  palette = Normalized(std::move(palette));
  if (palette == QueryPalette()) return;
  if (!palette) {
    MakePrivate().palette.reset();
    return;
  }
  const TBitmapImage& old = *image_;
  std::shared_ptr<TBitmapImage> image;
  if (old.bitCount >= 1 && old.bitCount <= 8) {
    image = CloneHeader(old);
    image->colorTable = TableFromPalette(*palette, size_t{1} << old.bitCount);
    image->storage = old.storage;
    if (old.HasPixels()) {
      AllocateStorage(*image);
      CopyPicture(old, *image, palette->size());
    }
  } else {
    image = CloneImage(old);
  }
  image->palette = std::move(palette);
  ReplaceImage(std::move(image));
}

uint8_t* TBitmap::RowAddress(int32_t y) {
  if (y < 0 || y > image_->height) throw EInvalidGraphicOperation(kScanLineOutOfRange);
  MakePrivate();
  SetStorageKind(StorageKind::DeviceIndependent);
  return const_cast<uint8_t*>(std::as_const(*this).RowAddress(y));
}

std::span<uint8_t> TBitmap::RowBytes(int32_t y) {
  if (y < 0 || y >= image_->height) throw EInvalidGraphicOperation(kScanLineOutOfRange);
  uint8_t* row = RowAddress(y);
  return {row, row ? static_cast<size_t>(image_->Stride()) : 0};
}

const uint8_t* TBitmap::RowAddress(int32_t y) const {
  const TBitmapImage& image = *image_;
  if (y < 0 || y > image.height) throw EInvalidGraphicOperation(kScanLineOutOfRange);
  image.Materialize();
  const uint8_t* base = image.pixels.Data();
  if (!base) return nullptr;
  const uint64_t stride = image.Stride();
  if (y < image.height) return base + image.StorageRowOf(y) * stride;
  // One row past the image: only its distance to the other rows is used.
  const auto address = reinterpret_cast<uintptr_t>(base);
  return reinterpret_cast<const uint8_t*>(
      image.topDown ? address + static_cast<uintptr_t>(image.height) * stride : address - stride);
}

uint32_t TBitmap::PixelColor(int32_t x, int32_t y) const {
  const TBitmapImage& image = *image_;
  if (x < 0 || x >= image.width || y < 0 || y >= image.height) {
    throw EInvalidGraphicOperation(kScanLineOutOfRange);
  }
  if (!image.HasPixels()) return 0;
  if (image.storage == TBitmapImage::Storage::Device && !image.pixels.Data()) return 0xFFFFFF;
  return ReadPixelColor(image, image.StorageRow(image.StorageRowOf(y)), x);
}

}  // namespace quorvex
