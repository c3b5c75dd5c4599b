#include "cli/picture_tree.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "picture/exceptions.h"
#include "picture/file_format_list.h"

namespace quorvex {

namespace fs = std::filesystem;

namespace {

bool HasRegisteredExtension(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  if (extension.size() < 2) return false;
  extension.erase(0, 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto& entries = FileFormatList().Extensions();
  return std::any_of(entries.begin(), entries.end(),
                     [&](const auto& entry) { return entry->extension == extension; });
}

bool IsHidden(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name[0] == '.';
}

void Walk(const fs::path& folder, const std::string& relative, bool allFiles, TPictureTree& tree) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) {
    tree.errors.push_back({folder.string(), error.message()});
    return;
  }
  std::vector<fs::directory_entry> entries;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    entries.push_back(*it);
  }
  if (error) tree.errors.push_back({folder.string(), error.message()});
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });

  std::vector<fs::directory_entry> folders;
  for (const auto& entry : entries) {
    if (IsHidden(entry.path()) || entry.is_symlink(error)) continue;
    if (entry.is_directory(error)) {
      folders.push_back(entry);
    } else if (entry.is_regular_file(error) && (allFiles || IsPictureFile(entry.path().string()))) {
      tree.files.push_back({entry.path().string(), relative});
    }
  }
  for (const auto& entry : folders) {
    const std::string name = entry.path().filename().string();
    Walk(entry.path(), relative.empty() ? name : relative + "/" + name, allFiles, tree);
  }
}

}  // namespace

bool IsPictureFile(const std::string& path) {
  try {
    if (FileFormatList().DetectReader(path)) return true;
  } catch (const Exception&) {
    // Unreadable: taken by its extension, so that its failure is reported.
  }
  return HasRegisteredExtension(path);
}

TPictureTree WalkPictureTree(const std::string& root, bool allFiles) {
  TPictureTree tree;
  Walk(fs::path(root), "", allFiles, tree);
  return tree;
}

}  // namespace quorvex
