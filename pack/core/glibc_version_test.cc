#include "pack/core/glibc_version.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vorlane {
namespace {

TEST(GlibcVersion, ReadsGlibcSymbolVersionsOnly) {
  const struct {
    const char* version;
    std::optional<GlibcVersion> glibc;
  } cases[] = {
      {"GLIBC_2.34", GlibcVersion{2, 34}},
      {"GLIBC_2.2.5", GlibcVersion{2, 2, 5}},
      {"GLIBC_2.17", GlibcVersion{2, 17}},
      {"GLIBC_PRIVATE", std::nullopt},
      {"GLIBC_2", std::nullopt},
      {"GLIBC_2.", std::nullopt},
      {"GLIBC_2.3.4.5", std::nullopt},
      {"GLIBC_2.34x", std::nullopt},
      {"GLIBC_-2.3", std::nullopt},
      {"GLIBC_99999.1", std::nullopt},
      {"GCC_3.0", std::nullopt},
      {"SUNWprivate_1.1", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(glibc_version_of(c.version), c.glibc) << c.version;
  }
}

TEST(GlibcVersion, HighestComparesNumbersNotText) {
  const std::vector<NeededVersion> needed = {
      {"libc.so.6", "GLIBC_2.2.5"},   {"libc.so.6", "GLIBC_2.9"},
      {"libgcc_s.so.1", "GCC_12.0"},  {"libc.so.6", "GLIBC_2.17"},
      {"libc.so.6", "GLIBC_PRIVATE"}, {"libpthread.so.0", "GLIBC_2.3.2"}};
  ASSERT_EQ(highest_glibc(needed), (GlibcVersion{2, 17}));
  EXPECT_EQ(highest_glibc(needed)->text(), "2.17");
  EXPECT_EQ((GlibcVersion{2, 2, 5}).text(), "2.2.5");
  EXPECT_EQ(highest_glibc({{"libjvm.so", "SUNWprivate_1.1"}}), std::nullopt);
}

TEST(GlibcSystems, TheOnesAFloorShutsOut) {
  const struct {
    GlibcVersion floor;
    std::vector<std::string> shut_out;
  } cases[] = {
      {{2, 17}, {}},
      {{2, 28}, {}},
      {{2, 29}, {"RHEL 8"}},
      {{2, 34}, {"RHEL 8", "Debian 11", "Ubuntu 20.04", "SLES 15", "openSUSE Leap 15"}},
      {{2, 36},
       {"RHEL 8", "Debian 11", "Ubuntu 20.04", "SLES 15", "openSUSE Leap 15", "RHEL 9",
        "Ubuntu 22.04", "Linux Mint 21", "Pop!_OS 22.04"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(systems_before(c.floor), c.shut_out) << c.floor.text();
  }
  // Oldest first, so a list cut short names the oldest.
  const auto systems = glibc_systems();
  EXPECT_TRUE(std::is_sorted(systems.begin(), systems.end(),
                             [](const auto& a, const auto& b) { return a.glibc < b.glibc; }));
}

TEST(GlibcSystems, WhatAFloorRunsOn) {
  const struct {
    GlibcVersion floor;
    const char* runs_on;
  } cases[] = {
      {{2, 2, 5}, "Debian 11+, Ubuntu 20.04+, Fedora 37+, RHEL 8+"},
      {{2, 17}, "Debian 11+, Ubuntu 20.04+, Fedora 37+, RHEL 8+"},
      {{2, 28}, "Debian 11+, Ubuntu 20.04+, Fedora 37+, RHEL 8+"},
      {{2, 31}, "Debian 11+, Ubuntu 20.04+, Fedora 37+, RHEL 9+"},
      {{2, 34}, "Debian 12+, Ubuntu 22.04+, Fedora 37+, RHEL 9+"},
      {{2, 36}, "Debian 12+, Ubuntu 24.04+, Fedora 37+, RHEL 10+"},
      // Debian's newest suite (JDK 26 and 27): no maintained RHEL 9 or older.
      {{2, 38}, "Debian 13+, Ubuntu 24.04+, Fedora 39+, RHEL 10+"},
      {{2, 41}, "Debian 13+, Fedora 42+"},
      {{2, 99}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(systems_from(c.floor), c.runs_on) << c.floor.text();
}

}  // namespace
}  // namespace vorlane
