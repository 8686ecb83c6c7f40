// `vorlane-pack publish`, writing: the planned package files put on the
// site first (new names, which no index lists yet), then the update feed,
// each channel's apt and dnf indexes, the download page, the keys and the
// manifest made beside the old ones in a scratch folder in the site, and
// switched in at the end. Until then a failed run leaves the site as it was.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pack/core/ed25519.h"
#include "pack/core/error.h"
#include "pack/core/staging.h"
#include "pack/publish/download_page.h"
#include "pack/publish/feed_writer.h"
#include "pack/publish/signing.h"
#include "pack/publish/site_plan.h"
#include "pack/publish/site_probe.h"

namespace vorlane::publish {

/// Package files (and the feed's files and folders) put on the site by
/// this run, removed again, last first, unless the publish ends well.
class AddedFiles {
 public:
  AddedFiles() = default;
  AddedFiles(const AddedFiles&) = delete;
  AddedFiles& operator=(const AddedFiles&) = delete;
  ~AddedFiles();
  void add(const std::string& path) { files_.push_back(path); }
  void keep() { kept_ = true; }

 private:
  std::vector<std::string> files_;
  bool kept_ = false;
};

/// Puts `from` at `to` in one rename; a folder at `to` is swapped out and
/// removed after, so readers see the old tree or the new one.
Status switch_in(const std::string& from, const std::string& to);

class SiteWriter {
 public:
  /// Writes `plan` into `options.site`, signing with `signer`. The
  /// entries of packages copied get the site's hash and size.
  SiteWriter(const PublishOptions& options, const PublishTools& tools, const Signer& signer,
             PublishPlan& plan)
      : o_(options), tools_(tools), signer_(signer), plan_(plan) {}
  SiteWriter(const SiteWriter&) = delete;
  SiteWriter& operator=(const SiteWriter&) = delete;

  /// Makes the scratch folder SITE/.vorlane-next, removed when the run ends.
  Status begin();
  /// Puts the planned package files on the site; an .rpm given is signed.
  Status copy_packages();
  /// The update feed of the .tar.gz packages new in this channel (the
  /// manifest's entries from `old_entries` on, and listed ones published
  /// before the site had a feed): their stored files and manifests, and the
  /// `latest` files for the switch.
  Status make_feed(const Ed25519Key& key, const std::optional<std::string>& notes,
                   std::size_t old_entries);
  /// dists/CHANNEL made again in the scratch folder: the old tree's by-hash
  /// files of the last generation, new Packages files, Release, InRelease
  /// and Release.gpg.
  Status make_apt(const std::string& channel, const std::vector<SiteEntry>& indexed);
  /// rpm/CHANNEL/repodata made again in the scratch folder, with the files
  /// of the last generation.
  Status make_rpm(const std::string& channel, const std::vector<SiteEntry>& indexed);
  /// The page of the `stable` channel, or of this one when stable has none.
  Status make_page();
  /// KEY.asc, KEY.gpg, feed-key.pub.pem (unless `feed_public_pem` is
  /// empty) and the manifest, in the scratch folder.
  Status stage_keys_and_manifest(const std::string& feed_public_pem);
  /// Switches in, each in one rename, the indexes of `channel`, the keys,
  /// the page, the feed's `latest` files and last the manifest; the files
  /// this run added stay.
  Status switch_in_all(const std::string& channel);

  std::size_t feed_versions_made() const { return feed_versions_; }
  std::size_t feed_objects() const { return feed_objects_; }
  std::size_t feed_renewed() const { return feed_renewed_; }
  const std::vector<std::string>& unshared_writes() const { return unshared_writes_; }

 private:
  Result<bool> same_package(const Copy& c, const std::string& staged, const std::string& there);
  Result<std::string> header_digest(const std::string& rpm);
  Status feed_versions(FeedWriter& feed, const std::optional<std::string>& notes,
                       std::size_t old_entries);
  /// Whether the feed has a manifest of the tarball `e`'s version (its
  /// name gives the version without the release).
  bool has_feed(const SiteEntry& e) const;
  /// The changelog entry of `version` in a .deb of this publish, or "".
  Result<std::string> changelog_entry(const std::string& version);
  Status read_glibc_floor(const std::vector<std::string>& debs, PageFacts& f);
  Status read_deb_page_facts(const std::string& deb, bool new_deb, PageFacts& f);
  UnpackTools unpack_tools() const;
  Result<std::string> unpacked(const std::string& deb);

  const PublishOptions& o_;
  const PublishTools& tools_;
  const Signer& signer_;
  PublishPlan& plan_;
  std::optional<StagingDir> scratch_dir_;
  std::string scratch_;
  /// Destroyed before the scratch folder: removes what the run added unless kept.
  AddedFiles added_;
  /// The feed's `latest` files: (scratch file, site path)
  std::vector<std::pair<std::string, std::string>> feed_moves_;
  std::size_t feed_versions_ = 0;
  std::size_t feed_objects_ = 0;
  std::size_t feed_renewed_ = 0;
  std::vector<std::string> unshared_writes_;
  std::map<std::string, std::string> unpacked_;  ///< .deb -> its tree in the scratch folder
};

}  // namespace vorlane::publish
