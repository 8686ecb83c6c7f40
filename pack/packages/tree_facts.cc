#include "pack/packages/tree_facts.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "pack/core/elf_section.h"
#include "pack/core/files.h"
#include "pack/image/app_tree.h"
#include "pack/image/archive_policy.h"
#include "pack/image/burn.h"
#include "pack/image/marker.h"

namespace vorlane::packages {

Result<TreeFacts> read_tree(const std::string& app_dir) {
  TreeFacts facts;
  facts.marker_name = kMarkerName;
  Result<AppMarker> marker = read_marker(app_dir);
  if (!marker) return as_input(marker.error());
  facts.launcher_name = marker->name;
  facts.training_args = marker->training_args;
  const std::string launcher = app_dir + "/bin/" + marker->name;
  const auto block = read_burned_block(launcher);
  if (!block) return as_input(with_context(launcher + ": ", block.error()));
  facts.main_class = block->main_class;
  facts.jvm_options = block->jvm_options;
  facts.app_args = block->app_args;
  // The marker names the kind; a tree of an older packer had a dynamic one.
  const ArchiveKind kind = marker->archive.value_or(ArchiveKind::kDynamic);
  facts.archive_name = archive_file_name(kind);
  facts.archive_kind = kind;
  const std::string named = archive_options({kind, 0}).front();
  facts.has_app_archive_option = std::find(facts.jvm_options.begin(), facts.jvm_options.end(),
                                           named) != facts.jvm_options.end();
  const auto machine = elf_machine_of_file(launcher);
  if (!machine) return as_input(machine.error());
  facts.machine = *machine;
  return facts;
}

Status check_tree_contents(const std::string& app_dir) {
  namespace fs = std::filesystem;
  const fs::path root(app_dir);
  std::error_code ec;
  fs::recursive_directory_iterator it(root, ec);
  if (ec) return bad_input("cannot read the folder " + app_dir + ": " + ec.message());
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path& path = it->path();
    const fs::path relative = path.lexically_relative(root);
    const fs::file_status st = it->symlink_status(ec);
    if (ec) return bad_input("cannot read " + path.string() + ": " + ec.message());
    if (fs::is_symlink(st)) {
      const fs::path target = fs::read_symlink(path, ec);
      if (ec) return bad_input("cannot read the link " + path.string() + ": " + ec.message());
      const fs::path resolved = (relative.parent_path() / target).lexically_normal();
      if (target.is_absolute() || resolved.empty() || *resolved.begin() == "..") {
        return bad_input("the link " + path.string() + " points to " + target.string() +
                         ", outside the tree: a package carries only the tree's own files "
                         "(replace the link by the file, or by a link inside the tree)");
      }
      continue;
    }
    if (fs::is_directory(st)) {
      if (access(path.c_str(), R_OK | X_OK) != 0) {
        return bad_input("the folder " + path.string() +
                         " cannot be read: " + std::string(std::strerror(errno)));
      }
    } else if (fs::is_regular_file(st)) {
      if (access(path.c_str(), R_OK) != 0) {
        return bad_input("the file " + path.string() +
                         " cannot be read: " + std::string(std::strerror(errno)));
      }
    } else {
      return bad_input(path.string() +
                       " is a FIFO, socket or device: a package carries only files, folders "
                       "and links");
    }
  }
  if (ec) return bad_input("cannot read the tree " + app_dir + ": " + ec.message());
  return done();
}

bool has_elf_section(const std::string& path, const std::string& name) {
  const auto image = read_file(path);
  return image && find_elf_section(*image, name).ok();
}

bool is_elf_file(const std::string& path) {
  const auto head = read_file_head(path, 4);
  return head && head->size() == 4 && (*head)[0] == 0x7f && (*head)[1] == 'E' &&
         (*head)[2] == 'L' && (*head)[3] == 'F';
}

}  // namespace vorlane::packages
