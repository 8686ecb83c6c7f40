// Fuzz target: class-path rewriting over a fake directory listing.
//
// Input: the disk, one entry a line, then an empty line, then the option.
// An entry line is a directory digit ('0' "./", '1' "/d/", '2' "/d/e/"), a
// kind ('f' a regular file, anything else not one) and the name; a line of
// the digit alone makes an empty directory. Directories without a line
// cannot be opened.
//
// Beyond "no crash": an option without a class-path key is untouched; the
// text up to and including the key is kept; each wildcard element costs one
// listing and nothing else does; and every element of the new value is
// either an element of the old one or a regular file of the listing.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "formats/class_path.h"
#include "formats/fake_file_system.h"
#include "fuzz/fuzz_check.h"

namespace {

using vorlane::fuzz::require;

constexpr std::string_view kDirectories[] = {"./", "/d/", "/d/e/"};
constexpr std::string_view kKeys[] = {"-Djava.class.path=", "-cp ", "-classpath "};

vorlane::formats::FakeFileSystem parse_disk(std::string_view text) {
  vorlane::formats::FakeFileSystem disk;
  for (const std::string_view line : vorlane::fuzz::split(text, '\n')) {
    if (line.empty() || line[0] < '0' || line[0] > '2') continue;
    const std::string directory(kDirectories[line[0] - '0']);
    std::vector<std::string>& listing = disk.listings[directory];
    if (line.size() < 2) continue;
    const std::string name(line.substr(2));
    // A ':' in a file name splits it in the class path, which has no
    // quoting; the properties below cannot follow such a name.
    if (name.find(':') != std::string::npos) continue;
    listing.push_back(name);
    if (line[1] == 'f') disk.regular_files.insert(directory + name);
  }
  return disk;
}

std::size_t value_start(std::string_view option) {
  for (const std::string_view key : kKeys) {
    const std::size_t at = option.find(key);
    if (at != std::string_view::npos) return at + key.size();
  }
  return std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(bytes), size);
  const auto [disk_text, option_text] = vorlane::fuzz::split_header(input, "\n\n");
  const vorlane::formats::FakeFileSystem disk = parse_disk(disk_text);
  const std::string before(option_text);

  std::string option = before;
  vorlane::formats::expand_class_path(option, disk);

  const std::size_t start = value_start(before);
  if (start == std::string_view::npos) {
    require(option == before && disk.list_calls == 0, "an option without a key is untouched");
    return 0;
  }
  require(option.compare(0, start, before, 0, start) == 0, "the text up to the key is kept");

  const std::vector<std::string_view> old_elements =
      vorlane::fuzz::split(std::string_view(before).substr(start), ':');
  std::size_t wildcards = 0;
  std::set<std::string_view> kept;
  for (const std::string_view element : old_elements) {
    wildcards += vorlane::formats::is_wildcard_element(element) ? 1 : 0;
    kept.insert(element);
  }
  require(disk.list_calls == wildcards, "each wildcard element is listed once");

  for (const std::string_view element :
       vorlane::fuzz::split(std::string_view(option).substr(start), ':')) {
    require(kept.contains(element) || disk.regular_files.contains(std::string(element)),
            "every new element is an old one or a listed regular file");
  }
  return 0;
}
