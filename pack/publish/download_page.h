// The site's download page, SITE/index.html: static HTML without scripts
// that reads on a phone as on a desktop.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
};

/// "1.4 MB", "812 kB", "96 bytes".
std::string human_size(std::uint64_t bytes);

/// `text` as one word of a POSIX shell: as it is when it holds only
/// letters, digits and `-._/:@%+=,`, else in single quotes, so that a
/// command pasted from the page runs nothing but itself.
std::string shell_word(std::string_view text);

/// A `printf '%s\n' LINE...` command that prints `lines`, each a word.
std::string printf_lines(const std::vector<std::string>& lines);

/// The page: the app's name, icon, version and description, a table of
/// downloads (size, SHA-256), and the commands that add the repository.
std::string download_page(const PageFacts& facts);

}  // namespace vorlane::publish
