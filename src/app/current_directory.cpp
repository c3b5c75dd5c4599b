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

namespace {

// The length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
size_t Utf8SequenceLength(const std::string& text, size_t at, char32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  size_t length = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

constexpr char16_t kEscapeBase = 0xDC00;

}  // namespace

QString DecodeFileName(const std::string& name) {
  QString text;
  text.reserve(static_cast<qsizetype>(name.size()));
  for (size_t at = 0; at < name.size();) {
    char32_t code = 0;
    const size_t length = Utf8SequenceLength(name, at, code);
    if (length == 0) {
      text += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(name[at])));
      ++at;
      continue;
    }
    text += QString::fromUcs4(&code, 1);
    at += length;
  }
  return text;
}

std::string EncodeFileName(const QString& text) {
  std::string name;
  name.reserve(static_cast<size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i].unicode();
    if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      AppendUtf8(name, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
      ++i;
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      name += static_cast<char>(unit - kEscapeBase);
    } else if (QChar::isSurrogate(unit)) {
      AppendUtf8(name, 0xFFFD);
    } else {
      AppendUtf8(name, unit);
    }
  }
  return name;
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
