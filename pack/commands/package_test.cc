#include "pack/commands/package.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
  const std::string t = temp.path();
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
  const std::string t = temp.path();
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

}  // namespace
}  // namespace vorlane
