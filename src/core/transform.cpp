#include "core/transform.h"

#include <cstdint>
#include <optional>

#include "core/keystream.h"
#include "core/parse_integer.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"

namespace quorvex {

namespace {

void ScrambleRows(const TBitmap& source, const std::string& code, TBitmap& target,
                  int32_t fallbackSeed) {
  const PixelLayout layout = source.Layout();
  const int32_t width = source.ImageWidth();
  const bool paletted = layout >= PixelLayout::Bits1 && layout <= PixelLayout::Bits16;
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

  int32_t seed = fallbackSeed;
  try {
    seed = parseInteger(code);
  } catch (const Exception&) {
    // An unconvertible code silently takes the fallback seed.
  }
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

}  // namespace

void EncryptTransform(const TBitmap& source, const std::string& code, TBitmap& target) {
  ScrambleRows(source, code, target, kEncryptFallbackSeed);
}

void DecryptTransform(const TBitmap& source, const std::string& code, TBitmap& target) {
  ScrambleRows(source, code, target, kDecryptFallbackSeed);
}

}  // namespace quorvex
