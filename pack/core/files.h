// File access for the packer, through thin wrappers of the system calls
// whose messages name the call's purpose, the path and the system's reason.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pack/core/error.h"

namespace vorlane {

/// Most bytes `read_file` reads: far more than any launcher or argument file
/// holds, and few enough to keep in memory.
inline constexpr std::size_t kMaxFileSize = std::size_t{256} << 20;

/// "cannot WHAT PATH: REASON" for the current errno; a full disk says so
/// and what to do, rather than leaving the user with the bare reason.
std::string system_error(const std::string& what, const std::string& path);

/// A failed step with `system_error`'s message, marked a failure of the
/// machine when errno says so (EIO, ENOSPC, EDQUOT, ENOMEM, EMFILE, ENFILE),
/// so that callers that turn a failure into bad input leave it a failed step.
Error system_failure(const std::string& what, const std::string& path);

/// The whole file, or the reason it cannot be read: the system's (a
/// directory, for one, cannot be read), or that it holds more than
/// kMaxFileSize bytes, as an endless device or pipe does.
Result<std::vector<std::uint8_t>> read_file(const std::string& path);

/// As `read_file`, for a file that must not be a FIFO (a launcher, a
/// template, a marker): one is refused rather than waited on for ever.
Result<std::vector<std::uint8_t>> read_file_no_fifo(const std::string& path);

/// At most the first `max_bytes` bytes of the file, or the reason it cannot be read.
Result<std::vector<std::uint8_t>> read_file_head(const std::string& path, std::size_t max_bytes);

/// Writes all of `bytes` to `fd`, or fails with the reason (naming `path`).
Status write_all(int fd, std::span<const std::uint8_t> bytes, const std::string& path);

/// Writes `bytes` to a new file beside `path` and renames it over `path`, so
/// readers see the old file or the whole new one, never a part. `mode` is the
/// new file's permission bits. Fails with the reason; a failed write leaves
/// nothing behind.
Status write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes,
                             unsigned mode);
/// The same for a text.
Status write_file_atomically(const std::string& path, std::string_view text, unsigned mode);

/// The directory that holds the running program.
std::string own_directory();

/// One entry of a tree, as `walk_tree` finds it.
struct TreeEntry {
  /// kOther (a FIFO, a socket, a device) only from a walk with Links::kNever.
  enum class Type { kFolder, kFile, kLink, kOther };
  std::string path;  ///< relative to the tree's root
  Type type = Type::kFile;
  std::string link_target;  ///< for kLink: the link's text
  /// What stat says of the entry (of what a followed link points to).
  unsigned mode = 0;  ///< permission bits, with set-id and sticky
  std::uint64_t size = 0;
  std::int64_t mtime = 0;  ///< seconds since the epoch
};

/// How `walk_tree` and `copy_tree` treat symbolic links.
enum class Links {
  kFollow,  ///< a link is what it points to; the copy stands on its own
  /// A relative link that resolves inside the tree stays a link, as does
  /// one that resolves to nothing; others are followed.
  kKeepInternal,
  /// Every link is an entry of its own, wherever it points, and is never
  /// followed, nor is anything else refused: for a tree from another's
  /// hands (an unpacked tarball), whose links may point anywhere.
  kNever,
};

/// How `walk_tree` treats folders it cannot list.
enum class FolderAccess {
  kAsIs,
  /// Each folder is made readable, writable and searchable by its owner
  /// before it is listed (the mode reported is the one it had): for a
  /// scratch copy that must be walked and then removed, whatever its modes.
  kOpenForOwner,
};

/// Every entry under `root`, parents before children, in byte order of
/// their paths. Links are followed or kept as `links` says (a followed link
/// to a folder is walked, a loop refused). But for Links::kNever, refuses,
/// naming the entry, what cannot be copied as a plain file or folder: a
/// dangling link, a FIFO, a socket, a device.
Result<std::vector<TreeEntry>> walk_tree(const std::string& root, Links links,
                                         FolderAccess access = FolderAccess::kAsIs);

/// Copies the tree at `from` to the new folder `to`: folders, files with
/// their permission bits and holes, and links as `links` says.
Status copy_tree(const std::string& from, const std::string& to, Links links);

/// Sets the modification and access times of `root` and of everything under
/// it to `seconds` since 1970 (links themselves, not what they name), as
/// SOURCE_DATE_EPOCH asks of a reproducible tree.
Status set_tree_times(const std::string& root, std::int64_t seconds);

}  // namespace vorlane
