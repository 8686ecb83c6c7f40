#include "pack/packages/tree_facts.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "pack/app_config.h"
#include "pack/burn.h"
#include "pack/elf_section.h"
#include "pack/file_util.h"
#include "pack/subprocess.h"

namespace vorlane::packages {

std::optional<TreeFacts> read_tree(const std::string& app_dir, std::string& error) {
  TreeFacts facts;
  facts.marker_name = kMarkerName;
  facts.archive_name = kAppArchiveName;
  std::string why;
  const auto marker_bytes = read_file(app_dir + "/lib/" + kMarkerName, why);
  if (!marker_bytes) {
    error =
        app_dir + " is no app tree made by vorlane-pack app (lib/" + kMarkerName + ": " + why + ")";
    return std::nullopt;
  }
  const auto marker = parse_marker(std::string(marker_bytes->begin(), marker_bytes->end()), why);
  if (!marker) {
    error = app_dir + "/lib/" + kMarkerName + ": " + why;
    return std::nullopt;
  }
  facts.launcher_name = marker->name;
  facts.training_args = marker->training_args;
  const std::string launcher = app_dir + "/bin/" + marker->name;
  const auto block = read_burned_block(launcher, why);
  if (!block) {
    error = launcher + ": " + why;
    return std::nullopt;
  }
  facts.main_class = block->main_class;
  facts.jvm_options = block->jvm_options;
  facts.app_args = block->app_args;
  const std::vector<std::string> archive = archive_options();
  facts.has_app_archive_option = std::find(facts.jvm_options.begin(), facts.jvm_options.end(),
                                           archive.front()) != facts.jvm_options.end();
  const auto head = read_file_head(launcher, 64, why);
  const auto machine = head ? elf_machine(*head, why) : std::nullopt;
  if (!machine) {
    error = launcher + ": " + why;
    return std::nullopt;
  }
  facts.machine = *machine;
  return facts;
}

std::uint16_t host_machine() {
  std::string error;
  const auto head = read_file_head("/proc/self/exe", 64, error);
  const auto machine = head ? elf_machine(*head, error) : std::nullopt;
  return machine.value_or(0);
}

std::string machine_label(std::uint16_t machine) { return machine_name(machine); }

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

ToolResult run_tool(const std::vector<std::string>& argv, int timeout_seconds) {
  CommandOptions options;
  options.timeout_seconds = timeout_seconds;
  const CommandResult r = run_command(argv, options);
  ToolResult out;
  out.ok = r.ok();
  out.output = r.started ? r.output : r.error;
  if (!out.ok)
    out.end = r.started ? r.describe_end(timeout_seconds) : "could not start: " + r.error;
  return out;
}

int interrupted_by() { return interrupted(); }

}  // namespace vorlane::packages
