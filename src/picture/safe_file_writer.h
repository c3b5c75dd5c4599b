#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "picture/exceptions.h"

namespace quorvex {

class TGraphic;
class TStream;

// What a write does when its target is already there.
enum class TExistingFile { Replace, Keep };

// Raised when a write that must keep an existing file finds one in place.
class EFileExists : public EFCreateError {
 public:
  explicit EFileExists(const std::string& message) : EFCreateError(message) {}
};

// Writes the graphic as a file without ever leaving a partial one: the data
// goes to a file that has no name until it is complete and on disk, then
// takes the target's name, and the folder is flushed too. A target that is
// a symbolic link is replaced, never followed. Permissions follow the
// process's umask. Failures raise EFCreateError or EWriteError, and
// EFileExists when the target exists and is to be kept.
void SaveFileAtomically(const TGraphic& graphic, const std::string& path,
                        TExistingFile existing = TExistingFile::Replace);

// What a restored file takes over from its original; set before the file
// is flushed, so that they are as durable as its content.
struct TFileAttributes {
  std::optional<uint32_t> permissions;  // the rwx bits for owner, group and others
  std::optional<int64_t> modified;      // seconds since the epoch
};

// The same for any content: `write` fills the new file's stream.
void WriteFileAtomically(const std::string& path, const std::function<void(TStream&)>& write,
                         TExistingFile existing = TExistingFile::Replace,
                         const TFileAttributes& attributes = {});

}  // namespace quorvex
