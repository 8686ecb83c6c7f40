#include "pack/publish/feed_plan.h"

#include <algorithm>
#include <cctype>
#include <charconv>
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

/// Whether the link at `path` with the text `target` names a place inside
/// the tree, resolved the way the kernel will once the tree is on disk: a
/// component followed by more of the text must not be one of the tree's
/// `links`, since the text after it would be read from wherever that link
/// points (`s -> .` makes `s/s/../..` climb two folders, not none).
bool stays_inside(std::string_view path, std::string_view target,
                  const std::set<std::string, std::less<>>& links) {
  if (target.empty() || target.front() == '/') return false;
  // The resolved path so far, and where each of its components starts.
  const std::size_t folder_end = path.rfind('/');
  std::string at(folder_end == std::string_view::npos ? "" : path.substr(0, folder_end));
  std::vector<std::size_t> starts;  // the size of `at` before each component
  for (std::size_t i = 0; !at.empty() && i != std::string::npos; i = at.find('/', i + 1)) {
    starts.push_back(i);
  }
  bool through_link = false;
  for (const std::string& part : split(target, '/')) {
    if (part.empty() || part == ".") continue;
    // Only a component reached by name can be a link: the link's own
    // folders are real ones (nothing lies under a link), and so is what
    // '..' climbs back to.
    if (through_link) return false;
    if (part != "..") {
      starts.push_back(at.size());
      at += (at.empty() ? "" : "/") + part;
      through_link = links.contains(at);
    } else if (starts.empty()) {
      return false;
    } else {
      at.resize(starts.back());
      starts.pop_back();
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

/// The signature line of an Ed25519 signature: its prefix, 88 base64 characters, '\n'.
constexpr std::size_t kSignatureLineBytes = 33 + 88 + 1;

Error too_big(std::size_t bytes) {
  return bad_input("the update manifest would be over " + std::to_string(bytes) +
                   " bytes; clients read at most " + std::to_string(kManifestMaxBytes));
}

/// The header's values as the updater reads them: UTF-8, no line break, dates of one form.
Status check_facts(const FeedFacts& f) {
  const std::pair<const char*, const std::string*> values[] = {
      {"name", &f.name},         {"version", &f.version}, {"channel", &f.channel},
      {"architecture", &f.arch}, {"date", &f.date},       {"expiry", &f.expires},
      {"notes", &f.notes}};
  for (const auto& [what, value] : values) {
    if (!valid_utf8(*value)) return bad_input(std::string("the feed's ") + what + " is not UTF-8");
    if (value != &f.notes && value->find_first_of("\r\n") != std::string::npos) {
      return bad_input(std::string("the feed's ") + what + " holds a line break");
    }
  }
  if (!valid_feed_date(f.date)) {
    return bad_input("the feed's date '" + f.date + "' is not of the form YYYY-MM-DDTHH:MM:SSZ");
  }
  if (!f.expires.empty() && !valid_feed_date(f.expires)) {
    return bad_input("the feed's expiry '" + f.expires +
                     "' is not of the form YYYY-MM-DDTHH:MM:SSZ");
  }
  // One form, so the text order is the time order.
  if (!f.expires.empty() && f.expires <= f.date) {
    return bad_input("the feed's expiry " + f.expires + " is not after its date " + f.date +
                     ": every client would refuse it");
  }
  if (f.notes.size() > kManifestMaxNotes) {
    return bad_input("the release notes are " + std::to_string(f.notes.size()) +
                     " bytes; an update manifest holds at most " +
                     std::to_string(kManifestMaxNotes));
  }
  return done();
}

/// Whether `text` (a path or a link's text, not encoded) is one the updater decodes.
bool readable_text(std::string_view text) {
  return text.size() <= kManifestMaxPath && text.find('\0') == std::string_view::npos &&
         valid_utf8(text);
}

Status check_entry(const FeedEntry& e, bool remade,
                   const std::set<std::string, std::less<>>& links) {
  const std::string what = "the tarball's entry '" + e.path + "'";
  if (!clean_path(e.path)) {
    return bad_input(what + " is no path inside the tree (empty, absolute, or with '.' or '..')");
  }
  if (!readable_text(e.path)) {
    return bad_input(what + " is longer than " + std::to_string(kManifestMaxPath) +
                     " bytes, holds a NUL or is not UTF-8");
  }
  if (e.kind == FeedEntry::Kind::kLink) {
    if (!stays_inside(e.path, e.link_target, links)) {
      return bad_input(what + " is a link to '" + e.link_target +
                       "', out of the tree or through another of its links: the update would "
                       "not stand on its own");
    }
    if (!readable_text(e.link_target)) {
      return bad_input(what + " is a link whose text is longer than " +
                       std::to_string(kManifestMaxPath) + " bytes, holds a NUL or is not UTF-8");
    }
  }
  if (e.kind != FeedEntry::Kind::kFile || remade) return done();
  if (!valid_sha256(e.sha256)) return bad_input(what + " has no SHA-256");
  if (e.size > kManifestMaxSize || e.stored > kManifestMaxSize) {
    return bad_input(what + " is over " + std::to_string(kManifestMaxSize) +
                     " bytes, more than an update manifest lists");
  }
  if (e.mtime < 0 || e.mtime > kManifestMaxTime) {
    return bad_input(what + " has a time before 1970 or too far ahead (" + std::to_string(e.mtime) +
                     ")");
  }
  return done();
}

/// Refuses a path twice and a path under a file or a link, which the update
/// would reach through. `sorted` is in the manifest's order.
Status check_tree(const std::vector<const FeedEntry*>& sorted) {
  std::set<std::string_view> not_dirs;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    const std::string& path = sorted[i]->path;
    const std::string what = "the tarball's entry '" + path + "'";
    if (i > 0 && sorted[i - 1]->path == path) return bad_input(what + " comes twice");
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      if (not_dirs.contains(std::string_view(path).substr(0, slash))) {
        return bad_input(what + " lies under a file or a link");
      }
    }
    if (sorted[i]->kind != FeedEntry::Kind::kDir) not_dirs.insert(path);
  }
  return done();
}

/// Refuses a line of `text` longer than a reader takes.
Status check_lines(std::string_view text, const std::string& what) {
  for (const std::string& line : split(text, '\n')) {
    if (line.size() > kManifestMaxLine) {
      return bad_input(what + " has a line of " + std::to_string(line.size()) +
                       " bytes; clients read lines of at most " + std::to_string(kManifestMaxLine));
    }
  }
  return done();
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

bool valid_feed_date(std::string_view text) {
  constexpr std::string_view form = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != form.size()) return false;
  for (std::size_t i = 0; i < form.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (form[i] == 'd' ? !digit : text[i] != form[i]) return false;
  }
  const auto number = [&](std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (text[i] - '0');
    return v;
  };
  const int year = number(0, 4);
  const int month = number(5, 2);
  const int day = number(8, 2);
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int days = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= days && number(11, 2) <= 23 && number(14, 2) <= 59 && number(17, 2) <= 59;
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
  if (Status s = check_facts(f); !s) return s.error();
  if (entries.size() > kManifestMaxEntries) {
    return bad_input("the tarball has " + std::to_string(entries.size()) +
                     " entries; an update manifest lists at most " +
                     std::to_string(kManifestMaxEntries));
  }
  const std::set<std::string> remade = remade_archives(entries, release);
  std::set<std::string, std::less<>> links;
  for (const FeedEntry& e : entries) {
    if (e.kind == FeedEntry::Kind::kLink) links.insert(e.path);
  }
  std::vector<const FeedEntry*> sorted;
  sorted.reserve(entries.size());
  for (const FeedEntry& e : entries) {
    if (Status s = check_entry(e, remade.contains(e.path), links); !s) return s.error();
    sorted.push_back(&e);
  }
  // The order of a manifest's entries: the raw (decoded) paths' bytes,
  // compared unsigned, so the reader checks it on what it decodes, whatever
  // the encoding. std::string compares as unsigned char, and a path that is
  // a prefix of another comes first.
  std::sort(sorted.begin(), sorted.end(),
            [](const FeedEntry* a, const FeedEntry* b) { return a->path < b->path; });
  if (Status s = check_tree(sorted); !s) return s.error();

  std::string out = std::string(f.expires.empty() ? "vorlane-update 1" : "vorlane-update 2") +
                    "\nname " + f.name + "\nversion " + f.version + "\nchannel " + f.channel +
                    "\narch " + f.arch + "\ndate " + f.date + "\n";
  if (!f.expires.empty()) out += "expires " + f.expires + "\n";
  out += "notes " + base64_encode(f.notes) + "\n";
  if (Status s = check_lines(out, "the manifest's header"); !s) return s.error();
  for (const FeedEntry* e : sorted) {
    const std::string path = percent_encode(e->path);
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
    // Checked as it grows, so a huge tree is refused before it is all written.
    if (out.size() > kManifestMaxBytes - kSignatureLineBytes) return too_big(out.size());
  }
  return out;
}

Result<std::string> signed_manifest(const std::string& body, const SignFunction& sign) {
  Result<std::string> signature = sign(body);
  if (!signature) return signature.error();
  std::string out = "vorlane-update-signature ed25519 " + base64_encode(*signature) + "\n" + body;
  if (out.size() > kManifestMaxBytes) return too_big(out.size());
  return out;
}
Result<std::string> redated_body(std::string_view body, const std::string& date,
                                 const std::string& expires) {
  FeedFacts dates;
  dates.date = date;
  dates.expires = expires;
  if (Status s = check_facts(dates); !s) return s.error();
  // The header's lines up to `notes`: format, name, version, channel, arch, date[, expires].
  std::vector<std::string_view> head;
  std::size_t at = 0;
  while (head.size() < 7) {
    const std::size_t end = body.find('\n', at);
    if (end == std::string_view::npos) break;
    head.push_back(body.substr(at, end - at));
    if (head.back().starts_with("notes ")) break;
    at = end + 1;
  }
  constexpr std::string_view keys[] = {"name ", "version ", "channel ", "arch ", "date "};
  const bool two = !head.empty() && head[0] == "vorlane-update 2";
  bool form = head.size() == 7 && (two || (!head.empty() && head[0] == "vorlane-update 1"));
  for (std::size_t i = 0; form && i < std::size(keys); ++i) form = head[i + 1].starts_with(keys[i]);
  // `at` is where the notes line starts, in both formats.
  form = form && (!two || head[6].starts_with("expires ")) && body.substr(at).starts_with("notes ");
  if (!form) return bad_input("an update manifest whose header is not as publish writes it");
  std::string out = expires.empty() ? "vorlane-update 1\n" : "vorlane-update 2\n";
  for (std::size_t i = 1; i <= 4; ++i) out += std::string(head[i]) + "\n";
  out += "date " + date + "\n";
  if (!expires.empty()) out += "expires " + expires + "\n";
  out += body.substr(at);  // from the notes line on, as it was
  return out;
}

Result<std::vector<ListedMember>> parse_tar_listing(std::string_view listing,
                                                    const std::string& package) {
  std::vector<ListedMember> out;
  std::size_t number = 0;
  for (const std::string& line : split_lines(listing)) {
    ++number;
    if (line.empty()) continue;
    // MODE UID/GID SIZE DATE TIME NAME, blanks between the first five.
    std::string_view rest = line;
    std::string_view fields[5];
    bool whole = true;
    for (std::string_view& field : fields) {
      const std::size_t start = rest.find_first_not_of(' ');
      const std::size_t end = start == std::string_view::npos ? start : rest.find(' ', start);
      if (end == std::string_view::npos) {
        whole = false;
        break;
      }
      field = rest.substr(start, end - start);
      rest.remove_prefix(end + 1);
    }
    ListedMember m;
    whole = whole && fields[0].size() == 10 && !rest.empty() && !fields[2].empty() &&
            fields[2].size() <= 19;
    if (whole) m.type = fields[0][0];
    // A device lists MAJOR,MINOR for its size: it holds no bytes.
    const bool device = whole && (m.type == 'c' || m.type == 'b');
    if (whole && !device) {
      const char* end = fields[2].data() + fields[2].size();
      const auto [stop, ec] = std::from_chars(fields[2].data(), end, m.size);
      whole = ec == std::errc() && stop == end;
    }
    if (!whole) {
      return bad_input(package + ": line " + std::to_string(number) +
                       " of its listing is not one tar writes: '" + line.substr(0, 200) + "'");
    }
    m.size = device ? 0 : m.size;
    std::string name(rest);
    const std::string_view to = m.type == 'l' ? " -> " : m.type == 'h' ? " link to " : "";
    if (!to.empty()) name = name.substr(0, name.find(to));
    m.name = std::move(name);
    out.push_back(std::move(m));
  }
  return out;
}

Status check_unpacked_size(const std::vector<ListedMember>& members, std::uint64_t max_bytes,
                           std::size_t max_entries, const std::string& package) {
  if (members.size() > max_entries) {
    return bad_input(package + " holds " + std::to_string(members.size()) +
                     " members; publish unpacks at most " + std::to_string(max_entries));
  }
  std::uint64_t total = 0;
  for (const ListedMember& m : members) {
    // Each size is below 10^19, so the sum is checked before it can overflow.
    if (m.size > max_bytes || total > max_bytes - m.size) {
      return bad_input(package + " unpacks to more than " + std::to_string(max_bytes) +
                       " bytes, the most publish unpacks of a package");
    }
    total += m.size;
  }
  return done();
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
