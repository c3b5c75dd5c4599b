#include "picture/safe_file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

#include "picture/graphic.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

[[noreturn]] void CannotCreate(const std::string& path) {
  throw EFCreateError(FormatMessage("Cannot create file %s", path.c_str()));
}

[[noreturn]] void AlreadyThere(const std::string& path) {
  throw EFileExists(FormatMessage("File %s already exists", path.c_str()));
}

// Flushing is not possible on some file systems; that is no failure.
bool Synced(int fd) {
  return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
}

// A short hidden name, so that targets of any allowed length can be written.
std::string TemporaryName() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = ".qvx";
  for (int i = 0; i < 10; ++i) name += kLetters[random() % (sizeof(kLetters) - 1)];
  return name;
}

// Linking a nameless file by its descriptor goes through /proc.
bool CanLinkDescriptors() {
  static const bool available = ::access("/proc/self/fd", X_OK) == 0;
  return available;
}

class TDescriptor {
 public:
  explicit TDescriptor(int fd) : fd_(fd) {}
  ~TDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// The new file while it is written: nameless where the file system allows
// it, so that nothing partial survives a killed process; elsewhere under a
// short hidden name that is removed on failure.
class TPendingFile {
 public:
  TPendingFile(int folder, const std::string& path) : folder_(folder) {
    if (CanLinkDescriptors()) {
      fd_ = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    }
    for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
      temporary_ = TemporaryName();
      fd_ = ::openat(folder, temporary_.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
      temporary_.clear();
      CannotCreate(path);
    }
  }
  ~TPendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlinkat(folder_, temporary_.c_str(), 0);
  }
  TPendingFile(const TPendingFile&) = delete;
  TPendingFile& operator=(const TPendingFile&) = delete;

  int Fd() const { return fd_; }

  // Gives the complete file its name.
  void Publish(const std::string& name, TExistingFile existing, const std::string& path) {
    if (temporary_.empty()) {
      if (existing == TExistingFile::Keep) {
        LinkNamelessAs(name, path);
        return;
      }
      LinkNamelessUnderTemporaryName(path);
    } else if (existing == TExistingFile::Keep) {
      // A second name beside the temporary one, refused when taken.
      if (::linkat(folder_, temporary_.c_str(), folder_, name.c_str(), 0) == 0) return;
      if (errno == EEXIST) AlreadyThere(path);
      if (::renameat2(folder_, temporary_.c_str(), folder_, name.c_str(), RENAME_NOREPLACE) == 0) {
        temporary_.clear();
        return;
      }
      if (errno == EEXIST) AlreadyThere(path);
      CannotCreate(path);
    }
    if (::renameat(folder_, temporary_.c_str(), folder_, name.c_str()) != 0) CannotCreate(path);
    temporary_.clear();
  }

 private:
  bool LinkNameless(const std::string& as) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    return ::linkat(AT_FDCWD, self.c_str(), folder_, as.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }

  void LinkNamelessAs(const std::string& name, const std::string& path) {
    if (LinkNameless(name)) return;
    if (errno == EEXIST) AlreadyThere(path);
    CannotCreate(path);
  }

  // Only a rename replaces, so the file takes a temporary name first.
  void LinkNamelessUnderTemporaryName(const std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string candidate = TemporaryName();
      if (LinkNameless(candidate)) {
        temporary_ = candidate;
        return;
      }
      if (errno != EEXIST) break;
    }
    CannotCreate(path);
  }

  int folder_;
  int fd_ = -1;
  std::string temporary_;
};

// Starts the disk writes of what has been written every few megabytes, so
// that they go on while the rest is made and the final flush waits for
// little more than the last stretch. Only a hint: the flush still decides.
class TWritebackStream : public TDescriptorStream {
 public:
  using TDescriptorStream::TDescriptorStream;

  size_t Write(const void* buffer, size_t count) override {
    const size_t done = TDescriptorStream::Write(buffer, count);
    if (position_ - started_ >= kStretch) {
      ::sync_file_range(fd_, started_, position_ - started_, SYNC_FILE_RANGE_WRITE);
      started_ = position_;
    }
    return done;
  }

 private:
  static constexpr int64_t kStretch = int64_t{8} << 20;
  int64_t started_ = 0;
};

// Set bits beyond rwx are never restored: a restored file must not gain
// privileges its new owner did not give it.
void ApplyAttributes(int fd, const TFileAttributes& attributes, const std::string& path) {
  if (attributes.permissions && ::fchmod(fd, *attributes.permissions & 0777) != 0) {
    CannotCreate(path);
  }
  if (attributes.modified) {
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*attributes.modified), 0}};
    if (::futimens(fd, times) != 0) CannotCreate(path);
  }
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::function<void(TStream&)>& write,
                         TExistingFile existing, const TFileAttributes& attributes) {
  const std::filesystem::path target(path);
  const std::string name = target.filename().string();
  const std::string folderPath = target.has_parent_path() ? target.parent_path().string() : ".";
  if (name.empty() || name == "." || name == "..") CannotCreate(path);
  const TDescriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() < 0) CannotCreate(path);

  TPendingFile file(folder.Get(), path);
  {
    TWritebackStream stream(file.Fd());
    write(stream);
  }
  ApplyAttributes(file.Fd(), attributes, path);
  if (!Synced(file.Fd())) throw EWriteError(kStreamWriteError);
  file.Publish(name, existing, path);
  // The new name is durable only once the folder is.
  if (!Synced(folder.Get())) throw EWriteError(kStreamWriteError);
}

void SaveFileAtomically(const TGraphic& graphic, const std::string& path, TExistingFile existing) {
  WriteFileAtomically(
      path, [&](TStream& stream) { graphic.WriteToStream(stream); }, existing);
}

}  // namespace quorvex
