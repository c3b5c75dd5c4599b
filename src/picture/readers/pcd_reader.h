#pragma once

// Kodak Photo-CD image packs (PCD): the base image.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "picture/reader_graphic.h"

namespace quorvex {

class TFileFormatList;
class TStream;

// Where the parts of an image pack lie, from the start of the file.
struct TPCDLayout {
  // The content test reads this much and wants more bytes than it.
  static constexpr int64_t kTestSize = 6144;
  // The image pack's information sector, which begins with "PCD_IPI".
  static constexpr int64_t kInfoOffset = 0x800;
  // The orientation byte (low 2 bits: quarter turns counter-clockwise).
  static constexpr int64_t kOrientationOffset = 0x0E02;
  // The base image: 768 x 512 as scanned, stored as pairs of rows.
  static constexpr int64_t kBaseOffset = 0x30000;
  static constexpr int32_t kBaseWidth = 768;
  static constexpr int32_t kBaseHeight = 512;
  // Two luma rows, then one row each of the two chroma samples at half
  // resolution in both directions.
  static constexpr size_t kRowPairSize = 2 * kBaseWidth + kBaseWidth;
  static constexpr int64_t kBaseSize = int64_t{kRowPairSize} * (kBaseHeight / 2);
};

// What the image pack's information sector says, up to the orientation.
struct TPCDInfo {
  static constexpr size_t kSize = TPCDLayout::kOrientationOffset - TPCDLayout::kInfoOffset + 1;

  bool imagePack = false;  // begins with "PCD_IPI"
  uint8_t orientation = 0;

  // From the first kSize bytes of the sector; fewer raise EReadError.
  static TPCDInfo Parse(std::span<const uint8_t> bytes);
  // Quarter turns counter-clockwise that make the scan upright.
  int Turns() const { return orientation & 3; }
};

// Reads the base image of a Photo-CD image pack into Bits24 (Photo YCC
// turned to RGB by Kodak's formula), turned upright by the pack's
// orientation (512 x 768 for portrait scans).
class TPCDGraphic : public TReaderGraphic {
 public:
  std::string ClassName() const override { return "TPCDGraphic"; }
  std::string FormatName() const override { return "PCD"; }

  static bool AcceptsStream(TStream& stream);
  bool ReadHeaderInfo(TStream& stream, int imageIndex) override;

 protected:
  void Decode(TStream& stream, int64_t start, bool headerUsable) override;

 private:
  void ReadBase(TStream& stream, std::vector<uint8_t>& scan);
  void TurnInto(const std::vector<uint8_t>& scan);

  TPCDInfo info_;
};

// Registers pcd.
void RegisterPCDFormats(TFileFormatList& list);

}  // namespace quorvex
