#include "picture/safe_file_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

class SafeFileWriter : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static void Write(const std::string& path, const std::string& text,
                    TExistingFile existing = TExistingFile::Replace) {
    WriteFileAtomically(
        path, [&](TStream& stream) { stream.WriteBuffer(text.data(), text.size()); }, existing);
  }

  static std::string Content(const std::string& path) {
    const auto bytes = test::ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
  }

  std::string dir_;
};

// What is at the target: kept as it is, or replaced by a regular file; a
// planted link is never followed.
TEST_F(SafeFileWriter, ExistingTargetsAreKeptOrReplacedButNeverFollowed) {
  struct Case {
    const char* label;
    void (*plant)(const std::string& target, const std::string& victim);
  };
  const Case cases[] = {
      {"file",
       [](const std::string& target, const std::string&) {
         test::WriteFileBytes(target, {'o', 'l', 'd'});
       }},
      {"link to a file", [](const std::string& target,
                            const std::string& victim) { fs::create_symlink(victim, target); }},
      {"dangling link",
       [](const std::string& target, const std::string& victim) {
         fs::create_symlink(victim + ".missing", target);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    const std::string target = Path("out.bmp");
    test::WriteFileBytes(Path("victim"), {'v'});
    c.plant(target, Path("victim"));
    const auto before = fs::symlink_status(target).type();

    EXPECT_THROW(Write(target, "new", TExistingFile::Keep), EFileExists);
    EXPECT_EQ(fs::symlink_status(target).type(), before);
    EXPECT_EQ(Content(Path("victim")), "v");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"out.bmp", "victim"}));

    Write(target, "new", TExistingFile::Replace);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
    EXPECT_EQ(Content(target), "new");
    EXPECT_EQ(Content(Path("victim")), "v");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"out.bmp", "victim"}));
  }
}

TEST_F(SafeFileWriter, NamesOfTheFullLengthAreWritten) {
  const std::string name = "Ecr_" + std::string(247, 'n') + ".bmp";
  ASSERT_EQ(name.size(), 255u);
  Write(Path(name), "first", TExistingFile::Keep);
  Write(Path(name), "second", TExistingFile::Replace);
  EXPECT_EQ(Content(Path(name)), "second");
  EXPECT_EQ(Listing(), std::vector<std::string>{name});
}

TEST_F(SafeFileWriter, AFailedWriteLeavesTheTargetAndNoOtherFile) {
  test::WriteFileBytes(Path("out.bmp"), {'o', 'l', 'd'});
  for (const TExistingFile existing : {TExistingFile::Replace, TExistingFile::Keep}) {
    EXPECT_THROW(WriteFileAtomically(
                     Path("out.bmp"),
                     [](TStream& stream) {
                       stream.WriteBuffer("partial", 7);
                       throw EWriteError(kStreamWriteError);
                     },
                     existing),
                 EWriteError);
    EXPECT_EQ(Content(Path("out.bmp")), "old");
    EXPECT_EQ(Listing(), std::vector<std::string>{"out.bmp"});
  }
  EXPECT_THROW(Write(Path("missing/out.bmp"), "x"), EFCreateError);
  try {
    Write(Path("out.bmp/inner.bmp"), "x");
    ADD_FAILURE();
  } catch (const EFCreateError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot create file " + Path("out.bmp/inner.bmp"));
  }
}

// Killed half way, the process leaves neither a partial nor a hidden file.
TEST_F(SafeFileWriter, AKilledWriteLeavesNothingBehind) {
  for (const int signal : {SIGKILL, SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::signal(signal, SIG_DFL);
      const std::vector<uint8_t> chunk(1 << 20, 0x5A);
      Write(Path("out.bmp"), "");
      WriteFileAtomically(Path("out.bmp"), [&](TStream& stream) {
        for (int i = 0; i < 4; ++i) stream.WriteBuffer(chunk.data(), chunk.size());
        ::raise(signal);
      });
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(Listing(), std::vector<std::string>{"out.bmp"});
    EXPECT_EQ(fs::file_size(Path("out.bmp")), 0u);
  }
}

TEST_F(SafeFileWriter, PermissionsFollowTheUmaskWhichStaysAsItWas) {
  const mode_t saved = ::umask(0);
  for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{002}}) {
    ::umask(mask);
    for (const TExistingFile existing : {TExistingFile::Keep, TExistingFile::Replace}) {
      fs::remove(Path("out.bmp"));
      Write(Path("out.bmp"), "x", existing);
      struct stat st {};
      ASSERT_EQ(::stat(Path("out.bmp").c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << std::oct << mask;
      EXPECT_EQ(::umask(mask), mask);
    }
  }
  ::umask(saved);
}

}  // namespace
}  // namespace quorvex
