#include "formats/package_names.h"

#include <gtest/gtest.h>

namespace vorlane::formats {
namespace {

TEST(PackageNames, OneArchitectureTableForEveryWord) {
  struct Row {
    std::uint16_t machine;
    std::string_view deb, rpm;
  };
  for (const Row& r : {Row{62, "amd64", "x86_64"}, Row{183, "arm64", "aarch64"}}) {
    const std::optional<Arch> by_machine = arch_of_machine(r.machine);
    ASSERT_TRUE(by_machine) << r.deb;
    EXPECT_EQ(by_machine->deb, r.deb);
    EXPECT_EQ(by_machine->rpm, r.rpm);
    EXPECT_EQ(by_machine->rpm_lib_suffix, "()(64bit)");
    EXPECT_EQ(arch_of_deb(r.deb)->elf_machine, r.machine);
    EXPECT_EQ(arch_of_rpm(r.rpm)->elf_machine, r.machine);
  }
  EXPECT_FALSE(arch_of_machine(40));  // 32-bit ARM
  EXPECT_FALSE(arch_of_deb("x86_64"));
  EXPECT_FALSE(arch_of_rpm("amd64"));
}

TEST(PackageNames, FileNamesAndTheTarballNameReadBack) {
  struct Row {
    PackageKind kind;
    std::string_view version, arch, want;
  };
  const Row rows[] = {
      {PackageKind::kDeb, "1.2-1", "amd64", "notes_1.2-1_amd64.deb"},
      {PackageKind::kRpm, "1.2-1", "arm64", "notes-1.2-1.aarch64.rpm"},
      {PackageKind::kTarGz, "1.2", "amd64", "notes-1.2-linux-x86_64.tar.gz"},
      {PackageKind::kTarGz, "1.2~rc1", "arm64", "notes-1.2~rc1-linux-aarch64.tar.gz"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(package_file_name(r.kind, "notes", r.version, r.arch), r.want);
    if (r.kind != PackageKind::kTarGz) continue;
    const std::optional<TarballName> back = parse_tarball_name(r.want);
    ASSERT_TRUE(back) << r.want;
    EXPECT_EQ(back->name, "notes");
    EXPECT_EQ(back->version, r.version);
    EXPECT_EQ(back->arch, r.arch);
  }
  // A name with a dash before its version, and a machine of no known word.
  const std::optional<TarballName> odd = parse_tarball_name("my-app-2.0-linux-riscv64.tar.gz");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->name, "my-app");
  EXPECT_EQ(odd->version, "2.0");
  EXPECT_EQ(odd->arch, "riscv64");
  for (const char* bad : {"notes-1.2-x86_64.tar.gz", "notes-linux-x86_64.tar.gz", "notes-1.2.tgz",
                          "-1-linux-x86_64.tar.gz"}) {
    EXPECT_FALSE(parse_tarball_name(bad)) << bad;
  }
}

TEST(PackageNames, KindNames) {
  for (PackageKind k : {PackageKind::kDeb, PackageKind::kRpm, PackageKind::kTarGz}) {
    EXPECT_EQ(package_kind_from_name(package_kind_name(k)), k);
  }
  EXPECT_FALSE(package_kind_from_name("tgz"));
}

}  // namespace
}  // namespace vorlane::formats
