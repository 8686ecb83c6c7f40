#include "formats/install_record.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace vorlane::formats {
namespace {

const std::string kDir = std::string(VORLANE_TESTDATA_DIR) + "/install-records/";

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(InstallRecord, TheSharedVectorsReadAsExpected) {
  std::ifstream expected(kDir + "expected.txt");
  ASSERT_TRUE(expected) << "no formats/testdata/install-records/expected.txt";
  int rows = 0;
  for (std::string line; std::getline(expected, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream row(line);
    std::string file, kind, version;
    row >> file >> kind >> version;
    const std::string text = slurp(kDir + file);
    ASSERT_FALSE(text.empty()) << file;
    const Checked<InstallRecord> r = parse_install_record(text);
    ++rows;
    if (kind == "refused") {
      EXPECT_FALSE(r) << file;
      continue;
    }
    ASSERT_TRUE(r) << file << ": " << r.refusal();
    EXPECT_EQ(install_kind_name(r->kind), kind) << file;
    EXPECT_EQ(r->version, version) << file;
    // A record as the packer writes it reads back to the same bytes.
    if (file.find("comments") == std::string::npos) {
      EXPECT_EQ(install_record_text(*r), text);
    }
  }
  EXPECT_GE(rows, 8);
}

TEST(InstallRecord, WritesTheFeedKeyOnlyWhenThereIsOne) {
  InstallRecord r{InstallKind::kRpm, "notes", "1.0-2", "arm64", "https://x.org/n", "beta", ""};
  EXPECT_EQ(install_record_text(r),
            "kind=rpm\nname=notes\nversion=1.0-2\narch=arm64\nsite=https://x.org/n\n"
            "channel=beta\n");
  r.feed_key = "KEY=";
  EXPECT_TRUE(install_record_text(r).ends_with("channel=beta\nfeed-key=KEY=\n"));
  // A missing channel is the stable one.
  const Checked<InstallRecord> back =
      parse_install_record("kind=deb\nname=n\nversion=1-1\narch=amd64\nsite=s\n");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->channel, "stable");
}

}  // namespace
}  // namespace vorlane::formats
