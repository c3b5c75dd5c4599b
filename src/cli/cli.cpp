#include "cli/cli.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "cli/cli_output.h"
#include "cli/picture_tree.h"
#include "core/batch_step.h"
#include "core/parse_integer.h"
#include "core/processor_count.h"
#include "core/sealed_file.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/picture_loader.h"
#include "picture/safe_file_writer.h"

#ifndef QUORVEX_VERSION
#error "QUORVEX_VERSION comes from the build"
#endif

namespace quorvex {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultCode = "614052";

constexpr const char* kUsage =
    "usage:\n"
    "  quorvex-cli info FILE...\n"
    "  quorvex-cli decode FILE OUT.bmp\n"
    "  quorvex-cli encrypt [OPTIONS] FILE|FOLDER...\n"
    "  quorvex-cli decrypt [OPTIONS] FILE|FOLDER...\n"
    "  quorvex-cli [COMMAND] --help\n"
    "  quorvex-cli --version\n";

constexpr const char* kExitStatuses =
    "\n"
    "exit status:\n"
    "  0  every file succeeded\n"
    "  1  at least one file failed (each has an error line on standard error)\n"
    "  2  a usage error, or a code that is missing or not a 32-bit integer;\n"
    "     no file was touched\n";

constexpr const char* kProgramHelp =
    "quorvex-cli scrambles pictures so that they cannot be viewed, and restores\n"
    "them with the same code. Every output is a BMP file.\n"
    "\n"
    "commands:\n"
    "  info     the reader, pixel layout, size and palette of each file\n"
    "  decode   a file as the program loads it, written as BMP\n"
    "  encrypt  scramble pictures into Ecr_NAME.bmp (--seal: encrypt whole files)\n"
    "  decrypt  restore scrambled pictures and unseal sealed files\n"
    "\n"
    "Give --help after a command for its options.\n";

constexpr const char* kInfoHelp =
    "usage: quorvex-cli info FILE...\n"
    "\n"
    "Prints, for each file, the class that reads it, the pixel layout, the width\n"
    "and height and the number of palette entries. For a sealed file it says so\n"
    "and prints its key parameters; no passphrase is needed.\n";

constexpr const char* kDecodeHelp =
    "usage: quorvex-cli decode FILE OUT.bmp\n"
    "\n"
    "Loads FILE as the program does and writes the picture to OUT.bmp.\n";

constexpr const char* kRunOptions =
    "\n"
    "options:\n"
    "  --code-file FILE     read the code from the first line of FILE\n"
    "  --code TEXT          the code itself; other users of the machine can read\n"
    "                       it in the process list (ps), prefer the others\n"
    "  --mode test|save|delete\n"
    "                       test: write nothing; save (default): write the outputs;\n"
    "                       delete: also delete each source once its output is\n"
    "                       safely on disk\n"
    "  --dest DIR           the folder for the outputs (default: the current one)\n"
    "  --overwrite          replace files already in the destination\n"
    "  --seal               (encrypt) seal whole files instead: any regular file is\n"
    "                       encrypted with a passphrase of at least 8 characters\n"
    "                       and restored exactly, name, time and permissions\n"
    "                       included; a forgotten passphrase cannot be recovered\n"
    "  -j, --jobs N         work on N files at a time (default: the number of\n"
    "                       cores); the lines and objects printed, the outcome\n"
    "                       and the outputs are those of one job. Sealing and\n"
    "                       unsealing go one file at a time\n"
    "  -r, --recursive      walk the folders given and take every file the program\n"
    "                       reads, skipping hidden entries and symbolic links;\n"
    "                       outputs mirror the folders below DIR\n"
    "  -q, --quiet          print only errors\n"
    "  --json               print one JSON object per file on standard output:\n"
    "                       source, output, outcome (tested, saved, moved or\n"
    "                       failed) and message; bytes of names that are not\n"
    "                       UTF-8 are written as \\udcXX\n"
    "  -h, --help           print this help\n"
    "\n"
    "The code is a 32-bit integer (decimal, or hexadecimal after $). It is taken\n"
    "from --code or --code-file, else from the environment variable QUORVEX_CODE,\n"
    "else asked for without echo when standard input is a terminal (twice when\n"
    "encrypting); with none of these it is 614052. With --seal it is the\n"
    "passphrase, from the same sources; decrypt unseals every sealed file it is\n"
    "given with the code as passphrase, and decrypts every other file as before.\n"
    "\n"
    "A progress line is shown on standard error when it is a terminal.\n";

std::string RunHelp(const std::string& command) {
  const std::string what = command == "encrypt"
                               ? "Scrambles each picture into Ecr_NAME.bmp.\n"
                               : "Restores each scrambled picture: Ecr_NAME.bmp becomes NAME.bmp,\n"
                                 "any other name gets the prefix Dcr_.\n";
  return "usage: quorvex-cli " + command + " [OPTIONS] FILE|FOLDER...\n\n" + what + kRunOptions;
}

struct RunOptions {
  std::optional<std::string> code;
  std::optional<std::string> codeFile;
  TBatchMode mode = TBatchMode::Save;
  std::string dest = ".";
  bool overwrite = false;
  bool recursive = false;
  bool quiet = false;
  bool json = false;
  bool seal = false;
  unsigned jobs = 0;  // 0: one per core
  std::vector<std::string> inputs;
};

// More would only take memory: each job holds a picture.
constexpr unsigned kMaxJobs = 256;

// One source and the folder its output goes to.
struct WorkItem {
  std::string source;
  std::string destination;
  std::string relativeFolder;  // below the destination; made when needed
  std::string error;           // set when the argument cannot be worked on
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
  return fs::path(path).filename().string();
}

std::string ToLower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
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

int Fatal(std::ostream& err, const std::string& problem) {
  err << "quorvex-cli: " << problem << "\n";
  return 2;
}

bool IsHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

bool AsksForHelp(const std::vector<std::string>& args) {
  for (const auto& arg : args) {
    if (arg == "--") return false;
    if (IsHelp(arg)) return true;
  }
  return false;
}

std::string SealedInfo(const std::string& file, const TSealHeader& header) {
  return file + ": sealed file, version " + std::to_string(header.version) +
         ", Argon2id v1.3 + XChaCha20-Poly1305, opslimit " +
         std::to_string(header.parameters.opslimit) + ", memlimit " +
         std::to_string(header.parameters.memlimitKiB) + " KiB, " +
         std::to_string(header.ciphertextLength) + " bytes sealed, BMP " +
         std::to_string(header.width) + "x" + std::to_string(header.height);
}

int Info(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
  return ForEachFile(files, err, [&](const std::string& file) {
    if (IsSealedFile(file)) {
      out << SealedInfo(file, ReadSealHeader(file)) << "\n";
      return;
    }
    TBitmap working;
    const std::string reader = LoadWorkingBitmap(file, working);
    const auto palette = working.QueryPalette();
    out << file << ": " << reader << " " << PixelLayoutName(working.Layout()) << " "
        << working.ImageWidth() << "x" << working.ImageHeight() << " palette "
        << (palette ? palette->size() : 0) << "\n";
  });
}

// Parses the options of encrypt and decrypt; returns a usage problem.
std::optional<std::string> ParseRunOptions(const std::vector<std::string>& args,
                                           RunOptions& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> attached;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      attached = arg.substr(arg.find('=') + 1);
      arg.erase(arg.find('='));
    }
    // -jN is -j N.
    if (arg.size() > 2 && arg.rfind("-j", 0) == 0) {
      attached = arg.substr(2);
      arg = "-j";
    }
    if (arg == "--code" || arg == "--code-file" || arg == "--mode" || arg == "--dest" ||
        arg == "-j" || arg == "--jobs") {
      if (!attached && i + 1 >= args.size()) return arg + " needs a value";
      const std::string value = attached ? *attached : args[++i];
      if (arg == "-j" || arg == "--jobs") {
        int32_t jobs = 0;
        try {
          jobs = parseInteger(value);
        } catch (const Exception&) {
        }
        if (jobs < 1 || jobs > static_cast<int32_t>(kMaxJobs)) {
          return arg + " needs a number from 1 to " + std::to_string(kMaxJobs);
        }
        options.jobs = static_cast<unsigned>(jobs);
      } else if (arg == "--code") {
        options.code = value;
      } else if (arg == "--code-file") {
        options.codeFile = value;
      } else if (arg == "--dest") {
        options.dest = value;
      } else if (value == "test") {
        options.mode = TBatchMode::TestOnly;
      } else if (value == "save") {
        options.mode = TBatchMode::Save;
      } else if (value == "delete") {
        options.mode = TBatchMode::Delete;
      } else {
        return "unknown mode " + value;
      }
      continue;
    }
    if (attached) return "unknown option " + args[i];
    if (arg == "--overwrite") {
      options.overwrite = true;
    } else if (arg == "-r" || arg == "--recursive") {
      options.recursive = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--seal") {
      options.seal = true;
    } else if (arg == "--") {
      options.inputs.insert(options.inputs.end(), args.begin() + static_cast<ptrdiff_t>(i) + 1,
                            args.end());
      break;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return "unknown option " + arg;
    } else {
      options.inputs.push_back(arg);
    }
  }
  if (options.code && options.codeFile) return "give either --code or --code-file";
  return std::nullopt;
}

// The code from the first source that gives one. Returns a problem when a
// source fails or the two prompted entries differ.
std::optional<std::string> ObtainCode(bool encrypt, const RunOptions& options,
                                      const TCliConsole& console, std::string& code) {
  if (options.code) {
    code = *options.code;
    return std::nullopt;
  }
  if (options.codeFile) {
    try {
      code = ReadCodeFile(*options.codeFile);
    } catch (const Exception& e) {
      return e.what();
    }
    return std::nullopt;
  }
  if (const auto fromEnvironment = console.environment("QUORVEX_CODE")) {
    code = *fromEnvironment;
    return std::nullopt;
  }
  if (!console.inputIsTerminal) {
    code = kDefaultCode;
    return std::nullopt;
  }
  const std::string word = options.seal ? "Passphrase" : "Code";
  const auto first = console.readHidden(word + ": ");
  if (!first) return "no " + ToLower(word) + " was entered";
  if (encrypt) {
    const auto second = console.readHidden(word + " again: ");
    if (!second || *second != *first) return "the two " + ToLower(word) + "s differ";
  }
  code = *first;
  return std::nullopt;
}

// The sources the arguments name, each with its output folder.
std::vector<WorkItem> CollectWork(const RunOptions& options) {
  std::vector<WorkItem> work;
  for (const auto& input : options.inputs) {
    std::error_code error;
    if (!fs::is_directory(input, error)) {
      work.push_back({input, options.dest, "", ""});
      continue;
    }
    if (!options.recursive) {
      work.push_back(
          {input, options.dest, "", FileName(input) + " is a folder (give -r to walk it)"});
      continue;
    }
    const TPictureTree tree = WalkPictureTree(input, options.seal);
    for (const auto& file : tree.files) {
      const std::string destination =
          file.relativeFolder.empty() ? options.dest : options.dest + "/" + file.relativeFolder;
      work.push_back({file.source, destination, file.relativeFolder, ""});
    }
    for (const auto& failure : tree.errors) {
      work.push_back({failure.path, options.dest, "",
                      "Cannot read folder " + failure.path + ": " + failure.message});
    }
  }
  return work;
}

// Makes the mirrored sub-folders below an existing destination; a missing
// destination stays missing, and the write reports it.
void MakeMirroredFolder(const std::string& dest, const std::string& relative) {
  std::error_code error;
  if (relative.empty() || !fs::is_directory(dest, error)) return;
  fs::create_directories(fs::path(dest) / relative, error);
}

uint64_t SizeOf(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  return error ? 0 : size;
}

std::string OutcomeName(const TBatchOutcome& outcome, TBatchMode mode) {
  if (outcome.Failed()) return "failed";
  if (mode == TBatchMode::TestOnly) return "tested";
  return outcome.deleted ? "moved" : "saved";
}

void PrintJson(std::ostream& out, const TBatchOutcome& outcome, const std::string& output,
               TBatchMode mode) {
  out << "{\"source\":" << JsonString(outcome.source) << ",\"output\":" << JsonString(output)
      << ",\"outcome\":" << JsonString(OutcomeName(outcome, mode))
      << ",\"message\":" << JsonString(outcome.error) << "}\n";
}

// What became of one work item, for printing in the order of the sources.
struct ItemResult {
  TBatchOutcome outcome;
  std::string savedLine;
  bool finished = false;
};

// The items each item must wait for: the last earlier one with the same
// output, whose name it would be refused if that one is written, and the
// last earlier one with the same source, which a delete run may remove.
std::vector<std::vector<size_t>> Predecessors(const std::vector<WorkItem>& work,
                                              const std::function<std::string(size_t)>& outputOf) {
  std::vector<std::vector<size_t>> before(work.size());
  std::map<std::string, size_t> lastOutput;
  std::map<std::string, size_t> lastSource;
  for (size_t i = 0; i < work.size(); ++i) {
    if (!work[i].error.empty()) continue;
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(work[i].source, error);
    const std::string source = error ? work[i].source : canonical.string();
    const std::string output = outputOf(i);
    for (const auto* key : {&source, &output}) {
      if (key->empty()) continue;
      auto& last = key == &source ? lastSource : lastOutput;
      const auto earlier = last.find(*key);
      if (earlier != last.end()) before[i].push_back(earlier->second);
      last[*key] = i;
    }
  }
  return before;
}

// Steps through the items on `jobs` threads; each item starts once the
// items it waits for are finished, and is finished in its slot.
class TParallelSteps {
 public:
  TParallelSteps(std::vector<ItemResult>& results, std::vector<std::vector<size_t>> before,
                 std::function<void(size_t)> step)
      : results_(results), before_(std::move(before)), step_(std::move(step)) {}

  void Start(unsigned jobs) {
    for (unsigned i = 0; i < jobs; ++i) workers_.emplace_back([this] { Work(); });
  }
  void WaitFor(size_t index) {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return results_[index].finished; });
  }
  ~TParallelSteps() {
    for (std::thread& worker : workers_) worker.join();
  }

 private:
  void Work() {
    for (;;) {
      size_t index = 0;
      {
        std::unique_lock lock(mutex_);
        if (next_ == results_.size()) return;
        index = next_++;
        // Earlier items were claimed earlier, so this never waits on itself.
        finished_.wait(lock, [&] {
          return std::all_of(before_[index].begin(), before_[index].end(),
                             [&](size_t earlier) { return results_[earlier].finished; });
        });
      }
      step_(index);
      {
        std::lock_guard lock(mutex_);
        results_[index].finished = true;
      }
      finished_.notify_all();
    }
  }

  std::vector<ItemResult>& results_;
  std::vector<std::vector<size_t>> before_;
  std::function<void(size_t)> step_;
  size_t next_ = 0;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<std::thread> workers_;
};

int Run(bool encrypt, const RunOptions& options, const std::vector<WorkItem>& work,
        const std::string& code, std::ostream& out, std::ostream& err, const TCliConsole& console) {
  const bool showProgress = console.errorIsTerminal && !options.quiet;
  uint64_t totalBytes = 0;
  if (showProgress) {
    for (const auto& item : work) totalBytes += SizeOf(item.source);
  }
  std::optional<TProgressLine> progress;
  if (showProgress) progress.emplace(err, work.size(), totalBytes);

  // One run per output folder: each checks its own folder's names.
  // They share the first one's keys: one derivation for the whole run.
  // All are made before any step, since steps may run side by side.
  std::map<std::string, std::unique_ptr<TBatchRun>> runs;
  const TBatchRun* first = nullptr;
  bool sealed = options.seal;
  for (const auto& item : work) {
    if (!item.error.empty()) continue;
    if (!encrypt && !sealed) sealed = IsSealedFile(item.source);
    auto& run = runs[item.destination];
    if (run) continue;
    run = std::make_unique<TBatchRun>(encrypt, options.mode, item.destination, code);
    run->SetReplaceExisting(options.overwrite);
    run->SetSealing(options.seal);
    run->SetStreaming(true);
    if (first) run->ShareKeysWith(*first);
    if (!first) first = run.get();
  }

  std::vector<ItemResult> results(work.size());
  const auto step = [&](size_t index) {
    const WorkItem& item = work[index];
    ItemResult& result = results[index];
    if (!item.error.empty()) {
      result.outcome.source = item.source;
      result.outcome.error = item.error;
      return;
    }
    if (options.mode != TBatchMode::TestOnly) MakeMirroredFolder(options.dest, item.relativeFolder);
    TBatchHooks hooks;
    hooks.saved = [&](const std::string& name) {
      result.savedLine = " Image saved as:  " + name + "\n";
    };
    TPicture picture;
    std::unique_ptr<TBitmap> working;
    std::unique_ptr<TBitmap> transformed;
    result.outcome =
        runs.at(item.destination)->Step(item.source, {picture, working, transformed}, hooks);
  };

  // Sealing derives its keys once for the run, and a sealed source's output
  // name is known only inside it: those runs go one file at a time.
  const unsigned jobs = sealed ? 1
                               : static_cast<unsigned>(std::min<size_t>(
                                     options.jobs ? options.jobs : ProcessorCount(), work.size()));
  std::optional<TParallelSteps> parallel;
  if (jobs > 1) {
    const auto outputOf = [&](size_t i) {
      if (options.mode == TBatchMode::TestOnly) return std::string();
      const WorkItem& item = work[i];
      return item.destination + '\0' + runs.at(item.destination)->OutputNameOf(item.source);
    };
    parallel.emplace(results, Predecessors(work, outputOf), step);
    parallel->Start(jobs);
  }

  int status = 0;
  for (size_t index = 0; index < work.size(); ++index) {
    const WorkItem& item = work[index];
    if (progress) progress->Draw();
    const uint64_t bytes = progress ? SizeOf(item.source) : 0;
    if (parallel) {
      parallel->WaitFor(index);
    } else {
      step(index);
    }
    const ItemResult& result = results[index];
    const TBatchOutcome& outcome = result.outcome;
    if (progress) progress->Clear();
    if (outcome.Failed()) {
      ReportFailure(err, outcome.error, item.source);
      status = 1;
    }
    if (options.json) {
      const std::string output =
          outcome.written ? (fs::path(item.destination) / outcome.outputName).string() : "";
      PrintJson(out, outcome, output, options.mode);
    } else if (!options.quiet) {
      out << result.savedLine;
    }
    out.flush();
    if (progress) progress->FileDone(bytes);
  }
  if (progress) {
    progress->Draw();
    progress->Clear();
  }
  return status;
}

int EncryptOrDecrypt(const std::string& command, const std::vector<std::string>& args,
                     std::ostream& out, std::ostream& err, const TCliConsole& console) {
  RunOptions options;
  if (const auto problem = ParseRunOptions(args, options)) return Usage(err, *problem);
  if (options.inputs.empty()) return Usage(err, command + " needs at least one file");
  const bool encrypt = command == "encrypt";
  if (options.seal && !encrypt) return Usage(err, "--seal is an encrypt option");
  std::string code;
  if (const auto problem = ObtainCode(encrypt, options, console, code)) return Fatal(err, *problem);
  const std::vector<WorkItem> work = CollectWork(options);
  // Checked before any file is touched: the transforms would take their
  // fallback seed instead, and the files could not be restored by this code.
  // A passphrase that only unseals needs not be a number.
  const bool scrambles =
      !options.seal && (encrypt || std::any_of(work.begin(), work.end(), [](const WorkItem& item) {
                          return !item.error.empty() || !IsSealedFile(item.source);
                        }));
  try {
    if (options.seal) CheckSealPassphrase(code);
    if (scrambles) CheckCode(code);
  } catch (const Exception& error) {
    return Fatal(err, error.what());
  }
  return Run(encrypt, options, work, code, out, err, console);
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const TCliConsole& console) {
  // Past the file size limit a write fails for its file instead of the
  // signal ending the run.
  std::signal(SIGXFSZ, SIG_IGN);
  if (args.empty()) return Usage(err, "no command");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());

  if (IsHelp(command) || command == "help") {
    out << kUsage << "\n" << kProgramHelp << kExitStatuses;
    return 0;
  }
  if (command == "--version") {
    out << "quorvex-cli " << QUORVEX_VERSION << "\n";
    return 0;
  }
  if (command == "info") {
    if (AsksForHelp(rest)) {
      out << kInfoHelp << kExitStatuses;
      return 0;
    }
    if (rest.empty()) return Usage(err, "info needs at least one file");
    return Info(rest, out, err);
  }
  if (command == "decode") {
    if (AsksForHelp(rest)) {
      out << kDecodeHelp << kExitStatuses;
      return 0;
    }
    if (rest.size() != 2) return Usage(err, "decode needs FILE and OUT.bmp");
    return ForEachFile({rest[0]}, err, [&](const std::string& file) {
      TBitmap working;
      LoadWorkingBitmap(file, working);
      RequirePicture(working);
      SaveFileAtomically(working, rest[1]);
    });
  }
  if (command != "encrypt" && command != "decrypt") return Usage(err, "unknown command " + command);
  if (AsksForHelp(rest)) {
    out << RunHelp(command) << kExitStatuses;
    return 0;
  }
  return EncryptOrDecrypt(command, rest, out, err, console);
}

}  // namespace quorvex
