// The JNI steps of a launch: create the JVM, hand over to the Java side, and
// turn the application's outcome into the process's exit status.
#pragma once

#include <jni.h>

#include <span>
#include <string>
#include <vector>

#include "launcher/jvm_library.h"

namespace vorlane {

inline constexpr const char kLauncherClass[] = "kelderan/vorlane/launcher/Launcher";
inline constexpr const char kUpdaterClass[] = "kelderan/vorlane/updater/OnlineUpdater";
inline constexpr const char kInternalErrorTitle[] =
    "The application has experienced an internal error and must quit.";

/// Ends the process with status 1, through Java's System.exit, if a Java
/// exception is pending; the JVM describes the exception on its error stream.
void check(JNIEnv* env);

/// What the launch watches while the JVM is being created.
struct StartWatch {
  /// Sets the JVM's print, exit and abort hooks, so that the failure report
  /// (not standard error) carries what the JVM printed as it refused to
  /// start, and a JVM that exits or aborts during its own start is reported
  /// too. The JVM then lists "vfprintf", "exit" and "abort" among its input
  /// arguments (RuntimeMXBean), so they are asked for only where a dialog
  /// shows the report.
  bool hooks = false;
  /// The crash log the JVM of this process writes, named in the report of a
  /// crash at start when it exists; "" when the launcher did not choose it.
  std::string crash_log;
};

/// Creates the JVM on this thread, through libjvm.so's `create`, with
/// `options` in order. The strings must
/// not change until this returns. Bails with the JVM's result code on
/// failure. A JVM that ends the process itself as it starts keeps its exit
/// status and its standard error; the hooks of `watch` only report it.
JNIEnv* create_jvm(CreateJavaVm create, const std::vector<std::string>& options, JavaVM** vm,
                   const StartWatch& watch);

/// Binds the updater class's native method, if that class is on the class
/// path; otherwise goes on silently.
void register_natives(JNIEnv* env);

/// The entry method's argument: `app_args`, then the command-line arguments,
/// each converted so that Java sees the same characters.
jobjectArray build_java_args(JNIEnv* env, const std::vector<std::string>& app_args,
                             std::span<const char* const> command_line_args);

/// The application's entry method, as the Java launcher class found it.
struct EntryPoint {
  jclass clazz;
  jmethodID main;
};

/// Asks the Java launcher class to load `main_class` and find its entry
/// method; ends the launch through `check` when it cannot.
EntryPoint prepare_entry_point(JNIEnv* env, const std::string& main_class);

/// Runs the entry method on this thread and ends the process: status 0 after
/// a normal return once the JVM has shut down, 1 after an uncaught exception.
[[noreturn]] void run_entry_point(JavaVM* vm, JNIEnv* env, EntryPoint entry, jobjectArray args,
                                  bool console_app);

}  // namespace vorlane
