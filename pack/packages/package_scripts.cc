#include "pack/packages/package_scripts.h"

#include "pack/core/strings.h"
#include "pack/packages/templates.h"

namespace vorlane::packages {

std::string archive_dump_command(const PackageInfo& info) {
  if (info.class_list.empty()) return "";
  const std::string dir = info.install_dir + "/";
  std::string line = fill(templates::AppDumpSh{
      .archive = Value::text(dir + info.archive),
      .class_list = Value::text(dir + info.class_list),
      .class_path = Value::text(info.class_path),
      .java = Value::text(dir + "lib/runtime/bin/java"),
  });
  if (line.ends_with("\n")) line.pop_back();  // one line, without its break
  return line;
}

std::string install_dump_commands(const PackageInfo& info) {
  const std::string dir = info.install_dir + "/";
  std::string out;
  for (const PackageInfo::RuntimeDump& d : info.runtime_dumps) {
    out += fill(templates::RuntimeDumpSh{
        .archive = Value::text(dir + d.archive),
        .java = Value::text(dir + "lib/runtime/bin/java"),
        .option = Value::words(d.options),
    });
  }
  if (const std::string app = archive_dump_command(info); !app.empty()) out += app + "\n";
  // The runtime's dumps run beside the app's, each on a core of its own.
  if (!info.runtime_dumps.empty()) out += "wait\n";
  return out;
}

std::vector<std::string> install_made_archives(const PackageInfo& info) {
  std::vector<std::string> files;
  for (const PackageInfo::RuntimeDump& d : info.runtime_dumps) {
    files.push_back(info.install_dir + "/" + d.archive);
  }
  if (!info.class_list.empty()) files.push_back(info.install_dir + "/" + info.archive);
  return files;
}

std::string apt_keyring_path(const PackageInfo& info) {
  return "/usr/share/keyrings/" + info.name + "-archive-keyring.gpg";
}
std::string tree_keyring_path(const PackageInfo& info) {
  return info.install_dir + "/lib/" + info.name + "-archive-keyring.gpg";
}
std::string apt_sources_path(const PackageInfo& info) {
  return "/etc/apt/sources.list.d/" + info.name + ".sources";
}
std::string yum_repo_path(const PackageInfo& info) {
  return "/etc/yum.repos.d/" + info.name + ".repo";
}
std::string rpm_key_path(const PackageInfo& info) {
  return "/etc/pki/rpm-gpg/RPM-GPG-KEY-" + info.name;
}

std::string apt_sources(const PackageInfo& info) {
  return "Types: deb\nURIs: " + info.update_site + "\nSuites: " + info.update_channel +
         "\nComponents: main\nArchitectures: " + info.arch.deb +
         "\nSigned-By: " + apt_keyring_path(info) + "\n";
}

std::string yum_repo(const PackageInfo& info) {
  return "[" + info.name + "]\nname=" + info.name + " (" + info.update_channel +
         ")\nbaseurl=" + info.update_site + "/rpm/" + info.update_channel +
         "\nenabled=1\ngpgcheck=1\nrepo_gpgcheck=1\ngpgkey=file://" + rpm_key_path(info) + "\n";
}

namespace {

/// The .deb's part of following the update site: the keyring apt checks the
/// site with, then the source, unless the administrator opted out in
/// /etc/default/NAME (repo_add_once=false: our own source goes too) or
/// lists the site's address already, under any name. Nothing here fails the
/// install.
std::string apt_subscription(const PackageInfo& info) {
  return fill(templates::AptSubscribeSh{
      .apt_keyring = Value::text(apt_keyring_path(info)),
      .defaults = Value::text("/etc/default/" + info.name),
      .site = Value::text(info.update_site),
      .sources = Value::text(apt_sources_path(info)),
      .sources_name = Value::text(info.name + ".sources"),
      .source_lines = Value::words(split_lines(apt_sources(info))),
      .tree_keyring = Value::text(tree_keyring_path(info)),
  });
}

}  // namespace

std::string deb_postinst(const PackageInfo& info) {
  const std::string dumps = install_dump_commands(info);
  if (info.update_site.empty()) {
    return dumps.empty() ? ""
                         : fill(templates::DebPostinstArchivesSh{.dumps = Value::fragment(dumps)});
  }
  if (dumps.empty()) {
    return fill(templates::DebPostinstSiteSh{.name = Value::comment(info.name),
                                             .subscribe = Value::fragment(apt_subscription(info))});
  }
  return fill(templates::DebPostinstArchivesSiteSh{
      .dumps = Value::fragment(dumps),
      .name = Value::comment(info.name),
      .subscribe = Value::fragment(apt_subscription(info)),
  });
}

std::string deb_prerm(const PackageInfo& info) {
  const std::vector<std::string> made = install_made_archives(info);
  return made.empty() ? "" : fill(templates::DebPrermSh{.archives = Value::words(made)});
}

std::string deb_postrm(const PackageInfo& info) {
  const std::vector<std::string> made = install_made_archives(info);
  if (info.update_site.empty()) {
    return made.empty() ? "" : fill(templates::DebPostrmArchivesSh{.archives = Value::words(made)});
  }
  // Remove and upgrade keep the source and the keyring: the administrator's
  // choice of source stays.
  const Value keyring = Value::text(apt_keyring_path(info));
  const Value sources = Value::text(apt_sources_path(info));
  if (made.empty()) return fill(templates::DebPostrmSiteSh{.keyring = keyring, .sources = sources});
  return fill(templates::DebPostrmArchivesSiteSh{
      .archives = Value::words(made), .keyring = keyring, .sources = sources});
}

}  // namespace vorlane::packages
