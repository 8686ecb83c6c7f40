#include "pack/core/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "launcher/scoped_temp_dir.h"

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
    std::string error;
    EXPECT_EQ(read_file(c.path, error), c.bytes) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
}

TEST_F(FileUtilTest, WriteFileAtomicallyLeavesNothingWhenItCannotWrite) {
  std::string error;
  const std::vector<std::uint8_t> bytes = {1, 2, 3};
  ASSERT_TRUE(write_file_atomically(dir_ + "/out", bytes, 0750, error)) << error;
  EXPECT_EQ(read_file(dir_ + "/out", error), bytes);
  EXPECT_EQ(fs::status(dir_ + "/out").permissions(),
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);

  // A directory in the way: the rename fails and the temporary file goes.
  fs::create_directory(dir_ + "/taken");
  fs::create_directory(dir_ + "/taken/x");
  EXPECT_FALSE(write_file_atomically(dir_ + "/taken", bytes, 0755, error));
  EXPECT_EQ(error.rfind("cannot replace " + dir_ + "/taken: ", 0), 0u) << error;
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 2u);  // out and taken, no temporary file
}

}  // namespace
}  // namespace vorlane
