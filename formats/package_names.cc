#include "formats/package_names.h"

#include <array>

namespace vorlane::formats {

namespace {

constexpr std::array<Arch, 2> kArches = {{
    {62, "amd64", "x86_64", "()(64bit)"},    // EM_X86_64
    {183, "arm64", "aarch64", "()(64bit)"},  // EM_AARCH64
}};

constexpr std::string_view kKindNames[] = {"deb", "rpm", "tar.gz"};

template <class Match>
std::optional<Arch> find_arch(Match match) {
  for (const Arch& a : kArches) {
    if (match(a)) return a;
  }
  return std::nullopt;
}

}  // namespace

std::string_view package_kind_name(PackageKind kind) { return kKindNames[static_cast<int>(kind)]; }

std::optional<PackageKind> package_kind_from_name(std::string_view name) {
  for (int i = 0; i < 3; ++i) {
    if (name == kKindNames[i]) return static_cast<PackageKind>(i);
  }
  return std::nullopt;
}

std::optional<Arch> arch_of_machine(std::uint16_t elf_machine) {
  return find_arch([&](const Arch& a) { return a.elf_machine == elf_machine; });
}
std::optional<Arch> arch_of_deb(std::string_view deb) {
  return find_arch([&](const Arch& a) { return a.deb == deb; });
}
std::optional<Arch> arch_of_rpm(std::string_view rpm) {
  return find_arch([&](const Arch& a) { return a.rpm == rpm; });
}

std::string package_file_name(PackageKind kind, std::string_view name, std::string_view version,
                              std::string_view deb_arch) {
  const std::optional<Arch> arch = arch_of_deb(deb_arch);
  const std::string rpm(arch ? arch->rpm : deb_arch);
  const std::string n(name);
  const std::string v(version);
  switch (kind) {
    case PackageKind::kDeb:
      return n + "_" + v + "_" + std::string(deb_arch) + ".deb";
    case PackageKind::kRpm:
      return n + "-" + v + "." + rpm + ".rpm";
    case PackageKind::kTarGz:
      return n + "-" + v + "-linux-" + rpm + ".tar.gz";
  }
  return "";
}

std::optional<TarballName> parse_tarball_name(std::string_view file) {
  if (!file.ends_with(".tar.gz")) return std::nullopt;
  const std::string_view stem = file.substr(0, file.size() - 7);
  const std::size_t linux_at = stem.rfind("-linux-");
  std::size_t version_at = std::string_view::npos;
  for (std::size_t i = 1; linux_at != std::string_view::npos && i + 1 < linux_at; ++i) {
    if (stem[i] == '-' && stem[i + 1] >= '0' && stem[i + 1] <= '9') {
      version_at = i;
      break;
    }
  }
  if (version_at == std::string_view::npos) return std::nullopt;
  const std::string_view machine = stem.substr(linux_at + 7);
  const std::optional<Arch> arch = arch_of_rpm(machine);
  return TarballName{std::string(stem.substr(0, version_at)),
                     std::string(stem.substr(version_at + 1, linux_at - version_at - 1)),
                     std::string(arch ? arch->deb : machine)};
}

}  // namespace vorlane::formats
