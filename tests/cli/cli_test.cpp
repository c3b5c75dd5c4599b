#include "cli/cli.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "picture/bitmap.h"
#include "picture/picture_loader.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir();
    fs::copy_file(test::TestData("bmp/bmpsuite/g/pal8.bmp"), Path("a.bmp"));
    fs::copy_file(test::TestData("bmp/bmpsuite/g/rgb24.bmp"), Path("b.bmp"));
    test::WriteFileBytes(Path("damaged.bmp"), {'B', 'M', 1, 2, 3});
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  int Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = RunCli(args, out, err);
    out_ = out.str();
    err_ = err.str();
    return status;
  }

  static std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static std::vector<uint8_t> Storage(const std::string& path) {
    TBitmap bitmap;
    bitmap.LoadFile(path);
    return test::StorageBytes(bitmap);
  }

  // Any picture the program reads, as the program loads it.
  static std::vector<uint8_t> LoadedStorage(const std::string& path) {
    TPicture picture;
    std::unique_ptr<TBitmap> bitmap;
    LoadPicture(path, picture, bitmap);
    return test::StorageBytes(*bitmap);
  }

  std::string dir_, out_, err_;
};

TEST_F(Cli, EncryptThenDecryptRestoresThePixelStorage) {
  fs::create_directory(Path("out"));
  fs::create_directory(Path("back"));
  ASSERT_EQ(Run({"encrypt", "--code", "12345", "--dest", Path("out"), Path("a.bmp")}), 0) << err_;
  EXPECT_EQ(Listing(Path("out")), std::vector<std::string>{"Ecr_a.bmp"});
  EXPECT_EQ(out_, " Image saved as:  Ecr_a.bmp\n");
  EXPECT_NE(Storage(Path("out/Ecr_a.bmp")), Storage(Path("a.bmp")));

  ASSERT_EQ(Run({"decrypt", "--code", "12345", "--dest", Path("back"), Path("out/Ecr_a.bmp")}), 0);
  EXPECT_EQ(Listing(Path("back")), std::vector<std::string>{"a.bmp"});
  EXPECT_EQ(Storage(Path("back/a.bmp")), Storage(Path("a.bmp")));
  EXPECT_TRUE(fs::exists(Path("out/Ecr_a.bmp")));  // save mode keeps the source
}

TEST_F(Cli, EachFailureIsReportedKeepsTheSourceAndLeavesNoPartialFile) {
  fs::create_directory(Path("out"));
  const struct {
    std::vector<std::string> args;
    std::string errorLine;
  } cases[] = {
      {{"encrypt", "--mode", "delete", "--dest", Path("out"), Path("missing.bmp")},
       " ERROR (Cannot open file " + Path("missing.bmp") + ") while processing missing.bmp\n"},
      {{"encrypt", "--mode", "delete", "--dest", Path("nowhere"), Path("a.bmp")},
       " ERROR (Cannot create file " + Path("nowhere") + "/Ecr_a.bmp) while processing a.bmp\n"},
      {{"encrypt", "--mode", "delete", "--dest", Path("b.bmp"), Path("a.bmp")},
       " ERROR (Cannot create file " + Path("b.bmp") + "/Ecr_a.bmp) while processing a.bmp\n"},
      {{"decrypt", "--mode", "delete", "--dest", Path("out"), Path("damaged.bmp")},
       " ERROR (Stream read error) while processing damaged.bmp\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), 1);
    EXPECT_EQ(err_, c.errorLine);
    EXPECT_TRUE(Listing(Path("out")).empty());
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"a.bmp", "b.bmp", "damaged.bmp", "out"}));
  }
}

TEST_F(Cli, ModesDecideWhatIsWrittenAndWhatIsDeleted) {
  fs::create_directory(Path("out"));
  EXPECT_EQ(Run({"encrypt", "--mode", "test", "--dest", Path("out"), Path("a.bmp")}), 0);
  EXPECT_TRUE(Listing(Path("out")).empty());

  // One damaged file among good ones: the others are done, the status is 1.
  EXPECT_EQ(Run({"encrypt", "--mode", "delete", "--dest", Path("out"), Path("a.bmp"),
                 Path("damaged.bmp"), Path("b.bmp")}),
            1);
  EXPECT_EQ(Listing(Path("out")), (std::vector<std::string>{"Ecr_a.bmp", "Ecr_b.bmp"}));
  EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"damaged.bmp", "out"}));

  // Decrypting in place over the folder of its source.
  EXPECT_EQ(Run({"decrypt", "--mode", "delete", "--dest", Path("out"), Path("out/Ecr_a.bmp")}), 0);
  EXPECT_EQ(Listing(Path("out")), (std::vector<std::string>{"Ecr_b.bmp", "a.bmp"}));
}

TEST_F(Cli, ExistingFilesAreReplacedOnlyWithOverwrite) {
  fs::create_directory(Path("out"));
  test::WriteFileBytes(Path("out/Ecr_b.bmp"), {1, 2, 3});
  EXPECT_EQ(Run({"encrypt", "--dest", Path("out"), Path("b.bmp")}), 1);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_,
            " ERROR (Ecr_b.bmp already exists in the destination folder) while processing b.bmp\n");
  EXPECT_EQ(test::ReadFileBytes(Path("out/Ecr_b.bmp")), (std::vector<uint8_t>{1, 2, 3}));

  ASSERT_EQ(Run({"encrypt", "--overwrite", "--dest", Path("out"), Path("b.bmp")}), 0) << err_;
  fs::copy_file(Path("b.bmp"), Path("out/b.bmp"));
  const auto original = test::ReadFileBytes(Path("out/b.bmp"));

  // Decrypting with a wrong code into the folder that holds the original
  // leaves the original alone.
  EXPECT_EQ(Run({"decrypt", "--code", "1", "--mode", "delete", "--dest", Path("out"),
                 Path("out/Ecr_b.bmp")}),
            1);
  EXPECT_EQ(err_,
            " ERROR (b.bmp already exists in the destination folder) while processing Ecr_b.bmp\n");
  EXPECT_EQ(test::ReadFileBytes(Path("out/b.bmp")), original);
  EXPECT_TRUE(fs::exists(Path("out/Ecr_b.bmp")));

  // With --overwrite the original is replaced by a new file, never written
  // over in place: a hard link to the old one keeps the old content.
  ASSERT_EQ(::link(Path("out/b.bmp").c_str(), Path("old-b.bmp").c_str()), 0);
  ASSERT_EQ(Run({"decrypt", "--overwrite", "--dest", Path("out"), Path("out/Ecr_b.bmp")}), 0)
      << err_;
  EXPECT_EQ(out_, " Image saved as:  b.bmp\n");
  EXPECT_EQ(Storage(Path("out/b.bmp")), Storage(Path("b.bmp")));
  EXPECT_EQ(test::ReadFileBytes(Path("old-b.bmp")), original);
  EXPECT_FALSE(fs::equivalent(Path("out/b.bmp"), Path("old-b.bmp")));
  EXPECT_EQ(Listing(Path("out")), (std::vector<std::string>{"Ecr_b.bmp", "b.bmp"}));
}

// hopper.jpg and hopper.ico both give Ecr_hopper.bmp.
TEST_F(Cli, TwoSourcesWithOneOutputNameLoseNeitherPicture) {
  fs::copy_file(test::TestData("jpeg/hopper.jpg"), Path("hopper.jpg"));
  fs::copy_file(test::TestData("ico/hopper.ico"), Path("hopper.ico"));
  fs::create_directory(Path("out"));
  EXPECT_EQ(Run({"encrypt", "--mode", "delete", "--overwrite", "--dest", Path("out"),
                 Path("hopper.jpg"), Path("hopper.ico")}),
            1);
  EXPECT_EQ(out_, " Image saved as:  Ecr_hopper.bmp\n");
  EXPECT_EQ(err_,
            " ERROR (Ecr_hopper.bmp was already written from hopper.jpg in this run) while "
            "processing hopper.ico\n");
  EXPECT_FALSE(fs::exists(Path("hopper.jpg")));
  EXPECT_TRUE(fs::exists(Path("hopper.ico")));
  EXPECT_EQ(Listing(Path("out")), std::vector<std::string>{"Ecr_hopper.bmp"});
  ASSERT_EQ(Run({"decrypt", "--dest", Path("out"), Path("out/Ecr_hopper.bmp")}), 0) << err_;
  EXPECT_EQ(Storage(Path("out/hopper.bmp")), LoadedStorage(test::TestData("jpeg/hopper.jpg")));
  EXPECT_EQ(test::ReadFileBytes(Path("hopper.ico")),
            test::ReadFileBytes(test::TestData("ico/hopper.ico")));
}

TEST_F(Cli, CodesThatDoNotConvertStopTheRunBeforeAnyFile) {
  fs::create_directory(Path("out"));
  for (const std::string code : {"", "my secret", "99999999999", "-2147483649"}) {
    for (const char* command : {"encrypt", "decrypt"}) {
      EXPECT_EQ(
          Run({command, "--code", code, "--mode", "delete", "--dest", Path("out"), Path("a.bmp")}),
          2)
          << command << " " << code;
      EXPECT_EQ(err_, "quorvex-cli: '" + code + "' is not a valid integer value\n");
      EXPECT_EQ(out_, "");
      EXPECT_TRUE(Listing(Path("out")).empty());
      EXPECT_TRUE(fs::exists(Path("a.bmp")));
    }
  }
  // The edges of the range and hexadecimal codes are codes.
  for (const std::string code : {"-2147483648", "2147483647", "$7fffffff", "0"}) {
    EXPECT_EQ(Run({"encrypt", "--mode", "test", "--code", code, Path("a.bmp")}), 0) << code;
  }
}

TEST_F(Cli, ASourceThatCannotBeDeletedIsAnError) {
  fs::create_directory(Path("out"));
  // An immutable file where the file system allows it, else a folder
  // without write permission (which does not stop the superuser).
  const bool immutable = std::system(("chattr +i " + Path("a.bmp") + " 2>/dev/null").c_str()) == 0;
  if (!immutable) {
    if (::geteuid() == 0) GTEST_SKIP() << "neither chattr +i nor a read-only folder holds";
    fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::remove);
  }
  const int status =
      Run({"encrypt", "--mode", "delete", "--dest", Path("out"), Path("a.bmp"), Path("b.bmp")});
  if (immutable) {
    std::system(("chattr -i " + Path("a.bmp")).c_str());
  } else {
    fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::add);
  }
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out_, " Image saved as:  Ecr_a.bmp\n Image saved as:  Ecr_b.bmp\n");
  const std::string reason = immutable ? "Operation not permitted" : "Permission denied";
  EXPECT_EQ(err_, " ERROR (Cannot delete file " + Path("a.bmp") + ": " + reason +
                      ") while processing a.bmp\n" +
                      (immutable ? ""
                                 : " ERROR (Cannot delete file " + Path("b.bmp") + ": " + reason +
                                       ") while processing b.bmp\n"));
  EXPECT_TRUE(fs::exists(Path("a.bmp")));
  EXPECT_EQ(fs::exists(Path("b.bmp")), !immutable);
  EXPECT_EQ(Listing(Path("out")), (std::vector<std::string>{"Ecr_a.bmp", "Ecr_b.bmp"}));
}

// Past the file size limit the write fails for that file; the run goes on.
TEST_F(Cli, TheFileSizeLimitFailsOneFileWithoutEndingTheRun) {
  fs::create_directory(Path("out"));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // a.bmp (about 9 KB) fits under the limit, b.bmp (about 24 KB) does not.
    const rlimit limit{16384, 16384};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::ostringstream out, err;
    const int status =
        RunCli({"encrypt", "--dest", Path("out"), Path("b.bmp"), Path("a.bmp")}, out, err);
    const bool reported = err.str() == " ERROR (Stream write error) while processing b.bmp\n";
    ::_exit(reported ? status : 100);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(Listing(Path("out")), std::vector<std::string>{"Ecr_a.bmp"});
}

TEST_F(Cli, InfoAndDecode) {
  EXPECT_EQ(Run({"info", Path("a.bmp"), Path("damaged.bmp")}), 1);
  EXPECT_EQ(out_, Path("a.bmp") + ": TBitmap Bits8 127x64 palette 252\n");
  EXPECT_EQ(err_, " ERROR (Stream read error) while processing damaged.bmp\n");
  EXPECT_EQ(Run({"decode", Path("b.bmp"), Path("copy.bmp")}), 0);
  EXPECT_EQ(Storage(Path("copy.bmp")), Storage(Path("b.bmp")));
}

TEST_F(Cli, DecodeOfAPictureThatLoadsEmptyWritesNothing) {
  // Tiles are not read yet: the load must fail rather than give a 0-byte file.
  EXPECT_EQ(Run({"decode", test::TestData("tiff/tiff_tiled_planar_raw.tif"), Path("out.bmp")}), 1);
  EXPECT_EQ(err_,
            " ERROR (Cannot load image. Invalid or unexpected TIF/TIFF image format.) while "
            "processing tiff_tiled_planar_raw.tif\n");
  EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

TEST_F(Cli, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"scramble", "a.bmp"},
      {"encrypt"},
      {"encrypt", "--mode", "fast", "a.bmp"},
      {"decrypt", "--code"},
      {"encrypt", "--colour", "red", "a.bmp"},
      {"decode", "a.bmp"},
      {"info"},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(Run(args), 2);
    EXPECT_NE(err_.find("usage:"), std::string::npos);
  }
}

}  // namespace
}  // namespace quorvex
