// `vorlane-pack package`: .deb, .rpm and .tar.gz packages of an app tree
// made by `vorlane-pack app`.
#pragma once

#include <string>
#include <vector>

namespace vorlane::packages {

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
  std::vector<std::string> package_deps;
  std::vector<std::string>
      shlibs_dirs;       ///< default: the host's dpkg database, for its architecture
  std::string emulator;  ///< default: $VORLANE_EMULATOR
  bool quiet = false;
};

/// Makes the packages in `dest`, replacing earlier ones of the same names.
/// Checks all input before writing anything. Returns the exit status:
/// 0 made, 1 a tool failed, 2 bad input or a refusal (nothing written).
int make_packages(const PackageOptions& options);

}  // namespace vorlane::packages
