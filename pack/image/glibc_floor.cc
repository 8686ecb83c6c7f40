#include "pack/image/glibc_floor.h"

#include <algorithm>

#include "pack/core/elf_section.h"
#include "pack/core/files.h"
#include "pack/core/strings.h"

namespace vorlane {

TreeGlibc tree_glibc(const std::vector<GlibcNeed>& needs, const std::string& launcher_file) {
  TreeGlibc glibc;
  for (const GlibcNeed& need : needs) {
    if (!glibc.floor || need.version > glibc.floor->version ||
        (need.version == glibc.floor->version && need.file < glibc.floor->file)) {
      glibc.floor = need;
    }
    if (need.file == launcher_file) glibc.launcher = need;
  }
  return glibc;
}

Result<std::optional<GlibcVersion>> read_glibc_need(const std::string& path) {
  Result<std::vector<std::uint8_t>> head = read_file_head(path, 6);
  if (!head) return head.error();
  // Only a 64-bit little-endian ELF file is read whole.
  constexpr std::uint8_t kElf64Le[6] = {0x7F, 'E', 'L', 'F', 2, 1};
  if (head->size() < 6 || !std::equal(head->begin(), head->end(), kElf64Le)) {
    return std::optional<GlibcVersion>();
  }
  Result<std::vector<std::uint8_t>> image = read_file(path);
  if (!image) return image.error();
  Result<std::vector<NeededVersion>> needed = needed_versions(*image);
  if (!needed) return as_input(with_context(path + ": ", needed.error()));
  return highest_glibc(*needed);
}

Result<std::vector<GlibcNeed>> read_glibc_needs(const std::string& app_dir) {
  Result<std::vector<TreeEntry>> entries = walk_tree(app_dir, Links::kKeepInternal);
  if (!entries) return entries.error();
  std::vector<GlibcNeed> needs;
  for (const TreeEntry& entry : *entries) {
    if (entry.type != TreeEntry::Type::kFile) continue;
    Result<std::optional<GlibcVersion>> need = read_glibc_need(app_dir + "/" + entry.path);
    if (!need) return need.error();
    if (*need) needs.push_back({**need, entry.path});
  }
  return needs;
}

std::string glibc_floor_line(const TreeGlibc& glibc) {
  if (!glibc.floor) return "";
  return "glibc: " + glibc.floor->version.text() + " or later (" + glibc.floor->file + ")";
}

void report_glibc_floor(const std::string& app_dir, const std::string& launcher_file,
                        const Report& report) {
  const Result<std::vector<GlibcNeed>> needs = read_glibc_needs(app_dir);
  if (!needs) {
    report.note("cannot tell which glibc the app needs: " + needs.error().message);
    return;
  }
  const TreeGlibc glibc = tree_glibc(*needs, launcher_file);
  if (const std::string line = glibc_floor_line(glibc); !line.empty()) report.info(line);
  if (const std::optional<std::string> note = glibc_floor_note(glibc)) report.note(*note);
}

std::optional<std::string> glibc_floor_note(const TreeGlibc& glibc) {
  if (!glibc.floor || !glibc.launcher || glibc.floor->version <= glibc.launcher->version) {
    return std::nullopt;
  }
  const std::vector<std::string> shut_out = systems_before(glibc.floor->version);
  if (shut_out.empty()) return std::nullopt;
  const GlibcNeed& floor = *glibc.floor;
  const bool runtime = floor.file.starts_with("lib/runtime/");
  return floor.file + " needs glibc " + floor.version.text() + " (the launcher needs " +
         glibc.launcher->version.text() + "), so the app does not start on " +
         join(shut_out, ", ") + ". " +
         (runtime ? "A JDK built for older systems (such as one built on glibc 2.17, as most "
                    "portable JDK builds are) reaches them."
                  : "A build of that library for older systems reaches them.");
}

}  // namespace vorlane
