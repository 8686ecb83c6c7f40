#include "pack/image/archives.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "formats/option_expansion.h"
#include "pack/core/disk_file_system.h"
#include "pack/core/process.h"
#include "pack/core/strings.h"
#include "pack/image/archive_policy.h"
#include "pack/image/burn.h"
#include "pack/image/jar_file.h"
#include "pack/image/training_display.h"
#include "pack/jdk/jdk.h"

namespace fs = std::filesystem;

namespace vorlane {

using formats::BurnedInData;
using formats::expand_options;

namespace {

/// Tells the app's Java side that this run is the training run (Launcher.TRAINING).
constexpr char kTrainingProperty[] = "-Dvorlane.training=true";

/// Lines of a failed run's output shown under the error.
constexpr std::size_t kShownLines = 15;
/// Bytes of a run's output kept: far more than those lines take, and a
/// bound however much an app prints.
constexpr std::size_t kKeptOutput = std::size_t{64} * 1024;

/// A file removed when this goes out of scope.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

ArchiveOutcome failure(std::string error) {
  ArchiveOutcome outcome;
  outcome.error = std::move(error);
  return outcome;
}

std::uintmax_t file_size_or_zero(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

/// Where a manifest Class-Path `entry` of the jar at `jar` points (a path,
/// relative or "file:" URL); "" for a URL of another scheme.
std::string class_path_target(const fs::path& jar, const std::string& entry) {
  std::string path = entry;
  if (path.starts_with("file:")) {
    path.erase(0, 5);
    if (path.starts_with("//")) path.erase(0, 2);
  } else if (const std::size_t colon = path.find(':');
             colon != std::string::npos && path.find('/') > colon) {
    return "";
  }
  return path.starts_with("/") ? path : (jar.parent_path() / path).string();
}

/// Why no archive can be made of the jars in `app_dir`: the first manifest
/// Class-Path entry that names a folder with files in it, which the JVM
/// refuses in an archive's class path ("Cannot have non-empty directory in
/// paths"); "" when there is none.
std::string class_path_folder(const std::string& app_dir) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(app_dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".jar" || !it->is_regular_file(ec)) continue;
    const Result<std::string> manifest = read_manifest(it->path().string());
    if (!manifest) continue;  // jdeps has read every jar
    for (const std::string& entry : manifest_class_path(*manifest)) {
      const std::string target = class_path_target(it->path(), entry);
      if (target.empty() || !fs::is_directory(target, ec) || fs::is_empty(target, ec)) continue;
      return "lib/app/" + it->path().lexically_relative(app_dir).string() + " names the folder '" +
             entry +
             "' in its manifest's Class-Path, and the JVM makes no class-data archive while a "
             "folder with files is on the class path. The launcher's class path names every jar "
             "of lib/app already; the packer leaves jars as they are: without that entry in the "
             "jar's manifest the app gets its archive";
    }
  }
  return "";
}

/// Runs `runs` for the tree at `home` whose launcher is bin/`name`, holding
/// `block`, as `make_app_archive` tells: each but the last writes
/// lib/app/`work_name`, the last lib/app/`file`. ok with the private
/// display's name in the outcome.
ArchiveOutcome run_archive_runs(const std::string& home, const std::string& name,
                                const BurnedInData& block, const TrainingRun& run,
                                const std::vector<ArchiveRun>& runs, const std::string& work_name,
                                const std::string& file) {
  const std::string launcher = home + "/bin/" + name;
  const std::string app_dir = home + "/lib/app/";
  if (const std::string folder = class_path_folder(app_dir); !folder.empty()) {
    return failure(folder);
  }
  // The runs' launcher: the same block without the archive options, so
  // nothing older maps over the classes being recorded.
  std::string placeholder = home + "/bin/." + name + ".training-XXXXXX";
  const int fd = mkstemp(placeholder.data());
  if (fd < 0) return failure("cannot make a file in " + home + "/bin: " + std::strerror(errno));
  close(fd);
  const TempFile trainer(placeholder);
  const std::string wrote_last = app_dir + file;
  const std::string work = work_name.empty() ? "" : app_dir + work_name;

  char* resolved = realpath(app_dir.c_str(), nullptr);
  if (resolved == nullptr) {
    return failure("cannot resolve " + app_dir + ": " + std::strerror(errno));
  }
  // The folder "&&" stands for, as the launcher resolves it.
  const std::string expanded_app_dir = resolved;
  std::free(resolved);

  // A desktop app's training run shows its window: on the packer's display,
  // else on a private one that lives as long as the runs. Without either, a
  // desktop app would record only what it loads before it fails.
  TrainingDisplay display = open_training_display(home + "/lib/runtime", run.timeout_seconds);
  if (!display.missing.empty()) {
    return failure("the training run has no display: " + display.missing);
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    std::vector<std::string> argv = run.emulator;
    ProcessOptions options = tool_options(run.timeout_seconds);
    if (runs[i].runs_main) {
      BurnedInData step = block;
      step.jvm_options = set_archive_options(step.jvm_options, std::nullopt);
      step.jvm_options.insert(step.jvm_options.end(), runs[i].options.begin(),
                              runs[i].options.end());
      // The Java side ends a desktop app's run once its first window is up.
      step.jvm_options.emplace_back(kTrainingProperty);
      std::vector<std::string> errors = burn(launcher, trainer.path(), step, step.stack_size);
      if (!errors.empty()) return failure(errors.front());
      argv.push_back(trainer.path());
      argv.insert(argv.end(), run.args.begin(), run.args.end());
      // The run is the packager's, not shaped by options of whoever runs the packer.
      options.env = {{"VORLANE_JVM_OPTIONS", std::nullopt},
                     {"VORLANE_DUMP_JVM_ARGS", std::nullopt}};
      if (display.display) options.env["DISPLAY"] = display.display;
      if (display.authority) options.env["XAUTHORITY"] = display.authority;
    } else {
      std::vector<std::string> java_options =
          runtime_java_options(block.jvm_options, runs[i].options);
      expand_options(
          java_options, expanded_app_dir, [] { return std::getenv("HOME"); }, DiskFileSystem(),
          nullptr);
      argv.push_back(home + "/lib/runtime/bin/java");
      argv.insert(argv.end(), java_options.begin(), java_options.end());
      // The launcher's JVM reads none of these; bin/java would.
      options.env = {{"_JAVA_OPTIONS", std::nullopt},
                     {"JDK_JAVA_OPTIONS", std::nullopt},
                     {"JAVA_TOOL_OPTIONS", std::nullopt},
                     {"CLASSPATH", std::nullopt}};
    }
    const ProcessResult result = run_process(argv, options);
    const std::string what = i == 0 ? "the training run" : "the run that makes the archive";
    if (!result.ok()) {
      const std::string hint =
          runs[i].runs_main && result.timed_out
              ? " (a desktop app's run ends once a window shows and it has been quiet for "
                "vorlane.training.quiet seconds; an app without one must end by itself)"
              : "";
      return failure(what + " " + result.describe_end(run.timeout_seconds) + hint +
                     "; its output ended:\n" + tail_lines(result.out, kShownLines));
    }
    const std::string& wrote = i + 1 < runs.size() ? work : wrote_last;
    if (file_size_or_zero(wrote) == 0) {
      const std::string hint =
          runs[i].runs_main ? " (the app must end by returning from main or by System.exit)" : "";
      return failure(what + " wrote no " + (i + 1 < runs.size() ? work_name : file) + hint +
                     "; its output ended:\n" + tail_lines(result.out, kShownLines));
    }
  }
  ArchiveOutcome outcome;
  outcome.ok = true;
  outcome.private_display = display.server ? display.server->name() : "";
  return outcome;
}

}  // namespace

ArchiveOutcome make_app_archive(const std::string& home, const std::string& name,
                                const TrainingRun& run, const ArchiveChoice& choice) {
  const std::string launcher = home + "/bin/" + name;
  Result<BurnedInData> block = read_burned_block(launcher);
  if (!block) return failure(block.error().message);
  const std::string app_dir = home + "/lib/app/";
  const std::string file = archive_file_name(choice.kind);
  const std::string new_file = archive_temp_name(file);
  const TempFile new_archive(app_dir + new_file);
  const std::string work_name = archive_work_file_name(choice.kind);
  const TempFile work(work_name.empty() ? "" : app_dir + work_name);
  unlink(new_archive.path().c_str());
  if (!work_name.empty()) unlink(work.path().c_str());
  ArchiveOutcome outcome = run_archive_runs(
      home, name, *block, run, archive_making_runs(choice, new_file), work_name, new_file);
  if (!outcome.ok) return outcome;
  const std::uintmax_t bytes = file_size_or_zero(new_archive.path());

  const std::string archive = app_dir + file;
  if (rename(new_archive.path().c_str(), archive.c_str()) != 0) {
    return failure("cannot move the archive to " + archive + ": " + std::strerror(errno));
  }
  // Another kind's archive, from a runtime the tree had before, is not used again.
  for (const std::string& other : all_archive_file_names()) {
    if (other != file) unlink((app_dir + other).c_str());
  }
  block->jvm_options = set_archive_options(block->jvm_options, choice);
  const std::vector<std::string> errors = burn(launcher, launcher, *block, block->stack_size);
  if (!errors.empty()) return failure(errors.front());
  outcome.bytes = bytes;
  return outcome;
}

ArchiveOutcome list_app_classes(const std::string& home, const std::string& name,
                                const TrainingRun& run) {
  const Result<BurnedInData> block = read_burned_block(home + "/bin/" + name);
  if (!block) return failure(block.error().message);
  const std::string list = home + "/lib/app/" + kClassListName;
  unlink(list.c_str());
  ArchiveOutcome outcome = run_archive_runs(home, name, *block, run,
                                            {class_list_run(kClassListName)}, "", kClassListName);
  if (!outcome.ok) unlink(list.c_str());
  outcome.bytes = file_size_or_zero(list);
  return outcome;
}

ArchiveOutcome make_base_archive(const std::string& runtime,
                                 const std::vector<std::string>& emulator, int timeout_seconds) {
  ProcessOptions options = tool_options(timeout_seconds);
  options.env = {{"_JAVA_OPTIONS", std::nullopt},
                 {"JDK_JAVA_OPTIONS", std::nullopt},
                 {"JAVA_TOOL_OPTIONS", std::nullopt}};
  const ProcessResult result = run_process(base_archive_command(emulator, runtime), options);
  if (!result.ok() || !has_base_archive(runtime)) {
    return failure("the runtime's java -Xshare:dump " + result.describe_end(timeout_seconds) +
                   "; its output ended:\n" + tail_lines(result.out, kShownLines));
  }
  ArchiveOutcome outcome;
  outcome.ok = true;
  outcome.bytes = file_size_or_zero(runtime + "/lib/server/classes.jsa");
  return outcome;
}

ProcessOptions tool_options(int timeout_seconds) {
  ProcessOptions options;
  options.timeout_seconds = timeout_seconds;
  options.merge_output = true;
  options.keep_bytes = kKeptOutput;
  return options;
}

bool has_base_archive(const std::string& runtime) {
  return file_size_or_zero(runtime + "/lib/server/classes.jsa") > 0;
}

}  // namespace vorlane
