#include "formats/archive_policy.h"

#include <cstdint>

#include "formats/java_release.h"

namespace vorlane::formats {
namespace {

constexpr std::uint64_t kGiB = 1ULL << 30;
constexpr std::uint64_t kNoCoopsHeap = 31 * kGiB;

/// A JVM memory size ("32g", "32768m", "1073741824"), saturated at the
/// largest value; nullopt when it is none.
std::optional<std::uint64_t> memory_size(std::string_view text) {
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

ArchiveDecision ship() { return {ArchiveFate::kShip, {}}; }
ArchiveDecision remake(std::vector<std::string> options) {
  return {ArchiveFate::kRemake, std::move(options)};
}

}  // namespace

std::optional<ArchiveKind> archive_kind_for(std::string_view java_version) {
  const std::optional<JavaVersion> version = parse_java_version(java_version);
  if (!version) return std::nullopt;
  if (version->feature < 25) return ArchiveKind::kDynamic;
  // The cache checks its jars since 25.0.4 (JDK-8377932).
  if (version->feature == 25 && version->interim == 0 && version->update < 4) {
    return ArchiveKind::kStaticLinked;
  }
  return ArchiveKind::kAotCache;
}

bool runs_without_compressed_oops(const std::vector<std::string>& jvm_options) {
  bool coops_off = false;
  bool zgc = false;
  std::uint64_t heap = 0;
  for (const std::string& option : jvm_options) {
    if (option == kNoCoopsOption) coops_off = true;
    if (option == "-XX:+UseCompressedOops") coops_off = false;
    if (option == "-XX:+UseZGC") zgc = true;
    if (option == "-XX:-UseZGC") zgc = false;
    std::optional<std::uint64_t> size;
    if (option.starts_with("-Xmx")) size = memory_size(std::string_view(option).substr(4));
    if (option.starts_with("-XX:MaxHeapSize=")) {
      size = memory_size(std::string_view(option).substr(16));
    }
    if (size) heap = *size;
  }
  return coops_off || zgc || heap >= kNoCoopsHeap;
}

ArchiveDecisions decide_archives(const ArchiveFacts& f) {
  using enum ArchiveContext;
  ArchiveDecisions out;
  if (f.context == kAppTree) {
    if (f.has_coops) out.coops = ship();
    if (f.has_nocoops) out.nocoops = ship();
    if (f.app_archive) out.app = ship();
    return out;
  }
  const int feature = parse_java_version(f.java_version).value_or(JavaVersion{}).feature;
  const bool layered = f.app_archive == ArchiveKind::kDynamic && feature >= 20;
  const bool can_remake = (f.context == kInstalledPackage || f.context == kSelfUpdate) && !layered;
  // The updater lays down the tree's every file; a package only what its JVM maps.
  const bool nocoops_mapped =
      f.context == kSelfUpdate || runs_without_compressed_oops(f.jvm_options);
  if (f.has_coops) out.coops = can_remake ? remake({}) : ship();
  if (f.has_nocoops && nocoops_mapped) {
    out.nocoops = can_remake ? remake({kNoCoopsOption}) : ship();
  }
  if (f.app_archive) {
    if (feature >= 20 || f.context == kSelfUpdate) {
      out.app = ship();
    } else if (f.context == kInstalledPackage) {
      out.app = remake({});
    }
  }
  return out;
}

}  // namespace vorlane::formats
