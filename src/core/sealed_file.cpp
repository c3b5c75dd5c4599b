#include "core/sealed_file.h"

#include <sodium.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "picture/stream.h"

namespace quorvex {

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kMagic[8] = {'Q', 'V', 'X', 'S', 'E', 'A', 'L', '1'};
constexpr uint8_t kVersion = 1;
constexpr uint8_t kAlgorithm = 1;
constexpr size_t kStreamHeaderBytes = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
constexpr size_t kTagBytes = crypto_secretstream_xchacha20poly1305_ABYTES;
// Magic through the ciphertext length; the metadata's additional data.
constexpr size_t kClearBytes = 8 + 1 + 1 + 2 + 4 + 4 + kSaltBytes + kStreamHeaderBytes + 8;
constexpr size_t kBmpHeaderBytes = 54;
// Name length, size, modification time and permission bits around the name.
constexpr size_t kRecordFixedBytes = 2 + 8 + 8 + 4;
// Longer than any file name a Linux file system keeps; it bounds the work
// of finding the metadata message, whose length is not stored.
constexpr size_t kMaxStoredName = 1024;
constexpr uint32_t kMinOpslimit = 1;
constexpr uint32_t kMinMemlimitKiB = 8;

using TPullState = crypto_secretstream_xchacha20poly1305_state;
static_assert(sizeof(TPullState) <= 52);

void EnsureSodium() {
  static const int status = sodium_init();
  if (status < 0) throw Exception("The encryption library cannot be started");
}

std::mutex& DerivationMutex() {
  static std::mutex mutex;
  return mutex;
}

TKeyDerivation& CurrentDerivation() {
  static TKeyDerivation derivation = DeriveSealKey;
  return derivation;
}

TSealKey Derive(const std::string& passphrase, const TSalt& salt, TSealParameters parameters) {
  TKeyDerivation derivation;
  {
    std::lock_guard lock(DerivationMutex());
    derivation = CurrentDerivation();
  }
  return derivation(passphrase, salt, parameters);
}

void PutU16(uint8_t* at, uint16_t value) {
  for (int i = 0; i < 2; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
void PutU64(uint8_t* at, uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint64_t GetLE(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

uint64_t ContentMessages(uint64_t size) {
  return size == 0 ? 1 : (size + kSealMessageBytes - 1) / kSealMessageBytes;
}

// The ciphertext of a file of this size whose name has this many bytes;
// nullopt when it would not fit in 64 bits.
std::optional<uint64_t> CiphertextLength(size_t nameBytes, uint64_t size) {
  const uint64_t fixed = kRecordFixedBytes + nameBytes + kTagBytes;
  const uint64_t tags = ContentMessages(size) * kTagBytes;
  if (size > UINT64_MAX - fixed - tags) return std::nullopt;
  return fixed + size + tags;
}

uint64_t RowStride(uint32_t width) {
  return (uint64_t{width} * 3 + 3) & ~uint64_t{3};
}

size_t ReadUpTo(TStream& in, uint8_t* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const size_t n = in.Read(buffer + done, count - done);
    if (n == 0) break;
    done += n;
  }
  return done;
}

void ReadOrRefuse(TStream& in, uint8_t* buffer, size_t count) {
  if (ReadUpTo(in, buffer, count) != count) throw ESealRefused();
}

// Takes what it is given and keeps nothing: authenticating without writing.
class TDiscardStream : public TStream {
 public:
  int64_t Size() const override { return size_; }
  int64_t Position() const override { return size_; }
  int64_t Seek(int64_t) override { return size_; }
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void*, size_t count) override {
    size_ += static_cast<int64_t>(count);
    return count;
  }

 private:
  int64_t size_ = 0;
};

std::vector<uint8_t> EncodeRecord(const TSealedFileInfo& info) {
  std::vector<uint8_t> record(kRecordFixedBytes + info.name.size());
  uint8_t* at = record.data();
  PutU16(at, static_cast<uint16_t>(info.name.size()));
  std::memcpy(at + 2, info.name.data(), info.name.size());
  at += 2 + info.name.size();
  PutU64(at, info.size);
  PutU64(at + 8, static_cast<uint64_t>(info.modified));
  PutU32(at + 16, info.permissions);
  return record;
}

// The clear bytes of a container, from the magic through the ciphertext length.
std::array<uint8_t, kClearBytes> EncodeClear(TSealParameters parameters, const TSalt& salt,
                                             const uint8_t* streamHeader,
                                             uint64_t ciphertextLength) {
  std::array<uint8_t, kClearBytes> clear{};
  uint8_t* at = clear.data();
  std::memcpy(at, kMagic, 8);
  at[8] = kVersion;
  at[9] = kAlgorithm;
  PutU16(at + 10, 0);
  PutU32(at + 12, parameters.opslimit);
  PutU32(at + 16, parameters.memlimitKiB);
  std::memcpy(at + 20, salt.data(), kSaltBytes);
  std::memcpy(at + 36, streamHeader, kStreamHeaderBytes);
  PutU64(at + 36 + kStreamHeaderBytes, ciphertextLength);
  return clear;
}

std::array<uint8_t, kBmpHeaderBytes> EncodeBmpHeader(uint32_t width, uint32_t height) {
  const uint64_t pixelBytes = RowStride(width) * height;
  const uint64_t fileBytes = kBmpHeaderBytes + pixelBytes;
  // Past 4 GiB the fields cannot hold the sizes; readers take 0 as unknown.
  const auto field = [](uint64_t value) {
    return value > UINT32_MAX ? 0u : static_cast<uint32_t>(value);
  };
  std::array<uint8_t, kBmpHeaderBytes> header{};
  uint8_t* at = header.data();
  at[0] = 'B';
  at[1] = 'M';
  PutU32(at + 2, field(fileBytes));
  PutU32(at + 10, kBmpHeaderBytes);
  PutU32(at + 14, 40);
  PutU32(at + 18, width);
  PutU32(at + 22, height);
  PutU16(at + 26, 1);
  PutU16(at + 28, 24);
  PutU32(at + 34, field(pixelBytes));
  PutU32(at + 38, 2835);  // 72 dpi
  PutU32(at + 42, 2835);
  return header;
}

bool HasControlCharacter(const std::string& name) {
  return std::any_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
}

}  // namespace

std::pair<uint32_t, uint32_t> SealedPictureSize(uint64_t containerLength) {
  // The smallest width whose square holds a third of the length.
  uint64_t width = static_cast<uint64_t>(std::sqrt(static_cast<long double>(containerLength) / 3));
  while (width * width * 3 < containerLength) ++width;
  while (width > 1 && (width - 1) * (width - 1) * 3 >= containerLength) --width;
  width = std::max<uint64_t>(width, 1);
  const uint64_t stride = RowStride(static_cast<uint32_t>(width));
  const uint64_t height = (containerLength + stride - 1) / stride;
  return {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
}

TSealKey DeriveSealKey(const std::string& passphrase, const TSalt& salt,
                       TSealParameters parameters) {
  EnsureSodium();
  TSealKey key{};
  if (crypto_pwhash(key.data(), key.size(), passphrase.data(), passphrase.size(), salt.data(),
                    parameters.opslimit, size_t{parameters.memlimitKiB} * 1024,
                    crypto_pwhash_ALG_ARGON2ID13) != 0) {
    throw EOutOfResources(kOutOfResources);
  }
  return key;
}

TKeyDerivation SetKeyDerivation(TKeyDerivation derivation) {
  std::lock_guard lock(DerivationMutex());
  TKeyDerivation previous = std::move(CurrentDerivation());
  CurrentDerivation() = derivation ? std::move(derivation) : TKeyDerivation(DeriveSealKey);
  return previous;
}

void CheckSealPassphrase(const std::string& passphrase) {
  if (passphrase == "614052") {
    throw EWeakPassphrase("The default code cannot seal files; choose a passphrase of your own");
  }
  // Characters, not bytes: a UTF-8 sequence counts once.
  const auto characters = std::count_if(passphrase.begin(), passphrase.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  });
  if (characters < static_cast<std::ptrdiff_t>(kSealMinimumPassphrase)) {
    throw EWeakPassphrase("A passphrase for sealing needs at least 8 characters");
  }
}

bool IsSealedStream(TStream& stream) {
  uint8_t head[kBmpHeaderBytes + 8];
  stream.Seek(0);
  const bool complete = ReadUpTo(stream, head, sizeof head) == sizeof head;
  stream.Seek(0);
  if (!complete || head[0] != 'B' || head[1] != 'M') return false;
  int differing = 0;
  for (size_t i = 0; i < 8; ++i) differing += head[kBmpHeaderBytes + i] != kMagic[i];
  return differing <= 2;
}

bool IsSealedFile(const std::string& path) {
  try {
    TFileStream stream(path, TFileStream::Mode::OpenRead);
    return IsSealedStream(stream);
  } catch (const Exception&) {
    return false;
  }
}

TSealHeader ReadSealHeader(TStream& stream) {
  uint8_t head[kBmpHeaderBytes + kClearBytes];
  stream.Seek(0);
  ReadOrRefuse(stream, head, sizeof head);
  const uint8_t* bmp = head;
  const uint8_t* clear = head + kBmpHeaderBytes;
  const bool frame = bmp[0] == 'B' && bmp[1] == 'M' && GetLE(bmp + 10, 4) == kBmpHeaderBytes &&
                     GetLE(bmp + 14, 4) == 40 && GetLE(bmp + 26, 2) == 1 &&
                     GetLE(bmp + 28, 2) == 24 && GetLE(bmp + 30, 4) == 0;
  if (!frame || std::memcmp(clear, kMagic, 8) != 0 || clear[8] != kVersion ||
      clear[9] != kAlgorithm || GetLE(clear + 10, 2) != 0) {
    throw ESealRefused();
  }
  TSealHeader header;
  header.version = clear[8];
  header.algorithm = clear[9];
  header.parameters.opslimit = static_cast<uint32_t>(GetLE(clear + 12, 4));
  header.parameters.memlimitKiB = static_cast<uint32_t>(GetLE(clear + 16, 4));
  std::memcpy(header.salt.data(), clear + 20, kSaltBytes);
  header.ciphertextLength = GetLE(clear + 36 + kStreamHeaderBytes, 8);
  header.width = static_cast<uint32_t>(GetLE(bmp + 18, 4));
  header.height = static_cast<uint32_t>(GetLE(bmp + 22, 4));
  // The container must be all there, in a frame of the size it implies.
  const uint64_t available = static_cast<uint64_t>(stream.Size()) - sizeof head;
  if (header.ciphertextLength > available) throw ESealRefused();
  const auto [width, height] = SealedPictureSize(kClearBytes + header.ciphertextLength);
  if (header.width != width || header.height != height) throw ESealRefused();
  return header;
}

TSealHeader ReadSealHeader(const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::OpenRead);
  return ReadSealHeader(stream);
}

std::string SafeStoredName(const std::string& stored, const std::string& fallback) {
  if (stored.empty() || stored == "." || stored == ".." ||
      stored.find_first_of("/\\") != std::string::npos || HasControlCharacter(stored)) {
    return fallback;
  }
  return stored;
}

// --- TSealer -------------------------------------------------------------

TSealer::TSealer(std::string passphrase, TSealParameters parameters)
    : passphrase_(std::move(passphrase)), parameters_(parameters) {
  CheckSealPassphrase(passphrase_);
  EnsureSodium();
  randombytes_buf(salt_.data(), salt_.size());
}

const TSealKey& TSealer::Key() {
  if (!key_) key_ = Derive(passphrase_, salt_, parameters_);
  return *key_;
}

void TSealer::SealTo(TStream& content, const TSealedFileInfo& info, TStream& out) {
  if (info.name.size() > kMaxStoredName) {
    throw Exception(FormatMessage("The name %s is too long to seal", info.name.c_str()));
  }
  const auto ciphertextLength = CiphertextLength(info.name.size(), info.size);
  if (!ciphertextLength || *ciphertextLength > UINT64_MAX - kClearBytes) {
    throw Exception(FormatMessage("%s is too large to seal", info.name.c_str()));
  }
  const TSealKey& key = Key();
  const uint64_t containerLength = kClearBytes + *ciphertextLength;
  const auto [width, height] = SealedPictureSize(containerLength);

  TPullState state;
  uint8_t streamHeader[kStreamHeaderBytes];
  crypto_secretstream_xchacha20poly1305_init_push(&state, streamHeader, key.data());
  const auto bmp = EncodeBmpHeader(width, height);
  const auto clear = EncodeClear(parameters_, salt_, streamHeader, *ciphertextLength);
  out.WriteBuffer(bmp.data(), bmp.size());
  out.WriteBuffer(clear.data(), clear.size());

  std::vector<uint8_t> plain = EncodeRecord(info);
  std::vector<uint8_t> sealed(std::max(plain.size(), kSealMessageBytes) + kTagBytes);
  unsigned long long sealedBytes = 0;
  crypto_secretstream_xchacha20poly1305_push(&state, sealed.data(), &sealedBytes, plain.data(),
                                             plain.size(), clear.data(), clear.size(),
                                             crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
  out.WriteBuffer(sealed.data(), sealedBytes);

  plain.resize(kSealMessageBytes);
  uint64_t left = info.size;
  do {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, kSealMessageBytes));
    if (ReadUpTo(content, plain.data(), chunk) != chunk) {
      throw EReadError(FormatMessage("%s changed while it was sealed", info.name.c_str()));
    }
    left -= chunk;
    const uint8_t tag = left == 0 ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
                                  : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE;
    crypto_secretstream_xchacha20poly1305_push(&state, sealed.data(), &sealedBytes, plain.data(),
                                               chunk, nullptr, 0, tag);
    out.WriteBuffer(sealed.data(), sealedBytes);
  } while (left > 0);
  uint8_t more;
  if (content.Read(&more, 1) != 0) {
    throw EReadError(FormatMessage("%s changed while it was sealed", info.name.c_str()));
  }
  sodium_memzero(&state, sizeof state);

  // Noise up to the end of the last row.
  uint64_t padding = RowStride(width) * height - containerLength;
  while (padding > 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(padding, plain.size()));
    randombytes_buf(plain.data(), chunk);
    out.WriteBuffer(plain.data(), chunk);
    padding -= chunk;
  }
}

void TSealer::SealFileTo(const std::string& source, TStream& out) {
  struct stat status {};
  if (::stat(source.c_str(), &status) != 0) {
    throw EFOpenError(FormatMessage("Cannot open file %s", source.c_str()));
  }
  // Devices and pipes could block or never end.
  if (!S_ISREG(status.st_mode)) {
    throw Exception(FormatMessage("%s is not a regular file", source.c_str()));
  }
  TSealedFileInfo info;
  info.name = fs::path(source).filename().string();
  info.size = static_cast<uint64_t>(status.st_size);
  info.modified = static_cast<int64_t>(status.st_mtim.tv_sec);
  info.permissions = static_cast<uint32_t>(status.st_mode & 07777);
  TFileStream content(source, TFileStream::Mode::OpenRead);
  SealTo(content, info, out);
}

void TSealer::Test(const std::string& source) {
  TDiscardStream discard;
  SealFileTo(source, discard);
}

void TSealer::Seal(const std::string& source, const std::string& target, TExistingFile existing) {
  // The source is checked before the target is created.
  struct stat status {};
  if (::stat(source.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    throw Exception(FormatMessage("%s is not a regular file", source.c_str()));
  }
  WriteFileAtomically(
      target, [&](TStream& out) { SealFileTo(source, out); }, existing);
}

// --- TUnsealer -----------------------------------------------------------

const TSealKey& TUnsealer::KeyFor(const TSealHeader& header) {
  const auto id = std::make_pair(header.salt, header.parameters);
  auto found = keys_.find(id);
  if (found == keys_.end()) {
    TSealKey key;
    try {
      key = Derive(passphrase_, header.salt, header.parameters);
    } catch (const EOutOfResources&) {
      throw ESealRefused();
    }
    found = keys_.emplace(id, key).first;
  }
  return found->second;
}

TUnsealer::TOpened TUnsealer::Open(TStream& in) {
  TSealHeader header = ReadSealHeader(in);
  const TSealParameters& p = header.parameters;
  if (p.opslimit > kSealLimits.opslimit || p.memlimitKiB > kSealLimits.memlimitKiB ||
      p.opslimit < kMinOpslimit || p.memlimitKiB < kMinMemlimitKiB) {
    throw ESealRefused();
  }
  return TOpened(in, header, KeyFor(header));
}

TUnsealer::TOpened::TOpened(TStream& in, TSealHeader header, const TSealKey& key)
    : in_(&in), header_(header) {
  uint8_t clear[kClearBytes];
  in.Seek(kBmpHeaderBytes);
  ReadOrRefuse(in, clear, sizeof clear);
  TPullState state;
  if (crypto_secretstream_xchacha20poly1305_init_pull(&state, clear + 36, key.data()) != 0) {
    throw ESealRefused();
  }

  // The record's length is not stored, so each name length that fits is tried.
  const size_t most = static_cast<size_t>(
      std::min<uint64_t>(header.ciphertextLength, kRecordFixedBytes + kMaxStoredName + kTagBytes));
  std::vector<uint8_t> sealed(most);
  ReadOrRefuse(in, sealed.data(), most);
  std::vector<uint8_t> record(most);
  for (size_t nameBytes = 0; kRecordFixedBytes + nameBytes + kTagBytes <= most; ++nameBytes) {
    const size_t sealedBytes = kRecordFixedBytes + nameBytes + kTagBytes;
    TPullState attempt = state;
    unsigned long long recordBytes = 0;
    unsigned char tag = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(&attempt, record.data(), &recordBytes, &tag,
                                                   sealed.data(), sealedBytes, clear,
                                                   sizeof clear) != 0) {
      continue;
    }
    if (tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE ||
        GetLE(record.data(), 2) != nameBytes) {
      throw ESealRefused();
    }
    const uint8_t* at = record.data() + 2;
    info_.name.assign(reinterpret_cast<const char*>(at), nameBytes);
    at += nameBytes;
    info_.size = GetLE(at, 8);
    info_.modified = static_cast<int64_t>(GetLE(at + 8, 8));
    info_.permissions = static_cast<uint32_t>(GetLE(at + 16, 4));
    // The rest of the ciphertext must be exactly the content's messages.
    if (CiphertextLength(nameBytes, info_.size) != header.ciphertextLength) throw ESealRefused();
    remaining_ = header.ciphertextLength - sealedBytes;
    static_assert(sizeof attempt <= sizeof state_);
    std::memcpy(state_.data(), &attempt, sizeof attempt);
    sodium_memzero(&state, sizeof state);
    in.Seek(static_cast<int64_t>(kBmpHeaderBytes + kClearBytes + sealedBytes));
    return;
  }
  throw ESealRefused();
}

void TUnsealer::TOpened::CopyContent(TStream& out) {
  if (copied_) throw ESealRefused();
  copied_ = true;
  TPullState state;
  std::memcpy(&state, state_.data(), sizeof state);
  std::vector<uint8_t> sealed(kSealMessageBytes + kTagBytes);
  std::vector<uint8_t> plain(kSealMessageBytes);
  uint64_t left = info_.size;
  do {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, kSealMessageBytes));
    ReadOrRefuse(*in_, sealed.data(), chunk + kTagBytes);
    unsigned long long plainBytes = 0;
    unsigned char tag = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(&state, plain.data(), &plainBytes, &tag,
                                                   sealed.data(), chunk + kTagBytes, nullptr,
                                                   0) != 0) {
      throw ESealRefused();
    }
    left -= chunk;
    const unsigned char expected = left == 0 ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
                                             : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE;
    if (tag != expected || plainBytes != chunk) throw ESealRefused();
    out.WriteBuffer(plain.data(), chunk);
  } while (left > 0);
  sodium_memzero(&state, sizeof state);
  sodium_memzero(plain.data(), plain.size());
}

std::string TUnsealer::Unseal(const std::string& source, const std::string& folder,
                              const std::string& fallbackName, TExistingFile existing,
                              const std::function<void(const std::string& name)>& check) {
  TFileStream in(source, TFileStream::Mode::OpenRead);
  TOpened opened = Open(in);
  const std::string name = SafeStoredName(opened.Info().name, fallbackName);
  if (check) check(name);
  TFileAttributes attributes;
  attributes.permissions = opened.Info().permissions;
  attributes.modified = opened.Info().modified;
  WriteFileAtomically((fs::path(folder.empty() ? "." : folder) / name).string(),
                      [&](TStream& out) { opened.CopyContent(out); }, existing, attributes);
  return name;
}

TSealedFileInfo TUnsealer::Verify(const std::string& source) {
  TFileStream in(source, TFileStream::Mode::OpenRead);
  TOpened opened = Open(in);
  TDiscardStream discard;
  opened.CopyContent(discard);
  return opened.Info();
}

}  // namespace quorvex
