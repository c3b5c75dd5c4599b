#include "picture/readers/pcd_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

[[noreturn]] void Invalid() {
  throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, "PCD"));
}

constexpr int32_t kWidth = TPCDLayout::kBaseWidth;
constexpr int32_t kHeight = TPCDLayout::kBaseHeight;

// Quarter turns counter-clockwise that make the scan upright.
int Turns(uint8_t orientation) {
  return orientation & 3;
}

// Photo YCC to RGB, in 16.16 fixed point: luma is stored scaled by 1 / 1.3584
// to leave room for highlights, and the chroma samples are offset by 156
// (C1, blue) and 137 (C2, red).
struct TPhotoYCCTables {
  int32_t luma[256];
  int32_t redFromC2[256];
  int32_t greenFromC1[256];
  int32_t greenFromC2[256];
  int32_t blueFromC1[256];
};

const TPhotoYCCTables& PhotoYCCTables() {
  static const TPhotoYCCTables tables = [] {
    TPhotoYCCTables t{};
    auto fixed = [](double v) { return static_cast<int32_t>(std::lround(v * 65536.0)); };
    for (int i = 0; i < 256; ++i) {
      t.luma[i] = fixed(1.3584 * i) + 32768;  // rounding for the final shift
      t.redFromC2[i] = fixed(1.8215 * (i - 137));
      t.greenFromC1[i] = fixed(-0.4303 * (i - 156));
      t.greenFromC2[i] = fixed(-0.9271 * (i - 137));
      t.blueFromC1[i] = fixed(2.2179 * (i - 156));
    }
    return t;
  }();
  return tables;
}

uint8_t ToByte(int32_t fixed) {
  return static_cast<uint8_t>(std::clamp(fixed >> 16, 0, 255));
}

}  // namespace

bool TPCDGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= TPCDLayout::kTestSize) return false;
  uint8_t head[TPCDLayout::kInfoOffset + 3];
  stream.ReadBuffer(head, sizeof head);
  stream.Seek(start);
  return std::memcmp(head, "PCD_OPA", 7) == 0 ||
         std::memcmp(head + TPCDLayout::kInfoOffset, "PCD", 3) == 0;
}

bool TPCDGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  const int64_t base = stream.Position();
  // Overview packs ("PCD_OPA") hold thumbnails only and no base image.
  if (imageIndex != 0 || stream.Size() - base < TPCDLayout::kBaseOffset + TPCDLayout::kBaseSize) {
    return false;
  }
  uint8_t info[TPCDLayout::kOrientationOffset - TPCDLayout::kInfoOffset + 1];
  stream.Seek(base + TPCDLayout::kInfoOffset);
  stream.ReadBuffer(info, sizeof info);
  if (std::memcmp(info, "PCD_IPI", 7) != 0) return false;
  const bool upright = Turns(info[sizeof info - 1]) % 2 == 0;
  TImageProperties& p = properties_;
  p.width = upright ? kWidth : kHeight;
  p.height = upright ? kHeight : kWidth;
  p.colorScheme = ColorScheme::PhotoYCC;
  p.bitsPerSample = 8;
  p.samplesPerPixel = 3;
  p.bitsPerPixel = 24;
  p.compression = CompressionKind::NoCompression;
  return true;
}

void TPCDGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  const int64_t base = stream.Position();
  if (!ReadHeaderInfo(stream, 0)) Invalid();
  stream.Seek(base + TPCDLayout::kOrientationOffset);
  uint8_t orientation = 0;
  stream.ReadBuffer(&orientation, 1);
  const int turns = Turns(orientation);

  const TPhotoYCCTables& tables = PhotoYCCTables();
  // The scan as stored, blue, green, red; turned into the bitmap at the end.
  std::vector<uint8_t> pair(TPCDLayout::kRowPairSize);
  std::vector<uint8_t> scan(turns == 0 ? 0 : size_t{kWidth} * kHeight * 3);

  SetLayout(PixelLayout::Bits24);
  SetImageWidth(properties_.width);
  SetImageHeight(properties_.height);

  stream.Seek(base + TPCDLayout::kBaseOffset);
  for (int32_t y = 0; y < kHeight; y += 2) {
    stream.ReadBuffer(pair.data(), pair.size());
    const uint8_t* blueChroma = pair.data() + 2 * kWidth;
    const uint8_t* redChroma = blueChroma + kWidth / 2;
    for (int32_t row = 0; row < 2; ++row) {
      const uint8_t* luma = pair.data() + row * kWidth;
      uint8_t* out = turns == 0 ? RowAddress(y + row) : scan.data() + size_t(y + row) * kWidth * 3;
      // Each chroma sample serves a 2 x 2 block of pixels.
      for (int32_t x = 0; x < kWidth; ++x) {
        const int32_t l = tables.luma[luma[x]];
        const uint8_t c1 = blueChroma[x / 2];
        const uint8_t c2 = redChroma[x / 2];
        out[0] = ToByte(l + tables.blueFromC1[c1]);
        out[1] = ToByte(l + tables.greenFromC1[c1] + tables.greenFromC2[c2]);
        out[2] = ToByte(l + tables.redFromC2[c2]);
        out += 3;
      }
    }
  }
  if (turns == 0) return;

  // out(x', y') takes the stored pixel that the turn brings there.
  const int32_t outWidth = properties_.width;
  const int32_t outHeight = properties_.height;
  for (int32_t yo = 0; yo < outHeight; ++yo) {
    uint8_t* row = RowAddress(yo);
    for (int32_t xo = 0; xo < outWidth; ++xo) {
      int32_t x = 0;
      int32_t y = 0;
      switch (turns) {
        case 1:  // a quarter turn counter-clockwise
          x = kWidth - 1 - yo;
          y = xo;
          break;
        case 2:
          x = kWidth - 1 - xo;
          y = kHeight - 1 - yo;
          break;
        default:  // a quarter turn clockwise
          x = yo;
          y = kHeight - 1 - xo;
          break;
      }
      std::memcpy(row + size_t(xo) * 3, scan.data() + (size_t(y) * kWidth + x) * 3, 3);
    }
  }
}

void RegisterPCDFormats(TFileFormatList& list) {
  list.AddFormat("pcd", "Kodak Photo-CD images", "Kodak Photo-CD images", false,
                 ClassOf<TPCDGraphic>());
}

}  // namespace quorvex
