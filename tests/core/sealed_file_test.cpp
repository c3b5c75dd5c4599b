#include "core/sealed_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "core/batch_step.h"
#include "core/output_names.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// Argon2id at its cheapest: real derivations that keep the suite fast.
constexpr TSealParameters kCheap{1, 8};
constexpr const char* kPassphrase = "correct horse battery";
// Offsets of the container inside a sealed file.
constexpr size_t kContainer = 54;
constexpr size_t kClearBytes = 68;
constexpr size_t kTag = 17;

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

uint32_t PermissionsOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

int64_t ModifiedOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mtim.tv_sec;
}

void SetModified(const std::string& path, int64_t seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Counts the key derivations while it lives; the keys are the real ones.
class CountingDerivation {
 public:
  CountingDerivation() {
    previous_ = SetKeyDerivation(
        [this](const std::string& passphrase, const TSalt& salt, TSealParameters parameters) {
          ++count;
          return DeriveSealKey(passphrase, salt, parameters);
        });
  }
  ~CountingDerivation() { SetKeyDerivation(previous_); }
  int count = 0;

 private:
  TKeyDerivation previous_;
};

class SealedFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir();
    for (const char* sub : {"in", "sealed", "back"}) fs::create_directory(Path(sub));
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Seals the files of "in" into "sealed" in one run.
  void SealAll(const std::vector<std::string>& names, TSealParameters parameters = kCheap) {
    TBatchRun run(true, TBatchMode::Save, Path("sealed"), kPassphrase);
    run.SetSealing(true, parameters);
    for (const auto& name : names) {
      const TBatchOutcome outcome = run.Step(Path("in/" + name));
      ASSERT_FALSE(outcome.Failed()) << name << ": " << outcome.error;
      ASSERT_TRUE(outcome.written);
    }
  }

  TBatchOutcome Unseal(const std::string& sealed, const std::string& passphrase = kPassphrase,
                       TBatchMode mode = TBatchMode::Save) {
    TBatchRun run(false, mode, Path("back"), passphrase);
    return run.Step(sealed);
  }

  // Seals a file of this content, then hands the sealed bytes back.
  std::vector<uint8_t> SealedBytes(const std::vector<uint8_t>& content,
                                   const std::string& name = "data.bin") {
    test::WriteFileBytes(Path("in/" + name), content);
    SealAll({name});
    return test::ReadFileBytes(Path("sealed/" + EncryptedOutputName(name)));
  }

  std::string dir_;
};

TEST_F(SealedFile, RoundTripsRestoreBytesNameTimeAndPermissions) {
  const struct {
    std::string name;
    std::vector<uint8_t> content;
    uint32_t permissions;
  } cases[] = {
      {"empty", {}, 0600},
      {"one.bin", RandomBytes(1, 1), 0644},
      {"below.dat", RandomBytes((1 << 20) - 1, 2), 0640},
      {"exact.dat", RandomBytes(1 << 20, 3), 0755},
      {"above.dat", RandomBytes((1 << 20) + 1, 4), 0400},
      {"ten.mb", RandomBytes(10'000'000, 5), 0664},
      {"flower.jpg", test::ReadFileBytes(test::TestData("jpeg/flower.jpg")), 0644},
      {"multipage.tiff", test::ReadFileBytes(test::TestData("tiff/multipage.tiff")), 0644},
      {"IMG_0001.CR2", RandomBytes(4096, 6), 0444},  // nothing the program decodes
  };
  std::vector<std::string> names;
  int64_t time = 1'000'000'000;
  for (const auto& c : cases) {
    const std::string path = Path("in/" + c.name);
    test::WriteFileBytes(path, c.content);
    ASSERT_EQ(::chmod(path.c_str(), c.permissions), 0);
    SetModified(path, time += 86'400);
    names.push_back(c.name);
  }
  SealAll(names);

  std::string pillow =
      "/usr/bin/python3 -c 'import sys\nfrom PIL import Image\n"
      "for p in sys.argv[1:]:\n im = Image.open(p); im.load()\n"
      " print(im.format, im.mode, im.size[0], im.size[1])'";
  std::string expectedPillow;
  for (const auto& c : cases) {
    const std::string sealed = Path("sealed/" + EncryptedOutputName(c.name));
    // The sealed file hides size, name and content.
    const auto sealedBytes = test::ReadFileBytes(sealed);
    EXPECT_GT(sealedBytes.size(), c.content.size() + kContainer + kClearBytes);
    const TSealHeader header = ReadSealHeader(sealed);
    pillow += " '" + sealed + "'";
    expectedPillow +=
        "BMP RGB " + std::to_string(header.width) + " " + std::to_string(header.height) + "\n";

    const TBatchOutcome outcome = Unseal(sealed);
    ASSERT_FALSE(outcome.Failed()) << c.name << ": " << outcome.error;
    EXPECT_EQ(outcome.outputName, c.name);
    const std::string back = Path("back/" + c.name);
    EXPECT_TRUE(test::ReadFileBytes(back) == c.content) << c.name;
    EXPECT_EQ(PermissionsOf(back), c.permissions) << c.name;
    EXPECT_EQ(ModifiedOf(back), ModifiedOf(Path("in/" + c.name))) << c.name;
  }

  // An independent decoder sees an ordinary BMP of the size the header states.
  FILE* pipe = ::popen(pillow.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string seen;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) seen += buffer;
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(seen, expectedPillow);
}

TEST_F(SealedFile, ThePictureIsRoughlySquareAndHoldsTheContainer) {
  const struct {
    uint64_t length;
    uint32_t width, height;
  } cases[] = {
      {1, 1, 1},
      {3, 1, 1},
      {4, 2, 1},  // a 2-pixel row is 8 bytes with its padding
      {12, 2, 2},
      {13, 3, 2},
      {85, 6, 5},  // 85 bytes: 6 pixels wide, rows of 20 bytes
      {3'000'163, 1001, 999},
  };
  for (const auto& c : cases) {
    const auto [width, height] = SealedPictureSize(c.length);
    EXPECT_EQ(width, c.width) << c.length;
    EXPECT_EQ(height, c.height) << c.length;
  }
}

TEST_F(SealedFile, TwoSealsOfOneFileDifferAndARunSharesOneKey) {
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
    test::WriteFileBytes(Path(std::string("in/") + name), {'s', 'a', 'm', 'e'});
  }
  CountingDerivation derivations;
  SealAll({"a.txt", "b.txt", "c.txt"});
  EXPECT_EQ(derivations.count, 1);
  const auto first = test::ReadFileBytes(Path("sealed/Ecr_a.bmp"));
  fs::rename(Path("sealed/Ecr_a.bmp"), Path("first.bmp"));
  SealAll({"a.txt"});
  EXPECT_EQ(derivations.count, 2);
  EXPECT_NE(first, test::ReadFileBytes(Path("sealed/Ecr_a.bmp")));

  // One run: one salt, a stream header of each file's own.
  const auto b = test::ReadFileBytes(Path("sealed/Ecr_b.bmp"));
  const auto c = test::ReadFileBytes(Path("sealed/Ecr_c.bmp"));
  const auto region = [](const std::vector<uint8_t>& bytes, size_t from, size_t count) {
    return std::vector<uint8_t>(bytes.begin() + from, bytes.begin() + from + count);
  };
  EXPECT_EQ(region(b, kContainer + 20, 16), region(c, kContainer + 20, 16));
  EXPECT_NE(region(b, kContainer + 36, 24), region(c, kContainer + 36, 24));
  const auto second = test::ReadFileBytes(Path("sealed/Ecr_a.bmp"));
  EXPECT_EQ(region(b, kContainer + 20, 16), region(first, kContainer + 20, 16));
  EXPECT_NE(region(b, kContainer + 20, 16), region(second, kContainer + 20, 16));

  // Unsealing keeps the run's keys: three files of one salt, one derivation.
  derivations.count = 0;
  TBatchRun run(false, TBatchMode::Save, Path("back"), kPassphrase);
  for (const char* name : {"Ecr_b.bmp", "Ecr_c.bmp", "Ecr_a.bmp"}) {
    EXPECT_FALSE(run.Step(Path(std::string("sealed/") + name)).Failed()) << name;
  }
  EXPECT_EQ(derivations.count, 2);  // Ecr_a.bmp came from the second run
  EXPECT_EQ(Listing(Path("back")), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

TEST_F(SealedFile, TheRealDerivationOpensWhatItSealed) {
  const auto content = RandomBytes(5000, 7);
  test::WriteFileBytes(Path("in/photo.nef"), content);
  SealAll({"photo.nef"}, kSealParameters);
  const TSealHeader header = ReadSealHeader(Path("sealed/Ecr_photo.bmp"));
  EXPECT_EQ(header.parameters, (TSealParameters{3, 262144}));
  EXPECT_FALSE(Unseal(Path("sealed/Ecr_photo.bmp")).Failed());
  EXPECT_EQ(test::ReadFileBytes(Path("back/photo.nef")), content);
}

// Every refusal: the one message, and nothing in the destination.
TEST_F(SealedFile, DamageAndWrongPassphrasesAreRefusedAndWriteNothing) {
  // Three messages: 1 MiB, 1 MiB and a short last one.
  const std::string name = "data.bin";
  const auto content = RandomBytes((2 << 20) + 100, 8);
  const auto sealed = SealedBytes(content, name);
  const size_t record = kContainer + kClearBytes;
  const size_t firstMessage = record + 22 + name.size() + kTag;
  const size_t fullMessage = (1 << 20) + kTag;
  const size_t containerEnd = firstMessage + 2 * fullMessage + 100 + kTag;

  const auto flipped = [&](size_t offset) {
    auto bytes = sealed;
    bytes[offset] ^= 0x01;
    return bytes;
  };
  auto reordered = sealed;
  std::swap_ranges(reordered.begin() + firstMessage, reordered.begin() + firstMessage + fullMessage,
                   reordered.begin() + firstMessage + fullMessage);
  auto opslimitRaised = sealed;  // within the limits: the key differs
  opslimitRaised[kContainer + 12] = 2;

  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* passphrase;
  } cases[] = {
      {"wrong passphrase", sealed, "correct horse battery!"},
      {"magic", flipped(kContainer + 3), kPassphrase},
      {"opslimit", opslimitRaised, kPassphrase},
      {"memlimit", flipped(kContainer + 16), kPassphrase},
      {"salt", flipped(kContainer + 20 + 7), kPassphrase},
      {"stream header", flipped(kContainer + 36 + 11), kPassphrase},
      {"length", flipped(kContainer + 60), kPassphrase},
      {"length by one message", flipped(kContainer + 62), kPassphrase},
      {"metadata", flipped(record + 3), kPassphrase},
      {"middle message", flipped(firstMessage + fullMessage + 5000), kPassphrase},
      {"last message", flipped(containerEnd - 1), kPassphrase},
      {"cut in the last message",
       std::vector<uint8_t>(sealed.begin(), sealed.begin() + containerEnd - 1), kPassphrase},
      {"cut after the first message",
       std::vector<uint8_t>(sealed.begin(), sealed.begin() + firstMessage + fullMessage),
       kPassphrase},
      {"messages reordered", reordered, kPassphrase},
  };
  for (const auto& c : cases) {
    const std::string path = Path("case.bmp");
    test::WriteFileBytes(path, c.bytes);
    for (TBatchMode mode : {TBatchMode::Save, TBatchMode::TestOnly, TBatchMode::Delete}) {
      const TBatchOutcome outcome = Unseal(path, c.passphrase, mode);
      EXPECT_EQ(outcome.error, kSealRefusal) << c.what;
      EXPECT_FALSE(outcome.written) << c.what;
      EXPECT_TRUE(fs::exists(path)) << c.what;
      EXPECT_TRUE(Listing(Path("back")).empty()) << c.what;
    }
  }
  // The padding after the container is noise nobody checks.
  test::WriteFileBytes(Path("case.bmp"), flipped(sealed.size() - 1));
  EXPECT_FALSE(Unseal(Path("case.bmp")).Failed());
  EXPECT_EQ(test::ReadFileBytes(Path("back/data.bin")), content);
}

// A magic with more than two bytes changed is no sealed file: the step
// decrypts it as the scrambled picture it then is.
TEST_F(SealedFile, AMagicBeyondRepairIsAPictureAgain) {
  auto bytes = SealedBytes({'x', 'y', 'z'});
  bytes[kContainer] = bytes[kContainer + 1] = bytes[kContainer + 2] = 0;
  test::WriteFileBytes(Path("Ecr_other.bmp"), bytes);
  EXPECT_FALSE(IsSealedFile(Path("Ecr_other.bmp")));
  const TBatchOutcome outcome = Unseal(Path("Ecr_other.bmp"), "614052");
  EXPECT_FALSE(outcome.Failed()) << outcome.error;
  EXPECT_EQ(outcome.outputName, "other.bmp");
}

TEST_F(SealedFile, ParametersBeyondTheLimitsAreRefusedWithoutDeriving) {
  const auto sealed = SealedBytes(RandomBytes(100, 9));
  const auto withParameters = [&](uint32_t opslimit, uint32_t memlimit) {
    auto bytes = sealed;
    for (int i = 0; i < 4; ++i) {
      bytes[kContainer + 12 + i] = static_cast<uint8_t>(opslimit >> (8 * i));
      bytes[kContainer + 16 + i] = static_cast<uint8_t>(memlimit >> (8 * i));
    }
    return bytes;
  };
  const struct {
    uint32_t opslimit, memlimit;
    int derivations;
  } cases[] = {
      {11, 8, 0},       {1, 1048577, 0}, {0xFFFFFFFF, 0xFFFFFFFF, 0},
      {0, 8, 0},        {1, 7, 0},  // below what Argon2id takes
      {10, 1048576, 1},             // the limits themselves are taken
  };
  // A fixed key: what the limits themselves would cost is not the point.
  int count = 0;
  const TKeyDerivation previous =
      SetKeyDerivation([&](const std::string&, const TSalt&, TSealParameters) {
        ++count;
        return TSealKey{};
      });
  for (const auto& c : cases) {
    count = 0;
    test::WriteFileBytes(Path("case.bmp"), withParameters(c.opslimit, c.memlimit));
    EXPECT_EQ(Unseal(Path("case.bmp")).error, kSealRefusal) << c.opslimit << " " << c.memlimit;
    EXPECT_EQ(count, c.derivations) << c.opslimit << " " << c.memlimit;
    EXPECT_TRUE(Listing(Path("back")).empty());
  }
  SetKeyDerivation(previous);
}

TEST_F(SealedFile, StoredNamesThatCouldLeaveTheFolderAreReplaced) {
  EXPECT_EQ(SafeStoredName("photo.jpg", "x"), "photo.jpg");
  EXPECT_EQ(SafeStoredName("Ünïcode name.txt", "x"), "Ünïcode name.txt");
  for (const std::string& bad : std::vector<std::string>{
           "", ".", "..", "../x", "a/b", "/etc/passwd", "a\\b", "a\nb", "tab\t", "\x7f"}) {
    EXPECT_EQ(SafeStoredName(bad, "fallback"), "fallback") << bad;
  }

  // A crafted record: the file lands inside the destination under the
  // decrypt rule's name.
  TSealer sealer(kPassphrase, kCheap);
  TMemoryStream content(std::vector<uint8_t>{'e', 'v', 'i', 'l'});
  TMemoryStream out;
  sealer.SealTo(content, {"../escaped", 4, 0, 0644}, out);
  test::WriteFileBytes(Path("sealed/Ecr_crafted.bmp"), out.Bytes());
  const TBatchOutcome outcome = Unseal(Path("sealed/Ecr_crafted.bmp"));
  EXPECT_FALSE(outcome.Failed()) << outcome.error;
  EXPECT_EQ(outcome.outputName, "crafted.bmp");
  EXPECT_EQ(Listing(Path("back")), std::vector<std::string>{"crafted.bmp"});
  EXPECT_FALSE(fs::exists(Path("escaped")));
}

TEST_F(SealedFile, WeakPassphrasesAreRefusedBeforeAnythingIsWritten) {
  test::WriteFileBytes(Path("in/a.txt"), {'a'});
  const struct {
    const char* passphrase;
    const char* message;
  } cases[] = {
      {"614052", "The default code cannot seal files; choose a passphrase of your own"},
      {"1234567", "A passphrase for sealing needs at least 8 characters"},
      {"äöüßéèà", "A passphrase for sealing needs at least 8 characters"},  // 7, in 14 bytes
  };
  for (const auto& c : cases) {
    TBatchRun run(true, TBatchMode::Save, Path("sealed"), c.passphrase);
    run.SetSealing(true, kCheap);
    EXPECT_EQ(run.Step(Path("in/a.txt")).error, c.message) << c.passphrase;
  }
  EXPECT_TRUE(Listing(Path("sealed")).empty());
  EXPECT_NO_THROW(CheckSealPassphrase("äöüßéèàç"));
}

TEST_F(SealedFile, RunsKeepTheirRulesForNamesExistingFilesAndDeletion) {
  test::WriteFileBytes(Path("in/a.txt"), {'a'});
  test::WriteFileBytes(Path("in/a.raw"), {'b'});
  fs::create_directory(Path("in/folder"));
  TBatchRun seal(true, TBatchMode::Delete, Path("sealed"), kPassphrase);
  seal.SetSealing(true, kCheap);
  EXPECT_TRUE(seal.Step(Path("in/a.txt")).deleted);
  // Same output name in one run: refused, the source kept.
  const TBatchOutcome clash = seal.Step(Path("in/a.raw"));
  EXPECT_EQ(clash.error, "Ecr_a.bmp was already written from a.txt in this run");
  EXPECT_TRUE(fs::exists(Path("in/a.raw")));
  EXPECT_EQ(seal.Step(Path("in/folder")).error, Path("in/folder") + " is not a regular file");
  EXPECT_EQ(Listing(Path("sealed")), std::vector<std::string>{"Ecr_a.bmp"});

  // The stored name is taken: kept, unless replacing is allowed.
  test::WriteFileBytes(Path("back/a.txt"), {'o', 'l', 'd'});
  TBatchRun unseal(false, TBatchMode::Delete, Path("back"), kPassphrase);
  const TBatchOutcome kept = unseal.Step(Path("sealed/Ecr_a.bmp"));
  EXPECT_EQ(kept.error, "a.txt already exists in the destination folder");
  EXPECT_FALSE(kept.deleted);
  EXPECT_EQ(test::ReadFileBytes(Path("back/a.txt")), (std::vector<uint8_t>{'o', 'l', 'd'}));
  unseal.SetReplaceExisting(true);
  const TBatchOutcome replaced = unseal.Step(Path("sealed/Ecr_a.bmp"));
  EXPECT_FALSE(replaced.Failed()) << replaced.error;
  EXPECT_TRUE(replaced.deleted);
  EXPECT_EQ(test::ReadFileBytes(Path("back/a.txt")), std::vector<uint8_t>{'a'});
  EXPECT_FALSE(fs::exists(Path("sealed/Ecr_a.bmp")));
}

TEST_F(SealedFile, DecryptRunsStillDecryptScrambledPictures) {
  fs::copy_file(test::TestData("bmp/bmpsuite/g/rgb24.bmp"), Path("in/rgb24.bmp"));
  TBatchRun scramble(true, TBatchMode::Save, Path("sealed"), "12345678");
  ASSERT_FALSE(scramble.Step(Path("in/rgb24.bmp")).Failed());
  test::WriteFileBytes(Path("in/notes.txt"), {'n'});
  TBatchRun seal(true, TBatchMode::Save, Path("sealed"), "12345678");
  seal.SetSealing(true, kCheap);
  ASSERT_FALSE(seal.Step(Path("in/notes.txt")).Failed());
  EXPECT_FALSE(IsSealedFile(Path("sealed/Ecr_rgb24.bmp")));

  // One decrypt run, both kinds; the scrambled one by the usual rule.
  TBatchRun both(false, TBatchMode::Save, Path("back"), "12345678");
  EXPECT_EQ(both.ExistingOutputs({Path("sealed/Ecr_notes.bmp")}), std::vector<std::string>{});
  EXPECT_EQ(both.Step(Path("sealed/Ecr_notes.bmp")).outputName, "notes.txt");
  EXPECT_EQ(both.Step(Path("sealed/Ecr_rgb24.bmp")).outputName, "rgb24.bmp");
  EXPECT_EQ(Listing(Path("back")), (std::vector<std::string>{"notes.txt", "rgb24.bmp"}));
}

TEST_F(SealedFile, InfoNeedsNoPassphrase) {
  const auto bytes = SealedBytes(RandomBytes(10, 10));
  TMemoryStream stream(bytes);
  ASSERT_TRUE(IsSealedStream(stream));
  const TSealHeader header = ReadSealHeader(stream);
  EXPECT_EQ(header.version, 1);
  EXPECT_EQ(header.algorithm, 1);
  EXPECT_EQ(header.parameters, kCheap);
  EXPECT_EQ(header.ciphertextLength, 22u + 8 + 17 + 10 + 17);
}

}  // namespace
}  // namespace quorvex
