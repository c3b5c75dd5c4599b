#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "picture/graphic.h"
#include "picture/image_limits.h"

namespace quorvex {

enum class PixelLayout {
  DeviceBitmap,
  Bits1,
  Bits4,
  Bits8,
  Bits15,
  Bits16,
  Bits24,
  Bits32,
  CustomBits,
};

const char* PixelLayoutName(PixelLayout layout);

inline constexpr uint32_t kCompressionNone = 0;
inline constexpr uint32_t kCompressionBitFields = 3;

// Row stride in bytes: rows are padded to a multiple of 4 bytes.
uint64_t RowStride(uint64_t width, uint32_t bitsPerPixel);

// Owns pixel storage.
class TPixelStorage {
 public:
  // Zeroed, or left as it comes for an owner that writes every byte before
  // anything reads one (it may hold an earlier picture's bytes).
  enum class Contents { Zeroed, Overwritten };

  TPixelStorage() = default;
  // Raises EOutOfResources when the size is over the limit or cannot be had.
  explicit TPixelStorage(uint64_t size, Contents contents = Contents::Zeroed);
  uint8_t* Data() { return data_.get(); }
  const uint8_t* Data() const { return data_.get(); }
  size_t Size() const { return size_; }

 private:
  struct Free {
    size_t capacity;  // value-initialised by the empty pointer
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, Free> data_;
  size_t size_ = 0;
};

// Frees the large block that freed storage leaves for the next picture of
// about its size.
void ReleaseRecycledStorage();

struct TBitmapImage;

// A BMP file read as TBitmap::ReadFromStream reads it, up to its storage:
// the record it would make, without storage, and where the storage bytes
// lie. Raises what ReadFromStream raises on the headers; a stream without
// bytes gives no record.
struct TBmpFileStorage {
  std::shared_ptr<TBitmapImage> image;
  int64_t offset = 0;    // of the first storage byte in the stream
  uint64_t present = 0;  // storage bytes the stream holds; the rest are zero
  // The bytes are RLE8 or RLE4 codes (by the bit count), not storage; the
  // record says no compression, as its decoded rows have none.
  bool runLength = false;
};
TBmpFileStorage ReadBmpFileStorage(TStream& stream);

// The shared image record: header values, colour table, palette and storage.
struct TBitmapImage {
  enum class Storage { None, Device, Dib };

  int32_t width = 0;
  int32_t height = 0;  // always the absolute value
  bool topDown = false;
  uint16_t bitCount = 0;  // 0: no layout set
  uint32_t compression = kCompressionNone;
  std::array<uint32_t, 3> masks{};  // red, green, blue; meaningful with bit fields
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t colorsUsed = 0;
  uint32_t colorsImportant = 0;
  std::vector<uint32_t> colorTable;  // entries as in files: blue, green, red, 0
  std::optional<TPalette> palette;   // a palette given by a file or a caller

  Storage storage = Storage::None;
  // Device storage is 32-bit blue, green, red, unused; until something needs
  // its bytes it stays unallocated and counts as white.
  mutable TPixelStorage pixels;

  uint64_t Stride() const;
  // Gives lazily white device storage its bytes.
  void Materialize() const;
  PixelLayout Layout() const;
  // The palette a bitmap holding this record reports (TBitmap::QueryPalette).
  std::optional<TPalette> Palette() const;
  bool HasPixels() const { return storage != Storage::None; }
  uint16_t StorageBits() const { return storage == Storage::Device ? 32 : bitCount; }
  // Address of storage row r (0 = first in memory).
  uint8_t* StorageRow(uint64_t r) { return pixels.Data() + r * Stride(); }
  const uint8_t* StorageRow(uint64_t r) const { return pixels.Data() + r * Stride(); }
  // Storage row of image row y (0 = top).
  uint64_t StorageRowOf(int32_t y) const {
    return topDown ? static_cast<uint64_t>(y) : static_cast<uint64_t>(height - 1 - y);
  }
};

class TCanvas;

class TBitmap : public TGraphic {
 public:
  TBitmap();
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;
  ~TBitmap() override;

  std::string ClassName() const override { return "TBitmap"; }
  void TakeFrom(const TPersistent* source) override;

  bool IsEmpty() const override;
  int32_t ImageWidth() const override;
  int32_t ImageHeight() const override;
  std::optional<TPalette> QueryPalette() const override;
  void SetImageWidth(int32_t width) override;
  void SetImageHeight(int32_t height) override;
  // New storage from a size change is filled with a colour (0xRRGGBB) and
  // the old picture copied on at the top left. Width and height alone fill
  // white; a caller that wants another background, such as the brush colour
  // of a surface it draws on, passes it here.
  static constexpr uint32_t kWhiteFill = 0xFFFFFF;
  void SetImageSize(int32_t width, int32_t height, uint32_t fill);
  void ApplyPalette(std::optional<TPalette> palette) override;
  void ReadFromStream(TStream& stream) override;
  void WriteToStream(TStream& stream) const override;
  // The headers and colour table WriteToStream writes before the storage.
  void WriteHeaderToStream(TStream& stream) const;
  void DrawInto(TCanvas& canvas, const TRect& rect) const override;

  // The drawing surface, made on first use and owned by the bitmap.
  TCanvas& Surface();

  PixelLayout Layout() const;
  void SetLayout(PixelLayout layout);
  // Drops the picture for new storage of the given size and layout (Bits1
  // to Bits32) with the layout's first palette, for callers that go on to
  // write every storage byte before reading any: its bytes are left as they
  // come, since a white fill would be a wasted pass over a large picture.
  // A palette given takes the starting palette's place, as ApplyPalette
  // would have it.
  void Reallocate(int32_t width, int32_t height, PixelLayout layout,
                  std::optional<TPalette> palette = std::nullopt);

  // Address of the first storage byte of image row y (0 = top), for
  // 0 <= y <= height; row `height` is just outside the image and must not be
  // touched. Makes the image private first.
  uint8_t* RowAddress(int32_t y);
  // Read-only access, which leaves a shared image shared.
  const uint8_t* RowAddress(int32_t y) const;
  // The storage bytes of image row y (0 <= y < height), padding included;
  // what readers hand to decoders and the colour converter as their target.
  std::span<uint8_t> RowBytes(int32_t y);

  // Facts of the storage, for writers, tests and the command line.
  uint64_t Stride() const;
  uint16_t BitsPerPixel() const;
  uint32_t Compression() const;
  std::array<uint32_t, 3> Masks() const;
  bool IsTopDown() const;
  const std::vector<uint32_t>& ColorTable() const;
  // Whether two bitmaps hold the very same image record.
  bool SharesImageWith(const TBitmap& other) const;
  // The colour of one pixel as 0xRRGGBB, in any layout.
  uint32_t PixelColor(int32_t x, int32_t y) const;

  enum class StorageKind { DeviceDependent, DeviceIndependent };
  void SetStorageKind(StorageKind kind);

 private:
  std::shared_ptr<TBitmapImage> Image() const;
  void ReplaceImage(std::shared_ptr<TBitmapImage> image);
  TBitmapImage& MakePrivate();
  void MakeDeviceIndependent();

  std::shared_ptr<TBitmapImage> image_;
  std::unique_ptr<TCanvas> canvas_;
  friend class TCanvas;
};

// The 16-colour standard palette that Bits4 bitmaps start with.
const TPalette& StandardPalette16();
// The 256-colour halftone palette that Bits8 bitmaps start with.
const TPalette& HalftonePalette();

}  // namespace quorvex
