// What `vorlane-pack app` will make, decided from its options and the facts
// probed once from the file system, before anything slow runs or anything
// is changed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "formats/launch_data.h"
#include "pack/core/error.h"
#include "pack/core/files.h"
#include "pack/image/app_config.h"
#include "pack/image/app_tree.h"
#include "pack/image/archive_policy.h"
#include "pack/image/jar_file.h"
#include "pack/jdk/jdk.h"

namespace vorlane {

/// The stack of the app's main thread.
inline constexpr std::uint64_t kAppStackSize = std::uint64_t{2} * 1024 * 1024;

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
  std::string splash;  ///< --splash IMAGE; empty: none
  bool single_instance = false;
  std::string single_instance_id;  ///< --single-instance=ID; empty: the app's name
  bool updates = false;            ///< --updates: the update library joins the tree
};

/// The --splash image or a scaled variant found beside it, as probed.
struct SplashFile {
  std::string path;
  int scale = 1;               ///< N of NAME@Nx.EXT beside the image; 1 for the image
  std::string head;            ///< its first bytes
  std::optional<Error> error;  ///< not a readable regular file
};

/// What the file system and the environment say about the inputs: each
/// probed once, each a value or why it could not be had.
struct AppFacts {
  std::string template_path;
  std::optional<Error> template_error;  ///< not a launcher template
  std::uint16_t target_machine = 0;     ///< the template's
  std::uint16_t host_machine = 0;       ///< this program's
  std::optional<Error> host_error;
  bool launcher_jar_present = false;  ///< beside the template
  std::string launcher_jar;
  bool updater_jar_present = false;  ///< beside the template
  std::string updater_jar;
  /// The module JDK has jmods/jdk.crypto.ec.jmod.
  bool jdk_has_crypto_ec = false;
  /// --runtime-image's release file names jdk.crypto.ec among its MODULES.
  bool runtime_image_has_crypto_ec = false;

  bool input_is_folder = false;
  std::optional<Error> input_error;  ///< an entry that cannot be copied, or a link loop
  std::vector<TreeEntry> input;      ///< links followed
  /// The main class in each jar that holds it or cannot be read (then an error).
  std::map<std::string, Result<ClassEntries>> main_class_in;

  std::string home;  ///< DEST/NAME
  std::string home_absolute;
  bool dest_is_file = false;
  bool home_overlaps_input = false;
  bool home_overlaps_runtime_image = false;
  std::optional<Result<Destination>> existing;

  std::optional<Jdk> runtime_image;  ///< with --runtime-image
  std::optional<Result<std::string>> host_jdk_home;
  std::optional<Jdk> host_jdk;
  std::optional<Jdk> module_jdk;
  bool base_archive_present = false;  ///< in the runtime image

  std::string emulator_text;                     ///< --emulator, else VORLANE_EMULATOR
  std::optional<std::string> source_date_epoch;  ///< SOURCE_DATE_EPOCH, when set
  std::vector<SplashFile> splash;  ///< the --splash image first, then its scaled variants
};

/// Everything `vorlane-pack app` decided before it changes anything.
struct AppPlan {
  std::vector<std::string> jars;  ///< relative to the input
  std::string main_jar;           ///< relative to the input; may be empty
  std::string template_path;
  std::string launcher_jar;
  std::string updater_jar;  ///< empty without --updates
  /// Modules jlink adds to those jdeps finds and --add-modules names.
  std::vector<std::string> extra_modules;
  std::uint16_t host_machine = 0;
  std::uint16_t target_machine = 0;
  std::vector<std::string> emulator;  ///< empty unless the archives run emulated
  std::vector<std::string> training_args;
  std::optional<Jdk> host_jdk;  ///< none with --runtime-image
  std::optional<Jdk> module_jdk;
  int feature_version = 0;  ///< of the runtime the app gets; 0 when unknown
  /// The app archive --app-cds makes, picked by the runtime's version.
  std::optional<ArchiveChoice> archive;
  formats::BurnedInData block;
  std::string home;  ///< DEST/NAME
  bool replace_existing = false;
  CdsPlan cds;
  /// The splash images to copy: each file's path, and its name in lib/app.
  std::vector<std::pair<std::string, std::string>> splash_files;
  /// Things the packager should know, each a sentence.
  std::vector<std::string> notes;
  /// SOURCE_DATE_EPOCH: seconds since 1970 that every file of the tree gets
  /// before any archive records the jars; none keeps the input's times.
  std::optional<std::int64_t> fixed_time;
};

/// The plan, or the first refusal: a pure function of its arguments.
Result<AppPlan> plan_app(const AppOptions& options, const AppFacts& facts);

}  // namespace vorlane
