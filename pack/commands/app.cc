#include "pack/commands/app.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "pack/core/elf_section.h"
#include "pack/core/process.h"
#include "pack/core/report.h"
#include "pack/core/staging.h"
#include "pack/core/strings.h"
#include "pack/image/archives.h"
#include "pack/image/burn.h"
#include "pack/image/glibc_floor.h"
#include "pack/image/marker.h"
#include "pack/image/splash_image.h"

namespace fs = std::filesystem;

namespace vorlane {

using formats::BurnedInData;

namespace {

using Clock = Report::Clock;

/// Lines of a failed tool's output shown under the error.
constexpr std::size_t kShownLines = 20;
constexpr char kEmulatorVariable[] = "VORLANE_EMULATOR";

std::optional<std::string> env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

/// The --splash image and the scaled variants beside it (NAME@Nx.EXT, by
/// scale), each with its first bytes or why they cannot be read.
std::vector<SplashFile> probe_splash(const std::string& image) {
  std::vector<SplashFile> files = {{image, 1, "", std::nullopt}};
  const fs::path folder = fs::path(image).parent_path();
  const std::string name = fs::path(image).filename().string();
  std::error_code ec;
  for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end;
       !ec && it != end; it.increment(ec)) {
    if (const int scale = splash_scale_of(name, it->path().filename().string()); scale > 0) {
      files.push_back({it->path().string(), scale, "", std::nullopt});
    }
  }
  std::sort(files.begin() + 1, files.end(),
            [](const SplashFile& a, const SplashFile& b) { return a.scale < b.scale; });
  for (SplashFile& file : files) {
    // Only a regular file: a FIFO would be waited on for ever, a folder cannot be shown.
    if (!fs::is_regular_file(file.path, ec)) {
      file.error = bad_input("--splash: " + file.path + " is not a regular file");
      continue;
    }
    Result<std::vector<std::uint8_t>> head = read_file_head(file.path, 8);
    if (head) {
      file.head.assign(head->begin(), head->end());
    } else {
      file.error = as_input(with_context("--splash: ", head.error()));
    }
  }
  return files;
}

/// Runs jdeps on the staged jars; the runtime's modules, or the error.
Result<std::vector<std::string>> find_modules(const AppOptions& o, const AppPlan& plan,
                                              const std::string& app_dir, const Report& report) {
  std::vector<std::string> jars;
  for (const std::string& jar : plan.jars) jars.push_back(app_dir + "/" + jar);
  jars.push_back(app_dir + "/" + kLauncherJarName);
  if (!plan.updater_jar.empty()) jars.push_back(app_dir + "/" + kUpdaterJarName);
  const Clock::time_point started = Clock::now();
  const ProcessResult result =
      run_process(jdeps_command(*plan.host_jdk, jars, plan.feature_version), tool_options(0));
  if (interrupted()) return interruption();
  std::optional<std::vector<std::string>> found;
  if (result.ok()) found = parse_module_deps(result.out);
  if (!found) {
    // A modular jar makes jdeps resolve the modules it requires, and an
    // automatic one beside it (which `java -cp` never asks for) is found
    // only on the module path: try once more with the jars there too.
    const ProcessResult again = run_process(
        jdeps_command(*plan.host_jdk, jars, plan.feature_version, true), tool_options(0));
    if (interrupted()) return interruption();
    if (again.ok()) found = parse_module_deps(again.out);
    if (!found) {
      return step_failed("jdeps " + result.describe_end(0) +
                         " without a module list; it printed:\n" +
                         tail_lines(result.out, kShownLines));
    }
    std::string reason = result.describe_end(0);
    for (const std::string& line : split_lines(result.out)) {
      if (const std::size_t at = line.find("Exception: "); at != std::string::npos) {
        reason = line.substr(at + 11);  // "Module a not found, required by b"
        break;
      }
    }
    report.note("jdeps refused the jars as given (" + reason +
                "); with them on its module path too, it found the modules they need: " +
                join(*found, ","));
  }
  std::string bad;
  std::vector<std::string> added = o.add_modules;
  added.insert(added.end(), plan.extra_modules.begin(), plan.extra_modules.end());
  std::optional<std::vector<std::string>> modules = merge_modules(*found, added, bad);
  if (!modules) {
    return bad_input("--add-modules '" + bad + "' is not a comma-separated list of module names");
  }
  report.step("jdeps: the jars need " + join(*found, ","), started);
  return *modules;
}

/// Puts a Java runtime at `staged`/lib/runtime: jlink's, or a copy of --runtime-image.
Status make_runtime(const AppOptions& o, const AppPlan& plan, const std::string& staged,
                    const Report& report) {
  const std::string runtime = staged + "/lib/runtime";
  if (!o.runtime_image.empty()) {
    const Clock::time_point started = Clock::now();
    // Links that leave the image (Debian's point into /etc) are copied as
    // what they point to, so the tree stands on its own.
    if (Status copied = copy_tree(o.runtime_image, runtime, Links::kKeepInternal); !copied) {
      return copied;
    }
    // The copy is what the app starts with: check it, not the source.
    const Jdk copy = describe_jdk(runtime);
    if (copy.machine != plan.target_machine) {
      return bad_input("the copy of --runtime-image " + o.runtime_image +
                       " cannot start the app: " +
                       (copy.machine == 0 ? copy.machine_error
                                          : "its libjvm.so is for " + machine_name(copy.machine)));
    }
    report.step("runtime: copied " + o.runtime_image, started);
  } else {
    Result<std::vector<std::string>> modules = find_modules(o, plan, staged + "/lib/app", report);
    if (!modules) return modules.error();
    const Clock::time_point started = Clock::now();
    // jlink writes the archive only for a runtime of this machine; an emulated one is dumped below.
    const bool jlink_archive = plan.cds.base_archive && !plan.cds.emulated;
    const ProcessResult result = run_process(
        jlink_command(*plan.host_jdk, *plan.module_jdk, *modules, runtime, jlink_archive),
        tool_options(0));
    if (interrupted()) return interruption();
    if (!result.ok()) {
      return step_failed("jlink " + result.describe_end(0) + "; it printed:\n" +
                         tail_lines(result.out, kShownLines));
    }
    report.step("jlink: runtime of " + std::to_string(modules->size()) +
                    (modules->size() == 1 ? " module" : " modules") +
                    (jlink_archive ? " with its class-data archive" : ""),
                started);
  }
  if (interrupted()) return interruption();
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
  return done();
}

Status fill_tree(const AppOptions& o, const AppPlan& plan, const std::string& staged,
                 const Report& report) {
  const std::string app_dir = staged + "/lib/app";
  std::error_code ec;
  fs::create_directories(staged + "/bin", ec);
  fs::create_directories(staged + "/lib", ec);
  if (ec) return step_failed("cannot make folders in " + staged + ": " + ec.message());
  if (Status copied = copy_tree(o.input, app_dir, Links::kFollow); !copied) return copied;
  fs::copy_file(plan.launcher_jar, app_dir + "/" + kLauncherJarName, ec);
  if (ec) return step_failed("cannot copy " + plan.launcher_jar + ": " + ec.message());
  if (!plan.updater_jar.empty()) {
    fs::copy_file(plan.updater_jar, app_dir + "/" + kUpdaterJarName, ec);
    if (ec) return step_failed("cannot copy " + plan.updater_jar + ": " + ec.message());
  }
  for (const auto& [from, name] : plan.splash_files) {
    fs::copy_file(from, app_dir + "/" + name, ec);
    if (ec) return step_failed("cannot copy " + from + ": " + ec.message());
  }

  if (Status made = make_runtime(o, plan, staged, report); !made) return made;

  const std::vector<std::string> errors =
      burn(plan.template_path, staged + "/bin/" + o.name, plan.block, kAppStackSize);
  if (!errors.empty()) return step_failed(join(errors, "\nvorlane-pack: "));
  AppMarker marker{o.name, plan.training_args, paths_under(staged), std::nullopt};
  if (plan.archive) marker.archive = plan.archive->kind;
  if (Status written = write_marker(staged + "/lib/" + kMarkerName, marker); !written) {
    return written;
  }
  // Before the training run, so that the app archive records these times.
  return plan.fixed_time ? set_tree_times(staged, *plan.fixed_time) : done();
}

/// Runs the training run of the tree at `home` and reports it.
bool train(const std::string& home, const std::string& name, const TrainingRun& run,
           const ArchiveChoice& choice, const Report& report) {
  const Clock::time_point started = Clock::now();
  const ArchiveOutcome outcome = make_app_archive(home, name, run, choice);
  if (interrupted()) return false;
  if (!outcome.ok) {
    report.note("no app archive: " + outcome.error);
    return false;
  }
  report.step("training run: app archive of " + megabytes(outcome.bytes) + ", kind " +
                  archive_kind_name(choice.kind) +
                  (outcome.private_display.empty()
                       ? ""
                       : ", its windows on a private Xvfb " + outcome.private_display),
              started);
  return true;
}

}  // namespace

AppFacts probe_app(const AppOptions& o) {
  AppFacts f;
  f.template_path = o.template_path.empty() ? default_template_path() : o.template_path;
  if (Result<BurnedInData> block = read_burned_block(f.template_path); !block) {
    f.template_error = as_input(block.error());
  } else if (Result<std::uint16_t> machine = elf_machine_of_file(f.template_path); !machine) {
    f.template_error = as_input(machine.error());
  } else {
    f.target_machine = *machine;
  }
  if (const Result<std::uint16_t> host = host_machine()) {
    f.host_machine = *host;
  } else {
    f.host_error = host.error();
  }
  // The Java side of the launcher is built with it and lies beside it.
  // A name that cannot be looked up (too long, a loop of links) is not there:
  // the throwing forms would end the packer as a failure of the machine.
  std::error_code ec;
  f.launcher_jar = (fs::path(f.template_path).parent_path() / kLauncherJarName).string();
  f.launcher_jar_present = fs::is_regular_file(f.launcher_jar, ec);
  f.updater_jar = (fs::path(f.template_path).parent_path() / kUpdaterJarName).string();
  f.updater_jar_present = fs::is_regular_file(f.updater_jar, ec);

  f.input_is_folder = fs::is_directory(o.input, ec);
  if (f.input_is_folder) {
    Result<std::vector<TreeEntry>> walked = walk_tree(o.input, Links::kFollow);
    if (walked) {
      f.input = std::move(*walked);
    } else {
      f.input_error = walked.error();
    }
  }
  // jdeps reads every jar: each must open, and one must hold the main class.
  for (const std::string& jar : jars_among(f.input)) {
    f.main_class_in.emplace(jar, find_class(o.input + "/" + jar, o.main_class));
  }

  f.home = (fs::path(o.dest) / o.name).string();
  f.home_absolute = fs::absolute(f.home, ec).lexically_normal().string();
  // The nearest of --dest and its parents that exists must be a folder.
  fs::path existing_dest = fs::absolute(o.dest, ec);
  while (!fs::exists(fs::symlink_status(existing_dest, ec)) && existing_dest.has_relative_path()) {
    existing_dest = existing_dest.parent_path();
  }
  f.dest_is_file = !fs::is_directory(existing_dest, ec);
  f.home_overlaps_input = !o.input.empty() && paths_overlap(o.input, f.home);
  f.home_overlaps_runtime_image =
      !o.runtime_image.empty() && paths_overlap(o.runtime_image, f.home);
  if (!f.dest_is_file) f.existing = check_destination(f.home);

  if (!o.runtime_image.empty()) {
    f.runtime_image = describe_jdk(o.runtime_image);
    f.base_archive_present = has_base_archive(o.runtime_image);
    if (const Result<std::vector<std::uint8_t>> release =
            read_file_head(o.runtime_image + "/release", 1u << 20)) {
      const std::vector<std::string> modules =
          release_modules(std::string(release->begin(), release->end()));
      f.runtime_image_has_crypto_ec =
          std::find(modules.begin(), modules.end(), "jdk.crypto.ec") != modules.end();
    }
  } else {
    f.host_jdk_home = find_host_jdk({o.jdk, env("JAVA_HOME"), env("PATH"), f.host_machine});
    if (*f.host_jdk_home) {
      f.host_jdk = describe_jdk(**f.host_jdk_home);
      f.module_jdk = o.jdk.empty() ? f.host_jdk : describe_jdk(o.jdk);
      f.jdk_has_crypto_ec = fs::is_regular_file(f.module_jdk->jmods() + "/jdk.crypto.ec.jmod", ec);
      // A JDK without jmods/ (24 and later) may link from its own image.
      if (!f.module_jdk->has_jmods && f.module_jdk->home == f.host_jdk->home) {
        const ProcessResult help = run_process(jlink_help_command(*f.host_jdk), tool_options(30));
        f.module_jdk->links_from_runtime_image = help.ok() && links_from_runtime_image(help.out);
        f.host_jdk->links_from_runtime_image = f.module_jdk->links_from_runtime_image;
      }
    }
  }
  f.emulator_text = o.emulator.empty() ? env(kEmulatorVariable).value_or("") : o.emulator;
  f.source_date_epoch = env("SOURCE_DATE_EPOCH");
  if (!o.splash.empty()) f.splash = probe_splash(o.splash);
  return f;
}

int make_app(const AppOptions& o) {
  const Report report(o.quiet);
  const Clock::time_point started = Clock::now();
  const Result<AppPlan> plan = plan_app(o, probe_app(o));
  if (!plan) return report.fail(plan.error());
  for (const std::string& note : plan->notes) report.note(note);

  Result<StagingDir> staging = StagingDir::create(plan->home);
  if (!staging) return report.fail(staging.error());
  const Status filled = fill_tree(o, *plan, staging->path(), report);
  if (interrupted() || (!filled && filled.error().kind == ErrorKind::kInterrupted)) {
    return report.stop("nothing was changed");
  }
  if (!filled) return report.fail(filled.error());
  if (Status committed = staging->commit(plan->replace_existing); !committed) {
    return report.fail(committed.error());
  }

  // Only now: the archive holds the paths of the tree in its final place.
  if (plan->cds.training_run && plan->archive) {
    const TrainingRun run{plan->training_args, plan->emulator, o.training_timeout};
    const bool trained = train(plan->home, o.name, run, *plan->archive, report);
    if (interrupted()) return report.stop(plan->home + " is made, without the app archive");
    if (!trained) {
      report.note("the app is made without it and starts without the app's classes mapped");
    }
    // The archive and the launcher burned to name it; the jars keep the time they had.
    if (plan->fixed_time) {
      if (Status fixed = set_tree_times(plan->home, *plan->fixed_time); !fixed) {
        return report.fail(fixed.error());
      }
    }
  }
  report.step("made " + plan->home + ": bin/" + o.name + " starts it", started);
  report_glibc_floor(plan->home, "bin/" + o.name, report);
  return 0;
}

}  // namespace vorlane
