#pragma once

// The one way readers take bytes in: a reader over bytes in memory, a
// buffered input over a stream, and the byte-order loads both use. Every read
// that would pass the end raises EReadError "Stream read error"; nothing
// outside these classes indexes a file's raw bytes.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace quorvex {

class TStream;

// Loads from memory the caller has already bounded (a span from one of the
// classes below). Unaligned and strict-aliasing safe.
inline uint16_t LoadU16LE(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint16_t LoadU16BE(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t LoadU32LE(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint32_t LoadU32BE(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline uint64_t LoadU64LE(const uint8_t* p) {
  return uint64_t{LoadU32LE(p)} | (uint64_t{LoadU32LE(p + 4)} << 32);
}
inline uint64_t LoadU64BE(const uint8_t* p) {
  return (uint64_t{LoadU32BE(p)} << 32) | uint64_t{LoadU32BE(p + 4)};
}
inline uint16_t LoadU16(const uint8_t* p, bool bigEndian) {
  return bigEndian ? LoadU16BE(p) : LoadU16LE(p);
}
inline uint32_t LoadU32(const uint8_t* p, bool bigEndian) {
  return bigEndian ? LoadU32BE(p) : LoadU32LE(p);
}
inline uint64_t LoadU64(const uint8_t* p, bool bigEndian) {
  return bigEndian ? LoadU64BE(p) : LoadU64LE(p);
}
inline int16_t LoadI16LE(const uint8_t* p) {
  return static_cast<int16_t>(LoadU16LE(p));
}
inline int32_t LoadI32LE(const uint8_t* p) {
  return static_cast<int32_t>(LoadU32LE(p));
}
inline void StoreU16LE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32LE(uint8_t* p, uint32_t v) {
  StoreU16LE(p, static_cast<uint16_t>(v));
  StoreU16LE(p + 2, static_cast<uint16_t>(v >> 16));
}

// Reads values from a span of bytes, front to back. Any read past the end
// raises EReadError and leaves the position where it was.
class TByteReader {
 public:
  TByteReader() = default;
  explicit TByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  TByteReader(const uint8_t* data, size_t size) : bytes_(data, size) {}

  size_t Size() const { return bytes_.size(); }
  size_t Position() const { return position_; }
  size_t Remaining() const { return bytes_.size() - position_; }
  // Is there enough for n more bytes?
  bool Has(size_t n) const { return n <= Remaining(); }
  bool AtEnd() const { return position_ == bytes_.size(); }

  // To an offset from the start; the end itself is allowed.
  void Seek(size_t offset);
  void Skip(size_t n);

  uint8_t U8() { return *Take(1); }
  int8_t I8() { return static_cast<int8_t>(U8()); }
  uint16_t U16LE() { return LoadU16LE(Take(2)); }
  uint16_t U16BE() { return LoadU16BE(Take(2)); }
  uint32_t U32LE() { return LoadU32LE(Take(4)); }
  uint32_t U32BE() { return LoadU32BE(Take(4)); }
  uint64_t U64LE() { return LoadU64LE(Take(8)); }
  uint64_t U64BE() { return LoadU64BE(Take(8)); }
  int16_t I16LE() { return static_cast<int16_t>(U16LE()); }
  int16_t I16BE() { return static_cast<int16_t>(U16BE()); }
  int32_t I32LE() { return static_cast<int32_t>(U32LE()); }
  int32_t I32BE() { return static_cast<int32_t>(U32BE()); }
  int64_t I64LE() { return static_cast<int64_t>(U64LE()); }
  int64_t I64BE() { return static_cast<int64_t>(U64BE()); }
  // In the byte order a file's header chose.
  uint16_t U16(bool bigEndian) { return LoadU16(Take(2), bigEndian); }
  uint32_t U32(bool bigEndian) { return LoadU32(Take(4), bigEndian); }
  uint64_t U64(bool bigEndian) { return LoadU64(Take(8), bigEndian); }

  // The next n bytes, consumed.
  std::span<const uint8_t> Bytes(size_t n) { return {Take(n), n}; }
  // Copies the next target.size() bytes.
  void ReadInto(std::span<uint8_t> target);
  // A reader over [offset, offset + length) of this one's bytes, at its
  // start; this reader's position does not move.
  TByteReader Sub(size_t offset, size_t length) const;
  // The bytes not read yet; the position does not move.
  std::span<const uint8_t> Rest() const { return bytes_.subspan(position_); }
  std::span<const uint8_t> All() const { return bytes_; }

 private:
  const uint8_t* Take(size_t n);

  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
};

// Buffered input over a stream, from its position at construction and at
// most `limit` bytes on (all of the rest when negative). Decoders take bytes
// either through the value reads, which raise EReadError at the end, or in
// pieces: Buffered() shows what is there, Consume() uses some, Refill() or
// Ensure() bring more.
class TBufferedInput {
 public:
  static constexpr size_t kDefaultCapacity = size_t{64} << 10;

  explicit TBufferedInput(TStream& stream, int64_t limit = -1, size_t capacity = kDefaultCapacity);
  TBufferedInput(const TBufferedInput&) = delete;
  TBufferedInput& operator=(const TBufferedInput&) = delete;

  // The unread bytes in the buffer; empty before the first refill.
  std::span<const uint8_t> Buffered() const { return {next_, static_cast<size_t>(end_ - next_)}; }
  // Marks n of the buffered bytes used; n past Buffered() raises EReadError.
  void Consume(size_t n);
  // Keeps the unread bytes, reads more after them; false when none came.
  bool Refill();
  // Makes at least n (at most the capacity) unread bytes contiguous; false
  // when the input ends first.
  bool Ensure(size_t n);
  // Are there no more bytes, buffered or in the stream within the limit?
  bool AtEnd();

  uint8_t U8();
  uint16_t U16LE() { return LoadU16LE(Take(2)); }
  uint16_t U16BE() { return LoadU16BE(Take(2)); }
  uint32_t U32LE() { return LoadU32LE(Take(4)); }
  uint32_t U32BE() { return LoadU32BE(Take(4)); }
  // Copies exactly target.size() bytes; raises EReadError when they are not
  // there (what did come is in target).
  void Read(std::span<uint8_t> target);
  // Copies up to target.size() bytes and says how many.
  size_t ReadSome(std::span<uint8_t> target);
  void Skip(uint64_t n);

  // Where the next unread byte is in the stream.
  int64_t Position() const;
  // Bytes left within the limit, buffered ones included.
  int64_t Remaining() const;
  // Leaves the stream just after the bytes used, for whoever reads it next.
  void SyncStream();
  // Starts again at `position` of the stream, to its end, keeping the
  // buffer: for formats whose parts lie anywhere in the file.
  void Reposition(int64_t position);

 private:
  const uint8_t* Take(size_t n);
  size_t StreamRead(uint8_t* target, size_t count);

  TStream& stream_;
  int64_t left_;  // not yet read from the stream, within the limit
  std::vector<uint8_t> buffer_;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
};

}  // namespace quorvex
