#include "pack/publish/site_writer.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "pack/core/background_process.h"
#include "pack/core/files.h"
#include "pack/core/sha256.h"
#include "pack/core/tools.h"

namespace fs = std::filesystem;

namespace vorlane::publish {

AddedFiles::~AddedFiles() {
  if (kept_) return;
  std::error_code ec;
  std::for_each(files_.rbegin(), files_.rend(),
                [&](const std::string& file) { fs::remove(file, ec); });
}

/// Puts `from` at `to` in one rename; a folder at `to` is swapped out and
/// removed after, so readers see the old tree or the new one.
Status switch_in(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::create_directories(fs::path(to).parent_path(), ec);
  if (fs::is_directory(to, ec) && fs::is_directory(from, ec)) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) != 0) {
      return system_failure("swap in", to);
    }
    fs::remove_all(from, ec);
    return done();
  }
  fs::rename(from, to, ec);
  if (ec) return step_failed("cannot put " + to + " in place: " + ec.message());
  return done();
}

Status SiteWriter::begin() {
  Result<StagingDir> scratch = StagingDir::create(o_.site + "/.vorlane-next");
  if (!scratch) return scratch.error();
  scratch_dir_.emplace(std::move(*scratch));
  scratch_ = scratch_dir_->path();
  // A watcher waits for the lock this run holds on the scratch folder and,
  // once it gets it (the run ended, however: killed outright too), removes
  // the folder if it is still there: it lies in the served site and holds
  // unpacked packages and unpublished signed files. A normal end has
  // removed it already; the next publish's removal of abandoned scratch
  // folders covers a watcher that could not start.
  remove_when_released(scratch_, scratch_, find_program("flock", std::getenv("PATH")));
  return done();
}

Status SiteWriter::copy_packages() {
  int n = 0;
  for (const Copy& c : plan_.copies) {
    const std::string staged = scratch_ + "/package-" + std::to_string(n++);
    std::error_code ec;
    fs::copy_file(c.source, staged, ec);
    if (ec) return step_failed("cannot copy " + c.source + ": " + ec.message());
    fs::permissions(staged, fs::perms(0644), ec);
    if (!c.sha256.empty()) {
      // The site's file, found by its record: copied only as recorded.
      Result<std::string> copied = sha256_file(staged);
      if (!copied) return copied.error();
      if (*copied != c.sha256) {
        return bad_input(c.source + " does not have the SHA-256 " + std::string(kManifestName) +
                         " records for it: it was changed on the site; nothing is copied");
      }
    }
    if (c.sign) {
      if (Status s = signer_.sign_rpm(staged); !s) return s;
    }
    Result<std::string> hash = sha256_file(staged);
    if (!hash) return hash.error();
    const std::string final_path = o_.site + "/" + c.path;
    fs::create_directories(fs::path(final_path).parent_path(), ec);
    if (ec) return step_failed("cannot make the folder of " + final_path + ": " + ec.message());
    if (fs::exists(final_path, ec)) {
      // A file no manifest lists, left by a run killed after it put its
      // files in place; indexes may list it, so it is never replaced. It
      // serves when it is the same package (an .rpm by its header's digest,
      // which signing leaves as it is).
      Result<bool> same = same_package(c, staged, final_path);
      if (!same) return same.error();
      if (!*same) {
        return bad_input(final_path +
                         " is there, unlisted, with another package's bytes (left "
                         "by an interrupted publish?): remove it, or publish another version");
      }
      hash = sha256_file(final_path);
      if (!hash) return hash.error();
    } else {
      fs::rename(staged, final_path, ec);
      if (ec) return step_failed("cannot put " + final_path + " in place: " + ec.message());
      added_.add(final_path);
    }
    for (SiteEntry& e : plan_.manifest.entries) {
      if (e.path == c.path) {
        e.sha256 = *hash;
        e.size = fs::file_size(final_path, ec);
      }
    }
  }
  return done();
}

Result<bool> SiteWriter::same_package(const Copy& c, const std::string& staged,
                                      const std::string& there) {
  if (c.path.ends_with(".rpm")) {
    Result<std::string> a = header_digest(staged);
    if (!a) return a.error();
    Result<std::string> b = header_digest(there);
    if (!b) return b.error();
    return *a == *b;
  }
  Result<std::string> a = sha256_file(staged);
  if (!a) return a.error();
  Result<std::string> b = sha256_file(there);
  if (!b) return b.error();
  return *a == *b;
}

Result<std::string> SiteWriter::header_digest(const std::string& rpm) {
  return publish_tool(
      {tools_["rpm"], "-qp", "--nosignature", "--qf", "%{SHA256HEADER}", "--", rpm});
}

Status SiteWriter::stage_keys_and_manifest(const std::string& feed_public_pem) {
  Result<std::vector<std::uint8_t>> armored = signer_.public_key(true);
  if (!armored) return armored.error();
  Result<std::vector<std::uint8_t>> binary = signer_.public_key(false);
  if (!binary) return binary.error();
  const std::string& s = scratch_;
  Status keys = write_file_atomically(s + "/KEY.asc", *armored, 0644);
  if (keys) keys = write_file_atomically(s + "/KEY.gpg", *binary, 0644);
  if (keys && !feed_public_pem.empty()) {
    keys = write_file_atomically(s + "/feed-key.pub.pem", feed_public_pem, 0644);
  }
  if (!keys) return as_step(keys.error());
  return write_file_atomically(s + "/manifest", format_manifest(plan_.manifest), 0644);
}

Status SiteWriter::switch_in_all(const std::string& channel) {
  added_.keep();
  const std::string& s = scratch_;
  std::vector<std::pair<std::string, std::string>> moves = {
      {s + "/dists", o_.site + "/dists/" + channel},
      {s + "/rpm-out/repodata", o_.site + "/rpm/" + channel + "/repodata"},
      {s + "/KEY.asc", o_.site + "/KEY.asc"},
      {s + "/KEY.gpg", o_.site + "/KEY.gpg"},
      {s + "/index.html", o_.site + "/index.html"},
      {s + "/icon.svg", o_.site + "/icon.svg"},
      {s + "/icon.png", o_.site + "/icon.png"},
      {s + "/feed-key.pub.pem", o_.site + "/feed-key.pub.pem"},
  };
  moves.insert(moves.end(), feed_moves_.begin(), feed_moves_.end());
  moves.emplace_back(s + "/manifest", o_.site + "/" + std::string(kManifestName));
  std::error_code ec;
  for (const auto& [from, to] : moves) {
    if (!fs::exists(from, ec)) continue;
    if (Status m = switch_in(from, to); !m) return m;
  }
  return done();
}

}  // namespace vorlane::publish
