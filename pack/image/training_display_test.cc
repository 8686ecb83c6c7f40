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

TEST(TrainingDisplay, XauthorityEntryLayout) {
  EXPECT_EQ(xauthority_entry("12", "ck"), std::string("\xff\xff\0\0\0\x02"
                                                      "12\0\x12",
                                                      10) +
                                              "MIT-MAGIC-COOKIE-1" +
                                              std::string("\0\x02"
                                                          "ck",
                                                          4));
}

TEST(TrainingDisplay, APrivateXvfbServesOnlyClientsWithItsCookieAndGoesWithItsFile) {
  for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool"}) {
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  std::string authority;
  {
    Result<PrivateDisplay> display = PrivateDisplay::start("/usr/bin/Xvfb", 120);
    ASSERT_TRUE(display) << display.error().message;
    authority = display->authority();
    const struct {
      std::optional<std::string> xauthority;
      int status;
    } cases[] = {{authority, 0}, {"/nonexistent", 1}};
    for (const auto& c : cases) {
      ProcessOptions options;
      options.env = {{"DISPLAY", display->name()}, {"XAUTHORITY", c.xauthority}};
      options.merge_output = true;
      options.timeout_seconds = 120;
      const ProcessResult r = run_process({"/usr/bin/xdotool", "getdisplaygeometry"}, options);
      EXPECT_EQ(r.status, c.status) << c.xauthority.value_or("") << ": " << r.out;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(authority));
}

}  // namespace
}  // namespace vorlane
