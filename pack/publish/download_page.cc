#include "pack/publish/download_page.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "pack/core/strings.h"

namespace vorlane::publish {

std::string human_size(std::uint64_t bytes) {
  char buffer[32];
  if (bytes >= 999500) {  // what would print as "1000 kB"
    (void)std::snprintf(buffer, sizeof buffer, "%.1f MB", static_cast<double>(bytes) / 1e6);
  } else if (bytes >= 1000) {
    (void)std::snprintf(buffer, sizeof buffer, "%.0f kB", static_cast<double>(bytes) / 1e3);
  } else {
    (void)std::snprintf(buffer, sizeof buffer, "%llu bytes",
                        static_cast<unsigned long long>(bytes));
  }
  return buffer;
}

namespace {

std::string paragraphs(const std::string& text) {
  std::string out;
  std::string current;
  for (const std::string& line : split_lines(text)) {
    if (line.find_first_not_of(" \t") == std::string::npos) {
      if (!current.empty()) out += "<p>" + markup_escape(current) + "</p>\n";
      current.clear();
    } else {
      // Appended, not " " + rest: GCC 12 at -O3 sees a false overlap in the latter.
      if (!current.empty()) current += ' ';
      current += line.substr(line.find_first_not_of(" \t"));
    }
  }
  if (!current.empty()) out += "<p>" + markup_escape(current) + "</p>\n";
  return out;
}

std::string_view trimmed(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t\n");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\n") - begin + 1);
}

}  // namespace

std::optional<GlibcVersion> libc6_floor(std::string_view depends) {
  while (!depends.empty()) {
    const std::size_t comma = depends.find(',');
    const std::string_view entry = trimmed(depends.substr(0, comma));
    depends = comma == std::string_view::npos ? std::string_view() : depends.substr(comma + 1);
    constexpr std::string_view kPrefix = "libc6 (>=";
    if (!entry.starts_with(kPrefix) || !entry.ends_with(')')) continue;
    std::string_view version =
        trimmed(entry.substr(kPrefix.size(), entry.size() - kPrefix.size() - 1));
    // The upstream version only: a Debian revision or a tilde adds nothing to the glibc.
    version = version.substr(0, version.find_first_of("-~+"));
    return glibc_version_of("GLIBC_" + std::string(version));
  }
  return std::nullopt;
}

std::string shell_word(std::string_view text) {
  const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           std::string_view("-._/:@%+=,").find(c) != std::string_view::npos;
  });
  if (plain) return std::string(text);
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string printf_lines(const std::vector<std::string>& lines) {
  // The lines are arguments, never the format: a '%' or '\\' in them stays as it is.
  std::string out = "printf '%s\\n'";
  for (const std::string& line : lines) {
    out += ' ';
    out += shell_word(line);
  }
  return out;
}

std::string download_page(const PageFacts& f) {
  const std::string name = markup_escape(f.name);
  const std::string channel = markup_escape(f.channel);
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>" +
      name + " " + markup_escape(f.version) +
      "</title>\n"
      "<style>\n"
      "body{font-family:system-ui,sans-serif;max-width:50rem;margin:0 auto;padding:1rem;"
      "line-height:1.5;color:#222;background:#fff}\n"
      "header{display:flex;align-items:center;gap:1rem}\n"
      "header img{width:4rem;height:4rem}\n"
      "h1{margin:0;font-size:1.8rem}\n"
      ".version{color:#555}\n"
      "table{border-collapse:collapse;width:100%}\n"
      "th,td{text-align:left;padding:.4rem;border-bottom:1px solid #ddd;vertical-align:top}\n"
      "code,pre{font-family:ui-monospace,monospace;font-size:.85rem}\n"
      "td code{word-break:break-all}\n"
      "pre{background:#f4f4f4;padding:.6rem;overflow-x:auto;white-space:pre}\n"
      "@media (max-width:40rem){thead{display:none}tr{display:block;padding:.4rem 0;"
      "border-bottom:1px solid #ddd}td{display:block;border:0;padding:.1rem 0}}\n"
      "</style>\n</head>\n<body>\n<header>\n";
  if (!f.icon.empty()) {
    page += "<img src=\"" + markup_escape(f.icon) + "\" alt=\"\">\n";
  }
  page += "<div><h1>" + name + "</h1>\n<div class=\"version\">Version " + markup_escape(f.version) +
          " (" + channel + ")</div></div>\n</header>\n";
  if (!f.summary.empty()) page += "<p><strong>" + markup_escape(f.summary) + "</strong></p>\n";
  page += paragraphs(f.description);
  if (f.glibc_floor) {
    const std::string systems = systems_from(*f.glibc_floor);
    page += "<p>Runs on Linux with glibc " + f.glibc_floor->text() + " or later" +
            (systems.empty() ? "" : " (" + markup_escape(systems) + ")") + ".</p>\n";
  }
  page +=
      "<h2>Downloads</h2>\n<table>\n<thead><tr><th>Package</th><th>Architecture</th>"
      "<th>Size</th><th>SHA-256</th></tr></thead>\n<tbody>\n";
  for (const Download& d : f.downloads) {
    page += "<tr><td><a href=\"" + markup_escape(d.path) + "\">" + markup_escape(d.label) +
            "</a></td><td>" + markup_escape(d.arch) + "</td><td>" + human_size(d.size) +
            "</td><td><code>" + markup_escape(d.sha256) + "</code></td></tr>\n";
  }
  page += "</tbody>\n</table>\n";
  // The commands as a shell reads them, marked up as a whole after.
  const std::string keyring = "/etc/apt/keyrings/" + f.name + "-archive-keyring.gpg";
  if (f.has_deb) {
    const std::string commands =
        "sudo install -d -m 0755 /etc/apt/keyrings\n"
        "curl -fsSL " +
        shell_word(f.base_url + "/KEY.gpg") + " | sudo tee " + shell_word(keyring) +
        " >/dev/null\n" +
        printf_lines({"Types: deb", "URIs: " + f.base_url, "Suites: " + f.channel,
                      "Components: main", "Signed-By: " + keyring}) +
        " | sudo tee " + shell_word("/etc/apt/sources.list.d/" + f.name + ".sources") +
        "\nsudo apt update && sudo apt install " + shell_word(f.name);
    page +=
        "<h2>Debian, Ubuntu</h2>\n<p>Add the repository, then install; updates come with the "
        "system's own.</p>\n<pre>" +
        markup_escape(commands) + "</pre>\n";
  }
  if (f.has_rpm) {
    const std::string commands =
        "sudo rpm --import " + shell_word(f.base_url + "/KEY.asc") + "\n" +
        printf_lines({"[" + f.name + "]", "name=" + f.name,
                      "baseurl=" + f.base_url + "/rpm/" + f.channel, "gpgcheck=1",
                      "repo_gpgcheck=1", "gpgkey=" + f.base_url + "/KEY.asc"}) +
        " | sudo tee " + shell_word("/etc/yum.repos.d/" + f.name + ".repo") +
        "\nsudo dnf install " + shell_word(f.name);
    page += "<h2>Fedora, RHEL, openSUSE</h2>\n<pre>" + markup_escape(commands) + "</pre>\n";
  }
  page += "<p>Signed with the key <code>" + markup_escape(f.key_fingerprint) +
          "</code>: <a href=\"KEY.asc\">KEY.asc</a>, <a href=\"KEY.gpg\">KEY.gpg</a>.</p>\n"
          "</body>\n</html>\n";
  return page;
}

}  // namespace vorlane::publish
