#include <cstdio>
#include <string>
#include <vector>

#include "picture/stream.h"
#include "sealed_file_fuzz.h"

// Writes the sealed-file seeds, sealed with the fuzz build's fixed key, into
// the folder given: an empty file, a short one and a longer one.
int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sealed_file_seeds FOLDER\n");
    return 2;
  }
  quorvex::fuzz::UseFixedSealKey();
  quorvex::TSealer sealer(quorvex::fuzz::kSealedFilePassphrase, {1, 8});
  const struct {
    const char* file;
    const char* name;
    size_t size;
  } seeds[] = {{"empty.bmp", "", 0}, {"short.bmp", "notes.txt", 40}, {"longer.bmp", "a.raw", 1100}};
  for (const auto& seed : seeds) {
    std::vector<uint8_t> bytes(seed.size);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31);
    quorvex::TMemoryStream content(bytes);
    quorvex::TMemoryStream out;
    sealer.SealTo(content, {seed.name, seed.size, 1700000000, 0644}, out);
    FILE* file = std::fopen((std::string(argv[1]) + "/" + seed.file).c_str(), "wb");
    if (!file ||
        std::fwrite(out.Bytes().data(), 1, out.Bytes().size(), file) != out.Bytes().size()) {
      return 1;
    }
    std::fclose(file);
  }
  return 0;
}
