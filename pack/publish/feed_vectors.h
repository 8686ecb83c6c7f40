// For the tests and the fuzz target only: a lenient reading of a manifest
// body back into the writer's input, so the shared vectors (and any bytes a
// fuzzer makes) can be written again by `manifest_body` and compared.
//
// Lenient on purpose: %xx in either case, any byte as itself, numbers of any
// length that fit; it refuses only what gives no input at all (a missing
// header line, an unknown kind, a wrong field count, notes not base64). A
// `remake PATH` line becomes a file at PATH, which the writer lists as
// `remake` again when PATH is a runtime archive.
#pragma once

#include <openssl/evp.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/publish/feed_plan.h"

namespace vorlane::publish::testing {

struct ManifestInput {
  FeedFacts facts;
  std::vector<FeedEntry> entries;
};

inline std::vector<std::string_view> split_view(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator)) {
    parts.push_back(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
  parts.push_back(text);
  return parts;
}

inline std::string lenient_decode(std::string_view text) {
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

template <class T>
std::optional<T> lenient_number(std::string_view text, int base = 10) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

inline std::optional<std::string> base64_decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  // Padding is at most the last two characters: "====" or "A===" decode to
  // nothing a writer makes, and would count more padding than bytes below.
  const std::size_t pad = text.size() - std::min(text.size(), text.find_last_not_of('=') + 1);
  if (pad > 2 || text.substr(0, text.size() - pad).find('=') != std::string_view::npos) {
    return std::nullopt;
  }
  std::string out(text.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding's bytes as zeros.
  if (static_cast<std::size_t>(n) < pad) return std::nullopt;
  out.resize(static_cast<std::size_t>(n) - pad);
  return out;
}

inline std::optional<ManifestInput> read_manifest_input(std::string_view body) {
  std::vector<std::string_view> lines = split_view(body, '\n');
  if (lines.back() != "") return std::nullopt;
  lines.pop_back();
  if (lines.empty()) return std::nullopt;
  // Format 3 may have an `expires` line, format 2 must.
  const bool format3 = lines[0] == "vorlane-update 3";
  const bool format2 = lines[0] == "vorlane-update 2" ||
                       (format3 && lines.size() > 6 && lines[6].starts_with("expires "));
  if (!format2 && !format3 && lines[0] != "vorlane-update 1") return std::nullopt;
  ManifestInput in;
  FeedFacts& f = in.facts;
  std::vector<std::pair<std::string_view, std::string*>> header = {{"name ", &f.name},
                                                                   {"version ", &f.version},
                                                                   {"channel ", &f.channel},
                                                                   {"arch ", &f.arch},
                                                                   {"date ", &f.date}};
  if (format2) header.emplace_back("expires ", &f.expires);
  std::size_t i = 1;
  for (const auto& [key, value] : header) {
    if (i >= lines.size() || !lines[i].starts_with(key)) return std::nullopt;
    *value = lines[i++].substr(key.size());
  }
  if (i >= lines.size() || !lines[i].starts_with("notes ")) return std::nullopt;
  std::optional<std::string> notes = base64_decode(lines[i++].substr(6));
  if (!notes) return std::nullopt;
  f.notes = *notes;
  for (; i < lines.size(); ++i) {
    const std::vector<std::string_view> w = split_view(lines[i], ' ');
    FeedEntry e;
    if (w[0] == "dir" && w.size() == 3) {
      e.kind = FeedEntry::Kind::kDir;
      e.path = lenient_decode(w[2]);
    } else if (w[0] == "link" && w.size() == 3) {
      e.kind = FeedEntry::Kind::kLink;
      e.link_target = lenient_decode(w[1]);
      e.path = lenient_decode(w[2]);
      e.mode = 0777;
    } else if (w[0] == "remake" && w.size() >= 2) {  // the writer derives the options
      e.path = lenient_decode(w[1]);
    } else if (w[0] == "file" && w.size() == 7) {
      const auto size = lenient_number<std::uint64_t>(w[2]);
      const auto mtime = lenient_number<std::int64_t>(w[4]);
      const auto stored = lenient_number<std::uint64_t>(w[5]);
      if (!size || !mtime || !stored) return std::nullopt;
      e.size = *size;
      e.sha256 = w[3];
      e.mtime = *mtime;
      e.stored = *stored;
      e.path = lenient_decode(w[6]);
    } else {
      return std::nullopt;
    }
    if (w[0] == "dir" || w[0] == "file") {
      const auto mode = lenient_number<unsigned>(w[1], 8);
      if (!mode) return std::nullopt;
      e.mode = *mode;
    }
    in.entries.push_back(std::move(e));
  }
  return in;
}

}  // namespace vorlane::publish::testing
