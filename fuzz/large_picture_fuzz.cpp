#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/transform.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/platform/install_platform_graphics.h"
#include "picture/platform/platform_graphics.h"
#include "picture/readers/rla_reader.h"
#include "picture/readers/sgi_reader.h"
#include "picture/readers/tiff_reader.h"
#include "picture/stream.h"

// Loads arbitrary bytes as a picture of every class, with no size cap but
// the storage cap itself: the run's own budgets (-timeout, -rss_limit_mb,
// -malloc_limit_mb; see scripts/fuzz-large) catch a reader that spends far
// more time or memory than a small input warrants. On top, a picture whose
// storage no data of this size could fill fails at once.

namespace {

using namespace quorvex;

// The best case of every bounded code (deflate's 1032 bytes a byte), times
// eight for one-bit data kept a byte a pixel, plus the allowance for data
// that ends early and its working copy.
constexpr uint64_t kMostStoragePerByte = 1032 * 8;
constexpr uint64_t kAllowance = uint64_t{4} << 20;
// Scrambling reads every byte; past this it only slows the search.
constexpr uint64_t kMaxScrambledBytes = uint64_t{16} << 20;

const std::vector<std::string>& Names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> result;
    std::set<const TGraphicClass*> seen;
    for (const auto& record : PictureFormats().Records()) {
      if (seen.insert(record.graphicClass).second) result.push_back("input." + record.extension);
    }
    result.push_back("input.TGA");
    return result;
  }();
  return names;
}

// Codes with no floor per byte: rows that share their data (SGI run-length,
// Alias/Wavefront), fax rows of one bit each, and metafiles, whose frame is
// whatever their header says.
bool HasNoFloor(const TGraphic* graphic) {
  if (dynamic_cast<const TRLAGraphic*>(graphic) || dynamic_cast<const TMetafile*>(graphic)) {
    return true;
  }
  if (const auto* sgi = dynamic_cast<const TSGIGraphic*>(graphic)) {
    return sgi->ImageProperties().compression == CompressionKind::RunLength;
  }
  if (const auto* tiff = dynamic_cast<const TTIFFGraphic*>(graphic)) {
    const CompressionKind kind = tiff->ImageProperties().compression;
    return kind == CompressionKind::CCITTFax3 || kind == CompressionKind::CCITTHuffman ||
           kind == CompressionKind::CCITTWordAligned;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InstallPlatformGraphics();
  FileFormatList();
  Names();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream detection(data, size);
  const bool detected = FileFormatList().DetectReader(detection) != nullptr;
  for (const std::string& name : Names()) {
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    try {
      LoadPictureFromMemory(data, size, name, picture, working);
      const uint64_t storage = working->Stride() * uint64_t(working->ImageHeight());
      if (storage > kAllowance + size * kMostStoragePerByte && !HasNoFloor(picture.Graphic())) {
        __builtin_trap();  // a claim no data of this size backs
      }
      if (storage <= kMaxScrambledBytes) {
        TBitmap scrambled;
        EncryptTransform(*working, "614052", scrambled);
      }
    } catch (const Exception&) {
    }
    if (detected) break;  // a reader takes it whatever the name
  }
  return 0;
}
