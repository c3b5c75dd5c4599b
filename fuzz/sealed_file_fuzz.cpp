#include <cstddef>
#include <cstdint>

#include "picture/exceptions.h"
#include "picture/stream.h"
#include "sealed_file_fuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quorvex::fuzz::UseFixedSealKey();
  return 0;
}

// Reads arbitrary bytes as a sealed file and unseals what opens.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorvex::TMemoryStream stream(data, size);
  try {
    if (!quorvex::IsSealedStream(stream)) return 0;
    quorvex::TUnsealer unsealer(quorvex::fuzz::kSealedFilePassphrase);
    auto opened = unsealer.Open(stream);
    quorvex::TMemoryStream out;
    opened.CopyContent(out);
    if (out.Bytes().size() != opened.Info().size) __builtin_trap();
  } catch (const quorvex::Exception&) {
  }
  return 0;
}
