// The site's download page, SITE/index.html: static HTML without scripts
// that reads on a phone as on a desktop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/core/glibc_version.h"

namespace vorlane::publish {

struct Download {
  std::string label;  ///< "Debian, Ubuntu (.deb)"
  std::string arch;   ///< amd64 or arm64
  std::string path;   ///< relative to the site's root
  std::uint64_t size = 0;
  std::string sha256;
};

struct PageFacts {
  std::string name;
  std::string summary;
  std::string description;  ///< paragraphs separated by blank lines; may be empty
  std::string version;
  std::string icon;  ///< relative to the site's root, or empty
  std::string base_url;
  std::string channel;
  std::string key_fingerprint;
  bool has_deb = false;
  bool has_rpm = false;
  std::vector<Download> downloads;
  /// The oldest glibc the packages run on, as they declare it; unknown: no line.
  std::optional<GlibcVersion> glibc_floor;
};

/// The glibc a .deb's Depends field asks for: the version of its plain
/// "libc6 (>= 2.NN)" ("2.36-9" is 2.36). Nothing when there is none, when
/// libc6 is only one of alternatives, or when the version is no glibc's.
std::optional<GlibcVersion> libc6_floor(std::string_view depends);

/// "1.4 MB", "812 kB", "96 bytes".
std::string human_size(std::uint64_t bytes);

/// `text` as one word of a POSIX shell: as it is when it holds only
/// letters, digits and `-._/:@%+=,`, else in single quotes, so that a
/// command pasted from the page runs nothing but itself.
std::string shell_word(std::string_view text);

/// A `printf '%s\n' LINE...` command that prints `lines`, each a word.
std::string printf_lines(const std::vector<std::string>& lines);

/// The page: the app's name, icon, version and description, what the
/// packages run on, a table of downloads (size, SHA-256), and the commands
/// that add the repository.
std::string download_page(const PageFacts& facts);

}  // namespace vorlane::publish
