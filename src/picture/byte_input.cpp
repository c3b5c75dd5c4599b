#include "picture/byte_input.h"

#include <algorithm>
#include <limits>

#include "picture/exceptions.h"
#include "picture/image_limits.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

[[noreturn]] void ReadPastEnd() {
  throw EReadError(kStreamReadError);
}

}  // namespace

const uint8_t* TByteReader::Take(size_t n) {
  if (!Has(n)) ReadPastEnd();
  const uint8_t* p = bytes_.data() + position_;
  position_ += n;
  return p;
}

void TByteReader::Seek(size_t offset) {
  if (offset > bytes_.size()) ReadPastEnd();
  position_ = offset;
}

void TByteReader::Skip(size_t n) {
  Take(n);
}

void TByteReader::ReadInto(std::span<uint8_t> target) {
  const uint8_t* p = Take(target.size());
  if (!target.empty()) std::memcpy(target.data(), p, target.size());
}

TByteReader TByteReader::Sub(size_t offset, size_t length) const {
  if (offset > bytes_.size() || length > bytes_.size() - offset) ReadPastEnd();
  return TByteReader(bytes_.subspan(offset, length));
}

TBufferedInput::TBufferedInput(TStream& stream, int64_t limit, size_t capacity)
    : stream_(stream), buffer_(std::max<size_t>(capacity, 16)) {
  const int64_t remaining = std::max<int64_t>(stream.Remaining(), 0);
  left_ = limit < 0 ? remaining : std::min(limit, remaining);
  next_ = end_ = buffer_.data();
}

size_t TBufferedInput::StreamRead(uint8_t* target, size_t count) {
  const size_t wanted = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), left_));
  size_t got = 0;
  while (got < wanted) {
    const size_t n = stream_.Read(target + got, wanted - got);
    if (n == 0) break;
    got += n;
  }
  left_ -= static_cast<int64_t>(got);
  if (got < wanted) left_ = 0;  // the stream ended before the limit
  return got;
}

bool TBufferedInput::Refill() {
  const size_t keep = static_cast<size_t>(end_ - next_);
  if (keep != 0 && next_ != buffer_.data()) std::memmove(buffer_.data(), next_, keep);
  next_ = buffer_.data();
  const size_t got = StreamRead(buffer_.data() + keep, buffer_.size() - keep);
  end_ = next_ + keep + got;
  return got != 0;
}

bool TBufferedInput::Ensure(size_t n) {
  if (n > buffer_.size()) return false;
  while (static_cast<size_t>(end_ - next_) < n) {
    if (!Refill()) return false;
  }
  return true;
}

bool TBufferedInput::AtEnd() {
  return next_ == end_ && !Refill();
}

void TBufferedInput::Consume(size_t n) {
  if (n > static_cast<size_t>(end_ - next_)) ReadPastEnd();
  next_ += n;
}

const uint8_t* TBufferedInput::Take(size_t n) {
  if (!Ensure(n)) ReadPastEnd();
  const uint8_t* p = next_;
  next_ += n;
  return p;
}

uint8_t TBufferedInput::U8() {
  return *Take(1);
}

size_t TBufferedInput::ReadSome(std::span<uint8_t> target) {
  size_t done = std::min(target.size(), static_cast<size_t>(end_ - next_));
  if (done != 0) std::memcpy(target.data(), next_, done);
  next_ += done;
  if (done < target.size()) {
    // Large reads go straight to the target; small ones refill first.
    if (target.size() - done >= buffer_.size() / 2) {
      done += StreamRead(target.data() + done, target.size() - done);
    } else if (Refill()) {
      done += ReadSome(target.subspan(done));
    }
  }
  return done;
}

void TBufferedInput::Read(std::span<uint8_t> target) {
  if (ReadSome(target) != target.size()) ReadPastEnd();
}

void TBufferedInput::Skip(uint64_t n) {
  const size_t buffered = static_cast<size_t>(end_ - next_);
  if (n <= buffered) {
    next_ += n;
    return;
  }
  n -= buffered;
  next_ = end_ = buffer_.data();
  if (n > static_cast<uint64_t>(left_)) {
    left_ = 0;
    ReadPastEnd();
  }
  stream_.Seek(stream_.Position() + static_cast<int64_t>(n));
  left_ -= static_cast<int64_t>(n);
}

int64_t TBufferedInput::Position() const {
  return stream_.Position() - (end_ - next_);
}

int64_t TBufferedInput::Remaining() const {
  return left_ + (end_ - next_);
}

void TBufferedInput::SyncStream() {
  stream_.Seek(Position());
  left_ += end_ - next_;
  next_ = end_ = buffer_.data();
}

void TBufferedInput::Reposition(int64_t position) {
  stream_.Seek(position);
  left_ = std::max<int64_t>(stream_.Remaining(), 0);
  next_ = end_ = buffer_.data();
}

uint64_t SaturatingProduct(std::initializer_list<uint64_t> factors) {
  uint64_t product = 1;
  for (const uint64_t f : factors) {
    if (f == 0) return 0;
    if (product > std::numeric_limits<uint64_t>::max() / f) {
      product = std::numeric_limits<uint64_t>::max();
    } else {
      product *= f;
    }
  }
  return product;
}

uint64_t StorageBytes(std::initializer_list<uint64_t> factors) {
  const uint64_t product = SaturatingProduct(factors);
  if (product > kMaxStorageBytes) throw EOutOfResources(kOutOfResources);
  return product;
}

}  // namespace quorvex
