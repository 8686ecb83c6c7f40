#include "pack/publish/download_page.h"

#include <gtest/gtest.h>

namespace vorlane::publish {
namespace {

PageFacts facts() {
  PageFacts f;
  f.name = "tiny";
  f.summary = "Edits <notes> & more";
  f.description = "First paragraph\n  goes on.\n\nSecond \"one\".\n";
  f.version = "2.0-1";
  f.icon = "icon.svg";
  f.base_url = "https://example.org/tiny";
  f.channel = "stable";
  f.key_fingerprint = "FPR";
  f.has_deb = true;
  f.downloads = {
      {"Debian, Ubuntu (.deb)", "arm64", "pool/main/t/tiny/tiny_2.0-1_arm64.deb", 1500000, "ab12"}};
  return f;
}

bool has(const std::string& page, const std::string& text) {
  return page.find(text) != std::string::npos;
}

TEST(DownloadPage, Content) {
  const std::string page = download_page(facts());
  const char* expected[] = {
      "<title>tiny 2.0-1</title>",
      "name=\"viewport\" content=\"width=device-width",
      "<img src=\"icon.svg\"",
      "Edits &lt;notes&gt; &amp; more",
      "<p>First paragraph goes on.</p>",
      "<p>Second &quot;one&quot;.</p>",
      "<a href=\"pool/main/t/tiny/tiny_2.0-1_arm64.deb\">Debian, Ubuntu (.deb)</a>",
      "<td>1.5 MB</td><td><code>ab12</code>",
      ("curl -fsSL https://example.org/tiny/KEY.gpg | sudo tee "
       "/etc/apt/keyrings/tiny-archive-keyring.gpg"),
      ("printf &#39;%s\\n&#39; &#39;Types: deb&#39; &#39;URIs: https://example.org/tiny&#39; "
       "&#39;Suites: stable&#39; &#39;Components: main&#39; "
       "&#39;Signed-By: /etc/apt/keyrings/tiny-archive-keyring.gpg&#39; | sudo tee "
       "/etc/apt/sources.list.d/tiny.sources\n"),
      "sudo apt update &amp;&amp; sudo apt install tiny",
  };
  for (const char* text : expected) EXPECT_TRUE(has(page, text)) << text;
  EXPECT_FALSE(has(page, "<script"));
  // No .rpm on the site: no dnf commands.
  EXPECT_FALSE(has(page, "yum.repos.d"));
  PageFacts rpm_only = facts();
  rpm_only.has_deb = false;
  rpm_only.has_rpm = true;
  rpm_only.icon.clear();
  const std::string rpm_page = download_page(rpm_only);
  EXPECT_TRUE(has(rpm_page,
                  "printf &#39;%s\\n&#39; &#39;[tiny]&#39; name=tiny "
                  "baseurl=https://example.org/tiny/rpm/stable gpgcheck=1 repo_gpgcheck=1 "
                  "gpgkey=https://example.org/tiny/KEY.asc | sudo tee /etc/yum.repos.d/tiny.repo"));
  EXPECT_FALSE(has(rpm_page, "sources.list.d"));
  EXPECT_FALSE(has(rpm_page, "<img"));
}

TEST(DownloadPage, ShellWords) {
  // What a pasted command gets: a word that runs nothing and keeps its bytes.
  const struct {
    const char* text;
    const char* word;
  } rows[] = {
      {"https://example.org/my%20app", "https://example.org/my%20app"},
      {"https://example.org/a;{touch,/tmp/pwned};", "'https://example.org/a;{touch,/tmp/pwned};'"},
      {"$(id) `id` & | > *", "'$(id) `id` & | > *'"},
      {"it's", "'it'\\''s'"},
      {"~user", "'~user'"},
      {"back\\slash \\n", "'back\\slash \\n'"},
      {"", "''"},
  };
  for (const auto& row : rows) EXPECT_EQ(shell_word(row.text), row.word) << row.text;
  EXPECT_EQ(printf_lines({"a %s b", "c\\nd"}), "printf '%s\\n' 'a %s b' 'c\\nd'");
  // Whatever the site's facts, the commands hold them as quoted words.
  PageFacts hostile = facts();
  hostile.base_url = "https://example.org/a;touch${IFS}x";
  hostile.has_rpm = true;
  const std::string page = download_page(hostile);
  EXPECT_TRUE(has(page, "curl -fsSL &#39;https://example.org/a;touch${IFS}x/KEY.gpg&#39; |"));
  EXPECT_TRUE(has(page, "&#39;URIs: https://example.org/a;touch${IFS}x&#39;"));
  EXPECT_TRUE(has(page, "sudo rpm --import &#39;https://example.org/a;touch${IFS}x/KEY.asc&#39;"));
  EXPECT_TRUE(has(page, "&#39;baseurl=https://example.org/a;touch${IFS}x/rpm/stable&#39;"));
}

TEST(DownloadPage, Sizes) {
  const struct {
    std::uint64_t bytes;
    const char* text;
  } rows[] = {{0, "0 bytes"},     {999, "999 bytes"},  {1000, "1 kB"},       {812400, "812 kB"},
              {999999, "1.0 MB"}, {1000000, "1.0 MB"}, {48250000, "48.2 MB"}};
  for (const auto& row : rows) EXPECT_EQ(human_size(row.bytes), row.text) << row.bytes;
}

TEST(DownloadPage, WhatThePackagesRunOn) {
  const struct {
    const char* depends;
    std::optional<GlibcVersion> floor;
  } rows[] = {
      {"libc6 (>= 2.17), libx11-6", GlibcVersion{2, 17}},
      {"libasound2 (>= 1.0.16),libc6 (>= 2.31)", GlibcVersion{2, 31}},
      {"libc6 (>=2.36-9)", GlibcVersion{2, 36}},
      {"libc6 (>= 2.2.5)", GlibcVersion{2, 2, 5}},
      // No plain floor: no claim.
      {"libc6", std::nullopt},
      {"libc6 (>= 2.17) | musl, libx11-6", std::nullopt},
      {"libc6-dev (>= 2.17)", std::nullopt},
      {"libc6 (<< 2.40)", std::nullopt},
      {"libc6 (>= two)", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(libc6_floor(row.depends), row.floor) << row.depends;

  PageFacts f = facts();
  EXPECT_FALSE(has(download_page(f), "glibc"));
  f.glibc_floor = GlibcVersion{2, 17};
  EXPECT_TRUE(has(download_page(f),
                  "Runs on Linux with glibc 2.17 or later (Debian 11+, Ubuntu 20.04+, Fedora 37+, "
                  "RHEL 8+)."));
  f.glibc_floor = GlibcVersion{2, 99};
  EXPECT_TRUE(has(download_page(f), "Runs on Linux with glibc 2.99 or later.</p>"));
}

}  // namespace
}  // namespace vorlane::publish
