#include "pack/packages/tree_facts.h"

#include <algorithm>

#include "pack/core/elf_section.h"
#include "pack/core/files.h"
#include "pack/image/app_config.h"
#include "pack/image/app_tree.h"
#include "pack/image/burn.h"

namespace vorlane::packages {

Result<TreeFacts> read_tree(const std::string& app_dir) {
  TreeFacts facts;
  facts.marker_name = kMarkerName;
  Result<AppMarker> marker = read_marker(app_dir);
  if (!marker) return bad_input(marker.error().message);
  facts.launcher_name = marker->name;
  facts.training_args = marker->training_args;
  const std::string launcher = app_dir + "/bin/" + marker->name;
  std::string why;
  const auto block = read_burned_block(launcher, why);
  if (!block) return bad_input(launcher + ": " + why);
  facts.main_class = block->main_class;
  facts.jvm_options = block->jvm_options;
  facts.app_args = block->app_args;
  // The marker names the kind; a tree of an older packer had a dynamic one.
  const ArchiveKind kind = marker->archive.value_or(ArchiveKind::kDynamic);
  facts.archive_name = archive_file_name(kind);
  facts.dynamic_archive = kind == ArchiveKind::kDynamic;
  const std::string named = archive_options({kind, 0}).front();
  facts.has_app_archive_option = std::find(facts.jvm_options.begin(), facts.jvm_options.end(),
                                           named) != facts.jvm_options.end();
  std::string error;
  const auto machine = elf_machine_of_file(launcher, error);
  if (!machine) return bad_input(error);
  facts.machine = *machine;
  return facts;
}

std::uint16_t host_machine() {
  std::string error;
  return elf_machine_of_file("/proc/self/exe", error).value_or(0);
}

bool has_elf_section(const std::string& path, const std::string& name) {
  std::string error;
  const auto image = read_file(path, error);
  return image && find_elf_section(*image, name, error).has_value();
}

bool is_elf_file(const std::string& path) {
  std::string error;
  const auto head = read_file_head(path, 4, error);
  return head && head->size() == 4 && (*head)[0] == 0x7f && (*head)[1] == 'E' &&
         (*head)[2] == 'L' && (*head)[3] == 'F';
}

}  // namespace vorlane::packages
