// `vorlane-pack publish`, the pure part: what a site holds (its manifest),
// what the given packages are, and from both what a publish adds and which
// files each channel's indexes list. Probing is in site_probe, writing in site_writer.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/debian_version.h"
#include "formats/package_names.h"
#include "pack/core/error.h"

namespace vorlane::publish {

// The package formats and Debian's version order, one definition in formats/.
using formats::compare_versions;
using formats::package_kind_from_name;
using formats::package_kind_name;
using formats::PackageKind;

/// A package given to publish, as probed from the file.
struct GivenPackage {
  std::string source;  ///< the path given on the command line
  PackageKind format = PackageKind::kDeb;
  std::string name;
  std::string version;  ///< the full version: VERSION-RELEASE for .deb and .rpm
  std::string arch;     ///< Debian's word: amd64 or arm64
  std::string summary;  ///< the one-line description
  std::uint64_t size = 0;
  std::string sha256;  ///< of the file as given
};

/// A file the site holds, as its manifest records it. Published files are
/// never rewritten or removed; `--keep` decides only which ones the indexes list.
struct SiteEntry {
  std::string channel;
  PackageKind format = PackageKind::kDeb;
  std::string name;
  std::string version;
  std::string arch;
  std::string path;           ///< relative to the site's root
  std::string source_sha256;  ///< of the file that was given (an .rpm is signed on the site)
  std::string sha256;         ///< of the file on the site
  std::uint64_t size = 0;
  std::string summary;
};

/// What the site's manifest (`vorlane-site.txt`) records.
struct Manifest {
  std::string name;  ///< the app the site publishes
  std::string base_url;
  std::string key_fingerprint;
  /// The update feed's Ed25519 public key (base64 of its DER), once a feed is signed.
  std::string feed_key;
  std::map<std::string, int> keep;  ///< per channel
  std::vector<SiteEntry> entries;   ///< in the order published
};

inline constexpr std::string_view kManifestName = "vorlane-site.txt";

/// The manifest as text, and back. `parse_manifest` refuses any line it
/// does not understand, naming it, rather than guessing.
std::string format_manifest(const Manifest& manifest);
Result<Manifest> parse_manifest(std::string_view text);

/// The options of `vorlane-pack publish`, as given.
struct PublishOptions {
  std::string site;
  std::vector<std::string> packages;
  std::string base_url;
  std::string channel = "stable";
  /// As given: "" (the channel's earlier value, or kDefaultKeep on a first
  /// publish) or a whole number from 1 to kMaxKeep.
  std::string keep;
  std::string signing_key;  ///< an exported secret-key file
  std::string new_key;      ///< a folder to make a new key in (and the feed's)
  std::string feed_key;     ///< the update feed's Ed25519 private key (PEM)
  std::string notes;        ///< a UTF-8 file of release notes for the feed
  /// As given: "" (the feed's manifests do not expire) or a whole number of
  /// days from 1 to kMaxFeedValidDays.
  std::string feed_valid_days;
  bool quiet = false;
};

inline constexpr int kDefaultKeep = 5;
inline constexpr int kMaxKeep = 100000;
inline constexpr int kMaxFeedValidDays = 3650;

/// `text` as a whole number from `min` to `max`: decimal digits only (no
/// sign, blank, fraction or other base), or nothing.
std::optional<int> whole_number(std::string_view text, int min, int max);

/// Whether `url` may stand in the commands the download page shows: an
/// http:// or https:// address with a host, of letters, digits and
/// `-._~:/@%+=,` only, so that pasting a command runs nothing else.
bool valid_base_url(std::string_view url);

/// What probing found before anything is written.
struct SiteFacts {
  bool exists = false;     ///< SITE is there
  bool has_other = false;  ///< it holds files but no manifest: not a site of ours
  std::optional<Manifest> manifest;
  std::string key_fingerprint;  ///< of the key this run signs with
  std::string feed_key;         ///< base64 of the feed key this run signs with, or ""
};

/// A package file to put on the site.
struct Copy {
  std::string source;  ///< a given file, or a file the site holds already
  std::string path;    ///< relative to the site's root
  bool sign = false;   ///< a given .rpm: signed with `rpm --addsign` on the site
  /// A file the site holds: the SHA-256 its record gives, which the copy
  /// must have; "" for a given file.
  std::string sha256;
};

struct PublishPlan {
  bool no_op = false;  ///< every package is published already and nothing else changed
  std::vector<Copy> copies;
  /// The manifest after the publish; entries of `copies` still lack the
  /// site's hash and size of a signed .rpm, which the writer fills in.
  Manifest manifest;
  std::vector<std::string> channels;  ///< whose indexes are made again
  int feed_valid_days = 0;            ///< 0: the feed's manifests do not expire
};

/// The site path a package goes to: `pool/main/N/NAME/NAME_VERSION_ARCH.deb`,
/// `rpm/CHANNEL/Packages/NAME-VERSION.RPMARCH.rpm`, `files/NAME-VERSION-linux-MACHINE.tar.gz`.
std::string site_path(const GivenPackage& package, const std::string& channel);

/// The entries of `channel` its indexes list: for each name, format and
/// architecture the newest `keep` versions.
std::vector<SiteEntry> indexed_entries(const Manifest& manifest, const std::string& channel);

/// Checks the options and the probed facts and decides the publish. Every
/// refusal is a bad-input error that names what to change.
Result<PublishPlan> plan_publish(const PublishOptions& options, const SiteFacts& site,
                                 const std::vector<GivenPackage>& packages);

/// Whether `name` may be a channel: a suite and folder name, [a-z0-9][a-z0-9.+-]*.
bool valid_channel(std::string_view name);

}  // namespace vorlane::publish
