#pragma once

#include <string>
#include <vector>

#include "picture/exceptions.h"
#include "shell/file_name_text.h"

namespace quorvex {

// The runtime's input/output error, raised when a folder or drive cannot be
// made current. Its message follows the error number: 2 "File not found",
// 3 "Invalid filename", 4 "Too many open files", 5 "File access denied",
// 100 "Read beyond end of file", 101 "Disk full", 106 "Invalid numeric
// input", otherwise "I/O error %d".
class EInOutError : public Exception {
 public:
  EInOutError(int code, const std::string& message) : Exception(message), code_(code) {}
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

std::string InOutErrorMessage(int code);
// The runtime's error number for a failed system call's errno.
int InOutErrorCode(int errnoValue);

// The process's current directory: one process-wide path, shared by every
// browsing widget. Never with a trailing "/" except at the root.
std::string GetCurrentDirectoryPath();
// Makes `path` current (a relative path resolves against the current one);
// raises EInOutError on failure. Remembers the folder for its drive.
void SetCurrentDirectoryPath(const std::string& path);
bool DirectoryExists(const std::string& path);
// A process started in a folder that has since been removed has no current
// directory; the home folder (the root without one) becomes current.
void EnsureCurrentDirectory();

// Drives are the mounted volumes; a drive is named by its mount point.
enum class DriveKind { Fixed, Removable, Network, Optical };
struct TDrive {
  std::string root;    // the mount point, "/" or "/media/usb"
  std::string label;   // the volume label, may be empty
  std::string remote;  // network drives: the remote name
  DriveKind kind = DriveKind::Fixed;
};
// The volumes worth browsing, ordered by mount point; pseudo file systems
// are left out. The drive of the current directory is always among them.
std::vector<TDrive> MountedDrives();
// The mount point that holds `path`.
std::string DriveOf(const std::string& path);
// The folder last made current on `drive`, or the drive's root.
std::string RememberedDirectory(const std::string& drive);

// `folder` and `name` joined by one "/".
std::string JoinPath(const std::string& folder, const std::string& name);

// The names in `folder` of the files (or of the subfolders) that it holds,
// links followed, dot names left out, in no particular order. A folder that
// cannot be read holds nothing.
enum class EntryKind { Files, Folders };
std::vector<std::string> ListEntries(const std::string& folder, EntryKind kind);

}  // namespace quorvex
