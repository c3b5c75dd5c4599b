#include "picture/readers/tiff_directory.h"

#include <algorithm>
#include <cstring>

#include "picture/exceptions.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

uint16_t Get16(const uint8_t* p, bool bigEndian) {
  return bigEndian ? static_cast<uint16_t>((p[0] << 8) | p[1])
                   : static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Get32(const uint8_t* p, bool bigEndian) {
  return bigEndian ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]
                   : uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
                         (uint32_t{p[3]} << 24);
}

constexpr size_t kEntrySize = 12;

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

std::optional<TTIFFHeader> TTIFFHeader::Parse(const uint8_t* bytes) {
  TTIFFHeader h;
  if (bytes[0] == 'I' && bytes[1] == 'I') {
    h.bigEndian = false;
  } else if (bytes[0] == 'M' && bytes[1] == 'M') {
    h.bigEndian = true;
  } else {
    return std::nullopt;
  }
  h.version = Get16(bytes + 2, h.bigEndian);
  h.firstIFD = Get32(bytes + 4, h.bigEndian);
  return h;
}

TTIFFDirectory::TTIFFDirectory(TStream& stream, int64_t base, uint32_t offset, bool bigEndian)
    : stream_(stream), base_(base), bigEndian_(bigEndian) {
  if (base + int64_t{offset} + 2 > stream.Size()) throw EReadError(kStreamReadError);
  stream.Seek(base + offset);
  uint8_t countBytes[2];
  stream.ReadBuffer(countBytes, 2);
  const size_t count = Get16(countBytes, bigEndian);
  std::vector<uint8_t> raw(count * kEntrySize + 4);
  // A directory cut short by the end of the file keeps the entries that are
  // there and has no successor.
  const size_t got = stream.Read(raw.data(), raw.size());
  const size_t complete = std::min(count, got / kEntrySize);
  if (complete == 0 && count != 0) throw EReadError(kStreamReadError);
  entries_.reserve(complete);
  for (size_t i = 0; i < complete; ++i) {
    const uint8_t* e = raw.data() + i * kEntrySize;
    TTIFFEntry entry;
    entry.tag = Get16(e, bigEndian);
    entry.type = Get16(e + 2, bigEndian);
    entry.count = Get32(e + 4, bigEndian);
    const uint8_t* v = e + 8;
    const size_t size = entry.TypeSize();
    if (!entry.Inline() || size == 4) {
      entry.value = Get32(v, bigEndian);
    } else if (size == 2) {
      entry.value = uint32_t{Get16(v, bigEndian)} | (uint32_t{Get16(v + 2, bigEndian)} << 16);
    } else {
      entry.value = Get32(v, false);
    }
    entries_.push_back(entry);
  }
  if (got >= raw.size()) next_ = Get32(raw.data() + count * kEntrySize, bigEndian);
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

void TTIFFDirectory::ReadOut(const TTIFFEntry& entry, std::vector<uint8_t>& out) const {
  const uint64_t bytes = uint64_t{entry.count} * entry.TypeSize();
  const int64_t at = base_ + int64_t{entry.value};
  if (at > stream_.Size() || bytes > static_cast<uint64_t>(stream_.Size() - at)) {
    throw EReadError(kStreamReadError);
  }
  out.resize(static_cast<size_t>(bytes));
  stream_.Seek(at);
  stream_.ReadBuffer(out.data(), out.size());
}

std::vector<uint8_t> TTIFFDirectory::RawBytes(uint16_t tag) const {
  std::vector<uint8_t> out;
  const TTIFFEntry* entry = Find(tag);
  if (!entry || entry->TypeSize() == 0) return out;
  if (!entry->Inline()) {
    ReadOut(*entry, out);
    return out;
  }
  // Inline values go back to the file's byte order.
  const size_t size = entry->TypeSize();
  for (size_t i = 0; i < entry->count; ++i) {
    if (size == 1) {
      out.push_back(static_cast<uint8_t>(entry->value >> (8 * i)));
    } else if (size == 2) {
      const auto v = static_cast<uint16_t>(entry->value >> (16 * i));
      out.push_back(static_cast<uint8_t>(bigEndian_ ? v >> 8 : v));
      out.push_back(static_cast<uint8_t>(bigEndian_ ? v : v >> 8));
    } else {
      for (int k = 0; k < 4; ++k) {
        out.push_back(static_cast<uint8_t>(entry->value >> (bigEndian_ ? 24 - 8 * k : 8 * k)));
      }
    }
  }
  return out;
}

std::vector<uint32_t> TTIFFDirectory::Values(uint16_t tag) const {
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
  std::vector<uint8_t> raw;
  ReadOut(*entry, raw);
  values.resize(entry->count);
  const uint8_t* p = raw.data();
  for (size_t i = 0; i < entry->count; ++i, p += size) {
    switch (size) {
      case 1:
        values[i] = *p;
        break;
      case 2:
        values[i] = Get16(p, bigEndian_);
        break;
      case 4:
        values[i] = Get32(p, bigEndian_);
        break;
      default: {
        const uint32_t denominator = Get32(p + 4, bigEndian_);
        values[i] = denominator == 0 ? 0 : Get32(p, bigEndian_) / denominator;
        break;
      }
    }
  }
  return values;
}

uint32_t TTIFFDirectory::Value(uint16_t tag, uint32_t missing) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || entry->count == 0) return missing;
  const size_t size = entry->TypeSize();
  if (entry->Inline() && size != 0) {
    return size == 1 ? entry->value & 0xFF : size == 2 ? entry->value & 0xFFFF : entry->value;
  }
  // Only the first value is wanted: read it alone.
  TTIFFEntry first = *entry;
  first.count = 1;
  if (size == 0) return missing;
  if (first.Inline()) {
    // Several small values behind an offset: the first one is at the offset.
    first.count = static_cast<uint32_t>(4 / size);
    first.count = std::min(first.count, entry->count);
  }
  std::vector<uint8_t> raw;
  ReadOut(first, raw);
  switch (size) {
    case 1:
      return raw[0];
    case 2:
      return Get16(raw.data(), bigEndian_);
    case 4:
      return Get32(raw.data(), bigEndian_);
    default: {
      const uint32_t denominator = Get32(raw.data() + 4, bigEndian_);
      return denominator == 0 ? 0 : Get32(raw.data(), bigEndian_) / denominator;
    }
  }
}

float TTIFFDirectory::Float(uint16_t tag, size_t index, float missing) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || index >= entry->count) return missing;
  const auto type = static_cast<TIFFFieldType>(entry->type);
  if (type != TIFFFieldType::Rational && type != TIFFFieldType::SRational) {
    const std::vector<uint32_t> values = Values(tag);
    return index < values.size() ? static_cast<float>(values[index]) : missing;
  }
  TTIFFEntry one = *entry;
  one.count = 1;
  one.value = entry->value + static_cast<uint32_t>(8 * index);
  std::vector<uint8_t> raw;
  ReadOut(one, raw);
  const uint32_t numerator = Get32(raw.data(), bigEndian_);
  const uint32_t denominator = Get32(raw.data() + 4, bigEndian_);
  if (denominator == 0) return missing;
  if (type == TIFFFieldType::SRational) {
    return static_cast<float>(static_cast<int32_t>(numerator)) /
           static_cast<float>(static_cast<int32_t>(denominator));
  }
  return static_cast<float>(numerator) / static_cast<float>(denominator);
}

}  // namespace quorvex
