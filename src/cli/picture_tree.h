#pragma once

#include <string>
#include <vector>

namespace quorvex {

// Whether the loader would read the file: a reader recognises its content,
// or its extension is registered (the loader's fallback).
bool IsPictureFile(const std::string& path);

struct TTreeFile {
  std::string source;
  std::string relativeFolder;  // its folder below the root; empty at the root
};

struct TTreeError {
  std::string path;
  std::string message;
};

struct TPictureTree {
  std::vector<TTreeFile> files;  // in name order, folder by folder
  std::vector<TTreeError> errors;
};

// The picture files below root (every regular file when allFiles is set,
// for sealing). Hidden entries (dot names) and symbolic links are skipped: a
// link can lead out of the tree or back into it, and anything it points to
// inside the tree is walked anyway.
TPictureTree WalkPictureTree(const std::string& root, bool allFiles = false);

}  // namespace quorvex
