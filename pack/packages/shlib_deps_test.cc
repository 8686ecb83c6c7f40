#include "pack/packages/shlib_deps.h"

#include <gtest/gtest.h>

namespace vorlane::packages {
namespace {

TEST(ShlibDeps, ReadsNeededAndSonameFromReadelf) {
  const ElfDynamic d = parse_readelf_dynamic(
      "Dynamic section at offset 0x1d8 contains 3 entries:\n"
      "  Tag        Type                         Name/Value\n"
      " 0x0000000000000001 (NEEDED)             Shared library: [libX11.so.6]\n"
      " 0x0000000000000001 (NEEDED)             Shared library: [libjvm.so]\n"
      " 0x000000000000000e (SONAME)             Library soname: [libawt_xawt.so]\n"
      " 0x000000000000000f (RPATH)              Library rpath: [$ORIGIN]\n");
  EXPECT_EQ(d.needed, (std::vector<std::string>{"libX11.so.6", "libjvm.so"}));
  EXPECT_EQ(d.soname, "libawt_xawt.so");
  EXPECT_TRUE(
      parse_readelf_dynamic("\nThere is no dynamic section in this file.\n").needed.empty());
}

TEST(ShlibDeps, MapsSonamesThroughShlibsAndSymbols) {
  ShlibsMap map;
  map.add_shlibs(
      "libX11 6 libx11-6 (>= 2:1.6.0)\n"
      "udeb: libX11 6 libx11-6-udeb (>= 2:1.6.0)\n"
      "libatk-1.0 0 libatk1.0-0 (>= 1.12.4)\n"
      "libfoo 1.2 libfoo1.2\n"
      "libc 6 libc6:arm64 (>= 2.36)\n");
  map.add_symbols(
      "libasound.so.2 libasound2 #MINVER#\n"
      "* Build-Depends-Package: libasound2-dev\n"
      " ALSA_0.9.0@ALSA_0.9.0 1.0.16\n"
      "libX11.so.6 libx11-6 #MINVER#\n");
  struct Case {
    std::string soname;
    std::string dep;
  };
  const Case cases[] = {
      {"libX11.so.6", "libx11-6 (>= 2:1.6.0)"},  // shlibs wins over symbols
      {"libatk-1.0.so.0", "libatk1.0-0 (>= 1.12.4)"},
      {"libfoo-1.2.so", "libfoo1.2"},
      {"libasound.so.2", "libasound2"},
      {"libxyz.so.1", ""},
      {"libc.so.6", ""},  // only a cross toolchain's package named it
      {"ALSA_0.9.0@ALSA_0.9.0", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(map.find(c.soname), c.dep) << c.soname;

  const DependencyResult r =
      map_dependencies({"libX11.so.6", "libasound.so.2", "libjvm.so", "libxyz.so.1"}, {"libjvm.so"},
                       map, "()(64bit)");
  EXPECT_EQ(r.deb_depends, (std::vector<std::string>{"libasound2", "libx11-6 (>= 2:1.6.0)"}));
  EXPECT_EQ(r.rpm_requires,
            (std::vector<std::string>{"libX11.so.6()(64bit)", "libasound.so.2()(64bit)",
                                      "libxyz.so.1()(64bit)"}));
  EXPECT_EQ(r.missing, (std::vector<std::string>{"libxyz.so.1"}));
  EXPECT_EQ(dlopened_libraries({"libjava.so", "libfontmanager.so"}),
            (std::set<std::string>{"libfontconfig.so.1"}));
  EXPECT_TRUE(dlopened_libraries({"libjava.so"}).empty());
  EXPECT_EQ(rpm_dependency("default-jre-headless (>= 2:1.17) | java-runtime"),
            "(default-jre-headless >= 2:1.17 or java-runtime)");
  EXPECT_EQ(dlopened_libraries({"libjava.so", "libfontmanager.so"}),
            (std::set<std::string>{"libfontconfig.so.1"}));
  EXPECT_TRUE(dlopened_libraries({"libjava.so"}).empty());
  EXPECT_EQ(rpm_dependency("libfoo (<< 3)"), "libfoo < 3");
  EXPECT_EQ(merge_dependencies({"b", "a"}, {"c, a", " d ,"}),
            (std::vector<std::string>{"a", "b", "c", "d"}));
}

}  // namespace
}  // namespace vorlane::packages
