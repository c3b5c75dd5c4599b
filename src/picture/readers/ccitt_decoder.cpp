#include "picture/readers/ccitt_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>
#include <vector>

#include "picture/byte_input.h"

namespace quorvex {

namespace {

// A code of the run-length tables: its bits (right-aligned), its length and
// the run it stands for.
struct TFaxCode {
  uint16_t bits;
  uint8_t length;
  uint16_t run;
};

// Terminating codes 0-63 and make-up codes 64-1728 for white runs.
constexpr TFaxCode kWhiteCodes[] = {
    {0x35, 8, 0},    {0x07, 6, 1},    {0x07, 4, 2},    {0x08, 4, 3},    {0x0B, 4, 4},
    {0x0C, 4, 5},    {0x0E, 4, 6},    {0x0F, 4, 7},    {0x13, 5, 8},    {0x14, 5, 9},
    {0x07, 5, 10},   {0x08, 5, 11},   {0x08, 6, 12},   {0x03, 6, 13},   {0x34, 6, 14},
    {0x35, 6, 15},   {0x2A, 6, 16},   {0x2B, 6, 17},   {0x27, 7, 18},   {0x0C, 7, 19},
    {0x08, 7, 20},   {0x17, 7, 21},   {0x03, 7, 22},   {0x04, 7, 23},   {0x28, 7, 24},
    {0x2B, 7, 25},   {0x13, 7, 26},   {0x24, 7, 27},   {0x18, 7, 28},   {0x02, 8, 29},
    {0x03, 8, 30},   {0x1A, 8, 31},   {0x1B, 8, 32},   {0x12, 8, 33},   {0x13, 8, 34},
    {0x14, 8, 35},   {0x15, 8, 36},   {0x16, 8, 37},   {0x17, 8, 38},   {0x28, 8, 39},
    {0x29, 8, 40},   {0x2A, 8, 41},   {0x2B, 8, 42},   {0x2C, 8, 43},   {0x2D, 8, 44},
    {0x04, 8, 45},   {0x05, 8, 46},   {0x0A, 8, 47},   {0x0B, 8, 48},   {0x52, 8, 49},
    {0x53, 8, 50},   {0x54, 8, 51},   {0x55, 8, 52},   {0x24, 8, 53},   {0x25, 8, 54},
    {0x58, 8, 55},   {0x59, 8, 56},   {0x5A, 8, 57},   {0x5B, 8, 58},   {0x4A, 8, 59},
    {0x4B, 8, 60},   {0x32, 8, 61},   {0x33, 8, 62},   {0x34, 8, 63},   {0x1B, 5, 64},
    {0x12, 5, 128},  {0x17, 6, 192},  {0x37, 7, 256},  {0x36, 8, 320},  {0x37, 8, 384},
    {0x64, 8, 448},  {0x65, 8, 512},  {0x68, 8, 576},  {0x67, 8, 640},  {0xCC, 9, 704},
    {0xCD, 9, 768},  {0xD2, 9, 832},  {0xD3, 9, 896},  {0xD4, 9, 960},  {0xD5, 9, 1024},
    {0xD6, 9, 1088}, {0xD7, 9, 1152}, {0xD8, 9, 1216}, {0xD9, 9, 1280}, {0xDA, 9, 1344},
    {0xDB, 9, 1408}, {0x98, 9, 1472}, {0x99, 9, 1536}, {0x9A, 9, 1600}, {0x18, 6, 1664},
    {0x9B, 9, 1728},
};

// Terminating codes 0-63 and make-up codes 64-1728 for black runs.
constexpr TFaxCode kBlackCodes[] = {
    {0x37, 10, 0},    {0x02, 3, 1},     {0x03, 2, 2},     {0x02, 2, 3},     {0x03, 3, 4},
    {0x03, 4, 5},     {0x02, 4, 6},     {0x03, 5, 7},     {0x05, 6, 8},     {0x04, 6, 9},
    {0x04, 7, 10},    {0x05, 7, 11},    {0x07, 7, 12},    {0x04, 8, 13},    {0x07, 8, 14},
    {0x18, 9, 15},    {0x17, 10, 16},   {0x18, 10, 17},   {0x08, 10, 18},   {0x67, 11, 19},
    {0x68, 11, 20},   {0x6C, 11, 21},   {0x37, 11, 22},   {0x28, 11, 23},   {0x17, 11, 24},
    {0x18, 11, 25},   {0xCA, 12, 26},   {0xCB, 12, 27},   {0xCC, 12, 28},   {0xCD, 12, 29},
    {0x68, 12, 30},   {0x69, 12, 31},   {0x6A, 12, 32},   {0x6B, 12, 33},   {0xD2, 12, 34},
    {0xD3, 12, 35},   {0xD4, 12, 36},   {0xD5, 12, 37},   {0xD6, 12, 38},   {0xD7, 12, 39},
    {0x6C, 12, 40},   {0x6D, 12, 41},   {0xDA, 12, 42},   {0xDB, 12, 43},   {0x54, 12, 44},
    {0x55, 12, 45},   {0x56, 12, 46},   {0x57, 12, 47},   {0x64, 12, 48},   {0x65, 12, 49},
    {0x52, 12, 50},   {0x53, 12, 51},   {0x24, 12, 52},   {0x37, 12, 53},   {0x38, 12, 54},
    {0x27, 12, 55},   {0x28, 12, 56},   {0x58, 12, 57},   {0x59, 12, 58},   {0x2B, 12, 59},
    {0x2C, 12, 60},   {0x5A, 12, 61},   {0x66, 12, 62},   {0x67, 12, 63},   {0x0F, 10, 64},
    {0xC8, 12, 128},  {0xC9, 12, 192},  {0x5B, 12, 256},  {0x33, 12, 320},  {0x34, 12, 384},
    {0x35, 12, 448},  {0x6C, 13, 512},  {0x6D, 13, 576},  {0x4A, 13, 640},  {0x4B, 13, 704},
    {0x4C, 13, 768},  {0x4D, 13, 832},  {0x72, 13, 896},  {0x73, 13, 960},  {0x74, 13, 1024},
    {0x75, 13, 1088}, {0x76, 13, 1152}, {0x77, 13, 1216}, {0x52, 13, 1280}, {0x53, 13, 1344},
    {0x54, 13, 1408}, {0x55, 13, 1472}, {0x5A, 13, 1536}, {0x5B, 13, 1600}, {0x64, 13, 1664},
    {0x65, 13, 1728},
};

// Make-up codes 1792-2560, shared by both colours.
constexpr TFaxCode kExtendedCodes[] = {
    {0x08, 11, 1792}, {0x0C, 11, 1856}, {0x0D, 11, 1920}, {0x12, 12, 1984}, {0x13, 12, 2048},
    {0x14, 12, 2112}, {0x15, 12, 2176}, {0x16, 12, 2240}, {0x17, 12, 2304}, {0x1C, 12, 2368},
    {0x1D, 12, 2432}, {0x1E, 12, 2496}, {0x1F, 12, 2560},
};

// Every code is at most 13 bits long, so one look-up of the next 13 bits
// decides it.
constexpr int kLookupBits = 13;

enum class TCodeKind : uint8_t { Invalid, Run, EndOfLine };

struct TLookupEntry {
  uint16_t run = 0;
  uint8_t length = 0;
  TCodeKind kind = TCodeKind::Invalid;
};

using TLookupTable = std::array<TLookupEntry, 1u << kLookupBits>;

void AddCodes(TLookupTable& table, const TFaxCode* codes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const TFaxCode& code = codes[i];
    const uint32_t first = uint32_t{code.bits} << (kLookupBits - code.length);
    const uint32_t span = 1u << (kLookupBits - code.length);
    for (uint32_t index = first; index < first + span; ++index) {
      table[index] = {code.run, code.length, TCodeKind::Run};
    }
  }
}

TLookupTable BuildTable(const TFaxCode* codes, size_t count) {
  TLookupTable table{};
  AddCodes(table, codes, count);
  AddCodes(table, kExtendedCodes, std::size(kExtendedCodes));
  // Eleven zeros begin an end-of-line code, whatever fill precedes its 1.
  for (uint32_t index = 0; index < (1u << (kLookupBits - 11)); ++index) {
    table[index] = {0, 11, TCodeKind::EndOfLine};
  }
  return table;
}

const TLookupTable& WhiteTable() {
  static const TLookupTable table = BuildTable(kWhiteCodes, std::size(kWhiteCodes));
  return table;
}

const TLookupTable& BlackTable() {
  static const TLookupTable table = BuildTable(kBlackCodes, std::size(kBlackCodes));
  return table;
}

const std::array<uint8_t, 256>& ReversedBytes() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
      int reversed = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if (i & (1 << bit)) reversed |= 0x80 >> bit;
      }
      t[i] = static_cast<uint8_t>(reversed);
    }
    return t;
  }();
  return table;
}

// Most significant bit first reader over one strip; bits past the end read
// as zeros but are never counted as available.
class TBitReader {
 public:
  TBitReader(std::span<const uint8_t> source, bool reverseBits)
      : source_(source), reverse_(reverseBits ? ReversedBytes().data() : nullptr) {}

  void Fill() {
    if (count_ > 56) return;
    if (reverse_ == nullptr && position_ + 8 <= source_.size()) {
      // Whole bytes up to 56..63 bits; the bits loaded past those are the
      // data's own next bits, which the next load ORs in again unchanged.
      acc_ |= LoadU64BE(source_.subspan(position_, 8).data()) >> count_;
      position_ += static_cast<size_t>((63 - count_) >> 3);
      count_ |= 56;
      return;
    }
    while (count_ <= 56 && position_ < source_.size()) {
      uint8_t byte = source_[position_++];
      if (reverse_ != nullptr) byte = reverse_[byte];
      acc_ |= uint64_t{byte} << (56 - count_);
      count_ += 8;
    }
  }

  int Available() const { return count_; }
  bool Exhausted() const { return count_ == 0 && position_ >= source_.size(); }
  uint32_t Peek(int bits) const { return static_cast<uint32_t>(acc_ >> (64 - bits)); }
  void Consume(int bits) {
    acc_ = bits >= 64 ? 0 : acc_ << bits;
    count_ -= bits;
  }
  // Bits consumed so far from the strip start.
  size_t BitPosition() const { return position_ * 8 - static_cast<size_t>(count_); }

  // Skips the rest of the current byte, and for `even` also a whole byte
  // when that byte lies at an odd offset.
  void AlignToByte(bool even) {
    Consume(count_ % 8);
    if (even && (BitPosition() / 8) % 2 == 1) SkipByte();
  }
  void SkipByte() {
    Fill();
    Consume(std::min(count_, 8));
  }

  // Reads 0 bits up to and including the next 1 bit; false when the data
  // ends first.
  bool SkipPastOne() {
    for (;;) {
      Fill();
      if (count_ == 0) return false;
      const int zeros = std::min(std::countl_zero(acc_), count_);
      if (zeros < count_) {
        Consume(zeros + 1);
        return true;
      }
      Consume(zeros);
    }
  }

  // Finds eleven 0 bits in a row and then reads past the 1 bit that ends
  // them; false when the data ends first.
  bool SkipToEndOfLine() {
    int zeros = 0;
    for (;;) {
      Fill();
      if (count_ == 0) return false;
      if (acc_ >> 63) {
        const int ones = std::min(std::countl_one(acc_), count_);
        Consume(ones);
        zeros = 0;
        continue;
      }
      const int run = std::min(std::countl_zero(acc_), count_);
      Consume(run);
      zeros += run;
      if (zeros >= 11) return SkipPastOne();
    }
  }

 private:
  std::span<const uint8_t> source_;
  const uint8_t* reverse_;
  size_t position_ = 0;
  uint64_t acc_ = 0;
  int count_ = 0;
};

// Sets bits [from, to) of a row, most significant bit first.
[[gnu::always_inline]] inline void SetBits(uint8_t* row, uint32_t from, uint32_t to) {
  if (from >= to) return;
  uint32_t firstByte = from >> 3;
  const uint32_t lastByte = (to - 1) >> 3;
  const uint8_t headMask = static_cast<uint8_t>(0xFFu >> (from & 7));
  const uint8_t tailMask = static_cast<uint8_t>(0xFFu << (7 - ((to - 1) & 7)));
  if (firstByte == lastByte) {
    row[firstByte] |= headMask & tailMask;
    return;
  }
  row[firstByte++] |= headMask;
  if (lastByte > firstByte) std::memset(row + firstByte, 0xFF, lastByte - firstByte);
  row[lastByte] |= tailMask;
}

enum class TRowEnd { Width, EndOfLine, Invalid, OutOfData };

// Reads one run of a colour: make-up codes, then its terminating code. An
// end-of-line code met instead is consumed. `Width` means a run was read.
[[gnu::always_inline]] inline TRowEnd ReadRun(TBitReader& reader, bool isWhite, uint32_t width,
                                              uint32_t& run) {
  const TLookupTable& table = isWhite ? WhiteTable() : BlackTable();
  run = 0;
  for (;;) {
    reader.Fill();
    if (reader.Available() == 0) return TRowEnd::OutOfData;
    const TLookupEntry& entry = table[reader.Peek(kLookupBits)];
    if (entry.kind == TCodeKind::EndOfLine) {
      if (reader.Available() < 12) return TRowEnd::OutOfData;
      return reader.SkipPastOne() ? TRowEnd::EndOfLine : TRowEnd::OutOfData;
    }
    if (entry.kind == TCodeKind::Invalid) return TRowEnd::Invalid;
    if (entry.length > reader.Available()) return TRowEnd::OutOfData;
    reader.Consume(entry.length);
    // Runs past the width are cut there anyway; saturating keeps a long
    // chain of make-up codes from overflowing.
    run = std::min<uint32_t>(run + entry.run, width);
    if (entry.run < 64) return TRowEnd::Width;
  }
}

// One row being written: paints black spans within the target's part of
// the row and, when asked, notes where the colour changes (for the next
// two-dimensional row).
class TRowWriter {
 public:
  TRowWriter(uint8_t* row, uint32_t width, uint64_t rowLimitBits, std::vector<uint32_t>* changes)
      : row_(row),
        width_(width),
        paintLimit_(static_cast<uint32_t>(std::min<uint64_t>(width, rowLimitBits))),
        changes_(changes) {}

  // Colours [from, to).
  [[gnu::always_inline]] void Paint(uint32_t from, uint32_t to, bool isWhite) {
    if (!isWhite) SetBits(row_, std::min(from, paintLimit_), std::min(to, paintLimit_));
  }
  // Colours [from, to) and ends the span there: the colour changes at `to`.
  [[gnu::always_inline]] void Span(uint32_t from, uint32_t to, bool isWhite) {
    Paint(from, to, isWhite);
    if (changes_ != nullptr && to < width_) changes_->push_back(to);
  }

 private:
  uint8_t* row_;
  uint32_t width_;
  uint32_t paintLimit_;
  std::vector<uint32_t>* changes_;
};

// Decodes one row of alternating white and black runs, white first.
TRowEnd DecodeRow(TBitReader& reader, TRowWriter& writer, uint32_t width) {
  uint32_t x = 0;
  bool isWhite = true;
  while (x < width) {
    uint32_t run = 0;
    const TRowEnd end = ReadRun(reader, isWhite, width, run);
    if (end != TRowEnd::Width) return end;
    const uint32_t to = width - x < run ? width : x + run;
    writer.Span(x, to, isWhite);
    x = to;
    isWhite = !isWhite;
  }
  return TRowEnd::Width;
}

// Two-dimensional mode codes (at most 7 bits; extensions are not decoded).
enum class TMode : uint8_t { Invalid, Pass, Horizontal, Vertical, EndOfLine };

struct TModeEntry {
  TMode mode = TMode::Invalid;
  int8_t offset = 0;  // of a vertical mode: a1 - b1
  uint8_t length = 0;
};

const std::array<TModeEntry, 128>& ModeTable() {
  static const std::array<TModeEntry, 128> table = [] {
    std::array<TModeEntry, 128> t{};
    auto add = [&t](uint32_t bits, int length, TMode mode, int offset) {
      const uint32_t first = bits << (7 - length);
      for (uint32_t i = first; i < first + (1u << (7 - length)); ++i) {
        t[i] = {mode, static_cast<int8_t>(offset), static_cast<uint8_t>(length)};
      }
    };
    add(0b1, 1, TMode::Vertical, 0);
    add(0b011, 3, TMode::Vertical, 1);
    add(0b010, 3, TMode::Vertical, -1);
    add(0b001, 3, TMode::Horizontal, 0);
    add(0b0001, 4, TMode::Pass, 0);
    add(0b000011, 6, TMode::Vertical, 2);
    add(0b000010, 6, TMode::Vertical, -2);
    add(0b0000011, 7, TMode::Vertical, 3);
    add(0b0000010, 7, TMode::Vertical, -3);
    t[0] = {TMode::EndOfLine, 0, 7};
    return t;
  }();
  return table;
}

// Decodes one row coded against the reference row whose colour changes are
// `reference` (ascending, ended by at least three entries of `width`).
TRowEnd DecodeTwoDimensionalRow(TBitReader& reader, TRowWriter& writer, uint32_t width,
                                const std::vector<uint32_t>& reference) {
  const auto& modes = ModeTable();
  int64_t a0 = -1;  // just before the row, white
  bool isWhite = true;
  // b1 is reference[i]: the first change on the reference row right of a0
  // to the colour opposite a0's (even entries change to black, odd ones to
  // white). Each mode moves i where the next b1 must be or just before it,
  // keeping its parity, so the search only steps forward by pairs. It
  // stays before the last entry, so b2 is always there.
  const size_t last = reference.size() - 2;
  size_t i = 0;
  while (a0 < int64_t{width}) {
    // a0 is left of the width, and so are the changes passed here: the
    // entries of `width` at the end stop the search.
    while (int64_t{reference[i]} <= a0) i += 2;
    const uint32_t b1 = reference[i];
    const uint32_t b2 = reference[i + 1];
    const uint32_t start = a0 < 0 ? 0 : static_cast<uint32_t>(a0);

    reader.Fill();
    if (reader.Available() == 0) return TRowEnd::OutOfData;
    const TModeEntry& entry = modes[reader.Peek(7)];
    if (entry.mode == TMode::EndOfLine) {
      if (reader.Peek(11) != 0) return TRowEnd::Invalid;
      if (reader.Available() < 12) return TRowEnd::OutOfData;
      return reader.SkipPastOne() ? TRowEnd::EndOfLine : TRowEnd::OutOfData;
    }
    if (entry.mode == TMode::Invalid) return TRowEnd::Invalid;
    if (entry.length > reader.Available()) return TRowEnd::OutOfData;
    reader.Consume(entry.length);
    switch (entry.mode) {
      case TMode::Pass:
        // The colour goes on past b2; no change there.
        writer.Paint(start, b2, isWhite);
        a0 = b2;
        i = std::min(i + 2, last);
        break;
      case TMode::Horizontal: {
        uint32_t first = 0;
        uint32_t second = 0;
        TRowEnd end = ReadRun(reader, isWhite, width, first);
        if (end == TRowEnd::Width) end = ReadRun(reader, !isWhite, width, second);
        if (end != TRowEnd::Width) return end;
        const uint32_t a1 = std::min<uint64_t>(uint64_t{start} + first, width);
        const uint32_t a2 = std::min<uint64_t>(uint64_t{a1} + second, width);
        writer.Span(start, a1, isWhite);
        writer.Span(a1, a2, !isWhite);
        a0 = a2;
        break;
      }
      default: {
        const int64_t a1 = int64_t{b1} + entry.offset;
        if (a1 < int64_t{start} || a1 > int64_t{width}) return TRowEnd::Invalid;
        writer.Span(start, static_cast<uint32_t>(a1), isWhite);
        a0 = a1;
        isWhite = !isWhite;
        // Left of b1 the change before it may lie right of a1.
        i = entry.offset < 0 && i > 0 ? i - 1 : std::min(i + 1, last);
        break;
      }
    }
  }
  return TRowEnd::Width;
}

// T4 options bit: rows may be coded two-dimensionally.
constexpr uint32_t kTwoDimensional = 1;

uint64_t RowBytes(uint32_t width) {
  return (uint64_t{width} + 7) / 8;
}

// How many bits of the row starting at `rowStart` the target holds (the
// last row may be cut short).
uint64_t RowLimitBits(uint64_t rowStart, uint64_t rowBytes, size_t targetSize) {
  return std::min<uint64_t>(rowBytes, targetSize - rowStart) * 8;
}

}  // namespace

TCCITTHuffmanDecoder::TCCITTHuffmanDecoder(uint32_t width, bool reverseBits, bool wordAligned)
    : width_(width), reverseBits_(reverseBits), wordAligned_(wordAligned) {}

size_t TCCITTHuffmanDecoder::DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                         size_t targetSize) {
  if (targetSize > 0) std::memset(target, 0, targetSize);
  const uint64_t rowBytes = RowBytes(width_);
  if (rowBytes == 0 || source == nullptr) return 0;
  TBitReader reader({source, sourceSize}, reverseBits_);
  uint64_t rowStart = 0;
  while (rowStart < targetSize) {
    reader.Fill();
    if (reader.Exhausted()) break;
    const size_t rowBegin = reader.BitPosition();
    TRowWriter writer(target + rowStart, width_, RowLimitBits(rowStart, rowBytes, targetSize),
                      nullptr);
    const TRowEnd end = DecodeRow(reader, writer, width_);
    rowStart += rowBytes;
    if (end == TRowEnd::OutOfData) break;
    // Rows of this code start on byte (or even byte) boundaries; a row that
    // read nothing moves on a byte so that garbage cannot stall decoding.
    reader.AlignToByte(wordAligned_);
    if (reader.BitPosition() == rowBegin) reader.SkipByte();
  }
  return static_cast<size_t>(std::min<uint64_t>(rowStart, targetSize));
}

TCCITTFax3Decoder::TCCITTFax3Decoder(uint32_t t4Options, uint32_t width, bool reverseBits)
    : t4Options_(t4Options), width_(width), reverseBits_(reverseBits) {}

size_t TCCITTFax3Decoder::DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                      size_t targetSize) {
  if (targetSize > 0) std::memset(target, 0, targetSize);
  const uint64_t rowBytes = RowBytes(width_);
  if (rowBytes == 0 || source == nullptr) return 0;
  TBitReader reader({source, sourceSize}, reverseBits_);
  const bool twoDimensional = (t4Options_ & kTwoDimensional) != 0;
  // Colour changes of the previous row (the first row's reference is all
  // white) and of the current one, each ended by `width` entries.
  std::vector<uint32_t> reference;
  std::vector<uint32_t> current;
  auto endChanges = [this](std::vector<uint32_t>& changes) {
    changes.insert(changes.end(), 3, width_);
  };
  if (twoDimensional) endChanges(reference);
  uint64_t rowStart = 0;
  bool endOfLineMet = false;
  while (rowStart < targetSize) {
    if (!endOfLineMet && !reader.SkipToEndOfLine()) break;
    reader.Fill();
    if (reader.Exhausted()) break;
    TRowWriter writer(target + rowStart, width_, RowLimitBits(rowStart, rowBytes, targetSize),
                      twoDimensional ? &current : nullptr);
    TRowEnd end;
    // With two-dimensional coding a tag bit after each end of line tells
    // one- (1) from two-dimensional (0) rows.
    const bool oneDimensional = !twoDimensional || reader.Peek(1) != 0;
    if (twoDimensional) reader.Consume(1);
    if (oneDimensional) {
      end = DecodeRow(reader, writer, width_);
    } else {
      end = DecodeTwoDimensionalRow(reader, writer, width_, reference);
    }
    rowStart += rowBytes;
    if (end == TRowEnd::OutOfData) break;
    endOfLineMet = end == TRowEnd::EndOfLine;
    if (twoDimensional) {
      endChanges(current);
      std::swap(reference, current);
      current.clear();
    }
  }
  return static_cast<size_t>(std::min<uint64_t>(rowStart, targetSize));
}

TCCITTFax4Decoder::TCCITTFax4Decoder(uint32_t width, bool reverseBits)
    : width_(width), reverseBits_(reverseBits) {}

size_t TCCITTFax4Decoder::DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                                      size_t targetSize) {
  if (targetSize > 0) std::memset(target, 0, targetSize);
  const uint64_t rowBytes = RowBytes(width_);
  if (rowBytes == 0 || source == nullptr) return 0;
  TBitReader reader({source, sourceSize}, reverseBits_);
  std::vector<uint32_t> reference;
  std::vector<uint32_t> current;
  auto endChanges = [this](std::vector<uint32_t>& changes) {
    changes.insert(changes.end(), 3, width_);
  };
  endChanges(reference);
  uint64_t rowStart = 0;
  while (rowStart < targetSize) {
    reader.Fill();
    if (reader.Exhausted()) break;
    TRowWriter writer(target + rowStart, width_, RowLimitBits(rowStart, rowBytes, targetSize),
                      &current);
    const TRowEnd end = DecodeTwoDimensionalRow(reader, writer, width_, reference);
    // The end-of-block code starts where a row would; a row cut short by
    // bad or missing data keeps what it decoded, and nothing after it can
    // be placed.
    if (end == TRowEnd::EndOfLine) break;
    rowStart += rowBytes;
    if (end != TRowEnd::Width) break;
    endChanges(current);
    std::swap(reference, current);
    current.clear();
  }
  return static_cast<size_t>(std::min<uint64_t>(rowStart, targetSize));
}

}  // namespace quorvex
