#include "pack/image/plan_input.h"

#include <algorithm>
#include <filesystem>

#include "formats/launch_options.h"
#include "pack/image/plan_runtime.h"
#include "pack/image/splash_image.h"

namespace fs = std::filesystem;

namespace vorlane {

using formats::kSplashOptionPrefix;

namespace {

using Check = std::optional<Error>;

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

}  // namespace

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

}  // namespace vorlane
