#include "pack/image/app_tree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

#include "pack/image/app_config.h"

namespace fs = std::filesystem;

namespace vorlane {

namespace {

/// The names directly in `dir`, or nullopt when it cannot be listed.
std::optional<std::set<std::string>> entries(const fs::path& dir) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return std::nullopt;
  std::set<std::string> names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return std::nullopt;
    names.insert(it->path().filename().string());
  }
  return names;
}

/// Whether `names` holds anything outside `allowed`; the first such in `extra`.
bool only(const std::set<std::string>& names, const std::set<std::string>& allowed,
          std::string& extra) {
  for (const std::string& n : names) {
    if (!allowed.contains(n)) {
      extra = n;
      return false;
    }
  }
  return true;
}

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

}  // namespace

std::optional<Destination> check_destination(const std::string& path, std::string& error) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (status.type() == fs::file_type::not_found) return Destination::kAbsent;
  if (ec) {
    error = "cannot look at " + path + ": " + ec.message();
    return std::nullopt;
  }
  if (status.type() == fs::file_type::symlink) {
    error = path +
            " exists and is a symbolic link; the packer will not replace it. Remove it or "
            "choose another --dest";
    return std::nullopt;
  }
  if (status.type() != fs::file_type::directory) {
    error = path +
            " exists and is not a folder; the packer will not replace it. Remove it or "
            "choose another --dest";
    return std::nullopt;
  }
  const std::optional<std::set<std::string>> top = entries(path);
  if (!top) {
    error = "cannot list " + path;
    return std::nullopt;
  }
  if (top->empty()) return Destination::kEmpty;
  const std::string marker = path + "/lib/" + kMarkerName;
  if (!fs::is_regular_file(fs::symlink_status(marker, ec))) {
    error = path + " exists and is not an app tree made by vorlane-pack (it has no lib/" +
            kMarkerName + "); the packer will not replace it. Remove it or choose another --dest";
    return std::nullopt;
  }
  // Only what the packer makes: a folder a user added to the tree is theirs.
  const std::optional<std::set<std::string>> lib = entries(path + "/lib");
  std::string extra;
  if (!only(*top, {"bin", "lib"}, extra) ||
      !only(lib.value_or(std::set<std::string>{}), {"app", "runtime", kMarkerName}, extra)) {
    error = path + " is an app tree made by vorlane-pack, but it holds '" + extra +
            "', which the packer did not make; the packer will not replace it. Move that away or "
            "choose another --dest";
    return std::nullopt;
  }
  return Destination::kEarlierOutput;
}

std::optional<std::vector<std::string>> find_jars(const std::string& dir, std::string& error) {
  std::error_code ec;
  fs::recursive_directory_iterator it(dir, ec);
  if (ec) {
    error = "cannot read " + dir + ": " + ec.message();
    return std::nullopt;
  }
  std::vector<std::string> jars;
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) {
      error = "cannot read " + dir + ": " + ec.message();
      return std::nullopt;
    }
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    if (name.size() > 4 && name.ends_with(".jar") && fs::is_regular_file(it->path(), type_ec)) {
      jars.push_back(it->path().lexically_relative(dir).string());
    }
  }
  std::sort(jars.begin(), jars.end());
  return jars;
}

bool paths_overlap(const std::string& a, const std::string& b) {
  const fs::path ra = resolved(a);
  const fs::path rb = resolved(b);
  return is_within(ra, rb) || is_within(rb, ra);
}

bool copy_tree(const std::string& from, const std::string& to, bool keep_links,
               std::string& error) {
  std::error_code ec;
  fs::copy_options options = fs::copy_options::recursive;
  if (keep_links) options |= fs::copy_options::copy_symlinks;
  fs::copy(from, to, options, ec);
  if (ec) {
    error = "cannot copy " + from + " to " + to + ": " + ec.message();
    return false;
  }
  return true;
}

std::optional<StagingDir> StagingDir::create(const std::string& final_path, std::string& error) {
  const fs::path final_abs = fs::absolute(final_path).lexically_normal();
  std::error_code ec;
  fs::create_directories(final_abs.parent_path(), ec);
  if (ec) {
    error = "cannot make " + final_abs.parent_path().string() + ": " + ec.message();
    return std::nullopt;
  }
  // Beside the final place, so the commit is a rename within one file system.
  std::string pattern =
      (final_abs.parent_path() / ("." + final_abs.filename().string() + ".vorlane-XXXXXX"))
          .string();
  if (mkdtemp(pattern.data()) == nullptr) {
    error =
        "cannot make a folder in " + final_abs.parent_path().string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  // mkdtemp makes it private; the app's folder is as open as any new folder.
  const mode_t mask = umask(0);
  umask(mask);
  chmod(pattern.c_str(), 0777 & ~mask);
  return StagingDir(final_abs.string(), pattern);
}

StagingDir::StagingDir(StagingDir&& other) noexcept
    : final_path_(std::move(other.final_path_)), path_(std::exchange(other.path_, std::string())) {}

StagingDir::~StagingDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

bool StagingDir::commit(Destination existing, std::string& error) {
  const auto fail = [&error](const std::string& what) {
    error = what + ": " + std::strerror(errno);
    return false;
  };
  if (existing != Destination::kEarlierOutput) {
    // rename replaces an empty folder, and fails on one that filled up meanwhile.
    if (rename(path_.c_str(), final_path_.c_str()) != 0)
      return fail("cannot move the new tree to " + final_path_);
    path_.clear();
    return true;
  }
  // Swap the trees in one step, so the app is never missing; the staging
  // folder then holds the old tree and goes with this object.
  if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, final_path_.c_str(), RENAME_EXCHANGE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return fail("cannot replace " + final_path_);
  // A file system without exchange: two renames, with a short gap.
  const std::string old = path_ + ".old";
  if (rename(final_path_.c_str(), old.c_str()) != 0)
    return fail("cannot move " + final_path_ + " away");
  if (rename(path_.c_str(), final_path_.c_str()) != 0) {
    const int saved = errno;
    (void)rename(old.c_str(), final_path_.c_str());
    errno = saved;
    return fail("cannot move the new tree to " + final_path_);
  }
  path_ = old;
  return true;
}

}  // namespace vorlane
