#include "pack/packages/base_archives.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vorlane::packages {
namespace {

constexpr std::uint64_t kGiB = 1ull << 30;
constexpr std::uint64_t kNoCoopsHeap = 31 * kGiB;

/// A JVM memory size ("32g", "32768m", "1073741824"), saturated at the
/// largest value; nullopt when it is none.
std::optional<std::uint64_t> memory_size(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  if (i == 0 || i + 1 < text.size()) return std::nullopt;
  int shift = 0;
  if (i < text.size()) {
    switch (text[i]) {
      case 'k':
      case 'K':
        shift = 10;
        break;
      case 'm':
      case 'M':
        shift = 20;
        break;
      case 'g':
      case 'G':
        shift = 30;
        break;
      case 't':
      case 'T':
        shift = 40;
        break;
      default:
        return std::nullopt;
    }
  }
  return value > (UINT64_MAX >> shift) ? UINT64_MAX : value << shift;
}

}  // namespace

std::vector<std::string> archive_recorded_files(const std::vector<std::string>& jvm_options) {
  constexpr std::string_view kClassPath = "-Djava.class.path=";
  std::string class_path;
  for (const std::string& option : jvm_options) {
    if (option.starts_with(kClassPath)) class_path = option.substr(kClassPath.size());
  }
  std::vector<std::string> files;
  std::size_t start = 0;
  while (start <= class_path.size()) {
    std::size_t end = class_path.find(':', start);
    if (end == std::string::npos) end = class_path.size();
    const std::string entry = class_path.substr(start, end - start);
    // Only the tree's own jars; a wildcard names no file an archive records.
    if (entry.starts_with("&&/") && entry.size() > 3 && entry.find('*') == std::string::npos &&
        entry.find("/../") == std::string::npos && !entry.ends_with("/..")) {
      files.push_back("lib/app/" + entry.substr(3));
    }
    start = end + 1;
  }
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  return files;
}

bool runs_without_compressed_oops(const std::vector<std::string>& jvm_options) {
  bool coops_off = false;
  bool zgc = false;
  std::uint64_t heap = 0;
  for (const std::string& option : jvm_options) {
    if (option == "-XX:-UseCompressedOops") coops_off = true;
    if (option == "-XX:+UseCompressedOops") coops_off = false;
    if (option == "-XX:+UseZGC") zgc = true;
    if (option == "-XX:-UseZGC") zgc = false;
    std::optional<std::uint64_t> size;
    if (option.starts_with("-Xmx")) size = memory_size(option.substr(4));
    if (option.starts_with("-XX:MaxHeapSize=")) size = memory_size(option.substr(16));
    if (size) heap = *size;
  }
  return coops_off || zgc || heap >= kNoCoopsHeap;
}

BaseArchives plan_base_archives(const BaseArchiveFacts& f) {
  BaseArchives plan;
  const bool remake = f.install_step && !f.dynamic_app_archive;
  if (f.has_coops) plan.coops = remake ? BaseArchive::kDumpAtInstall : BaseArchive::kShip;
  if (f.has_nocoops && f.without_coops) {
    plan.nocoops = remake ? BaseArchive::kDumpAtInstall : BaseArchive::kShip;
  }
  return plan;
}

long long clamp_epoch(long long epoch, const std::vector<long long>& times) {
  for (long long t : times) epoch = std::max(epoch, t);
  return epoch;
}

}  // namespace vorlane::packages
