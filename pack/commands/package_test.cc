#include "pack/commands/package.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "pack/core/report.h"
#include "testing/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane {
namespace {

using packages::PackageFacts;
using packages::PackageOptions;

// Only a .tar.gz: no readelf, no shlibs folders.
PackageOptions options_in(const std::string& t) {
  PackageOptions o;
  o.app_dir = t + "/tree";
  o.types = {"tar.gz"};
  o.dest = t + "/out";
  return o;
}

// Packages written into the tree would end up in the next package made of
// it; --dest is compared with links resolved, and a sibling whose name only
// starts like the tree's is outside it.
TEST(ProbePackages, DestInsideTheTreeOrNoFolder) {
  const ScopedTempDir temp;
  const std::string& t = temp.path();
  fs::create_directories(t + "/tree/lib");
  fs::create_directories(t + "/tree-packages");
  fs::create_directory_symlink(t + "/tree", t + "/link");
  std::ofstream(t + "/file") << "x";
  const struct {
    std::string dest;
    bool inside;
    bool not_folder;
  } cases[] = {
      {t + "/out", false, false},           {t + "/tree", true, false},
      {t + "/tree/", true, false},          {t + "/tree/lib/new", true, false},
      {t + "/link/new", true, false},       {t + "/tree/../out", false, false},
      {t + "/tree-packages", false, false}, {t + "/file", false, true},
      {t + "/file/below", false, true},
  };
  for (const auto& c : cases) {
    PackageOptions o = options_in(t);
    o.dest = c.dest;
    const PackageFacts f = probe_packages(o);
    EXPECT_EQ(f.dest_inside_tree, c.inside) << c.dest;
    EXPECT_EQ(f.dest_not_folder, c.not_folder) << c.dest;
  }
}

TEST(ProbePackages, ReadsTheFilesTheOptionsName) {
  const ScopedTempDir temp;
  const std::string& t = temp.path();
  fs::create_directories(t + "/tree");
  fs::create_directories(t + "/folder-icon.png");
  std::ofstream(t + "/long.txt") << "Paragraphs.\n";
  std::ofstream(t + "/assoc.conf") << "extension=vn\nmime-type=text/x-vn\n";
  PackageOptions o = options_in(t);
  o.long_description_file = t + "/long.txt";
  o.license_file = t + "/missing-license";
  o.icon = t + "/folder-icon.png";
  o.file_associations = {t + "/assoc.conf",
                         "extension=md,mime-type=text/markdown,icon=" + t + "/missing.svg",
                         t + "/missing.conf"};
  o.emulator = "qemu-aarch64";
  const PackageFacts f = probe_packages(o);
  EXPECT_FALSE(f.tree);  // no marker: no tree of the packer's
  EXPECT_EQ(f.tree.error().kind, ErrorKind::kBadInput);
  ASSERT_TRUE(f.long_description_file && *f.long_description_file);
  EXPECT_EQ(**f.long_description_file, "Paragraphs.\n");
  ASSERT_TRUE(f.license_file);
  EXPECT_FALSE(*f.license_file);
  EXPECT_EQ(f.license_file->error().kind, ErrorKind::kBadInput);
  EXPECT_FALSE(f.update_key);
  // A value that names a file is its lines; any other is the value itself.
  ASSERT_EQ(f.file_associations.size(), 3u);
  EXPECT_EQ(*f.file_associations[0], "extension=vn\nmime-type=text/x-vn\n");
  EXPECT_EQ(*f.file_associations[1],
            "extension=md,mime-type=text/markdown,icon=" + t + "/missing.svg");
  EXPECT_EQ(*f.file_associations[2], t + "/missing.conf");
  // Every icon named is probed, and refused when it is no readable file.
  ASSERT_EQ(f.icons.size(), 2u);
  EXPECT_EQ(f.icons.at(o.icon).error().message, "is not a regular file");
  EXPECT_FALSE(f.icons.at(t + "/missing.svg"));
  EXPECT_FALSE(f.elf);  // only for a .deb or an .rpm
  EXPECT_EQ(f.emulator_text, "qemu-aarch64");
}

std::string text_of(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The made packages replace the earlier ones all together or not at all:
// a name that cannot be replaced brings back every earlier file moved aside.
TEST(PutInPlace, AllOrNoneOfTheEarlierFilesAreReplaced) {
  const struct {
    std::string blocked;  // a folder in the way, or ""
    bool placed;
  } cases[] = {{"", true}, {"b.rpm", false}, {"c.tar.gz", false}};
  for (const auto& c : cases) {
    const ScopedTempDir temp;
    const std::string dest = temp.path() + "/dest";
    const std::string staged = temp.path() + "/staged";
    fs::create_directories(dest);
    fs::create_directories(staged);
    std::ofstream(dest + "/a.deb") << "earlier a";
    std::ofstream(temp.path() + "/target") << "outside";
    fs::create_symlink(temp.path() + "/target", dest + "/b.rpm");  // a link is replaced, unfollowed
    if (!c.blocked.empty()) {
      fs::remove(dest + "/" + c.blocked);
      fs::create_directory(dest + "/" + c.blocked);
    }
    std::vector<std::pair<std::string, std::string>> made;
    for (const std::string name : {"a.deb", "b.rpm", "c.tar.gz"}) {
      std::ofstream(staged + "/" + name) << "new " + name;
      made.emplace_back(staged + "/" + name, name);
    }
    testing::internal::CaptureStderr();
    const Status status = put_in_place(made, dest, temp.path() + "/aside", Report(false));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status.ok(), c.placed) << c.blocked;
    EXPECT_EQ(text_of(temp.path() + "/target"), "outside");
    if (c.placed) {
      for (const auto& [from, name] : made) EXPECT_EQ(text_of(dest + "/" + name), "new " + name);
      EXPECT_NE(said.find("replaced the earlier a.deb, b.rpm in " + dest), std::string::npos);
      continue;
    }
    EXPECT_EQ(status.error().kind, ErrorKind::kStepFailed);
    EXPECT_EQ(status.error().message, "cannot replace " + dest + "/" + c.blocked +
                                          ": it is a folder; " + dest + " is as it was");
    EXPECT_EQ(text_of(dest + "/a.deb"), "earlier a");
    EXPECT_EQ(fs::exists(dest + "/c.tar.gz"), c.blocked == "c.tar.gz");
    EXPECT_EQ(fs::is_symlink(dest + "/b.rpm"), c.blocked != "b.rpm");
  }
}

}  // namespace
}  // namespace vorlane
