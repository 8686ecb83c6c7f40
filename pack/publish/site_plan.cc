#include "pack/publish/site_plan.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>
#include <tuple>

#include "pack/core/strings.h"

namespace vorlane::publish {

namespace {

bool is_lower_alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

/// A package name both apt and dnf take, and safe in a path.
bool valid_name(std::string_view name) {
  if (name.empty() || !is_lower_alnum(name[0])) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return is_lower_alnum(c) || c == '+' || c == '-' || c == '.'; });
}

bool valid_version(std::string_view version) {
  if (version.empty() || !std::isdigit(static_cast<unsigned char>(version[0]))) return false;
  return std::all_of(version.begin(), version.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '+' || c == '~' ||
           c == '-' || c == ':';
  });
}

std::string without_tabs(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n'; }, ' ');
  return text;
}

Error refused(const std::string& message) { return bad_input(message); }

std::string describe(const GivenPackage& p) {
  return p.name + " " + p.version + " " + p.arch + " (." +
         std::string(package_kind_name(p.format)) + ", " + p.source + ")";
}

bool same_identity(const SiteEntry& e, const GivenPackage& p) {
  return e.format == p.format && e.name == p.name && e.version == p.version && e.arch == p.arch;
}

}  // namespace

std::optional<int> whole_number(std::string_view text, int min, int max) {
  if (text.empty() || text.size() > 9 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  int n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  if (n < min || n > max) return std::nullopt;
  return n;
}

bool valid_base_url(std::string_view url) {
  std::string_view rest = url;
  if (rest.starts_with("https://")) {
    rest.remove_prefix(8);
  } else if (rest.starts_with("http://")) {
    rest.remove_prefix(7);
  } else {
    return false;
  }
  // A host first; shell, quote and markup characters nowhere.
  if (rest.empty() || rest[0] == '/') return false;
  return std::all_of(url.begin(), url.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           std::string_view("-._~:/@%+=,").find(c) != std::string_view::npos;
  });
}

bool valid_channel(std::string_view name) {
  return valid_name(name) && name.find('+') == name.npos;
}

std::string format_manifest(const Manifest& m) {
  std::string out = "vorlane-site 1\nname " + m.name + "\nbase-url " + m.base_url + "\nkey " +
                    m.key_fingerprint + "\n";
  if (!m.feed_key.empty()) out += "feed-key " + m.feed_key + "\n";
  for (const auto& [channel, keep] : m.keep) {
    out += "keep " + channel + " " + std::to_string(keep) + "\n";
  }
  for (const SiteEntry& e : m.entries) {
    const std::vector<std::string> fields = {"entry",
                                             e.channel,
                                             std::string(package_kind_name(e.format)),
                                             e.name,
                                             e.version,
                                             e.arch,
                                             e.path,
                                             e.source_sha256,
                                             e.sha256,
                                             std::to_string(e.size),
                                             without_tabs(e.summary)};
    out += join(fields, "\t") + "\n";
  }
  return out;
}

Result<Manifest> parse_manifest(std::string_view text) {
  Manifest m;
  const std::vector<std::string> lines = split_lines(text);
  if (lines.empty() || lines[0] != "vorlane-site 1") {
    return refused(std::string(kManifestName) + " does not start with 'vorlane-site 1'");
  }
  for (std::size_t n = 1; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    const std::string where = std::string(kManifestName) + " line " + std::to_string(n + 1);
    const std::size_t space = line.find(' ');
    const std::string word = line.substr(0, std::min(space, line.find('\t')));
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "name") {
      m.name = rest;
    } else if (word == "base-url") {
      m.base_url = rest;
    } else if (word == "key") {
      m.key_fingerprint = rest;
    } else if (word == "feed-key") {
      if (rest.empty() || rest.find_first_of(" \t") != std::string::npos) {
        return refused(where + ": 'feed-key' needs one base64 key");
      }
      m.feed_key = rest;
    } else if (word == "keep") {
      const std::vector<std::string> parts = split_words(rest);
      int keep = 0;
      if (parts.size() != 2 ||
          std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), keep).ec !=
              std::errc() ||
          keep < 1) {
        return refused(where + ": 'keep' needs a channel and a number above 0");
      }
      m.keep[parts[0]] = keep;
    } else if (word == "entry") {
      const std::vector<std::string> f = split(line, '\t');
      std::optional<PackageKind> format =
          f.size() == 11 ? package_kind_from_name(f[2]) : std::nullopt;
      std::uint64_t size = 0;
      if (!format ||
          std::from_chars(f[9].data(), f[9].data() + f[9].size(), size).ec != std::errc()) {
        return refused(where + ": an entry needs 11 fields separated by tabs");
      }
      SiteEntry e{f[1], *format, f[3], f[4], f[5], f[6], f[7], f[8], size, f[10]};
      // The record is a file of the public site: a path other than the one
      // publish gives the entry could name any file of this machine, which
      // the next publish would copy or read onto the site.
      if (!valid_channel(e.channel) || !valid_name(e.name) || !valid_version(e.version) ||
          !formats::arch_of_deb(e.arch)) {
        return refused(where + ": an entry with a bad channel, name, version or architecture");
      }
      const std::string path =
          site_path(GivenPackage{"", e.format, e.name, e.version, e.arch, "", 0, ""}, e.channel);
      if (e.path != path) {
        return refused(where + ": the entry's path '" + e.path + "' is not " + path +
                       ", where publish puts it");
      }
      m.entries.push_back(std::move(e));
    } else {
      return refused(where + ": unknown line '" + line + "'");
    }
  }
  if (m.name.empty() || m.key_fingerprint.empty()) {
    return refused(std::string(kManifestName) + " names no app or no key");
  }
  return m;
}

std::string site_path(const GivenPackage& p, const std::string& channel) {
  std::string version = p.version;
  // File names carry no epoch.
  if (const std::size_t colon = version.find(':'); colon != std::string::npos) {
    version = version.substr(colon + 1);
  }
  const std::string file = formats::package_file_name(p.format, p.name, version, p.arch);
  switch (p.format) {
    case PackageKind::kDeb:
      return "pool/main/" + p.name.substr(0, 1) + "/" + p.name + "/" + file;
    case PackageKind::kRpm:
      return "rpm/" + channel + "/Packages/" + file;
    case PackageKind::kTarGz:
      return "files/" + file;
  }
  return {};
}

std::vector<SiteEntry> indexed_entries(const Manifest& manifest, const std::string& channel) {
  const auto keep_it = manifest.keep.find(channel);
  const int keep = keep_it == manifest.keep.end() ? kDefaultKeep : keep_it->second;
  std::map<std::tuple<PackageKind, std::string, std::string>, std::vector<SiteEntry>> groups;
  for (const SiteEntry& e : manifest.entries) {
    if (e.channel == channel) groups[{e.format, e.name, e.arch}].push_back(e);
  }
  std::vector<SiteEntry> out;
  for (auto& [key, entries] : groups) {
    std::stable_sort(entries.begin(), entries.end(), [](const SiteEntry& a, const SiteEntry& b) {
      return compare_versions(a.version, b.version) > 0;
    });
    const std::size_t n = std::min(entries.size(), static_cast<std::size_t>(keep));
    out.insert(out.end(), entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(n));
  }
  return out;
}

Result<PublishPlan> plan_publish(const PublishOptions& o, const SiteFacts& site,
                                 const std::vector<GivenPackage>& packages) {
  if (o.site.empty()) return refused("no site folder given: publish SITE PACKAGE...");
  if (packages.empty()) return refused("no package given: publish SITE PACKAGE...");
  if (!valid_channel(o.channel)) {
    return refused("--channel '" + o.channel +
                   "' is no channel name: lower-case letters, digits, '.' and '-', starting "
                   "with a letter or digit");
  }
  const std::optional<int> given_keep =
      o.keep.empty() ? std::optional<int>(0) : whole_number(o.keep, 1, kMaxKeep);
  if (!given_keep) {
    return refused("--keep '" + o.keep + "' is no whole number from 1 to " +
                   std::to_string(kMaxKeep));
  }
  const std::optional<int> valid_days = o.feed_valid_days.empty()
                                            ? std::optional<int>(0)
                                            : whole_number(o.feed_valid_days, 1, kMaxFeedValidDays);
  if (!valid_days) {
    return refused("--feed-valid-days '" + o.feed_valid_days +
                   "' is no whole number of days from 1 to " + std::to_string(kMaxFeedValidDays));
  }
  if (site.has_other) {
    return refused(o.site + " holds files but no " + std::string(kManifestName) +
                   ": it is no site made by vorlane-pack publish; give an empty or new folder");
  }
  std::string base_url = o.base_url;
  while (!base_url.empty() && base_url.back() == '/') base_url.pop_back();
  if (!o.base_url.empty() && !valid_base_url(base_url)) {
    return refused("--base-url '" + o.base_url +
                   "' is no http:// or https:// address of letters, digits and -._~:/@%+=, "
                   "(the download page's commands hold it)");
  }
  PublishPlan plan;
  const bool first = !site.manifest;
  Manifest& m = plan.manifest;
  if (site.manifest) m = *site.manifest;
  if (base_url.empty()) base_url = m.base_url;
  if (base_url.empty()) {
    return refused("a first publish needs --base-url, the address the site will be served at");
  }
  if (!valid_base_url(base_url)) {
    return refused(o.site + " records the address '" + base_url +
                   "', which the download page's commands cannot hold: give a plain --base-url");
  }
  if (!first && m.key_fingerprint != site.key_fingerprint) {
    return refused(o.site + " is signed with the key " + m.key_fingerprint +
                   ", not with the given key " + site.key_fingerprint +
                   ": its users trust only that key");
  }
  if (!m.feed_key.empty() && !site.feed_key.empty() && m.feed_key != site.feed_key) {
    return refused(o.site + "'s update feed is signed with the feed key " + m.feed_key +
                   " (feed-key.pub.pem), not with the given --feed-key: the apps it updates "
                   "trust only that key");
  }
  const int old_keep = m.keep.contains(o.channel) ? m.keep.at(o.channel) : -1;
  const int keep = *given_keep > 0 ? *given_keep : (old_keep > 0 ? old_keep : kDefaultKeep);

  std::set<std::string> seen;
  for (const GivenPackage& p : packages) {
    if (!valid_name(p.name)) {
      return refused(describe(p) + ": the name '" + p.name +
                     "' is no package name (lower-case letters, digits, '+', '-', '.')");
    }
    if (!valid_version(p.version)) {
      return refused(describe(p) + ": the version '" + p.version + "' is no package version");
    }
    // An epoch outranks every version without one, so it would stay the
    // feed's latest for good, and the updater reads no epoch.
    if (p.format == PackageKind::kTarGz && p.version.find(':') != std::string::npos &&
        (!site.feed_key.empty() || !m.feed_key.empty())) {
      return refused(describe(p) + ": the version '" + p.version +
                     "' has an epoch, which the self-updater takes not: give it a version "
                     "without 'N:'");
    }
    if (!formats::arch_of_deb(p.arch)) {
      return refused(describe(p) + ": the architecture '" + p.arch +
                     "' is not published (amd64 and arm64 are)");
    }
    const std::string site_name = m.name.empty() ? packages[0].name : m.name;
    if (p.name != site_name) {
      return refused(describe(p) + ": " + (first ? "the packages given" : "the site") +
                     " publish " + site_name + ", one app a site");
    }
    const std::string path = site_path(p, o.channel);
    // The same package given twice is one; two files for one place are refused.
    for (const GivenPackage& q : packages) {
      if (&q != &p && site_path(q, o.channel) == path && q.sha256 != p.sha256) {
        return refused(describe(p) + " and " + q.source + " are the same package with other bytes");
      }
    }
    if (!seen.insert(path).second) continue;
    bool in_channel = false;
    const SiteEntry* on_site = nullptr;
    for (const SiteEntry& e : m.entries) {
      if (!same_identity(e, p)) continue;
      if (e.source_sha256 != p.sha256) {
        return refused(describe(p) +
                       " is published already with other bytes: apt and dnf caches would serve "
                       "the old file; give it a new version or release");
      }
      if (e.channel == o.channel) in_channel = true;
      if (e.path == path || !on_site) on_site = &e;
    }
    if (in_channel) continue;
    SiteEntry entry{o.channel, p.format, p.name,   p.version, p.arch,
                    path,      p.sha256, p.sha256, p.size,    p.summary};
    if (on_site && on_site->path == path) {
      // In another channel already, at the same place: nothing to copy.
      entry.sha256 = on_site->sha256;
      entry.size = on_site->size;
    } else if (on_site) {
      // An .rpm of another channel: its signed copy serves this one too.
      plan.copies.push_back({o.site + "/" + on_site->path, path, false, on_site->sha256});
      entry.sha256 = on_site->sha256;
      entry.size = on_site->size;
    } else {
      plan.copies.push_back({p.source, path, p.format == PackageKind::kRpm, ""});
    }
    m.entries.push_back(entry);
  }
  const bool added = m.entries.size() != (site.manifest ? site.manifest->entries.size() : 0);
  // --feed-valid-days renews the feed, even with nothing else to publish.
  plan.no_op = !added && keep == old_keep && base_url == m.base_url && *valid_days == 0;
  m.name = m.name.empty() ? packages[0].name : m.name;
  m.base_url = base_url;
  m.key_fingerprint = site.key_fingerprint;
  if (m.feed_key.empty()) m.feed_key = site.feed_key;
  m.keep[o.channel] = keep;
  plan.channels = {o.channel};
  plan.feed_valid_days = *valid_days;
  return plan;
}

}  // namespace vorlane::publish
