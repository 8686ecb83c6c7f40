#include "launcher/options_file.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

using Lines = std::vector<std::string>;

TEST(OptionsFilePath, Table) {
  const struct {
    const char* xdg;
    const char* home;
    const char* name;
    std::optional<std::string> path;
  } cases[] = {
      {"/c", "/h", "app", "/c/app/jvm-options"},
      {"/c//", "/h", "app", "/c/app/jvm-options"},
      {nullptr, "/h", "app", "/h/.config/app/jvm-options"},
      {"rel", "/h", "app", "/h/.config/app/jvm-options"},
      {"", nullptr, "app", std::nullopt},
      {"/c", "/h", "..", std::nullopt},
      {"/c", "/h", "", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(options_file_path(c.xdg, c.home, c.name), c.path) << (c.xdg ? c.xdg : "null");
  }
}

TEST(ParseOptionsFile, Table) {
  const Lines allowed = {"-Xmx", "-Dui."};
  const struct {
    std::string text;
    Lines accepted;
    Lines notes;
  } cases[] = {
      {"", {}, {}},
      {"-Xmx2g\n", {"-Xmx2g"}, {}},
      // Comments, blank lines, white space around a line, CR LF, no final LF.
      {"# heap\n\n  -Xmx2g \r\n\t\n-Dui.font=a b c", {"-Xmx2g", "-Dui.font=a b c"}, {}},
      {"  # indented comment\n-Xmx1g", {"-Xmx1g"}, {}},
      // A line is one option, never split.
      {"-Xmx1g -XX:+UseZGC\n", {"-Xmx1g -XX:+UseZGC"}, {}},
      {"-Xmx1g\n-XX:+UseZGC\n-Dui.x=1\n",
       {"-Xmx1g", "-Dui.x=1"},
       {"/f line 2: JVM option -XX:+UseZGC is not allowed for this app; left out."}},
      {"-Xmx" + std::string(kOptionsLineCap, 'g') + "\n-Xmx1g",
       {"-Xmx1g"},
       {"/f line 1 is longer than 4096 bytes; left out."}},
      {"-Xmx1g\n\x01\x02\n", {}, {"/f is not text; its JVM options are left out."}},
      {std::string("-Xmx1g\0", 7), {}, {"/f is not text; its JVM options are left out."}},
  };
  for (const auto& c : cases) {
    const OptionsFile file = parse_options_file(c.text, "/f", allowed);
    EXPECT_EQ(file.accepted, c.accepted) << c.text.substr(0, 40);
    EXPECT_EQ(file.notes, c.notes) << c.text.substr(0, 40);
  }
}

TEST(ParseOptionsFile, AppWithoutAllowListTakesNothing) {
  const OptionsFile file = parse_options_file("# only a comment\n-Xmx1g\n-Xmx2g\n", "/f", {});
  EXPECT_EQ(file.accepted, Lines{});
  EXPECT_EQ(file.notes,
            Lines{"/f: this app takes no JVM options from its user; the file is left out."});
  EXPECT_EQ(parse_options_file("# only a comment\n", "/f", {}).notes, Lines{});
}

}  // namespace
}  // namespace vorlane
