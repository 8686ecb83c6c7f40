#include "pack/publish/site_plan.h"

#include <gtest/gtest.h>

#include <functional>

namespace vorlane::publish {
namespace {

GivenPackage deb(const std::string& version, const std::string& arch = "amd64",
                 const std::string& sha = "aa") {
  return {"in/tiny_" + version + "_" + arch + ".deb",
          PackageKind::kDeb,
          "tiny",
          version,
          arch,
          "A tiny app",
          100,
          sha};
}

GivenPackage rpm(const std::string& version, const std::string& sha = "bb") {
  GivenPackage p = deb(version, "amd64", sha);
  p.format = PackageKind::kRpm;
  p.source = "in/tiny.rpm";
  return p;
}

PublishOptions options() {
  PublishOptions o;
  o.site = "site";
  o.base_url = "https://example.org/tiny/";
  o.signing_key = "key.asc";
  return o;
}

SiteFacts new_site() {
  SiteFacts s;
  s.key_fingerprint = "FPR1";
  return s;
}

/// A site on which `packages` were published with the default options.
SiteFacts site_with(const std::vector<GivenPackage>& packages,
                    const std::string& channel = "stable") {
  PublishOptions o = options();
  o.channel = channel;
  Result<PublishPlan> plan = plan_publish(o, new_site(), packages);
  EXPECT_TRUE(plan) << plan.error().message;
  SiteFacts s = new_site();
  s.exists = true;
  s.manifest = plan->manifest;
  return s;
}

TEST(SitePlan, SitePaths) {
  GivenPackage arm = deb("1:2.0-3", "arm64");
  EXPECT_EQ(site_path(arm, "beta"), "pool/main/t/tiny/tiny_2.0-3_arm64.deb");
  arm.format = PackageKind::kRpm;
  EXPECT_EQ(site_path(arm, "beta"), "rpm/beta/Packages/tiny-2.0-3.aarch64.rpm");
  GivenPackage tar = deb("2.0");
  tar.format = PackageKind::kTarGz;
  EXPECT_EQ(site_path(tar, "stable"), "files/tiny-2.0-linux-x86_64.tar.gz");
}

TEST(SitePlan, Refusals) {
  using Change = std::function<void(PublishOptions&, SiteFacts&, std::vector<GivenPackage>&)>;
  const SiteFacts published = site_with({deb("1.0-1"), rpm("1.0-1")});
  const struct {
    const char* what;
    Change change;
    const char* message;
  } rows[] = {
      {"no site", [](auto& o, auto&, auto&) { o.site.clear(); }, "no site folder"},
      {"no package", [](auto&, auto&, auto& p) { p.clear(); }, "no package given"},
      {"a channel with a slash", [](auto& o, auto&, auto&) { o.channel = "a/b"; }, "no channel"},
      {"a channel in capitals", [](auto& o, auto&, auto&) { o.channel = "Beta"; }, "no channel"},
      {"keep 0", [](auto& o, auto&, auto&) { o.keep = "0"; }, "--keep '0' is no whole number"},
      {"keep -1", [](auto& o, auto&, auto&) { o.keep = "-1"; }, "--keep '-1'"},
      {"keep +1", [](auto& o, auto&, auto&) { o.keep = "+1"; }, "--keep '+1'"},
      {"keep 1.5", [](auto& o, auto&, auto&) { o.keep = "1.5"; }, "--keep '1.5'"},
      {"keep in hex", [](auto& o, auto&, auto&) { o.keep = "0x10"; }, "--keep '0x10'"},
      {"keep with a blank", [](auto& o, auto&, auto&) { o.keep = " 2"; }, "--keep ' 2'"},
      {"keep too big", [](auto& o, auto&, auto&) { o.keep = "100001"; }, "from 1 to 100000"},
      {"keep beyond int", [](auto& o, auto&, auto&) { o.keep = "99999999999"; }, "--keep"},
      {"valid days 0", [](auto& o, auto&, auto&) { o.feed_valid_days = "0"; },
       "--feed-valid-days '0' is no whole number of days from 1 to 3650"},
      {"valid days 3651", [](auto& o, auto&, auto&) { o.feed_valid_days = "3651"; },
       "--feed-valid-days '3651'"},
      {"valid days -5", [](auto& o, auto&, auto&) { o.feed_valid_days = "-5"; },
       "--feed-valid-days '-5'"},
      {"valid days 1e3", [](auto& o, auto&, auto&) { o.feed_valid_days = "1e3"; },
       "--feed-valid-days '1e3'"},
      {"a folder not ours", [](auto&, auto& s, auto&) { s.has_other = true; }, "no site made by"},
      {"a tarball with an epoch for the feed",
       [](auto&, auto& s, auto& p) {
         s.feed_key = "MCowBQYDK2VwAyEA";
         p[0].format = PackageKind::kTarGz;
         p[0].version = "1:2.0";
       },
       "has an epoch, which the self-updater takes not"},
      {"a ftp address", [](auto& o, auto&, auto&) { o.base_url = "ftp://x.org"; }, "--base-url"},
      {"an address with a blank", [](auto& o, auto&, auto&) { o.base_url = "http://a b"; },
       "--base-url"},
      {"an address with a quote", [](auto& o, auto&, auto&) { o.base_url = "http://a'b"; },
       "--base-url"},
      {"an address with no host", [](auto& o, auto&, auto&) { o.base_url = "https://"; },
       "--base-url"},
      {"an address with an empty host", [](auto& o, auto&, auto&) { o.base_url = "https:///a"; },
       "--base-url"},
      {"a shell command in the address",
       [](auto& o, auto&, auto&) { o.base_url = "https://example.org/a;{touch,/tmp/pwned};"; },
       "--base-url"},
      {"a pipe", [](auto& o, auto&, auto&) { o.base_url = "https://x.org/a|b"; }, "--base-url"},
      {"an ampersand", [](auto& o, auto&, auto&) { o.base_url = "https://x.org/?a&b"; },
       "--base-url"},
      {"a subshell", [](auto& o, auto&, auto&) { o.base_url = "https://x.org/$(id)"; },
       "--base-url"},
      {"a glob", [](auto& o, auto&, auto&) { o.base_url = "https://x.org/*"; }, "--base-url"},
      {"a newline", [](auto& o, auto&, auto&) { o.base_url = "https://x.org/\nid"; }, "--base-url"},
      {"no address on a first publish", [](auto& o, auto&, auto&) { o.base_url.clear(); },
       "needs --base-url"},
      {"an unsafe address recorded by an older publish",
       [&](auto& o, auto& s, auto&) {
         s = published;
         s.manifest->base_url = "https://x.org/a;id";
         o.base_url.clear();
       },
       "records the address 'https://x.org/a;id'"},
      {"another key",
       [&](auto&, auto& s, auto&) {
         s = published;
         s.key_fingerprint = "FPR2";
       },
       "is signed with the key FPR1"},
      {"another feed key",
       [&](auto&, auto& s, auto&) {
         s = published;
         s.manifest->feed_key = "KEY1";
         s.feed_key = "KEY2";
       },
       "signed with the feed key KEY1"},
      {"an unsafe name", [](auto&, auto&, auto& p) { p[0].name = "../x"; }, "no package name"},
      {"a version with a slash", [](auto&, auto&, auto& p) { p[0].version = "1/2"; },
       "no package version"},
      {"i386", [](auto&, auto&, auto& p) { p[0].arch = "i386"; }, "'i386' is not published"},
      {"two apps",
       [](auto&, auto&, auto& p) {
         p.push_back(deb("1.0-1"));
         p[1].name = "other";
       },
       "one app a site"},
      {"another app than the site's",
       [&](auto&, auto& s, auto& p) {
         s = published;
         p[0].name = "other";
       },
       "the site publish"},
      {"the same version twice with other bytes",
       [](auto&, auto&, auto& p) { p.push_back(deb("1.0-1", "amd64", "cc")); }, "other bytes"},
      {"other bytes under a published version",
       [&](auto&, auto& s, auto& p) {
         s = published;
         p[0].sha256 = "cc";
       },
       "published already with other bytes"},
      {"an .rpm of another channel with other bytes",
       [&](auto& o, auto& s, auto& p) {
         s = published;
         o.channel = "beta";
         p = {rpm("1.0-1", "cc")};
       },
       "published already with other bytes"},
  };
  for (const auto& row : rows) {
    PublishOptions o = options();
    SiteFacts s = new_site();
    std::vector<GivenPackage> p = {deb("1.0-1")};
    row.change(o, s, p);
    Result<PublishPlan> plan = plan_publish(o, s, p);
    ASSERT_FALSE(plan) << row.what;
    EXPECT_EQ(plan.error().kind, ErrorKind::kBadInput) << row.what;
    EXPECT_NE(plan.error().message.find(row.message), std::string::npos)
        << row.what << ": " << plan.error().message;
  }
}

TEST(SitePlan, Outcomes) {
  const SiteFacts published = site_with({deb("1.0-1"), rpm("1.0-1")});
  const struct {
    const char* what;
    std::function<void(PublishOptions&)> change;
    std::vector<GivenPackage> packages;
    bool no_op;
    std::vector<std::string> copies;  ///< the sources copied
    std::size_t entries;
  } rows[] = {
      {"the same packages again", [](auto&) {}, {deb("1.0-1"), rpm("1.0-1")}, true, {}, 2},
      {"one of them given twice", [](auto&) {}, {deb("1.0-1"), deb("1.0-1")}, true, {}, 2},
      {"a new version",
       [](auto&) {},
       {deb("2.0-1", "amd64", "dd")},
       false,
       {"in/tiny_2.0-1_amd64.deb"},
       3},
      {"the same packages with an expiry: the feed is signed again",
       [](auto& o) { o.feed_valid_days = "30"; },
       {deb("1.0-1")},
       false,
       {},
       2},
      {"another keep, nothing new", [](auto& o) { o.keep = "2"; }, {deb("1.0-1")}, false, {}, 2},
      {"an escaped blank in the address",
       [](auto& o) { o.base_url = "https://example.org/my%20app"; },
       {deb("1.0-1")},
       false,
       {},
       2},
      {"another address, nothing new",
       [](auto& o) { o.base_url = "https://example.org/t2"; },
       {deb("1.0-1")},
       false,
       {},
       2},
      {"the .deb in another channel: the pool's file serves it",
       [](auto& o) { o.channel = "beta"; },
       {deb("1.0-1")},
       false,
       {},
       3},
      {"the .rpm in another channel: copied from the site, signed already",
       [](auto& o) { o.channel = "beta"; },
       {rpm("1.0-1")},
       false,
       {"site/rpm/stable/Packages/tiny-1.0-1.x86_64.rpm"},
       3},
  };
  for (const auto& row : rows) {
    PublishOptions o = options();
    row.change(o);
    Result<PublishPlan> plan = plan_publish(o, published, row.packages);
    ASSERT_TRUE(plan) << row.what << ": " << plan.error().message;
    EXPECT_EQ(plan->no_op, row.no_op) << row.what;
    std::vector<std::string> sources;
    for (const Copy& c : plan->copies) sources.push_back(c.source);
    EXPECT_EQ(sources, row.copies) << row.what;
    EXPECT_EQ(plan->manifest.entries.size(), row.entries) << row.what;
  }
  // A new .rpm is signed on the site; a copy of a signed one is not signed again.
  Result<PublishPlan> first = plan_publish(options(), new_site(), {rpm("1.0-1")});
  ASSERT_TRUE(first);
  ASSERT_EQ(first->copies.size(), 1u);
  EXPECT_TRUE(first->copies[0].sign);
  EXPECT_EQ(first->manifest.base_url, "https://example.org/tiny");
  EXPECT_EQ(first->manifest.keep.at("stable"), kDefaultKeep);
  EXPECT_EQ(first->feed_valid_days, 0);
  PublishOptions bounds = options();
  bounds.keep = "100000";
  bounds.feed_valid_days = "3650";
  Result<PublishPlan> at_bounds = plan_publish(bounds, new_site(), {deb("1.0-1")});
  ASSERT_TRUE(at_bounds) << at_bounds.error().message;
  EXPECT_EQ(at_bounds->manifest.keep.at("stable"), 100000);
  EXPECT_EQ(at_bounds->feed_valid_days, 3650);
}

TEST(SitePlan, KeepListsTheNewestVersions) {
  Manifest m;
  m.keep["stable"] = 2;
  // Published out of order, on two architectures, in two channels.
  for (const char* v : {"1.0-1", "3.0-1", "10.0-1", "2.0-1"}) {
    for (const char* arch : {"amd64", "arm64"}) {
      m.entries.push_back({"stable", PackageKind::kDeb, "tiny", v, arch, "p", "s", "s", 1, ""});
    }
  }
  m.entries.push_back({"beta", PackageKind::kDeb, "tiny", "11.0-1", "amd64", "p", "s", "s", 1, ""});
  std::vector<std::string> listed;
  for (const SiteEntry& e : indexed_entries(m, "stable"))
    listed.push_back(e.arch + " " + e.version);
  EXPECT_EQ(listed, (std::vector<std::string>{"amd64 10.0-1", "amd64 3.0-1", "arm64 10.0-1",
                                              "arm64 3.0-1"}));
  EXPECT_EQ(indexed_entries(m, "beta").size(), 1u);
}

TEST(SitePlan, ManifestRoundTripAndRefusals) {
  const SiteFacts site = site_with({deb("1.0-1"), rpm("2.0-1")});
  Manifest m = *site.manifest;
  m.entries[0].summary = "tabs\tand\nbreaks";
  m.feed_key = "MCowBQYDK2VwAyEA";
  Result<Manifest> back = parse_manifest(format_manifest(m));
  ASSERT_TRUE(back) << back.error().message;
  EXPECT_EQ(format_manifest(*back), format_manifest(m));
  EXPECT_EQ(back->entries[0].summary, "tabs and breaks");
  EXPECT_EQ(back->entries[1].format, PackageKind::kRpm);
  EXPECT_EQ(back->feed_key, m.feed_key);

  const struct {
    const char* text;
    const char* message;
  } rows[] = {
      {"", "does not start with"},
      {"vorlane-site 2\n", "does not start with"},
      {"vorlane-site 1\nname t\nkey K\nkeep stable zero\n", "line 4: 'keep' needs"},
      {"vorlane-site 1\nname t\nkey K\nentry\tstable\tdeb\n", "line 4: an entry needs 11"},
      {"vorlane-site 1\nname t\nkey K\nentry\ts\tzip\tt\t1\tamd64\tp\ta\tb\t1\t\n", "an entry"},
      {"vorlane-site 1\nname t\nkey K\nwhat is this\n", "unknown line"},
      {"vorlane-site 1\nname t\nkey K\nfeed-key \n", "line 4: 'feed-key' needs"},
      {"vorlane-site 1\nname t\n", "names no app or no key"},
      // Entry paths other than the one publish gives: the record is a file of the public site.
      {"vorlane-site 1\nname t\nkey K\nentry\tstable\ttar.gz\tt\t1.0\tamd64\t"
       "../private/t-1.0-linux-x86_64.tar.gz\ta\ta\t1\t\n",
       "line 4: the entry's path '../private/t-1.0-linux-x86_64.tar.gz' is not "
       "files/t-1.0-linux-x86_64.tar.gz"},
      {"vorlane-site 1\nname t\nkey K\nentry\tbeta\trpm\tt\t1.0-1\tamd64\t"
       "rpm/stable/Packages/t-1.0-1.x86_64.rpm\ta\ta\t1\t\n",
       "is not rpm/beta/Packages/t-1.0-1.x86_64.rpm"},
      {"vorlane-site 1\nname t\nkey K\nentry\tstable\tdeb\t..\t1.0\tamd64\t"
       "pool/main/./../.._1.0_amd64.deb\ta\ta\t1\t\n",
       "bad channel, name, version or architecture"},
      {"vorlane-site 1\nname t\nkey K\nentry\t..\trpm\tt\t1.0\tamd64\t"
       "rpm/../Packages/t-1.0.x86_64.rpm\ta\ta\t1\t\n",
       "bad channel, name, version or architecture"},
  };
  for (const auto& row : rows) {
    Result<Manifest> parsed = parse_manifest(row.text);
    ASSERT_FALSE(parsed) << row.text;
    EXPECT_NE(parsed.error().message.find(row.message), std::string::npos)
        << row.text << ": " << parsed.error().message;
  }
}

}  // namespace
}  // namespace vorlane::publish
