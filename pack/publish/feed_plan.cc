#include "pack/publish/feed_plan.h"

#include <algorithm>
#include <charconv>

#include "formats/debian_version.h"
#include "pack/core/ed25519.h"
#include "pack/core/strings.h"

namespace vorlane::publish {

Result<std::string> manifest_body(const FeedFacts& facts, const std::vector<FeedEntry>& entries,
                                  std::string_view release) {
  formats::Checked<std::string> body = formats::manifest_body_text(facts, entries, release);
  if (!body) return bad_input(body.refusal());
  return std::move(*body);
}

Result<std::string> signed_manifest(const std::string& body, const SignFunction& sign) {
  Result<std::string> signature = sign(body);
  if (!signature) return signature.error();
  formats::Checked<std::string> text = formats::signed_manifest_text(body, *signature);
  if (!text) return bad_input(text.refusal());
  return std::move(*text);
}

Result<std::string> redated_body(std::string_view body, const std::string& date,
                                 const std::string& expires) {
  formats::Checked<std::string> text = formats::redated_body_text(body, date, expires);
  if (!text) return bad_input(text.refusal());
  return std::move(*text);
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

bool becomes_latest(std::string_view version, const std::vector<std::string>& published) {
  return std::none_of(published.begin(), published.end(), [&](const std::string& v) {
    return formats::compare_versions(v, version) > 0;
  });
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
