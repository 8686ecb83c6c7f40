// The options and probed facts of a plain `vorlane-pack package` run that
// the plan's tests change one part of.
#pragma once

#include <cstdint>

#include "pack/packages/package_plan.h"

namespace vorlane::packages::plan_fixture {

inline constexpr std::uint16_t kX86_64 = 62;

inline PackageOptions options() {
  PackageOptions o;
  o.app_dir = "/work/notes";
  o.types = {"deb,rpm", "tar.gz"};
  o.dest = "/work/out";
  o.maintainer = "Ann <ann@example.org>";
  return o;
}

inline PackageFacts facts() {
  PackageFacts f;
  TreeFacts tree;
  tree.launcher_name = "notes";
  tree.main_class = "org.example.notes.Main";
  tree.machine = kX86_64;
  tree.archive_name = "vorlane-app.jsa";
  tree.archive_kind = formats::ArchiveKind::kStaticLinked;
  f.tree = tree;
  f.host_machine = kX86_64;
  f.tools = {"/d", "/r", "/t", "/e", "/re", "/m", "/o", "", "/s", "/g"};
  f.elf = Result<ElfScan>(ElfScan{{"libc.so.6"}, {"libjvm.so"}});
  ShlibsMap shlibs;
  shlibs.add_shlibs("libc 6 libc6 (>= 2.36)\n");
  f.shlibs = {{std::string(kHostShlibsDir), Result<ShlibsMap>(shlibs)}};
  f.source_date_epoch = "1700000000";
  return f;
}

}  // namespace vorlane::packages::plan_fixture
