#include "pack/image/app_tree.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

#include "pack/image/marker.h"

namespace fs = std::filesystem;

namespace vorlane {

namespace {

fs::path resolved(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? fs::absolute(path).lexically_normal() : p;
}

bool is_within(const fs::path& inner, const fs::path& outer) {
  auto o = outer.begin();
  auto i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // the empty last element of a trailing '/'
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

/// Whether `path` (relative to a tree named `name`) is one the packer makes
/// after the marker is written, or leaves behind when a run is killed.
bool made_later(const std::string& path, const std::string& name) {
  for (const std::string& file : all_archive_file_names()) {
    const std::string archive = "lib/app/" + file;
    // ".new": what an earlier packer's killed training run left.
    if (path == archive || path == archive + ".new" ||
        path == "lib/app/" + archive_temp_name(file)) {
      return true;
    }
  }
  return path == std::string("lib/") + kMarkerName ||
         path == "lib/runtime/lib/server/classes.jsa" ||
         path.starts_with("bin/." + name + ".training-");
}

/// The paths in the tree at `root` that its marker does not list.
std::vector<std::string> added_paths(const std::string& root, const AppMarker& marker) {
  const std::set<std::string> made(marker.made.begin(), marker.made.end());
  std::vector<std::string> added;
  for (const std::string& path : paths_under(root)) {
    if (!made.contains(path) && !made_later(path, marker.name)) added.push_back(path);
  }
  // A folder of the user's is named once, not with everything in it.
  std::erase_if(added, [&added](const std::string& path) {
    return std::any_of(added.begin(), added.end(),
                       [&path](const std::string& other) { return path.starts_with(other + "/"); });
  });
  return added;
}

/// Only the layout at the top, for a marker that lists nothing (an earlier
/// packer's): a folder a user added there is theirs.
std::vector<std::string> added_at_top(const std::string& root) {
  std::vector<std::string> added;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(root, ec)) {
    const std::string name = e.path().filename().string();
    if (name != "bin" && name != "lib") added.push_back(name);
  }
  for (const fs::directory_entry& e : fs::directory_iterator(root + "/lib", ec)) {
    const std::string name = e.path().filename().string();
    if (name != "app" && name != "runtime" && name != kMarkerName) added.push_back("lib/" + name);
  }
  return added;
}

}  // namespace

Result<Destination> check_destination(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (status.type() == fs::file_type::not_found) return Destination::kAbsent;
  if (ec) return step_failed("cannot look at " + path + ": " + ec.message());
  const std::string keep_out =
      "; the packer will not replace it. Remove it or choose another --dest";
  if (status.type() == fs::file_type::symlink) {
    return bad_input(path + " exists and is a symbolic link" + keep_out);
  }
  if (status.type() != fs::file_type::directory) {
    return bad_input(path + " exists and is not a folder" + keep_out);
  }
  if (fs::is_empty(path, ec) && !ec) return Destination::kEmpty;
  const std::string marker_path = path + "/lib/" + kMarkerName;
  std::optional<AppMarker> marker;
  if (fs::is_regular_file(fs::symlink_status(marker_path, ec))) {
    if (Result<std::vector<std::uint8_t>> bytes = read_file_no_fifo(marker_path)) {
      if (Result<AppMarker> parsed = parse_marker(std::string(bytes->begin(), bytes->end()))) {
        marker = std::move(*parsed);
      }
    }
  }
  if (!marker) {
    return bad_input(path + " exists and is not an app tree made by vorlane-pack (it has no lib/" +
                     kMarkerName + ")" + keep_out);
  }
  std::vector<std::string> added =
      marker->made.empty() ? added_at_top(path) : added_paths(path, *marker);
  if (!added.empty()) {
    const std::size_t shown = std::min<std::size_t>(added.size(), 10);
    std::string list;
    for (std::size_t i = 0; i < shown; ++i) list += "\n  " + added[i];
    if (added.size() > shown) list += "\n  and " + std::to_string(added.size() - shown) + " more";
    return bad_input(path +
                     " is an app tree made by vorlane-pack, but it holds what the packer did not "
                     "make; the packer will not replace it. Move these away or choose another "
                     "--dest:" +
                     list);
  }
  return Destination::kEarlierOutput;
}

Status write_marker(const std::string& path, const AppMarker& marker) {
  return write_file_atomically(path, format_marker(marker), 0644);
}

Result<AppMarker> read_marker(const std::string& app_dir) {
  const std::string path = app_dir + "/lib/" + kMarkerName;
  const Result<std::vector<std::uint8_t>> bytes = read_file_no_fifo(path);
  if (!bytes) {
    return bad_input(app_dir + " is not an app tree made by vorlane-pack app (it has no lib/" +
                     kMarkerName + ")");
  }
  Result<AppMarker> marker = parse_marker(std::string(bytes->begin(), bytes->end()));
  if (!marker) return as_input(with_context(path + ": ", marker.error()));
  return marker;
}

std::vector<std::string> jars_among(const std::vector<TreeEntry>& entries) {
  std::vector<std::string> jars;
  for (const TreeEntry& e : entries) {
    const std::string name = fs::path(e.path).filename().string();
    if (e.type == TreeEntry::Type::kFile && name.size() > 4 && name.ends_with(".jar")) {
      jars.push_back(e.path);
    }
  }
  return jars;
}

std::vector<std::string> paths_under(const std::string& root) {
  std::vector<std::string> paths;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    paths.push_back(it->path().lexically_relative(root).string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

bool paths_overlap(const std::string& a, const std::string& b) {
  const fs::path ra = resolved(a);
  const fs::path rb = resolved(b);
  return is_within(ra, rb) || is_within(rb, ra);
}

}  // namespace vorlane
