#include "picture/safe_file_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "picture/exceptions.h"
#include "picture/graphic.h"
#include "picture/stream.h"

namespace quorvex {

void WriteFileAtomically(const std::string& path, const std::function<void(TStream&)>& write) {
  const std::filesystem::path target(path);
  std::string temp =
      (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw EFCreateError(FormatMessage("Cannot create file %s", path.c_str()));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  try {
    {
      TFileStream stream(temp, TFileStream::Mode::Create);
      write(stream);
      stream.Flush();
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
      throw EFCreateError(FormatMessage("Cannot create file %s", path.c_str()));
    }
  } catch (...) {
    std::remove(temp.c_str());
    throw;
  }
}

void SaveFileAtomically(const TGraphic& graphic, const std::string& path) {
  WriteFileAtomically(path, [&](TStream& stream) { graphic.WriteToStream(stream); });
}

}  // namespace quorvex
