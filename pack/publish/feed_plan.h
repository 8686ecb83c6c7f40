// The update feed, the pure part: a version's manifest (its header, its
// entries sorted and percent-encoded, the runtime archives remade rather
// than shipped), its signed text, where each stored file goes, and which
// version `latest` names. Reading tarballs and writing files are in feed_writer.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "pack/core/error.h"

namespace vorlane::publish {

/// One entry of a version's tree.
struct FeedEntry {
  enum class Kind { kDir, kFile, kLink };
  std::string path;  ///< relative to the tree's root, not encoded
  Kind kind = Kind::kFile;
  unsigned mode = 0644;      ///< permission bits
  std::uint64_t size = 0;    ///< kFile: bytes of the content
  std::string sha256;        ///< kFile: lowercase hex of the content
  std::int64_t mtime = 0;    ///< kFile: seconds since 1970
  std::uint64_t stored = 0;  ///< kFile: bytes of the compressed object on the site
  std::string link_target;   ///< kLink: the link's text, not encoded
};

/// The header of a version's manifest.
struct FeedFacts {
  std::string name;
  std::string version;  ///< APPVERSION-RELEASE
  std::string channel;
  std::string arch;   ///< amd64 or arm64
  std::string date;   ///< see `feed_date`
  std::string expires;  ///< "" or a feed_date: clients refuse the manifest after it
  std::string notes;  ///< UTF-8 text, any lines
};

/// `text` with every byte outside A-Za-z0-9._~+-/@,= written as %XX (upper-case hex).
std::string percent_encode(std::string_view text);

/// "2026-12-08T03:00:00Z" for `seconds` since 1970.
std::string feed_date(std::int64_t seconds);

/// Whether `text` is well-formed UTF-8.
bool valid_utf8(std::string_view text);

/// The runtime's class-data archives the updater remakes rather than
/// downloads: lib/runtime/lib/server/classes.jsa and classes_nocoops.jsa
/// where the tree has them, unless a dynamic app archive
/// (lib/app/vorlane-app.jsa, runtime 20 to 24 by `release`, the text of
/// lib/runtime/release) is layered on them, which needs those very bytes.
std::set<std::string> remade_archives(const std::vector<FeedEntry>& entries,
                                      std::string_view release);

/// The manifest after its signature line: the header, then one line per
/// entry in byte order of PATH (`remake PATH` for the archives of
/// `remade_archives`). Refuses, naming it, an entry whose path is empty,
/// absolute, holds an empty, `.` or `..` component, or comes twice, a link
/// that points out of the tree or nowhere, and a file without a SHA-256.
Result<std::string> manifest_body(const FeedFacts& facts, const std::vector<FeedEntry>& entries,
                                  std::string_view release);

/// The whole manifest: the signature line over every byte of `body`, then `body`.
using SignFunction = std::function<Result<std::string>(std::string_view)>;
Result<std::string> signed_manifest(const std::string& body, const SignFunction& sign);

/// Where the object of content with this SHA-256 is stored: files/sha256/HH/REST.
std::string object_path(std::string_view sha256);

/// Whether `version` is to be `latest` among the versions published before:
/// it is none older than the newest of them (Debian's version order).
bool becomes_latest(std::string_view version, const std::vector<std::string>& published);

/// The entry for `version` in a Debian changelog (`NAME (VERSION) ...` up to
/// its ` -- ` line): its lines without the two-blank indent and without the
/// blank lines around them; "" when there is none.
std::string changelog_notes(std::string_view changelog, std::string_view version);

}  // namespace vorlane::publish
