#include "core/batch_step.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "picture/bitmap.h"
#include "picture/picture.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

class BatchStep : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir();
    fs::create_directory(Path("other"));
    fs::copy_file(test::TestData("bmp/bmpsuite/g/pal8.bmp"), Path("a.bmp"));
    fs::copy_file(test::TestData("bmp/bmpsuite/g/rgb24.bmp"), Path("other/a.bmp"));
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Hooks and a writer that record the step's phases in order.
  TBatchHooks RecordingHooks(const std::string& code = "614052") {
    TBatchHooks hooks;
    hooks.loaded = [this] { events_.push_back("loaded"); };
    hooks.code = [this, code] {
      events_.push_back("code");
      return code;
    };
    hooks.transformed = [this] { events_.push_back("transformed"); };
    hooks.saved = [this](const std::string& name) { events_.push_back("saved " + name); };
    return hooks;
  }
  void RecordWrites(TBatchRun& run, bool fail = false) {
    run.SetWriter(
        [this, fail](const TGraphic& graphic, const std::string& path, TExistingFile existing) {
          events_.push_back(existing == TExistingFile::Keep ? "write keeping" : "write replacing");
          if (fail) throw EWriteError(kStreamWriteError);
          SaveFileAtomically(graphic, path, existing);
        });
  }
  TBatchOutcome Step(TBatchRun& run, const std::string& source, const TBatchHooks& hooks) {
    TPicture picture;
    std::unique_ptr<TBitmap> working, result;
    return run.Step(source, {picture, working, result}, hooks);
  }

  std::string dir_;
  std::vector<std::string> events_;
};

TEST_F(BatchStep, PhasesRunInOrderAndTheOutcomeSaysWhatHappened) {
  TBatchRun run(true, TBatchMode::Delete, Path("out"));
  fs::create_directory(Path("out"));
  RecordWrites(run);
  const TBatchOutcome done = Step(run, Path("a.bmp"), RecordingHooks());
  EXPECT_EQ(events_, (std::vector<std::string>{"loaded", "code", "transformed", "write keeping",
                                               "saved Ecr_a.bmp"}));
  EXPECT_EQ(done.source, Path("a.bmp"));
  EXPECT_EQ(done.outputName, "Ecr_a.bmp");
  EXPECT_TRUE(done.written);
  EXPECT_TRUE(done.deleted);
  EXPECT_FALSE(done.Failed());
  EXPECT_FALSE(fs::exists(Path("a.bmp")));

  // Another a.bmp in the same run would replace that output: refused before
  // any work, its source kept.
  events_.clear();
  const TBatchOutcome collision = Step(run, Path("other/a.bmp"), RecordingHooks());
  EXPECT_EQ(collision.error, "Ecr_a.bmp was already written from a.bmp in this run");
  EXPECT_TRUE(events_.empty());
  EXPECT_FALSE(collision.written);
  EXPECT_FALSE(collision.deleted);
  EXPECT_TRUE(fs::exists(Path("other/a.bmp")));
}

// A failure at any phase keeps the source and reports no save.
TEST_F(BatchStep, FailuresKeepTheSourceAndReportNoSave) {
  struct Case {
    const char* label;
    const char* code;
    bool failingWriter;
    const char* source;
    std::string error;
    std::vector<std::string> events;
  };
  test::WriteFileBytes(Path("damaged.bmp"), {'B', 'M', 1, 2, 3});
  const Case cases[] = {
      {"write fails",
       "614052",
       true,
       "a.bmp",
       "Stream write error",
       {"loaded", "code", "transformed", "write keeping"}},
      {"code typed during the run does not convert",
       "my secret",
       false,
       "a.bmp",
       "'my secret' is not a valid integer value",
       {"loaded", "code"}},
      {"load fails", "614052", false, "damaged.bmp", "Stream read error", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    events_.clear();
    TBatchRun run(false, TBatchMode::Delete, Path("other"));
    RecordWrites(run, c.failingWriter);
    const TBatchOutcome outcome = Step(run, Path(c.source), RecordingHooks(c.code));
    EXPECT_EQ(outcome.error, c.error);
    EXPECT_EQ(events_, c.events);
    EXPECT_FALSE(outcome.written);
    EXPECT_FALSE(outcome.deleted);
    EXPECT_TRUE(fs::exists(Path(c.source)));
    EXPECT_FALSE(fs::exists(Path("other/Dcr_") + c.source));
  }
}

TEST_F(BatchStep, ExistingOutputsAndTestRuns) {
  fs::create_directory(Path("out"));
  test::WriteFileBytes(Path("out/Ecr_a.bmp"), {1});
  fs::create_symlink(Path("nowhere"), Path("out/Ecr_c.bmp"));
  TBatchRun run(true, TBatchMode::Save, Path("out"));
  EXPECT_EQ(run.ExistingOutputs({"a.bmp", "x/a.ico", "b.bmp", "c.png"}),
            (std::vector<std::string>{"Ecr_a.bmp", "Ecr_c.bmp"}));

  // A test run names and writes nothing and refuses nothing.
  TBatchRun test(true, TBatchMode::TestOnly, Path("out"));
  RecordWrites(test);
  const TBatchOutcome outcome = Step(test, Path("a.bmp"), RecordingHooks());
  EXPECT_FALSE(outcome.Failed()) << outcome.error;
  EXPECT_EQ(outcome.outputName, "");
  EXPECT_EQ(events_, (std::vector<std::string>{"loaded", "code", "transformed"}));
  EXPECT_EQ(test::ReadFileBytes(Path("out/Ecr_a.bmp")), std::vector<uint8_t>{1});
}

}  // namespace
}  // namespace quorvex
