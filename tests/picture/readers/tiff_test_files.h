#pragma once

// Small TIFF files built in code, for the cases the sample files do not
// show: chosen tags, strips and byte orders.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quorvex::test {

class TiffBuilder {
 public:
  enum Type : uint16_t { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, Undefined = 7 };

  explicit TiffBuilder(bool bigEndian = false) : bigEndian_(bigEndian) {}

  // A tag with integer values (RATIONAL: numerator, denominator pairs).
  TiffBuilder& Set(uint16_t tag, Type type, std::vector<uint32_t> values) {
    entries_.push_back({tag, type, std::move(values), {}});
    return *this;
  }
  // A tag of raw bytes (UNDEFINED or BYTE).
  TiffBuilder& SetBytes(uint16_t tag, std::vector<uint8_t> bytes, Type type = Undefined) {
    entries_.push_back({tag, type, {}, std::move(bytes)});
    return *this;
  }
  // Appends a strip; its offset and byte count go into tags 273 and 279
  // unless `withByteCounts` is off.
  TiffBuilder& AddStrip(std::vector<uint8_t> data) {
    strips_.push_back(std::move(data));
    return *this;
  }
  TiffBuilder& WithByteCounts(bool on) {
    byteCounts_ = on;
    return *this;
  }
  // The usual tags of a picture: size, bits, samples, photometric.
  TiffBuilder& Picture(uint32_t width, uint32_t height, uint32_t bits, uint32_t samples,
                       uint32_t photometric) {
    Set(256, Long, {width});
    Set(257, Long, {height});
    Set(258, Short, std::vector<uint32_t>(samples, bits));
    Set(277, Short, {samples});
    Set(262, Short, {photometric});
    return *this;
  }

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> out = {static_cast<uint8_t>(bigEndian_ ? 'M' : 'I'),
                                static_cast<uint8_t>(bigEndian_ ? 'M' : 'I')};
    Put16(out, 42);
    Put32(out, 0);  // patched below
    std::vector<Entry> entries = entries_;
    if (!strips_.empty()) {
      std::vector<uint32_t> offsets, counts;
      for (const auto& s : strips_) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        counts.push_back(static_cast<uint32_t>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
      }
      entries.push_back({273, Long, offsets, {}});
      if (byteCounts_) entries.push_back({279, Long, counts, {}});
    }
    // Values that do not fit in an entry go before the directory.
    std::vector<std::vector<uint8_t>> fields;
    for (const auto& e : entries) fields.push_back(Encode(e));
    std::vector<uint32_t> at(entries.size(), 0);
    for (size_t i = 0; i < entries.size(); ++i) {
      if (fields[i].size() > 4) {
        if (out.size() % 2) out.push_back(0);
        at[i] = static_cast<uint32_t>(out.size());
        out.insert(out.end(), fields[i].begin(), fields[i].end());
      }
    }
    if (out.size() % 2) out.push_back(0);
    const uint32_t ifd = static_cast<uint32_t>(out.size());
    Patch32(out, 4, ifd);
    Put16(out, static_cast<uint16_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      Put16(out, e.tag);
      Put16(out, e.type);
      Put32(out, Count(e));
      if (fields[i].size() > 4) {
        Put32(out, at[i]);
      } else {
        std::vector<uint8_t> v = fields[i];
        v.resize(4, 0);
        out.insert(out.end(), v.begin(), v.end());
      }
    }
    Put32(out, 0);
    return out;
  }

  bool BigEndian() const { return bigEndian_; }

 private:
  struct Entry {
    uint16_t tag;
    uint16_t type;
    std::vector<uint32_t> values;
    std::vector<uint8_t> bytes;
  };

  static uint32_t Count(const Entry& e) {
    if (e.type == Rational) return static_cast<uint32_t>(e.values.size() / 2);
    return static_cast<uint32_t>(e.bytes.empty() ? e.values.size() : e.bytes.size());
  }
  std::vector<uint8_t> Encode(const Entry& e) const {
    std::vector<uint8_t> out;
    if (!e.bytes.empty()) return e.bytes;
    for (uint32_t v : e.values) {
      switch (e.type) {
        case Byte:
        case Ascii:
        case Undefined:
          out.push_back(static_cast<uint8_t>(v));
          break;
        case Short:
          Put16(out, static_cast<uint16_t>(v));
          break;
        default:
          Put32(out, v);
          break;
      }
    }
    return out;
  }
  void Put16(std::vector<uint8_t>& out, uint16_t v) const {
    out.push_back(static_cast<uint8_t>(bigEndian_ ? v >> 8 : v));
    out.push_back(static_cast<uint8_t>(bigEndian_ ? v : v >> 8));
  }
  void Put32(std::vector<uint8_t>& out, uint32_t v) const {
    for (int k = 0; k < 4; ++k) {
      out.push_back(static_cast<uint8_t>(v >> (bigEndian_ ? 24 - 8 * k : 8 * k)));
    }
  }
  void Patch32(std::vector<uint8_t>& out, size_t at, uint32_t v) const {
    std::vector<uint8_t> b;
    Put32(b, v);
    for (size_t k = 0; k < 4; ++k) out[at + k] = b[k];
  }

  bool bigEndian_;
  bool byteCounts_ = true;
  std::vector<Entry> entries_;
  std::vector<std::vector<uint8_t>> strips_;
};

}  // namespace quorvex::test
