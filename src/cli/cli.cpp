#include "cli/cli.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <system_error>

#include "core/batch_step.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/picture_loader.h"
#include "picture/platform/platform_graphics.h"
#include "picture/safe_file_writer.h"

namespace quorvex {

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  quorvex-cli info FILE...\n"
    "  quorvex-cli decode FILE OUT.bmp\n"
    "  quorvex-cli encrypt [--code TEXT] [--mode test|save|delete] [--dest DIR]\n"
    "                      [--overwrite] FILE...\n"
    "  quorvex-cli decrypt [--code TEXT] [--mode test|save|delete] [--dest DIR]\n"
    "                      [--overwrite] FILE...\n";

struct RunOptions {
  std::string code = "614052";
  TBatchMode mode = TBatchMode::Save;
  std::string dest = ".";
  bool overwrite = false;
  std::vector<std::string> files;
};

// The picture as the program loads it; returns the class that read it.
std::string LoadWorkingBitmap(const std::string& path, TBitmap& working) {
  TPicture picture;
  std::unique_ptr<TBitmap> slot;
  LoadPicture(path, picture, slot);
  working.TakeFrom(slot.get());
  return picture.Graphic() ? picture.Graphic()->ClassName() : working.ClassName();
}

std::string FileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

// The log's error line, for one failed file.
void ReportFailure(std::ostream& err, const std::string& message, const std::string& path) {
  err << " ERROR (" << message << ") while processing " << FileName(path) << "\n";
}

// Runs step for each file, catching failures file by file.
int ForEachFile(const std::vector<std::string>& files, std::ostream& err,
                const std::function<void(const std::string&)>& step) {
  int status = 0;
  for (const auto& file : files) {
    try {
      step(file);
    } catch (const std::exception& e) {
      ReportFailure(err, e.what(), file);
      status = 1;
    }
  }
  return status;
}

int Usage(std::ostream& err, const std::string& problem) {
  err << "quorvex-cli: " << problem << "\n" << kUsage;
  return 2;
}

int Info(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
  return ForEachFile(files, err, [&](const std::string& file) {
    TBitmap working;
    const std::string reader = LoadWorkingBitmap(file, working);
    const auto palette = working.QueryPalette();
    out << file << ": " << reader << " " << PixelLayoutName(working.Layout()) << " "
        << working.ImageWidth() << "x" << working.ImageHeight() << " palette "
        << (palette ? palette->size() : 0) << "\n";
  });
}

int Run(bool encrypt, const RunOptions& options, std::ostream& out, std::ostream& err) {
  TBatchRun run(encrypt, options.mode, options.dest, options.code);
  run.SetReplaceExisting(options.overwrite);
  TBatchHooks hooks;
  hooks.saved = [&](const std::string& name) { out << " Image saved as:  " << name << "\n"; };
  int status = 0;
  for (const auto& file : options.files) {
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    std::unique_ptr<TBitmap> result;
    const TBatchOutcome outcome = run.Step(file, {picture, working, result}, hooks);
    if (outcome.Failed()) {
      ReportFailure(err, outcome.error, file);
      status = 1;
    }
  }
  return status;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // Past the file size limit a write fails for its file instead of the
  // signal ending the run.
  std::signal(SIGXFSZ, SIG_IGN);
  // Icons and metafiles are drawn by the platform library this program links.
  SetPlatformClasses({&ClassOf<TIcon>(), &ClassOf<TMetafile>()});
  if (args.empty()) return Usage(err, "no command");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());

  if (command == "info") {
    if (rest.empty()) return Usage(err, "info needs at least one file");
    return Info(rest, out, err);
  }
  if (command == "decode") {
    if (rest.size() != 2) return Usage(err, "decode needs FILE and OUT.bmp");
    return ForEachFile({rest[0]}, err, [&](const std::string& file) {
      TBitmap working;
      LoadWorkingBitmap(file, working);
      RequirePicture(working);
      SaveFileAtomically(working, rest[1]);
    });
  }
  if (command != "encrypt" && command != "decrypt") return Usage(err, "unknown command " + command);

  RunOptions options;
  for (size_t i = 0; i < rest.size(); ++i) {
    const std::string& arg = rest[i];
    const bool hasValue = i + 1 < rest.size();
    if (arg == "--code" || arg == "--mode" || arg == "--dest") {
      if (!hasValue) return Usage(err, arg + " needs a value");
      const std::string& value = rest[++i];
      if (arg == "--code") {
        options.code = value;
      } else if (arg == "--dest") {
        options.dest = value;
      } else if (value == "test") {
        options.mode = TBatchMode::TestOnly;
      } else if (value == "save") {
        options.mode = TBatchMode::Save;
      } else if (value == "delete") {
        options.mode = TBatchMode::Delete;
      } else {
        return Usage(err, "unknown mode " + value);
      }
    } else if (arg == "--overwrite") {
      options.overwrite = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      return Usage(err, "unknown option " + arg);
    } else {
      if (arg == "--") {
        options.files.insert(options.files.end(), rest.begin() + static_cast<ptrdiff_t>(i) + 1,
                             rest.end());
        break;
      }
      options.files.push_back(arg);
    }
  }
  if (options.files.empty()) return Usage(err, command + " needs at least one file");
  // Checked before any file is touched: the transforms would take their
  // fallback seed instead, and the files could not be restored by this code.
  try {
    CheckCode(options.code);
  } catch (const EConvertError& error) {
    err << "quorvex-cli: " << error.what() << "\n";
    return 2;
  }
  return Run(command == "encrypt", options, out, err);
}

}  // namespace quorvex
