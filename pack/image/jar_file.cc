#include "pack/image/jar_file.h"

#include <zip.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>
#include <vector>

namespace vorlane {

namespace {

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
