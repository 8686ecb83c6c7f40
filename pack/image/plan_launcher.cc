#include "pack/image/plan_launcher.h"

#include <filesystem>
#include <set>

#include "formats/launch_data_encoder.h"
#include "formats/launch_options.h"
#include "formats/user_options.h"
#include "pack/core/strings.h"

namespace fs = std::filesystem;

namespace vorlane {

using formats::is_valid_instance_id;
using formats::kSingleInstanceOptionPrefix;
using formats::kSplashOptionPrefix;
using formats::split_user_options;
using formats::validate_block;

namespace {

using Check = std::optional<Error>;

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

}  // namespace

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

}  // namespace vorlane
