#include "pack/publish/site_probe.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pack/publish/site_writer.h"
#include "testing/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane::publish {
namespace {

class SiteProbeTest : public testing::Test {
 public:
  std::string put(const std::string& name, const std::string& bytes) const {
    std::string path = (root_ / name).string();
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  ScopedTempDir temp_;
  const fs::path root_ = temp_.path();
};

TEST_F(SiteProbeTest, ATarballIsKnownByItsNameAndGzipMagic) {
  const std::string gzip = "\x1f\x8b rest";
  const std::string good = put("in/notes-1.2~rc1-linux-aarch64.tar.gz", gzip);
  Result<GivenPackage> p = probe_package(PublishTools(), good);
  ASSERT_TRUE(p) << p.error().message;
  EXPECT_EQ(p->format, PackageKind::kTarGz);
  EXPECT_EQ(p->name, "notes");
  EXPECT_EQ(p->version, "1.2~rc1");
  EXPECT_EQ(p->arch, "arm64");
  EXPECT_EQ(p->size, gzip.size());
  EXPECT_EQ(p->sha256.size(), 64U);

  const struct {
    std::string path;
    const char* refusal;
  } bad[] = {
      {put("in/notes-linux-x86_64.tar.gz", gzip), "is not named NAME-VERSION-linux-MACHINE"},
      {put("in/notes-1.0-linux-x86_64.tar.gz", "PK"), "is no .tar.gz (no gzip data)"},
      {put("in/notes-1.0.zip", gzip), "is no .deb, .rpm or .tar.gz"},
      {put("in/notes_1.0_amd64.deb", gzip), "is no .deb (no ar archive)"},
      {(root_ / "in/gone.deb").string(), "is no package file: it is missing"},
      {(root_ / "in").string(), "is no package file"},
  };
  for (const auto& row : bad) {
    Result<GivenPackage> refused = probe_package(PublishTools(), row.path);
    ASSERT_FALSE(refused) << row.path;
    EXPECT_EQ(refused.error().kind, ErrorKind::kBadInput);
    EXPECT_NE(refused.error().message.find(row.refusal), std::string::npos)
        << refused.error().message;
  }
}

TEST_F(SiteProbeTest, TheLockIsTakenOnceAndANewSiteGoesUnlessKept) {
  const std::string site = (root_ / "sites/new").string();
  {
    SiteLock first;
    ASSERT_TRUE(first.take(site));
    EXPECT_TRUE(first.made_site());
    SiteLock second;
    const Status refused = second.take(site);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find("another vorlane-pack publish is at work"),
              std::string::npos);
  }
  EXPECT_FALSE(fs::exists(site)) << "a site this run made and did not keep is removed";
  {
    SiteLock kept;
    ASSERT_TRUE(kept.take(site));
    kept.keep();
  }
  EXPECT_TRUE(fs::is_directory(site));
  SiteLock again;
  ASSERT_TRUE(again.take(site));
  EXPECT_FALSE(again.made_site());
}

TEST_F(SiteProbeTest, TheSiteIsItsManifestOrAFolderOfOtherFiles) {
  const std::string site = (root_ / "site").string();
  fs::create_directories(site);
  put("site/.vorlane-site.lock", "");
  Result<SiteFacts> empty = probe_site(site, false);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->exists);
  EXPECT_FALSE(empty->has_other) << "the lock is no other file";
  EXPECT_FALSE(empty->manifest);

  put("site/index.html", "<p>");
  Result<SiteFacts> other = probe_site(site, false);
  ASSERT_TRUE(other);
  EXPECT_TRUE(other->has_other);

  put("site/vorlane-site.txt", "vorlane-site 1\nname notes\nbase-url https://x.org\nkey FPR\n");
  Result<SiteFacts> ours = probe_site(site, false);
  ASSERT_TRUE(ours) << ours.error().message;
  ASSERT_TRUE(ours->manifest);
  EXPECT_EQ(ours->manifest->key_fingerprint, "FPR");

  put("site/vorlane-site.txt", "vorlane-site 1\nmystery line\n");
  EXPECT_FALSE(probe_site(site, false));
}

TEST_F(SiteProbeTest, SwitchInSwapsAFolderWholeAndRenamesAFile) {
  put("site/dists/stable/Release", "old");
  put("next/dists/Release", "new");
  put("next/KEY.asc", "key");
  ASSERT_TRUE(switch_in((root_ / "next/dists").string(), (root_ / "site/dists/stable").string()));
  ASSERT_TRUE(switch_in((root_ / "next/KEY.asc").string(), (root_ / "site/KEY.asc").string()));
  std::ifstream release(root_ / "site/dists/stable/Release");
  std::string text;
  release >> text;
  EXPECT_EQ(text, "new");
  EXPECT_FALSE(fs::exists(root_ / "next/dists")) << "the old tree is removed after the swap";
  EXPECT_TRUE(fs::exists(root_ / "site/KEY.asc"));
}

}  // namespace
}  // namespace vorlane::publish
