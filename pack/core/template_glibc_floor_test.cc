// The launcher template every app ships as bin/NAME needs no glibc newer than
// the oldest maintained desktop's (RHEL 8: 2.28), so it never raises an app's
// floor. Read with the packer's own ELF reader, from the template this build
// made; the AArch64 build runs it on its template through the host's test
// program (VORLANE_TEMPLATE and VORLANE_TEMPLATE_OLD_GLIBC in the
// environment).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "pack/core/elf_section.h"
#include "pack/core/files.h"
#include "pack/core/glibc_version.h"

namespace vorlane {
namespace {

std::string setting(const char* name, const char* built_in) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : built_in;
}

TEST(TemplateGlibcFloor, NeedsNoGlibcAbove2_28) {
  const std::string path = setting("VORLANE_TEMPLATE", VORLANE_TEMPLATE_PATH);
  if (setting("VORLANE_TEMPLATE_OLD_GLIBC", VORLANE_TEMPLATE_OLD_GLIBC) != "1") {
    GTEST_SKIP() << path << " links against the build machine's glibc (no scripts/glibc-sysroot)";
  }
  const auto image = read_file(path);
  ASSERT_TRUE(image) << image.error().message;
  const auto needed = needed_versions(*image);
  ASSERT_TRUE(needed) << path << ": " << needed.error().message;
  const auto highest = highest_glibc(*needed);
  // A template that needs no glibc symbol version at all would be a broken link.
  ASSERT_TRUE(highest) << path << " needs no glibc symbol version";
  std::string too_new;
  for (const NeededVersion& entry : *needed) {
    const auto version = glibc_version_of(entry.version);
    if (version && *version > GlibcVersion{2, 28}) too_new += " " + entry.version;
  }
  EXPECT_LE(*highest, (GlibcVersion{2, 28})) << path << " needs" << too_new;
}

}  // namespace
}  // namespace vorlane
