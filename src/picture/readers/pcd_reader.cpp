#include "picture/readers/pcd_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

#include "picture/byte_input.h"
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

// Two rows of the base image from a stored pair: two luma rows, then the
// half-resolution chroma rows; each chroma sample serves 2 x 2 pixels.
void ConvertRowPair(std::span<const uint8_t> pair, std::span<uint8_t> top,
                    std::span<uint8_t> bottom) {
  const TPhotoYCCTables& tables = PhotoYCCTables();
  const std::span<const uint8_t> blueChroma = pair.subspan(2 * kWidth, kWidth / 2);
  const std::span<const uint8_t> redChroma = pair.subspan(2 * kWidth + kWidth / 2, kWidth / 2);
  for (int32_t row = 0; row < 2; ++row) {
    const std::span<const uint8_t> luma = pair.subspan(size_t(row) * kWidth, kWidth);
    uint8_t* out = (row == 0 ? top : bottom).first(size_t{kWidth} * 3).data();
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

TPCDInfo TPCDInfo::Parse(std::span<const uint8_t> bytes) {
  if (bytes.size() < kSize) throw EReadError(kStreamReadError);
  TByteReader in(bytes);
  TPCDInfo info;
  const auto magic = in.Bytes(7);
  info.imagePack = std::equal(magic.begin(), magic.end(), "PCD_IPI");
  in.Seek(kSize - 1);
  info.orientation = in.U8();
  return info;
}

bool TPCDGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  info_ = TPCDInfo{};
  const int64_t base = stream.Position();
  // Overview packs ("PCD_OPA") hold thumbnails only and no base image.
  if (imageIndex != 0 || stream.Size() - base < TPCDLayout::kBaseOffset + TPCDLayout::kBaseSize) {
    return false;
  }
  std::array<uint8_t, TPCDInfo::kSize> sector;
  stream.Seek(base + TPCDLayout::kInfoOffset);
  stream.ReadBuffer(sector.data(), sector.size());
  info_ = TPCDInfo::Parse(sector);
  if (!info_.imagePack) return false;
  const bool upright = info_.Turns() % 2 == 0;
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

void TPCDGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  if (!headerUsable) Invalid();
  // The scan as stored, blue, green, red; turned into the bitmap at the end.
  std::vector<uint8_t> scan(info_.Turns() == 0 ? 0 : size_t{kWidth} * kHeight * 3);
  SetLayout(PixelLayout::Bits24);
  SetImageWidth(properties_.width);
  SetImageHeight(properties_.height);
  stream.Seek(start + TPCDLayout::kBaseOffset);
  ReadBase(stream, scan);
  if (info_.Turns() != 0) TurnInto(scan);
}

void TPCDGraphic::ReadBase(TStream& stream, std::vector<uint8_t>& scan) {
  const size_t scanRow = size_t{kWidth} * 3;
  auto rowOf = [&](int32_t y) {
    return scan.empty() ? RowBytes(y)
                        : std::span<uint8_t>(scan).subspan(size_t(y) * scanRow, scanRow);
  };
  std::vector<uint8_t> pair(TPCDLayout::kRowPairSize);
  for (int32_t y = 0; y < kHeight; y += 2) {
    stream.ReadBuffer(pair.data(), pair.size());
    ConvertRowPair(pair, rowOf(y), rowOf(y + 1));
  }
}

void TPCDGraphic::TurnInto(const std::vector<uint8_t>& scan) {
  // out(x', y') takes the stored pixel that the turn brings there.
  const int turns = info_.Turns();
  const int32_t outWidth = properties_.width;
  const int32_t outHeight = properties_.height;
  for (int32_t yo = 0; yo < outHeight; ++yo) {
    uint8_t* row = RowBytes(yo).first(size_t(outWidth) * 3).data();
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
