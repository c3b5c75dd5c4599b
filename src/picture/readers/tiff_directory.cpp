#include "picture/readers/tiff_directory.h"

#include <algorithm>
#include <cstring>

#include "picture/byte_input.h"
#include "picture/exceptions.h"
#include "picture/image_limits.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

// The count of entries before them, the offset of the next IFD after them.
constexpr size_t kEntryCountSize = 2;
constexpr size_t kNextOffsetSize = 4;

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
  h.firstIFD = reader.U32(h.bigEndian);
  return h;
}

TTIFFEntry TTIFFEntry::Parse(TByteReader& reader, bool bigEndian) {
  TTIFFEntry entry;
  entry.tag = reader.U16(bigEndian);
  entry.type = reader.U16(bigEndian);
  entry.count = reader.U32(bigEndian);
  TByteReader field(reader.Bytes(4));
  const size_t size = entry.TypeSize();
  if (!entry.Inline() || size == 4) {
    entry.value = field.U32(bigEndian);
  } else if (size == 2) {
    entry.value = field.U16(bigEndian);
    entry.value |= uint32_t{field.U16(bigEndian)} << 16;
  } else {
    entry.value = field.U32LE();  // bytes as they stood
  }
  return entry;
}

TTIFFDirectory::TTIFFDirectory(TStream& stream, int64_t base, uint32_t offset, bool bigEndian)
    : base_(base), bigEndian_(bigEndian) {
  if (base + int64_t{offset} + int64_t{kEntryCountSize} > stream.Size()) {
    throw EReadError(kStreamReadError);
  }
  stream.Seek(base + offset);
  uint8_t countBytes[kEntryCountSize];
  stream.ReadBuffer(countBytes, sizeof countBytes);
  const size_t count = TByteReader(countBytes, sizeof countBytes).U16(bigEndian);
  std::vector<uint8_t> raw(count * TTIFFEntry::kSize + kNextOffsetSize);
  // A directory cut short by the end of the file keeps the entries that are
  // there and has no successor.
  const size_t got = stream.Read(raw.data(), raw.size());
  TByteReader reader(std::span<const uint8_t>(raw).first(got));
  const size_t complete = std::min(count, got / TTIFFEntry::kSize);
  if (complete == 0 && count != 0) throw EReadError(kStreamReadError);
  ParseEntries(reader, complete);
  if (complete == count && reader.Has(kNextOffsetSize)) next_ = reader.U32(bigEndian);
}

void TTIFFDirectory::ParseEntries(TByteReader& reader, size_t count) {
  entries_.reserve(count);
  for (size_t i = 0; i < count; ++i) entries_.push_back(TTIFFEntry::Parse(reader, bigEndian_));
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

std::vector<uint8_t> TTIFFFields::ReadOut(const TTIFFEntry& entry, uint32_t count,
                                          uint32_t skipValues) const {
  const uint64_t size = entry.TypeSize();
  const uint64_t bytes = SaturatingProduct({count, size});
  const int64_t at = directory_.Base() + int64_t{entry.value} + int64_t{skipValues} * int64_t(size);
  if (at > stream_.Size() || bytes > static_cast<uint64_t>(stream_.Size() - at)) {
    throw EReadError(kStreamReadError);
  }
  std::vector<uint8_t> out(static_cast<size_t>(bytes));
  stream_.Seek(at);
  stream_.ReadBuffer(out.data(), out.size());
  return out;
}

uint32_t TTIFFFields::ValueAt(TByteReader& reader, size_t size) const {
  const bool bigEndian = BigEndian();
  switch (size) {
    case 1:
      return reader.U8();
    case 2:
      return reader.U16(bigEndian);
    case 4:
      return reader.U32(bigEndian);
    default: {
      const uint32_t numerator = reader.U32(bigEndian);
      const uint32_t denominator = reader.U32(bigEndian);
      return denominator == 0 ? 0 : numerator / denominator;
    }
  }
}

std::vector<uint8_t> TTIFFFields::RawBytes(uint16_t tag) const {
  std::vector<uint8_t> out;
  const TTIFFEntry* entry = Find(tag);
  if (!entry || entry->TypeSize() == 0) return out;
  if (!entry->Inline()) return ReadOut(*entry, entry->count);
  // Inline values go back to the file's byte order.
  const bool bigEndian = BigEndian();
  const size_t size = entry->TypeSize();
  for (size_t i = 0; i < entry->count; ++i) {
    if (size == 1) {
      out.push_back(static_cast<uint8_t>(entry->value >> (8 * i)));
    } else if (size == 2) {
      const auto v = static_cast<uint16_t>(entry->value >> (16 * i));
      out.push_back(static_cast<uint8_t>(bigEndian ? v >> 8 : v));
      out.push_back(static_cast<uint8_t>(bigEndian ? v : v >> 8));
    } else {
      for (int k = 0; k < 4; ++k) {
        out.push_back(static_cast<uint8_t>(entry->value >> (bigEndian ? 24 - 8 * k : 8 * k)));
      }
    }
  }
  return out;
}

std::vector<uint32_t> TTIFFFields::Values(uint16_t tag) const {
  std::vector<uint32_t> values;
  const TTIFFEntry* entry = Find(tag);
  if (!entry) return values;
  const size_t size = entry->TypeSize();
  const auto type = static_cast<TIFFFieldType>(entry->type);
  if (size == 0 || type == TIFFFieldType::Ascii || type == TIFFFieldType::Undefined) return values;
  if (entry->Inline()) {
    values.reserve(entry->count);
    for (size_t i = 0; i < entry->count; ++i) {
      values.push_back(size == 1   ? (entry->value >> (8 * i)) & 0xFF
                       : size == 2 ? (entry->value >> (16 * i)) & 0xFFFF
                                   : entry->value);
    }
    return values;
  }
  const std::vector<uint8_t> raw = ReadOut(*entry, entry->count);
  TByteReader reader(raw);
  values.resize(entry->count);
  for (uint32_t& value : values) value = ValueAt(reader, size);
  return values;
}

uint32_t TTIFFFields::Value(uint16_t tag, uint32_t missing) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || entry->count == 0) return missing;
  const size_t size = entry->TypeSize();
  if (size == 0) return missing;
  if (entry->Inline()) {
    return size == 1 ? entry->value & 0xFF : size == 2 ? entry->value & 0xFFFF : entry->value;
  }
  // Only the first value is wanted; small ones are read a field's worth at
  // a time, as an inline field would hold them.
  const uint32_t count = size < 4 ? std::min<uint32_t>(4 / size, entry->count) : 1;
  const std::vector<uint8_t> raw = ReadOut(*entry, count);
  TByteReader reader(raw);
  return ValueAt(reader, size);
}

float TTIFFFields::Float(uint16_t tag, size_t index, float missing) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || index >= entry->count) return missing;
  const auto type = static_cast<TIFFFieldType>(entry->type);
  if (type != TIFFFieldType::Rational && type != TIFFFieldType::SRational) {
    const std::vector<uint32_t> values = Values(tag);
    return index < values.size() ? static_cast<float>(values[index]) : missing;
  }
  const std::vector<uint8_t> raw = ReadOut(*entry, 1, static_cast<uint32_t>(index));
  TByteReader reader(raw);
  const uint32_t numerator = reader.U32(BigEndian());
  const uint32_t denominator = reader.U32(BigEndian());
  if (denominator == 0) return missing;
  if (type == TIFFFieldType::SRational) {
    return static_cast<float>(static_cast<int32_t>(numerator)) /
           static_cast<float>(static_cast<int32_t>(denominator));
  }
  return static_cast<float>(numerator) / static_cast<float>(denominator);
}

}  // namespace quorvex
