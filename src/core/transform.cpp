#include "core/transform.h"

#include <cstdint>

#include "core/keystream.h"
#include "core/parse_integer.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"

namespace quorvex {

namespace {

void ScrambleRows(const TBitmap& source, const std::string& code, TBitmap& target,
                  int32_t fallbackSeed) {
  target.SetImageWidth(source.ImageWidth());
  target.SetImageHeight(source.ImageHeight());
  const PixelLayout layout = source.Layout();
  target.SetLayout(layout);
  if (layout >= PixelLayout::Bits1 && layout <= PixelLayout::Bits16) {
    target.ApplyPalette(copyPalette(source.QueryPalette()));
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
  Keystream::setSeed(seed);

  const int32_t height = source.ImageHeight();
  for (int32_t y = 0; y < height; ++y) {
    Keystream::xorBytes(source.RowAddress(y), target.RowAddress(y), stride);
  }
}

}  // namespace

void EncryptTransform(const TBitmap& source, const std::string& code, TBitmap& target) {
  ScrambleRows(source, code, target, kEncryptFallbackSeed);
}

void DecryptTransform(const TBitmap& source, const std::string& code, TBitmap& target) {
  ScrambleRows(source, code, target, kDecryptFallbackSeed);
}

}  // namespace quorvex
