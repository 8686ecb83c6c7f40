// The launcher: decodes its launch data, builds the JVM's options, starts the
// JVM in this process and runs the application's main method.

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/launch_data.h"
#include "formats/launch_options.h"
#include "formats/option_expansion.h"
#include "formats/user_options.h"
#include "launcher/app_dir.h"
#include "launcher/command_record.h"
#include "launcher/crash_log.h"
#include "launcher/failure_dialog.h"
#include "launcher/fatal.h"
#include "launcher/file_system.h"
#include "launcher/jvm_library.h"
#include "launcher/jvm_options_java.h"
#include "launcher/jvm_start.h"
#include "launcher/launch_area.h"
#include "launcher/options_file.h"
#include "launcher/screen_scale.h"
#include "launcher/single_instance.h"
#include "launcher/single_instance_java.h"
#include "launcher/splash.h"
#include "launcher/sys.h"

namespace vorlane {

using formats::BurnedInData;
using formats::check_user_options;
using formats::expand_options;
using formats::kDisallowedOptionPrefix;
using formats::kInvalidOptionTitle;
using formats::kUnterminatedQuote;
using formats::kUserOptionsNotEnabled;
using formats::kUserOptionsVariable;
using formats::single_instance_id;
using formats::splash_image;
using formats::take_splash_option;
using formats::UserOptions;

BurnedInData data(launch_area());

}  // namespace vorlane

extern "C" void vorlane_check_for_updates() {}

namespace {

using namespace vorlane;

constexpr const char kOutOfMemory[] = "Not enough memory for the JVM options.";

int g_argc = 0;
char** g_argv = nullptr;

/// argv[1] to argv[argc-1]: the arguments meant for the application.
std::span<const char* const> command_line_args() {
  if (g_argc <= 1) return {};
  return {const_cast<const char* const*>(g_argv + 1), static_cast<std::size_t>(g_argc - 1)};
}

/// VORLANE_DUMP_JVM_ARGS's stream, or null when the options are not dumped.
std::FILE* dump_stream() {
  return std::getenv("VORLANE_DUMP_JVM_ARGS") != nullptr ? stderr : nullptr;
}

/// The app's name for its state and config folders: its executable's file
/// name, bin/NAME ("" when the executable's path cannot be read).
std::string app_name() {
  const sys::SysResult<std::string> exe = sys::read_link("/proc/self/exe", kExePathBufferSize);
  return exe.ok() ? exe.value.substr(exe.value.rfind('/') + 1) : std::string();
}

/// Appends the allowed options of the user's options file. What is left out
/// (an option not allowed, a line too long, a file too large or no text)
/// gets a one-line note on standard error and in the app's log, and the
/// launch goes on; a missing file is no news. The dump names each option.
void append_options_file() {
  const std::string name = app_name();
  const std::optional<std::string> path =
      options_file_path(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), name);
  if (!path) return;
  const sys::SysResult<std::string> text = sys::read_small_file(*path, kOptionsFileCap);
  if (text.error == ENOENT || text.error == ENOTDIR) return;
  OptionsFile file;
  if (text.error == EFBIG) {
    file.notes.push_back(*path + " is larger than " + std::to_string(kOptionsFileCap / 1024) +
                         " KiB; its JVM options are left out.");
  } else if (!text.ok()) {
    file.notes.push_back(*path + " cannot be read (" + std::strerror(text.error) +
                         "); its JVM options are left out.");
  } else {
    file = parse_options_file(text.value, *path, data.allowed_jvm_options);
  }
  for (const std::string& note : file.notes) {
    (void)std::fprintf(stderr, "%s\n", note.c_str());
    append_to_app_log(name, "Note", note.c_str());
  }
  for (std::string& option : file.accepted) {
    if (std::FILE* dump = dump_stream()) {
      (void)std::fprintf(dump, "JVM option from %s: %s\n", path->c_str(), option.c_str());
    }
    data.jvm_options.push_back(std::move(option));
  }
}

/// Appends the allowed options of VORLANE_JVM_OPTIONS, or ends the launch
/// with the reason they cannot be used.
void append_user_options() {
  UserOptions user =
      check_user_options(std::getenv(kUserOptionsVariable), data.allowed_jvm_options);
  switch (user.outcome) {
    case UserOptions::Outcome::kAccepted:
      for (std::string& option : user.accepted) {
        if (std::FILE* dump = dump_stream()) {
          (void)std::fprintf(dump, "JVM option from %s: %s\n", kUserOptionsVariable,
                             option.c_str());
        }
        data.jvm_options.push_back(std::move(option));
      }
      return;
    case UserOptions::Outcome::kNotEnabled:
      bail("%s", kUserOptionsNotEnabled);
    case UserOptions::Outcome::kUnterminatedQuote:
      bail("%s", kUnterminatedQuote);
    case UserOptions::Outcome::kDisallowed: {
      const std::string message = kDisallowedOptionPrefix + user.disallowed;
      if (data.console_app) bail("%s", message.c_str());
      show_alert(kInvalidOptionTitle, message.c_str());
    }
  }
}

/// The JVM reads these variables by itself; a packaged app's options come
/// from its launch data and VORLANE_JVM_OPTIONS alone. Removing them here
/// also keeps them from the app's child processes.
void remove_java_option_variables() {
  unsetenv("_JAVA_OPTIONS");
  unsetenv("JDK_JAVA_OPTIONS");
  unsetenv("JAVA_TOOL_OPTIONS");
}

/// Brings every option into its final form: app directory, home directory,
/// class-path wildcards; prints them to `dump` unless it is null.
void expand_jvm_options(std::vector<std::string>& options, const std::string& app_dir,
                        std::FILE* dump) {
  expand_options(
      options, app_dir, [] { return std::getenv("HOME"); }, SystemFileSystem(), dump);
}

/// The JVM's options in their final form: the block's, the command record
/// and the user's, each expanded, without the splash screen's option, which
/// is returned expanded (nullopt without one). Expansion can grow them without
/// bound (a command line of "&&" tokens, wildcards that name large
/// directories), so running out of memory ends the launch with a message, not
/// an abort.
std::optional<std::string> prepare_jvm_options(const std::string& app_dir) {
  try {
    data.jvm_options.push_back(
        build_command_record(data.main_class, data.app_args, command_line_args()));
    // The variable's options last: they win for a one-off run.
    append_options_file();
    append_user_options();
    remove_java_option_variables();
    // Taken out before the others are expanded and dumped, so that the dump's
    // indices stay those the JVM sees; expanded the same way on its own.
    std::optional<std::string> splash = take_splash_option(data.jvm_options);
    expand_jvm_options(data.jvm_options, app_dir, dump_stream());
    if (splash) {
      std::vector<std::string> alone = {std::move(*splash)};
      expand_jvm_options(alone, app_dir, nullptr);
      splash = std::move(alone.front());
    }
    return splash;
  } catch (const std::bad_alloc&) {
    bail("%s", kOutOfMemory);
  }
}

/// Shows the image of the "-splash:" option before the JVM starts, or goes
/// on without a splash screen; the dump says which.
void show_splash_screen(const std::string& splash_option, const std::string& app_dir) {
  const std::string image(splash_image(splash_option));
  const int scale = splash_scale(std::getenv("J2D_UISCALE"), std::getenv("GDK_SCALE"));
  const SplashOutcome outcome = show_splash(splash_library_path(app_dir), image, scale);
  if (std::FILE* dump = dump_stream()) {
    (void)std::fprintf(dump, "Splash screen %s: %s\n", image.c_str(), describe(outcome));
  }
}

/// For a single-instance app: goes on as the primary, or hands this launch
/// over to the running one and ends (status 0, or 1 with a message naming
/// the app when it does not take it). Without a usable folder the launch
/// goes on without single instance; the dump says why. A start check
/// (VORLANE_LAUNCH_CHECK=1, which the updater sets to try a new version)
/// ends in the Java launcher class before `main` and hands nothing over.
void claim_single_instance() {
  if (const char* check = std::getenv("VORLANE_LAUNCH_CHECK");
      check && std::strcmp(check, "1") == 0) {
    return;
  }
  const std::optional<std::string> id = single_instance_id(data.jvm_options);
  if (!id) return;
  const InstanceClaim claim =
      claim_instance(*id, this_launch(command_line_args()), kHandOverTimeoutMs);
  switch (claim.role) {
    case InstanceRole::kHandedOver:
      std::exit(0);
    case InstanceRole::kFailed:
      bail("%s is already running, but %s.", id->c_str(), claim.detail.c_str());
    case InstanceRole::kPrimary:
    case InstanceRole::kOff:
      break;
  }
  if (std::FILE* dump = dump_stream()) {
    (void)std::fprintf(dump, "Single instance %s: %s%s\n", id->c_str(),
                       claim.role == InstanceRole::kPrimary ? "primary, listening on " : "off: ",
                       claim.detail.c_str());
  }
}

/// The failure reporter: the desktop's dialog and the app's log.
void report_to_user(const char* title, const char* message) {
  report_to_desktop({data.console_app, app_name()}, title, message);
}

/// Appends `option` to the JVM's options, after the expanded ones; the dump
/// shows it with its index.
void append_final_option(std::string option) {
  if (std::FILE* dump = dump_stream()) {
    (void)std::fprintf(dump, "JVM arg %d: %s\n", static_cast<int>(data.jvm_options.size()),
                       option.c_str());
  }
  data.jvm_options.push_back(std::move(option));
}

/// Sends the JVM's crash log into the app's state folder (made 0700), unless
/// the block or the user set -XX:ErrorFile or the folder cannot be used.
/// Added after the others are expanded, as the folder's path is final text.
/// Returns the file the JVM of this process then writes ("" without one).
std::string add_crash_log_option() {
  const std::string name = app_name();
  // Checked before the folder is made: an app whose options chose a place
  // gets no state folder for it.
  const std::optional<std::string> dir =
      state_dir(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"), name);
  std::optional<std::string> option = dir ? crash_log_option(data.jvm_options, *dir) : std::nullopt;
  if (!option || !make_state_dir(name)) return {};
  append_final_option(std::move(*option));
  return crash_log_path(*dir, static_cast<long>(getpid()));
}

/// Sets the JVM's whole scale, and the exact factor, from the X display's
/// Xft.dpi, where neither the options nor the environment set a scale.
void add_screen_scale_options() {
  if (scale_is_set(data.jvm_options, std::getenv("GDK_SCALE"), std::getenv("J2D_UISCALE"))) {
    return;
  }
  const std::optional<std::string> resources = x_resources();
  if (!resources) return;
  const std::optional<double> dpi = xft_dpi(*resources);
  if (!dpi) return;
  for (std::string& option : scale_options(*dpi)) append_final_option(std::move(option));
}

/// libjvm.so's entry point, loaded before the splash screen, whose library
/// binds to it; a runtime that is missing or damaged ends the launch here.
CreateJavaVm load_java_runtime(const std::string& app_dir) {
  JvmLibrary runtime = load_jvm_library();
  if (runtime.create == nullptr) {
    bail("%s", missing_runtime_message(runtime_dir(app_dir), runtime.problem).c_str());
  }
  return runtime.create;
}

/// The launch, from option list to exit status. Never returns.
void* run_jvm(void*) {
  const std::string app_dir = resolve_app_dir();
  const std::optional<std::string> splash_option = prepare_jvm_options(app_dir);
  std::string crash_log = add_crash_log_option();
  add_screen_scale_options();
  const CreateJavaVm create = load_java_runtime(app_dir);
  if (splash_option) show_splash_screen(*splash_option, app_dir);

  JavaVM* vm = nullptr;
  JNIEnv* env = create_jvm(create, data.jvm_options, &vm,
                           {failure_dialog_wanted(data.console_app), std::move(crash_log)});
  register_natives(env);
  bind_single_instance_natives(env);
  bind_jvm_options_natives(env, data.allowed_jvm_options);
  jobjectArray args = build_java_args(env, data.app_args, command_line_args());
  EntryPoint entry = prepare_entry_point(env, data.main_class);
  run_entry_point(vm, env, entry, args, data.console_app);
}

/// Runs `run_jvm` on a thread with the block's stack size and no guard area;
/// the process ends on that thread.
void run_on_launcher_thread() {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  // A size the thread library refuses leaves its default stack size.
  pthread_attr_setstacksize(&attr, data.stack_size);
  pthread_attr_setguardsize(&attr, 0);
  pthread_t thread;
  if (int error = pthread_create(&thread, &attr, run_jvm, nullptr); error != 0) {
    bail("Failed to start the launcher thread: %s", std::strerror(error));
  }
  pthread_join(thread, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  set_failure_reporter(report_to_user);
  // A standard stream the launcher was started without would be taken by the
  // next file opened, such as the JVM's module image or a jar: the app would
  // read that file as its input, and its output would go nowhere.
  if (const int error = sys::open_closed_standard_streams(); error != 0) {
    fail_system_call("/dev/null", error);
  }
  g_argc = argc;
  g_argv = argv;
  if (!data.intact) bail("Corrupt launch data block.");
  claim_single_instance();
  if (data.run_on_main_thread) run_jvm(nullptr);
  run_on_launcher_thread();
  return 0;
}
