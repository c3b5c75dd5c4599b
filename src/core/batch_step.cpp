#include "core/batch_step.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "core/output_names.h"
#include "core/parse_integer.h"
#include "core/transform.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"

namespace quorvex {

namespace {

namespace fs = std::filesystem;

std::string FileName(const std::string& path) {
  return fs::path(path).filename().string();
}

// A link or any other entry counts: a run never replaces what it did not make.
bool Occupied(const fs::path& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() != fs::file_type::not_found && !error;
}

}  // namespace

void CheckCode(const std::string& code) {
  parseInteger(code);
}

TBatchRun::TBatchRun(bool encrypt, TBatchMode mode, std::string destination, std::string code)
    : encrypt_(encrypt),
      mode_(mode),
      destination_(destination.empty() ? "." : std::move(destination)),
      code_(std::move(code)),
      writer_([](const TGraphic& graphic, const std::string& path, TExistingFile existing) {
        SaveFileAtomically(graphic, path, existing);
      }) {}

std::string TBatchRun::OutputNameOf(const std::string& source) const {
  const std::string name = FileName(source);
  return encrypt_ ? EncryptedOutputName(name) : DecryptedOutputName(name);
}

std::vector<std::string> TBatchRun::ExistingOutputs(const std::vector<std::string>& sources) const {
  std::vector<std::string> existing;
  std::set<std::string> seen;
  for (const std::string& source : sources) {
    if (!encrypt_ && IsSealedFile(source)) continue;
    const std::string name = OutputNameOf(source);
    if (seen.insert(name).second && Occupied(fs::path(destination_) / name)) {
      existing.push_back(name);
    }
  }
  return existing;
}

void TBatchRun::CheckTarget(const std::string& outputName) const {
  std::unique_lock lock(writtenLock_);
  const auto earlier = written_.find(outputName);
  if (earlier != written_.end()) {
    throw EFileExists(FormatMessage("%s was already written from %s in this run",
                                    outputName.c_str(), FileName(earlier->second).c_str()));
  }
  lock.unlock();
  if (!replaceExisting_ && Occupied(fs::path(destination_) / outputName)) {
    throw EFileExists(
        FormatMessage("%s already exists in the destination folder", outputName.c_str()));
  }
}

TBatchOutcome TBatchRun::Step(const std::string& source, TBatchPictures pictures,
                              const TBatchHooks& hooks) {
  TBatchOutcome outcome;
  outcome.source = source;
  try {
    if (encrypt_ && seal_) {
      SealStep(outcome, hooks);
      return outcome;
    }
    if (!encrypt_ && IsSealedFile(source)) {
      UnsealStep(outcome, hooks);
      return outcome;
    }
    // Refused targets fail before any work is done for them.
    if (mode_ != TBatchMode::TestOnly) {
      outcome.outputName = OutputNameOf(source);
      CheckTarget(outcome.outputName);
      if (streaming_ && Streamed(outcome, hooks)) return outcome;
    }
    LoadPicture(source, pictures.picture, pictures.working);
    if (hooks.loaded) hooks.loaded();
    const std::string code = Code(hooks);
    CheckCode(code);
    static const TBitmap empty;
    const TBitmap& working = pictures.working ? *pictures.working : empty;
    pictures.result = std::make_unique<TBitmap>();
    if (encrypt_) {
      EncryptTransform(working, code, *pictures.result);
    } else {
      DecryptTransform(working, code, *pictures.result);
    }
    if (hooks.transformed) hooks.transformed();
    if (mode_ != TBatchMode::TestOnly) Store(*pictures.result, outcome, hooks);
  } catch (const std::exception& error) {
    outcome.error = error.what();
  }
  return outcome;
}

TBatchOutcome TBatchRun::Step(const std::string& source) {
  TPicture picture;
  std::unique_ptr<TBitmap> working;
  std::unique_ptr<TBitmap> result;
  return Step(source, {picture, working, result});
}

void TBatchRun::SetSealing(bool seal, TSealParameters parameters) {
  seal_ = seal;
  sealParameters_ = parameters;
}

std::string TBatchRun::Code(const TBatchHooks& hooks) const {
  return hooks.code ? hooks.code() : code_;
}

TExistingFile TBatchRun::Existing() const {
  return replaceExisting_ ? TExistingFile::Replace : TExistingFile::Keep;
}

void TBatchRun::Store(const TBitmap& result, TBatchOutcome& outcome, const TBatchHooks& hooks) {
  const std::string target = (fs::path(destination_) / outcome.outputName).string();
  writer_(result, target, Existing());
  Stored(outcome, hooks, target);
}

bool TBatchRun::Streamed(TBatchOutcome& outcome, const TBatchHooks& hooks) {
  // A code asked for per file is asked for once, on the general road.
  if (hooks.code) return false;
  const std::string target = (fs::path(destination_) / outcome.outputName).string();
  if (!TransformBmpFile(outcome.source, code_, target, Existing())) return false;
  Stored(outcome, hooks, target);
  return true;
}

void TBatchRun::SealStep(TBatchOutcome& outcome, const TBatchHooks& hooks) {
  if (mode_ != TBatchMode::TestOnly) {
    outcome.outputName = OutputNameOf(outcome.source);
    CheckTarget(outcome.outputName);
  }
  const std::string passphrase = Code(hooks);
  auto& sealer = keys_->sealers[{passphrase, sealParameters_}];
  if (!sealer) sealer = std::make_unique<TSealer>(passphrase, sealParameters_);
  if (mode_ == TBatchMode::TestOnly) {
    sealer->Test(outcome.source);
    return;
  }
  const std::string target = (fs::path(destination_) / outcome.outputName).string();
  sealer->Seal(outcome.source, target, Existing());
  Stored(outcome, hooks, target);
}

void TBatchRun::UnsealStep(TBatchOutcome& outcome, const TBatchHooks& hooks) {
  const std::string passphrase = Code(hooks);
  TUnsealer& unsealer = keys_->unsealers.try_emplace(passphrase, passphrase).first->second;
  if (mode_ == TBatchMode::TestOnly) {
    unsealer.Verify(outcome.source);
    return;
  }
  const std::string name =
      unsealer.Unseal(outcome.source, destination_, DecryptedOutputName(FileName(outcome.source)),
                      Existing(), [&](const std::string& stored) {
                        outcome.outputName = stored;
                        CheckTarget(stored);
                      });
  Stored(outcome, hooks, (fs::path(destination_) / name).string());
}

void TBatchRun::Stored(TBatchOutcome& outcome, const TBatchHooks& hooks,
                       const std::string& target) {
  {
    const std::lock_guard lock(writtenLock_);
    written_[outcome.outputName] = outcome.source;
  }
  outcome.written = true;
  if (hooks.saved) hooks.saved(outcome.outputName);
  if (mode_ != TBatchMode::Delete) return;

  // Never delete the only copy: the output must be another file.
  std::error_code same;
  if (fs::equivalent(outcome.source, target, same) && !same) return;
  if (::unlink(outcome.source.c_str()) != 0) {
    throw Exception(
        FormatMessage("Cannot delete file %s: %s", outcome.source.c_str(), std::strerror(errno)));
  }
  outcome.deleted = true;
}

}  // namespace quorvex
