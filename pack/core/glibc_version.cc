#include "pack/core/glibc_version.h"

#include <charconv>

namespace vorlane {

std::string GlibcVersion::text() const {
  std::string out = std::to_string(major) + "." + std::to_string(minor);
  if (patch != 0) {
    out += '.';
    out += std::to_string(patch);
  }
  return out;
}

std::optional<GlibcVersion> glibc_version_of(std::string_view symbol_version) {
  constexpr std::string_view kPrefix = "GLIBC_";
  if (!symbol_version.starts_with(kPrefix)) return std::nullopt;
  std::string_view rest = symbol_version.substr(kPrefix.size());
  // Two or three numbers of at most four digits, split by dots.
  int parts[3] = {0, 0, 0};
  int count = 0;
  while (count < 3) {
    if (rest.empty() || rest.front() < '0' || rest.front() > '9') return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    const auto digits = static_cast<std::size_t>(end - rest.data());
    if (error != std::errc() || digits == 0 || digits > 4) return std::nullopt;
    parts[count++] = value;
    rest.remove_prefix(digits);
    if (rest.empty()) break;
    if (rest.front() != '.') return std::nullopt;
    rest.remove_prefix(1);
  }
  if (!rest.empty() || count < 2) return std::nullopt;
  return GlibcVersion{parts[0], parts[1], parts[2]};
}

std::optional<GlibcVersion> highest_glibc(const std::vector<NeededVersion>& needed) {
  std::optional<GlibcVersion> highest;
  for (const NeededVersion& entry : needed) {
    const std::optional<GlibcVersion> version = glibc_version_of(entry.version);
    if (version && (!highest || *version > *highest)) highest = version;
  }
  return highest;
}

std::string GlibcSystem::name() const { return std::string(family) + " " + std::string(release); }

std::span<const GlibcSystem> glibc_systems() {
  // Measured or taken from each release's own glibc package (December 2026).
  static constexpr GlibcSystem kSystems[] = {
      {{2, 28}, "RHEL", "8"},       {{2, 31}, "Debian", "11"},        {{2, 31}, "Ubuntu", "20.04"},
      {{2, 31}, "SLES", "15"},      {{2, 31}, "openSUSE Leap", "15"}, {{2, 34}, "RHEL", "9"},
      {{2, 35}, "Ubuntu", "22.04"}, {{2, 35}, "Linux Mint", "21"},    {{2, 35}, "Pop!_OS", "22.04"},
      {{2, 36}, "Debian", "12"},    {{2, 36}, "Fedora", "37"},        {{2, 37}, "Fedora", "38"},
      {{2, 38}, "Fedora", "39"},    {{2, 39}, "Ubuntu", "24.04"},     {{2, 39}, "Fedora", "40"},
      {{2, 39}, "RHEL", "10"},      {{2, 40}, "Fedora", "41"},        {{2, 41}, "Debian", "13"},
      {{2, 41}, "Fedora", "42"},
  };
  return kSystems;
}

std::vector<std::string> systems_before(GlibcVersion floor) {
  std::vector<std::string> names;
  for (const GlibcSystem& system : glibc_systems()) {
    if (system.glibc < floor) names.push_back(system.name());
  }
  return names;
}

std::string systems_from(GlibcVersion floor) {
  std::string out;
  for (const std::string_view family : {"Debian", "Ubuntu", "Fedora", "RHEL"}) {
    // The table is oldest first: the first release that reaches the floor.
    for (const GlibcSystem& system : glibc_systems()) {
      if (system.family != family || system.glibc < floor) continue;
      if (!out.empty()) out += ", ";
      out += system.name() + "+";
      break;
    }
  }
  return out;
}

}  // namespace vorlane
