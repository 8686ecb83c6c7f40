// The maintainer scripts of a package (the .deb's postinst, prerm and
// postrm; the .rpm's %post is install_dump_commands), filled from the
// templates in pack/packages/templates/, and the files by which an installed
// package follows its update site. No file system.
#pragma once

#include <string>
#include <vector>

#include "pack/packages/package_text.h"

namespace vorlane::packages {

/// postinst, prerm, postrm: empty when the package needs none.
std::string deb_postinst(const PackageInfo& info);
std::string deb_prerm(const PackageInfo& info);
std::string deb_postrm(const PackageInfo& info);

/// Where the .deb's postinst puts the update site's keyring, which its
/// apt source names in Signed-By, and the copy in the tree it takes it from.
std::string apt_keyring_path(const PackageInfo& info);
std::string tree_keyring_path(const PackageInfo& info);
/// The deb822 apt source of the update site that postinst writes.
std::string apt_sources(const PackageInfo& info);
std::string apt_sources_path(const PackageInfo& info);
/// The .rpm's repository file for dnf and yum, and where it and the key go.
std::string yum_repo(const PackageInfo& info);
std::string yum_repo_path(const PackageInfo& info);
std::string rpm_key_path(const PackageInfo& info);

/// The shell command (one line) that dumps the class-data archive at the
/// installed paths; empty when there is none to make.
std::string archive_dump_command(const PackageInfo& info);
/// The post-install step's commands, one a line: the runtime's archives,
/// in the background, beside the app's, then a wait for them. A failed dump
/// removes its file and fails no install.
std::string install_dump_commands(const PackageInfo& info);
/// Every file those commands make, as installed paths.
std::vector<std::string> install_made_archives(const PackageInfo& info);

}  // namespace vorlane::packages
