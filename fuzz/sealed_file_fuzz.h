#pragma once

#include "core/sealed_file.h"

namespace quorvex::fuzz {

inline constexpr const char* kSealedFilePassphrase = "fuzzing passphrase";

// One fixed key whatever the salt and parameters: every input costs no
// derivation, and the fuzzer reaches the stream behind it.
inline void UseFixedSealKey() {
  SetKeyDerivation([](const std::string&, const TSalt&, TSealParameters) {
    TSealKey key;
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 7 + 1);
    return key;
  });
}

}  // namespace quorvex::fuzz
