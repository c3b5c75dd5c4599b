#include "cli/cli.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <regex.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "core/sealed_file.h"
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

  int Run(std::vector<std::string> args, const TCliConsole& console = TCliConsole::Detached()) {
    std::ostringstream out, err;
    const int status = RunCli(args, out, err, console);
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

// Pictures read through the formats' own libraries: palette (GIF), colour
// and alpha (WebP, HEIF, AVIF, JPEG 2000, JPEG XL) and grey (JPEG 2000).
TEST_F(Cli, PicturesReadThroughLibrariesComeBackAsTheirDirectDecode) {
  fs::create_directory(Path("out"));
  fs::create_directory(Path("back"));
  const std::pair<const char*, const char*> sources[] = {
      {"gif/hopper.gif", "palette.gif"},
      {"webp/hopper.webp", "colour.webp"},
      {"webp/transparent.webp", "alpha.webp"},
      {"heif/hopper.heif", "hopper.heif"},
      {"heif/transparency.avif", "transparency.avif"},
      {"jpeg2000/rgb_trns_ycbc.jp2", "rgb_trns_ycbc.jp2"},
      {"jpeg2000/00r0_gray_l.jp2", "00r0_gray_l.jp2"},
  };
  std::vector<std::string> names;
  for (const auto& [testData, name] : sources) {
    fs::copy_file(test::TestData(testData), Path(name));
    names.push_back(name);
  }
  // No JPEG XL samples are shared: one is made from a 16-bit PNG with alpha.
  names.push_back("basn6a16.jxl");
  const std::string png = test::TestData("png/pngsuite/basn6a16.png");
  ASSERT_EQ(
      std::system(("cjxl -d 0 '" + png + "' '" + Path(names.back()) + "' >/dev/null 2>&1").c_str()),
      0);
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    ASSERT_EQ(Run({"encrypt", "--code", "777", "--dest", Path("out"), Path(name)}), 0) << err_;
    const std::string stem = fs::path(name).stem().string();
    const std::string scrambled = Path("out/Ecr_" + stem + ".bmp");
    const std::vector<uint8_t> direct = LoadedStorage(Path(name));
    EXPECT_NE(Storage(scrambled), direct);
    ASSERT_EQ(Run({"decrypt", "--code", "777", "--dest", Path("back"), scrambled}), 0) << err_;
    EXPECT_EQ(Storage(Path("back/" + stem + ".bmp")), direct);
  }
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
  // A PCX header of an unknown maker: the load must fail rather than give a
  // 0-byte file.
  test::WriteFileBytes(Path("maker.pcx"), std::vector<uint8_t>(130, 0));
  EXPECT_EQ(Run({"decode", Path("maker.pcx"), Path("out.bmp")}), 1);
  EXPECT_EQ(err_,
            " ERROR (Cannot load image. Invalid or unexpected PCX image format.) while "
            "processing maker.pcx\n");
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
      {"encrypt", "-j", "0", "a.bmp"},
      {"encrypt", "--jobs=many", "a.bmp"},
      {"decrypt", "-j257", "a.bmp"},
      {"encrypt", "a.bmp", "-j"},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(Run(args), 2);
    EXPECT_NE(err_.find("usage:"), std::string::npos);
  }
}

TEST_F(Cli, HelpAndVersionGoToStandardOutputAndSucceed) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  } cases[] = {
      {{"--help"}, {"usage:", "encrypt", "decrypt", "info", "decode", "exit status:"}},
      {{"-h"}, {"usage:", "exit status:"}},
      {{"encrypt", "--help"},
       {"usage: quorvex-cli encrypt", "--code-file", "QUORVEX_CODE", "(ps)", "--recursive",
        "--json", "--quiet", "614052", "exit status:"}},
      {{"decrypt", "--code", "1", "-h", "a.bmp"}, {"usage: quorvex-cli decrypt", "--overwrite"}},
      {{"info", "-h"}, {"usage: quorvex-cli info"}},
      {{"decode", "--help"}, {"usage: quorvex-cli decode"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), 0) << c.args[0];
    EXPECT_EQ(err_, "");
    for (const auto& mention : c.mentions) {
      EXPECT_NE(out_.find(mention), std::string::npos) << c.args[0] << " lacks " << mention;
    }
  }
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(out_, std::string("quorvex-cli ") + QUORVEX_VERSION + "\n");
  // After "--" a name is a file, even one spelled like an option.
  EXPECT_EQ(Run({"encrypt", "--mode", "test", "--", "-h"}), 1);
  EXPECT_EQ(err_, " ERROR (Cannot open file -h) while processing -h\n");
}

// A console with a given environment and no terminal.
TCliConsole ConsoleWithEnvironment(std::map<std::string, std::string> environment) {
  TCliConsole console = TCliConsole::Detached();
  console.environment = [environment](const std::string& name) -> std::optional<std::string> {
    const auto it = environment.find(name);
    if (it == environment.end()) return std::nullopt;
    return it->second;
  };
  return console;
}

TEST_F(Cli, EverySourceOfTheCodeGivesTheSameFileAsCode) {
  test::WriteFileBytes(Path("code.txt"), {'1', '2', '3', '4', '5', '\n', '9', '\n'});
  test::WriteFileBytes(Path("crlf.txt"), {'1', '2', '3', '4', '5', '\r', '\n'});
  test::WriteFileBytes(Path("bare.txt"), {'1', '2', '3', '4', '5'});
  const auto encrypted = [&](std::vector<std::string> codeArgs, const TCliConsole& console) {
    fs::remove_all(Path("out"));
    fs::create_directory(Path("out"));
    std::vector<std::string> args = {"encrypt", "--dest", Path("out")};
    args.insert(args.end(), codeArgs.begin(), codeArgs.end());
    args.push_back(Path("a.bmp"));
    EXPECT_EQ(Run(args, console), 0) << err_;
    return test::ReadFileBytes(Path("out/Ecr_a.bmp"));
  };
  const TCliConsole none = ConsoleWithEnvironment({});
  const TCliConsole environment = ConsoleWithEnvironment({{"QUORVEX_CODE", "12345"}});
  const auto expected = encrypted({"--code", "12345"}, none);
  const struct {
    const char* what;
    std::vector<std::string> args;
    const TCliConsole& console;
  } sameCode[] = {
      {"code file", {"--code-file", Path("code.txt")}, none},
      {"code file, attached", {"--code-file=" + Path("code.txt")}, none},
      {"code file with CRLF", {"--code-file", Path("crlf.txt")}, none},
      {"code file without line end", {"--code-file", Path("bare.txt")}, none},
      {"environment", {}, environment},
      {"code file before environment",
       {"--code-file", Path("code.txt")},
       ConsoleWithEnvironment({{"QUORVEX_CODE", "7"}})},
  };
  for (const auto& c : sameCode) EXPECT_EQ(encrypted(c.args, c.console), expected) << c.what;

  // Without any source and without a terminal, the default code.
  EXPECT_EQ(encrypted({}, none), encrypted({"--code", "614052"}, none));
  EXPECT_NE(encrypted({"--code", "7"}, environment), expected);

  // Sources that fail stop the run before any file.
  test::WriteFileBytes(Path("empty.txt"), {});
  const struct {
    std::vector<std::string> args;
    std::string error;
  } failing[] = {
      {{"--code-file", Path("missing.txt")},
       "quorvex-cli: Cannot read code file " + Path("missing.txt") +
           ": No such file or directory\n"},
      {{"--code-file", Path("empty.txt")}, "quorvex-cli: '' is not a valid integer value\n"},
      {{"--code-file", Path("code.txt"), "--code", "1"}, ""},
  };
  for (const auto& c : failing) {
    fs::remove_all(Path("out"));
    fs::create_directory(Path("out"));
    std::vector<std::string> args = {"encrypt", "--dest", Path("out")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(Path("a.bmp"));
    EXPECT_EQ(Run(args, none), 2) << c.args[1];
    if (!c.error.empty()) {
      EXPECT_EQ(err_, c.error);
    }
    EXPECT_TRUE(Listing(Path("out")).empty());
  }
}

struct TerminalRun {
  int status = -1;
  std::string transcript;  // everything the program wrote to the terminal
};

// Runs the built program with a pseudo-terminal as its standard input,
// output and error, answering each prompt in turn as it appears.
TerminalRun RunOnTerminal(const std::vector<std::string>& args,
                          const std::vector<std::pair<std::string, std::string>>& answers,
                          const std::map<std::string, std::string>& environment = {}) {
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child < 0) return {};
  if (child == 0) {
    ::unsetenv("QUORVEX_CODE");
    for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv = {const_cast<char*>(QUORVEX_CLI_PROGRAM)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(QUORVEX_CLI_PROGRAM, argv.data());
    ::_exit(127);
  }
  TerminalRun run;
  size_t answered = 0;
  size_t searchFrom = 0;
  for (;;) {
    pollfd ready{terminal, POLLIN, 0};
    if (::poll(&ready, 1, 20000) <= 0) {
      ::kill(child, SIGKILL);  // waiting for input it will never get
      break;
    }
    char buffer[4096];
    const ssize_t n = ::read(terminal, buffer, sizeof buffer);
    if (n <= 0) break;
    run.transcript.append(buffer, static_cast<size_t>(n));
    while (answered < answers.size()) {
      const auto& [prompt, answer] = answers[answered];
      const size_t at = run.transcript.find(prompt, searchFrom);
      if (at == std::string::npos) break;
      searchFrom = at + prompt.size();
      const std::string line = answer + "\n";
      EXPECT_EQ(::write(terminal, line.data(), line.size()), static_cast<ssize_t>(line.size()));
      ++answered;
    }
  }
  ::close(terminal);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST_F(Cli, OnATerminalTheCodeIsAskedForWithoutEcho) {
  fs::create_directory(Path("reference"));
  ASSERT_EQ(Run({"encrypt", "--code", "24680", "--dest", Path("reference"), Path("a.bmp")}), 0);
  const auto expected = test::ReadFileBytes(Path("reference/Ecr_a.bmp"));

  fs::create_directory(Path("out"));
  const TerminalRun twice = RunOnTerminal({"encrypt", "--dest", Path("out"), Path("a.bmp")},
                                          {{"Code: ", "24680"}, {"Code again: ", "24680"}});
  EXPECT_EQ(twice.status, 0) << twice.transcript;
  EXPECT_EQ(twice.transcript.find("24680"), std::string::npos) << twice.transcript;
  EXPECT_EQ(test::ReadFileBytes(Path("out/Ecr_a.bmp")), expected);

  // Decrypting asks once.
  const TerminalRun once = RunOnTerminal(
      {"decrypt", "--dest", Path("out"), Path("reference/Ecr_a.bmp")}, {{"Code: ", "24680"}});
  EXPECT_EQ(once.status, 0) << once.transcript;
  EXPECT_EQ(once.transcript.find("Code again"), std::string::npos);
  EXPECT_EQ(Storage(Path("out/a.bmp")), Storage(Path("a.bmp")));

  // Entries that differ write nothing.
  fs::remove_all(Path("out"));
  fs::create_directory(Path("out"));
  const TerminalRun differ = RunOnTerminal({"encrypt", "--dest", Path("out"), Path("a.bmp")},
                                           {{"Code: ", "24680"}, {"Code again: ", "24681"}});
  EXPECT_EQ(differ.status, 2);
  EXPECT_NE(differ.transcript.find("quorvex-cli: the two codes differ"), std::string::npos);
  EXPECT_TRUE(Listing(Path("out")).empty());

  // The environment is a source: no prompt.
  const TerminalRun fromEnvironment = RunOnTerminal(
      {"encrypt", "--dest", Path("out"), Path("a.bmp")}, {}, {{"QUORVEX_CODE", "24680"}});
  EXPECT_EQ(fromEnvironment.status, 0) << fromEnvironment.transcript;
  EXPECT_EQ(fromEnvironment.transcript.find("Code"), std::string::npos);
  EXPECT_EQ(test::ReadFileBytes(Path("out/Ecr_a.bmp")), expected);
}

// An extended POSIX pattern found anywhere in `text`.
bool ContainsPattern(const std::string& text, const char* pattern) {
  regex_t compiled;
  if (regcomp(&compiled, pattern, REG_EXTENDED | REG_NOSUB) != 0) return false;
  const bool found = regexec(&compiled, text.c_str(), 0, nullptr, 0) == 0;
  regfree(&compiled);
  return found;
}

TEST_F(Cli, TheProgressLineIsDrawnOnlyOnATerminal) {
  fs::create_directory(Path("out"));
  const TerminalRun terminal = RunOnTerminal(
      {"encrypt", "--code", "5", "--dest", Path("out"), Path("a.bmp"), Path("b.bmp")}, {});
  EXPECT_EQ(terminal.status, 0) << terminal.transcript;
  EXPECT_NE(terminal.transcript.find("\r0 of 2 files\x1b[K"), std::string::npos);
  EXPECT_TRUE(ContainsPattern(terminal.transcript, "\r2 of 2 files, [0-9.]+ [kMG]?B/s, 0:00 left"))
      << terminal.transcript;
  // Each saved line starts on an emptied line.
  EXPECT_NE(terminal.transcript.find("\r\x1b[K Image saved as:  Ecr_b.bmp"), std::string::npos);

  // --quiet: nothing at all on success.
  fs::remove_all(Path("out"));
  fs::create_directory(Path("out"));
  const TerminalRun quiet = RunOnTerminal(
      {"encrypt", "-q", "--code", "5", "--dest", Path("out"), Path("a.bmp"), Path("b.bmp")}, {});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.transcript, "");

  // Standard error to a file: the lines only.
  fs::remove_all(Path("out"));
  fs::create_directory(Path("out"));
  const std::string command = std::string(QUORVEX_CLI_PROGRAM) + " encrypt --code 5 --dest " +
                              Path("out") + " " + Path("a.bmp") + " " + Path("damaged.bmp") + " >" +
                              Path("out.txt") + " 2>" + Path("err.txt") + " </dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1);
  const auto text = [&](const std::string& name) {
    const auto bytes = test::ReadFileBytes(Path(name));
    return std::string(bytes.begin(), bytes.end());
  };
  EXPECT_EQ(text("out.txt"), " Image saved as:  Ecr_a.bmp\n");
  EXPECT_EQ(text("err.txt"), " ERROR (Stream read error) while processing damaged.bmp\n");
}

TEST_F(Cli, RecursiveRunsTakeThePicturesOfTheTreeAndMirrorIt) {
  // tree/a.bmp, tree/sub/deep/hopper.jpg, tree/sub/scan (a PCX file without
  // extension), with a text file, hidden entries and links out of the tree.
  const std::string tree = Path("tree");
  fs::create_directories(tree + "/sub/deep");
  fs::create_directories(tree + "/.hidden");
  fs::create_directories(Path("outside"));
  fs::copy_file(Path("a.bmp"), tree + "/a.bmp");
  fs::copy_file(test::TestData("jpeg/hopper.jpg"), tree + "/sub/deep/hopper.jpg");
  fs::copy_file(test::TestData("pcx/odd_stride.pcx"), tree + "/sub/scan");
  test::WriteFileBytes(tree + "/sub/notes.txt", {'h', 'i', '\n'});
  fs::copy_file(Path("b.bmp"), tree + "/.hidden/b.bmp");
  fs::copy_file(Path("b.bmp"), tree + "/.b.bmp");
  fs::copy_file(Path("b.bmp"), Path("outside/c.bmp"));
  fs::create_directory_symlink(Path("outside"), tree + "/sub/out-link");
  fs::create_symlink(Path("outside/c.bmp"), tree + "/c.bmp");
  fs::create_directory(Path("out"));

  // Without -r a folder is an error line; the files are still done.
  EXPECT_EQ(Run({"encrypt", "--dest", Path("out"), tree, Path("a.bmp")}), 1);
  EXPECT_EQ(err_, " ERROR (tree is a folder (give -r to walk it)) while processing tree\n");
  EXPECT_EQ(Listing(Path("out")), std::vector<std::string>{"Ecr_a.bmp"});
  fs::remove(Path("out/Ecr_a.bmp"));

  // A test run makes no folders.
  EXPECT_EQ(Run({"encrypt", "-r", "--mode", "test", "--dest", Path("out"), tree}), 0) << err_;
  EXPECT_TRUE(Listing(Path("out")).empty());

  ASSERT_EQ(Run({"encrypt", "--recursive", "--code", "77", "--dest", Path("out"), tree}), 0)
      << err_;
  EXPECT_EQ(out_,
            " Image saved as:  Ecr_a.bmp\n Image saved as:  Ecr_scan.bmp\n"
            " Image saved as:  Ecr_hopper.bmp\n");
  std::vector<std::string> written;
  for (const auto& e : fs::recursive_directory_iterator(Path("out"))) {
    written.push_back(fs::relative(e.path(), Path("out")).string());
  }
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"Ecr_a.bmp", "sub", "sub/Ecr_scan.bmp", "sub/deep",
                                               "sub/deep/Ecr_hopper.bmp"}));

  // Decrypting the mirrored tree, deleting its sources, restores every picture.
  fs::create_directory(Path("back"));
  ASSERT_EQ(Run({"decrypt", "-r", "--code", "77", "--mode", "delete", "--dest", Path("back"),
                 Path("out")}),
            0)
      << err_;
  EXPECT_EQ(Storage(Path("back/a.bmp")), Storage(Path("a.bmp")));
  EXPECT_EQ(Storage(Path("back/sub/deep/hopper.bmp")),
            LoadedStorage(tree + "/sub/deep/hopper.jpg"));
  EXPECT_EQ(Storage(Path("back/sub/scan.bmp")), LoadedStorage(tree + "/sub/scan"));
  EXPECT_FALSE(fs::exists(Path("out/sub/deep/Ecr_hopper.bmp")));
  EXPECT_EQ(Listing(Path("outside")), std::vector<std::string>{"c.bmp"});
}

// Reads one flat JSON object of strings, strictly; \udcXX gives back byte XX.
std::optional<std::map<std::string, std::string>> ParseJsonObject(const std::string& text) {
  size_t i = 0;
  const auto skipSpace = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  const auto parseString = [&]() -> std::optional<std::string> {
    if (i >= text.size() || text[i] != '"') return std::nullopt;
    std::string value;
    for (++i; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == '"') {
        ++i;
        return value;
      }
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        value += static_cast<char>(c);
        continue;
      }
      if (++i >= text.size()) return std::nullopt;
      const std::map<char, char> simple = {{'"', '"'},  {'\\', '\\'}, {'/', '/'},  {'b', '\b'},
                                           {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'}};
      if (simple.count(text[i])) {
        value += simple.at(text[i]);
        continue;
      }
      if (text[i] != 'u' || i + 4 >= text.size()) return std::nullopt;
      const unsigned code = std::stoul(text.substr(i + 1, 4), nullptr, 16);
      i += 4;
      if (code >= 0xDC80 && code <= 0xDCFF) {
        value += static_cast<char>(code - 0xDC00);
      } else if (code < 0x80) {
        value += static_cast<char>(code);
      } else {
        return std::nullopt;  // the writer never needs other escapes
      }
    }
    return std::nullopt;
  };
  std::map<std::string, std::string> object;
  skipSpace();
  if (i >= text.size() || text[i++] != '{') return std::nullopt;
  for (;;) {
    skipSpace();
    const auto key = parseString();
    skipSpace();
    if (!key || i >= text.size() || text[i++] != ':') return std::nullopt;
    skipSpace();
    const auto value = parseString();
    if (!value) return std::nullopt;
    object[*key] = *value;
    skipSpace();
    if (i >= text.size()) return std::nullopt;
    if (text[i] == '}') break;
    if (text[i++] != ',') return std::nullopt;
  }
  return ++i == text.size() ? std::optional(object) : std::nullopt;
}

TEST_F(Cli, JsonGivesOneObjectPerFile) {
  // A name that is not UTF-8 and holds JSON's own quote and backslash, and
  // one in UTF-8 that stays as it is.
  const std::string odd = "odd\xff\"q\\\x01.bmp";
  const std::string accented = "\xc3\xa9t\xc3\xa9.bmp";
  fs::copy_file(Path("b.bmp"), Path(odd));
  fs::copy_file(Path("b.bmp"), Path(accented));
  fs::create_directory(Path("out"));
  ASSERT_EQ(Run({"encrypt", "--json", "--mode", "delete", "--dest", Path("out"), Path("a.bmp"),
                 Path("damaged.bmp"), Path(odd), Path(accented)}),
            1);
  const struct {
    std::string source, output, outcome, message;
  } expected[] = {
      {Path("a.bmp"), Path("out/Ecr_a.bmp"), "moved", ""},
      {Path("damaged.bmp"), "", "failed", "Stream read error"},
      {Path(odd), Path("out/Ecr_" + odd), "moved", ""},
      {Path(accented), Path("out/Ecr_" + accented), "moved", ""},
  };
  std::istringstream lines(out_);
  std::string line;
  for (const auto& e : expected) {
    ASSERT_TRUE(std::getline(lines, line));
    const auto object = ParseJsonObject(line);
    ASSERT_TRUE(object) << line;
    EXPECT_EQ(*object, (std::map<std::string, std::string>{{"source", e.source},
                                                           {"output", e.output},
                                                           {"outcome", e.outcome},
                                                           {"message", e.message}}));
    if (!e.output.empty()) {
      EXPECT_TRUE(fs::exists(e.output)) << e.output;
    }
  }
  EXPECT_FALSE(std::getline(lines, line)) << line;
  EXPECT_NE(out_.find(accented), std::string::npos);
  EXPECT_EQ(err_, " ERROR (Stream read error) while processing damaged.bmp\n");

  ASSERT_EQ(Run({"encrypt", "--json", "--mode", "test", Path("b.bmp")}), 0);
  EXPECT_EQ(
      ParseJsonObject(out_.substr(0, out_.size() - 1)),
      (std::map<std::string, std::string>{
          {"source", Path("b.bmp")}, {"output", ""}, {"outcome", "tested"}, {"message", ""}}));
}

// Several jobs print, write, delete and refuse exactly as one job does: the
// same lines in the same order, the same outputs byte for byte, the same
// collisions (hopper.jpg and hopper.ico, and one source given twice) and
// the same exit status.
TEST_F(Cli, ParallelJobsGiveWhatOneJobGives) {
  const std::vector<std::string> pictures = {"bmp/bmpsuite/g/pal1.bmp",
                                             "bmp/bmpsuite/g/pal4.bmp",
                                             "bmp/bmpsuite/g/pal8os2.bmp",
                                             "bmp/bmpsuite/g/rgb16.bmp",
                                             "bmp/bmpsuite/g/pal8topdown.bmp",
                                             "bmp/bmpsuite/g/rgb32bf.bmp",
                                             "jpeg/hopper.jpg",
                                             "ico/hopper.ico",
                                             "jpeg/flower.jpg",
                                             "png/pngsuite/basn2c08.png"};
  struct Outcome {
    int status;
    std::string out, err;
    std::map<std::string, std::vector<uint8_t>> outputs;
    std::vector<std::string> sourcesLeft;
  };
  const auto runWith = [&](const std::string& jobs) {
    const std::string sources = Path("src" + jobs);
    const std::string outputs = Path("out" + jobs);
    fs::create_directory(sources);
    fs::create_directory(outputs);
    std::vector<std::string> args = {"encrypt", "--json", "--mode", "delete",
                                     "-j",      jobs,     "--dest", outputs};
    for (const std::string& picture : pictures) {
      const std::string copy = sources + "/" + fs::path(picture).filename().string();
      fs::copy_file(test::TestData(picture), copy);
      args.push_back(copy);
    }
    fs::copy_file(Path("damaged.bmp"), sources + "/damaged.bmp");
    args.push_back(sources + "/damaged.bmp");
    args.push_back(sources + "/pal1.bmp");  // again: deleted by then
    args.push_back(sources + "/missing.bmp");
    Outcome outcome;
    outcome.status = Run(args);
    // Only the folder names differ between the runs.
    for (std::string* text : {&out_, &err_}) {
      for (const std::string& folder : {sources, outputs}) {
        for (size_t at; (at = text->find(folder)) != std::string::npos;) {
          text->replace(at, folder.size(), folder == sources ? "SRC" : "OUT");
        }
      }
    }
    outcome.out = out_;
    outcome.err = err_;
    for (const std::string& name : Listing(outputs)) {
      outcome.outputs[name] = test::ReadFileBytes(outputs + "/" + name);
    }
    outcome.sourcesLeft = Listing(sources);
    return outcome;
  };
  const Outcome one = runWith("1");
  EXPECT_EQ(one.status, 1);
  EXPECT_NE(one.err.find("Ecr_hopper.bmp was already written from hopper.jpg"), std::string::npos);
  EXPECT_GE(one.outputs.size(), 8u);
  for (const std::string jobs : {"2", "4", "16"}) {
    SCOPED_TRACE(jobs);
    const Outcome many = runWith(jobs);
    EXPECT_EQ(many.status, one.status);
    EXPECT_EQ(many.out, one.out);
    EXPECT_EQ(many.err, one.err);
    EXPECT_EQ(many.outputs, one.outputs);
    EXPECT_EQ(many.sourcesLeft, one.sourcesLeft);
  }
}

// The program itself loads Qt (icons, metafiles) and the HEIF, JPEG 2000
// and JPEG XL libraries only when the first such picture needs them, and
// parallel jobs meet there at once (they once crashed on the half-made
// application object the drawing needs). Its outputs are those of the
// in-process run, which links everything.
TEST_F(Cli, TheProgramLoadsItsLibrariesOnFirstUseAndInParallelAsOneJobDoes) {
  fs::create_directory(Path("src"));
  const std::vector<std::string> pictures = {
      test::TestData("ico/hopper.ico"),           test::TestData("ico/python.ico"),
      test::TestData("metafile/drawing.wmf"),     test::TestData("metafile/drawing.emf"),
      test::TestData("heif/hopper.heif"),         test::TestData("heif/transparency.avif"),
      test::TestData("jpeg2000/00r0_gray_l.jp2"), Path("basn6a16.jxl")};
  const std::string png = test::TestData("png/pngsuite/basn6a16.png");
  ASSERT_EQ(
      std::system(("cjxl -d 0 '" + png + "' '" + pictures.back() + "' >/dev/null 2>&1").c_str()),
      0);
  std::vector<std::string> sources;
  for (const std::string& picture : pictures) {
    for (const std::string copy : {"a_", "b_", "c_"}) {
      const fs::path name = fs::path(picture).filename();
      const std::string path =
          Path("src/" + copy + name.extension().string().substr(1) + "_" + name.string());
      fs::copy_file(picture, path);
      sources.push_back(path);
    }
  }
  fs::create_directory(Path("one"));
  std::vector<std::string> args = {"encrypt", "-q", "--code", "5",
                                   "-j",      "1",  "--dest", Path("one")};
  args.insert(args.end(), sources.begin(), sources.end());
  ASSERT_EQ(Run(args), 0) << err_;
  ASSERT_EQ(Listing(Path("one")).size(), sources.size());

  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    const std::string out = Path("many" + std::to_string(run));
    fs::create_directory(out);
    // Under the leak checker the program would count what fontconfig keeps
    // for the life of the process (the in-process tests suppress it).
    std::string command = "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 " +
                          std::string(QUORVEX_CLI_PROGRAM) + " encrypt -q --code 5 -j 4 --dest " +
                          out;
    for (const std::string& source : sources) command += " " + source;
    command += " 2>" + Path("err.txt") + " </dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "the program ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(Listing(out), Listing(Path("one")));
    for (const std::string& name : Listing(out)) {
      EXPECT_EQ(test::ReadFileBytes(out + "/" + name), test::ReadFileBytes(Path("one/" + name)))
          << name;
    }
  }
}

// Without the module beside it the program still reads everything else and
// fails a metafile with a line that says what is missing.
TEST_F(Cli, AProgramWithoutItsGraphicsModuleFailsOnlyTheFilesThatNeedIt) {
  fs::create_directory(Path("alone"));
  fs::copy_file(QUORVEX_CLI_PROGRAM, Path("alone/quorvex-cli"));
  const std::string command = Path("alone/quorvex-cli") + " info " +
                              test::TestData("metafile/drawing.wmf") + " " + Path("b.bmp") + " >" +
                              Path("out.txt") + " 2>" + Path("err.txt") + " </dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const auto text = [&](const std::string& name) {
    const auto bytes = test::ReadFileBytes(Path(name));
    return std::string(bytes.begin(), bytes.end());
  };
  EXPECT_EQ(text("out.txt"), Path("b.bmp") + ": TBitmap Bits24 127x64 palette 0\n");
  EXPECT_EQ(text("err.txt").find(" ERROR (Cannot load the platform graphics " +
                                 Path("alone/quorvex-platform.so")),
            0u)
      << text("err.txt");
}

// Cheap real derivations for the in-process runs: the key still depends on
// passphrase and salt.
class CheapSealKeys {
 public:
  CheapSealKeys() {
    previous_ =
        SetKeyDerivation([this](const std::string& passphrase, const TSalt& salt, TSealParameters) {
          ++derivations;
          return DeriveSealKey(passphrase, salt, {1, 8});
        });
  }
  ~CheapSealKeys() { SetKeyDerivation(previous_); }
  int derivations = 0;

 private:
  TKeyDerivation previous_;
};

TEST_F(Cli, SealedTreesComeBackFileForFile) {
  CheapSealKeys keys;
  const std::string tree = Path("tree");
  fs::create_directories(tree + "/raw");
  fs::copy_file(Path("a.bmp"), tree + "/a.bmp");
  test::WriteFileBytes(tree + "/raw/IMG_1.CR2", {0, 1, 2, 3, 4});
  test::WriteFileBytes(tree + "/notes", {'n'});
  const TCliConsole console = ConsoleWithEnvironment({{"QUORVEX_CODE", "a long passphrase"}});
  for (const char* folder : {"out", "back", "again"}) fs::create_directory(Path(folder));

  // Every regular file is sealed, pictures or not.
  ASSERT_EQ(Run({"encrypt", "--seal", "-r", "--dest", Path("out"), tree}, console), 0) << err_;
  EXPECT_EQ(Listing(Path("out")), (std::vector<std::string>{"Ecr_a.bmp", "Ecr_notes.bmp", "raw"}));
  EXPECT_EQ(Listing(Path("out/raw")), std::vector<std::string>{"Ecr_IMG_1.bmp"});
  EXPECT_EQ(keys.derivations, 1);  // one run, though two folders

  // info needs no passphrase.
  ASSERT_EQ(Run({"info", Path("out/Ecr_notes.bmp")}), 0) << err_;
  EXPECT_NE(out_.find(": sealed file, version 1, Argon2id v1.3 + XChaCha20-Poly1305, opslimit 3, "
                      "memlimit 262144 KiB, "),
            std::string::npos)
      << out_;

  // The passphrase needs not be a number when only sealed files are given.
  ASSERT_EQ(
      Run({"decrypt", "-r", "--mode", "delete", "--dest", Path("back"), Path("out")}, console), 0)
      << err_;
  EXPECT_EQ(keys.derivations, 2);  // and one to unseal
  EXPECT_EQ(out_,
            " Image saved as:  a.bmp\n Image saved as:  notes\n Image saved as:  IMG_1.CR2\n");
  for (const char* name : {"a.bmp", "notes", "raw/IMG_1.CR2"}) {
    EXPECT_EQ(test::ReadFileBytes(Path("back/") + name), test::ReadFileBytes(tree + "/" + name))
        << name;
  }
  EXPECT_TRUE(Listing(Path("out/raw")).empty());

  // A wrong passphrase fails each file with the one message.
  ASSERT_EQ(Run({"encrypt", "--seal", "--dest", Path("out"), tree + "/notes"}, console), 0);
  EXPECT_EQ(Run({"decrypt", "--code", "another passphrase", "--dest", Path("again"),
                 Path("out/Ecr_notes.bmp")}),
            1);
  EXPECT_EQ(err_,
            " ERROR (The code does not open this sealed file, or the file is damaged.) while "
            "processing Ecr_notes.bmp\n");
  EXPECT_TRUE(Listing(Path("again")).empty());
}

TEST_F(Cli, SealingRefusesWeakPassphrasesAndStrayOptionsBeforeAnyFile) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"encrypt", "--seal", "--code", "1234567", Path("a.bmp")},
       2,
       "quorvex-cli: A passphrase for sealing needs at least 8 characters\n"},
      {{"encrypt", "--seal", Path("a.bmp")},  // no source at all: the default code
       2,
       "quorvex-cli: The default code cannot seal files; choose a passphrase of your own\n"},
      {{"decrypt", "--seal", "--code", "12345678", Path("a.bmp")}, 2, "quorvex-cli: --seal is an "},
      // A scrambled picture among the sources needs a number.
      {{"decrypt", "--code", "not a number", Path("a.bmp")},
       2,
       "quorvex-cli: 'not a number' is not a valid integer value\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, {"--mode", "delete", "--dest", Path("out")});
    EXPECT_EQ(Run(args, ConsoleWithEnvironment({})), c.status) << c.message;
    EXPECT_EQ(err_.substr(0, c.message.size()), c.message);
    EXPECT_FALSE(fs::exists(Path("out/Ecr_a.bmp")));
    EXPECT_TRUE(fs::exists(Path("a.bmp")));
  }
}

TEST_F(Cli, OnATerminalTheSealingPassphraseIsAskedForTwice) {
  fs::create_directory(Path("out"));
  const TerminalRun differ =
      RunOnTerminal({"encrypt", "--seal", "--dest", Path("out"), Path("a.bmp")},
                    {{"Passphrase: ", "a long passphrase"}, {"Passphrase again: ", "a long one"}});
  EXPECT_EQ(differ.status, 2);
  EXPECT_NE(differ.transcript.find("quorvex-cli: the two passphrases differ"), std::string::npos)
      << differ.transcript;
  EXPECT_TRUE(Listing(Path("out")).empty());

  const TerminalRun twice = RunOnTerminal(
      {"encrypt", "--seal", "--dest", Path("out"), Path("a.bmp")},
      {{"Passphrase: ", "a long passphrase"}, {"Passphrase again: ", "a long passphrase"}});
  EXPECT_EQ(twice.status, 0) << twice.transcript;
  EXPECT_EQ(twice.transcript.find("a long passphrase"), std::string::npos);
  EXPECT_TRUE(IsSealedFile(Path("out/Ecr_a.bmp")));
}

}  // namespace
}  // namespace quorvex
