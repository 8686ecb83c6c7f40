// Native methods that the Java side of an app calls.
#pragma once

#include <jni.h>

#include <cstdint>

namespace vorlane {

/// The natives of the updater class, bound with RegisterNatives.
extern JNINativeMethod methods[];
extern const std::int32_t methods_size;

}  // namespace vorlane

extern "C" {
/// Asks the native side to check for updates. Empty in this launcher.
void vorlane_check_for_updates();
/// Native side of `OnlineUpdater.nCheckForUpdates()`.
void Java_kelderan_vorlane_updater_OnlineUpdater_nCheckForUpdates(JNIEnv* env, jobject receiver);
}
