#include "pack/image/jar_file.h"

#include <zip.h>

#include <algorithm>
#include <memory>

namespace vorlane {

namespace {

struct ZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

}  // namespace

std::string class_entry_name(const std::string& class_name) {
  std::string entry = class_name;
  std::replace(entry.begin(), entry.end(), '.', '/');
  return entry + ".class";
}

std::optional<bool> jar_has_class(const std::string& path, const std::string& class_name,
                                  std::string& error) {
  int code = 0;
  std::unique_ptr<zip_t, ZipCloser> archive(zip_open(path.c_str(), ZIP_RDONLY, &code));
  if (!archive) {
    zip_error_t why;
    zip_error_init_with_code(&why, code);
    error = path + " is not a readable jar: " + zip_error_strerror(&why);
    zip_error_fini(&why);
    return std::nullopt;
  }
  const std::string entry = class_entry_name(class_name);
  if (zip_name_locate(archive.get(), entry.c_str(), 0) >= 0) return true;
  const std::string versioned_prefix = "META-INF/versions/";
  const std::string suffix = "/" + entry;
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
    if (name == nullptr) continue;
    const std::string_view n(name);
    if (n.starts_with(versioned_prefix) && n.ends_with(suffix) &&
        n.find('/', versioned_prefix.size()) == n.size() - suffix.size()) {
      return true;
    }
  }
  return false;
}

}  // namespace vorlane
