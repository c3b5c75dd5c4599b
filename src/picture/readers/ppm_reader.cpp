#include "picture/readers/ppm_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "picture/byte_input.h"
#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/image_limits.h"
#include "picture/readers/reader_messages.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr const char* kFormatName = "PBM, PGM or PPM";
constexpr const char* kReadErrorInFile = "Stream read error in %s file.";
constexpr const char* kShortName = "PPM";
constexpr const char* kNotAnInteger = "'%s' is not a valid integer value";

// Header numbers beyond this are no picture size anyone can hold.
constexpr uint64_t kLargestHeaderNumber = 0x7FFFFFFF;
constexpr uint32_t kLargestMaximum = 65535;

[[noreturn]] void FailInvalid() {
  throw EInvalidGraphic(FormatMessage(kInvalidImageFormat, kFormatName));
}

[[noreturn]] void FailShort() {
  throw EInvalidGraphic(FormatMessage(kReadErrorInFile, kShortName));
}

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// The bytes of a portable map through the buffered input, the data ending
// where a byte is needed failing as a short file. Text is read through a
// cursor over the input's buffer, so a character costs no call.
class TPPMInput {
 public:
  explicit TPPMInput(TStream& stream) : input_(stream) {}

  // The next byte; the data ending here fails.
  uint8_t Next() {
    if (next_ == end_ && !Fill()) FailShort();
    return *next_++;
  }

  // Whether the data ends before the next byte.
  bool AtEnd() { return next_ == end_ && !Fill(); }

  // Exactly target.size() bytes.
  void ReadBytes(std::span<uint8_t> target) {
    Sync();
    const size_t got = input_.ReadSome(target);
    Reload();
    if (got != target.size()) FailShort();
  }

  // Bytes still to come, buffered or not.
  uint64_t Available() {
    Sync();
    return static_cast<uint64_t>(input_.Remaining());
  }

  // Leaves the stream just after the bytes used.
  void Finish() {
    Sync();
    input_.SyncStream();
    Reload();
  }

  // Skips to the next digit and returns it; a "#" met on the way starts a
  // comment that runs to the end of its line.
  uint8_t SkipToDigit() {
    for (;;) {
      uint8_t c = Next();
      if (IsDigit(c)) return c;
      if (c == '#') {
        do {
          c = Next();
        } while (c != '\r' && c != '\n');
      }
    }
  }

  // The next decimal number, and the one character after it. A number that
  // the data's end closes is complete. `big` tells whether it went past
  // 32 bits; the value then keeps its low bits only.
  uint64_t ReadNumber(bool& big) {
    uint64_t value = SkipToDigit() - '0';
    big = false;
    while (!AtEnd()) {
      const uint8_t c = *next_++;
      if (!IsDigit(c)) break;
      value = value * 10 + (c - '0');
      big = big || value > 0xFFFFFFFFu;
    }
    return value;
  }

 private:
  // Hands the bytes passed over back to the input.
  void Sync() {
    input_.Consume(static_cast<size_t>(next_ - begin_));
    begin_ = next_;
  }
  void Reload() {
    const std::span<const uint8_t> buffered = input_.Buffered();
    begin_ = next_ = buffered.data();
    end_ = buffered.data() + buffered.size();
  }
  bool Fill() {
    Sync();
    const bool more = input_.Refill();
    Reload();
    return more;
  }

  TBufferedInput input_;
  const uint8_t* begin_ = nullptr;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
};

uint32_t ReadHeaderNumber(TPPMInput& reader) {
  bool big = false;
  const uint64_t value = reader.ReadNumber(big);
  if (big || value > kLargestHeaderNumber) FailInvalid();
  return static_cast<uint32_t>(value);
}

// Reads the magic and, for the types that have them, the header numbers.
// False when the data does not start with "P". The numbers may follow the
// magic on its own line; the binary data starts right after the character
// that ends the last one.
bool ParseHeader(TPPMInput& reader, TPPMHeader& header) {
  if (reader.Next() != 'P') return false;
  const uint8_t type = reader.Next();
  if (!IsDigit(type)) {
    // A line that ends (or a comment that starts) right after "P" has no
    // second character.
    const bool lineEnds = type == '\r' || type == '\n' || type == '#';
    const std::string text = lineEnds ? std::string() : std::string(1, static_cast<char>(type));
    throw EConvertError(FormatMessage(kNotAnInteger, text.c_str()));
  }
  header = TPPMHeader{};
  header.type = type - '0';
  if (!header.HasPicture()) return true;
  header.width = ReadHeaderNumber(reader);
  header.height = ReadHeaderNumber(reader);
  if (!header.Bilevel()) header.maximum = ReadHeaderNumber(reader);
  return true;
}

// Samples of another maximum than 255 scaled to 0..255, rounded to the
// nearest; values above the maximum count as the maximum.
std::vector<uint8_t> ScaleTable(uint32_t maximum) {
  std::vector<uint8_t> table(size_t{maximum} + 1);
  for (uint32_t v = 0; v <= maximum; ++v) {
    table[v] = static_cast<uint8_t>((uint64_t{v} * 255 + maximum / 2) / maximum);
  }
  return table;
}

uint8_t Scaled(const std::vector<uint8_t>& table, uint64_t value, bool big) {
  return big || value >= table.size() ? 255 : table[value];
}

size_t RowSamples(const TPPMHeader& h) {
  return size_t{h.width} * (h.Color() ? 3 : 1);
}

size_t BitRowBytes(const TPPMHeader& h) {
  return (size_t{h.width} + 7) / 8;
}

// The shortest data that could fill the picture: a bilevel text pixel is
// one digit, other text samples a digit and a separator (the last one may
// end the file); binary rows are whole bytes.
uint64_t ShortestData(const TPPMHeader& h) {
  switch (h.type) {
    case 1:
      return SaturatingProduct({h.width, h.height});
    case 4:
      return SaturatingProduct({BitRowBytes(h), h.height});
    case 2:
    case 3:
      return SaturatingProduct({RowSamples(h), h.height, 2}) - 1;
    default:
      return SaturatingProduct({RowSamples(h), h.Wide() ? 2u : 1u, h.height});
  }
}

// P1: each digit is one pixel, whether or not separators stand between.
void ReadTextBits(TPPMInput& reader, const TPPMHeader& h, TBitmap& bitmap) {
  for (uint32_t y = 0; y < h.height; ++y) {
    const std::span<uint8_t> row = bitmap.RowBytes(static_cast<int32_t>(y)).first(BitRowBytes(h));
    std::fill(row.begin(), row.end(), uint8_t{0});
    for (size_t x = 0; x < h.width; ++x) {
      if (reader.SkipToDigit() & 1) row[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
    }
  }
}

// P2 and P3: decimal samples.
void ReadTextSamples(TPPMInput& reader, const TPPMHeader& h, TReaderGraphic& bitmap) {
  std::vector<uint8_t> scale;
  if (h.Rescaled()) scale = ScaleTable(h.maximum);
  std::vector<uint8_t> line(RowSamples(h));
  for (uint32_t y = 0; y < h.height; ++y) {
    for (uint8_t& sample : line) {
      bool big = false;
      const uint64_t value = reader.ReadNumber(big);
      sample = h.Rescaled() ? Scaled(scale, value, big) : static_cast<uint8_t>(value);
    }
    bitmap.ColorManager().ConvertPixels(line.data(), h.width, 0xFF,
                                        bitmap.RowBytes(static_cast<int32_t>(y)));
  }
}

// P5 and P6: bytes, or big-endian words above a maximum of 255.
void ReadBinarySamples(TPPMInput& reader, const TPPMHeader& h, TReaderGraphic& bitmap) {
  std::vector<uint8_t> scale;
  if (h.Rescaled()) scale = ScaleTable(h.maximum);
  const size_t rowSamples = RowSamples(h);
  std::vector<uint8_t> stored(rowSamples * (h.Wide() ? 2 : 1));
  std::vector<uint8_t> line(h.Rescaled() ? rowSamples : 0);
  for (uint32_t y = 0; y < h.height; ++y) {
    const std::span<uint8_t> row = bitmap.RowBytes(static_cast<int32_t>(y));
    if (h.type == 5 && !h.Rescaled()) {
      reader.ReadBytes(row.first(stored.size()));
      continue;
    }
    reader.ReadBytes(stored);
    const uint8_t* samplesOfRow = stored.data();
    if (h.Wide()) {
      for (size_t i = 0; i < line.size(); ++i) {
        line[i] = Scaled(scale, LoadU16BE(&stored[2 * i]), false);
      }
      samplesOfRow = line.data();
    } else if (h.Rescaled()) {
      for (size_t i = 0; i < line.size(); ++i) line[i] = Scaled(scale, stored[i], false);
      samplesOfRow = line.data();
    }
    bitmap.ColorManager().ConvertPixels(samplesOfRow, h.width, 0xFF, row);
  }
}

}  // namespace

bool TPPMGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= 10) return false;
  uint8_t magic[2];
  stream.ReadBuffer(magic, sizeof magic);
  stream.Seek(start);
  return magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6';
}

bool TPPMGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  TPPMInput reader(stream);
  header_ = TPPMHeader{};
  const bool isMap = ParseHeader(reader, header_);
  reader.Finish();
  if (!isMap) return false;
  const TPPMHeader& h = header_;
  if (!h.HasPicture()) return true;
  TImageProperties& p = properties_;
  const uint8_t bits = h.Bilevel() ? 1 : (h.Wide() ? 16 : 8);
  const uint8_t samples = h.Color() ? 3 : 1;
  p.colorScheme = h.Color() ? ColorScheme::RGB : ColorScheme::Indexed;
  p.bitsPerSample = bits;
  p.samplesPerPixel = samples;
  p.bitsPerPixel = static_cast<uint8_t>(bits * samples);
  p.width = static_cast<int32_t>(h.width);
  p.height = static_cast<int32_t>(h.height);
  p.compression = CompressionKind::NoCompression;
  return true;
}

void TPPMGraphic::Decode(TStream& stream, int64_t, bool headerUsable) {
  if (!headerUsable) FailInvalid();
  const TPPMHeader& h = header_;
  if (!h.HasPicture()) return;
  if (h.width == 0 || h.height == 0 || h.maximum == 0 || h.maximum > kLargestMaximum) {
    FailInvalid();
  }
  TPPMInput reader(stream);
  // Checked before the bitmap exists, so a few header bytes cannot claim a
  // large one.
  if (reader.Available() < ShortestData(h)) FailShort();
  SetUpConverter();
  SetImageWidth(static_cast<int32_t>(h.width));
  SetImageHeight(static_cast<int32_t>(h.height));
  switch (h.type) {
    case 1:
      ReadTextBits(reader, h, *this);
      break;
    case 2:
    case 3:
      ReadTextSamples(reader, h, *this);
      break;
    case 4:
      for (uint32_t y = 0; y < h.height; ++y) {
        reader.ReadBytes(RowBytes(static_cast<int32_t>(y)).first(BitRowBytes(h)));
      }
      break;
    default:
      ReadBinarySamples(reader, h, *this);
      break;
  }
}

void TPPMGraphic::SetUpConverter() {
  const TPPMHeader& h = header_;
  TColorManager& cm = ColorManager();
  cm.SetSourceOptions({});
  cm.SetTargetOptions({});
  const int bits = h.Bilevel() ? 1 : 8;
  const int samples = h.Color() ? 3 : 1;
  cm.SetSourceColorScheme(h.Color() ? ColorScheme::RGB : ColorScheme::Indexed);
  cm.SetTargetColorScheme(h.Color() ? ColorScheme::BGR : ColorScheme::Indexed);
  cm.SetSourceBitsPerSample(bits);
  cm.SetTargetBitsPerSample(bits);
  cm.SetSourceSamplesPerPixel(samples);
  cm.SetTargetSamplesPerPixel(samples);
  SetLayout(cm.TargetLayout());
  if (!h.Color()) ApplyPalette(cm.MakeGrayPalette(h.Bilevel()));
}

void RegisterPPMFormats(TFileFormatList& list) {
  const TGraphicClass& ppm = ClassOf<TPPMGraphic>();
  list.AddFormat("ppm", "Portable map images", "Portable pixel map images", false, ppm);
  list.AddFormat("pgm", "", "Portable gray map images", false, ppm);
  list.AddFormat("pbm", "", "Portable bitmap images", false, ppm);
}

std::string TPPMGraphic::FormatName() const {
  return kFormatName;
}

}  // namespace quorvex
