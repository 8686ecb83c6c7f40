#include "pack/publish/feed_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pack/publish/feed_vectors.h"

namespace vorlane::publish {
namespace {

using Kind = FeedEntry::Kind;
const std::string kHash(64, 'a');

FeedEntry file(std::string path, std::uint64_t size = 3) {
  return {std::move(path), Kind::kFile, 0644, size, kHash, 1700000000, 20, ""};
}
FeedEntry dir(std::string path) { return {std::move(path), Kind::kDir, 0755, 0, "", 0, 0, ""}; }
FeedEntry link(std::string path, std::string target) {
  return {std::move(path), Kind::kLink, 0777, 0, "", 0, 0, std::move(target)};
}

std::vector<FeedEntry> many_dirs(std::size_t n) {
  std::vector<FeedEntry> out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(dir(std::to_string(i)));
  return out;
}

const FeedFacts kFacts{"notes", "1.1-1", "stable", "amd64", "2026-12-08T03:00:00Z", "", "Fixed\n"};

TEST(FeedPlanTest, BodyIsTheHeaderThenEntriesSortedByRawPath) {
  Result<std::string> body =
      manifest_body(kFacts,
                    {file("lib/b b"), file("\xc3\xa9"), dir("lib"), file("z"),
                     link("bin/notes", "../lib/launcher"), file("lib/a")},
                    "");
  ASSERT_TRUE(body) << body.error().message;
  EXPECT_EQ(*body,
            "vorlane-update 1\nname notes\nversion 1.1-1\nchannel stable\narch amd64\n"
            "date 2026-12-08T03:00:00Z\nnotes Rml4ZWQK\n"
            "link ../lib/launcher bin/notes\n"
            "dir 0755 lib\n"
            "file 0644 3 " +
                kHash +
                " 1700000000 20 lib/a\n"
                "file 0644 3 " +
                kHash + " 1700000000 20 lib/b%20b\nfile 0644 3 " + kHash +
                " 1700000000 20 z\nfile 0644 3 " + kHash + " 1700000000 20 %C3%A9\n");
  FeedFacts facts = kFacts;
  facts.notes = "";
  Result<std::string> empty = manifest_body(facts, {}, "");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->starts_with("vorlane-update 1\n")) << *empty;
  EXPECT_TRUE(empty->ends_with("\ndate 2026-12-08T03:00:00Z\nnotes \n")) << *empty;
  facts.expires = "2027-01-01T00:00:00Z";
  Result<std::string> expiring = manifest_body(facts, {}, "");
  ASSERT_TRUE(expiring);
  EXPECT_TRUE(expiring->starts_with("vorlane-update 2\n")) << *expiring;
  EXPECT_TRUE(
      expiring->ends_with("\ndate 2026-12-08T03:00:00Z\nexpires 2027-01-01T00:00:00Z\nnotes \n"));
}

TEST(FeedPlanTest, RefusesHeadersAClientWouldRefuse) {
  const auto with = [](auto change) {
    FeedFacts f = kFacts;
    change(f);
    return f;
  };
  const FeedFacts cases[] = {
      with([](FeedFacts& f) { f.date = "2026-12-08 03:00:00"; }),
      with([](FeedFacts& f) { f.expires = "2027-02-29T00:00:00Z"; }),
      with([](FeedFacts& f) { f.expires = f.date; }),
      with([](FeedFacts& f) { f.name = "a\rb"; }),
      with([](FeedFacts& f) { f.version = "1\n2"; }),
      with([](FeedFacts& f) { f.channel = "\xff"; }),
      with([](FeedFacts& f) { f.notes = std::string(kManifestMaxNotes + 1, 'x'); }),
      with([](FeedFacts& f) { f.name = std::string(kManifestMaxLine, 'x'); }),
  };
  for (const FeedFacts& f : cases) {
    Result<std::string> body = manifest_body(f, {file("a")}, "");
    ASSERT_FALSE(body) << f.name.size() << " " << f.date << " " << f.expires;
    EXPECT_EQ(body.error().kind, ErrorKind::kBadInput);
  }
  EXPECT_TRUE(manifest_body(with([](FeedFacts& f) { f.notes.assign(kManifestMaxNotes, 'x'); }),
                            {file("a")}, ""));
}

TEST(FeedPlanTest, RefusesEntriesThatLeaveTheTreeOrRepeat) {
  const std::vector<std::vector<FeedEntry>> cases = {
      {file("")},
      {file("/etc/passwd")},
      {file("lib/../x")},
      {file("lib/./x")},
      {file("lib//x")},
      {file("lib/")},
      {file("a"), file("a")},
      {link("bin/x", "/usr/bin/java")},
      {link("bin/x", "../../outside")},
      {link("bin/x", "")},
      // Through another link: `s -> .` turns the text's climb back into one out.
      {link("s", "."), link("x", "s/s/s/s/../../../..")},
      {dir("d"), link("d/s", ".."), link("x", "d/s/d/s/..")},
      {link("s", "d"), dir("d"), file("d/f"), link("x", "s/f")},
      {FeedEntry{"a", Kind::kFile, 0644, 1, "ABC", 0, 0, ""}},
      {file("a", kManifestMaxSize + 1)},
      {FeedEntry{"a", Kind::kFile, 0644, 1, kHash, 0, kManifestMaxSize + 1, ""}},
      {FeedEntry{"a", Kind::kFile, 0644, 1, kHash, -1, 0, ""}},
      {FeedEntry{"a", Kind::kFile, 0644, 1, kHash, kManifestMaxTime + 1, 0, ""}},
      {file("a\xff")},
      {file(std::string("a\0b", 3))},
      {file(std::string(kManifestMaxPath + 1, 'a'))},
      {link("a", std::string(kManifestMaxPath, 'b') + "/b")},
      {link("a", "b\xff")},
      {file("a"), file("a/b")},
      {link("l", "a"), dir("l/d")},
      many_dirs(kManifestMaxEntries + 1),
  };
  for (const std::vector<FeedEntry>& entries : cases) {
    Result<std::string> body = manifest_body(kFacts, entries, "");
    ASSERT_FALSE(body) << entries[0].path;
    EXPECT_EQ(body.error().kind, ErrorKind::kBadInput);
  }
  EXPECT_TRUE(manifest_body(kFacts, {link("lib/a/b", "../../bin/x")}, ""));
  // A link may name another link as its last component, and climb back out of a real folder.
  EXPECT_TRUE(manifest_body(kFacts, {link("s", "."), link("x", "d/../s"), dir("d")}, ""));
  EXPECT_TRUE(manifest_body(kFacts, {file("a", kManifestMaxSize), dir("a-"), file("a-/b")}, ""));
  EXPECT_TRUE(manifest_body(kFacts, many_dirs(kManifestMaxEntries), ""));
}

TEST(FeedPlanTest, RefusesAManifestOverTheBytesAClientReads) {
  // 100,000 files with paths of 150 bytes are more than 16 MiB.
  std::vector<FeedEntry> entries;
  for (std::size_t i = 0; i < kManifestMaxEntries; ++i) {
    entries.push_back(file(std::to_string(i) + std::string(150, 'x')));
  }
  Result<std::string> body = manifest_body(kFacts, entries, "");
  ASSERT_FALSE(body);
  EXPECT_NE(body.error().message.find("clients read at most"), std::string::npos);
  entries.resize(kManifestMaxEntries / 2);
  EXPECT_TRUE(manifest_body(kFacts, entries, ""));
}

// The vectors the updater's ManifestTest reads too: the writer makes each
// valid one from its entries, byte for byte, and no invalid one.
TEST(FeedPlanTest, WritesTheValidVectorsAndNoInvalidOne) {
  const std::filesystem::path folder = std::filesystem::path(VORLANE_TESTDATA_DIR) / "manifests";
  std::ifstream index(folder / "index.txt");
  int valid = 0;
  int rewritten = 0;
  for (std::string line; std::getline(index, line);) {
    if (line.starts_with("#")) continue;
    const std::string name = line.substr(0, line.find(' '));
    const bool ok = line.substr(name.size()) == " ok";
    std::ifstream in(folder / (name + ".body"), std::ios::binary);
    ASSERT_TRUE(in) << name;
    const std::string vector{std::istreambuf_iterator<char>(in), {}};
    std::optional<testing::ManifestInput> input = testing::read_manifest_input(vector);
    ASSERT_TRUE(input || !ok) << name;
    if (!input) continue;
    std::reverse(input->entries.begin(), input->entries.end());
    Result<std::string> body = manifest_body(input->facts, input->entries, "");
    if (ok) {
      ++valid;
      ASSERT_TRUE(body) << name << ": " << body.error().message;
      EXPECT_EQ(*body, vector) << name;
    } else {
      ++rewritten;
      EXPECT_TRUE(!body || *body != vector) << name;
    }
  }
  EXPECT_GE(valid, 8);
  EXPECT_GE(rewritten, 30);
}

TEST(FeedPlanTest, RuntimeArchivesAreRemadeUnlessAnAppArchiveIsLayeredOnThem) {
  const std::string base = "lib/runtime/lib/server/classes.jsa";
  const std::string nocoops = "lib/runtime/lib/server/classes_nocoops.jsa";
  const std::string app = "lib/app/vorlane-app.jsa";
  struct Case {
    std::vector<std::string> files;
    std::string release;
    std::set<std::string> remade;
  };
  const Case cases[] = {
      {{base, nocoops}, "JAVA_VERSION=\"17.0.9\"\n", {base, nocoops}},
      {{base, app}, "JAVA_VERSION=\"17.0.9\"\n", {base}},
      {{base, nocoops, app}, "IMPLEMENTOR=x\nJAVA_VERSION=\"21.0.2\"\n", {}},
      {{base, app}, "JAVA_VERSION=\"24\"\n", {}},
      {{base, app}, "JAVA_VERSION=\"25.0.1\"\n", {base}},
      {{base, app}, "JAVA_VERSION=\"200.1\"\n", {base}},
      {{nocoops}, "", {nocoops}},
      {{"lib/app/x.jar"}, "JAVA_VERSION=\"21\"\n", {}},
  };
  for (const Case& c : cases) {
    std::vector<FeedEntry> entries;
    for (const std::string& f : c.files) entries.push_back(file(f));
    EXPECT_EQ(remade_archives(entries, c.release), c.remade) << c.release;
  }
  Result<std::string> body = manifest_body(kFacts, {file(base), file("lib/x")}, "");
  ASSERT_TRUE(body);
  EXPECT_NE(body->find("\nremake " + base + "\nfile "), std::string::npos) << *body;
}

TEST(FeedPlanTest, SignsTheBodyAndPlacesObjectsByHash) {
  std::string signed_text;
  Result<std::string> text = signed_manifest("vorlane-update 1\n", [&](std::string_view b) {
    signed_text = b;
    return Result<std::string>(std::string("sig"));
  });
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "vorlane-update-signature ed25519 c2ln\nvorlane-update 1\n");
  EXPECT_EQ(signed_text, "vorlane-update 1\n");
  EXPECT_FALSE(signed_manifest(
      "x", [](std::string_view) { return Result<std::string>(step_failed("no")); }));
  EXPECT_EQ(object_path("ab" + std::string(62, 'c')), "files/sha256/ab/" + std::string(62, 'c'));
}

// Renewing a version: the body made again with new dates is the one the
// writer makes for those dates, whichever format it had.
TEST(FeedPlanTest, RedatedBodyIsTheBodyOfTheNewDates) {
  const std::vector<FeedEntry> entries = {dir("lib"), file("lib/a"), link("b", "lib/a")};
  const std::string later = "2027-01-01T00:00:00Z";
  const std::string expiry = "2027-01-31T00:00:00Z";
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"", expiry}, {"2026-12-09T03:00:00Z", ""}, {"2026-12-09T03:00:00Z", expiry}};
  // Format 3 too: a remake line with options, which stays format 3.
  const std::vector<FeedEntry> with_options = [&] {
    std::vector<FeedEntry> all = entries;
    all.push_back(file("lib/runtime/lib/server/classes_nocoops.jsa"));
    return all;
  }();
  for (const auto& [old_expiry, new_expiry] : cases) {
    for (const std::vector<FeedEntry>* tree : {&entries, &with_options}) {
      FeedFacts before = kFacts;
      before.expires = old_expiry;
      FeedFacts after = kFacts;
      after.date = later;
      after.expires = new_expiry;
      Result<std::string> redated =
          redated_body(*manifest_body(before, *tree, ""), later, new_expiry);
      ASSERT_TRUE(redated) << old_expiry << " " << redated.error().message;
      EXPECT_EQ(*redated, *manifest_body(after, *tree, "")) << old_expiry << " -> " << new_expiry;
    }
  }
  const std::string body = *manifest_body(kFacts, entries, "");
  const std::pair<std::string, std::string> refused[] = {
      {body, "2026-12-01T00:00:00Z"},              // expiry before the date
      {body.substr(body.find('\n') + 1), expiry},  // no format line
      {"vorlane-update 4\n" + body.substr(body.find('\n') + 1), expiry},
      {body.substr(0, body.find("notes ")), expiry},  // cut before the notes
  };
  for (const auto& [text, new_expiry] : refused) {
    EXPECT_FALSE(redated_body(text, later, new_expiry)) << text.substr(0, 40);
  }
}

// Packages are bounded on their listing before anything is unpacked.
TEST(FeedPlanTest, TarListingsAndTheirBounds) {
  const std::string listing =
      "drwxr-xr-x 0/0               0 2026-12-08 10:00 a/\n"
      "-rw-r--r-- 1000/1000  4294967296 2026-12-08 10:00 a/big file\n"
      "hrw-r--r-- 0/0               0 2026-12-08 10:00 a/h link to a/big file\n"
      "lrwxrwxrwx 0/0               0 2026-12-08 10:00 a/l -> ../x\n"
      "crw-r--r-- 0/0             1,3 2026-12-08 10:00 a/null\n";
  Result<std::vector<ListedMember>> members = parse_tar_listing(listing, "t.tar.gz");
  ASSERT_TRUE(members) << members.error().message;
  ASSERT_EQ(members->size(), 5U);
  const std::pair<std::string, std::uint64_t> want[] = {
      {"a/", 0}, {"a/big file", 4294967296}, {"a/h", 0}, {"a/l", 0}, {"a/null", 0}};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ((*members)[i].name, want[i].first);
    EXPECT_EQ((*members)[i].size, want[i].second) << want[i].first;
  }
  for (const char* bad :
       {"-rw-r--r-- 0/0 12x 2026-12-08 10:00 a\n",
        "-rw-r--r-- 0/0 99999999999999999999 2026-12-08 10:00 a\n",
        "-rw-r--r-- 0/0 1 2026-12-08 10:00\n", "tar: Error is not recoverable\n"}) {
    EXPECT_FALSE(parse_tar_listing(bad, "t.tar.gz")) << bad;
  }
  EXPECT_TRUE(check_unpacked_size(*members, 4294967296, 5, "t"));
  EXPECT_FALSE(check_unpacked_size(*members, 4294967295, 5, "t"));  // one byte over
  EXPECT_FALSE(check_unpacked_size(*members, 4294967296, 4, "t"));  // one member over
  // Sizes that would wrap a 64-bit sum are refused, not added.
  const std::vector<ListedMember> huge = {{'-', ~0ULL, "a"}, {'-', 2, "b"}};
  EXPECT_FALSE(check_unpacked_size(huge, kUnpackMaxBytes, 10, "t"));
}

TEST(FeedPlanTest, LatestIsTheNewestInDebianOrder) {
  const std::tuple<std::string, std::vector<std::string>, bool> cases[] = {
      {"1.0-1", {}, true},
      {"1.10-1", {"1.9-1"}, true},
      {"1.9-1", {"1.10-1"}, false},
      {"1.1~rc1-1", {"1.1-1"}, false},
      {"1.1-2", {"1.1-1", "1.0-1"}, true},
      {"1.1-1", {"1.1-1"}, true},
      {"2.0-1", {"1:1.0-1"}, false},
  };
  for (const auto& [version, published, latest] : cases) {
    EXPECT_EQ(becomes_latest(version, published), latest) << version;
  }
}

TEST(FeedPlanTest, NotesAreTheVersionsChangelogEntry) {
  const std::string changelog =
      "notes (1.1-1) unstable; urgency=medium\n\n  * New menu.\n  * Faster start.\n\n"
      " -- A <a@b>  Tue, 08 Dec 2026 03:00:00 +0000\n\n"
      "notes (1.0-1) unstable; urgency=medium\n\n  * First.\n\n -- A <a@b>  Mon, 07 Dec 2026\n";
  EXPECT_EQ(changelog_notes(changelog, "1.1-1"), "* New menu.\n* Faster start.");
  EXPECT_EQ(changelog_notes(changelog, "1.0-1"), "* First.");
  EXPECT_EQ(changelog_notes(changelog, "1.0"), "");
  EXPECT_EQ(changelog_notes("", "1.0-1"), "");
}

}  // namespace
}  // namespace vorlane::publish
