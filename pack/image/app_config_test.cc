#include "pack/image/app_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vorlane {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

TEST(AppName, Table) {
  const struct {
    std::string name;
    const char* error;  // a part of the refusal; "" when accepted
  } cases[] = {
      {"demo", ""},
      {"My App 2", ""},
      {"caf\xC3\xA9", ""},
      {"a.b", ""},
      {"", "is empty"},
      {".", "cannot be '.'"},
      {"..", "cannot be '..'"},
      {"a/b", "holds a '/'"},
      {".hidden", "starts with '.'"},
      {"-x", "starts with '-'"},
      {std::string("a\0b", 3), "holds a 0 byte"},
      {std::string(201, 'a'), "longer than 200 bytes"},
      {"a:b", "holds a ':'"},
      {"a\nb", "holds a control character"},
  };
  for (const auto& c : cases) {
    const std::string error = check_app_name(c.name);
    if (*c.error == '\0') {
      EXPECT_EQ(error, "") << c.name;
    } else {
      EXPECT_THAT(error, HasSubstr(c.error)) << c.name;
    }
  }
}

TEST(ClassPathElement, RefusesWhatTheLauncherWouldRewrite) {
  const struct {
    const char* jar;
    const char* error;
  } cases[] = {
      {"app.jar", ""},
      {"lib/guava-31.1-jre.jar", ""},
      {"a b.jar", ""},
      {"a:b.jar", "its name holds a ':'"},
      {"a&&b.jar", "its name holds '&&'"},
      {"a&b.jar", ""},
      {"x*.jar", "its name holds a '*'"},
      {"a\nb.jar", "its name holds a line break"},
  };
  for (const auto& c : cases) EXPECT_EQ(check_class_path_element(c.jar), c.error) << c.jar;
}

TEST(ClassPathOption, MainJarFirstThenByteOrderThenTheLauncherJar) {
  const struct {
    std::vector<std::string> jars;
    std::string main_jar;
    std::string expected;
  } cases[] = {
      {{"b.jar", "a.jar"}, "", "-Djava.class.path=&&/a.jar:&&/b.jar:&&/vorlane-launcher.jar"},
      {{"a.jar", "b.jar"}, "", "-Djava.class.path=&&/a.jar:&&/b.jar:&&/vorlane-launcher.jar"},
      {{"a.jar", "b.jar"}, "b.jar", "-Djava.class.path=&&/b.jar:&&/a.jar:&&/vorlane-launcher.jar"},
      // Byte order: upper case before lower case, a folder's jars by their path.
      {{"lib/z.jar", "Z.jar", "a.jar"},
       "",
       "-Djava.class.path=&&/Z.jar:&&/a.jar:&&/lib/z.jar:&&/vorlane-launcher.jar"},
      {{"only.jar"}, "only.jar", "-Djava.class.path=&&/only.jar:&&/vorlane-launcher.jar"},
  };
  for (const auto& c : cases) EXPECT_EQ(class_path_option(c.jars, c.main_jar), c.expected);
}

}  // namespace
}  // namespace vorlane
