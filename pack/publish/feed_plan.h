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

/// The bounds of a manifest. The updater (Manifest.java) refuses a manifest
/// past any of them before it reads further, and `manifest_body` refuses to
/// write one, so publish never signs a manifest no client reads.
inline constexpr std::size_t kManifestMaxBytes = 16U << 20;  ///< the file, signature line included
inline constexpr std::size_t kManifestMaxEntries = 100000;
inline constexpr std::size_t kManifestMaxLine = 65536;   ///< bytes of a line before its '\n'
inline constexpr std::size_t kManifestMaxPath = 4096;    ///< decoded bytes of a path or link text
inline constexpr std::size_t kManifestMaxNotes = 32768;  ///< bytes of the notes before base64
inline constexpr std::uint64_t kManifestMaxSize = 1ULL << 40;  ///< a file's size and stored bytes
inline constexpr std::int64_t kManifestMaxTime = 999999999999999999;  ///< 18 digits

/// What publish unpacks of one package at most, checked on its listing
/// before anything is unpacked: a desktop app with its runtime is a few
/// hundred MiB in some thousands of files, so these leave room for big
/// ones and stop a small archive that unpacks to a full disk.
inline constexpr std::uint64_t kUnpackMaxBytes = 4ULL << 30;      ///< a tarball's files, summed
inline constexpr std::size_t kUnpackMaxEntries = 200000;          ///< a tarball's members
inline constexpr std::uint64_t kDebMembersMaxBytes = 256U << 20;  ///< a .deb's icons and changelog
inline constexpr std::size_t kListingMaxBytes = 64U << 20;        ///< of `tar -tv`'s listing, read

/// A member of a tar archive as `tar -tv --numeric-owner` lists it.
struct ListedMember {
  char type = '-';  ///< the mode's first letter: '-' file, 'd' folder, 'l' link, 'h' hard link, ...
  std::uint64_t size = 0;
  std::string name;  ///< as tar quotes it, without " -> TARGET" or " link to TARGET"
};

/// The members of `listing` (`tar -tv --numeric-owner` in the C locale).
/// Bad input, naming `package`, for a line not of that form.
Result<std::vector<ListedMember>> parse_tar_listing(std::string_view listing,
                                                    const std::string& package);

/// Refuses, naming `package` and the bound, more than `max_entries`
/// members or more than `max_bytes` of them summed.
Status check_unpacked_size(const std::vector<ListedMember>& members, std::uint64_t max_bytes,
                           std::size_t max_entries, const std::string& package);

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

/// `text` with every byte outside A-Za-z0-9._~+-/@,= written as %XX (upper-case hex).
std::string percent_encode(std::string_view text);

/// "2026-12-08T03:00:00Z" for `seconds` since 1970.
std::string feed_date(std::int64_t seconds);

/// Whether `text` is of the form YYYY-MM-DDTHH:MM:SSZ, a day that exists
/// (leap years counted), hours 00-23, minutes and seconds 00-59.
bool valid_feed_date(std::string_view text);

/// Whether `text` is well-formed UTF-8.
bool valid_utf8(std::string_view text);

/// The runtime's class-data archives the updater remakes rather than
/// downloads: lib/runtime/lib/server/classes.jsa and classes_nocoops.jsa
/// where the tree has them, unless a dynamic app archive
/// (lib/app/vorlane-app.jsa, runtime 20 to 24 by `release`, the text of
/// lib/runtime/release) is layered on them, which needs those very bytes.
std::set<std::string> remade_archives(const std::vector<FeedEntry>& entries,
                                      std::string_view release);

/// The manifest after its signature line: the header (format 1, or format 2
/// with an `expires` line after `date` when `facts.expires` is set), then one
/// line per entry in the unsigned byte order of the raw paths (`remake PATH`
/// for the archives of `remade_archives`). Refuses, naming it, an entry whose
/// path is empty, absolute, holds an empty, `.` or `..` component, a NUL, is
/// not UTF-8, comes twice or lies under a file or a link, a link that points
/// out of the tree or nowhere, a file without a SHA-256, and anything past
/// the bounds above or that the updater would refuse in the header (a date
/// not of `feed_date`'s form, an expiry not after the date, a line break).
Result<std::string> manifest_body(const FeedFacts& facts, const std::vector<FeedEntry>& entries,
                                  std::string_view release);

/// The whole manifest: the signature line over every byte of `body`, then
/// `body`; refused when longer than kManifestMaxBytes.
using SignFunction = std::function<Result<std::string>(std::string_view)>;
Result<std::string> signed_manifest(const std::string& body, const SignFunction& sign);

/// `body` (a manifest after its signature line, as `manifest_body` writes
/// it) dated `date` and expiring at `expires` (format 2), or never when it
/// is "" (format 1); the rest as it was. Refused when its header is not of
/// that form or the dates are not of `feed_date`'s, the expiry after the date.
Result<std::string> redated_body(std::string_view body, const std::string& date,
                                 const std::string& expires);

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
