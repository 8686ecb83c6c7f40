// What `vorlane-pack package` needs to know of an app tree made by
// `vorlane-pack app`, and the few packer services it uses (running a tool).
// The only unit of this folder that includes the rest of the packer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlane::packages {

/// Exit statuses, as for `vorlane-pack app`.
inline constexpr int kStepFailed = 1;
inline constexpr int kBadInput = 2;
inline constexpr int kInterrupted = 130;

struct TreeFacts {
  std::string launcher_name;  ///< bin/NAME
  std::vector<std::string> training_args;
  std::string main_class;
  std::vector<std::string> jvm_options;  ///< as burned in, with && for lib/app
  std::vector<std::string> app_args;
  std::uint16_t machine = 0;            ///< the launcher's ELF machine
  bool has_app_archive_option = false;  ///< the launcher looks for lib/app's archive
  std::string archive_name;             ///< that archive, relative to lib/app
  std::string marker_name;              ///< lib/NAME that marks the tree
};

/// Reads the marker, the launcher's block and its ELF machine; nullopt and
/// the reason when `app_dir` is no tree made by `vorlane-pack app`.
std::optional<TreeFacts> read_tree(const std::string& app_dir, std::string& error);

/// The ELF machine of this program.
std::uint16_t host_machine();
/// "x86-64", "AArch64", ...
std::string machine_label(std::uint16_t machine);

/// Whether the ELF file at `path` has a section called `name` (.debug_info, .symtab).
bool has_elf_section(const std::string& path, const std::string& name);
/// Whether `path` starts with the ELF signature.
bool is_elf_file(const std::string& path);

struct ToolResult {
  bool ok = false;
  std::string output;  ///< standard output and error
  std::string end;     ///< how it ended when not ok: "exited with status 2", ...
};

/// Runs `argv` (argv[0] a path), with `env` (NAME=VALUE) added, and waits.
ToolResult run_tool(const std::vector<std::string>& argv, int timeout_seconds = 0);
/// The signal that interrupted the packer, or 0.
int interrupted_by();

}  // namespace vorlane::packages
