// The update feed's manifest as publish writes it and the updater
// (Manifest.java) reads it: its bounds, the percent encoding of paths, the
// date form, the UTF-8 rule, the body of a version's tree, the signature
// line, and where a stored file goes. The shared vectors are in
// formats/testdata/manifests.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "formats/checked.h"
#include "formats/feed_text.h"

namespace vorlane::formats {

/// The bounds of a manifest. The updater refuses a manifest past any of
/// them before it reads further, and `manifest_body_text` refuses to write one,
/// so publish never signs a manifest no client reads.
inline constexpr std::size_t kManifestMaxBytes = 16U << 20;  ///< the file, signature line included
inline constexpr std::size_t kManifestMaxEntries = 100000;
inline constexpr std::size_t kManifestMaxLine = 65536;   ///< bytes of a line before its '\n'
inline constexpr std::size_t kManifestMaxPath = 4096;    ///< decoded bytes of a path or link text
inline constexpr std::size_t kManifestMaxNotes = 32768;  ///< bytes of the notes before base64
inline constexpr std::uint64_t kManifestMaxSize = 1ULL << 40;  ///< a file's size and stored bytes
inline constexpr std::int64_t kManifestMaxTime = 999999999999999999;  ///< 18 digits

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
  std::string arch;     ///< amd64 or arm64
  std::string date;     ///< see `feed_date`
  std::string expires;  ///< "" or a feed_date: clients refuse the manifest after it
  std::string notes;    ///< UTF-8 text, any lines
};

/// The runtime's class-data archives the updater remakes rather than
/// downloads, each with the JVM options its dump runs with, as
/// `decide_archives` decides for a self-update: the tree's classes.jsa and
/// classes_nocoops.jsa (-XX:-UseCompressedOops), unless a dynamic app
/// archive (lib/app/vorlane-app.jsa, by the runtime's JAVA_VERSION in
/// `release`, the text of lib/runtime/release) is layered on them.
std::map<std::string, std::vector<std::string>> remade_archive_options(
    const std::vector<FeedEntry>& entries, std::string_view release);
/// The paths of `remade_archive_options`.
std::set<std::string> remade_archives(const std::vector<FeedEntry>& entries,
                                      std::string_view release);

/// The manifest after its signature line: the header (format 1, or format 2
/// with an `expires` line after `date` when `facts.expires` is set; format 3,
/// with or without it, when a remake line carries options), then one line
/// per entry in the unsigned byte order of the raw paths (`remake PATH
/// OPTION...`, each percent-encoded, for the archives of
/// `remade_archive_options`). Refuses, naming it, an entry whose
/// path is empty, absolute, holds an empty, `.` or `..` component, a NUL, is
/// not UTF-8, comes twice or lies under a file or a link, a link that points
/// out of the tree or nowhere, a file without a SHA-256, and anything past
/// the bounds above or that the updater would refuse in the header (a date
/// not of `feed_date`'s form, an expiry not after the date, a line break).
Checked<std::string> manifest_body_text(const FeedFacts& facts,
                                        const std::vector<FeedEntry>& entries,
                                        std::string_view release);

/// The whole manifest: the signature line of `signature` (the Ed25519
/// signature's bytes over every byte of `body`), then `body`; refused when
/// longer than kManifestMaxBytes.
Checked<std::string> signed_manifest_text(std::string_view body, std::string_view signature);

/// `body` (a manifest after its signature line, as `manifest_body_text` writes
/// it) dated `date` and expiring at `expires` (format 2), or never when it
/// is "" (format 1); a format-3 body stays format 3, its `expires` line set
/// or dropped the same way; the rest as it was. Refused when its header is not of
/// that form or the dates are not of `feed_date`'s, the expiry after the date.
Checked<std::string> redated_body_text(std::string_view body, const std::string& date,
                                       const std::string& expires);

/// Where the object of content with this SHA-256 is stored: files/sha256/HH/REST.
std::string object_path(std::string_view sha256);

}  // namespace vorlane::formats
