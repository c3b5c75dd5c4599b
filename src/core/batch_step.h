#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/sealed_file.h"
#include "picture/safe_file_writer.h"

namespace quorvex {

class TBitmap;
class TGraphic;
class TPicture;

enum class TBatchMode { TestOnly, Save, Delete };

// What became of one source in a run.
struct TBatchOutcome {
  std::string source;      // the path that was loaded, named and deleted
  std::string outputName;  // the output's file name; empty in test runs
  bool written = false;    // the output is complete, in place and on disk
  bool deleted = false;    // the source is gone
  std::string error;       // why the file failed; empty when it did not

  bool Failed() const { return !error.empty(); }
};

// Where a step puts what it loads and makes; the caller owns them, so that
// a window can show them.
struct TBatchPictures {
  TPicture& picture;
  std::unique_ptr<TBitmap>& working;
  std::unique_ptr<TBitmap>& result;
};

// The front end's part between a step's phases; any may be empty. An
// exception a hook raises fails the file like any other.
struct TBatchHooks {
  std::function<void()> loaded;
  // The code for this file, read as its transform starts.
  std::function<std::string()> code;
  std::function<void()> transformed;
  // The output is written; the source has not been deleted yet.
  std::function<void(const std::string& outputName)> saved;
};

// One encryption or decryption run over a list of sources into one folder.
// A file fails, and its source is kept, when its output would replace one
// written earlier in the run, or a file that was there before unless
// replacing is allowed; and in delete mode a source goes only once its
// output is on disk.
//
// Sealing: an encrypt run set to seal takes any regular file whole, loads
// nothing as a picture, and writes it sealed under the same output name;
// the code is the passphrase (CheckSealPassphrase), and the run derives its
// key once. A decrypt run unseals every sealed source by itself (see
// IsSealedFile) into the name stored in it, restoring its modification time
// and permission bits, and decrypts every other source as before; the run
// keeps the keys it derived. Sealed steps leave the pictures empty and call
// only the code and saved hooks; a sealed source's output name is known only
// once it is opened, so outcome.outputName is set then.
//
// Picture steps of one run may go on side by side on several threads, as
// long as no two of them share a source or an output name; sealed steps go
// one at a time.
class TBatchRun {
 public:
  using TWriter = std::function<void(const TGraphic&, const std::string&, TExistingFile)>;

  TBatchRun(bool encrypt, TBatchMode mode, std::string destination, std::string code = "");

  TBatchMode Mode() const { return mode_; }
  void SetReplaceExisting(bool replace) { replaceExisting_ = replace; }
  void SetWriter(TWriter writer) { writer_ = std::move(writer); }
  // For front ends that show no pictures: a BMP file the transform copies
  // storage row for storage row goes to its output in pieces, never held
  // whole (TransformBmpFile); such steps take the run's code, call only the
  // saved hook and leave the pictures empty. Outputs are the same bytes.
  // Not for runs with a code hook or a writer of their own.
  void SetStreaming(bool streaming) { streaming_ = streaming; }
  // For encrypt runs; the parameters are the Argon2id cost of the key.
  void SetSealing(bool seal, TSealParameters parameters = kSealParameters);
  bool Sealing() const { return seal_; }
  // Uses the other run's keys from now on, so that runs into several folders
  // make one run: one salt and one derivation for sealing, one key cache
  // for unsealing.
  void ShareKeysWith(const TBatchRun& other) { keys_ = other.keys_; }

  std::string OutputNameOf(const std::string& source) const;
  // The distinct output names of these sources already in the destination.
  // Sealed sources of a decrypt run are left out: their names are inside.
  std::vector<std::string> ExistingOutputs(const std::vector<std::string>& sources) const;

  TBatchOutcome Step(const std::string& source, TBatchPictures pictures,
                     const TBatchHooks& hooks = {});
  // The same with pictures of its own, for front ends that show none.
  TBatchOutcome Step(const std::string& source);

 private:
  void CheckTarget(const std::string& outputName) const;
  void Store(const TBitmap& result, TBatchOutcome& outcome, const TBatchHooks& hooks);
  bool Streamed(TBatchOutcome& outcome, const TBatchHooks& hooks);
  void SealStep(TBatchOutcome& outcome, const TBatchHooks& hooks);
  void UnsealStep(TBatchOutcome& outcome, const TBatchHooks& hooks);
  // What follows a durable write: the record, the hook and the deletion.
  void Stored(TBatchOutcome& outcome, const TBatchHooks& hooks, const std::string& target);
  std::string Code(const TBatchHooks& hooks) const;
  TExistingFile Existing() const;

  bool encrypt_;
  TBatchMode mode_;
  std::string destination_;
  std::string code_;
  bool replaceExisting_ = false;
  bool streaming_ = false;
  TWriter writer_;
  mutable std::mutex writtenLock_;
  std::map<std::string, std::string> written_;  // output name: its source
  bool seal_ = false;
  TSealParameters sealParameters_ = kSealParameters;
  struct TRunKeys {
    std::map<std::pair<std::string, TSealParameters>, std::unique_ptr<TSealer>> sealers;
    std::map<std::string, TUnsealer> unsealers;  // by passphrase
  };
  std::shared_ptr<TRunKeys> keys_ = std::make_shared<TRunKeys>();
};

// Raises EConvertError "'%s' is not a valid integer value" for a code the
// transforms would replace by their fallback seed.
void CheckCode(const std::string& code);

}  // namespace quorvex
