#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "picture/bitmap.h"
#include "picture/byte_input.h"
#include "picture/canvas.h"
#include "picture/exceptions.h"
#include "picture/platform/emf_converter.h"
#include "picture/platform/platform_graphics.h"
#include "picture/platform/qt_raster.h"
#include "picture/platform/wmf_player.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

[[noreturn]] void InvalidMetafile() {
  throw EInvalidGraphic(kMetafileNotValid);
}

// Far more records than any drawing program writes; the libraries walk
// all of them several times over.
constexpr uint64_t kMaxRecords = uint64_t{1} << 22;

// Pictures that metafiles carry, counted together: as many pixels as the
// largest bitmap a picture may have.
constexpr uint64_t kMaxPicturePixels = kMaxStorageBytes / 4;

// A drawing may cover its picture this many times over (each shape charged
// with the area it can reach), plus a fixed amount for small pictures of
// many shapes; real pictures stay far below, repeated full-size shapes do
// not.
constexpr uint64_t kOverdrawAllowed = 16;
constexpr uint64_t kBaseDrawingBudget = uint64_t{1} << 24;

// Whether a picture of this size fits the storage cap as the Bits24 bitmap
// that it is drawn onto.
bool FitsStorage(int64_t width, int64_t height) {
  return width > 0 && height > 0 &&
         RowStride(static_cast<uint64_t>(width), 24) * static_cast<uint64_t>(height) <=
             kMaxStorageBytes;
}

// The converted document with everything that could reach outside it gone.
std::vector<uint8_t> Contained(const std::string& svg) {
  const auto contained = platform::ContainedSvg(svg, kMaxPicturePixels);
  if (!contained || !platform::SvgIsValid(*contained)) InvalidMetafile();
  return {contained->begin(), contained->end()};
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  PutU16(out, static_cast<uint16_t>(v));
  PutU16(out, static_cast<uint16_t>(v >> 16));
}

int32_t PixelCount(double value) {
  const double rounded = std::round(value);
  if (!(rounded >= 1)) return 1;
  if (rounded >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(rounded);
}

// ---- Windows metafiles ----------------------------------------------------

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableSize = 22;
constexpr size_t kWmfHeaderSize = 18;

enum WmfFunction : uint16_t {
  kEof = 0x0000,
  kSaveDC = 0x001E,
  kSetMapMode = 0x0103,
  kRestoreDC = 0x0127,
  kSelectObject = 0x012D,
  kSetWindowOrg = 0x020B,
  kSetWindowExt = 0x020C,
  kSetViewportOrg = 0x020D,
  kSetViewportExt = 0x020E,
  kOffsetWindowOrg = 0x020F,
  kOffsetViewportOrg = 0x0211,
  kCreatePenIndirect = 0x02FA,
  kCreateBrushIndirect = 0x02FC,
  kScaleWindowExt = 0x0410,
  kScaleViewportExt = 0x0412,
  kRectangle = 0x041B,
};

enum MapMode : uint16_t {
  kText = 1,
  kLoMetric = 2,
  kHiMetric = 3,
  kLoEnglish = 4,
  kHiEnglish = 5,
  kTwips = 6,
  kIsotropic = 7,
  kAnisotropic = 8,
};

// Records that set up the coordinate system; the picture's frame is the
// window they establish before anything is drawn.
bool IsMappingRecord(uint16_t function) {
  switch (function) {
    case kSaveDC:
    case kRestoreDC:
    case kSetMapMode:
    case kSetWindowOrg:
    case kSetWindowExt:
    case kSetViewportOrg:
    case kSetViewportExt:
    case kOffsetWindowOrg:
    case kOffsetViewportOrg:
    case kScaleWindowExt:
    case kScaleViewportExt:
      return true;
    default:
      return false;
  }
}

// Records that change state without drawing.
bool IsStateRecord(uint16_t function) {
  switch (function) {
    case 0x0035:  // RealizePalette
    case 0x0037:  // SetPalEntries
    case 0x00F7:  // CreatePalette
    case 0x0102:  // SetBkMode
    case 0x0104:  // SetROP2
    case 0x0105:  // SetRelAbs
    case 0x0106:  // SetPolyFillMode
    case 0x0107:  // SetStretchBltMode
    case 0x0108:  // SetTextCharExtra
    case 0x012C:  // SelectClipRegion
    case kSelectObject:
    case 0x012E:  // SetTextAlign
    case 0x0139:  // ResizePalette
    case 0x0142:  // DIBCreatePatternBrush
    case 0x01F0:  // DeleteObject
    case 0x01F9:  // CreatePatternBrush
    case 0x0201:  // SetBkColor
    case 0x0209:  // SetTextColor
    case 0x020A:  // SetTextJustification
    case 0x0214:  // MoveTo
    case 0x0220:  // OffsetClipRgn
    case 0x0231:  // SetMapperFlags
    case 0x0234:  // SelectPalette
    case kCreatePenIndirect:
    case 0x02FB:  // CreateFontIndirect
    case kCreateBrushIndirect:
    case 0x0415:  // ExcludeClipRect
    case 0x0416:  // IntersectClipRect
    case 0x0436:  // AnimatePalette
    case 0x0626:  // Escape
    case 0x06FF:  // CreateRegion
      return true;
    default:
      return IsMappingRecord(function);
  }
}

void PutRecord(std::vector<uint8_t>& out, uint16_t function,
               std::initializer_list<int16_t> params) {
  PutU32(out, static_cast<uint32_t>(3 + params.size()));
  PutU16(out, function);
  for (int16_t p : params) PutU16(out, static_cast<uint16_t>(p));
}

struct WmfFacts {
  bool placeable = false;
  int16_t left = 0, top = 0, right = 0, bottom = 0;
  uint16_t inch = 0;
  size_t header = 0;             // offset of the standard header
  size_t recordsEnd = 0;         // end of the end-of-file record
  uint32_t largestRecord = 3;    // in 16-bit words
  std::vector<uint8_t> prefix;   // set-up records a player supplies
  std::vector<uint8_t> mapping;  // the file's own set-up before its first drawing
  // The coordinate system in force at the first drawing.
  uint16_t mapMode = kText;
  bool fileSetsWindow = false;
  double orgX = 0, orgY = 0, extX = 0, extY = 0;
};

WmfFacts ParseWmf(const std::vector<uint8_t>& bytes) {
  WmfFacts facts;
  const uint8_t* file = bytes.data();
  const size_t size = bytes.size();
  TByteReader placeable(bytes.data(), std::min(size, kPlaceableSize));
  if (size >= kPlaceableSize && placeable.U32LE() == kPlaceableKey) {
    facts.placeable = true;
    placeable.Skip(2);  // handle
    facts.left = placeable.I16LE();
    facts.top = placeable.I16LE();
    facts.right = placeable.I16LE();
    facts.bottom = placeable.I16LE();
    facts.inch = placeable.U16LE();
    if (facts.inch == 0 || facts.left == facts.right || facts.top == facts.bottom) {
      InvalidMetafile();
    }
    facts.header = kPlaceableSize;
  }
  if (size < facts.header + kWmfHeaderSize) InvalidMetafile();
  TByteReader header(bytes.data() + facts.header, kWmfHeaderSize);
  const uint16_t fileType = header.U16LE();
  if ((fileType != 1 && fileType != 2) || header.U16LE() != 9) InvalidMetafile();

  if (facts.placeable) {
    // A placeable picture is played with its bounding box as the window of
    // an anisotropic mapping; the file's own records may change both.
    facts.mapMode = kAnisotropic;
    facts.orgX = facts.left;
    facts.orgY = facts.top;
    facts.extX = facts.right - facts.left;
    facts.extY = facts.bottom - facts.top;
    PutRecord(facts.prefix, kSetMapMode, {static_cast<int16_t>(kAnisotropic)});
    // A box wider than a record can state keeps the default window; the
    // frame is learnt from the library either way.
    if (std::abs(facts.extX) <= INT16_MAX && std::abs(facts.extY) <= INT16_MAX) {
      PutRecord(facts.prefix, kSetWindowOrg, {facts.top, facts.left});
      PutRecord(facts.prefix, kSetWindowExt,
                {static_cast<int16_t>(facts.extY), static_cast<int16_t>(facts.extX)});
    }
  }

  size_t pos = facts.header + kWmfHeaderSize;
  bool drawn = false;
  for (uint64_t count = 0;; ++count) {
    if (size - pos < 6 || count > kMaxRecords) InvalidMetafile();
    const uint64_t words = LoadU32LE(file + pos);
    const uint16_t function = LoadU16LE(file + pos + 4);
    if (words < 3 || words * 2 > size - pos) InvalidMetafile();
    const size_t length = static_cast<size_t>(words * 2);
    facts.largestRecord = std::max(facts.largestRecord, static_cast<uint32_t>(words));
    if (function == kEof) {
      facts.recordsEnd = pos + length;
      break;
    }
    if (!drawn && IsMappingRecord(function)) {
      facts.mapping.insert(facts.mapping.end(), file + pos, file + pos + length);
      const uint8_t* p = file + pos + 6;
      const size_t params = (length - 6) / 2;
      if (function == kSetMapMode && params >= 1) {
        facts.mapMode = LoadU16LE(p);
      } else if (function == kSetWindowOrg && params >= 2) {
        facts.orgY = LoadI16LE(p);
        facts.orgX = LoadI16LE(p + 2);
      } else if (function == kSetWindowExt && params >= 2) {
        facts.extY = LoadI16LE(p);
        facts.extX = LoadI16LE(p + 2);
        facts.fileSetsWindow = true;
      } else if (function == kOffsetWindowOrg && params >= 2) {
        facts.orgY += LoadI16LE(p);
        facts.orgX += LoadI16LE(p + 2);
      } else if (function == kScaleWindowExt && params >= 4 && LoadI16LE(p) != 0 &&
                 LoadI16LE(p + 4) != 0) {
        facts.extY = facts.extY * LoadI16LE(p + 2) / LoadI16LE(p);
        facts.extX = facts.extX * LoadI16LE(p + 6) / LoadI16LE(p + 4);
      }
    } else if (!IsStateRecord(function)) {
      drawn = true;
    }
    pos += length;
  }
  if (!facts.placeable && facts.fileSetsWindow &&
      (facts.mapMode == kIsotropic || facts.mapMode == kAnisotropic)) {
    // Window extents set before the mode would otherwise be played with
    // pens of the wrong width.
    PutRecord(facts.prefix, kSetMapMode, {static_cast<int16_t>(facts.mapMode)});
  }
  return facts;
}

// The metafile with the given records after its header and before its own.
std::vector<uint8_t> BuildWmf(const std::vector<uint8_t>& bytes, const WmfFacts& facts,
                              const std::vector<uint8_t>& added, const uint8_t* records,
                              size_t recordsLength, uint16_t objects) {
  std::vector<uint8_t> out(bytes.begin(),
                           bytes.begin() + static_cast<ptrdiff_t>(facts.header + kWmfHeaderSize));
  uint8_t* header = out.data() + facts.header;
  const uint64_t words = (kWmfHeaderSize + added.size() + recordsLength) / 2;
  StoreU32LE(header + 6, static_cast<uint32_t>(std::min<uint64_t>(words, UINT32_MAX)));
  if (objects > LoadU16LE(header + 10)) {
    header[10] = static_cast<uint8_t>(objects);
    header[11] = static_cast<uint8_t>(objects >> 8);
  }
  // The largest record as it really is: the added ones count too.
  constexpr uint32_t kLargestAdded = 8;
  StoreU32LE(header + 12, std::max(facts.largestRecord, kLargestAdded));
  out.insert(out.end(), added.begin(), added.end());
  out.insert(out.end(), records, records + recordsLength);
  return out;
}

// Where the library puts logical coordinates: device = scale * logical +
// offset on each axis, learnt from two boxes the library scans under the
// picture's own set-up. The scan widens boxes by the same margin on every
// side; two boxes of different sizes cancel it.
struct AxisMap {
  double scale = 1;
  double offset = 0;
};

std::optional<std::pair<AxisMap, AxisMap>> LearnMapping(const std::vector<uint8_t>& bytes,
                                                        const WmfFacts& facts) {
  constexpr int16_t kSide = 1000;
  std::optional<platform::DeviceRect> boxes[2];
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> records = facts.prefix;
    records.insert(records.end(), facts.mapping.begin(), facts.mapping.end());
    PutRecord(records, kCreatePenIndirect, {5, 0, 0, 0, 0});  // null pen
    PutRecord(records, kSelectObject, {0});
    PutRecord(records, kCreateBrushIndirect, {1, 0, 0, 0});  // hollow brush
    PutRecord(records, kSelectObject, {1});
    const int16_t side = static_cast<int16_t>(kSide * (i + 1));
    PutRecord(records, kRectangle, {side, side, 0, 0});
    PutRecord(records, kEof, {});
    boxes[i] = platform::ScanWmf(BuildWmf(bytes, facts, {}, records.data(), records.size(), 2));
    if (!boxes[i]) return std::nullopt;
  }
  auto solve = [&](double min1, double max1, double min2, double max2) -> std::optional<AxisMap> {
    const double magnitude = ((max2 - min2) - (max1 - min1)) / kSide;
    if (!(magnitude > 0) || !std::isfinite(magnitude)) return std::nullopt;
    const double margin = ((max1 - min1) - magnitude * kSide) / 2;
    // Both boxes start at logical 0: on the side where they line up.
    if (std::abs(min1 - min2) <= std::abs(max1 - max2)) return AxisMap{magnitude, min1 + margin};
    return AxisMap{-magnitude, max1 - margin};
  };
  const auto x = solve(boxes[0]->left, boxes[0]->right, boxes[1]->left, boxes[1]->right);
  const auto y = solve(boxes[0]->top, boxes[0]->bottom, boxes[1]->top, boxes[1]->bottom);
  if (!x || !y) return std::nullopt;
  return std::make_pair(*x, *y);
}

double UnitsPerInch(uint16_t mapMode) {
  switch (mapMode) {
    case kLoMetric:
      return 254;
    case kHiMetric:
      return 2540;
    case kLoEnglish:
      return 100;
    case kHiEnglish:
      return 1000;
    case kTwips:
    case kIsotropic:
    case kAnisotropic:
      // Without a placeable header nothing tells the size of a logical
      // unit; twips are the common choice of the programs that write them.
      return 1440;
    default:
      return TMetafile::kScreenDpi;  // device pixels
  }
}

struct Prepared {
  std::vector<uint8_t> playable;
  TMetafile::DeviceFrame frame;
  int32_t width = 0;
  int32_t height = 0;
};

Prepared PrepareWmf(const std::vector<uint8_t>& bytes) {
  const WmfFacts facts = ParseWmf(bytes);
  const size_t recordsStart = facts.header + kWmfHeaderSize;

  // The logical frame: the window the picture sets up where a window means
  // something (the isotropic and anisotropic modes), else the bounding box.
  const bool windowCounts = facts.fileSetsWindow && facts.extX != 0 && facts.extY != 0 &&
                            (facts.mapMode == kIsotropic || facts.mapMode == kAnisotropic);
  std::optional<platform::DeviceRect> logical;
  if (windowCounts) {
    logical = platform::DeviceRect{std::min(facts.orgX, facts.orgX + facts.extX),
                                   std::min(facts.orgY, facts.orgY + facts.extY),
                                   std::max(facts.orgX, facts.orgX + facts.extX),
                                   std::max(facts.orgY, facts.orgY + facts.extY)};
  } else if (facts.placeable) {
    logical = platform::DeviceRect{static_cast<double>(std::min(facts.left, facts.right)),
                                   static_cast<double>(std::min(facts.top, facts.bottom)),
                                   static_cast<double>(std::max(facts.left, facts.right)),
                                   static_cast<double>(std::max(facts.top, facts.bottom))};
  }
  const auto mapping = LearnMapping(bytes, facts);
  const double perUnit = TMetafile::kScreenDpi / UnitsPerInch(facts.mapMode);

  Prepared prepared;
  auto layout = [&](const platform::DeviceRect& drawn) -> std::optional<platform::SvgLayout> {
    if (logical && mapping) {
      const double x1 = mapping->first.scale * logical->left + mapping->first.offset;
      const double x2 = mapping->first.scale * logical->right + mapping->first.offset;
      const double y1 = mapping->second.scale * logical->top + mapping->second.offset;
      const double y2 = mapping->second.scale * logical->bottom + mapping->second.offset;
      prepared.frame = {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    } else {
      // Nothing says where the picture lies: it is what it draws.
      prepared.frame = {drawn.left, drawn.top, drawn.right, drawn.bottom};
    }
    if (!(prepared.frame.right > prepared.frame.left) ||
        !(prepared.frame.bottom > prepared.frame.top)) {
      return std::nullopt;
    }
    if (facts.placeable) {
      const double scale = TMetafile::kScreenDpi / facts.inch;
      prepared.width = PixelCount(std::abs(facts.right - facts.left) * scale);
      prepared.height = PixelCount(std::abs(facts.bottom - facts.top) * scale);
    } else if (windowCounts) {
      prepared.width = PixelCount((logical->right - logical->left) * perUnit);
      prepared.height = PixelCount((logical->bottom - logical->top) * perUnit);
    } else if (mapping) {
      // What it draws, measured in its own logical units.
      prepared.width =
          PixelCount((drawn.right - drawn.left) / std::abs(mapping->first.scale) * perUnit);
      prepared.height =
          PixelCount((drawn.bottom - drawn.top) / std::abs(mapping->second.scale) * perUnit);
    } else {
      prepared.width = PixelCount(drawn.right - drawn.left);
      prepared.height = PixelCount(drawn.bottom - drawn.top);
    }
    if (!FitsStorage(prepared.width, prepared.height)) return std::nullopt;
    // The document's user unit is a pixel of the reported size.
    return platform::SvgLayout{
        {prepared.frame.left, prepared.frame.top, prepared.frame.right, prepared.frame.bottom},
        static_cast<uint32_t>(prepared.width),
        static_cast<uint32_t>(prepared.height)};
  };
  const auto svg =
      platform::ConvertWmfToSvg(BuildWmf(bytes, facts, facts.prefix, bytes.data() + recordsStart,
                                         facts.recordsEnd - recordsStart, 0),
                                layout);
  if (!svg) {
    if (const auto missing = platform::WmfLibraryProblem()) {
      throw EInvalidGraphicOperation(*missing);
    }
    InvalidMetafile();
  }
  prepared.playable = Contained(*svg);
  prepared.frame = {0, 0, static_cast<double>(prepared.width),
                    static_cast<double>(prepared.height)};
  return prepared;
}

// ---- Enhanced metafiles ---------------------------------------------------

constexpr uint32_t kEmfHeaderType = 1;
constexpr uint32_t kEmfEof = 14;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr size_t kEmfMinHeader = 88;
constexpr size_t kEmfHeaderWithMicrometers = 108;

bool LooksEnhanced(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= kEmfMinHeader && LoadU32LE(bytes.data()) == kEmfHeaderType &&
         LoadU32LE(bytes.data() + 40) == kEmfSignature;
}

Prepared PrepareEmf(const std::vector<uint8_t>& bytes) {
  const uint8_t* file = bytes.data();
  const size_t size = bytes.size();
  const uint32_t headerSize = LoadU32LE(file + 4);
  if (headerSize < kEmfMinHeader || headerSize % 4 != 0 || headerSize > size) InvalidMetafile();
  size_t pos = headerSize;
  size_t end = 0;
  for (uint64_t count = 0; end == 0; ++count) {
    if (size - pos < 8 || count > kMaxRecords) InvalidMetafile();
    const uint32_t type = LoadU32LE(file + pos);
    const uint32_t length = LoadU32LE(file + pos + 4);
    if (length < 8 || length % 4 != 0 || length > size - pos) InvalidMetafile();
    pos += length;
    if (type == kEmfEof) end = pos;
  }

  // Device pixels per 0.01 mm of the reference device that recorded it.
  auto devicePerHmm = [&](size_t deviceAt, size_t millimetresAt, size_t micrometresAt) {
    const int32_t device = LoadI32LE(file + deviceAt);
    if (device > 0 && headerSize >= kEmfHeaderWithMicrometers &&
        LoadI32LE(file + micrometresAt) > 0) {
      return device / (LoadI32LE(file + micrometresAt) / 10.0);
    }
    if (device > 0 && LoadI32LE(file + millimetresAt) > 0) {
      return device / (LoadI32LE(file + millimetresAt) * 100.0);
    }
    return TMetafile::kScreenDpi / 2540.0;
  };
  const double scaleX = devicePerHmm(72, 80, 100);
  const double scaleY = devicePerHmm(76, 84, 104);
  const int64_t bounds[4] = {LoadI32LE(file + 8), LoadI32LE(file + 12), LoadI32LE(file + 16),
                             LoadI32LE(file + 20)};
  const int64_t frame[4] = {LoadI32LE(file + 24), LoadI32LE(file + 28), LoadI32LE(file + 32),
                            LoadI32LE(file + 36)};

  Prepared prepared;
  TMetafile::DeviceFrame device;
  constexpr double kPixelsPerHmm = TMetafile::kScreenDpi / 2540.0;
  if (frame[2] > frame[0] && frame[3] > frame[1]) {
    device = {frame[0] * scaleX, frame[1] * scaleY, frame[2] * scaleX, frame[3] * scaleY};
    prepared.width = PixelCount((frame[2] - frame[0]) * kPixelsPerHmm);
    prepared.height = PixelCount((frame[3] - frame[1]) * kPixelsPerHmm);
  } else if (bounds[2] >= bounds[0] && bounds[3] >= bounds[1]) {
    // The bounds are inclusive device pixels of the reference device.
    device = {static_cast<double>(bounds[0]), static_cast<double>(bounds[1]),
              static_cast<double>(bounds[2] + 1), static_cast<double>(bounds[3] + 1)};
    prepared.width = PixelCount((device.right - device.left) / scaleX * kPixelsPerHmm);
    prepared.height = PixelCount((device.bottom - device.top) / scaleY * kPixelsPerHmm);
  } else {
    InvalidMetafile();
  }
  if (!FitsStorage(prepared.width, prepared.height)) InvalidMetafile();

  // The converter maps the header's bounds onto its document; bounds around
  // the frame, rounded outwards, keep the frame's exact place known.
  const double limit = std::numeric_limits<int32_t>::max();
  const double left = std::floor(device.left);
  const double top = std::floor(device.top);
  const double right = std::max(std::ceil(device.right), left + 1);
  const double bottom = std::max(std::ceil(device.bottom), top + 1);
  if (!(std::abs(left) < limit && std::abs(top) < limit && std::abs(right) < limit &&
        std::abs(bottom) < limit)) {
    InvalidMetafile();
  }
  std::vector<uint8_t> emf(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(end));
  StoreU32LE(emf.data() + 8, static_cast<uint32_t>(static_cast<int32_t>(left)));
  StoreU32LE(emf.data() + 12, static_cast<uint32_t>(static_cast<int32_t>(top)));
  StoreU32LE(emf.data() + 16, static_cast<uint32_t>(static_cast<int32_t>(right)));
  StoreU32LE(emf.data() + 20, static_cast<uint32_t>(static_cast<int32_t>(bottom)));
  // The converter reads the description where the header says, and up to a
  // terminator when its length is 0; one that does not lie inside the header
  // record is dropped (offset 0 with length 0 stops at the record's type).
  const uint64_t descriptionLength = LoadU32LE(file + 60);
  const uint64_t descriptionAt = LoadU32LE(file + 64);
  if (descriptionLength == 0 || descriptionAt < kEmfMinHeader ||
      descriptionAt + 2 * descriptionLength > headerSize) {
    StoreU32LE(emf.data() + 60, 0);
    StoreU32LE(emf.data() + 64, 0);
  }

  const auto converted = platform::ConvertEmfToSvg(emf);
  if (!converted) InvalidMetafile();
  const std::string& document = *converted;

  prepared.playable = Contained(document);
  // The document's origin is the bounds' corner, its unit a device pixel.
  prepared.frame = {device.left - left, device.top - top, device.right - left, device.bottom - top};
  return prepared;
}

// Other layouts take the picture through a raster of a few rows at a time.
platform::RenderOutcome DrawInBands(const std::string& svg, const platform::SvgWindow& window,
                                    platform::WorkBudget& budget, TCanvas& canvas, int32_t left,
                                    int32_t top) {
  constexpr int64_t kBandPixels = int64_t{1} << 20;
  const int32_t bandRows =
      static_cast<int32_t>(std::clamp<int64_t>(kBandPixels / window.width, 1, window.height));
  platform::Raster raster;
  for (int32_t done = 0; done < window.height; done += bandRows) {
    platform::SvgWindow band = window;
    band.offsetY = window.offsetY + done;
    band.height = std::min(bandRows, window.height - done);
    const auto outcome = platform::RenderSvg(svg, band, budget, raster);
    if (outcome != platform::RenderOutcome::Drawn) return outcome;
    canvas.PaintRaster({left, top + done, left + band.width, top + done + band.height},
                       raster.bgra.data(), raster.width, raster.height,
                       static_cast<size_t>(raster.width) * 4);
  }
  return platform::RenderOutcome::Drawn;
}

}  // namespace

void TMetafile::TakeFrom(const TPersistent* source) {
  if (source == nullptr) {
    *this = TMetafile();
    return;
  }
  if (const auto* metafile = dynamic_cast<const TMetafile*>(source)) {
    if (metafile != this) *this = *metafile;
    return;
  }
  TGraphic::TakeFrom(source);
}

void TMetafile::SetImageWidth(int32_t width) {
  if (width > 0 && !IsEmpty()) width_ = width;
}

void TMetafile::SetImageHeight(int32_t height) {
  if (height > 0 && !IsEmpty()) height_ = height;
}

void TMetafile::ReadFromStream(TStream& stream) {
  const int64_t remaining = stream.Remaining();
  if (static_cast<uint64_t>(remaining) > kMaxStorageBytes) throw EOutOfResources(kOutOfResources);
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(remaining, 0)));
  stream.ReadBuffer(bytes.data(), bytes.size());
  const bool enhanced = LooksEnhanced(bytes);
  Prepared prepared = enhanced ? PrepareEmf(bytes) : PrepareWmf(bytes);
  bytes_ = std::move(bytes);
  enhanced_ = enhanced;
  width_ = prepared.width;
  height_ = prepared.height;
  playable_ = std::move(prepared.playable);
  frame_ = prepared.frame;
}

void TMetafile::WriteToStream(TStream& stream) const {
  if (!bytes_.empty()) stream.WriteBuffer(bytes_.data(), bytes_.size());
}

void TMetafile::DrawInto(TCanvas& canvas, const TRect& rect) const {
  if (IsEmpty() || rect.Width() <= 0 || rect.Height() <= 0) return;
  // Only the part of the rectangle on the bitmap is rendered.
  TBitmap& target = canvas.Target();
  const int32_t left = std::max(rect.left, 0);
  const int32_t top = std::max(rect.top, 0);
  const int32_t right = std::min(rect.right, target.ImageWidth());
  const int32_t bottom = std::min(rect.bottom, target.ImageHeight());
  if (right <= left || bottom <= top) return;

  platform::SvgWindow window;
  window.viewX = frame_.left;
  window.viewY = frame_.top;
  window.viewWidth = frame_.right - frame_.left;
  window.viewHeight = frame_.bottom - frame_.top;
  window.targetWidth = rect.Width();
  window.targetHeight = rect.Height();
  window.offsetX = left - rect.left;
  window.offsetY = top - rect.top;
  window.width = right - left;
  window.height = bottom - top;
  const uint64_t visible =
      static_cast<uint64_t>(window.width) * static_cast<uint64_t>(window.height);
  platform::WorkBudget budget{visible * kOverdrawAllowed + kBaseDrawingBudget};
  const std::string svg(playable_.begin(), playable_.end());
  platform::RenderOutcome outcome;
  if (target.Layout() == PixelLayout::Bits24) {
    // Straight onto the bitmap's own rows: no second copy of the picture.
    const int32_t height = target.ImageHeight();
    uint8_t* first = target.RowAddress(0);
    const ptrdiff_t step =
        height > 1 ? target.RowAddress(1) - first : static_cast<ptrdiff_t>(target.Stride());
    outcome = platform::PaintSvg(svg, window, budget, {first, step, target.ImageWidth(), height},
                                 left, top);
  } else {
    outcome = DrawInBands(svg, window, budget, canvas, left, top);
  }
  if (outcome != platform::RenderOutcome::Drawn) InvalidMetafile();
}

}  // namespace quorvex
