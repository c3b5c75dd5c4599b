#include "picture/readers/ppm_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "picture/color_manager.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
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

// Bytes taken from the stream a block at a time.
class TPPMByteReader {
 public:
  explicit TPPMByteReader(TStream& stream) : stream_(stream) {}

  // The next byte; the data ending here fails.
  uint8_t Next() {
    if (index_ == filled_ && !Refill()) FailShort();
    return buffer_[index_++];
  }

  // Whether the data ends before the next byte.
  bool AtEnd() { return index_ == filled_ && !Refill(); }

  // Exactly `count` bytes; a big request goes past the buffer to the stream.
  void ReadBytes(uint8_t* target, size_t count) {
    const size_t buffered = std::min(count, filled_ - index_);
    std::memcpy(target, buffer_.data() + index_, buffered);
    index_ += buffered;
    target += buffered;
    count -= buffered;
    if (count == 0) return;
    if (count >= kBlockSize) {
      if (stream_.Read(target, count) != count) FailShort();
      return;
    }
    if (!Refill() || filled_ < count) FailShort();
    std::memcpy(target, buffer_.data(), count);
    index_ = count;
  }

  // Bytes still to come, buffered or not.
  uint64_t Available() const {
    return (filled_ - index_) + static_cast<uint64_t>(std::max<int64_t>(stream_.Remaining(), 0));
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
      const uint8_t c = buffer_[index_++];
      if (!IsDigit(c)) break;
      value = value * 10 + (c - '0');
      big = big || value > 0xFFFFFFFFu;
    }
    return value;
  }

 private:
  static constexpr size_t kBlockSize = 4096;

  bool Refill() {
    filled_ = stream_.Read(buffer_.data(), kBlockSize);
    index_ = 0;
    return filled_ != 0;
  }

  TStream& stream_;
  std::array<uint8_t, kBlockSize> buffer_{};
  size_t index_ = 0;
  size_t filled_ = 0;
};

uint32_t ReadHeaderNumber(TPPMByteReader& reader) {
  bool big = false;
  const uint64_t value = reader.ReadNumber(big);
  if (big || value > kLargestHeaderNumber) FailInvalid();
  return static_cast<uint32_t>(value);
}

// Reads the magic and, for the types that have them, the header numbers.
// False when the data does not start with "P". The numbers may follow the
// magic on its own line; the binary data starts right after the character
// that ends the last one.
bool ParseHeader(TPPMByteReader& reader, TPPMHeader& header) {
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

// Samples of a maximum above 255 scaled to 0..255, rounded; values above the
// maximum count as the maximum.
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
  TPPMByteReader reader(stream);
  TPPMHeader h;
  if (!ParseHeader(reader, h)) return false;
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

void TPPMGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  const int64_t base = stream.Position();
  if (!ReadHeaderInfo(stream, 0)) FailInvalid();
  stream.Seek(base);
  TPPMByteReader reader(stream);
  TPPMHeader h;
  ParseHeader(reader, h);
  if (!h.HasPicture()) return;
  if (h.width == 0 || h.height == 0 || h.maximum > kLargestMaximum) FailInvalid();

  const uint64_t width = h.width;
  const uint64_t height = h.height;
  const uint64_t samplesPerRow = width * (h.Color() ? 3 : 1);
  const uint64_t sampleBytes = h.Wide() ? 2 : 1;
  // The shortest data that could fill the picture: a bilevel text pixel is
  // one digit, other text samples a digit and a separator (the last one may
  // end the file); binary rows are whole bytes. Checked before the bitmap
  // exists, so a few header bytes cannot claim a large one.
  uint64_t needed = UINT64_MAX;
  if (width * height <= (uint64_t{1} << 40)) {
    switch (h.type) {
      case 1:
        needed = width * height;
        break;
      case 4:
        needed = (width + 7) / 8 * height;
        break;
      case 2:
      case 3:
        needed = samplesPerRow * height * 2 - 1;
        break;
      default:
        needed = samplesPerRow * sampleBytes * height;
        break;
    }
  }
  if (reader.Available() < needed) FailShort();

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
  SetImageWidth(static_cast<int32_t>(h.width));
  SetImageHeight(static_cast<int32_t>(h.height));

  const int32_t rows = static_cast<int32_t>(h.height);
  const size_t rowSamples = static_cast<size_t>(samplesPerRow);
  std::vector<uint8_t> scale;
  if (h.Wide()) scale = ScaleTable(h.maximum);

  switch (h.type) {
    case 1: {
      const size_t rowBytes = static_cast<size_t>((width + 7) / 8);
      for (int32_t y = 0; y < rows; ++y) {
        uint8_t* row = RowAddress(y);
        std::memset(row, 0, rowBytes);
        // Each digit is one pixel, whether or not separators stand between.
        for (size_t x = 0; x < rowSamples; ++x) {
          if (reader.SkipToDigit() & 1) row[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
        }
      }
      break;
    }
    case 2:
    case 3: {
      std::vector<uint8_t> line(rowSamples);
      for (int32_t y = 0; y < rows; ++y) {
        for (size_t i = 0; i < rowSamples; ++i) {
          bool big = false;
          const uint64_t value = reader.ReadNumber(big);
          line[i] = h.Wide() ? Scaled(scale, value, big) : static_cast<uint8_t>(value);
        }
        cm.ConvertPixels(line.data(), static_cast<uint32_t>(h.width), 0xFF, RowAddress(y));
      }
      break;
    }
    case 4: {
      const size_t rowBytes = static_cast<size_t>((width + 7) / 8);
      for (int32_t y = 0; y < rows; ++y) reader.ReadBytes(RowAddress(y), rowBytes);
      break;
    }
    default: {
      const size_t rowBytes = rowSamples * static_cast<size_t>(sampleBytes);
      std::vector<uint8_t> stored(rowBytes);
      std::vector<uint8_t> line(h.Wide() ? rowSamples : 0);
      for (int32_t y = 0; y < rows; ++y) {
        uint8_t* row = RowAddress(y);
        if (h.type == 5 && !h.Wide()) {
          reader.ReadBytes(row, rowBytes);
          continue;
        }
        reader.ReadBytes(stored.data(), rowBytes);
        const uint8_t* samplesOfRow = stored.data();
        if (h.Wide()) {
          const uint8_t* in = stored.data();
          for (size_t i = 0; i < rowSamples; ++i, in += 2) {
            line[i] = Scaled(scale, (uint32_t{in[0]} << 8) | in[1], false);
          }
          samplesOfRow = line.data();
        }
        cm.ConvertPixels(samplesOfRow, static_cast<uint32_t>(h.width), 0xFF, row);
      }
      break;
    }
  }
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
