// The native side of kelderan.vorlane.launcher.JvmOptions: the launch data's
// allow-list, so that the Java side refuses what the launcher would refuse.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace vorlane {

inline constexpr const char kJvmOptionsClass[] = "kelderan/vorlane/launcher/JvmOptions";

/// Binds the class's native to `allowed` (which must outlive the JVM), if the
/// class is on the class path; otherwise goes on silently.
void bind_jvm_options_natives(JNIEnv* env, const std::vector<std::string>& allowed);

}  // namespace vorlane
