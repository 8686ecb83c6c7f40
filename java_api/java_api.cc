#include "java_api/java_api.h"

extern "C" void Java_kelderan_vorlane_updater_OnlineUpdater_nCheckForUpdates(JNIEnv*, jobject) {
  vorlane_check_for_updates();
}

namespace vorlane {

JNINativeMethod methods[] = {
    {const_cast<char*>("nCheckForUpdates"), const_cast<char*>("()V"),
     reinterpret_cast<void*>(&Java_kelderan_vorlane_updater_OnlineUpdater_nCheckForUpdates)},
};
const std::int32_t methods_size = sizeof(methods) / sizeof(methods[0]);

}  // namespace vorlane
