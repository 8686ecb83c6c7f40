#include "pack/image/plan.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <set>

#include "formats/launch_data_encoder.h"
#include "formats/launch_options.h"
#include "formats/user_options.h"
#include "pack/core/elf_section.h"
#include "pack/core/strings.h"
#include "pack/image/splash_image.h"

namespace fs = std::filesystem;

namespace vorlane {

namespace {

/// Each check below returns a refusal, or nothing with its part of the plan filled in.
using Check = std::optional<Error>;

Check check_options(const AppOptions& o) {
  if (std::string why = check_app_name(o.name); !why.empty()) return bad_input(why);
  if (!is_binary_class_name(o.main_class)) {
    return bad_input("main class '" + o.main_class + "' is not a Java binary class name");
  }
  if (!o.runtime_image.empty() && (!o.jdk.empty() || !o.add_modules.empty())) {
    return bad_input(
        "--runtime-image is a finished runtime: --jdk and --add-modules do not apply to it");
  }
  if (o.training_timeout <= 0) {
    return bad_input("--training-timeout must be a number of seconds above 0");
  }
  return std::nullopt;
}

/// The feature version of the runtime the app gets; 0 when unknown.
int runtime_feature_version(const AppFacts& f) {
  if (f.runtime_image) return f.runtime_image->feature_version;
  return f.module_jdk ? f.module_jdk->feature_version : 0;
}

/// JAVA_VERSION of the runtime the app gets; "" when unknown.
std::string runtime_java_version(const AppFacts& f) {
  if (f.runtime_image) return f.runtime_image->java_version;
  return f.module_jdk ? f.module_jdk->java_version : "";
}

/// The archive --app-cds makes for the runtime, and whether the block's
/// options let it be used.
Check check_archive(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  if (!o.app_cds) return std::nullopt;
  const std::string version = runtime_java_version(f);
  // A runtime whose release file gives no version gets the kind every runtime reads.
  const ArchiveKind kind = archive_kind_for(version).value_or(ArchiveKind::kDynamic);
  plan.archive = ArchiveChoice{kind, runtime_feature_version(f)};
  for (std::string& note : archive_notes(*plan.archive, version, o.allowed_java_options)) {
    plan.notes.push_back(std::move(note));
  }
  if (const std::string bad = archive_breaking_option(o.java_options); !bad.empty()) {
    return bad_input(
        "--java-option " + bad +
        " cannot go with --app-cds: next to the app's class-data archive it stops "
        "the Java VM, or makes it use or write another archive. Leave out one of them");
  }
  // Allowed prefixes ("-XX:", "-Xshare") that let a user's option of that kind through.
  static const std::vector<std::string> kSamples = {
      "-Xshare:off",    "-XX:SharedArchiveFile=a",      "-XX:AOTCache=a",
      "-XX:AOTMode=on", "-XX:+AutoCreateSharedArchive", "-XX:ArchiveClassesAtExit=a"};
  for (const std::string& allowed : o.allowed_java_options) {
    const bool lets_through =
        !archive_breaking_option({allowed}).empty() ||
        std::any_of(kSamples.begin(), kSamples.end(),
                    [&allowed](const std::string& sample) { return sample.starts_with(allowed); });
    if (lets_through) {
      plan.notes.push_back("--allow-java-option " + allowed +
                           " lets a user's VORLANE_JVM_OPTIONS name options that stop the app "
                           "next to its class-data archive (-Xshare:, -XX:AOTMode, ...)");
      break;
    }
  }
  return std::nullopt;
}

/// Why the main class in `entries` (of `jar`) cannot start the app, or nothing.
Check check_main_class(const AppOptions& o, const std::string& jar, const ClassEntries& entries,
                       int feature_version) {
  // An unknown runtime version: whatever the jar holds for some release,
  // under the rules that refuse least.
  const int release = feature_version > 0 ? feature_version : 10000;
  const auto loaded = loaded_entry(entries, release);
  if (!loaded) {
    return bad_input("main class " + o.main_class + " is in " + jar + " only for Java " +
                     std::to_string(entries.begin()->first) +
                     " and later (META-INF/versions/), and the app's runtime is Java " +
                     std::to_string(feature_version));
  }
  const std::string where =
      o.main_class + " in " + jar +
      (loaded->first > 0 ? " (META-INF/versions/" + std::to_string(loaded->first) + ")" : "");
  const MainRules rules = main_rules_for(release);
  switch (loaded->second.under(rules)) {
    case MainMethod::kMissing:
      if (rules == MainRules::kClassic) {
        return bad_input("main class " + where +
                         " has no public static void main(String[]), so the app could not "
                         "start on its runtime, Java " +
                         std::to_string(feature_version) + " (from Java " +
                         std::to_string(kFlexibleMainRelease) +
                         " on, void main() and non-public or instance mains start too)");
      }
      return bad_input("main class " + where +
                       " has no main method the runtime starts (void main(String[]) or void "
                       "main(), not private), so the app could not start");
    case MainMethod::kCannotInstantiate:
      return bad_input("main class " + where +
                       " has an instance main but is abstract or has no non-private "
                       "constructor without arguments, so the app could not start");
    case MainMethod::kNotAClassFile:
      return bad_input("main class " + where + " is not a readable class file");
    case MainMethod::kDeclared:
    case MainMethod::kMaybeInherited:
      break;
  }
  return std::nullopt;
}

/// The app's jars and its main class.
Check check_input(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  if (!f.input_is_folder) return bad_input("--input " + o.input + " is not a folder");
  if (f.input_error) return f.input_error;
  const std::vector<std::string> jars = jars_among(f.input);
  if (jars.empty()) {
    return bad_input("--input " + o.input +
                     " holds no .jar files: give the folder that holds the app's jars");
  }
  for (const std::string& jar : jars) {
    if (jar == kLauncherJarName || (o.updates && jar == kUpdaterJarName)) {
      return bad_input("--input " + o.input + " holds " + jar +
                       ", which the packer adds itself; leave it out of the input");
    }
    if (std::string why = check_class_path_element(jar); !why.empty()) {
      return bad_input("the jar " + jar + " cannot go on the class path: " + why);
    }
  }
  for (const std::string& name : all_archive_file_names()) {
    const bool taken = std::any_of(f.input.begin(), f.input.end(),
                                   [&name](const TreeEntry& e) { return e.path == name; });
    if (taken) {
      return bad_input("--input " + o.input + " holds " + name +
                       ", a name the packer keeps for the app's archive");
    }
  }
  const std::string main_jar = fs::path(o.main_jar).lexically_normal().string();
  if (!o.main_jar.empty() && std::find(jars.begin(), jars.end(), main_jar) == jars.end()) {
    return bad_input("--main-jar " + o.main_jar + " is not a jar in --input " + o.input);
  }
  // Every jar jdeps reads must be readable; the main class must be in one,
  // and able to start the app, or the app could only fail at its first start.
  std::optional<std::string> holder;
  for (const std::string& jar : o.main_jar.empty() ? jars : std::vector<std::string>{main_jar}) {
    const auto it = f.main_class_in.find(jar);
    if (it == f.main_class_in.end()) continue;
    if (!it->second) return it->second.error();
    if (!holder && !it->second->empty()) holder = jar;
  }
  for (const auto& [jar, found] : f.main_class_in) {
    if (!found) return found.error();
  }
  if (!holder) {
    return bad_input("main class " + o.main_class + " is not in " +
                     (o.main_jar.empty() ? "any jar in " + o.input : o.main_jar) + " (no " +
                     class_entry_name(o.main_class) + ")");
  }
  if (Check bad =
          check_main_class(o, *holder, *f.main_class_in.at(*holder), runtime_feature_version(f))) {
    return bad;
  }
  plan.jars = jars;
  plan.main_jar = o.main_jar.empty() ? "" : main_jar;
  return std::nullopt;
}

/// The --splash image and its scaled variants, copied into lib/app as
/// splash.EXT and splash@Nx.EXT: a fixed name the launcher's `&&` expansion
/// and its NAME@Nx.EXT lookup both take as it is, whatever the file was called.
Check check_splash(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  if (o.splash.empty()) return std::nullopt;
  for (const std::string& option : o.java_options) {
    if (option.starts_with(kSplashOptionPrefix)) {
      return bad_input("--splash and --java-option " + option +
                       " both name a splash image: give one of them");
    }
  }
  std::string ext;
  for (const SplashFile& file : f.splash) {
    if (file.error) return file.error;
    const std::string format = splash_image_extension(file.head);
    if (format.empty()) {
      return bad_input("--splash: " + file.path +
                       " is not a PNG, GIF or JPEG image (by its first bytes), which the "
                       "runtime's splash screen could not show");
    }
    if (ext.empty()) ext = "." + format;
    const std::string name =
        file.scale == 1 ? "splash" + ext : "splash@" + std::to_string(file.scale) + "x" + ext;
    const bool taken = std::any_of(f.input.begin(), f.input.end(),
                                   [&name](const TreeEntry& e) { return e.path == name; });
    if (taken) {
      return bad_input("--input " + o.input + " holds " + name +
                       ", the name --splash's image takes in the tree: rename it, or leave out "
                       "--splash and give --java-option -splash:&&/" +
                       name);
    }
    plan.splash_files.emplace_back(file.path, name);
  }
  if (plan.splash_files.empty()) return step_failed("the packer did not look at " + o.splash);
  return std::nullopt;
}

/// --single-instance: the option that carries its ID to the launcher and the
/// Java side, or nothing without it.
Result<std::optional<std::string>> single_instance_option(const AppOptions& o) {
  for (const std::string& option : o.java_options) {
    if (option.starts_with(kSingleInstanceOptionPrefix)) {
      return bad_input("--java-option " + option +
                       " is --single-instance's own option: give --single-instance=ID instead");
    }
  }
  if (!o.single_instance) return std::optional<std::string>();
  const std::string id = o.single_instance_id.empty() ? o.name : o.single_instance_id;
  if (!is_valid_instance_id(id)) {
    return bad_input("--single-instance: the ID '" + id +
                     "' may hold only letters, digits, '.', '-' and '_' (1 to 128 of them)" +
                     (o.single_instance_id.empty() ? ": give one with --single-instance=ID" : ""));
  }
  return std::optional<std::string>(std::string(kSingleInstanceOptionPrefix) + id);
}

/// The class path by folder wildcards, for a tree whose jars do not fit one
/// by one: the main jar first, then each folder's jars.
std::string wildcard_class_path(const std::vector<std::string>& jars, const std::string& main_jar,
                                bool updater) {
  std::set<std::string> folders;
  for (const std::string& jar : jars) folders.insert(fs::path(jar).parent_path().string());
  std::vector<std::string> elements;
  if (!main_jar.empty()) elements.push_back("&&/" + main_jar);
  for (const std::string& folder : folders) {
    elements.push_back(folder.empty() ? "&&/*.jar" : "&&/" + folder + "/*.jar");
  }
  if (!folders.contains("")) {
    elements.push_back(std::string("&&/") + kLauncherJarName);
    if (updater) elements.push_back(std::string("&&/") + kUpdaterJarName);
  }
  return "-Djava.class.path=" + join(elements, ":");
}

/// The launcher template and the block burned into it.
Check check_launcher(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  if (o.app_cds) {
    std::optional<std::vector<std::string>> args = split_user_options(o.training_args);
    if (!args) return bad_input("--app-cds: a quote is left open in '" + o.training_args + "'");
    for (const std::string& a : *args) {
      if (a.find('\n') != std::string::npos) {
        return bad_input("--app-cds: a training argument holds a line break");
      }
    }
    plan.training_args = *args;
  }
  std::optional<std::vector<std::string>> emulator = split_user_options(f.emulator_text);
  if (!emulator) return bad_input("the emulator command leaves a quote open");
  plan.emulator = *emulator;

  if (f.template_error) return f.template_error;
  if (f.host_error) return f.host_error;
  plan.template_path = f.template_path;
  plan.target_machine = f.target_machine;
  plan.host_machine = f.host_machine;
  plan.launcher_jar = f.launcher_jar;
  if (!f.launcher_jar_present) {
    return bad_input("there is no " + std::string(kLauncherJarName) +
                     " beside the launcher template " + f.template_path);
  }

  if (o.updates) {
    if (!f.updater_jar_present) {
      return bad_input("--updates: there is no " + f.updater_jar +
                       " beside the launcher template (it is built and installed with it)");
    }
    plan.updater_jar = f.updater_jar;
  }

  // The block, checked now so that a block too large fails before jlink.
  plan.block.main_class = o.main_class;
  plan.block.app_args = o.arguments;
  plan.block.allowed_jvm_options = o.allowed_java_options;
  plan.block.console_app = o.console;
  plan.block.stack_size = static_cast<std::uint32_t>(kAppStackSize);
  std::vector<std::string> own = o.java_options;
  const Result<std::optional<std::string>> single = single_instance_option(o);
  if (!single) return single.error();
  if (*single) own.insert(own.begin(), **single);
  if (!plan.splash_files.empty()) {
    own.insert(own.begin(), std::string(kSplashOptionPrefix) + "&&/" + plan.splash_files[0].second);
  }
  const std::string explicit_path = class_path_option(plan.jars, plan.main_jar, o.updates);
  plan.block.jvm_options = app_jvm_options(explicit_path, plan.archive, own);
  std::vector<std::string> errors = validate_block(plan.block, kAppStackSize);
  if (!errors.empty() && errors.front().starts_with("the launch data takes")) {
    // Too large: the class path, written jar by jar, is what grows.
    const std::string why = "the class path of " + std::to_string(plan.jars.size()) +
                            " jars takes " + std::to_string(explicit_path.size()) + " bytes of it";
    if (o.app_cds) {
      return bad_input(errors.front() + "; " + why +
                       ". An app archive needs each jar named: leave out --app-cds to name each "
                       "folder's jars by a wildcard (&&/*.jar), or merge the jars into fewer");
    }
    plan.block.jvm_options = app_jvm_options(
        wildcard_class_path(plan.jars, plan.main_jar, o.updates), std::nullopt, own);
    errors = validate_block(plan.block, kAppStackSize);
    if (errors.empty()) {
      plan.notes.push_back(why +
                           ", more than the launch data has room for, so the class path "
                           "names each folder's jars by a wildcard (&&/*.jar)");
    }
  }
  if (!errors.empty()) return bad_input(join(errors, "\nvorlane-pack: "));
  plan.block.jvm_options = set_archive_options(plan.block.jvm_options, std::nullopt);
  return std::nullopt;
}

/// SOURCE_DATE_EPOCH: the time every file of the tree gets, so that the
/// archives record it and a package keeps it.
Check check_fixed_time(const AppOptions&, const AppFacts& f, AppPlan& plan) {
  if (!f.source_date_epoch || f.source_date_epoch->empty()) return std::nullopt;
  const std::string& text = *f.source_date_epoch;
  std::int64_t seconds = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  // A bound every file system here can store: the year 2255.
  constexpr std::int64_t kLatest = 9'000'000'000;
  if (ec != std::errc() || end != text.data() + text.size() || seconds < 0 || seconds > kLatest) {
    return bad_input("SOURCE_DATE_EPOCH '" + text +
                     "' is not a whole number of seconds since 1970 (from 0 to " +
                     std::to_string(kLatest) + ")");
  }
  plan.fixed_time = seconds;
  return std::nullopt;
}

/// The place of the new tree: never inside the input, never a user's folder.
Check check_place(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  plan.home = f.home;
  // The runtime takes ':' in its own path for a separator and could not start.
  if (f.home_absolute.find(':') != std::string::npos) {
    return bad_input("the app's folder " + f.home_absolute +
                     " holds a ':', which a Java runtime's path cannot hold: choose a --dest "
                     "without one");
  }
  if (f.dest_is_file) {
    return bad_input("--dest " + o.dest +
                     " is not a folder, and none can be made there as a file is in the way: give "
                     "the folder the app's folder goes in");
  }
  if (f.home_overlaps_input || f.home_overlaps_runtime_image) {
    return bad_input("the app's folder " + f.home + " and " +
                     (f.home_overlaps_input ? o.input : o.runtime_image) +
                     " overlap: give a --dest outside the app's input");
  }
  if (!f.existing) return step_failed("the packer did not look at " + f.home);
  if (!*f.existing) return f.existing->error();
  plan.replace_existing = **f.existing == Destination::kEarlierOutput;
  return std::nullopt;
}

/// The module the update library checks a feed's Ed25519 signature with:
/// jdk.crypto.ec before Java 22 (from 22 on java.base has it, and JDK 25's
/// jdk.crypto.ec is an empty module kept for compatibility).
Check check_update_modules(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  constexpr int kEd25519InJavaBase = 22;
  if (!o.updates || plan.feature_version >= kEd25519InJavaBase) return std::nullopt;
  const std::string version =
      plan.feature_version > 0 ? "Java " + std::to_string(plan.feature_version) : "its version";
  if (f.runtime_image) {
    if (f.runtime_image_has_crypto_ec || plan.feature_version == 0) return std::nullopt;
    return bad_input("--updates: --runtime-image " + o.runtime_image + " (" + version +
                     ") lacks the module jdk.crypto.ec, which checks the update feed's "
                     "signatures before Java 22: make the image with it (jlink --add-modules "
                     "jdk.crypto.ec)");
  }
  if (f.jdk_has_crypto_ec) {
    plan.extra_modules.emplace_back("jdk.crypto.ec");
  } else if (plan.feature_version > 0) {
    return bad_input("--updates: the JDK " + f.module_jdk->home + " (" + version +
                     ") has no jmods/jdk.crypto.ec.jmod, which checks the update feed's "
                     "signatures before Java 22");
  }
  return std::nullopt;
}

/// Where the runtime comes from, and which class-data archives can be made.
Check check_runtime(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  const auto wrong_machine = [&plan](const Jdk& jdk, const std::string& what) -> Check {
    if (jdk.machine == 0) return bad_input(what + " " + jdk.machine_error);
    if (jdk.machine == plan.target_machine) return std::nullopt;
    return bad_input("the launcher template is built for " + machine_name(plan.target_machine) +
                     ", but " + what + " " + jdk.home + " is for " + machine_name(jdk.machine));
  };
  bool base_archive_needed = true;
  if (f.runtime_image) {
    if (Check bad = wrong_machine(*f.runtime_image, "--runtime-image")) return bad;
    base_archive_needed = !f.base_archive_present;
  } else {
    if (!f.host_jdk_home || !*f.host_jdk_home) {
      return f.host_jdk_home ? f.host_jdk_home->error() : bad_input("no JDK found");
    }
    plan.host_jdk = f.host_jdk;
    plan.module_jdk = f.module_jdk;
    const Jdk& jdk = *f.module_jdk;
    if (!jdk.has_jmods && jdk.machine != 0 && jdk.machine != plan.target_machine) {
      return bad_input("the launcher template is built for " + machine_name(plan.target_machine) +
                       ", but the JDK " + jdk.home + " is for " + machine_name(jdk.machine) +
                       " and has no jmods/: jlink links from a run-time image only for that "
                       "image's own machine. Give --jdk a JDK for " +
                       machine_name(plan.target_machine) + " that has jmods/, or --runtime-image");
    }
    if (!jdk.has_jmods && (!jdk.links_from_runtime_image || f.host_jdk->home != jdk.home)) {
      return bad_input(
          "the JDK " + jdk.home +
          " has no jmods/java.base.jmod, and its jlink cannot link from its own run-time image, "
          "so no runtime can be made from it (Debian: openjdk-17-jdk-headless has jmods/); or "
          "give --runtime-image");
    }
    if (Check bad = wrong_machine(*f.module_jdk, "the JDK")) {
      return bad_input(bad->message + "; give --jdk a JDK for " +
                       machine_name(plan.target_machine));
    }
  }
  plan.feature_version = runtime_feature_version(f);
  if (Check bad = check_update_modules(o, f, plan)) return bad;
  plan.cds = plan_cds(plan.host_machine, plan.target_machine, !plan.emulator.empty(),
                      base_archive_needed, o.app_cds);
  if (!plan.cds.emulated) plan.emulator.clear();
  if (!plan.cds.note.empty()) plan.notes.push_back(plan.cds.note);
  return std::nullopt;
}

}  // namespace

Result<AppPlan> plan_app(const AppOptions& options, const AppFacts& facts) {
  AppPlan plan;
  if (Check bad = check_options(options)) return *bad;
  for (auto check : {check_input, check_splash, check_archive, check_launcher, check_fixed_time,
                     check_place, check_runtime}) {
    if (Check bad = check(options, facts, plan)) return *bad;
  }
  return plan;
}

}  // namespace vorlane
