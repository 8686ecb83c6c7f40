#include "launcher/single_instance_java.h"

#include <string_view>

#include "launcher/modified_utf8.h"
#include "launcher/single_instance.h"

namespace vorlane {

using formats::ForwardedLaunch;

namespace {

/// The same characters the app's main gets for these bytes; null for nullopt.
jstring java_string(JNIEnv* env, const std::optional<std::string>& bytes) {
  if (!bytes) return nullptr;
  return env->NewStringUTF(to_modified_utf8(*bytes).c_str());
}

jbyteArray java_bytes(JNIEnv* env, std::string_view bytes) {
  jbyteArray array = env->NewByteArray(static_cast<jsize>(bytes.size()));
  if (array == nullptr) return nullptr;
  env->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                          reinterpret_cast<const jbyte*>(bytes.data()));
  return array;
}

jboolean JNICALL primary(JNIEnv*, jclass) { return is_instance_primary() ? JNI_TRUE : JNI_FALSE; }

/// The next launch as {String[] args, byte[][] raw args, String working
/// directory, String activation token, String startup ID}; null when the
/// heap cannot hold it (an exception is then pending).
jobjectArray JNICALL next_launch(JNIEnv* env, jclass) {
  const ForwardedLaunch launch = next_forwarded_launch();
  const auto count = static_cast<jsize>(launch.args.size());
  jobjectArray args = env->NewObjectArray(count, env->FindClass("java/lang/String"), nullptr);
  if (args == nullptr) return nullptr;
  jobjectArray raw = env->NewObjectArray(count, env->FindClass("[B"), nullptr);
  if (raw == nullptr) return nullptr;
  for (jsize i = 0; i < count; ++i) {
    const std::string& arg = launch.args[static_cast<std::size_t>(i)];
    jstring s = java_string(env, arg);
    jbyteArray b = java_bytes(env, arg);
    if (s == nullptr || b == nullptr) return nullptr;
    env->SetObjectArrayElement(args, i, s);
    env->SetObjectArrayElement(raw, i, b);
    env->DeleteLocalRef(s);
    env->DeleteLocalRef(b);
  }
  jobjectArray result = env->NewObjectArray(5, env->FindClass("java/lang/Object"), nullptr);
  if (result == nullptr) return nullptr;
  env->SetObjectArrayElement(result, 0, args);
  env->SetObjectArrayElement(result, 1, raw);
  env->SetObjectArrayElement(result, 2, java_string(env, launch.working_directory));
  env->SetObjectArrayElement(result, 3, java_string(env, launch.activation_token));
  env->SetObjectArrayElement(result, 4, java_string(env, launch.startup_id));
  return result;
}

JNINativeMethod natives[] = {
    {const_cast<char*>("nPrimary"), const_cast<char*>("()Z"), reinterpret_cast<void*>(primary)},
    {const_cast<char*>("nNextLaunch"), const_cast<char*>("()[Ljava/lang/Object;"),
     reinterpret_cast<void*>(next_launch)},
};

}  // namespace

void bind_single_instance_natives(JNIEnv* env) {
  if (!is_instance_primary()) return;
  jclass single = env->FindClass(kSingleInstanceClass);
  if (single == nullptr) {
    // An app that never uses the API may leave the class out.
    env->ExceptionClear();
    return;
  }
  if (env->RegisterNatives(single, natives, sizeof natives / sizeof natives[0]) != 0) {
    env->ExceptionClear();
  }
}

}  // namespace vorlane
