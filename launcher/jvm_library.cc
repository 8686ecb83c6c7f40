#include "launcher/jvm_library.h"

#include <dlfcn.h>

namespace vorlane {

JvmLibrary load_jvm_library() {
  void* handle = dlopen("libjvm.so", RTLD_NOW | RTLD_GLOBAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    return {nullptr, reason != nullptr ? reason : "libjvm.so cannot be loaded"};
  }
  void* create = dlsym(handle, "JNI_CreateJavaVM");
  if (create == nullptr) return {nullptr, "libjvm.so has no JNI_CreateJavaVM"};
  return {reinterpret_cast<CreateJavaVm>(create), {}};
}

std::string missing_runtime_message(std::string_view runtime_dir, std::string_view problem) {
  return "The app's Java runtime cannot be loaded (" + std::string(problem) + "). It belongs in " +
         std::string(runtime_dir) + "; reinstalling the app puts it back.";
}

}  // namespace vorlane
