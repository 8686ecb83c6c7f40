#include "pack/core/files.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "testing/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane {
namespace {

class FileUtilTest : public testing::Test {
 protected:
  ScopedTempDir temp_;
  const std::string& dir_ = temp_.path();
};

TEST_F(FileUtilTest, ReadFileRefusesWhatIsNoFileOfBoundedSize) {
  std::ofstream(dir_ + "/plain", std::ios::binary) << std::string("a\0b", 3);
  const struct {
    std::string path;
    std::optional<std::vector<std::uint8_t>> bytes;
    std::string error;
  } cases[] = {
      {dir_ + "/plain", std::vector<std::uint8_t>{'a', 0, 'b'}, ""},
      {"/dev/null", std::vector<std::uint8_t>{}, ""},
      {dir_ + "/missing", std::nullopt,
       "cannot open " + dir_ + "/missing: No such file or directory"},
      // Once a crash: the stream library threw on the failed read.
      {dir_, std::nullopt, "cannot read " + dir_ + ": Is a directory"},
      // Once a hang: an endless device was read until memory ran out.
      {"/dev/zero", std::nullopt, "cannot read /dev/zero: it holds more than 256 MiB"},
  };
  for (const auto& c : cases) {
    const Result<std::vector<std::uint8_t>> read = read_file(c.path);
    EXPECT_EQ(read ? std::optional(*read) : std::nullopt, c.bytes) << c.path;
    EXPECT_EQ(read ? "" : read.error().message, c.error) << c.path;
  }
  // Once a hang: opening a FIFO waited for a writer.
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  const Result<std::vector<std::uint8_t>> fifo = read_file_no_fifo(dir_ + "/fifo");
  ASSERT_FALSE(fifo);
  EXPECT_EQ(fifo.error().message, "cannot read " + dir_ + "/fifo: it is a FIFO, not a file");
}

TEST_F(FileUtilTest, WriteFileAtomicallyLeavesNothingWhenItCannotWrite) {
  const std::vector<std::uint8_t> bytes = {1, 2, 3};
  const Status written = write_file_atomically(dir_ + "/out", bytes, 0750);
  ASSERT_TRUE(written) << written.error().message;
  const Result<std::vector<std::uint8_t>> back = read_file(dir_ + "/out");
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, bytes);
  EXPECT_EQ(fs::status(dir_ + "/out").permissions(),
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);

  // A directory in the way: the rename fails and the temporary file goes.
  fs::create_directory(dir_ + "/taken");
  fs::create_directory(dir_ + "/taken/x");
  const Status taken = write_file_atomically(dir_ + "/taken", bytes, 0755);
  ASSERT_FALSE(taken);
  const std::string& error = taken.error().message;
  EXPECT_EQ(error.rfind("cannot replace " + dir_ + "/taken: ", 0), 0u) << error;
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 2u);  // out and taken, no temporary file

  // A full disk says so, and what to do.
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  const Status to_full = write_all(full, bytes, "/dev/full");
  close(full);
  ASSERT_FALSE(to_full);
  EXPECT_EQ(to_full.error().message,
            "cannot write /dev/full: No space left on device (the disk is full, or the user's "
            "quota used up: free some space there)");
}

TEST_F(FileUtilTest, WalkTreeNamesWhatCannotBeCopied) {
  const std::string in = dir_ + "/in";
  fs::create_directories(in + "/sub");
  std::ofstream(in + "/sub/a.jar") << "a";
  fs::create_directory_symlink(in + "/sub", in + "/linked");
  const auto walk = [&in](Links links) {
    std::vector<std::string> out;
    Result<std::vector<TreeEntry>> entries = walk_tree(in, links);
    if (!entries) return std::vector<std::string>{entries.error().message};
    for (const TreeEntry& e : *entries) {
      out.push_back(e.path + (e.type == TreeEntry::Type::kLink ? " -> " + e.link_target : ""));
    }
    return out;
  };
  // A folder link is walked like a folder: its jars are the app's too.
  EXPECT_EQ(walk(Links::kFollow),
            (std::vector<std::string>{"linked", "linked/a.jar", "sub", "sub/a.jar"}));
  fs::remove(in + "/linked");
  fs::create_directory_symlink("sub", in + "/linked");
  fs::create_symlink("/etc/hostname", in + "/outside");
  fs::create_symlink("../not-installed", in + "/gone");  // as Debian's JDK has lib/src.zip
  EXPECT_EQ(walk(Links::kKeepInternal),
            (std::vector<std::string>{"gone -> ../not-installed", "linked -> sub", "outside", "sub",
                                      "sub/a.jar"}));
  fs::remove(in + "/outside"), fs::remove(in + "/gone");
  fs::remove(in + "/linked");

  // What cannot be copied is named as given, not as the staged copy.
  const std::pair<std::function<void()>, std::string> bad[] = {
      {[&] { fs::create_symlink("nowhere", in + "/bad"); }, "/bad is a link to nowhere, which"},
      {[&] { mkfifo((in + "/bad").c_str(), 0600); }, "/bad is a FIFO, which cannot be copied"},
      {[&] { fs::create_directory_symlink("..", in + "/sub/bad"); }, "/sub/bad leads back to"},
  };
  for (const auto& [make, error] : bad) {
    make();
    EXPECT_THAT(walk(Links::kFollow).front(), testing::StartsWith(in + error));
    fs::remove(in + "/bad"), fs::remove(in + "/sub/bad");
  }
}

TEST_F(FileUtilTest, WalkTreeNeverFollowsTheLinksOfAHostileTree) {
  const std::string in = dir_ + "/in";
  fs::create_directories(in + "/locked");
  std::ofstream(in + "/locked/secret") << "abc";
  fs::create_directory_symlink("/etc", in + "/etc");
  fs::create_symlink("../../outside", in + "/up");
  fs::create_symlink("nowhere", in + "/gone");
  ASSERT_EQ(mkfifo((in + "/pipe").c_str(), 0600), 0);
  fs::permissions(in + "/locked", fs::perms::owner_exec);  // 0100: not listable as it is

  Result<std::vector<TreeEntry>> entries =
      walk_tree(in, Links::kNever, FolderAccess::kOpenForOwner);
  ASSERT_TRUE(entries) << entries.error().message;
  std::vector<std::string> seen;
  for (const TreeEntry& e : *entries) {
    const char* type[] = {"folder", "file", "link", "other"};
    seen.push_back(e.path + " " + type[static_cast<int>(e.type)] + " " + std::to_string(e.mode) +
                   (e.type == TreeEntry::Type::kLink ? " -> " + e.link_target : "") +
                   (e.type == TreeEntry::Type::kFile ? " " + std::to_string(e.size) : ""));
  }
  // Links stay links wherever they point; the folder's mode is the one it had.
  EXPECT_EQ(seen, (std::vector<std::string>{"etc link 511 -> /etc", "gone link 511 -> nowhere",
                                            "locked folder 64", "locked/secret file 420 3",
                                            "pipe other 384", "up link 511 -> ../../outside"}));
  EXPECT_EQ(fs::status(in + "/locked").permissions() & fs::perms::owner_all, fs::perms::owner_all);
  // A copy refuses what a tree of files cannot hold.
  EXPECT_FALSE(copy_tree(in, dir_ + "/out", Links::kNever));
}

TEST_F(FileUtilTest, CopyTreeKeepsHolesAndPermissions) {
  const std::string in = dir_ + "/in";
  fs::create_directories(in);
  std::ofstream(in + "/sparse", std::ios::binary).seekp(64 << 20) << "end";
  std::ofstream(in + "/run.sh") << "#!/bin/sh\n";
  fs::permissions(in + "/run.sh", fs::perms::owner_all);
  ASSERT_TRUE(copy_tree(in, dir_ + "/out", Links::kFollow));
  struct stat st {};
  ASSERT_EQ(stat((dir_ + "/out/sparse").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, (64 << 20) + 3);
  EXPECT_LT(st.st_blocks * 512, 1 << 20);  // once 64 MiB of zeros on disk
  EXPECT_EQ(fs::status(dir_ + "/out/run.sh").permissions(), fs::perms::owner_all);
  EXPECT_FALSE(copy_tree(in, dir_ + "/out", Links::kFollow));  // never into an existing folder
}

TEST_F(FileUtilTest, SetTreeTimesSetsEveryEntryButNotWhatALinkNames) {
  const std::string tree = dir_ + "/tree";
  fs::create_directories(tree + "/lib/app");
  std::ofstream(tree + "/lib/app/a.jar") << "jar";
  std::ofstream(dir_ + "/outside") << "x";
  fs::create_symlink(dir_ + "/outside", tree + "/lib/link");
  struct stat before {};
  ASSERT_EQ(stat((dir_ + "/outside").c_str(), &before), 0);

  ASSERT_TRUE(set_tree_times(tree, 1700000000));
  for (const std::string relative : {"", "/lib", "/lib/app", "/lib/app/a.jar", "/lib/link"}) {
    struct stat st {};
    ASSERT_EQ(lstat((tree + relative).c_str(), &st), 0) << relative;
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000) << relative;
    EXPECT_EQ(st.st_mtim.tv_nsec, 0) << relative;
  }
  struct stat after {};
  ASSERT_EQ(stat((dir_ + "/outside").c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);

  const Status missing = set_tree_times(dir_ + "/none", 0);
  ASSERT_FALSE(missing);
  EXPECT_THAT(missing.error().message, testing::HasSubstr(dir_ + "/none"));
}

}  // namespace
}  // namespace vorlane
