#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>

#include "picture/bitmap.h"
#include "picture/byte_input.h"
#include "picture/canvas.h"
#include "picture/exceptions.h"
#include "picture/platform/platform_graphics.h"
#include "picture/platform/qt_raster.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

[[noreturn]] void InvalidIcon() {
  throw EInvalidGraphic(kIconNotValid);
}

constexpr size_t kDirectoryHeader = 6;
constexpr size_t kDirectoryEntry = 16;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kRgb = 0;
constexpr uint32_t kBitFields = 3;
// Every image is painted from a raster of 4 bytes a pixel.
constexpr uint64_t kMaxPixels = kMaxStorageBytes / 4;

// Where the parts of one DIB image lie, all checked to be inside its bytes.
struct DibLayout {
  int32_t width = 0;
  int32_t height = 0;
  uint16_t bits = 0;
  uint32_t compression = kRgb;
  std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
  size_t colorTable = 0;
  size_t colorCount = 0;
  size_t xorBits = 0;
  uint64_t xorStride = 0;
  size_t andBits = 0;
  uint64_t andStride = 0;
  bool hasAndMask = false;
};

std::optional<DibLayout> ParseDib(std::span<const uint8_t> bytes) {
  const size_t size = bytes.size();
  if (size < 40) return std::nullopt;
  TByteReader header(bytes);
  const uint32_t headerSize = header.U32LE();
  if (headerSize < 40 || headerSize > size) return std::nullopt;
  DibLayout dib;
  const int32_t width = header.I32LE();
  const int32_t doubledHeight = header.I32LE();
  // The height counts the colour image and the mask; icons are bottom-up.
  if (width <= 0 || doubledHeight < 2) return std::nullopt;
  dib.width = width;
  dib.height = doubledHeight / 2;
  header.Skip(2);  // planes
  dib.bits = header.U16LE();
  dib.compression = header.U32LE();
  header.Skip(12);  // image size, resolution
  const uint32_t used = header.U32LE();
  header.Skip(4);  // important colours
  switch (dib.bits) {
    case 1:
    case 4:
    case 8:
    case 24:
      if (dib.compression != kRgb) return std::nullopt;
      break;
    case 16:
    case 32:
      if (dib.compression != kRgb && dib.compression != kBitFields) return std::nullopt;
      break;
    default:
      return std::nullopt;
  }
  size_t offset = headerSize;
  if (dib.compression == kBitFields) {
    // Masks follow a 40-byte header and are part of any longer one.
    if (headerSize == 40) {
      if (size < 52) return std::nullopt;
      offset += 12;
    } else if (headerSize < 52) {
      return std::nullopt;
    }
    for (int i = 0; i < 3; ++i) dib.masks[i] = header.U32LE();
    dib.masks[3] = headerSize >= 56 ? header.U32LE() : 0;
  } else if (dib.bits == 16) {
    dib.masks = {0x7C00, 0x03E0, 0x001F, 0};
  } else if (dib.bits == 32) {
    dib.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  }
  if (used > 256) return std::nullopt;
  dib.colorCount = used != 0 ? used : dib.bits <= 8 ? size_t{1} << dib.bits : 0;
  dib.colorTable = offset;
  const uint64_t xorBits = uint64_t{offset} + uint64_t{dib.colorCount} * 4;
  dib.xorStride = ((uint64_t{static_cast<uint32_t>(width)} * dib.bits + 31) / 32) * 4;
  dib.andStride = ((uint64_t{static_cast<uint32_t>(width)} + 31) / 32) * 4;
  const uint64_t xorEnd = xorBits + dib.xorStride * static_cast<uint64_t>(dib.height);
  if (xorEnd > size) return std::nullopt;
  const uint64_t andEnd = xorEnd + dib.andStride * static_cast<uint64_t>(dib.height);
  dib.hasAndMask = andEnd <= size;
  // Only images with their own alpha can do without the mask.
  if (!dib.hasAndMask && dib.bits != 32) return std::nullopt;
  dib.xorBits = static_cast<size_t>(xorBits);
  dib.andBits = static_cast<size_t>(xorEnd);
  return dib;
}

// One image of the directory that looks drawable.
struct Candidate {
  int32_t index = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool png = false;
  int32_t width = 0;
  int32_t height = 0;
  int bits = 0;
  std::optional<DibLayout> dib;
};

std::optional<Candidate> Inspect(int32_t index, const uint8_t* data, size_t size) {
  Candidate candidate;
  candidate.index = index;
  candidate.data = data;
  candidate.size = size;
  const std::span<const uint8_t> bytes(data, size);
  if (size >= sizeof kPngSignature && std::memcmp(data, kPngSignature, sizeof kPngSignature) == 0) {
    // The header chunk must come first: length 13, "IHDR", width, height.
    if (size < 33) return std::nullopt;
    TByteReader png(bytes.subspan(sizeof kPngSignature));
    const uint32_t length = png.U32BE();
    const auto type = png.Bytes(4);
    if (length != 13 || std::memcmp(type.data(), "IHDR", 4) != 0) return std::nullopt;
    const uint32_t width = png.U32BE();
    const uint32_t height = png.U32BE();
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return std::nullopt;
    candidate.png = true;
    candidate.width = static_cast<int32_t>(width);
    candidate.height = static_cast<int32_t>(height);
    candidate.bits = 32;
    return candidate;
  }
  candidate.dib = ParseDib(bytes);
  if (!candidate.dib) return std::nullopt;
  candidate.width = candidate.dib->width;
  candidate.height = candidate.dib->height;
  candidate.bits = candidate.dib->bits;
  return candidate;
}

// Orders candidates best first for the requested size.
bool Better(const Candidate& a, const Candidate& b, int32_t wantWidth, int32_t wantHeight) {
  auto distance = [&](const Candidate& c) {
    return std::abs(int64_t{c.width} - wantWidth) + std::abs(int64_t{c.height} - wantHeight);
  };
  if (distance(a) != distance(b)) return distance(a) < distance(b);
  const int64_t areaA = int64_t{a.width} * a.height;
  const int64_t areaB = int64_t{b.width} * b.height;
  if (areaA != areaB) return areaA > areaB;
  auto depth = [](const Candidate& c) {
    return c.bits <= TIcon::kDisplayBitsPerPixel ? c.bits : -c.bits;
  };
  if (depth(a) != depth(b)) return depth(a) > depth(b);
  return a.index < b.index;
}

// Widens one bit-field channel to 8 bits.
class ChannelField {
 public:
  explicit ChannelField(uint32_t mask)
      : mask_(mask), shift_(mask ? std::countr_zero(mask) : 0), maximum_(mask >> shift_) {}
  uint8_t operator()(uint32_t value) const {
    if (maximum_ == 0) return 0;
    const uint64_t v = (value & mask_) >> shift_;
    if (maximum_ == 255) return static_cast<uint8_t>(v);
    return static_cast<uint8_t>((v * 255 + maximum_ / 2) / maximum_);
  }

 private:
  uint32_t mask_;
  int shift_;
  uint64_t maximum_;
};

// 32-bit images whose alpha is all zero predate alpha and use the mask.
bool HasAlpha(const DibLayout& dib, const uint8_t* base) {
  if (dib.bits != 32 || dib.masks[3] == 0) return false;
  for (int32_t y = 0; y < dib.height; ++y) {
    const uint8_t* row = base + dib.xorBits + dib.xorStride * static_cast<uint64_t>(y);
    for (int32_t x = 0; x < dib.width; ++x) {
      if ((LoadU32LE(row + 4 * static_cast<size_t>(x)) & dib.masks[3]) != 0) return true;
    }
  }
  return false;
}

void DecodeDib(const Candidate& candidate, platform::Raster& raster) {
  const DibLayout& dib = *candidate.dib;
  const uint8_t* base = candidate.data;
  raster.width = dib.width;
  raster.height = dib.height;
  const size_t width = static_cast<size_t>(dib.width);
  const size_t rowBytes = width * 4;
  raster.bgra.assign(rowBytes * static_cast<size_t>(dib.height), 0);
  const uint8_t* table = base + dib.colorTable;
  const bool useAlpha = HasAlpha(dib, base);
  const bool plain32 = dib.bits == 32 && dib.compression == kRgb;
  const ChannelField red(dib.masks[0]), green(dib.masks[1]), blue(dib.masks[2]),
      alpha(useAlpha ? dib.masks[3] : 0);
  for (int32_t y = 0; y < dib.height; ++y) {
    const uint64_t storedRow = static_cast<uint64_t>(dib.height - 1 - y);
    const uint8_t* row = base + dib.xorBits + dib.xorStride * storedRow;
    uint8_t* out = raster.bgra.data() + rowBytes * static_cast<size_t>(y);
    if (dib.bits <= 8) {
      const unsigned bits = dib.bits;
      const unsigned valueMask = (1u << bits) - 1;
      for (size_t x = 0; x < width; ++x) {
        const size_t bitOffset = x * bits;
        const unsigned shift = 8 - bits - static_cast<unsigned>(bitOffset % 8);
        const size_t index = (row[bitOffset / 8] >> shift) & valueMask;
        if (index < dib.colorCount) std::memcpy(out + 4 * x, table + 4 * index, 3);
        out[4 * x + 3] = 255;
      }
    } else if (dib.bits == 24) {
      for (size_t x = 0; x < width; ++x) {
        std::memcpy(out + 4 * x, row + 3 * x, 3);
        out[4 * x + 3] = 255;
      }
    } else if (plain32) {
      std::memcpy(out, row, rowBytes);
      if (!useAlpha) {
        for (size_t x = 0; x < width; ++x) out[4 * x + 3] = 255;
      }
    } else {
      for (size_t x = 0; x < width; ++x) {
        const uint32_t value = dib.bits == 16 ? LoadU16LE(row + 2 * x) : LoadU32LE(row + 4 * x);
        uint8_t* px = out + 4 * x;
        px[0] = blue(value);
        px[1] = green(value);
        px[2] = red(value);
        px[3] = useAlpha ? alpha(value) : 255;
      }
    }
    if (!useAlpha && dib.hasAndMask) {
      const uint8_t* mask = base + dib.andBits + dib.andStride * storedRow;
      for (size_t x = 0; x < width; ++x) {
        if ((mask[x / 8] >> (7 - x % 8)) & 1) out[4 * x + 3] = 0;
      }
    }
  }
}

bool Decode(const Candidate& candidate, platform::Raster& raster) {
  if (static_cast<uint64_t>(candidate.width) * static_cast<uint64_t>(candidate.height) >
      kMaxPixels) {
    return false;
  }
  if (!candidate.png) {
    DecodeDib(candidate, raster);
    return true;
  }
  if (!platform::DecodePng(candidate.data, candidate.size, kMaxPixels, raster)) return false;
  return raster.width > 0 && raster.height > 0;
}

}  // namespace

int32_t TIcon::ImageWidth() const {
  return width_;
}
int32_t TIcon::ImageHeight() const {
  return height_;
}

void TIcon::TakeFrom(const TPersistent* source) {
  if (source == nullptr) {
    const int32_t wantWidth = requestedWidth_;
    const int32_t wantHeight = requestedHeight_;
    *this = TIcon();
    requestedWidth_ = wantWidth;
    requestedHeight_ = wantHeight;
    return;
  }
  if (const auto* icon = dynamic_cast<const TIcon*>(source)) {
    if (icon != this) *this = *icon;
    return;
  }
  TGraphic::TakeFrom(source);
}

void TIcon::SetImageWidth(int32_t width) {
  if (width == width_) return;
  if (!IsEmpty()) throw EInvalidGraphicOperation(kIconSizeFixed);
  if (width > 0) requestedWidth_ = width;
}

void TIcon::SetImageHeight(int32_t height) {
  if (height == height_) return;
  if (!IsEmpty()) throw EInvalidGraphicOperation(kIconSizeFixed);
  if (height > 0) requestedHeight_ = height;
}

void TIcon::ReadFromStream(TStream& stream) {
  const int64_t remaining = stream.Remaining();
  if (remaining < static_cast<int64_t>(kDirectoryHeader)) InvalidIcon();
  if (static_cast<uint64_t>(remaining) > kMaxStorageBytes) throw EOutOfResources(kOutOfResources);
  std::vector<uint8_t> bytes(static_cast<size_t>(remaining));
  stream.ReadBuffer(bytes.data(), bytes.size());

  const uint8_t* file = bytes.data();
  const size_t size = bytes.size();
  TByteReader directory(bytes);
  // Type 1 is an icon, type 2 a cursor; both hold the same images.
  const uint16_t reserved = directory.U16LE();
  const uint16_t type = directory.U16LE();
  const uint16_t count = directory.U16LE();
  if (reserved != 0 || (type != 1 && type != 2) || count == 0) InvalidIcon();
  const size_t directoryEnd = kDirectoryHeader + kDirectoryEntry * count;
  if (directoryEnd > size) InvalidIcon();

  std::vector<Candidate> candidates;
  for (int32_t i = 0; i < count; ++i) {
    TByteReader entry =
        directory.Sub(kDirectoryHeader + kDirectoryEntry * static_cast<size_t>(i), kDirectoryEntry);
    entry.Skip(8);  // size, colours, planes, bits
    const uint32_t declared = entry.U32LE();
    const uint32_t offset = entry.U32LE();
    if (offset < directoryEnd || offset >= size || declared == 0) continue;
    // A size that runs past the end is cut to the bytes that are there.
    const size_t available = std::min<size_t>(declared, size - offset);
    if (auto candidate = Inspect(i, file + offset, available)) candidates.push_back(*candidate);
  }
  std::sort(candidates.begin(), candidates.end(), [&](const Candidate& a, const Candidate& b) {
    return Better(a, b, requestedWidth_, requestedHeight_);
  });

  platform::Raster raster;
  const Candidate* chosen = nullptr;
  for (const Candidate& candidate : candidates) {
    if (Decode(candidate, raster)) {
      chosen = &candidate;
      break;
    }
  }
  if (!chosen) InvalidIcon();

  raster_ = std::move(raster.bgra);
  width_ = raster.width;
  height_ = raster.height;
  imageCount_ = count;
  chosen_ = chosen->index;
  bytes_ = std::move(bytes);
}

void TIcon::WriteToStream(TStream& stream) const {
  if (!bytes_.empty()) stream.WriteBuffer(bytes_.data(), bytes_.size());
}

void TIcon::DrawInto(TCanvas& canvas, const TRect& rect) const {
  if (raster_.empty()) return;
  canvas.PaintRaster(rect, raster_.data(), width_, height_, static_cast<size_t>(width_) * 4);
}

}  // namespace quorvex
