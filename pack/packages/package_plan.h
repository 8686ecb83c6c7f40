// What `vorlane-pack package` will make, decided from its options and the
// facts probed once from the tree, the files the options name and the
// environment, before anything is written.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pack/core/error.h"
#include "pack/image/glibc_floor.h"
#include "pack/packages/base_archives.h"
#include "pack/packages/icon.h"
#include "pack/packages/package_text.h"
#include "pack/packages/shlib_deps.h"
#include "pack/packages/tree_facts.h"

namespace vorlane::packages {

/// How hard the packages are compressed. kSmall, the default, gives what
/// users should download (xz -6 in the .deb and .rpm, gzip -9 for the
/// .tar.gz); kFast (xz -0, gzip -1) makes them several times quicker and
/// about a fifth larger, for packages made to be tried rather than shipped.
enum class Compression { kSmall, kFast };

/// The options of `vorlane-pack package`, as given.
struct PackageOptions {
  std::string app_dir;
  std::vector<std::string> types;  ///< "deb", "rpm", "tar.gz", or comma lists of them
  std::string dest;
  std::string package_name;  ///< default: the launcher's name
  std::string app_version = "1.0";
  std::string release = "1";
  std::string vendor;
  std::string description;
  std::string long_description;
  std::string long_description_file;
  std::string maintainer;
  std::string license_file;
  std::string license_type;
  std::string copyright;
  std::string homepage;
  std::string install_dir;  ///< default /opt/NAME
  std::string menu_group;   ///< desktop categories
  std::string section = "misc";
  std::string icon;
  std::string app_id;
  std::string wm_class;
  std::vector<std::string> file_associations;  ///< KEY=VALUE lists or files of them
  std::vector<std::string> url_schemes;        ///< schemes of links the app opens
  std::vector<std::string> package_deps;
  std::vector<std::string>
      shlibs_dirs;          ///< default: the host's dpkg database, for its architecture
  std::string emulator;     ///< default: $VORLANE_EMULATOR
  std::string update_site;  ///< the site's address, as `publish --base-url` gave it
  std::string update_key;   ///< the site's KEY.asc
  std::string update_channel = "stable";
  std::string update_feed_key;  ///< the site's feed-key.pub.pem
  Compression compression = Compression::kSmall;
  bool quiet = false;
};

/// The folder of dpkg's database, whose shlibs files serve the host's architecture.
inline constexpr char kHostShlibsDir[] = "/var/lib/dpkg/info";

using formats::kCoopsArchive;
using formats::kNoCoopsArchive;

/// The programs the packages may need, each its path or "" when not found.
struct PackageTools {
  std::string dpkg_deb, rpmbuild, tar, env, readelf, md5sum, objcopy, cross_objcopy, rsvg_convert,
      gpg;
};

/// What the file system and the environment say about the inputs: each
/// probed once, each a value or why it could not be had.
struct PackageFacts {
  Result<TreeFacts> tree = Error{};
  Status tree_contents = done();  ///< check_tree_contents
  bool launcher_has_debug_info = false;
  bool dest_inside_tree = false;       ///< --dest is the tree or a folder in it
  bool dest_not_folder = false;        ///< --dest, or its nearest parent that exists, is no folder
  std::string runtime_java_version;    ///< JAVA_VERSION of lib/runtime; "" when unknown
  bool runtime_coops_archive = false;  ///< lib/runtime has kCoopsArchive
  bool runtime_nocoops_archive = false;  ///< lib/runtime has kNoCoopsArchive
  std::uint16_t host_machine = 0;
  PackageTools tools;
  /// The texts of --long-description-file and --license-file, when given.
  std::optional<Result<std::string>> long_description_file;
  std::optional<Result<std::string>> license_file;
  std::optional<Result<std::string>> update_key;  ///< the text of --update-key, when given
  /// The base64 of --update-feed-key's DER public key, when given.
  std::optional<Result<std::string>> update_feed_key;
  bool tree_has_updater = false;  ///< lib/app/vorlane-updater.jar is in the tree
  /// Each --file-association value's text: the value, or the file it names.
  std::vector<Result<std::string>> file_associations;
  /// Every icon the options name (--icon, the associations'), by path.
  std::map<std::string, Result<IconInfo>> icons;
  /// The tree's ELF files, when a .deb or an .rpm is wanted and readelf is here.
  std::optional<Result<ElfScan>> elf;
  /// The glibc each of the tree's ELF files needs, when a .deb or an .rpm is wanted.
  std::optional<Result<std::vector<GlibcNeed>>> glibc_needs;
  /// The shlibs folders read (--shlibs-dir, else kHostShlibsDir for a .deb).
  std::vector<std::pair<std::string, Result<ShlibsMap>>> shlibs;
  /// The MIME types the system's shared MIME database defines.
  std::vector<std::string> known_mime_types;
  std::string emulator_text;                     ///< --emulator, else VORLANE_EMULATOR
  std::optional<std::string> source_date_epoch;  ///< SOURCE_DATE_EPOCH, when set
  std::int64_t now = 0;                          ///< the clock, when it is not
};

/// An icon to install: where it is and what it holds.
struct IconFile {
  std::string path;
  IconInfo info;
};

/// Everything `vorlane-pack package` decided before it changes anything.
struct PackagePlan {
  PackageInfo info;  ///< the class list fields and the size are filled in when staged
  TreeFacts tree;
  std::set<PackageType> types;
  PackageTools tools;  ///< objcopy is the one for the tree's machine
  std::optional<IconFile> icon;
  std::vector<std::optional<IconFile>> association_icons;  ///< one per file association
  bool strip_launcher = false;     ///< the launcher carries debug information
  bool record_class_list = false;  ///< list the app's classes for an install-time archive
  bool ship_archive = false;       ///< the tree's archive serves the installed path as it is
  /// Files of the tree, relative to it, that keep their modification times
  /// (those the shipped app archive records); every other file gets the epoch.
  std::vector<std::string> kept_times;
  formats::ArchiveDecisions installed_archives;  ///< the archives in the .deb and .rpm
  formats::ArchiveDecisions tar_archives;        ///< and in the tar.gz
  std::vector<std::string> emulator;
  Compression compression = Compression::kSmall;
  /// Things the packager should know, each a sentence.
  std::vector<std::string> notes;
};

/// The parsed --type values; a bad-input error names a word that is none.
Result<std::set<PackageType>> parse_package_types(const std::vector<std::string>& values);

/// The plan, or the first refusal: a pure function of its arguments.
Result<PackagePlan> plan_packages(const PackageOptions& options, const PackageFacts& facts);

}  // namespace vorlane::packages
