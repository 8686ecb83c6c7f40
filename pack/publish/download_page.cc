#include "pack/publish/download_page.h"

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

}  // namespace

std::string download_page(const PageFacts& f) {
  const std::string name = markup_escape(f.name);
  const std::string url = markup_escape(f.base_url);
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
  page +=
      "<h2>Downloads</h2>\n<table>\n<thead><tr><th>Package</th><th>Architecture</th>"
      "<th>Size</th><th>SHA-256</th></tr></thead>\n<tbody>\n";
  for (const Download& d : f.downloads) {
    page += "<tr><td><a href=\"" + markup_escape(d.path) + "\">" + markup_escape(d.label) +
            "</a></td><td>" + markup_escape(d.arch) + "</td><td>" + human_size(d.size) +
            "</td><td><code>" + markup_escape(d.sha256) + "</code></td></tr>\n";
  }
  page += "</tbody>\n</table>\n";
  const std::string keyring = "/etc/apt/keyrings/" + name + "-archive-keyring.gpg";
  if (f.has_deb) {
    page +=
        "<h2>Debian, Ubuntu</h2>\n<p>Add the repository, then install; updates come with the "
        "system's own.</p>\n<pre>sudo install -d -m 0755 /etc/apt/keyrings\n"
        "curl -fsSL " +
        url + "/KEY.gpg | sudo tee " + keyring +
        " &gt;/dev/null\n"
        "printf 'Types: deb\\nURIs: " +
        url + "\\nSuites: " + channel + "\\nComponents: main\\nSigned-By: " + keyring +
        "\\n' | sudo tee /etc/apt/sources.list.d/" + name +
        ".sources\nsudo apt update &amp;&amp; sudo apt install " + name + "</pre>\n";
  }
  if (f.has_rpm) {
    // Lines of the .repo file, for printf: its \n are printf's.
    const std::string repo = "[" + name + R"(]\nname=)" + name + R"(\nbaseurl=)" + url + "/rpm/" +
                             channel + R"(\ngpgcheck=1\nrepo_gpgcheck=1\ngpgkey=)" + url +
                             R"(/KEY.asc\n)";
    page += "<h2>Fedora, RHEL, openSUSE</h2>\n<pre>sudo rpm --import " + url + "/KEY.asc\n" +
            "printf '" + repo + "' | sudo tee /etc/yum.repos.d/" + name +
            ".repo\nsudo dnf install " + name + "</pre>\n";
  }
  page += "<p>Signed with the key <code>" + markup_escape(f.key_fingerprint) +
          "</code>: <a href=\"KEY.asc\">KEY.asc</a>, <a href=\"KEY.gpg\">KEY.gpg</a>.</p>\n"
          "</body>\n</html>\n";
  return page;
}

}  // namespace vorlane::publish
