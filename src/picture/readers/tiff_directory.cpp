#include "picture/readers/tiff_directory.h"

#include <algorithm>
#include <cstring>

#include "picture/byte_input.h"
#include "picture/exceptions.h"
#include "picture/image_limits.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

// The count of entries before them, the offset of the next IFD after them:
// classic and BigTIFF sizes.
constexpr size_t kEntryCountSize = 2;
constexpr size_t kNextOffsetSize = 4;
constexpr size_t kBigEntryCountSize = 8;
constexpr size_t kBigNextOffsetSize = 8;

bool IsRational(uint16_t type) {
  const auto t = static_cast<TIFFFieldType>(type);
  return t == TIFFFieldType::Rational || t == TIFFFieldType::SRational;
}

}  // namespace

size_t TIFFFieldTypeSize(uint16_t type) {
  switch (static_cast<TIFFFieldType>(type)) {
    case TIFFFieldType::Byte:
    case TIFFFieldType::Ascii:
    case TIFFFieldType::SByte:
    case TIFFFieldType::Undefined:
      return 1;
    case TIFFFieldType::Short:
    case TIFFFieldType::SShort:
      return 2;
    case TIFFFieldType::Long:
    case TIFFFieldType::SLong:
      return 4;
    case TIFFFieldType::Rational:
    case TIFFFieldType::SRational:
    case TIFFFieldType::Long8:
    case TIFFFieldType::SLong8:
    case TIFFFieldType::IFD8:
      return 8;
  }
  return 0;
}

std::optional<TTIFFHeader> TTIFFHeader::Parse(std::span<const uint8_t> bytes) {
  TByteReader reader(bytes);
  const std::span<const uint8_t> mark = reader.Bytes(2);
  TTIFFHeader h;
  if (mark[0] == 'I' && mark[1] == 'I') {
    h.bigEndian = false;
  } else if (mark[0] == 'M' && mark[1] == 'M') {
    h.bigEndian = true;
  } else {
    return std::nullopt;
  }
  h.version = reader.U16(h.bigEndian);
  if (h.version != kBigVersion) {
    h.firstIFD = reader.U32(h.bigEndian);
    return h;
  }
  if (bytes.size() < kBigSize) {
    reader.Skip(4);  // a header cut short still has its classic size
    return h;
  }
  const uint16_t offsetSize = reader.U16(h.bigEndian);
  const uint16_t zero = reader.U16(h.bigEndian);
  h.firstIFD = reader.U64(h.bigEndian);
  h.bigTIFF = offsetSize == 8 && zero == 0;
  return h;
}

TTIFFEntry TTIFFEntry::Parse(TByteReader& reader, bool bigEndian, bool bigTIFF) {
  TTIFFEntry entry;
  entry.tag = reader.U16(bigEndian);
  entry.type = reader.U16(bigEndian);
  entry.count = bigTIFF ? reader.U64(bigEndian) : reader.U32(bigEndian);
  entry.fieldSize = bigTIFF ? 8 : 4;
  reader.ReadInto(std::span(entry.field).first(entry.fieldSize));
  TByteReader field(std::span<const uint8_t>(entry.field).first(entry.fieldSize));
  const size_t size = entry.TypeSize();
  if (!entry.Inline()) {
    entry.value = bigTIFF ? field.U64(bigEndian) : field.U32(bigEndian);
  } else if (size == 2 || size == 4) {
    for (unsigned i = 0; i < entry.fieldSize / size; ++i) {
      const uint64_t v = size == 2 ? field.U16(bigEndian) : field.U32(bigEndian);
      entry.value |= v << (8 * size * i);
    }
  } else if (size == 8) {
    entry.value = field.U64(bigEndian);
  } else {
    entry.value = LoadU64LE(entry.field.data());  // bytes as they stood
  }
  return entry;
}

TTIFFDirectory::TTIFFDirectory(TStream& stream, int64_t base, uint64_t offset, bool bigEndian,
                               bool bigTIFF)
    : base_(base), bigEndian_(bigEndian) {
  const size_t countSize = bigTIFF ? kBigEntryCountSize : kEntryCountSize;
  const size_t entrySize = bigTIFF ? TTIFFEntry::kBigSize : TTIFFEntry::kSize;
  const size_t nextSize = bigTIFF ? kBigNextOffsetSize : kNextOffsetSize;
  const uint64_t room = static_cast<uint64_t>(stream.Size() - base);
  if (offset > room || countSize > room - offset) throw EReadError(kStreamReadError);
  stream.Seek(base + static_cast<int64_t>(offset));
  uint8_t countBytes[kBigEntryCountSize];
  stream.ReadBuffer(countBytes, countSize);
  TByteReader countReader(countBytes, countSize);
  const uint64_t count = bigTIFF ? countReader.U64(bigEndian) : countReader.U16(bigEndian);
  // A directory cut short by the end of the file keeps the entries that are
  // there and has no successor; a count beyond the file reads no further.
  const uint64_t wanted = SaturatingProduct({count, entrySize}) + nextSize;
  const uint64_t left = room - offset - countSize;
  std::vector<uint8_t> raw(static_cast<size_t>(std::min(wanted, left)));
  const size_t got = stream.Read(raw.data(), raw.size());
  TByteReader reader(std::span<const uint8_t>(raw).first(got));
  const uint64_t complete = std::min<uint64_t>(count, got / entrySize);
  if (complete == 0 && count != 0) throw EReadError(kStreamReadError);
  ParseEntries(reader, static_cast<size_t>(complete), bigTIFF);
  if (complete == count && reader.Has(nextSize)) {
    next_ = bigTIFF ? reader.U64(bigEndian) : reader.U32(bigEndian);
  }
}

void TTIFFDirectory::ParseEntries(TByteReader& reader, size_t count, bool bigTIFF) {
  entries_.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    entries_.push_back(TTIFFEntry::Parse(reader, bigEndian_, bigTIFF));
  }
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const TTIFFEntry& a, const TTIFFEntry& b) { return a.tag < b.tag; });
  entries_.erase(
      std::unique(entries_.begin(), entries_.end(),
                  [](const TTIFFEntry& a, const TTIFFEntry& b) { return a.tag == b.tag; }),
      entries_.end());
}

const TTIFFEntry* TTIFFDirectory::Find(uint16_t tag) const {
  const auto it = std::lower_bound(entries_.begin(), entries_.end(), tag,
                                   [](const TTIFFEntry& e, uint16_t t) { return e.tag < t; });
  return it != entries_.end() && it->tag == tag ? &*it : nullptr;
}

std::vector<uint8_t> TTIFFFields::ValueBytes(const TTIFFEntry& entry, uint64_t count,
                                             uint64_t first) const {
  const uint64_t size = entry.TypeSize();
  const uint64_t bytes = SaturatingProduct({count, size});
  const uint64_t skip = SaturatingProduct({first, size});
  if (entry.Inline()) {
    if (skip > entry.fieldSize || bytes > entry.fieldSize - skip) {
      throw EReadError(kStreamReadError);
    }
    const auto from = entry.field.begin() + static_cast<ptrdiff_t>(skip);
    return std::vector<uint8_t>(from, from + static_cast<ptrdiff_t>(bytes));
  }
  const uint64_t room = static_cast<uint64_t>(stream_.Size() - directory_.Base());
  if (entry.value > room || skip > room - entry.value || bytes > room - entry.value - skip) {
    throw EReadError(kStreamReadError);
  }
  std::vector<uint8_t> out(static_cast<size_t>(bytes));
  stream_.Seek(directory_.Base() + static_cast<int64_t>(entry.value + skip));
  stream_.ReadBuffer(out.data(), out.size());
  return out;
}

uint64_t TTIFFFields::ValueAt(TByteReader& reader, uint16_t type) const {
  const bool bigEndian = BigEndian();
  if (IsRational(type)) {
    const uint32_t numerator = reader.U32(bigEndian);
    const uint32_t denominator = reader.U32(bigEndian);
    return denominator == 0 ? 0 : numerator / denominator;
  }
  switch (TIFFFieldTypeSize(type)) {
    case 1:
      return reader.U8();
    case 2:
      return reader.U16(bigEndian);
    case 4:
      return reader.U32(bigEndian);
    default:
      return reader.U64(bigEndian);
  }
}

std::vector<uint8_t> TTIFFFields::RawBytes(uint16_t tag) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || entry->TypeSize() == 0) return {};
  return ValueBytes(*entry, entry->count);
}

std::vector<uint64_t> TTIFFFields::Values64(uint16_t tag) const {
  std::vector<uint64_t> values;
  const TTIFFEntry* entry = Find(tag);
  if (!entry) return values;
  const auto type = static_cast<TIFFFieldType>(entry->type);
  if (entry->TypeSize() == 0 || type == TIFFFieldType::Ascii || type == TIFFFieldType::Undefined) {
    return values;
  }
  const std::vector<uint8_t> raw = ValueBytes(*entry, entry->count);
  TByteReader reader(raw);
  values.resize(static_cast<size_t>(entry->count));
  for (uint64_t& value : values) value = ValueAt(reader, entry->type);
  return values;
}

std::vector<uint32_t> TTIFFFields::Values(uint16_t tag) const {
  const std::vector<uint64_t> wide = Values64(tag);
  std::vector<uint32_t> values(wide.size());
  std::transform(wide.begin(), wide.end(), values.begin(), [](uint64_t v) {
    return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX));
  });
  return values;
}

uint32_t TTIFFFields::Value(uint16_t tag, uint32_t missing) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || entry->count == 0) return missing;
  const size_t size = entry->TypeSize();
  if (size == 0) return missing;
  // Only the first value is wanted; small ones are read a classic field's
  // worth at a time, as an inline field would hold them.
  const uint64_t count = size < 4 ? std::min<uint64_t>(4 / size, entry->count) : 1;
  const std::vector<uint8_t> raw = ValueBytes(*entry, count);
  TByteReader reader(raw);
  return static_cast<uint32_t>(std::min<uint64_t>(ValueAt(reader, entry->type), UINT32_MAX));
}

float TTIFFFields::Float(uint16_t tag, size_t index, float missing) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || index >= entry->count) return missing;
  if (!IsRational(entry->type)) {
    const std::vector<uint32_t> values = Values(tag);
    return index < values.size() ? static_cast<float>(values[index]) : missing;
  }
  const std::vector<uint8_t> raw = ValueBytes(*entry, 1, index);
  TByteReader reader(raw);
  const uint32_t numerator = reader.U32(BigEndian());
  const uint32_t denominator = reader.U32(BigEndian());
  if (denominator == 0) return missing;
  if (static_cast<TIFFFieldType>(entry->type) == TIFFFieldType::SRational) {
    return static_cast<float>(static_cast<int32_t>(numerator)) /
           static_cast<float>(static_cast<int32_t>(denominator));
  }
  return static_cast<float>(numerator) / static_cast<float>(denominator);
}

}  // namespace quorvex
