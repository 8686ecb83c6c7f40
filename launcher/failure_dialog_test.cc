#include "launcher/failure_dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "launcher/sys.h"
#include "testing/scoped_temp_dir.h"

namespace vorlane {
namespace {

using Args = std::vector<std::string>;

TEST(WantsDialog, Table) {
  const struct {
    bool console_app;
    bool terminal;
    const char* display;
    const char* wayland;
    bool wanted;
  } cases[] = {
      {false, false, ":0", nullptr, true},     {false, false, nullptr, "wayland-0", true},
      {false, false, nullptr, nullptr, false}, {false, false, "", "", false},
      {true, false, ":0", "wayland-0", false}, {false, true, ":0", "wayland-0", false},
      {false, false, "", "wayland-0", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wants_dialog(c.console_app, c.terminal, c.display, c.wayland), c.wanted)
        << c.console_app << c.terminal << (c.display ? c.display : "null")
        << (c.wayland ? c.wayland : "null");
  }
}

TEST(DialogArgv, EachToolTakesTextsAsArgumentsOfTheirOwn) {
  const struct {
    DialogTool tool;
    Args argv;
  } cases[] = {
      {DialogTool::kZenity, {"/b/zenity", "--error", "--no-markup", "--title=-T", "--text=a <b>"}},
      {DialogTool::kKdialog, {"/b/kdialog", "--title=-T", "--error=a <b>"}},
      {DialogTool::kXmessage,
       {"/b/xmessage", "-title", "-T", "-center", "-buttons", "OK", "a <b>"}},
      {DialogTool::kNotifySend, {"/b/notify-send", "--urgency=critical", "--", "-T", "a <b>"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dialog_argv(c.tool, std::string("/b/") + tool_name(c.tool), "-T", "a <b>"), c.argv)
        << tool_name(c.tool);
  }
}

TEST(FindInPath, Table) {
  const std::set<std::string> executables = {"/usr/bin/zenity", "/opt/x/zenity", "/bin/xmessage"};
  const auto is_executable = [&](const std::string& p) { return executables.count(p) > 0; };
  const struct {
    const char* path;
    const char* name;
    std::optional<std::string> found;
  } cases[] = {
      {"/usr/bin:/opt/x", "zenity", "/usr/bin/zenity"},
      {"/opt/x/:/usr/bin", "zenity", "/opt/x/zenity"},
      {"/sbin:/bin", "xmessage", "/bin/xmessage"},
      {"/sbin:/bin", "zenity", std::nullopt},
      {nullptr, "zenity", std::nullopt},
      {"", "zenity", std::nullopt},
      // Relative and empty entries name the working folder: never searched.
      {"bin:.::/bin", "xmessage", "/bin/xmessage"},
      {"usr/bin", "zenity", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(find_in_path(c.path, c.name, is_executable), c.found)
        << (c.path ? c.path : "null") << " " << c.name;
  }
}

TEST(StateDir, Table) {
  const struct {
    const char* xdg;
    const char* home;
    const char* name;
    std::optional<std::string> dir;
  } cases[] = {
      {"/s", "/h", "app", "/s/app"},
      {"/s/", "/h", "app", "/s/app"},
      {nullptr, "/h", "app", "/h/.local/state/app"},
      {"", "/h", "app", "/h/.local/state/app"},
      {"rel", "/h", "app", "/h/.local/state/app"},
      {"rel", "h", "app", std::nullopt},
      {nullptr, nullptr, "app", std::nullopt},
      {"/", "/h", "app", "/app"},
      {"/s", "/h", "", std::nullopt},
      {"/s", "/h", "..", std::nullopt},
      {"/s", "/h", "a/b", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(state_dir(c.xdg, c.home, c.name), c.dir)
        << (c.xdg ? c.xdg : "null") << " " << (c.home ? c.home : "null") << " " << c.name;
  }
}

TEST(Shorten, CutsAtCharacterBoundary) {
  const struct {
    std::string text;
    std::size_t max;
    std::string shortened;
  } cases[] = {
      {"abc", 3, "abc"},
      {"abcd", 3, "abc..."},
      {"a\xc3\xa9z", 2, "a..."},  // never half of é
      {"a\xc3\xa9z", 3, "a\xc3\xa9..."},
      {"\xe2\x82\xac", 2, "..."},
      {"", 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(shorten(c.text, c.max), c.shortened) << c.text;
}

TEST(DialogText, Table) {
  const struct {
    std::string message;
    std::string log;
    std::string text;
  } cases[] = {
      {"Failed.\n", "", "Failed."},
      {"Failed.\n\n", "/s/a/launcher.log", "Failed.\n\nThis is also written to /s/a/launcher.log."},
      {"-display :9", "", " -display :9"},  // never read as an option
      {"+rv", "", " +rv"},
      {"", "", " "},
  };
  for (const auto& c : cases) EXPECT_EQ(dialog_text(c.message, c.log), c.text) << c.message;
  EXPECT_EQ(dialog_text(std::string(5000, 'x'), ""), std::string(kDialogTextCap, 'x') + "...");
}

TEST(LogEntry, TimeTitleMessageAndOneFinalNewline) {
  EXPECT_EQ(log_entry("T", "Title", "a\nb"), "T Title\na\nb\n");
  EXPECT_EQ(log_entry("T", "Title", "a\n"), "T Title\na\n");
  EXPECT_EQ(log_entry("T", "Title", std::string(kLogMessageCap + 1, 'x')).size(),
            std::string("T Title\n").size() + kLogMessageCap + 4);
}

TEST(LogMustStartOver, Table) {
  const struct {
    std::size_t log;
    std::size_t entry;
    bool start_over;
  } cases[] = {
      {0, 10, false},  {0, 200, false},  // an empty log takes any entry
      {90, 10, false}, {91, 10, true},
      {100, 1, true},  {150, 1, true},  // grown past the cap by someone else
  };
  for (const auto& c : cases) {
    EXPECT_EQ(log_must_start_over(c.log, c.entry, 100), c.start_over) << c.log << "+" << c.entry;
  }
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(AppLog, PrivateFolderAppendAndStartOver) {
  const ScopedTempDir temp;
  const std::string dir = temp.path() + "/state/deeper/app";
  ASSERT_EQ(sys::make_private_dirs(dir), 0);
  struct stat info;
  ASSERT_EQ(stat(dir.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700U);
  const auto cap_at = [](std::size_t cap) {
    return [cap](std::size_t size) { return size >= cap; };
  };
  ASSERT_EQ(sys::append_to_log(dir, "l", "one\n", cap_at(8)), 0);
  ASSERT_EQ(sys::append_to_log(dir, "l", "two\n", cap_at(8)), 0);
  ASSERT_EQ(sys::append_to_log(dir, "l", "three\n", cap_at(8)), 0);
  EXPECT_EQ(read_all(dir + "/l"), "three\n");
  EXPECT_EQ(read_all(dir + "/l.1"), "one\ntwo\n");
  ASSERT_EQ(stat((dir + "/l").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600U);
}

TEST(AppLog, NeverWritesThroughALinkOrIntoOne) {
  const ScopedTempDir temp;
  const std::string target = temp.path() + "/target";
  { std::ofstream(target) << "kept\n"; }
  std::filesystem::create_directory(temp.path() + "/app");
  std::filesystem::create_symlink(target, temp.path() + "/app/l");
  EXPECT_NE(sys::append_to_log(temp.path() + "/app", "l", "x\n", [](std::size_t) { return false; }),
            0);
  EXPECT_EQ(read_all(target), "kept\n");
  // A state folder that is a link is not used either.
  std::filesystem::create_directory_symlink(temp.path() + "/app", temp.path() + "/linked");
  EXPECT_EQ(sys::make_private_dirs(temp.path() + "/linked"), ENOTDIR);
  EXPECT_NE(
      sys::append_to_log(temp.path() + "/linked", "m", "x\n", [](std::size_t) { return false; }),
      0);
}

}  // namespace
}  // namespace vorlane
