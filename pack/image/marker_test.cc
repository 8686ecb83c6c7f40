#include "pack/image/marker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vorlane {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

TEST(Marker, RoundTripsAndNeedsAName) {
  const AppMarker marker{
      "demo", {"--train", "a b", "", "x\ny\\n"}, {"lib/a\nb.txt", "bin"}, ArchiveKind::kAotCache};
  std::string error;
  const std::optional<AppMarker> back = parse_marker(format_marker(marker), error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->name, "demo");
  EXPECT_THAT(back->training_args, ElementsAre("--train", "a b", "", "x\ny\\n"));
  EXPECT_THAT(back->made, ElementsAre("lib/a\nb.txt", "bin"));
  EXPECT_EQ(back->archive, ArchiveKind::kAotCache);
  // An earlier packer's marker names no kind; a later one's unknown kind is none.
  EXPECT_EQ(parse_marker("name=a\n", error)->archive, std::nullopt);
  EXPECT_EQ(parse_marker("name=a\narchive=future\n", error)->archive, std::nullopt);

  const struct {
    const char* text;
    const char* error;
  } bad[] = {
      {"", "it names no launcher (the app's name is empty)"},
      {"# only a comment\n", "it names no launcher (the app's name is empty)"},
      {"name=../x\n", "it names no launcher (the app's name '../x' holds a '/')"},
  };
  for (const auto& c : bad) {
    EXPECT_FALSE(parse_marker(c.text, error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
}  // namespace vorlane
