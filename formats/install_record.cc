#include "formats/install_record.h"

#include <map>

namespace vorlane::formats {

namespace {

constexpr std::string_view kKindNames[] = {"deb", "rpm", "tarball"};

std::string_view trimmed(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t\f\r");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\f\r") - begin + 1);
}

}  // namespace

std::string_view install_kind_name(InstallKind kind) { return kKindNames[static_cast<int>(kind)]; }

std::string install_record_text(const InstallRecord& r) {
  std::string text = "kind=" + std::string(install_kind_name(r.kind)) + "\nname=" + r.name +
                     "\nversion=" + r.version + "\narch=" + r.arch + "\nsite=" + r.site +
                     "\nchannel=" + r.channel + "\n";
  if (!r.feed_key.empty()) text += "feed-key=" + r.feed_key + "\n";
  return text;
}

Checked<InstallRecord> parse_install_record(std::string_view text) {
  std::map<std::string, std::string, std::less<>> values;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line[0] == '#' || line[0] == '!') continue;
    const std::size_t eq = line.find('=');
    values[std::string(trimmed(line.substr(0, eq)))] =
        eq == std::string_view::npos ? "" : std::string(trimmed(line.substr(eq + 1)));
  }
  for (const char* key : {"kind", "name", "version", "arch", "site"}) {
    const auto it = values.find(key);
    if (it == values.end() || it->second.empty()) {
      return Refusal{std::string("the install record has no ") + key};
    }
  }
  InstallRecord r;
  bool known = false;
  for (int i = 0; i < 3; ++i) {
    if (values["kind"] == kKindNames[i]) {
      r.kind = static_cast<InstallKind>(i);
      known = true;
    }
  }
  if (!known)
    return Refusal{"the install record names an unknown kind of install: " + values["kind"]};
  r.name = values["name"];
  r.version = values["version"];
  r.arch = values["arch"];
  r.site = values["site"];
  if (const auto it = values.find("channel"); it != values.end()) r.channel = it->second;
  if (const auto it = values.find("feed-key"); it != values.end()) r.feed_key = it->second;
  return r;
}

}  // namespace vorlane::formats
