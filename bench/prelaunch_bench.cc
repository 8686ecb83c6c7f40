// Measures what the launcher does before it creates the JVM (decoding the
// launch data, the command record, user options, app directory and option
// expansion) against the JVM's own start-up time, measured in the same run.
//
//   prelaunch_bench JAVA_HOME
//
// Prints one line per case: the median time of the case and its fraction of
// the JVM's start-up time (median wall time of `java -Xshare:auto -version`).

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "formats/launch_data.h"
#include "formats/launch_data_encoder.h"
#include "formats/option_expansion.h"
#include "formats/user_options.h"
#include "launcher/app_dir.h"
#include "launcher/command_record.h"
#include "launcher/file_system.h"
#include "pack/core/process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using namespace vorlane;
using formats::BurnedInData;
using formats::check_user_options;
using formats::encode_area;
using formats::expand_options;
using formats::UserOptions;

/// Median seconds of `runs` calls of `work`.
double median_seconds(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    work();
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

/// The launch data of a shipped app: 15 options, one a class path naming
/// 103 jars through the app directory token, and its allow-list.
std::vector<std::uint8_t> shipped_area(const std::string& class_path_value) {
  BurnedInData block;
  block.flag_bit2 = block.flag_bit4 = true;
  block.stack_size = 2 * 1024 * 1024;
  block.main_class = "com.example.desktop.application.AppMain";
  block.jvm_options = {"-XX:G1PeriodicGCInterval=60000",
                       "-XX:+G1PeriodicGCInvokesConcurrent",
                       "-XX:MinHeapFreeRatio=10",
                       "-XX:MaxHeapFreeRatio=30",
                       "-Djava.net.useSystemProxies=true",
                       "-Dapp.fsname=plendor",
                       "-Dpicocli.ansi=tty",
                       "-Dapp.repositoryUrl=https://updates.example.org/plendor/stable",
                       "-Dapp.version=3.12.23",
                       "-Dapp.dir=&&",
                       "-Dapp.revision=0",
                       "-Dapp.displayName=Plendor",
                       "-Djava.class.path=" + class_path_value,
                       "-Djava.library.path=&&/../runtime/lib/:&&",
                       "-Dfile.encoding=UTF-8"};
  block.allowed_jvm_options = {"-Xmx", "-Xms", "-Xss", "-Xlog", "-XshowSettings",
                               "-ea",  "-esa", "-da",  "-dsa",  "-Duser.home="};
  return encode_area(block);
}

/// Everything the launcher does between process start and JVM creation.
void prelaunch(const std::vector<std::uint8_t>& area, const std::vector<const char*>& args) {
  BurnedInData data(area);
  data.jvm_options.push_back(build_command_record(data.main_class, data.app_args, args));
  UserOptions user = check_user_options("-Xmx2g -Xlog:gc:file=~/gc.log", data.allowed_jvm_options);
  for (std::string& option : user.accepted) data.jvm_options.push_back(std::move(option));
  const std::string app_dir = resolve_app_dir();
  expand_options(
      data.jvm_options, app_dir, [] { return std::getenv("HOME"); }, SystemFileSystem(), nullptr);
}

/// Wall time of one `java -Xshare:auto -version`, output discarded.
void start_java(const std::string& java) {
  ProcessOptions options;
  options.discarded_streams = {1, 2};
  (void)run_process({java, "-Xshare:auto", "-version"}, options);
}

std::string jar_directory(const fs::path& root, int jars) {
  const fs::path dir = root / ("jars-" + std::to_string(jars));
  fs::create_directories(dir);
  for (int i = 0; i < jars; ++i) std::ofstream(dir / ("library-" + std::to_string(i) + ".jar"));
  return dir.string();
}

void report(const char* name, double seconds, double jvm_seconds) {
  std::printf("%-44s %10.1f us  %7.3f%% of JVM start-up\n", name, seconds * 1e6,
              100.0 * seconds / jvm_seconds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    (void)std::fprintf(stderr, "usage: prelaunch_bench JAVA_HOME\n");
    return 2;
  }
  const std::string java = std::string(argv[1]) + "/bin/java";
  const std::vector<const char*> args = {"--open", "/home/u/Documents/report.txt"};

  std::string named;
  for (int i = 0; i < 103; ++i)
    named += (i ? ":&&/" : "&&/") + ("library-" + std::to_string(i) + ".jar");
  const auto shipped = shipped_area(named);

  char pattern[] = "/tmp/vorlane-bench-XXXXXX";
  const fs::path root = mkdtemp(pattern);
  const auto wildcard_1k = shipped_area(jar_directory(root, 1000) + "/*.jar");
  const auto wildcard_10k = shipped_area(jar_directory(root, 10000) + "/*.jar");

  start_java(java);  // warm the page cache before timing
  const double jvm = median_seconds(15, [&] { start_java(java); });
  std::printf("%-44s %10.1f us\n", "JVM start-up (java -Xshare:auto -version)", jvm * 1e6);
  report("shipped-size block (103 jars named)",
         median_seconds(2001, [&] { prelaunch(shipped, args); }), jvm);
  report("class path dir/*.jar over 1,000 jars",
         median_seconds(101, [&] { prelaunch(wildcard_1k, args); }), jvm);
  report("class path dir/*.jar over 10,000 jars",
         median_seconds(21, [&] { prelaunch(wildcard_10k, args); }), jvm);
  fs::remove_all(root);
  return 0;
}
