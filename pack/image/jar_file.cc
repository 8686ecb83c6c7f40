#include "pack/image/jar_file.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <optional>
#include <vector>

namespace vorlane {

namespace {

/// Manifests larger than this are read only this far.
constexpr zip_uint64_t kMaxManifestSize = zip_uint64_t{1} << 20;

/// Class files larger than this are not read to look for `main`.
constexpr zip_uint64_t kMaxClassSize = zip_uint64_t{16} << 20;

struct ZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

/// What the entry at `index` says of `main`, under either rules.
MainMethods read_main_methods(zip_t* archive, zip_uint64_t index) {
  const MainMethods unreadable{MainMethod::kNotAClassFile, MainMethod::kNotAClassFile};
  zip_stat_t stat;
  if (zip_stat_index(archive, index, 0, &stat) != 0 || (stat.valid & ZIP_STAT_SIZE) == 0 ||
      stat.size > kMaxClassSize) {
    return unreadable;
  }
  zip_file_t* file = zip_fopen_index(archive, index, 0);
  if (file == nullptr) return unreadable;
  std::vector<std::uint8_t> bytes(stat.size);
  const zip_int64_t n = zip_fread(file, bytes.data(), bytes.size());
  zip_fclose(file);
  if (n != static_cast<zip_int64_t>(bytes.size())) return unreadable;
  return {find_main_method(bytes, MainRules::kClassic),
          find_main_method(bytes, MainRules::kFlexible)};
}

}  // namespace

std::string class_entry_name(const std::string& class_name) {
  std::string entry = class_name;
  std::replace(entry.begin(), entry.end(), '.', '/');
  return entry + ".class";
}

Result<ClassEntries> find_class(const std::string& path, const std::string& class_name) {
  int code = 0;
  // ZIP_CHECKCONS: a jar cut short or patched is refused here, naming it,
  // rather than failing later inside jdeps with a stack trace.
  std::unique_ptr<zip_t, ZipCloser> archive(
      zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
  if (!archive) {
    zip_error_t why;
    zip_error_init_with_code(&why, code);
    Error error = bad_input(path + " is not a readable jar: " + zip_error_strerror(&why));
    zip_error_fini(&why);
    return error;
  }
  const std::string entry = class_entry_name(class_name);
  const std::string versioned_prefix = "META-INF/versions/";
  const std::string suffix = "/" + entry;
  ClassEntries found;
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* name = zip_get_name(archive.get(), index, 0);
    if (name == nullptr) continue;
    const std::string_view n(name);
    int version = 0;
    if (n != entry) {
      if (!n.starts_with(versioned_prefix) || !n.ends_with(suffix) ||
          n.find('/', versioned_prefix.size()) != n.size() - suffix.size()) {
        continue;
      }
      const char* first = n.data() + versioned_prefix.size();
      const char* last = n.data() + n.size() - suffix.size();
      if (std::from_chars(first, last, version).ptr != last || version <= 0) continue;
    }
    found[version] = read_main_methods(archive.get(), index);
  }
  return found;
}

Result<std::string> read_manifest(const std::string& path) {
  int code = 0;
  std::unique_ptr<zip_t, ZipCloser> archive(zip_open(path.c_str(), ZIP_RDONLY, &code));
  if (!archive) {
    zip_error_t why;
    zip_error_init_with_code(&why, code);
    Error error = step_failed(path + " is not a readable jar: " + zip_error_strerror(&why));
    zip_error_fini(&why);
    return error;
  }
  zip_file_t* file = zip_fopen(archive.get(), "META-INF/MANIFEST.MF", 0);
  if (file == nullptr) return std::string();
  std::string text(kMaxManifestSize, '\0');
  const zip_int64_t n = zip_fread(file, text.data(), text.size());
  zip_fclose(file);
  if (n < 0) return step_failed("cannot read the manifest of " + path);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

std::vector<std::string> manifest_class_path(std::string_view manifest) {
  // Lines end in CR LF, LF or CR; one that starts with a space continues the
  // one before; an empty line ends the main section.
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < manifest.size()) {
    const std::size_t end = std::min(manifest.find_first_of("\r\n", at), manifest.size());
    const std::string_view line = manifest.substr(at, end - at);
    at = end;
    if (at < manifest.size() && manifest[at] == '\r') ++at;
    if (at < manifest.size() && manifest[at] == '\n') ++at;
    if (line.empty()) break;
    if (line.front() == ' ' && !lines.empty()) {
      lines.back().append(line.substr(1));
    } else {
      lines.emplace_back(line);
    }
  }
  constexpr std::string_view kName = "class-path:";
  std::vector<std::string> entries;
  for (const std::string& line : lines) {
    if (line.size() < kName.size() ||
        !std::equal(kName.begin(), kName.end(), line.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      continue;
    }
    std::size_t from = kName.size();
    while (from < line.size()) {
      const std::size_t space = std::min(line.find(' ', from), line.size());
      if (space > from) entries.push_back(line.substr(from, space - from));
      from = space + 1;
    }
  }
  return entries;
}

std::optional<std::pair<int, MainMethods>> loaded_entry(const ClassEntries& entries,
                                                        int feature_version) {
  // The entries go by version upwards: the last one the runtime reads wins.
  std::optional<std::pair<int, MainMethods>> loaded;
  for (const auto& entry : entries) {
    if (entry.first > feature_version) break;
    loaded = entry;
  }
  return loaded;
}

}  // namespace vorlane
