#pragma once

// A header claims the picture's size; the data after it must be able to
// fill it before the storage is made, or a few bytes could claim a
// gigabyte. Each reader knows its code's best case: how many bytes of
// pixel data one byte of the file can decode to at most.

#include <cstdint>

#include "picture/image_limits.h"

namespace quorvex {

class TBitmap;

// Raises EReadError "Stream read error" when `claimedBytes` of pixel data
// cannot come from `availableBytes` of file at `mostPerByte` bytes each,
// allowance aside. A picture over the storage cap, at `bitmap`'s layout, is
// left to the cap's own error when its storage is made.
void RequireDataForClaim(const TBitmap& bitmap, uint32_t width, uint32_t height,
                         uint64_t claimedBytes, int64_t availableBytes, uint64_t mostPerByte);

}  // namespace quorvex
