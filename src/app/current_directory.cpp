#include "app/current_directory.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QStorageInfo>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>

namespace quorvex {

namespace {

std::map<std::string, std::string>& Remembered() {
  static std::map<std::string, std::string> remembered;
  return remembered;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsBelow(const std::string& path, const std::string& root) {
  if (root == "/") return true;
  return path == root || StartsWith(path, root + "/");
}

bool IsPseudoFileSystem(const QStorageInfo& volume) {
  static const char* const kinds[] = {
      "proc",     "sysfs",      "devtmpfs", "devpts",   "cgroup",          "cgroup2",
      "mqueue",   "securityfs", "debugfs",  "tracefs",  "pstore",          "bpf",
      "autofs",   "hugetlbfs",  "fusectl",  "configfs", "binfmt_misc",     "nsfs",
      "efivarfs", "rpc_pipefs", "ramfs",    "squashfs", "fuse.gvfsd-fuse", "fuse.portal"};
  const std::string type = volume.fileSystemType().toStdString();
  for (const char* kind : kinds) {
    if (type == kind) return true;
  }
  const std::string root = volume.rootPath().toStdString();
  for (const char* system : {"/proc", "/sys", "/dev", "/run", "/snap", "/boot/efi"}) {
    if (IsBelow(root, system) && !IsBelow(root, "/run/media")) return true;
  }
  return false;
}

DriveKind KindOf(const QStorageInfo& volume) {
  const std::string type = volume.fileSystemType().toStdString();
  for (const char* network : {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "9p"}) {
    if (type == network) return DriveKind::Network;
  }
  if (type == "iso9660" || type == "udf") return DriveKind::Optical;
  const std::string root = volume.rootPath().toStdString();
  if (IsBelow(root, "/media") || IsBelow(root, "/run/media") || IsBelow(root, "/mnt")) {
    return DriveKind::Removable;
  }
  return DriveKind::Fixed;
}

}  // namespace

std::string InOutErrorMessage(int code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return FormatMessage("I/O error %d", code);
  }
}

int InOutErrorCode(int errnoValue) {
  switch (errnoValue) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
      return 5;
    case ENOSPC:
      return 101;
    default:
      return errnoValue;
  }
}

std::string GetCurrentDirectoryPath() {
  std::string buffer(4096, '\0');
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) {
      const int code = InOutErrorCode(errno);
      throw EInOutError(code, InOutErrorMessage(code));
    }
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find('\0'));
  return buffer;
}

void SetCurrentDirectoryPath(const std::string& path) {
  if (path.empty() || chdir(path.c_str()) != 0) {
    const int code = path.empty() ? 2 : InOutErrorCode(errno);
    throw EInOutError(code, InOutErrorMessage(code));
  }
  const std::string current = GetCurrentDirectoryPath();
  Remembered()[DriveOf(current)] = current;
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void EnsureCurrentDirectory() {
  try {
    GetCurrentDirectoryPath();
    return;
  } catch (const EInOutError&) {
  }
  try {
    SetCurrentDirectoryPath(QDir::homePath().toStdString());
  } catch (const EInOutError&) {
    SetCurrentDirectoryPath("/");
  }
}

std::vector<TDrive> MountedDrives() {
  std::vector<TDrive> drives;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!volume.isValid() || IsPseudoFileSystem(volume)) continue;
    const std::string root = volume.rootPath().toStdString();
    // Files mounted over files (a container's /etc/hosts) are no drives.
    if (!DirectoryExists(root)) continue;
    if (std::any_of(drives.begin(), drives.end(),
                    [&](const TDrive& d) { return d.root == root; })) {
      continue;
    }
    TDrive drive;
    drive.root = root;
    drive.label = volume.name().toStdString();
    drive.kind = KindOf(volume);
    if (drive.kind == DriveKind::Network) drive.remote = volume.device().toStdString();
    drives.push_back(std::move(drive));
  }
  std::string current;
  try {
    current = DriveOf(GetCurrentDirectoryPath());
  } catch (const EInOutError&) {
  }
  if (!current.empty() && std::none_of(drives.begin(), drives.end(),
                                       [&](const TDrive& d) { return d.root == current; })) {
    TDrive drive;
    drive.root = current;
    drives.push_back(drive);
  }
  std::sort(drives.begin(), drives.end(),
            [](const TDrive& a, const TDrive& b) { return a.root < b.root; });
  return drives;
}

std::string DriveOf(const std::string& path) {
  const QStorageInfo volume(QString::fromStdString(path));
  if (!volume.isValid()) return "/";
  return volume.rootPath().toStdString();
}

std::string RememberedDirectory(const std::string& drive) {
  const auto it = Remembered().find(drive);
  if (it != Remembered().end() && DirectoryExists(it->second)) return it->second;
  return drive;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::vector<std::string> ListEntries(const std::string& folder, EntryKind kind) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().native();
    if (name.empty() || name[0] == '.') continue;
    std::error_code statError;
    const fs::file_status status = fs::status(it->path(), statError);
    const bool wanted =
        kind == EntryKind::Folders ? fs::is_directory(status) : fs::is_regular_file(status);
    if (!statError && wanted) names.push_back(name);
  }
  return names;
}

}  // namespace quorvex
