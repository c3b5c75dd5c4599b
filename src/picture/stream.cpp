#include "picture/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "picture/exceptions.h"

namespace quorvex {

void TStream::ReadBuffer(void* buffer, size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(kStreamReadError);
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError(kStreamWriteError);
}

void TStream::Skip(int64_t count) {
  if (count < 0 || count > Remaining()) throw EReadError(kStreamReadError);
  Seek(Position() + count);
}

uint8_t TStream::ReadU8() {
  uint8_t b;
  ReadBuffer(&b, 1);
  return b;
}

uint16_t TStream::ReadU16LE() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t TStream::ReadU32LE() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

uint16_t TStream::ReadU16BE() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t TStream::ReadU32BE() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}

void TStream::WriteU16LE(uint16_t value) {
  const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  WriteBuffer(b, 2);
}

void TStream::WriteU32LE(uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  WriteBuffer(b, 4);
}

TMemoryStream::TMemoryStream(const void* data, size_t size)
    : bytes_(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}

int64_t TMemoryStream::Seek(int64_t position) {
  position_ = std::clamp<int64_t>(position, 0, Size());
  return position_;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  const size_t n = std::min<size_t>(count, static_cast<size_t>(Size() - position_));
  if (n != 0) std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += static_cast<int64_t>(n);
  return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
  const size_t end = static_cast<size_t>(position_) + count;
  if (end > bytes_.size()) bytes_.resize(end);
  if (count != 0) std::memcpy(bytes_.data() + position_, buffer, count);
  position_ = static_cast<int64_t>(end);
  return count;
}

TFileStream::TFileStream(const std::string& path, Mode mode) : TDescriptorStream(-1) {
  if (mode == Mode::OpenRead) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer; anything but a
    // regular file (FIFO, device, directory) could block or never end.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd_);
      fd_ = -1;
    }
    if (fd_ < 0) throw EFOpenError(FormatMessage("Cannot open file %s", path.c_str()));
    size_ = st.st_size;
  } else {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw EFCreateError(FormatMessage("Cannot create file %s", path.c_str()));
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TDescriptorStream::Seek(int64_t position) {
  position_ = std::max<int64_t>(position, 0);
  return position_;
}

size_t TDescriptorStream::Read(void* buffer, size_t count) {
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::pread(fd_, out + done, count - done, position_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EReadError(kStreamReadError);
    if (n == 0) break;
    done += static_cast<size_t>(n);
    position_ += n;
  }
  return done;
}

size_t TDescriptorStream::Write(const void* buffer, size_t count) {
  size_t done = 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::pwrite(fd_, in + done, count - done, position_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
    position_ += n;
  }
  size_ = std::max(size_, position_);
  return done;
}

void TFileStream::Flush() {
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) throw EWriteError(kStreamWriteError);
}

}  // namespace quorvex
