#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "pack/core/files.h"
#include "pack/core/sha256.h"
#include "pack/publish/feed_plan.h"
#include "pack/publish/package_tree.h"
#include "pack/publish/site_writer.h"

namespace fs = std::filesystem;

namespace vorlane::publish {

namespace {

/// `text`, gzip-compressed, unpacked; at most kMaxFileSize bytes.
Result<std::string> gunzip_text(const std::string& gz) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) return step_failed("cannot start unpacking");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  z.avail_in = static_cast<uInt>(gz.size());
  std::string out;
  char buffer[1 << 14];
  int rc = Z_OK;
  while (rc == Z_OK && out.size() < kMaxFileSize) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return step_failed("no whole gzip data");
  return out;
}

}  // namespace

/// The update feed of the .tar.gz packages new in this channel: their
/// stored files and manifests, and the `latest` files for the switch.
Status SiteWriter::make_feed(const Ed25519Key& key, const std::optional<std::string>& notes,
                             std::size_t old_entries) {
  FeedWriter feed(o_.site, scratch_, unpack_tools(), key, std::time(nullptr),
                  plan_.feed_valid_days);
  Status status = feed_versions(feed, notes, old_entries);
  if (status && plan_.feed_valid_days > 0) {
    // An expiry is given: every channel's newest version is signed again
    // with it, so re-publishing keeps the feed from going stale.
    Result<std::size_t> renewed = feed.renew();
    if (renewed) feed_renewed_ = *renewed;
    status = renewed ? done() : Status(renewed.error());
  }
  Result<std::vector<std::pair<std::string, std::string>>> latest =
      status ? feed.latest_files() : status.error();
  for (const std::string& f : feed.created()) added_.add(f);
  if (!latest) return latest.error();
  feed_moves_.insert(feed_moves_.end(), latest->begin(), latest->end());
  feed_objects_ = feed.new_objects();
  unshared_writes_ = feed.unshared_writes();
  return done();
}

Status SiteWriter::feed_versions(FeedWriter& feed, const std::optional<std::string>& notes,
                                 std::size_t old_entries) {
  const std::vector<SiteEntry>& entries = plan_.manifest.entries;
  const std::vector<SiteEntry> indexed = indexed_entries(plan_.manifest, o_.channel);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const SiteEntry& e = entries[i];
    if (e.format != PackageKind::kTarGz || e.channel != o_.channel) continue;
    // New tarballs, and the listed ones published before the site had a feed.
    if (i < old_entries &&
        (has_feed(e) || std::none_of(indexed.begin(), indexed.end(),
                                     [&](const SiteEntry& x) { return x.path == e.path; }))) {
      continue;
    }
    // A tarball's name holds no release: a NAME/ tree takes the full
    // version of the newest .deb or .rpm of its version.
    std::string version = e.version;
    for (const SiteEntry& p : entries) {
      if (p.format != PackageKind::kTarGz && p.name == e.name &&
          p.version.starts_with(e.version + "-") &&
          (version == e.version || compare_versions(p.version, version) > 0)) {
        version = p.version;
      }
    }
    const FeedTarball t{o_.site + "/" + e.path, e.name, version, e.channel, e.arch};
    if (i < old_entries) {
      // A tarball the site holds goes into the feed only as its record has it.
      Result<std::string> hash = sha256_file(t.file);
      if (!hash) return hash.error();
      if (*hash != e.sha256) {
        return bad_input(t.file + " does not have the SHA-256 " + std::string(kManifestName) +
                         " records for it: it was changed on the site");
      }
    }
    Result<std::string> made = feed.add(t, [&](const std::string& v) -> Result<std::string> {
      if (notes) return *notes;
      return changelog_entry(v);
    });
    if (!made) return made.error();
    ++feed_versions_;
  }
  return done();
}

/// Whether the feed has a manifest of the tarball `e`'s version (its
/// name gives the version without the release).
bool SiteWriter::has_feed(const SiteEntry& e) const {
  std::error_code ec;
  for (const auto& f :
       fs::directory_iterator(o_.site + "/updates/" + e.channel + "/" + e.arch, ec)) {
    const std::string v = f.path().filename().string();
    if (v == e.version || v.starts_with(e.version + "-")) return true;
  }
  return false;
}

/// The changelog entry of `version` in a .deb of this publish, or "".
Result<std::string> SiteWriter::changelog_entry(const std::string& version) {
  for (const Copy& c : plan_.copies) {
    const auto entry = std::find_if(plan_.manifest.entries.begin(), plan_.manifest.entries.end(),
                                    [&](const SiteEntry& e) { return e.path == c.path; });
    if (entry == plan_.manifest.entries.end() || entry->format != PackageKind::kDeb ||
        entry->version != version) {
      continue;
    }
    Result<std::string> tree = unpacked(o_.site + "/" + c.path);
    if (!tree) return tree.error();
    Result<std::optional<std::vector<std::uint8_t>>> gz =
        PackageTree(*tree, c.source)
            .read("usr/share/doc/" + entry->name + "/changelog.Debian.gz", kMaxFileSize);
    if (!gz) return gz.error();
    if (!*gz) return std::string();  // no changelog: no notes
    Result<std::string> text = gunzip_text(std::string((*gz)->begin(), (*gz)->end()));
    return text ? changelog_notes(*text, version) : std::string();
  }
  return std::string();
}

}  // namespace vorlane::publish
