// `vorlane-pack publish`, probing: the tools it runs, the lock on the
// site, what the given packages are and what the site holds, all read
// before anything is written.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pack/core/error.h"
#include "pack/core/tools.h"
#include "pack/publish/site_plan.h"

namespace vorlane::publish {

/// Seconds one tool run of a publish may take on a busy machine.
inline constexpr int kToolTimeout = 600;

/// Runs a tool whose output is data; its failure shows the last 8 lines it printed.
inline Result<std::string> publish_tool(const std::vector<std::string>& argv,
                                        const std::string& cwd = "") {
  return run_tool_output(argv, cwd, kToolTimeout, 8);
}

/// The tools a publish runs, found on PATH once.
class PublishTools {
 public:
  /// Looks `name` up; a missing one is named in `missing()` with `why`.
  void need(const std::string& name, const std::string& why);
  /// "" or the missing tools with why each is needed, separated by "; ".
  const std::string& missing() const { return missing_; }
  /// The tool's path; "" when it is missing.
  std::string operator[](const std::string& name) const;

 private:
  std::map<std::string, std::string> paths_;
  std::string missing_;
};

/// The tools a publish of `packages` needs (the .rpm ones only for an .rpm given).
PublishTools find_publish_tools(const std::vector<std::string>& packages);

/// Holds `SITE/.vorlane-site.lock` for the life of the run, taken before
/// anything of the site is read: a second publish to the same site, also a
/// first one into a folder that does not exist yet, is refused rather than
/// interleaved. The site's folder is made for the lock; a run that made it
/// and publishes nothing removes it again.
class SiteLock {
 public:
  SiteLock() = default;
  SiteLock(const SiteLock&) = delete;
  SiteLock& operator=(const SiteLock&) = delete;
  ~SiteLock();

  Status take(const std::string& site);
  /// Whether this run made the site's folder.
  bool made_site() const { return made_site_; }
  /// The publish went through: the site stays.
  void keep() { kept_ = true; }

 private:
  std::string site_;
  int fd_ = -1;
  bool made_site_ = false;
  bool kept_ = false;
};

/// The package file at `path`: its format by its name, checked by its first
/// bytes, its name, version, architecture and summary (from dpkg-deb, rpm,
/// or a .tar.gz's file name), size and SHA-256. Bad input for a file that is
/// missing or no package.
Result<GivenPackage> probe_package(const PublishTools& tools, const std::string& path);

/// What the locked site `site` holds: its manifest, or whether it holds
/// other files. `made` is whether this run made its folder.
Result<SiteFacts> probe_site(const std::string& site, bool made);

/// The --notes file, which must be UTF-8 text.
Result<std::string> read_notes(const std::string& path);

/// DIR/feed-key.pem, a new Ed25519 key for the update feed (mode 0600).
Result<std::string> make_feed_key(const std::string& dir);

}  // namespace vorlane::publish
