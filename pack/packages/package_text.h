// The texts inside a package of an app tree: Debian control file, RPM spec,
// desktop entry, AppStream metadata, MIME type definitions, maintainer
// scripts, and the checks on the values that go into them. No file system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/core/error.h"

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

/// One file type the app opens.
struct FileAssociation {
  std::string extension;  ///< without the dot
  std::string mime_type;
  std::string description;
  std::string icon;  ///< a PNG or SVG file; may be empty
  /// A type the system defines (text/plain): the app opens it, but the
  /// package neither defines it nor gives it an icon.
  bool system_type = false;
};

/// Reads `--file-association`'s value: "extension=vnote,mime-type=...,
/// description=...,icon=..." or the text of a file of KEY=VALUE lines.
/// A bad-input error when a key is unknown or extension or MIME type is
/// missing or malformed.
Result<FileAssociation> parse_file_association(const std::string& text);

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
    std::string archive;  ///< relative to the install dir
    std::string option;   ///< "" or the JVM option it is made for (-XX:-UseCompressedOops)
  };
  std::vector<RuntimeDump> runtime_dumps;
};

/// Refuses a `version` that cannot be the upstream version of both a .deb and an .rpm: it starts
/// with a digit and holds only letters, digits,
/// '.', '+' and '~'.
Status check_version(const std::string& version);
/// The same for a release (Debian revision, RPM release).
Status check_release(const std::string& release);
/// Why `name` cannot be a Debian and RPM package name .
Status check_package_name(const std::string& name);
/// Why `dir` cannot be the install dir : absolute, normal, not /.
Status check_install_dir(const std::string& dir);
/// Why `maintainer` is not "Name <address>" .
Status check_maintainer(const std::string& maintainer);
/// Why `scheme` is no URL scheme the desktop entry can handle: RFC 3986's
/// ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ), in lower case (schemes are
/// case-insensitive, and the desktop's x-scheme-handler types are lower
/// case); "file" and the schemes of the web are refused, as taking them
/// would take every link or file from the user's other programs.
Status check_url_scheme(const std::string& scheme);
/// Why `id` is no reverse-DNS app id (at least two parts, letters, digits, '_', '.').
Status check_app_id(const std::string& id);

/// The StartupWMClass an AWT/Swing window of `main_class` gets: its name
/// with dots turned into dashes.
std::string default_wm_class(const std::string& main_class);
/// The app id when none is given: the main class's package (when it has two
/// parts or more) and the name, otherwise "app." and the name; '-' becomes '_'.
std::string default_app_id(const std::string& main_class, const std::string& name);
/// Refuses a desktop menu category that the freedesktop menu rules do not
/// register (or that is no X-Vendor-Name extension), naming it.
Status check_category(const std::string& category);

/// Whether `mime_type` is one the package may define itself: an
/// unregistered (x-) or vendor (vnd., prs.) subtype that `known` (the
/// system's shared MIME database's types) does not already hold.
bool is_own_mime_type(const std::string& mime_type, const std::vector<std::string>& known);

/// Menu categories from "Office;Viewer" or "Office,Viewer"; empty entries dropped.
std::vector<std::string> split_categories(const std::string& text);

/// NAME_VERSION-RELEASE_ARCH.deb, NAME-VERSION-RELEASE.ARCH.rpm, NAME-VERSION-linux-ARCH.tar.gz.
std::string package_file_name(const PackageInfo& info, PackageType type);

/// The days since 1970 as YYYY-MM-DD and as an RFC 2822 / RPM changelog date.
std::string iso_date(std::int64_t epoch);
std::string rfc2822_date(std::int64_t epoch);
std::string rpm_changelog_date(std::int64_t epoch);

std::string deb_control(const PackageInfo& info);
std::string deb_copyright(const PackageInfo& info);
std::string deb_changelog(const PackageInfo& info);
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

/// The shell command (one line) that dumps the class-data archive at the
/// installed paths; empty when there is none to make.
std::string archive_dump_command(const PackageInfo& info);
/// The post-install step's commands, one a line: the runtime's archives,
/// in the background, beside the app's, then a wait for them. A failed dump
/// removes its file and fails no install.
std::string install_dump_commands(const PackageInfo& info);
/// Every file those commands make, as installed paths.
std::vector<std::string> install_made_archives(const PackageInfo& info);

/// A class list as the JVM wrote it (-XX:DumpLoadedClassList) in an order
/// that does not depend on the run's timing, so packages stay reproducible:
/// comments, then the built-in loaders' classes sorted, then the @ lines
/// sorted; lines with ids (classes of other loaders, which refer to earlier
/// ids) keep their order at the end.
std::string normalize_class_list(const std::string& text);

/// `text` for an RPM spec, where rpmbuild expands macros: each '%' doubled.
std::string rpm_escape(const std::string& text);

/// `text` as a desktop entry's string value: backslash, tab and the leading
/// space escaped (\\, \t, \s). Line breaks are refused before.
std::string desktop_escape(const std::string& text);

/// Refuses a value `what` (an option's name) that holds a control
/// character; a line break too unless `multi_line`, where a tab is also
/// accepted. No package format escapes those.
Status check_text(const std::string& what, const std::string& value, bool multi_line);

/// Refuses a description any of whose lines, blanks at its ends dropped,
/// starts with '%': rpmbuild reads such a line as a section or a macro
/// line whatever its escapes, so an .rpm cannot say it.
Status check_rpm_description(const std::string& what, const std::string& text);

/// Refuses a Debian section that is not lower-case letters, digits, '+',
/// '-', '.' and at most one '/' (contrib/utils).
Status check_section(const std::string& section);

}  // namespace vorlane::packages
