#include "core/output_names.h"

#include <gtest/gtest.h>

namespace quorvex {
namespace {

TEST(OutputNames, Encrypted) {
  const std::pair<const char*, const char*> cases[] = {
      {"photo.jpg", "Ecr_photo.bmp"},
      {"Ecr_photo.bmp", "Ecr_Ecr_photo.bmp"},
      {"archive.tar.gz", "Ecr_archive.tar.bmp"},
      {"noext", "Ecr_noext.bmp"},
      {".hidden", "Ecr_.bmp"},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(EncryptedOutputName(name), expected);
}

TEST(OutputNames, Decrypted) {
  const std::pair<const char*, const char*> cases[] = {
      {"Ecr_photo.bmp", "photo.bmp"},
      {"photo.bmp", "Dcr_photo.bmp"},
      {"ecr_photo.bmp", "Dcr_ecr_photo.bmp"},
      {"Ecr_", ""},
      {"Ecr", "Dcr_Ecr"},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(DecryptedOutputName(name), expected);
}

}  // namespace
}  // namespace quorvex
