// What `vorlane-pack package` needs to know of an app tree made by
// `vorlane-pack app`, read through the image layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/archive_policy.h"
#include "pack/core/error.h"

namespace vorlane::packages {

struct TreeFacts {
  std::string launcher_name;  ///< bin/NAME
  std::vector<std::string> training_args;
  std::string main_class;
  std::vector<std::string> jvm_options;  ///< as burned in, with && for lib/app
  std::vector<std::string> app_args;
  std::uint16_t machine = 0;            ///< the launcher's ELF machine
  bool has_app_archive_option = false;  ///< the launcher looks for lib/app's archive
  std::string archive_name;             ///< that archive, relative to lib/app
  /// The kind the marker names (dynamic for a tree of an older packer).
  formats::ArchiveKind archive_kind = formats::ArchiveKind::kDynamic;
  std::string marker_name;  ///< lib/NAME that marks the tree
};

/// Reads the marker, the launcher's block and its ELF machine; a bad-input
/// error when `app_dir` is no tree made by `vorlane-pack app`.
Result<TreeFacts> read_tree(const std::string& app_dir);

/// Refuses, naming the entry, what a package must not carry from the tree
/// at `app_dir`: a link that leaves it (absolute, or relative through '..'
/// past its root), which would put a file from outside into the package; a
/// FIFO, socket or device; a file or folder that cannot be read.
Status check_tree_contents(const std::string& app_dir);

/// Whether the ELF file at `path` has a section called `name` (.debug_info, .symtab).
bool has_elf_section(const std::string& path, const std::string& name);
/// Whether `path` starts with the ELF signature.
bool is_elf_file(const std::string& path);

}  // namespace vorlane::packages
