// `vorlane-pack app`: an installed app tree from jars and a main class, and
// `vorlane-pack cds`: its class-data archive remade in place.
#pragma once

#include <string>
#include <vector>

namespace vorlane {

/// Exit statuses of the packer's commands.
inline constexpr int kStepFailed = 1;  ///< a tool run or a file operation failed
inline constexpr int kBadInput = 2;    ///< a usage error or a refusal; nothing was made
inline constexpr int kInterrupted = 130;

/// The options of `vorlane-pack app`, as given.
struct AppOptions {
  std::string name;
  std::string input;
  std::string main_class;
  std::string main_jar;  ///< relative to `input`; may be empty
  std::string dest;
  std::vector<std::string> java_options;
  std::vector<std::string> arguments;
  std::vector<std::string> allowed_java_options;
  std::vector<std::string> add_modules;
  std::string runtime_image;
  std::string jdk;
  std::string template_path;  ///< empty: the installed template
  bool console = false;
  bool app_cds = false;
  std::string training_args;  ///< --app-cds=ARGS, split like a shell would
  std::string emulator;       ///< --emulator, or VORLANE_EMULATOR when empty
  int training_timeout = 120;
  bool quiet = false;
};

/// Makes DEST/NAME: bin/NAME, lib/app/ and lib/runtime/. Checks everything
/// it can before the slow steps; builds the tree beside its place and puts
/// it there whole, so a failure leaves what was there before. Reports on
/// standard error and returns the exit status.
int make_app(const AppOptions& options);

/// The options of `vorlane-pack cds`.
struct CdsOptions {
  std::string app_dir;
  std::vector<std::string> training_args;  ///< empty: those recorded when the tree was made
  std::string emulator;
  int training_timeout = 120;
  bool quiet = false;
};

/// Makes the app archive of the installed tree again, in place (and the
/// runtime's default archive, if it has none). Returns the exit status.
int remake_archive(const CdsOptions& options);

}  // namespace vorlane
