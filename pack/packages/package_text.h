// The texts inside a package of an app tree: Debian control file, RPM spec,
// desktop entry, AppStream metadata, MIME type definitions, maintainer
// scripts. The scripts, the spec, the desktop entry and the AppStream
// metadata are templates (pack/packages/templates/) filled by
// template_fill.h. No file system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/core/error.h"
#include "pack/packages/categories.h"
#include "pack/packages/package_checks.h"
#include "pack/packages/template_fill.h"

namespace vorlane::packages {

/// The package formats `vorlane-pack package` makes.
enum class PackageType { kDeb, kRpm, kTarGz };

/// "deb", "rpm", "tar.gz" -> the type; nullopt for anything else.
std::optional<PackageType> parse_package_type(const std::string& word);

/// The architecture names of an ELF machine for each package format.
struct Architecture {
  std::string deb;             ///< amd64, arm64
  std::string rpm;             ///< x86_64, aarch64 (also the .tar.gz's name part)
  std::string rpm_lib_suffix;  ///< "()(64bit)" for the soname requirements of 64-bit machines
};

/// Nullopt for a machine the packer makes no packages for.
std::optional<Architecture> architecture_of(std::uint16_t elf_machine);

/// Everything that describes the package, checked and filled in.
struct PackageInfo {
  std::string name;      ///< package name, also /usr/bin/NAME
  std::string launcher;  ///< the launcher's file name in bin/
  std::string version;   ///< upstream version
  std::string release = "1";
  Architecture arch;
  std::string summary;           ///< one line
  std::string long_description;  ///< paragraphs separated by empty lines
  std::string vendor;
  std::string maintainer;  ///< "Name <address>"
  std::string homepage;
  std::string license;    ///< the license's short name, for RPM and AppStream
  std::string copyright;  ///< "Copyright ..." line(s)
  std::string license_text;
  std::string install_dir;  ///< absolute, e.g. /opt/NAME
  std::string section = "misc";
  std::vector<std::string> categories = {"Utility"};
  std::string app_id;    ///< reverse-DNS id: ID.desktop, ID.metainfo.xml, icon name
  std::string wm_class;  ///< StartupWMClass
  /// The site `vorlane-pack publish` serves the app's releases from, which
  /// the installed package follows; empty when it follows none.
  std::string update_site;
  std::string update_channel = "stable";
  std::string update_key;  ///< the site's signing key, armored (KEY.asc)
  /// Whether the tree gets lib/vorlane-update.properties: it names an update
  /// site and holds the update library.
  bool install_record = false;
  /// The base64 of the site's Ed25519 feed key (DER SubjectPublicKeyInfo);
  /// when set, the tar.gz is laid out to update itself.
  std::string update_feed_key;
  bool has_icon = false;
  std::vector<FileAssociation> file_associations;
  /// Schemes of links the app opens (myapp for myapp://...), each an
  /// x-scheme-handler of the desktop entry.
  std::vector<std::string> url_schemes;
  std::vector<std::string> deb_depends;   ///< sorted, without duplicates
  std::vector<std::string> rpm_requires;  ///< sorted, without duplicates
  std::uint64_t installed_kib = 0;
  std::int64_t source_date_epoch = 0;
  /// The class list the post-install step dumps the archive from, relative
  /// to the install dir; empty when the package carries no such step.
  std::string class_list;
  std::string archive;     ///< the archive it dumps, relative to the install dir
  std::string class_path;  ///< the class path the archive is dumped for (installed paths)
  /// One of the runtime's own archives, which the post-install step remakes
  /// with `java [OPTION] -Xshare:dump` instead of the package carrying it.
  struct RuntimeDump {
    std::string archive;               ///< relative to the install dir
    std::vector<std::string> options;  ///< the JVM options it is made for (-XX:-UseCompressedOops)
  };
  std::vector<RuntimeDump> runtime_dumps;
};

/// NAME_VERSION-RELEASE_ARCH.deb, NAME-VERSION-RELEASE.ARCH.rpm, NAME-VERSION-linux-ARCH.tar.gz.
std::string package_file_name(const PackageInfo& info, PackageType type);

/// The days since 1970 as YYYY-MM-DD and as an RFC 2822 / RPM changelog date.
std::string iso_date(std::int64_t epoch);
std::string rfc2822_date(std::int64_t epoch);
std::string rpm_changelog_date(std::int64_t epoch);

std::string deb_control(const PackageInfo& info);
std::string deb_copyright(const PackageInfo& info);
std::string deb_changelog(const PackageInfo& info);

/// The spec for rpmbuild, whose %install copies `staged_root` whole, then
/// `rpm_root` (the .rpm's own files: its repository file and key). `files`
/// are the paths the package owns (files and the folders of its own).
std::string rpm_spec(const PackageInfo& info, const std::string& staged_root,
                     const std::vector<std::string>& files, const std::string& rpm_root = "");

/// The install record's place in the tree.
inline constexpr char kInstallRecordPath[] = "lib/vorlane-update.properties";
/// The install record: how the tree is installed (`type`), the package,
/// the update site and channel it follows, and the feed key when there is
/// one, as java.util.Properties lines.
std::string install_record(const PackageInfo& info, PackageType type);

std::string desktop_entry(const PackageInfo& info);
std::string metainfo(const PackageInfo& info);
/// Empty when the app has no file associations.
std::string mime_xml(const PackageInfo& info);
/// The icon name of a file type: its MIME type with '/' turned into '-'.
std::string mime_icon_name(const std::string& mime_type);

/// A class list as the JVM wrote it (-XX:DumpLoadedClassList) in an order
/// that does not depend on the run's timing, so packages stay reproducible:
/// comments, then the built-in loaders' classes sorted, then the @ lines
/// sorted; lines with ids (classes of other loaders, which refer to earlier
/// ids) keep their order at the end.
std::string normalize_class_list(const std::string& text);

}  // namespace vorlane::packages
