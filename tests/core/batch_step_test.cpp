#include "core/batch_step.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/keystream.h"
#include "core/transform.h"
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

// Streaming must give the bytes of the general road, file for file, and
// fail where it fails: every picture of the BMP suite, good, questionable
// and bad, a copy cut short inside its storage, and a BMP under another
// format's extension.
TEST_F(BatchStep, StreamedBmpFilesGiveTheBytesOfTheGeneralRoad) {
  std::vector<std::string> sources;
  for (const char* group : {"g", "q", "b"}) {
    for (const auto& entry : fs::directory_iterator(test::TestData("bmp/bmpsuite/") + group)) {
      sources.push_back(entry.path().string());
    }
  }
  std::vector<uint8_t> cut = test::ReadFileBytes(test::TestData("bmp/bmpsuite/g/rgb24.bmp"));
  cut.resize(cut.size() - 1000);
  test::WriteFileBytes(Path("cut.bmp"), cut);
  sources.push_back(Path("cut.bmp"));
  fs::copy_file(test::TestData("bmp/bmpsuite/g/rgb24.bmp"), Path("rgb24.png"));
  sources.push_back(Path("rgb24.png"));

  struct Case {
    bool encrypt;
    const char* code;
  };
  int streamed = 0;
  for (const Case& c : {Case{true, "614052"}, Case{false, "$7FFFFFFF"}}) {
    const std::string general = Path(c.encrypt ? "general-e" : "general-d");
    const std::string streaming = Path(c.encrypt ? "streaming-e" : "streaming-d");
    fs::create_directory(general);
    fs::create_directory(streaming);
    TBatchRun generalRun(c.encrypt, TBatchMode::Save, general, c.code);
    TBatchRun streamingRun(c.encrypt, TBatchMode::Save, streaming, c.code);
    streamingRun.SetStreaming(true);
    for (const std::string& source : sources) {
      SCOPED_TRACE(source);
      const TBatchOutcome expected = generalRun.Step(source);
      const uint32_t stateAfter = Keystream::state();
      Keystream::setState(0);
      const TBatchOutcome outcome = streamingRun.Step(source);
      EXPECT_EQ(outcome.error, expected.error);
      EXPECT_EQ(outcome.written, expected.written);
      if (!expected.written) continue;
      EXPECT_EQ(Keystream::state(), stateAfter);
      EXPECT_EQ(test::ReadFileBytes(streaming + "/" + outcome.outputName),
                test::ReadFileBytes(general + "/" + expected.outputName));
      streamed += TransformBmpFile(source, c.code, Path("probe.bmp"), TExistingFile::Replace);
    }
  }
  // Most of the suite takes the streamed road, so the comparison above
  // covers it.
  EXPECT_GT(streamed, 30);
}

}  // namespace
}  // namespace quorvex
