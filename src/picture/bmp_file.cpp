// The BMP format as the bitmap reads and writes it. The writer copies the
// storage unchanged, padding included, so scrambled files reload byte for byte.
#include <algorithm>
#include <cstring>

#include "picture/bitmap.h"
#include "picture/bmp_run_length.h"
#include "picture/byte_input.h"
#include "picture/exceptions.h"
#include "picture/readers/claimed_size.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
// Headers from 52 bytes on carry the red, green and blue masks at offset 40.
constexpr uint32_t kHeaderWithMasksSize = 52;
constexpr uint32_t kCompressionRLE8 = 1;
constexpr uint32_t kCompressionRLE4 = 2;
// A two-byte run code makes at most 255 pixels: 255 bytes of storage.
constexpr uint64_t kMostStoragePerCodeByte = 128;

bool ValidBitCount(uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

namespace {

// What the file header and the information header say.
struct TBmpHeaders {
  std::shared_ptr<TBitmapImage> image = std::make_shared<TBitmapImage>();
  int64_t dataOffset = 0;
  uint32_t headerSize = 0;
  bool core = false;       // the OS/2 header of 12 bytes
  bool runLength = false;  // RLE8 or RLE4 codes in place of the rows
  int32_t height = 0;
  uint16_t planes = 1;
  uint32_t sizeImage = 0;
  std::vector<uint8_t> info;  // the whole information header, but for a core one
};

void ReadInfoHeader(TStream& stream, TBmpHeaders& h) {
  TBitmapImage& image = *h.image;
  if (h.headerSize < kInfoHeaderSize) throw EInvalidGraphic(kBitmapNotValid);
  // Refuse a header longer than the data before allocating it.
  if (h.headerSize - 4 > static_cast<uint64_t>(stream.Remaining())) {
    throw EReadError(kStreamReadError);
  }
  h.info.resize(h.headerSize);
  stream.ReadBuffer(h.info.data() + 4, h.headerSize - 4);
  TByteReader info(h.info);
  info.Skip(4);  // its size
  image.width = info.I32LE();
  h.height = info.I32LE();
  h.planes = info.U16LE();
  image.bitCount = info.U16LE();
  image.compression = info.U32LE();
  h.sizeImage = info.U32LE();
  image.xPelsPerMeter = info.I32LE();
  image.yPelsPerMeter = info.I32LE();
  image.colorsUsed = info.U32LE();
  image.colorsImportant = info.U32LE();
}

TBmpHeaders ReadHeaders(TStream& stream) {
  uint8_t fileHeader[kFileHeaderSize];
  stream.ReadBuffer(fileHeader, sizeof fileHeader);
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') throw EInvalidGraphic(kBitmapNotValid);
  TBmpHeaders h;
  h.dataOffset = LoadU32LE(fileHeader + 10);
  h.headerSize = stream.ReadU32LE();
  if (h.headerSize == kCoreHeaderSize) {
    h.core = true;
    h.image->width = stream.ReadU16LE();
    h.height = stream.ReadU16LE();
    h.planes = stream.ReadU16LE();
    h.image->bitCount = stream.ReadU16LE();
  } else {
    ReadInfoHeader(stream, h);
  }
  const uint32_t compression = h.image->compression;
  h.runLength = (compression == kCompressionRLE8 && h.image->bitCount == 8) ||
                (compression == kCompressionRLE4 && h.image->bitCount == 4);
  if (compression != kCompressionNone && compression != kCompressionBitFields && !h.runLength) {
    throw EReadError(kStreamReadError);
  }
  // Decoded, the rows are plain ones: written back, they are uncompressed.
  if (h.runLength) h.image->compression = kCompressionNone;
  if (h.planes != 1) throw EInvalidGraphic(kBitmapNotValid);
  return h;
}

// Bit-field masks follow a 40-byte header and are part of longer ones.
void ReadMasks(TStream& stream, const TBmpHeaders& h, int64_t& remaining) {
  TBitmapImage& image = *h.image;
  if (image.compression != kCompressionBitFields ||
      (image.bitCount != 16 && image.bitCount != 32)) {
    return;
  }
  if (h.headerSize == kInfoHeaderSize) {
    for (auto& mask : image.masks) mask = stream.ReadU32LE();
    remaining -= 12;
  } else if (h.headerSize >= kHeaderWithMasksSize) {
    TByteReader masks = TByteReader(h.info).Sub(kInfoHeaderSize, 12);
    for (size_t i = 0; i < 3; ++i) image.masks[i] = masks.U32LE();
  }
}

// Colour table; entries past the 256 the table can hold are skipped.
void ReadColorTable(TStream& stream, const TBmpHeaders& h, int64_t headersEnd, bool offsetUsable,
                    int64_t& remaining) {
  TBitmapImage& image = *h.image;
  uint64_t colors = image.colorsUsed;
  if (colors == 0 && (image.bitCount == 1 || image.bitCount == 4 || image.bitCount == 8)) {
    colors = uint64_t{1} << image.bitCount;
  }
  const uint64_t entrySize = h.core ? 3 : 4;
  // An OS/2 header has no colour count: a shorter table shows in the offset.
  if (h.core && offsetUsable) {
    colors = std::min<uint64_t>(colors, uint64_t(h.dataOffset - headersEnd) / 3);
  }
  if (colors * entrySize > static_cast<uint64_t>(stream.Remaining())) {
    throw EReadError(kStreamReadError);
  }
  const uint64_t kept = std::min<uint64_t>(colors, kMaxPaletteEntries);
  std::vector<uint8_t> table(kept * entrySize);
  stream.ReadBuffer(table.data(), table.size());
  stream.Skip(static_cast<int64_t>((colors - kept) * entrySize));
  remaining -= static_cast<int64_t>(colors * entrySize);
  TByteReader entries(table);
  for (uint64_t i = 0; i < kept; ++i) {
    const auto e = entries.Bytes(entrySize);
    image.colorTable.push_back(uint32_t{e[0]} | (uint32_t{e[1]} << 8) | (uint32_t{e[2]} << 16));
  }
}

// Storage from the header: the checks the platform would make. The rows
// must be in the file, but for rows missing at its end: a bare header cannot
// claim a large picture. Sizes over the cap keep its error.
uint64_t CheckedStorageSize(const TBmpHeaders& h, int64_t remaining) {
  TBitmapImage& image = *h.image;
  const bool fields = image.compression == kCompressionBitFields;
  if (!ValidBitCount(image.bitCount) || image.width <= 0 || h.height == 0 ||
      h.height == INT32_MIN || (fields && image.bitCount != 16 && image.bitCount != 32)) {
    throw EInvalidGraphic(kBitmapNotValid);
  }
  image.topDown = h.height < 0;
  image.height = h.height < 0 ? -h.height : h.height;
  image.storage = TBitmapImage::Storage::Dib;
  const uint64_t storageSize = image.Stride() * static_cast<uint64_t>(image.height);
  const uint64_t perByte = h.runLength ? kMostStoragePerCodeByte : 1;
  if (storageSize <= kMaxStorageBytes && storageSize > kShortDataAllowance &&
      (storageSize - kShortDataAllowance + perByte - 1) / perByte >
          static_cast<uint64_t>(std::max<int64_t>(remaining, 0))) {
    throw EReadError(kStreamReadError);
  }
  return storageSize;
}

// Up to 8 bits the table is the colour table; above, a table the file gives
// anyway becomes the picture's palette.
void PlaceColorTable(TBitmapImage& image) {
  std::vector<uint32_t> fileTable = std::move(image.colorTable);
  image.colorTable.clear();
  if (image.bitCount <= 8) {
    fileTable.resize(std::min<size_t>(fileTable.size(), size_t{1} << image.bitCount));
    image.colorTable = std::move(fileTable);
  } else if (image.colorsUsed > 0 && !fileTable.empty()) {
    TPalette palette;
    for (uint32_t entry : fileTable) {
      palette.push_back({static_cast<uint8_t>(entry >> 16), static_cast<uint8_t>(entry >> 8),
                         static_cast<uint8_t>(entry)});
    }
    image.palette = std::move(palette);
  }
}

}  // namespace

TBmpFileStorage ReadBmpFileStorage(TStream& stream) {
  const int64_t base = stream.Position();
  const int64_t n = stream.Remaining();
  if (n <= 0) return {};

  TBmpHeaders h = ReadHeaders(stream);
  int64_t remaining = n - static_cast<int64_t>(kFileHeaderSize) - h.headerSize;
  ReadMasks(stream, h, remaining);

  // The pixels start at the file header's data offset when it points past
  // the headers and into the file; other offsets are ignored and the pixels
  // follow the colour table, as in every file this program writes.
  const int64_t headersEnd = stream.Position() - base;
  const bool offsetUsable = h.dataOffset >= headersEnd && h.dataOffset < n;
  ReadColorTable(stream, h, headersEnd, offsetUsable, remaining);
  if (offsetUsable && h.dataOffset > stream.Position() - base) {
    stream.Seek(base + h.dataOffset);
    remaining = n - h.dataOffset;
  }

  const uint64_t storageSize = CheckedStorageSize(h, remaining);
  PlaceColorTable(*h.image);
  if (h.runLength) {
    // The codes run to the image size, or to the end of the file.
    const uint64_t held = static_cast<uint64_t>(std::max<int64_t>(remaining, 0));
    const uint64_t codes = h.sizeImage != 0 ? std::min<uint64_t>(h.sizeImage, held) : held;
    return {std::move(h.image), stream.Position(), codes, true};
  }
  const uint64_t imageSize = h.sizeImage != 0 ? h.sizeImage : storageSize;
  uint64_t toRead = remaining < 0 ? imageSize : std::min<uint64_t>(imageSize, remaining);
  toRead = std::min<uint64_t>(toRead, storageSize);
  return {std::move(h.image), stream.Position(), toRead};
}

void TBitmap::ReadFromStream(TStream& stream) {
  TBmpFileStorage file = ReadBmpFileStorage(stream);
  if (!file.image) {
    ReplaceImage(std::make_shared<TBitmapImage>());
    return;
  }
  TBitmapImage& image = *file.image;
  const uint64_t storageSize = image.Stride() * static_cast<uint64_t>(image.height);
  if (file.runLength) {
    image.pixels = TPixelStorage(storageSize);
    TBufferedInput codes(stream, static_cast<int64_t>(file.present));
    DecodeBmpRunLength(codes,
                       {image.pixels.Data(), image.Stride(), static_cast<uint32_t>(image.width),
                        static_cast<uint32_t>(image.height), image.bitCount});
    codes.SyncStream();
    ReplaceImage(std::move(file.image));
    return;
  }
  // Only the part the file does not hold is cleared: the rest is read over.
  image.pixels = TPixelStorage(storageSize, TPixelStorage::Contents::Overwritten);
  stream.ReadBuffer(image.pixels.Data(), static_cast<size_t>(file.present));
  std::memset(image.pixels.Data() + file.present, 0,
              static_cast<size_t>(storageSize - file.present));
  ReplaceImage(std::move(file.image));
}

void TBitmap::WriteToStream(TStream& stream) const {
  std::shared_ptr<TBitmapImage> image = image_;
  if (!image->HasPixels()) return;
  // Device storage is written as device-independent storage of the
  // display's depth.
  image->Materialize();
  WriteHeaderToStream(stream);
  stream.WriteBuffer(image->pixels.Data(), image->pixels.Size());
}

void TBitmap::WriteHeaderToStream(TStream& stream) const {
  std::shared_ptr<TBitmapImage> image = image_;
  if (!image->HasPixels()) return;
  const uint16_t bits = image->StorageBits();
  const bool dib = image->storage == TBitmapImage::Storage::Dib;
  const uint32_t compression = dib ? image->compression : kCompressionNone;

  std::vector<uint32_t> table;
  if (bits <= 8) {
    table = image->colorTable;
  } else if (image->palette) {
    for (size_t i = 0; i < std::min(image->palette->size(), kMaxPaletteEntries); ++i) {
      const TRGB& c = (*image->palette)[i];
      table.push_back(uint32_t{c.blue} | (uint32_t{c.green} << 8) | (uint32_t{c.red} << 16));
    }
  }
  const bool masks = bits > 8 && compression == kCompressionBitFields;
  const uint32_t headerBytes =
      kInfoHeaderSize + (masks ? 12 : 0) + 4 * static_cast<uint32_t>(table.size());
  const uint64_t imageSize = image->Stride() * static_cast<uint64_t>(image->height);
  const uint32_t colorsUsed =
      table.empty() ? (dib ? image->colorsUsed : 0) : static_cast<uint32_t>(table.size());

  TMemoryStream head;
  head.WriteBuffer("BM", 2);
  head.WriteU32LE(static_cast<uint32_t>(kFileHeaderSize + headerBytes + imageSize));
  head.WriteU16LE(0);
  head.WriteU16LE(0);
  head.WriteU32LE(static_cast<uint32_t>(kFileHeaderSize + headerBytes));
  head.WriteU32LE(kInfoHeaderSize);
  head.WriteU32LE(static_cast<uint32_t>(image->width));
  head.WriteU32LE(static_cast<uint32_t>(image->topDown ? -image->height : image->height));
  head.WriteU16LE(1);
  head.WriteU16LE(bits);
  head.WriteU32LE(compression);
  head.WriteU32LE(static_cast<uint32_t>(imageSize));
  head.WriteU32LE(static_cast<uint32_t>(dib ? image->xPelsPerMeter : 0));
  head.WriteU32LE(static_cast<uint32_t>(dib ? image->yPelsPerMeter : 0));
  head.WriteU32LE(colorsUsed);
  head.WriteU32LE(dib ? image->colorsImportant : 0);
  if (masks) {
    for (uint32_t mask : image->masks) head.WriteU32LE(mask);
  }
  for (uint32_t entry : table) head.WriteU32LE(entry & 0xFFFFFFu);
  stream.WriteBuffer(head.Bytes().data(), head.Bytes().size());
}

}  // namespace quorvex
