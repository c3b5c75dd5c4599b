#include "picture/readers/claimed_size.h"

#include "picture/bitmap.h"
#include "picture/exceptions.h"

namespace quorvex {

void RequireDataForClaim(const TBitmap& bitmap, uint32_t width, uint32_t height,
                         uint64_t claimedBytes, int64_t availableBytes, uint64_t mostPerByte) {
  if (width == 0 || height == 0) return;
  const uint64_t stride = RowStride(width, bitmap.BitsPerPixel());
  if (SaturatingProduct({stride, height}) > kMaxStorageBytes) return;  // over the cap
  const uint64_t available = availableBytes > 0 ? static_cast<uint64_t>(availableBytes) : 0;
  const uint64_t unbacked =
      claimedBytes > kShortDataAllowance ? claimedBytes - kShortDataAllowance : 0;
  // Divided rather than multiplied: no overflow for any ratio.
  if ((unbacked + mostPerByte - 1) / mostPerByte > available) throw EReadError(kStreamReadError);
}

}  // namespace quorvex
