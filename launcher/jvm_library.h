// Loading the Java runtime's libjvm.so when the launch needs it, rather than
// having the dynamic loader load it before the launcher runs: a runtime that
// is missing or damaged then ends the launch with the launcher's own message
// (and the desktop's failure dialog), not the loader's, which a user who
// started the app from a menu never sees.
#pragma once

#include <jni.h>

#include <string>
#include <string_view>

namespace vorlane {

/// The invocation API's entry point, as libjvm.so exports it.
using CreateJavaVm = jint(JNICALL*)(JavaVM** vm, void** env, void* args);

/// libjvm.so's JNI_CreateJavaVM, or the loader's reason it has none.
struct JvmLibrary {
  CreateJavaVm create = nullptr;
  std::string problem;  ///< set when `create` is null
};

/// Loads libjvm.so by its name, so that it is found where a linked one would
/// be: the launcher's run path (the runtime in the app's tree) first, then
/// LD_LIBRARY_PATH and the system's. Loaded for good and globally, as a
/// linked one would be: the runtime's other libraries (libjava.so,
/// libsplashscreen.so) name it among their dependencies and bind to it.
JvmLibrary load_jvm_library();

/// The launch's message for a runtime that cannot be loaded, naming the
/// folder the app's runtime belongs in (`runtime_dir`) and the loader's
/// reason.
std::string missing_runtime_message(std::string_view runtime_dir, std::string_view problem);

}  // namespace vorlane
