#include "cli/cli.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "picture/bitmap.h"
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

// A FIFO among the files must neither hang the run nor stop the files after it.
TEST_F(Cli, AFifoIsReportedAsAFileThatCannotBeOpened) {
  ASSERT_EQ(::mkfifo(Path("pipe.jpg").c_str(), 0600), 0);
  EXPECT_EQ(Run({"info", Path("pipe.jpg")}), 1);
  EXPECT_NE(err_.find("Cannot open file " + Path("pipe.jpg")), std::string::npos) << err_;

  fs::create_directory(Path("out"));
  EXPECT_EQ(Run({"encrypt", "--dest", Path("out"), Path("pipe.jpg"), Path("a.bmp")}), 1);
  EXPECT_EQ(err_, " ERROR (Cannot open file " + Path("pipe.jpg") + ") while processing pipe.jpg\n");
  EXPECT_EQ(Listing(Path("out")), std::vector<std::string>{"Ecr_a.bmp"});
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

TEST_F(Cli, DefaultCodeAndOutputReplacesAnExistingFile) {
  fs::create_directory(Path("out"));
  test::WriteFileBytes(Path("out/Ecr_b.bmp"), {1, 2, 3});
  ASSERT_EQ(Run({"encrypt", "--dest", Path("out"), Path("b.bmp")}), 0);
  ASSERT_EQ(Run({"decrypt", "--code", "614052", "--dest", Path("out"), Path("out/Ecr_b.bmp")}), 0);
  EXPECT_EQ(Storage(Path("out/b.bmp")), Storage(Path("b.bmp")));
}

TEST_F(Cli, InfoAndDecode) {
  EXPECT_EQ(Run({"info", Path("a.bmp"), Path("damaged.bmp")}), 1);
  EXPECT_EQ(out_, Path("a.bmp") + ": TBitmap Bits8 127x64 palette 252\n");
  EXPECT_EQ(err_, " ERROR (Stream read error) while processing damaged.bmp\n");
  EXPECT_EQ(Run({"decode", Path("b.bmp"), Path("copy.bmp")}), 0);
  EXPECT_EQ(Storage(Path("copy.bmp")), Storage(Path("b.bmp")));
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
