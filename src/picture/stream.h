#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quorvex {

// Readers see every source through this: a position, a size, partial and
// exact reads, and seeking. Exact reads that come up short raise
// EReadError "Stream read error".
class TStream {
 public:
  virtual ~TStream() = default;

  virtual int64_t Size() const = 0;
  virtual int64_t Position() const = 0;
  // Clamped to [0, Size()] for reading streams; returns the new position.
  virtual int64_t Seek(int64_t position) = 0;
  // Reads up to count bytes and returns how many were read.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes up to count bytes and returns how many were taken.
  virtual size_t Write(const void* buffer, size_t count) = 0;

  int64_t Remaining() const { return Size() - Position(); }
  void ReadBuffer(void* buffer, size_t count);
  void WriteBuffer(const void* buffer, size_t count);
  // Moves forward by count bytes; fails like ReadBuffer when they are not there.
  void Skip(int64_t count);

  uint8_t ReadU8();
  uint16_t ReadU16LE();
  uint32_t ReadU32LE();
  int32_t ReadI32LE() { return static_cast<int32_t>(ReadU32LE()); }
  uint16_t ReadU16BE();
  uint32_t ReadU32BE();
  void WriteU16LE(uint16_t value);
  void WriteU32LE(uint32_t value);
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  TMemoryStream(const void* data, size_t size);

  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  int64_t Position() const override { return position_; }
  int64_t Seek(int64_t position) override;
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;

  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t position_ = 0;
};

// Reads and writes at its own position through a descriptor that its
// owner keeps open.
class TDescriptorStream : public TStream {
 public:
  explicit TDescriptorStream(int fd, int64_t size = 0) : fd_(fd), size_(size) {}

  int64_t Size() const override { return size_; }
  int64_t Position() const override { return position_; }
  int64_t Seek(int64_t position) override;
  size_t Read(void* buffer, size_t count) override;
  // A full disk or the file size limit ends the write short.
  size_t Write(const void* buffer, size_t count) override;

 protected:
  int fd_;
  int64_t position_ = 0;
  int64_t size_;
};

class TFileStream : public TDescriptorStream {
 public:
  enum class Mode { OpenRead, Create };
  // OpenRead opens regular files only and fails with EFOpenError
  // "Cannot open file %s" otherwise; Create fails with
  // EFCreateError "Cannot create file %s".
  TFileStream(const std::string& path, Mode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  // Flushes to the file system; raises EWriteError when that fails.
  void Flush();
};

}  // namespace quorvex
