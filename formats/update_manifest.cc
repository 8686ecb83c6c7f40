#include "formats/update_manifest.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <optional>

#include "formats/archive_policy.h"
#include "formats/base64.h"
#include "formats/java_release.h"
#include "formats/text_split.h"

namespace vorlane::formats {

namespace {

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

/// The signature line of an Ed25519 signature: its prefix, 88 base64 characters, '\n'.
constexpr std::size_t kSignatureLineBytes = 33 + 88 + 1;

Refusal too_big(std::size_t bytes) {
  return Refusal{"the update manifest would be over " + std::to_string(bytes) +
                 " bytes; clients read at most " + std::to_string(kManifestMaxBytes)};
}

/// The header's values as the updater reads them: UTF-8, no line break, dates of one form.
std::optional<Refusal> check_facts(const FeedFacts& f) {
  const std::pair<const char*, const std::string*> values[] = {
      {"name", &f.name},         {"version", &f.version}, {"channel", &f.channel},
      {"architecture", &f.arch}, {"date", &f.date},       {"expiry", &f.expires},
      {"notes", &f.notes}};
  for (const auto& [what, value] : values) {
    if (!valid_utf8(*value)) return Refusal{std::string("the feed's ") + what + " is not UTF-8"};
    if (value != &f.notes && value->find_first_of("\r\n") != std::string::npos) {
      return Refusal{std::string("the feed's ") + what + " holds a line break"};
    }
  }
  if (!valid_feed_date(f.date)) {
    return Refusal{"the feed's date '" + f.date + "' is not of the form YYYY-MM-DDTHH:MM:SSZ"};
  }
  if (!f.expires.empty() && !valid_feed_date(f.expires)) {
    return Refusal{"the feed's expiry '" + f.expires + "' is not of the form YYYY-MM-DDTHH:MM:SSZ"};
  }
  // One form, so the text order is the time order.
  if (!f.expires.empty() && f.expires <= f.date) {
    return Refusal{"the feed's expiry " + f.expires + " is not after its date " + f.date +
                   ": every client would refuse it"};
  }
  if (f.notes.size() > kManifestMaxNotes) {
    return Refusal{"the release notes are " + std::to_string(f.notes.size()) +
                   " bytes; an update manifest holds at most " + std::to_string(kManifestMaxNotes)};
  }
  return std::nullopt;
}

/// Whether `text` (a path or a link's text, not encoded) is one the updater decodes.
bool readable_text(std::string_view text) {
  return text.size() <= kManifestMaxPath && text.find('\0') == std::string_view::npos &&
         valid_utf8(text);
}

std::optional<Refusal> check_entry(const FeedEntry& e, bool remade,
                                   const std::set<std::string, std::less<>>& links) {
  const std::string what = "the tarball's entry '" + e.path + "'";
  if (!clean_path(e.path)) {
    return Refusal{what + " is no path inside the tree (empty, absolute, or with '.' or '..')"};
  }
  if (!readable_text(e.path)) {
    return Refusal{what + " is longer than " + std::to_string(kManifestMaxPath) +
                   " bytes, holds a NUL or is not UTF-8"};
  }
  if (e.kind == FeedEntry::Kind::kLink) {
    if (!stays_inside(e.path, e.link_target, links)) {
      return Refusal{what + " is a link to '" + e.link_target +
                     "', out of the tree or through another of its links: the update would "
                     "not stand on its own"};
    }
    if (!readable_text(e.link_target)) {
      return Refusal{what + " is a link whose text is longer than " +
                     std::to_string(kManifestMaxPath) + " bytes, holds a NUL or is not UTF-8"};
    }
  }
  if (e.kind != FeedEntry::Kind::kFile || remade) return std::nullopt;
  if (!valid_sha256(e.sha256)) return Refusal{what + " has no SHA-256"};
  if (e.size > kManifestMaxSize || e.stored > kManifestMaxSize) {
    return Refusal{what + " is over " + std::to_string(kManifestMaxSize) +
                   " bytes, more than an update manifest lists"};
  }
  if (e.mtime < 0 || e.mtime > kManifestMaxTime) {
    return Refusal{what + " has a time before 1970 or too far ahead (" + std::to_string(e.mtime) +
                   ")"};
  }
  return std::nullopt;
}

/// Refuses a path twice and a path under a file or a link, which the update
/// would reach through. `sorted` is in the manifest's order.
std::optional<Refusal> check_tree(const std::vector<const FeedEntry*>& sorted) {
  std::set<std::string_view> not_dirs;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    const std::string& path = sorted[i]->path;
    const std::string what = "the tarball's entry '" + path + "'";
    if (i > 0 && sorted[i - 1]->path == path) return Refusal{what + " comes twice"};
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      if (not_dirs.contains(std::string_view(path).substr(0, slash))) {
        return Refusal{what + " lies under a file or a link"};
      }
    }
    if (sorted[i]->kind != FeedEntry::Kind::kDir) not_dirs.insert(path);
  }
  return std::nullopt;
}

/// Refuses a line of `text` longer than a reader takes.
std::optional<Refusal> check_lines(std::string_view text, const std::string& what) {
  for (const std::string& line : split(text, '\n')) {
    if (line.size() > kManifestMaxLine) {
      return Refusal{what + " has a line of " + std::to_string(line.size()) +
                     " bytes; clients read lines of at most " + std::to_string(kManifestMaxLine)};
    }
  }
  return std::nullopt;
}

}  // namespace

std::map<std::string, std::vector<std::string>> remade_archive_options(
    const std::vector<FeedEntry>& entries, std::string_view release) {
  const auto has_file = [&](std::string_view path) {
    return std::any_of(entries.begin(), entries.end(), [&](const FeedEntry& e) {
      return e.kind == FeedEntry::Kind::kFile && e.path == path;
    });
  };
  ArchiveFacts facts;
  facts.java_version = release_java_version(release);
  facts.context = ArchiveContext::kSelfUpdate;
  facts.has_coops = has_file(kCoopsArchive);
  facts.has_nocoops = has_file(kNoCoopsArchive);
  // The tree's vorlane-app.jsa is of the kind its runtime gets; one of a
  // runtime that says no version is taken as dynamic.
  if (has_file(kTreeAppArchive)) {
    facts.app_archive = archive_kind_for(facts.java_version).value_or(ArchiveKind::kDynamic);
  }
  const ArchiveDecisions decided = decide_archives(facts);
  std::map<std::string, std::vector<std::string>> out;
  for (const auto& [decision, path] :
       {std::pair{&decided.coops, kCoopsArchive}, std::pair{&decided.nocoops, kNoCoopsArchive}}) {
    if (decision->fate == ArchiveFate::kRemake) out[path] = decision->options;
  }
  return out;
}

std::set<std::string> remade_archives(const std::vector<FeedEntry>& entries,
                                      std::string_view release) {
  std::set<std::string> out;
  for (const auto& [path, options] : remade_archive_options(entries, release)) out.insert(path);
  return out;
}

Checked<std::string> manifest_body_text(const FeedFacts& f, const std::vector<FeedEntry>& entries,
                                        std::string_view release) {
  if (auto r = check_facts(f)) return *r;
  if (entries.size() > kManifestMaxEntries) {
    return Refusal{"the tarball has " + std::to_string(entries.size()) +
                   " entries; an update manifest lists at most " +
                   std::to_string(kManifestMaxEntries)};
  }
  const std::map<std::string, std::vector<std::string>> remade =
      remade_archive_options(entries, release);
  std::set<std::string, std::less<>> links;
  for (const FeedEntry& e : entries) {
    if (e.kind == FeedEntry::Kind::kLink) links.insert(e.path);
  }
  std::vector<const FeedEntry*> sorted;
  sorted.reserve(entries.size());
  for (const FeedEntry& e : entries) {
    if (auto r = check_entry(e, remade.contains(e.path), links)) return *r;
    sorted.push_back(&e);
  }
  // The order of a manifest's entries: the raw (decoded) paths' bytes,
  // compared unsigned, so the reader checks it on what it decodes, whatever
  // the encoding. std::string compares as unsigned char, and a path that is
  // a prefix of another comes first.
  std::sort(sorted.begin(), sorted.end(),
            [](const FeedEntry* a, const FeedEntry* b) { return a->path < b->path; });
  if (auto r = check_tree(sorted)) return *r;

  // Format 3 only where a remake line carries options, so a feed that needs
  // none stays readable by clients that know formats 1 and 2.
  const bool options =
      std::any_of(remade.begin(), remade.end(), [](const auto& r) { return !r.second.empty(); });
  const char* format = options ? "3" : f.expires.empty() ? "1" : "2";
  std::string out = std::string("vorlane-update ") + format + "\nname " + f.name + "\nversion " +
                    f.version + "\nchannel " + f.channel + "\narch " + f.arch + "\ndate " + f.date +
                    "\n";
  if (!f.expires.empty()) out += "expires " + f.expires + "\n";
  out += "notes " + base64_encode(f.notes) + "\n";
  if (auto r = check_lines(out, "the manifest's header")) return *r;
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
        if (const auto r = remade.find(e->path); r != remade.end()) {
          out += "remake " + path;
          for (const std::string& option : r->second) {
            out += ' ';
            out += percent_encode(option);
          }
          out += "\n";
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

Checked<std::string> signed_manifest_text(std::string_view body, std::string_view signature) {
  std::string out = "vorlane-update-signature ed25519 " + base64_encode(signature) + "\n";
  out += body;
  if (out.size() > kManifestMaxBytes) return too_big(out.size());
  return out;
}

Checked<std::string> redated_body_text(std::string_view body, const std::string& date,
                                       const std::string& expires) {
  FeedFacts dates;
  dates.date = date;
  dates.expires = expires;
  if (auto r = check_facts(dates)) return *r;
  // The header's lines up to `notes`: format, name, version, channel, arch,
  // date, then `expires` in format 2 and maybe in format 3.
  std::vector<std::string_view> head;
  std::size_t at = 0;
  while (head.size() < 7) {
    const std::size_t end = body.find('\n', at);
    if (end == std::string_view::npos) break;
    const std::string_view line = body.substr(at, end - at);
    if (line.starts_with("notes ")) break;
    head.push_back(line);
    at = end + 1;
  }
  constexpr std::string_view keys[] = {"name ", "version ", "channel ", "arch ", "date "};
  const std::string_view format = head.empty() ? "" : head[0];
  const bool three = format == "vorlane-update 3";
  const bool dated = head.size() == 7 && head[6].starts_with("expires ");
  bool form = (format == "vorlane-update 1" && head.size() == 6) ||
              (format == "vorlane-update 2" && dated) || (three && (head.size() == 6 || dated));
  for (std::size_t i = 0; form && i < std::size(keys); ++i) form = head[i + 1].starts_with(keys[i]);
  // `at` is where the notes line starts, in every format.
  form = form && body.substr(at).starts_with("notes ");
  if (!form) return Refusal{"an update manifest whose header is not as publish writes it"};
  // Format 3 stays 3: its remake lines carry options older clients do not read.
  std::string out = three             ? "vorlane-update 3\n"
                    : expires.empty() ? "vorlane-update 1\n"
                                      : "vorlane-update 2\n";
  for (std::size_t i = 1; i <= 4; ++i) out += std::string(head[i]) + "\n";
  out += "date " + date + "\n";
  if (!expires.empty()) out += "expires " + expires + "\n";
  out += body.substr(at);  // from the notes line on, as it was
  return out;
}

std::string object_path(std::string_view sha256) {
  return "files/sha256/" + std::string(sha256.substr(0, 2)) + "/" + std::string(sha256.substr(2));
}

}  // namespace vorlane::formats
