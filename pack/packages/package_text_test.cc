#include "pack/packages/package_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "pack/packages/package_scripts.h"

namespace vorlane::packages {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

PackageInfo sample() {
  PackageInfo info;
  info.name = "vorlane-notes";
  info.launcher = "vorlane-notes";
  info.version = "1.2";
  info.release = "3";
  info.arch = *architecture_of(183);
  info.summary = "Shows notes";
  info.long_description = "First paragraph\ngoes on.\n\nSecond <one>.";
  info.maintainer = "Ann <ann@example.org>";
  info.install_dir = "/opt/vorlane-notes";
  info.app_id = "org.example.Notes";
  info.wm_class = "notes-Main";
  info.has_icon = true;
  info.file_associations = {{"vnote", "application/x-vorlane-note", "Vorlane note", "n.svg"}};
  info.deb_depends = {"libc6 (>= 2.36)", "libx11-6"};
  info.rpm_requires = {"libX11.so.6()(64bit)"};
  info.source_date_epoch = 1700000000;  // Tue, 14 Nov 2023 22:13:20 UTC
  info.installed_kib = 42;
  return info;
}

TEST(PackageText, NamesFilesByFormatAndArchitecture) {
  const PackageInfo info = sample();
  EXPECT_EQ(package_file_name(info, PackageType::kDeb), "vorlane-notes_1.2-3_arm64.deb");
  EXPECT_EQ(package_file_name(info, PackageType::kRpm), "vorlane-notes-1.2-3.aarch64.rpm");
  EXPECT_EQ(package_file_name(info, PackageType::kTarGz), "vorlane-notes-1.2-linux-aarch64.tar.gz");
  EXPECT_EQ(architecture_of(62)->deb, "amd64");
  EXPECT_FALSE(architecture_of(40).has_value());
  EXPECT_EQ(rfc2822_date(1700000000), "Tue, 14 Nov 2023 22:13:20 +0000");
  EXPECT_EQ(rpm_changelog_date(1700000000), "Tue Nov 14 2023");
  EXPECT_EQ(iso_date(1700000000), "2023-11-14");
}

TEST(PackageText, WritesControlDesktopAndMetadata) {
  const PackageInfo info = sample();
  EXPECT_EQ(deb_control(info),
            "Package: vorlane-notes\nVersion: 1.2-3\nArchitecture: arm64\n"
            "Maintainer: Ann <ann@example.org>\nInstalled-Size: 42\n"
            "Depends: libc6 (>= 2.36), libx11-6\nSection: misc\nPriority: optional\n"
            "Description: Shows notes\n First paragraph\n goes on.\n .\n Second <one>.\n");
  const std::string desktop = desktop_entry(info);
  EXPECT_THAT(desktop, HasSubstr("Exec=/usr/bin/vorlane-notes %f\n"));
  EXPECT_THAT(desktop, HasSubstr("Icon=org.example.Notes\n"));
  EXPECT_THAT(desktop, HasSubstr("StartupWMClass=notes-Main\n"));
  EXPECT_THAT(desktop, HasSubstr("MimeType=application/x-vorlane-note;\n"));
  EXPECT_THAT(desktop, HasSubstr("Categories=Utility;\n"));
  const std::string meta = metainfo(info);
  EXPECT_THAT(meta, HasSubstr("<p>First paragraph goes on.</p>"));
  EXPECT_THAT(meta, HasSubstr("<p>Second &lt;one&gt;.</p>"));
  EXPECT_THAT(meta,
              HasSubstr("<launchable type=\"desktop-id\">org.example.Notes.desktop</launchable>"));
  EXPECT_THAT(meta, HasSubstr("<release version=\"1.2\" date=\"2023-11-14\"/>"));
  EXPECT_THAT(mime_xml(info), HasSubstr("<glob pattern=\"*.vnote\"/>"));
  EXPECT_THAT(mime_xml(info), HasSubstr("<icon name=\"application-x-vorlane-note\"/>"));
  PackageInfo plain = info;
  plain.file_associations.clear();
  EXPECT_EQ(mime_xml(plain), "");
  EXPECT_THAT(desktop_entry(plain), HasSubstr("Exec=/usr/bin/vorlane-notes\n"));
  EXPECT_THAT(desktop_entry(plain), Not(HasSubstr("MimeType")));
  // A URL scheme: Exec takes %u, which carries files too; the scheme's
  // handler type follows the file types.
  PackageInfo links = info;
  links.url_schemes = {"vnote", "vnote+beta"};
  EXPECT_THAT(desktop_entry(links), HasSubstr("Exec=/usr/bin/vorlane-notes %u\n"));
  EXPECT_THAT(desktop_entry(links),
              HasSubstr("MimeType=application/x-vorlane-note;x-scheme-handler/vnote;"
                        "x-scheme-handler/vnote+beta;\n"));
  EXPECT_EQ(mime_xml(links), mime_xml(info));  // a scheme is no file type to define
}

TEST(PackageText, NoValueChangesWhatTheDesktopEntryOrTheSpecSays) {
  PackageInfo info = sample();
  info.name = "my notes";
  info.summary = "Notes\nExec=evil";
  const std::string desktop = desktop_entry(info);
  EXPECT_THAT(desktop, HasSubstr("\nExec=\"/usr/bin/my notes\" %f\n"));
  EXPECT_THAT(desktop, HasSubstr("\nComment=Notes\\nExec=evil\n"));
  info.summary = "100%{?x}";
  EXPECT_THAT(rpm_spec(info, "/s", {}), HasSubstr("\nSummary: 100%%{?x}\n"));
}

TEST(PackageText, MaintainerScriptsOnlyWhenAnArchiveIsMadeAtInstallTime) {
  PackageInfo info = sample();
  EXPECT_EQ(deb_postinst(info), "");
  EXPECT_EQ(deb_prerm(info), "");
  EXPECT_THAT(rpm_spec(info, "/s", {"/opt/vorlane-notes"}), Not(HasSubstr("%post")));
  info.class_list = "lib/app/vorlane-app.classlist";
  info.archive = "lib/app/vorlane-app.jsa";
  info.class_path = "/opt/vorlane-notes/lib/app/notes.jar";
  const std::string dump =
      "'/opt/vorlane-notes/lib/runtime/bin/java' -Xshare:dump "
      "-XX:SharedClassListFile='/opt/vorlane-notes/lib/app/vorlane-app.classlist' "
      "-XX:SharedArchiveFile='/opt/vorlane-notes/lib/app/vorlane-app.jsa' "
      "-cp '/opt/vorlane-notes/lib/app/notes.jar' >/dev/null 2>&1 || "
      "rm -f '/opt/vorlane-notes/lib/app/vorlane-app.jsa'";
  EXPECT_EQ(archive_dump_command(info), dump);
  EXPECT_THAT(deb_postinst(info), HasSubstr("if [ \"$1\" = configure ]; then\n  " + dump));
  EXPECT_THAT(deb_prerm(info), HasSubstr("rm -f '/opt/vorlane-notes/lib/app/vorlane-app.jsa'"));
  const std::string spec =
      rpm_spec(info, "/stage/root", {"/opt/vorlane-notes", "/usr/bin/vorlane-notes"});
  EXPECT_THAT(spec, HasSubstr("AutoReqProv: no\nRequires: libX11.so.6()(64bit)\n"));
  EXPECT_THAT(spec, HasSubstr("cp -a '/stage/root'/. %{buildroot}/"));
  EXPECT_THAT(spec,
              HasSubstr("%ghost %attr(0644,root,root) /opt/vorlane-notes/lib/app/vorlane-app.jsa"));
  EXPECT_THAT(spec, HasSubstr("%post\n" + dump));
  EXPECT_THAT(spec, HasSubstr("* Tue Nov 14 2023 Ann <ann@example.org> - 1.2-3"));
}

TEST(PackageText, FollowsTheUpdateSiteOnlyWhereTheAdministratorLetsIt) {
  PackageInfo info = sample();
  info.update_site = "https://apps.example.org/notes";
  info.update_channel = "beta";
  info.update_key = "-----BEGIN PGP PUBLIC KEY BLOCK-----\n";
  EXPECT_EQ(
      apt_sources(info),
      "Types: deb\nURIs: https://apps.example.org/notes\nSuites: beta\nComponents: main\n"
      "Architectures: arm64\nSigned-By: /usr/share/keyrings/vorlane-notes-archive-keyring.gpg\n");
  EXPECT_EQ(yum_repo(info),
            "[vorlane-notes]\nname=vorlane-notes "
            "(beta)\nbaseurl=https://apps.example.org/notes/rpm/beta\n"
            "enabled=1\ngpgcheck=1\nrepo_gpgcheck=1\n"
            "gpgkey=file:///etc/pki/rpm-gpg/RPM-GPG-KEY-vorlane-notes\n");
  const std::string postinst = deb_postinst(info);
  EXPECT_THAT(postinst,
              HasSubstr("install -m 0644 '/opt/vorlane-notes/lib/vorlane-notes-archive-"
                        "keyring.gpg' '/usr/share/keyrings/vorlane-notes-archive-keyring.gpg'"));
  EXPECT_THAT(postinst,
              HasSubstr("repo_add_once=[\"'\\'']?false' '/etc/default/vorlane-notes'; "
                        "then\n    rm -f '/etc/apt/sources.list.d/vorlane-notes.sources'"));
  EXPECT_THAT(postinst, HasSubstr("grep -rqsF --exclude='vorlane-notes.sources' -e "
                                  "'https://apps.example.org/notes' /etc/apt/sources.list"));
  // Purge, and only purge, takes the source and the keyring.
  EXPECT_THAT(deb_postrm(info),
              HasSubstr("if [ \"$1\" = purge ]; then\n  rm -f "
                        "'/etc/apt/sources.list.d/vorlane-notes.sources' "
                        "'/usr/share/keyrings/vorlane-notes-archive-keyring.gpg'"));
  EXPECT_THAT(deb_postrm(info), Not(HasSubstr("= remove")));
  const std::string spec = rpm_spec(info, "/s", {"/opt/vorlane-notes"}, "/own");
  EXPECT_THAT(spec, HasSubstr("cp -a '/own'/. %{buildroot}/\n"));
  EXPECT_THAT(spec, HasSubstr("%config(noreplace) /etc/yum.repos.d/vorlane-notes.repo\n"
                              "/etc/pki/rpm-gpg/RPM-GPG-KEY-vorlane-notes\n"));
}

TEST(PackageText, RemakesTheRuntimesArchivesBeforeTheAppsAndRemovesThemAll) {
  PackageInfo info = sample();
  info.runtime_dumps = {{"lib/runtime/lib/server/classes.jsa", {}},
                        {"lib/runtime/lib/server/classes_nocoops.jsa", {"-XX:-UseCompressedOops"}}};
  const std::string java = "'/opt/vorlane-notes/lib/runtime/bin/java'";
  const std::string coops = "'/opt/vorlane-notes/lib/runtime/lib/server/classes.jsa'";
  const std::string nocoops = "'/opt/vorlane-notes/lib/runtime/lib/server/classes_nocoops.jsa'";
  const std::string dumps =
      java + " -Xshare:dump -XX:SharedArchiveFile=" + coops + " >/dev/null 2>&1 || rm -f " + coops +
      " &\n" + java + " '-XX:-UseCompressedOops' -Xshare:dump -XX:SharedArchiveFile=" + nocoops +
      " >/dev/null 2>&1 || rm -f " + nocoops + " &\n";
  EXPECT_EQ(install_dump_commands(info), dumps + "wait\n");
  info.class_list = "lib/app/vorlane-app.classlist";
  info.archive = "lib/app/vorlane-app.jsa";
  EXPECT_EQ(install_dump_commands(info), dumps + archive_dump_command(info) + "\nwait\n");
  const std::string all =
      "rm -f " + coops + " " + nocoops + " '/opt/vorlane-notes/lib/app/vorlane-app.jsa'";
  EXPECT_THAT(deb_postinst(info), HasSubstr("then\n  " + java + " -Xshare:dump"));
  EXPECT_THAT(deb_prerm(info), HasSubstr(all));
  EXPECT_THAT(deb_postrm(info), HasSubstr(all));
  const std::string spec = rpm_spec(info, "/s", {"/opt/vorlane-notes"});
  EXPECT_THAT(spec, HasSubstr("%ghost %attr(0644,root,root) "
                              "/opt/vorlane-notes/lib/runtime/lib/server/classes_nocoops.jsa\n"));
  EXPECT_THAT(spec, HasSubstr("%post\n" + dumps + archive_dump_command(info) + "\nwait\nexit 0\n"));
}

TEST(PackageText, PutsClassListsInAnOrderOfTheirOwn) {
  const std::string normal =
      "# made by the JVM\njava/lang/Object\nnotes/Main\n@lambda-proxy b\n@lambda-proxy c\n"
      "x/Custom id: 9 super: 0 source: a.jar\nx/Sub id: 10 super: 9 source: a.jar\n";
  EXPECT_EQ(normalize_class_list(normal), normal);
  EXPECT_EQ(
      normalize_class_list("# made by the JVM\n@lambda-proxy c\nnotes/Main\n"
                           "x/Custom id: 9 super: 0 source: a.jar\n@lambda-proxy b\n"
                           "java/lang/Object\nnotes/Main\nx/Sub id: 10 super: 9 source: a.jar\n"),
      normal);
}

}  // namespace
}  // namespace vorlane::packages
