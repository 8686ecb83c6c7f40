#include "pack/packages/package_checks.h"

#include <gtest/gtest.h>

namespace vorlane::packages {
namespace {

TEST(PackageChecks, ChecksValuesAgainstDebianAndRpmRules) {
  struct Case {
    Status (*check)(const std::string&);
    std::string value;
    bool ok;
  };
  const Case cases[] = {
      {check_version, "1.0", true},
      {check_version, "2.3~rc1+git5", true},
      {check_version, "1.0-2", false},
      {check_version, "v1.0", false},
      {check_version, "1:1.0", false},
      {check_version, "", false},
      {check_version, "1.0 beta", false},
      {check_release, "1", true},
      {check_release, "0.1~b", true},
      {check_release, "a1", false},
      {check_release, "1-2", false},
      {check_package_name, "vorlane-notes", true},
      {check_package_name, "a", false},
      {check_package_name, "Notes", false},
      {check_package_name, "-x", false},
      {check_package_name, "x_y", false},
      {check_install_dir, "/opt/notes", true},
      {check_install_dir, "opt/notes", false},
      {check_install_dir, "/", false},
      {check_install_dir, "/opt/../etc", false},
      {check_install_dir, "/opt/notes/", false},
      {check_install_dir, "/opt//n", false},
      {check_install_dir, "/opt/my app", false},
      {check_install_dir, "/opt/it's", false},
      {check_install_dir, "/usr/lib/notes", true},
      {check_install_dir, "/var/tmp/demo", false},
      {check_install_dir, "/tmp", false},
      {check_install_dir, "/dev/shm/demo", false},
      {check_install_dir, "/run/demo", false},
      {check_install_dir, "/home/ann/demo", false},
      {check_install_dir, "/etc/demo", false},
      {check_install_dir, "/opt", false},
      {check_install_dir, "/usr", false},
      {check_install_dir, "/usr/local", false},
      {check_install_dir, "/bin", false},
      {check_install_dir, "/lib", false},
      {check_install_dir, "/tmpfoo/x", true},
      {check_section, "misc", true},
      {check_section, "contrib/utils", true},
      {check_section, "misc\nPre-Depends: evil", false},
      {check_section, "Misc", false},
      {check_section, "a/b/c", false},
      {check_maintainer, "Ann Example <ann@example.org>", true},
      {check_maintainer, "ann@example.org", false},
      {check_maintainer, "<ann@example.org>", false},
      {check_maintainer, "Ann <example.org>", false},
      {check_app_id, "org.example.Notes", true},
      {check_app_id, "notes", false},
      {check_app_id, "org..x", false},
      {check_app_id, "org.ex-ample", false},
  };
  for (const Case& c : cases) {
    const Status checked = c.check(c.value);
    EXPECT_EQ(checked.ok(), c.ok) << c.value;
    if (!checked) {
      EXPECT_EQ(checked.error().kind, ErrorKind::kBadInput) << c.value;
    }
  }
}

TEST(PackageChecks, ParsesFileAssociations) {
  struct Case {
    std::string text;
    std::string extension;  // "" when refused
    std::string mime;
    std::string description;
  };
  const Case cases[] = {
      {"extension=vnote,mime-type=application/x-vorlane-note,description=Note", "vnote",
       "application/x-vorlane-note", "Note"},
      {"# a file\nextension=.vnote\nmime-type=text/x-note\n", "vnote", "text/x-note", "vnote file"},
      {"extension=vnote", "", "", ""},
      {"extension=vnote,mime-type=text", "", "", ""},
      {"extension=vnote,mime-type=a/b/c", "", "", ""},
      {"extension=v note,mime-type=a/b", "", "", ""},
      {"extension=vnote,mime-type=a/b,colour=red", "", "", ""},
      {"extension vnote", "", "", ""},
  };
  for (const Case& c : cases) {
    const Result<FileAssociation> fa = parse_file_association(c.text);
    ASSERT_EQ(fa.ok(), !c.extension.empty()) << c.text << ": " << (fa ? "" : fa.error().message);
    if (!fa) continue;
    EXPECT_EQ(fa->extension, c.extension);
    EXPECT_EQ(fa->mime_type, c.mime);
    EXPECT_EQ(fa->description, c.description);
  }
}

TEST(PackageChecks, DerivesNamesFromTheMainClass) {
  EXPECT_EQ(default_wm_class("notes.Main"), "notes-Main");
  EXPECT_EQ(default_wm_class("Main"), "Main");
  EXPECT_EQ(default_app_id("com.example.notes.Main", "vorlane-notes"),
            "com.example.notes.vorlane_notes");
  EXPECT_EQ(default_app_id("notes.Main", "vorlane-notes"), "app.vorlane_notes");
  EXPECT_EQ(split_categories("Office; Viewer,,Utility;"),
            (std::vector<std::string>{"Office", "Viewer", "Utility"}));
}

TEST(PackageChecks, UrlSchemes) {
  for (const char* good : {"vnote", "a", "x-my.app+1"}) EXPECT_TRUE(check_url_scheme(good)) << good;
  for (const char* bad : {"", "VNote", "1app", "-app", "my_app", "my app", "app:", "a/b", "file",
                          "https", "mailto"}) {
    EXPECT_FALSE(check_url_scheme(bad)) << bad;
  }
}

}  // namespace
}  // namespace vorlane::packages
