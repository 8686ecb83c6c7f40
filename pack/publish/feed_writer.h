// The update feed on the site: each published .tar.gz unpacked into the
// run's scratch folder, its files stored once by content (gzip), its
// signed manifest at updates/CHANNEL/ARCH/VERSION, and `latest` made for
// the switch at the end of the publish.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "pack/core/ed25519.h"
#include "pack/core/error.h"
#include "pack/publish/feed_plan.h"

namespace vorlane::publish {

/// One .tar.gz to add to the feed.
struct FeedTarball {
  std::string file;     ///< the tarball's path
  std::string name;     ///< the app: the tree is NAME/versions/VERSION/ or NAME/
  std::string version;  ///< the version for a NAME/ tree, which names none itself
  std::string channel;
  std::string arch;
};

/// The programs that list and unpack packages (paths).
struct UnpackTools {
  std::string bash;
  std::string tar;
  std::string head;
  std::string dpkg_deb;
};

/// The members of `file`, a .tar.gz, or with `deb` the files of a .deb,
/// listed without unpacking anything. Bad input for an archive tar cannot
/// read or whose listing is over kListingMaxBytes.
Result<std::vector<ListedMember>> list_members(const UnpackTools& tools, const std::string& file,
                                               bool deb);

/// Unpacks into the folder `dir` only the `members` (names as listed) of
/// the files of the .deb `deb`, through the names file `list_file`.
Status unpack_deb_members(const UnpackTools& tools, const std::string& deb,
                          const std::vector<std::string>& members, const std::string& dir,
                          const std::string& list_file);

/// The notes of a version, once its full version is known.
using NotesFunction = std::function<Result<std::string>(const std::string& version)>;

class FeedWriter {
 public:
  /// Writes into `site`, unpacks into `scratch` (inside the site, so a
  /// stored file moves in with one rename) with `tools`, at most
  /// kUnpackMaxBytes in kUnpackMaxEntries members a tarball.
  /// The manifests are dated `date` (seconds since 1970) and expire
  /// `valid_days` later, or never when it is 0.
  FeedWriter(std::string site, std::string scratch, UnpackTools tools, const Ed25519Key& key,
             std::int64_t date, int valid_days = 0)
      : site_(std::move(site)),
        scratch_(std::move(scratch)),
        tools_(std::move(tools)),
        key_(key),
        date_(date),
        valid_days_(valid_days) {}

  /// Unpacks `t`, stores the files the site lacks, writes its signed
  /// manifest. Returns the version it names. A tarball without the NAME/
  /// tree, or whose tree holds what a manifest cannot, is refused (bad input).
  Result<std::string> add(const FeedTarball& t, const NotesFunction& notes);

  /// Re-signs, with this writer's date and expiry, the newest version's
  /// manifest of every channel and architecture of the site this run added
  /// none to, and stages it as `latest`, so a publish renews a feed before
  /// it expires. Refused when a manifest there is not, byte for byte, one
  /// this key signed. Returns how many it renewed.
  Result<std::size_t> renew();

  /// Each channel and architecture's `latest`, written in the scratch
  /// folder where a version added is the newest: (scratch file, site path)
  /// for the switch.
  Result<std::vector<std::pair<std::string, std::string>>> latest_files();

  /// The site files and folders this writer made, parents first, to remove
  /// (last first) if the publish fails.
  const std::vector<std::string>& created() const { return created_; }
  /// Objects stored by this run, and bytes stored.
  std::size_t new_objects() const { return new_objects_; }
  /// Entries (TARBALL: PATH) whose group or other write bit was taken away.
  const std::vector<std::string>& unshared_writes() const { return unshared_writes_; }

 private:
  /// Makes `dir` and its missing parents, recording each.
  Status make_dirs(const std::string& dir);
  std::string site_;
  std::string scratch_;
  UnpackTools tools_;
  const Ed25519Key& key_;
  std::int64_t date_;
  int valid_days_;
  int unpacked_ = 0;
  std::size_t new_objects_ = 0;
  std::vector<std::string> created_;
  std::vector<std::string> unshared_writes_;
  /// (channel, arch) -> versions added
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> added_;
  /// `latest` of the renewed ones: (scratch file, site path)
  std::vector<std::pair<std::string, std::string>> renewed_;
};

}  // namespace vorlane::publish
