#include <cstddef>
#include <cstdint>

#include "metafile_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvex::fuzz::FuzzMetafile(data, size, quorvex::fuzz::MetafileKind::Windows);
}
