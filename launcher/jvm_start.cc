#include "launcher/jvm_start.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "java_api/java_api.h"
#include "launcher/crash_log.h"
#include "launcher/fatal.h"
#include "launcher/modified_utf8.h"
#include "launcher/sys.h"

namespace vorlane {

namespace {

/// A Java string with the same characters as the UTF-8 `bytes`. Raw bytes
/// would be cut short by NewStringUTF at a 4-byte sequence or a stray byte.
jstring new_java_string(JNIEnv* env, std::string_view bytes) {
  return env->NewStringUTF(to_modified_utf8(bytes).c_str());
}

/// What the JVM prints while it is being created, kept for the failure
/// report of a JVM that refuses to start. Process-wide because the JVM's
/// print hook is a plain function that carries no state of its own.
struct StartOutput {
  static constexpr std::size_t kCap = 4096;
  std::mutex lock;
  std::string text;
  std::atomic<bool> open{true};
};
StartOutput g_start_output;

/// The JVM's "vfprintf" hook: every line the JVM itself prints comes here.
/// It goes to the same stream at once, unbuffered, as it would without the
/// hook; while the JVM starts, the first kCap bytes are also kept.
jint JNICALL jvm_print(FILE* stream, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  if (length <= 0) return length;
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  (void)std::vsnprintf(text.data(), text.size(), format, args);
  text.pop_back();
  (void)std::fflush(stream);
  sys::write_all(fileno(stream), text);
  if (g_start_output.open.load()) {
    const std::lock_guard<std::mutex> held(g_start_output.lock);
    std::string& kept = g_start_output.text;
    kept.append(text, 0, StartOutput::kCap - std::min(kept.size(), StartOutput::kCap));
  }
  return length;
}

/// What the JVM printed while it started (at most StartOutput::kCap bytes).
std::string start_output() {
  const std::lock_guard<std::mutex> held(g_start_output.lock);
  return g_start_output.text;
}

/// The crash log a crash at start names; set before the JVM is created and
/// read by the abort hook, which, like the print hook, carries no state.
std::string g_crash_log;  // NOLINT(cert-err58-cpp): an empty string cannot throw

/// The longest a hook's report may take: one that blocks (a crash while a
/// lock it needs was held) ends by SIGALRM instead of hanging the process.
constexpr unsigned kHookReportSeconds = 10;

/// Reports a JVM that ends the process while it is being created; nothing
/// once it has started, nor for an exit with status 0 (an option such as
/// -XX:+PrintFlagsFinal ends the JVM on purpose). The JVM ends the process
/// itself once the hook returns, with the status and output it would have
/// had without it.
void report_start_end(StartEnd end) {
  if (!g_start_output.open.exchange(false)) return;
  if (!end.aborted && end.status == 0) return;
  alarm(kHookReportSeconds);
  try {
    const std::string crash_log =
        !g_crash_log.empty() && sys::is_regular_file(g_crash_log) ? g_crash_log : std::string();
    const std::lock_guard<std::mutex> held(g_start_output.lock);
    report_failure(nullptr, start_end_report(end, crash_log, g_start_output.text).c_str());
  } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): the JVM printed its own
  }
}

/// The JVM's "exit" hook: called on every exit through the JVM, as it
/// starts (an error in its options found late) and after (System.exit).
void JNICALL jvm_exit(jint status) { report_start_end({.aborted = false, .status = status}); }

/// The JVM's "abort" hook: called as the JVM aborts, after a crash (its
/// crash log written) or an error during its initialization.
void JNICALL jvm_abort() { report_start_end({.aborted = true}); }

/// `value` in lower-case hexadecimal digits, as printf's "%x" writes it.
std::string hex(std::uint32_t value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), "0123456789abcdef"[value & 0xFU]);
    value >>= 4U;
  } while (value != 0);
  return digits;
}

/// The first line of Object.toString() of `thrown`, or "" when Java cannot
/// give it; leaves no exception pending.
std::string first_line(JNIEnv* env, jthrowable thrown) {
  std::string line;
  jclass object = env->FindClass("java/lang/Object");
  jmethodID to_string =
      object != nullptr ? env->GetMethodID(object, "toString", "()Ljava/lang/String;") : nullptr;
  auto text = to_string != nullptr ? static_cast<jstring>(env->CallObjectMethod(thrown, to_string))
                                   : nullptr;
  if (text != nullptr && !env->ExceptionCheck()) {
    if (const char* chars = env->GetStringUTFChars(text, nullptr)) {
      line = chars;
      env->ReleaseStringUTFChars(text, chars);
    }
  }
  env->ExceptionClear();
  return line.substr(0, line.find_first_of("\r\n"));
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
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown == nullptr) return;
  env->ExceptionDescribe();
  // The description's first line, as the JVM printed it for this thread.
  report_failure(nullptr, ("Exception in thread \"main\" " + first_line(env, thrown)).c_str());
  // Through Java's own exit: the JVM then removes its performance data file
  // (/tmp/hsperfdata_<user>/<pid>), which exit() behind its back leaves.
  exit_through_java(env, 1);
}

JNIEnv* create_jvm(CreateJavaVm create, const std::vector<std::string>& options, JavaVM** vm,
                   const StartWatch& watch) {
  // Never released: the JVM may keep pointers into its options. The hooks
  // come first, as the JVM reads its options in order and reports the first
  // bad one before it has seen the rest.
  std::vector<JavaVMOption> hooks;
  if (watch.hooks) {
    g_crash_log = watch.crash_log;
    hooks = {{const_cast<char*>("vfprintf"), reinterpret_cast<void*>(&jvm_print)},
             {const_cast<char*>("exit"), reinterpret_cast<void*>(&jvm_exit)},
             {const_cast<char*>("abort"), reinterpret_cast<void*>(&jvm_abort)}};
  }
  auto* vm_options = new JavaVMOption[hooks.size() + options.size()];
  std::copy(hooks.begin(), hooks.end(), vm_options);
  for (std::size_t i = 0; i < options.size(); ++i) {
    vm_options[hooks.size() + i].optionString = const_cast<char*>(options[i].c_str());
    vm_options[hooks.size() + i].extraInfo = nullptr;
  }
  JavaVMInitArgs init_args{};
  init_args.version = JNI_VERSION_1_8;
  init_args.nOptions = static_cast<jint>(hooks.size() + options.size());
  init_args.options = vm_options;
  init_args.ignoreUnrecognized = JNI_FALSE;

  JNIEnv* env = nullptr;
  const jint result = create(vm, reinterpret_cast<void**>(&env), &init_args);
  // Closed here, as the JVM has started or refused to: its hooks report
  // nothing from now on.
  g_start_output.open.store(false);
  if (result != JNI_OK) {
    const std::string said = start_output();
    bail_with_details("Failed to create JVM: Error 0x" + hex(static_cast<std::uint32_t>(result)),
                      said);
  }
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
  report_failure(kInternalErrorTitle, message.c_str());
  // Not waiting for other threads, but letting registered shutdown hooks
  // (log flushes, deleteOnExit files) run, as a plain `java` launch would.
  exit_through_java(env, 1);
}

}  // namespace vorlane
