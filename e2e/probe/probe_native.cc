// Native half of the probe app: reports on the thread that runs main. Built
// as a JNI library with its own libstdc++, as an app's natives would be.
#include <jni.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

extern "C" JNIEXPORT jstring JNICALL Java_probe_Probe_threadInfo(JNIEnv* env, jclass) {
  pthread_attr_t attr;
  std::size_t stack_size = 0;
  std::size_t guard_size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &stack_size);
    pthread_attr_getguardsize(&attr, &guard_size);
    pthread_attr_destroy(&attr);
  }
  const bool initial_thread = getpid() == static_cast<pid_t>(syscall(SYS_gettid));
  const std::string info = "stack=" + std::to_string(stack_size) +
                           " guard=" + std::to_string(guard_size) +
                           " initial=" + (initial_thread ? "yes" : "no");
  return env->NewStringUTF(info.c_str());
}

// A child that outlives the app: fork and exec, inheriting every descriptor
// that is not close-on-exec. It prints its own pid on the app's output.
extern "C" JNIEXPORT jint JNICALL Java_probe_Probe_spawnSleeper(JNIEnv*, jclass) {
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", "echo sleeper $$; exec /bin/sleep 600",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Loaded with -agentpath:LIB=crash, a JVM agent that crashes the JVM while it
// is being created: the JVM's signal handler writes its crash log and aborts.
extern "C" JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM*, char* options, void*) {
  if (options != nullptr && std::string(options) == "crash") {
    __builtin_trap();  // SIGILL, which the JVM reports as a crash
  }
  return JNI_OK;
}
