#pragma once

// Sealed files: whole files encrypted with a passphrase (Argon2id and the
// XChaCha20-Poly1305 secret stream of libsodium), stored as a 24-bit BMP
// whose pixels are the container followed by random bytes.
//
// Layout of the container, from offset 54 of the BMP:
//   "QVXSEAL1", version 1 (u8), algorithm 1 (u8), reserved 0 (u16),
//   opslimit (u32 LE), memlimit in KiB (u32 LE), salt (16), stream header (24),
//   ciphertext length (u64 LE), ciphertext.
// The first message of the stream is the metadata record (name, size,
// modification time, permission bits), authenticated together with every
// clear byte before the ciphertext; the content follows in messages of at
// most 1 MiB, the last one tagged final.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "picture/exceptions.h"
#include "picture/safe_file_writer.h"

namespace quorvex {

class TStream;

// Every failure to open a sealed file: authentication cannot tell a wrong
// passphrase from a damaged file.
inline constexpr const char* kSealRefusal =
    "The code does not open this sealed file, or the file is damaged.";

class ESealRefused : public Exception {
 public:
  ESealRefused() : Exception(kSealRefusal) {}
};

// A passphrase not good enough to seal with.
class EWeakPassphrase : public Exception {
 public:
  explicit EWeakPassphrase(const std::string& message) : Exception(message) {}
};

inline constexpr size_t kSaltBytes = 16;
inline constexpr size_t kKeyBytes = 32;
inline constexpr size_t kSealMessageBytes = size_t{1} << 20;
inline constexpr size_t kSealedPixelOffset = 54;
inline constexpr size_t kSealMinimumPassphrase = 8;

using TSalt = std::array<uint8_t, kSaltBytes>;
using TSealKey = std::array<uint8_t, kKeyBytes>;

// Argon2id cost: operations and memory in KiB.
struct TSealParameters {
  uint32_t opslimit = 3;
  uint32_t memlimitKiB = 262144;

  auto operator<=>(const TSealParameters&) const = default;
};

// What sealing uses; libsodium's "moderate".
inline constexpr TSealParameters kSealParameters{3, 262144};
// What unsealing accepts at most, so that a crafted file cannot make one
// derivation take minutes or gigabytes.
inline constexpr TSealParameters kSealLimits{10, 1048576};

// The clear part of a sealed file; readable without the passphrase.
struct TSealHeader {
  uint8_t version = 0;
  uint8_t algorithm = 0;
  TSealParameters parameters;
  TSalt salt{};
  uint64_t ciphertextLength = 0;
  uint32_t width = 0;  // of the BMP
  uint32_t height = 0;
};

// The metadata record: what unsealing restores besides the content.
struct TSealedFileInfo {
  std::string name;  // as stored; see SafeStoredName
  uint64_t size = 0;
  int64_t modified = 0;      // seconds since the epoch
  uint32_t permissions = 0;  // st_mode & 07777 of the original
};

// The BMP's dimensions for a container of this many bytes.
std::pair<uint32_t, uint32_t> SealedPictureSize(uint64_t containerLength);

// --- Key derivation ------------------------------------------------------

// Derives the key from the passphrase's bytes; raises on failure.
using TKeyDerivation =
    std::function<TSealKey(const std::string& passphrase, const TSalt&, TSealParameters)>;
// crypto_pwhash with Argon2id v1.3.
TSealKey DeriveSealKey(const std::string& passphrase, const TSalt& salt,
                       TSealParameters parameters);
// Replaces the derivation everywhere (tests count calls, fuzzing uses a
// fixed key); returns the one before. Empty restores DeriveSealKey.
TKeyDerivation SetKeyDerivation(TKeyDerivation derivation);

// --- Recognising and inspecting ------------------------------------------

// Raises EWeakPassphrase when the passphrase is too short or is the
// default code.
void CheckSealPassphrase(const std::string& passphrase);

// Whether the file is a BMP whose pixel data begins with the magic. A magic
// with a byte or two changed counts too, so that a damaged sealed file is
// refused instead of being taken for a scrambled picture.
bool IsSealedFile(const std::string& path);
bool IsSealedStream(TStream& stream);

// The clear header, checked for a supported version and algorithm, a BMP
// frame that fits the container, and a container that is all there.
// Raises ESealRefused otherwise. Needs no passphrase.
TSealHeader ReadSealHeader(TStream& stream);
TSealHeader ReadSealHeader(const std::string& path);

// The stored name when it is a plain file name; otherwise fallback. Path
// separators, ".", "..", control characters and an empty name are not.
std::string SafeStoredName(const std::string& stored, const std::string& fallback);

// --- Sealing -------------------------------------------------------------

// Seals files with one passphrase. The key is derived once, with a salt of
// its own, when the first file is sealed; every file gets its own stream.
class TSealer {
 public:
  // Raises EWeakPassphrase before anything is derived.
  explicit TSealer(std::string passphrase, TSealParameters parameters = kSealParameters);

  // Seals the regular file at source into target. The target is written
  // atomically and durably; EFileExists when it exists and is to be kept.
  void Seal(const std::string& source, const std::string& target,
            TExistingFile existing = TExistingFile::Replace);
  // Seals the regular file at source into out.
  void SealFileTo(const std::string& source, TStream& out);
  // Everything Seal does but the write; for runs that only test.
  void Test(const std::string& source);
  // Seals into any stream (content read from `content`, `info` stored).
  void SealTo(TStream& content, const TSealedFileInfo& info, TStream& out);

 private:
  const TSealKey& Key();

  std::string passphrase_;
  TSealParameters parameters_;
  TSalt salt_{};
  std::optional<TSealKey> key_;
};

// --- Unsealing -----------------------------------------------------------

// Opens sealed files with one passphrase, keeping every key it derives by
// salt and parameters, so that the files of one sealing run cost one
// derivation.
class TUnsealer {
 public:
  explicit TUnsealer(std::string passphrase) : passphrase_(std::move(passphrase)) {}

  // One sealed file, opened: the header is read and the metadata record
  // authenticated; the content is checked as it is copied.
  class TOpened {
   public:
    const TSealHeader& Header() const { return header_; }
    const TSealedFileInfo& Info() const { return info_; }
    // Writes the content to out; raises ESealRefused when any message fails,
    // is missing, out of order or followed by more ciphertext.
    void CopyContent(TStream& out);

   private:
    friend class TUnsealer;
    TOpened(TStream& in, TSealHeader header, const TSealKey& key);

    TStream* in_;
    TSealHeader header_;
    TSealedFileInfo info_;
    std::array<uint8_t, 52> state_{};  // libsodium's pull state
    uint64_t remaining_ = 0;           // ciphertext bytes after the metadata
    bool copied_ = false;
  };

  // Raises ESealRefused for anything that does not open, without deriving
  // when the parameters are beyond kSealLimits.
  TOpened Open(TStream& in);

  // Restores the file at source into folder under its stored name (or
  // fallbackName when that is not safe), with its modification time and
  // permission bits; returns the name written. Nothing is written when
  // anything fails; EFileExists when the target exists and is to be kept.
  // `check` sees the name before anything is written and may raise.
  std::string Unseal(const std::string& source, const std::string& folder,
                     const std::string& fallbackName, TExistingFile existing,
                     const std::function<void(const std::string& name)>& check = {});
  // Authenticates the whole file without writing; returns its stored info.
  TSealedFileInfo Verify(const std::string& source);

 private:
  const TSealKey& KeyFor(const TSealHeader& header);

  std::string passphrase_;
  std::map<std::pair<TSalt, TSealParameters>, TSealKey> keys_;
};

}  // namespace quorvex
