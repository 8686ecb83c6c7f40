#include "pack/image/training_display.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vorlane {
namespace {

TEST(TrainingDisplay, ThePackersDisplayElseAPrivateXvfbWhenTheRuntimeHasAwt) {
  const struct {
    bool awt;
    std::optional<std::string> display;
    const char* xvfb;
    DisplaySource want;
  } cases[] = {
      {false, std::nullopt, "/usr/bin/Xvfb", DisplaySource::kNotNeeded},
      {false, ":0", "", DisplaySource::kNotNeeded},
      {true, ":0", "/usr/bin/Xvfb", DisplaySource::kInherited},
      {true, std::nullopt, "/usr/bin/Xvfb", DisplaySource::kPrivateXvfb},
      {true, "", "/usr/bin/Xvfb", DisplaySource::kPrivateXvfb},  // set but empty: none
      {true, std::nullopt, "", DisplaySource::kNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(choose_training_display(c.awt, c.display, c.xvfb), c.want)
        << c.awt << " " << c.display.value_or("(unset)") << " " << c.xvfb;
  }
}

TEST(TrainingDisplay, AServerThatEndsOrTalksNonsenseGivesAnError) {
  // Stand-ins for Xvfb: the display number is read from the descriptor after -displayfd.
  const struct {
    const char* script;
    const char* error;
  } cases[] = {
      {"exit 1", " ended before it accepted clients"},
      {"echo nonsense >&$2", " gave no display number"},
      {"printf 1234567890123456 >&$2", " gave no display number"},
  };
  for (const auto& c : cases) {
    const std::string path = ::testing::TempDir() + "/fake-xvfb";
    std::filesystem::remove(path);
    std::ofstream(path) << "#!/bin/sh\n" << c.script << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    const Result<PrivateDisplay> server = PrivateDisplay::start(path, 60);
    ASSERT_FALSE(server) << c.script;
    EXPECT_EQ(server.error().message, path + c.error) << c.script;
  }
}

}  // namespace
}  // namespace vorlane
