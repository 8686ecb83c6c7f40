#include "launcher/jvm_options_java.h"

#include "launcher/modified_utf8.h"

namespace vorlane {

namespace {

/// The allow-list the native returns; set once, before the class is bound.
const std::vector<std::string>* g_allowed = nullptr;

/// The allowed prefixes as a String[]; null with an exception pending when
/// the heap cannot hold them.
jobjectArray JNICALL allowed_prefixes(JNIEnv* env, jclass) {
  const auto count = static_cast<jsize>(g_allowed->size());
  jobjectArray result = env->NewObjectArray(count, env->FindClass("java/lang/String"), nullptr);
  if (result == nullptr) return nullptr;
  for (jsize i = 0; i < count; ++i) {
    jstring prefix =
        env->NewStringUTF(to_modified_utf8((*g_allowed)[static_cast<std::size_t>(i)]).c_str());
    if (prefix == nullptr) return nullptr;
    env->SetObjectArrayElement(result, i, prefix);
    env->DeleteLocalRef(prefix);
  }
  return result;
}

JNINativeMethod natives[] = {
    {const_cast<char*>("nAllowedPrefixes"), const_cast<char*>("()[Ljava/lang/String;"),
     reinterpret_cast<void*>(allowed_prefixes)},
};

}  // namespace

void bind_jvm_options_natives(JNIEnv* env, const std::vector<std::string>& allowed) {
  g_allowed = &allowed;
  jclass options = env->FindClass(kJvmOptionsClass);
  if (options == nullptr) {
    // An app that never uses the API may ship an older launcher jar.
    env->ExceptionClear();
    return;
  }
  if (env->RegisterNatives(options, natives, sizeof natives / sizeof natives[0]) != 0) {
    env->ExceptionClear();
  }
}

}  // namespace vorlane
