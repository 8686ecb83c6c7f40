#include "formats/debian_version.h"

#include <cctype>

namespace vorlane::formats {

namespace {

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

/// Debian's ordering of one character in a non-digit run: '~' first, then
/// the end of the run, then letters, then everything else.
int order_of(char c) {
  if (c == '~') return -1;
  if (std::isalpha(static_cast<unsigned char>(c)) != 0) return c;
  return c + 256;
}

int compare_part(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() || j < b.size()) {
    while ((i < a.size() && !is_digit(a[i])) || (j < b.size() && !is_digit(b[j]))) {
      const int ca = i < a.size() && !is_digit(a[i]) ? order_of(a[i]) : 0;
      const int cb = j < b.size() && !is_digit(b[j]) ? order_of(b[j]) : 0;
      if (ca != cb) return ca < cb ? -1 : 1;
      if (i < a.size() && !is_digit(a[i])) ++i;
      if (j < b.size() && !is_digit(b[j])) ++j;
    }
    while (i < a.size() && a[i] == '0') ++i;
    while (j < b.size() && b[j] == '0') ++j;
    std::size_t di = i;
    std::size_t dj = j;
    while (di < a.size() && is_digit(a[di])) ++di;
    while (dj < b.size() && is_digit(b[dj])) ++dj;
    // Without leading zeros, the longer run of digits is the bigger number.
    if (di - i != dj - j) return di - i < dj - j ? -1 : 1;
    if (const int c = a.substr(i, di - i).compare(b.substr(j, dj - j)); c != 0) {
      return c < 0 ? -1 : 1;
    }
    i = di;
    j = dj;
  }
  return 0;
}

struct Version {
  std::string_view epoch = "0";
  std::string_view upstream;
  std::string_view revision;
};

Version split_version(std::string_view v) {
  Version out;
  if (const std::size_t colon = v.find(':'); colon != std::string_view::npos) {
    out.epoch = v.substr(0, colon);
    v.remove_prefix(colon + 1);
  }
  if (const std::size_t dash = v.rfind('-'); dash != std::string_view::npos) {
    out.revision = v.substr(dash + 1);
    v = v.substr(0, dash);
  }
  out.upstream = v;
  return out;
}

}  // namespace

int compare_versions(std::string_view a, std::string_view b) {
  const Version va = split_version(a);
  const Version vb = split_version(b);
  if (const int c = compare_part(va.epoch, vb.epoch); c != 0) return c;
  if (const int c = compare_part(va.upstream, vb.upstream); c != 0) return c;
  return compare_part(va.revision, vb.revision);
}

}  // namespace vorlane::formats
