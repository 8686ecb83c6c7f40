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
      "Suites: stable\\nComponents: main\\nSigned-By: /etc/apt/keyrings/tiny-archive-keyring.gpg",
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
  EXPECT_TRUE(
      has(rpm_page, "baseurl=https://example.org/tiny/rpm/stable\\ngpgcheck=1\\nrepo_gpgcheck=1"));
  EXPECT_FALSE(has(rpm_page, "sources.list.d"));
  EXPECT_FALSE(has(rpm_page, "<img"));
}

TEST(DownloadPage, Sizes) {
  const struct {
    std::uint64_t bytes;
    const char* text;
  } rows[] = {{0, "0 bytes"},     {999, "999 bytes"},  {1000, "1 kB"},       {812400, "812 kB"},
              {999999, "1.0 MB"}, {1000000, "1.0 MB"}, {48250000, "48.2 MB"}};
  for (const auto& row : rows) EXPECT_EQ(human_size(row.bytes), row.text) << row.bytes;
}

}  // namespace
}  // namespace vorlane::publish
