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

#include "formats/update_manifest.h"
#include "pack/core/error.h"

namespace vorlane::publish {

// The manifest's format, one definition in formats/.
using formats::feed_date;
using formats::FeedEntry;
using formats::FeedFacts;
using formats::kManifestMaxBytes;
using formats::kManifestMaxEntries;
using formats::kManifestMaxLine;
using formats::kManifestMaxNotes;
using formats::kManifestMaxPath;
using formats::kManifestMaxSize;
using formats::kManifestMaxTime;
using formats::object_path;
using formats::percent_encode;
using formats::remade_archives;
using formats::valid_feed_date;
using formats::valid_utf8;

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

/// formats::manifest_body_text, its refusal a bad-input error.
Result<std::string> manifest_body(const FeedFacts& facts, const std::vector<FeedEntry>& entries,
                                  std::string_view release);

/// The whole manifest: the signature line over every byte of `body`, then
/// `body`; refused when longer than kManifestMaxBytes.
using SignFunction = std::function<Result<std::string>(std::string_view)>;
Result<std::string> signed_manifest(const std::string& body, const SignFunction& sign);

/// formats::redated_body_text, its refusal a bad-input error.
Result<std::string> redated_body(std::string_view body, const std::string& date,
                                 const std::string& expires);

/// Whether `version` is to be `latest` among the versions published before:
/// it is none older than the newest of them (Debian's version order).
bool becomes_latest(std::string_view version, const std::vector<std::string>& published);

/// The entry for `version` in a Debian changelog (`NAME (VERSION) ...` up to
/// its ` -- ` line): its lines without the two-blank indent and without the
/// blank lines around them; "" when there is none.
std::string changelog_notes(std::string_view changelog, std::string_view version);

}  // namespace vorlane::publish
