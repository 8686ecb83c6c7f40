#include "pack/publish/feed_plan.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "pack/core/ed25519.h"
#include "pack/core/strings.h"
#include "pack/publish/site_plan.h"

namespace vorlane::publish {

namespace {

constexpr std::string_view kServer = "lib/runtime/lib/server/";
constexpr std::string_view kAppArchive = "lib/app/vorlane-app.jsa";

bool plain_byte(unsigned char c) {
  return std::isalnum(c) != 0 ||
         std::string_view("._~+-/@,=").find(static_cast<char>(c)) != std::string_view::npos;
}

/// Whether `path` is relative, with no empty, `.` or `..` component.
bool clean_path(std::string_view path) {
  if (path.empty()) return false;
  for (const std::string& part : split(path, '/')) {
    if (part.empty() || part == "." || part == "..") return false;
  }
  return true;
}

/// Whether the link at `path` with the text `target` names a place inside the tree.
bool stays_inside(std::string_view path, std::string_view target) {
  if (target.empty() || target.front() == '/') return false;
  std::vector<std::string> parts = split(path, '/');
  parts.pop_back();
  for (const std::string& part : split(target, '/')) {
    if (part.empty() || part == ".") continue;
    if (part != "..") {
      parts.push_back(part);
    } else if (parts.empty()) {
      return false;
    } else {
      parts.pop_back();
    }
  }
  return true;
}

bool valid_sha256(std::string_view hex) {
  return hex.size() == 64 && std::all_of(hex.begin(), hex.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::string octal_mode(unsigned mode) {
  std::string out(4, '0');
  mode &= 07777;
  for (int i = 3; i >= 0; --i, mode >>= 3)
    out[static_cast<std::size_t>(i)] = char('0' + (mode & 7));
  return out;
}

/// Whether `release` says JAVA_VERSION="20" to "24" (with or without more after a dot).
bool runtime_20_to_24(std::string_view release) {
  for (const std::string& line : split_lines(release)) {
    constexpr std::string_view key = "JAVA_VERSION=\"";
    if (!line.starts_with(key)) continue;
    const std::string_view v = std::string_view(line).substr(key.size());
    return v.size() >= 3 && v[0] == '2' && v[1] >= '0' && v[1] <= '4' &&
           std::isdigit(static_cast<unsigned char>(v[2])) == 0;
  }
  return false;
}

}  // namespace

std::string percent_encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (plain_byte(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string feed_date(std::int64_t seconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) return "";
  return text;
}

bool valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c >= 0xc2 && c <= 0xdf) {
      n = 1;
      cp = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
      n = 2;
      cp = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= text.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3f);
    }
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10ffff ||
        (cp >= 0xd800 && cp <= 0xdfff)) {
      return false;
    }
    i += n + 1;
  }
  return true;
}

std::set<std::string> remade_archives(const std::vector<FeedEntry>& entries,
                                      std::string_view release) {
  const auto has_file = [&](std::string_view path) {
    return std::any_of(entries.begin(), entries.end(), [&](const FeedEntry& e) {
      return e.kind == FeedEntry::Kind::kFile && e.path == path;
    });
  };
  std::set<std::string> out;
  if (has_file(kAppArchive) && runtime_20_to_24(release)) return out;
  for (const char* name : {"classes.jsa", "classes_nocoops.jsa"}) {
    const std::string path = std::string(kServer) + name;
    if (has_file(path)) out.insert(path);
  }
  return out;
}

Result<std::string> manifest_body(const FeedFacts& f, const std::vector<FeedEntry>& entries,
                                  std::string_view release) {
  const std::set<std::string> remade = remade_archives(entries, release);
  std::vector<std::pair<std::string, const FeedEntry*>> lines;
  std::set<std::string> seen;
  for (const FeedEntry& e : entries) {
    const std::string what = "the tarball's entry '" + e.path + "'";
    if (!clean_path(e.path)) {
      return bad_input(what + " is no path inside the tree (empty, absolute, or with '.' or '..')");
    }
    if (!seen.insert(e.path).second) return bad_input(what + " comes twice");
    if (e.kind == FeedEntry::Kind::kLink && !stays_inside(e.path, e.link_target)) {
      return bad_input(what + " is a link to '" + e.link_target +
                       "', out of the tree: the update would not stand on its own");
    }
    if (e.kind == FeedEntry::Kind::kFile && !remade.contains(e.path) && !valid_sha256(e.sha256)) {
      return bad_input(what + " has no SHA-256");
    }
    lines.emplace_back(percent_encode(e.path), &e);
  }
  std::sort(lines.begin(), lines.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string out = "vorlane-update 1\nname " + f.name + "\nversion " + f.version + "\nchannel " +
                    f.channel + "\narch " + f.arch + "\ndate " + f.date + "\nnotes " +
                    base64_encode(f.notes) + "\n";
  for (const auto& [path, e] : lines) {
    switch (e->kind) {
      case FeedEntry::Kind::kDir:
        out += "dir " + octal_mode(e->mode) + " " + path + "\n";
        break;
      case FeedEntry::Kind::kLink:
        out += "link " + percent_encode(e->link_target) + " " + path + "\n";
        break;
      case FeedEntry::Kind::kFile:
        if (remade.contains(e->path)) {
          out += "remake " + path + "\n";
        } else {
          out += "file " + octal_mode(e->mode) + " " + std::to_string(e->size) + " " + e->sha256 +
                 " " + std::to_string(e->mtime) + " " + std::to_string(e->stored) + " " + path +
                 "\n";
        }
        break;
    }
  }
  return out;
}

Result<std::string> signed_manifest(const std::string& body, const SignFunction& sign) {
  Result<std::string> signature = sign(body);
  if (!signature) return signature.error();
  return "vorlane-update-signature ed25519 " + base64_encode(*signature) + "\n" + body;
}

std::string object_path(std::string_view sha256) {
  return "files/sha256/" + std::string(sha256.substr(0, 2)) + "/" + std::string(sha256.substr(2));
}

bool becomes_latest(std::string_view version, const std::vector<std::string>& published) {
  return std::none_of(published.begin(), published.end(),
                      [&](const std::string& v) { return compare_versions(v, version) > 0; });
}

std::string changelog_notes(std::string_view changelog, std::string_view version) {
  const std::vector<std::string> lines = split_lines(changelog);
  const std::string marker = " (" + std::string(version) + ")";
  std::vector<std::string> body;
  bool inside = false;
  for (const std::string& line : lines) {
    if (!inside) {
      inside = !line.empty() && line[0] != ' ' && line.find(marker) != std::string::npos &&
               line.find(marker) == line.find(' ');
      continue;
    }
    if (line.starts_with(" -- ")) break;
    body.push_back(line.starts_with("  ") ? line.substr(2) : line);
  }
  const auto blank = [](const std::string& l) {
    return l.find_first_not_of(" \t") == std::string::npos;
  };
  while (!body.empty() && blank(body.back())) body.pop_back();
  const auto first = std::find_if_not(body.begin(), body.end(), blank);
  const std::vector<std::string> kept(first, body.end());
  return join(kept, "\n");
}

}  // namespace vorlane::publish
