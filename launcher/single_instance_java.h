// The native side of kelderan.vorlane.launcher.SingleInstance: the Java
// side takes the launches the primary queued through these methods.
#pragma once

#include <jni.h>

namespace vorlane {

inline constexpr const char kSingleInstanceClass[] = "kelderan/vorlane/launcher/SingleInstance";

/// Binds the class's natives when this process is the primary and the class
/// is on the class path; otherwise leaves them unbound, and the Java side
/// then does nothing.
void bind_single_instance_natives(JNIEnv* env);

}  // namespace vorlane
