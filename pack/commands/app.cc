#include "pack/commands/app.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "launcher/user_options.h"
#include "pack/core/elf_section.h"
#include "pack/core/files.h"
#include "pack/core/process.h"
#include "pack/image/app_config.h"
#include "pack/image/app_tree.h"
#include "pack/image/archives.h"
#include "pack/image/block_encoder.h"
#include "pack/image/burn.h"
#include "pack/image/jar_file.h"
#include "pack/jdk/jdk.h"

namespace fs = std::filesystem;

namespace vorlane {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kStackSize = std::uint64_t{2} * 1024 * 1024;
/// Lines of a failed tool's output shown under the error.
constexpr std::size_t kShownLines = 20;
constexpr char kEmulatorVariable[] = "VORLANE_EMULATOR";

/// What the packer says on standard error: progress (unless quiet), notes
/// and errors, each a line that starts with the tool's name.
class Report {
 public:
  explicit Report(bool quiet) : quiet_(quiet) {}

  /// A slow step has ended: one line with what it made and its time.
  void step(const std::string& what, Clock::time_point started) const {
    if (quiet_) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    (void)std::fprintf(stderr, "vorlane-pack: %s (%.1f s)\n", what.c_str(), seconds);
  }
  void done(const std::string& what) const {
    if (!quiet_) (void)std::fprintf(stderr, "vorlane-pack: %s\n", what.c_str());
  }
  /// Something the packager should know even when quiet.
  void note(const std::string& text) const {
    (void)std::fprintf(stderr, "vorlane-pack: note: %s%s", text.c_str(),
                       text.ends_with('\n') ? "" : "\n");
  }
  /// The packer was interrupted; `state` says what is left.
  int stop(const std::string& state) const {
    (void)std::fprintf(stderr, "vorlane-pack: interrupted; %s\n", state.c_str());
    return kInterrupted;
  }
  int fail(int status, const std::string& error) const {
    (void)std::fprintf(stderr, "vorlane-pack: %s%s", error.c_str(),
                       error.ends_with('\n') ? "" : "\n");
    return status;
  }

 private:
  bool quiet_;
};

std::optional<std::string> env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

/// The ELF machine of the file at `path`, or nullopt with the reason.
std::optional<std::uint16_t> machine_of(const std::string& path, std::string& error) {
  std::optional<std::vector<std::uint8_t>> head = read_file_head(path, 20, error);
  if (!head) return std::nullopt;
  std::string why;
  std::optional<std::uint16_t> machine = elf_machine(*head, why);
  if (!machine) error = path + " is " + why;
  return machine;
}

std::string join(const std::vector<std::string>& items, const std::string& separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

/// Writes the marker that tells a tree is the packer's own.
bool write_marker(const std::string& path, const AppMarker& marker, std::string& error) {
  const std::string text = format_marker(marker);
  return write_file_atomically(
      path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0644,
      error);
}

std::string megabytes(std::uintmax_t bytes) {
  char text[32];
  (void)std::snprintf(text, sizeof(text), "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

/// The emulator prefix: --emulator, else VORLANE_EMULATOR, split like a shell
/// would; nullopt when a quote is left open.
std::optional<std::vector<std::string>> emulator_prefix(const std::string& option) {
  const std::string text = option.empty() ? env(kEmulatorVariable).value_or("") : option;
  return split_user_options(text);
}

/// Why the runtime at `runtime` cannot serve a launcher for `machine`, or "".
std::string check_runtime(const std::string& runtime, std::uint16_t machine,
                          const std::string& what) {
  const std::string libjvm = runtime + "/lib/server/libjvm.so";
  if (!fs::is_regular_file(libjvm)) return what + " " + runtime + " has no lib/server/libjvm.so";
  std::string error;
  const std::optional<std::uint16_t> runtime_machine = machine_of(libjvm, error);
  if (!runtime_machine) return error;
  if (*runtime_machine != machine) {
    return "the launcher template is built for " + machine_name(machine) + ", but " + what + " " +
           runtime + " is for " + machine_name(*runtime_machine);
  }
  return "";
}

/// Everything `make_app` checked and found before it changes anything.
struct Plan {
  std::vector<std::string> jars;  ///< relative to the input
  std::string main_jar;           ///< relative to the input; may be empty
  std::string template_path;
  std::string launcher_jar;
  std::uint16_t host_machine = 0;
  std::uint16_t target_machine = 0;
  std::vector<std::string> emulator;
  std::vector<std::string> training_args;
  std::string host_jdk;  ///< empty with --runtime-image
  std::string module_jdk;
  int feature_version = 17;
  BurnedInData block;
  std::string home;  ///< DEST/NAME
  Destination existing = Destination::kAbsent;
  CdsPlan cds;
};

/// Each check below returns the exit status of a refusal (after reporting
/// it), or 0 with its part of `plan` filled in.

/// The app's name, main class, and the jars of --input.
int check_input(const AppOptions& o, const Report& report, Plan& plan) {
  if (std::string why = check_app_name(o.name); !why.empty()) return report.fail(kBadInput, why);
  if (!is_binary_class_name(o.main_class)) {
    return report.fail(kBadInput,
                       "main class '" + o.main_class + "' is not a Java binary class name");
  }
  if (!o.runtime_image.empty() && (!o.jdk.empty() || !o.add_modules.empty())) {
    return report.fail(
        kBadInput,
        "--runtime-image is a finished runtime: --jdk and --add-modules do not apply to it");
  }
  if (o.training_timeout <= 0)
    return report.fail(kBadInput, "--training-timeout must be a number of seconds above 0");
  if (!fs::is_directory(o.input))
    return report.fail(kBadInput, "--input " + o.input + " is not a folder");

  std::string error;
  std::optional<std::vector<std::string>> jars = find_jars(o.input, error);
  if (!jars) return report.fail(kBadInput, error);
  if (jars->empty()) {
    return report.fail(
        kBadInput,
        "--input " + o.input + " holds no .jar files: give the folder that holds the app's jars");
  }
  for (const std::string& jar : *jars) {
    if (jar == kLauncherJarName) {
      return report.fail(kBadInput,
                         "--input " + o.input + " holds " + kLauncherJarName +
                             ", which the packer adds itself; leave it out of the input");
    }
    if (std::string why = check_class_path_element(jar); !why.empty()) {
      return report.fail(kBadInput, "the jar " + jar + " cannot go on the class path: " + why);
    }
  }
  if (fs::exists(fs::path(o.input) / kAppArchiveName)) {
    return report.fail(kBadInput, "--input " + o.input + " holds " + kAppArchiveName +
                                      ", a name the packer keeps for the app's archive");
  }
  std::string main_jar = fs::path(o.main_jar).lexically_normal().string();
  if (!o.main_jar.empty() && std::find(jars->begin(), jars->end(), main_jar) == jars->end()) {
    return report.fail(kBadInput,
                       "--main-jar " + o.main_jar + " is not a jar in --input " + o.input);
  }
  // The main class must be in the jars, or the app could only fail at its first start.
  bool found = false;
  for (const std::string& jar : o.main_jar.empty() ? *jars : std::vector<std::string>{main_jar}) {
    std::optional<bool> has =
        jar_has_class((fs::path(o.input) / jar).string(), o.main_class, error);
    if (!has) return report.fail(kBadInput, error);
    if (*has) {
      found = true;
      break;
    }
  }
  if (!found) {
    return report.fail(kBadInput, "main class " + o.main_class + " is not in " +
                                      (o.main_jar.empty() ? "any jar in " + o.input : o.main_jar) +
                                      " (no " + class_entry_name(o.main_class) + ")");
  }
  plan.jars = *jars;
  plan.main_jar = main_jar;
  return 0;
}

/// The launcher template and the block burned into it.
int check_launcher(const AppOptions& o, const Report& report, Plan& plan) {
  std::string error;
  if (o.app_cds) {
    std::optional<std::vector<std::string>> args = split_user_options(o.training_args);
    if (!args)
      return report.fail(kBadInput, "--app-cds: a quote is left open in '" + o.training_args + "'");
    for (const std::string& a : *args) {
      if (a.find('\n') != std::string::npos)
        return report.fail(kBadInput, "--app-cds: a training argument holds a line break");
    }
    plan.training_args = *args;
  }
  std::optional<std::vector<std::string>> emulator = emulator_prefix(o.emulator);
  if (!emulator) return report.fail(kBadInput, "the emulator command leaves a quote open");
  plan.emulator = *emulator;

  // The launcher: its machine decides which archives can be made here.
  plan.template_path = o.template_path.empty() ? default_template_path() : o.template_path;
  if (!read_burned_block(plan.template_path, error)) return report.fail(kBadInput, error);
  std::optional<std::uint16_t> target = machine_of(plan.template_path, error);
  if (!target) return report.fail(kBadInput, error);
  plan.target_machine = *target;
  std::optional<std::uint16_t> host = machine_of("/proc/self/exe", error);
  if (!host) return report.fail(kStepFailed, error);
  plan.host_machine = *host;
  // The Java side of the launcher is built with it and lies beside it.
  plan.launcher_jar = (fs::path(plan.template_path).parent_path() / kLauncherJarName).string();
  if (!fs::is_regular_file(plan.launcher_jar)) {
    return report.fail(kBadInput, "there is no " + std::string(kLauncherJarName) +
                                      " beside the launcher template " + plan.template_path);
  }

  // The block, checked now so that a block too large fails before jlink.
  plan.block.main_class = o.main_class;
  plan.block.jvm_options =
      app_jvm_options(class_path_option(plan.jars, plan.main_jar), o.app_cds, o.java_options);
  plan.block.app_args = o.arguments;
  plan.block.allowed_jvm_options = o.allowed_java_options;
  plan.block.console_app = o.console;
  if (std::vector<std::string> errors = validate_block(plan.block, kStackSize); !errors.empty()) {
    return report.fail(kBadInput, join(errors, "\nvorlane-pack: "));
  }
  plan.block.jvm_options = set_archive_options(plan.block.jvm_options, false);

  return 0;
}

/// The place of the new tree: never inside the input, never a user's folder.
int check_place(const AppOptions& o, const Report& report, Plan& plan) {
  std::string error;
  plan.home = (fs::path(o.dest) / o.name).string();
  for (const std::string& source : {o.input, o.runtime_image}) {
    if (!source.empty() && paths_overlap(source, plan.home)) {
      return report.fail(kBadInput, "the app's folder " + plan.home + " and " + source +
                                        " overlap: give a --dest outside the app's input");
    }
  }
  std::optional<Destination> existing = check_destination(plan.home, error);
  if (!existing) return report.fail(kBadInput, error);
  plan.existing = *existing;

  return 0;
}

/// Where the runtime comes from, and which class-data archives can be made.
int check_runtime_source(const AppOptions& o, const Report& report, Plan& plan) {
  std::string error;
  bool base_archive_needed = true;
  if (!o.runtime_image.empty()) {
    if (std::string why = check_runtime(o.runtime_image, plan.target_machine, "--runtime-image");
        !why.empty()) {
      return report.fail(kBadInput, why);
    }
    base_archive_needed = !has_base_archive(o.runtime_image);
  } else {
    std::optional<std::string> host_jdk =
        find_host_jdk({o.jdk, env("JAVA_HOME"), env("PATH"), plan.host_machine}, error);
    if (!host_jdk) return report.fail(kBadInput, error);
    plan.host_jdk = *host_jdk;
    plan.module_jdk = o.jdk.empty() ? *host_jdk : o.jdk;
    if (!fs::is_regular_file(plan.module_jdk + "/jmods/java.base.jmod")) {
      return report.fail(kBadInput,
                         "the JDK " + plan.module_jdk +
                             " has no jmods/java.base.jmod, which jlink needs to make a runtime "
                             "(Debian: openjdk-17-jdk-headless); or give --runtime-image");
    }
    if (std::string why = check_runtime(plan.module_jdk, plan.target_machine, "the JDK");
        !why.empty()) {
      return report.fail(kBadInput,
                         why + "; give --jdk a JDK for " + machine_name(plan.target_machine));
    }
    std::optional<std::vector<std::uint8_t>> release =
        read_file(plan.module_jdk + "/release", error);
    if (release) {
      plan.feature_version =
          java_feature_version(std::string(release->begin(), release->end())).value_or(17);
    }
  }
  plan.cds = plan_cds(plan.host_machine, plan.target_machine, !plan.emulator.empty(),
                      base_archive_needed, o.app_cds);
  if (!plan.cds.emulated) plan.emulator.clear();
  return 0;
}

/// Everything `make_app` can check before it changes anything.
int check_app(const AppOptions& o, const Report& report, Plan& plan) {
  for (auto check : {check_input, check_launcher, check_place, check_runtime_source}) {
    if (int status = check(o, report, plan); status != 0) return status;
  }
  return 0;
}

/// Runs jdeps on the staged jars; the runtime's modules, or nullopt after reporting.
std::optional<std::vector<std::string>> find_modules(const AppOptions& o, const Plan& plan,
                                                     const std::string& app_dir,
                                                     const Report& report, int& status) {
  std::vector<std::string> jars;
  for (const std::string& jar : plan.jars) jars.push_back(app_dir + "/" + jar);
  jars.push_back(app_dir + "/" + kLauncherJarName);
  const Clock::time_point started = Clock::now();
  const CommandResult result =
      run_command(jdeps_command(plan.host_jdk, jars, plan.feature_version));
  if (interrupted()) {
    status = kInterrupted;
    return std::nullopt;
  }
  std::optional<std::vector<std::string>> found;
  if (result.ok()) found = parse_module_deps(result.output);
  if (!found) {
    status = report.fail(kStepFailed, "jdeps " + result.describe_end(0) +
                                          " without a module list; it printed:\n" +
                                          tail_lines(result.output, kShownLines));
    return std::nullopt;
  }
  std::string bad;
  std::optional<std::vector<std::string>> modules = merge_modules(*found, o.add_modules, bad);
  if (!modules) {
    status = report.fail(
        kBadInput, "--add-modules '" + bad + "' is not a comma-separated list of module names");
    return std::nullopt;
  }
  report.step("jdeps: the jars need " + join(*found, ","), started);
  return modules;
}

/// Puts a Java runtime at `runtime`: jlink's, or a copy of --runtime-image.
int make_runtime(const AppOptions& o, const Plan& plan, const std::string& staged,
                 const Report& report) {
  const std::string runtime = staged + "/lib/runtime";
  std::string error;
  if (!o.runtime_image.empty()) {
    const Clock::time_point started = Clock::now();
    if (!copy_tree(o.runtime_image, runtime, true, error)) return report.fail(kStepFailed, error);
    report.step("runtime: copied " + o.runtime_image, started);
  } else {
    int status = 0;
    std::optional<std::vector<std::string>> modules =
        find_modules(o, plan, staged + "/lib/app", report, status);
    if (!modules) return status;
    const Clock::time_point started = Clock::now();
    // jlink writes the archive only for a runtime of this machine; an emulated one is dumped below.
    const bool jlink_archive = plan.cds.base_archive && !plan.cds.emulated;
    const CommandResult result = run_command(
        jlink_command(plan.host_jdk, plan.module_jdk, *modules, runtime, jlink_archive));
    if (interrupted()) return kInterrupted;
    if (!result.ok()) {
      return report.fail(kStepFailed, "jlink " + result.describe_end(0) + "; it printed:\n" +
                                          tail_lines(result.output, kShownLines));
    }
    report.step("jlink: runtime of " + std::to_string(modules->size()) +
                    (modules->size() == 1 ? " module" : " modules") +
                    (jlink_archive ? " with its class-data archive" : ""),
                started);
  }
  if (interrupted()) return kInterrupted;
  if (plan.cds.base_archive && !has_base_archive(runtime)) {
    const Clock::time_point started = Clock::now();
    const ArchiveOutcome base = make_base_archive(runtime, plan.emulator, o.training_timeout);
    if (base.ok) {
      report.step("runtime: default class-data archive of " + megabytes(base.bytes), started);
    } else {
      report.note("the runtime has no default class-data archive and starts more slowly: " +
                  base.error);
    }
  }
  return 0;
}

int fill_tree(const AppOptions& o, const Plan& plan, const std::string& staged,
              const Report& report) {
  std::string error;
  const std::string app_dir = staged + "/lib/app";
  fs::create_directories(staged + "/bin");
  fs::create_directories(staged + "/lib");
  if (!copy_tree(o.input, app_dir, false, error)) return report.fail(kStepFailed, error);
  std::error_code ec;
  fs::copy_file(plan.launcher_jar, app_dir + "/" + kLauncherJarName, ec);
  if (ec) return report.fail(kStepFailed, "cannot copy " + plan.launcher_jar + ": " + ec.message());

  if (int status = make_runtime(o, plan, staged, report); status != 0) return status;

  const std::vector<std::string> errors =
      burn(plan.template_path, staged + "/bin/" + o.name, plan.block, kStackSize);
  if (!errors.empty()) return report.fail(kStepFailed, join(errors, "\nvorlane-pack: "));
  if (!write_marker(staged + "/lib/" + kMarkerName, {o.name, plan.training_args}, error)) {
    return report.fail(kStepFailed, error);
  }
  return 0;
}

/// Runs the training run of the tree at `home` and reports it.
bool train(const std::string& home, const std::string& name, const TrainingRun& run,
           const Report& report) {
  const Clock::time_point started = Clock::now();
  const ArchiveOutcome outcome = make_app_archive(home, name, run);
  if (interrupted()) return false;
  if (!outcome.ok) {
    report.note("no app archive: " + outcome.error);
    return false;
  }
  report.step("training run: app archive of " + megabytes(outcome.bytes), started);
  return true;
}

}  // namespace

int make_app(const AppOptions& o) {
  const Report report(o.quiet);
  const Clock::time_point started = Clock::now();
  Plan plan;
  if (int status = check_app(o, report, plan); status != 0) return status;
  if (!plan.cds.note.empty()) report.note(plan.cds.note);

  std::string error;
  std::optional<StagingDir> staging = StagingDir::create(plan.home, error);
  if (!staging) return report.fail(kStepFailed, error);
  const int status = fill_tree(o, plan, staging->path(), report);
  if (status == kInterrupted || interrupted()) return report.stop("nothing was changed");
  if (status != 0) return status;
  if (!staging->commit(plan.existing, error)) return report.fail(kStepFailed, error);

  // Only now: the archive holds the paths of the tree in its final place.
  if (plan.cds.training_run) {
    const TrainingRun run{plan.training_args, plan.emulator, o.training_timeout};
    const bool trained = train(plan.home, o.name, run, report);
    if (interrupted()) return report.stop(plan.home + " is made, without the app archive");
    if (!trained) {
      report.note("the app is made without it and starts without the app's classes mapped");
    }
  }
  report.step("made " + plan.home + ": bin/" + o.name + " starts it", started);
  return 0;
}

int remake_archive(const CdsOptions& o) {
  const Report report(o.quiet);
  std::string error;
  const std::string marker_path = o.app_dir + "/lib/" + kMarkerName;
  std::optional<std::vector<std::uint8_t>> marker_bytes = read_file(marker_path, error);
  if (!marker_bytes) {
    return report.fail(kBadInput,
                       o.app_dir + " is not an app tree made by vorlane-pack app (it has no lib/" +
                           kMarkerName + ")");
  }
  std::optional<AppMarker> marker =
      parse_marker(std::string(marker_bytes->begin(), marker_bytes->end()), error);
  if (!marker) return report.fail(kBadInput, marker_path + ": " + error);
  if (o.training_timeout <= 0)
    return report.fail(kBadInput, "--training-timeout must be a number of seconds above 0");
  for (const std::string& a : o.training_args) {
    if (a.find('\n') != std::string::npos)
      return report.fail(kBadInput, "a training argument holds a line break");
  }
  const std::string launcher = o.app_dir + "/bin/" + marker->name;
  std::optional<std::uint16_t> target = machine_of(launcher, error);
  if (!target) return report.fail(kBadInput, error);
  std::optional<std::uint16_t> host = machine_of("/proc/self/exe", error);
  if (!host) return report.fail(kStepFailed, error);
  std::optional<std::vector<std::string>> emulator = emulator_prefix(o.emulator);
  if (!emulator) return report.fail(kBadInput, "the emulator command leaves a quote open");
  const std::string runtime = o.app_dir + "/lib/runtime";
  const CdsPlan plan =
      plan_cds(*host, *target, !emulator->empty(), !has_base_archive(runtime), true);
  if (!plan.training_run) return report.fail(kBadInput, plan.note);
  const std::vector<std::string> prefix = plan.emulated ? *emulator : std::vector<std::string>{};

  if (!has_base_archive(runtime)) {
    const Clock::time_point started = Clock::now();
    const ArchiveOutcome base = make_base_archive(runtime, prefix, o.training_timeout);
    if (!base.ok)
      return report.fail(kStepFailed,
                         "cannot make the runtime's class-data archive: " + base.error);
    report.step("runtime: default class-data archive of " + megabytes(base.bytes), started);
  }
  if (!o.training_args.empty()) marker->training_args = o.training_args;
  if (!train(o.app_dir, marker->name, {marker->training_args, prefix, o.training_timeout},
             report)) {
    if (interrupted()) return report.stop(o.app_dir + " is as it was");
    return kStepFailed;
  }
  if (!o.training_args.empty()) {
    // Later runs of `vorlane-pack cds` repeat this run.
    if (!write_marker(marker_path, *marker, error)) return report.fail(kStepFailed, error);
  }
  return 0;
}

}  // namespace vorlane
