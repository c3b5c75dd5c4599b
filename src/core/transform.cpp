#include "core/transform.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "core/keystream.h"
#include "core/parse_integer.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/picture_loader.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

int32_t SeedOf(const std::string& code, int32_t fallbackSeed) {
  try {
    return parseInteger(code);
  } catch (const Exception&) {
    // An unconvertible code silently takes the fallback seed.
    return fallbackSeed;
  }
}

bool PalettedLayout(PixelLayout layout) {
  return layout >= PixelLayout::Bits1 && layout <= PixelLayout::Bits16;
}

void ScrambleRows(const TBitmap& source, const std::string& code, TBitmap& target,
                  int32_t fallbackSeed) {
  const PixelLayout layout = source.Layout();
  const int32_t width = source.ImageWidth();
  const bool paletted = PalettedLayout(layout);
  const std::optional<TPalette> palette =
      paletted ? copyPalette(source.QueryPalette()) : std::nullopt;
  // A target already in the source's shape is written in place (it may be
  // the source itself).
  const bool reuse = target.ImageWidth() == width && target.ImageHeight() == source.ImageHeight() &&
                     target.Layout() == layout && (!paletted || target.QueryPalette() == palette);
  if (!reuse && layout >= PixelLayout::Bits1 && layout <= PixelLayout::Bits32) {
    // Every storage byte is written below, so neither the white fill of a
    // resize nor the colour matching of a palette change is worth its pass
    // over the picture.
    target.Reallocate(width, source.ImageHeight(), layout, palette);
  } else {
    target.SetImageWidth(width);
    target.SetImageHeight(source.ImageHeight());
    target.SetLayout(layout);
    if (paletted) target.ApplyPalette(palette);
  }
  // Row 1 may lie just outside a one-row picture, so compare plain addresses.
  const auto row1 = reinterpret_cast<uintptr_t>(source.RowAddress(1));
  const auto row0 = reinterpret_cast<uintptr_t>(source.RowAddress(0));
  const size_t stride = row1 > row0 ? row1 - row0 : row0 - row1;

  const int32_t seed = SeedOf(code, fallbackSeed);
  // Row y takes keystream bytes y * stride onwards. Visiting the rows in the
  // target's memory order instead of top first (backwards through bottom-up
  // storage, which defeats the prefetcher) more than doubles the speed; each
  // row's starting state is jumped to directly.
  const auto start = static_cast<uint32_t>(seed);
  const int32_t height = source.ImageHeight();
  const bool bottomUp = !target.IsTopDown();
  for (int32_t i = 0; i < height; ++i) {
    const int32_t y = bottomUp ? height - 1 - i : i;
    Keystream::xorBytesFrom(Keystream::stateAfter(start, uint64_t(y) * stride),
                            source.RowAddress(y), target.RowAddress(y), stride);
  }
  Keystream::setState(Keystream::stateAfter(start, uint64_t(height) * stride));
}

// Runs of rows small enough to stay in the cache between the read, the
// transform and the write.
constexpr uint64_t kStreamRunBytes = uint64_t{512} << 10;

}  // namespace

bool TransformBmpFile(const std::string& source, const std::string& code, const std::string& target,
                      TExistingFile existing) {
  std::optional<TFileStream> in;
  TBmpFileStorage file;
  try {
    if (!LoadsAsBitmap(source)) return false;
    in.emplace(source, TFileStream::Mode::OpenRead);
    file = ReadBmpFileStorage(*in);
  } catch (const std::exception&) {
    return false;
  }
  if (!file.image) return false;
  const TBitmapImage& image = *file.image;
  const PixelLayout layout = image.Layout();
  const uint64_t stride = image.Stride();
  const auto height = static_cast<uint64_t>(image.height);
  const uint64_t storageSize = stride * height;
  // Top-down pictures come out bottom-up: their rows would go in reverse.
  // Run-length codes are no storage: they take the decoding road.
  if (file.runLength || layout < PixelLayout::Bits1 || layout > PixelLayout::Bits32 ||
      image.topDown || storageSize > kMaxStorageBytes ||
      file.present > static_cast<uint64_t>(std::max<int64_t>(in->Size() - file.offset, 0))) {
    return false;
  }
  const auto start = static_cast<uint32_t>(parseInteger(code));

  // The result's header as the transform leaves it; its storage is never
  // touched, so it costs no memory.
  TBitmap result;
  result.Reallocate(image.width, image.height, layout,
                    PalettedLayout(layout) ? copyPalette(image.Palette()) : std::nullopt);

  const uint64_t runRows = std::max<uint64_t>(1, kStreamRunBytes / stride);
  const auto buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(runRows * stride));
  WriteFileAtomically(
      target,
      [&](TStream& out) {
        result.WriteHeaderToStream(out);
        uint64_t present = file.present;
        for (uint64_t first = 0; first < height; first += runRows) {
          const uint64_t rows = std::min(runRows, height - first);
          const auto bytes = static_cast<size_t>(rows * stride);
          const auto held = static_cast<size_t>(std::min<uint64_t>(present, bytes));
          in->ReadBuffer(buffer.get(), held);
          std::memset(buffer.get() + held, 0, bytes - held);
          present -= held;
          // Storage row r is image row height - 1 - r, whose keystream
          // starts at that row's offset.
          for (uint64_t r = 0; r < rows; ++r) {
            uint8_t* row = buffer.get() + r * stride;
            const uint64_t y = height - 1 - (first + r);
            Keystream::xorBytesFrom(Keystream::stateAfter(start, y * stride), row, row,
                                    static_cast<size_t>(stride));
          }
          out.WriteBuffer(buffer.get(), bytes);
        }
      },
      existing);
  Keystream::setState(Keystream::stateAfter(start, storageSize));
  return true;
}

void EncryptTransform(const TBitmap& source, const std::string& code, TBitmap& target) {
  ScrambleRows(source, code, target, kEncryptFallbackSeed);
}

void DecryptTransform(const TBitmap& source, const std::string& code, TBitmap& target) {
  ScrambleRows(source, code, target, kDecryptFallbackSeed);
}

}  // namespace quorvex
