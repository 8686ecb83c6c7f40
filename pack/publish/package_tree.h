// A tree unpacked from a package (a .deb's files, a tarball's folder),
// read strictly as the package's members: every component of a member's
// path must be a real folder of the tree and the member itself a plain
// file. A symbolic link anywhere on the way is refused rather than
// followed, since a package's link can name any file of the publishing
// machine, which would then be put on the public site.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/core/error.h"

namespace vorlane::publish {

class PackageTree {
 public:
  /// `root`: where the package is unpacked; `package`: its name in messages.
  PackageTree(std::string root, std::string package)
      : root_(std::move(root)), package_(std::move(package)) {}

  enum class Kind { kFile, kFolder, kLink, kOther };
  struct Child {
    std::string name;
    Kind kind = Kind::kOther;
  };

  /// The bytes of the file `member` (relative, '/'-separated), at most
  /// `max_bytes`; nullopt when it is missing. Bad input, naming the member,
  /// when it or a folder on its way is a link or something other than a
  /// file or folder, or when it is bigger.
  Result<std::optional<std::vector<std::uint8_t>>> read(const std::string& member,
                                                        std::size_t max_bytes) const;

  /// The entries of the folder `member` ("" for the root), by name, each
  /// with its own kind (a link is a link); empty when it is missing. Bad
  /// input as for `read` when it or a folder on its way is no real folder.
  Result<std::vector<Child>> list(const std::string& member) const;

  /// Whether `member` is a real folder; false when missing; refused as for `list`.
  Result<bool> has_folder(const std::string& member) const;

 private:
  std::string root_;
  std::string package_;
};

}  // namespace vorlane::publish
