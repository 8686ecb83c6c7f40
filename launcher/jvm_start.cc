#include "launcher/jvm_start.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "java_api/java_api.h"
#include "launcher/fatal.h"
#include "launcher/modified_utf8.h"

namespace vorlane {

namespace {

/// A Java string with the same characters as the UTF-8 `bytes`. Raw bytes
/// would be cut short by NewStringUTF at a 4-byte sequence or a stray byte.
jstring new_java_string(JNIEnv* env, std::string_view bytes) {
  return env->NewStringUTF(to_modified_utf8(bytes).c_str());
}

/// The throwable's one-line description for the user, from the Java side.
std::string failure_message(JNIEnv* env, jthrowable throwable) {
  jclass launcher = env->FindClass(kLauncherClass);
  check(env);
  jmethodID from_exception = env->GetStaticMethodID(launcher, "fromException",
                                                    "(Ljava/lang/Throwable;)Ljava/lang/String;");
  check(env);
  auto text =
      static_cast<jstring>(env->CallStaticObjectMethod(launcher, from_exception, throwable));
  check(env);
  const char* chars = env->GetStringUTFChars(text, nullptr);
  check(env);
  std::string message = chars;
  env->ReleaseStringUTFChars(text, chars);
  return message;
}

/// Prints the throwable and its stack trace on Java's standard error.
void print_stack_trace(JNIEnv* env, jthrowable throwable) {
  jclass throwable_class = env->FindClass("java/lang/Throwable");
  jmethodID print = env->GetMethodID(throwable_class, "printStackTrace", "()V");
  env->CallVoidMethod(throwable, print);
  check(env);
}

/// Ends the process through Java's own exit, so the application's shutdown
/// hooks run; falls back to exit() should that call come back.
[[noreturn]] void exit_through_java(JNIEnv* env, int status) {
  jclass system = env->FindClass("java/lang/System");
  if (system != nullptr) {
    jmethodID exit_method = env->GetStaticMethodID(system, "exit", "(I)V");
    if (exit_method != nullptr) env->CallStaticVoidMethod(system, exit_method, status);
  }
  std::exit(status);
}

}  // namespace

void check(JNIEnv* env) {
  if (env->ExceptionOccurred() == nullptr) return;
  env->ExceptionDescribe();
  // Through Java's own exit: the JVM then removes its performance data file
  // (/tmp/hsperfdata_<user>/<pid>), which exit() behind its back leaves.
  exit_through_java(env, 1);
}

JNIEnv* create_jvm(const std::vector<std::string>& options, JavaVM** vm) {
  // Never released: the JVM may keep pointers into its options.
  auto* vm_options = new JavaVMOption[options.size()];
  for (std::size_t i = 0; i < options.size(); ++i) {
    vm_options[i].optionString = const_cast<char*>(options[i].c_str());
    vm_options[i].extraInfo = nullptr;
  }
  JavaVMInitArgs init_args{};
  init_args.version = JNI_VERSION_1_8;
  init_args.nOptions = static_cast<jint>(options.size());
  init_args.options = vm_options;
  init_args.ignoreUnrecognized = JNI_FALSE;

  JNIEnv* env = nullptr;
  const jint result = JNI_CreateJavaVM(vm, reinterpret_cast<void**>(&env), &init_args);
  if (result != JNI_OK)
    bail("Failed to create JVM: Error 0x%x", static_cast<std::uint32_t>(result));
  return env;
}

void register_natives(JNIEnv* env) {
  jclass updater = env->FindClass(kUpdaterClass);
  if (updater == nullptr) {
    // The updater is optional: an app without it starts all the same.
    env->ExceptionClear();
    return;
  }
  env->RegisterNatives(updater, methods, methods_size);
}

jobjectArray build_java_args(JNIEnv* env, const std::vector<std::string>& app_args,
                             std::span<const char* const> command_line_args) {
  jclass string_class = env->FindClass("java/lang/String");
  check(env);
  const auto length = static_cast<jsize>(app_args.size() + command_line_args.size());
  jobjectArray args = env->NewObjectArray(length, string_class, nullptr);
  // An argument list too large for the heap fails here, not later.
  check(env);
  jsize index = 0;
  for (const std::string& arg : app_args) {
    env->SetObjectArrayElement(args, index++, new_java_string(env, arg));
  }
  for (const char* arg : command_line_args) {
    env->SetObjectArrayElement(args, index++, new_java_string(env, arg));
  }
  check(env);
  return args;
}

EntryPoint prepare_entry_point(JNIEnv* env, const std::string& main_class) {
  jclass launcher = env->FindClass(kLauncherClass);
  check(env);
  jmethodID prepare = env->GetStaticMethodID(launcher, "prepare", "(Ljava/lang/String;)V");
  check(env);
  env->CallStaticVoidMethod(launcher, prepare, new_java_string(env, main_class));
  check(env);
  jfieldID main_method_field =
      env->GetStaticFieldID(launcher, "mainMethod", "Ljava/lang/reflect/Method;");
  check(env);
  jfieldID clazz_field = env->GetStaticFieldID(launcher, "clazz", "Ljava/lang/Class;");
  check(env);
  jobject main_method = env->GetStaticObjectField(launcher, main_method_field);
  check(env);
  auto clazz = static_cast<jclass>(env->GetStaticObjectField(launcher, clazz_field));
  check(env);
  jmethodID main = env->FromReflectedMethod(main_method);
  check(env);
  return {clazz, main};
}

void run_entry_point(JavaVM* vm, JNIEnv* env, EntryPoint entry, jobjectArray args,
                     bool console_app) {
  env->CallStaticVoidMethod(entry.clazz, entry.main, args);
  jthrowable throwable = env->ExceptionOccurred();
  env->ExceptionClear();
  if (throwable == nullptr) {
    // DestroyJavaVM waits for the application's non-daemon threads.
    vm->DetachCurrentThread();
    vm->DestroyJavaVM();
    std::exit(0);
  }
  const std::string message = failure_message(env, throwable);
  print_stack_trace(env, throwable);
  if (!console_app) print_alert(kInternalErrorTitle, message.c_str());
  // Not waiting for other threads, but letting registered shutdown hooks
  // (log flushes, deleteOnExit files) run, as a plain `java` launch would.
  exit_through_java(env, 1);
}

}  // namespace vorlane
