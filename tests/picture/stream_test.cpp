#include "picture/stream.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "picture/exceptions.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

TEST(Streams, ExactReadsThatComeUpShortFail) {
  TMemoryStream stream(std::vector<uint8_t>{1, 2, 3});
  uint8_t buffer[4];
  EXPECT_EQ(stream.Read(buffer, 4), 3u);  // a partial read is no failure
  stream.Seek(1);
  EXPECT_EQ(stream.ReadU16LE(), 0x0302);
  stream.Seek(0);
  try {
    stream.ReadBuffer(buffer, 4);
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  EXPECT_THROW(stream.Skip(10), EReadError);
}

TEST(Streams, FileStreamReadsWritesAndNamesTheFileOnFailure) {
  const std::string dir = test::MakeTempDir();
  const std::string path = dir + "/data";
  {
    TFileStream out(path, TFileStream::Mode::Create);
    out.WriteU32LE(0x04030201);
    EXPECT_EQ(out.Size(), 4);
  }
  TFileStream in(path, TFileStream::Mode::OpenRead);
  EXPECT_EQ(in.Size(), 4);
  EXPECT_EQ(in.ReadU32BE(), 0x01020304u);
  EXPECT_EQ(in.Remaining(), 0);
  try {
    TFileStream directory(dir, TFileStream::Mode::OpenRead);
    ADD_FAILURE();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file " + dir);
  }
  std::filesystem::remove_all(dir);
}

// A FIFO would block the open until a writer came, a device could stream
// forever: both fail at once as files that cannot be opened.
TEST(Streams, FileStreamOpensOnlyRegularFiles) {
  const std::string dir = test::MakeTempDir();
  const std::string fifo = dir + "/pipe.bmp";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    try {
      TFileStream stream(path, TFileStream::Mode::OpenRead);
      ADD_FAILURE() << path;
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Message(), "Cannot open file " + path);
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvex
