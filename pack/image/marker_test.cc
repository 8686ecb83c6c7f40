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
  const Result<AppMarker> back = parse_marker(format_marker(marker));
  ASSERT_TRUE(back) << back.error().message;
  EXPECT_EQ(back->name, "demo");
  EXPECT_THAT(back->training_args, ElementsAre("--train", "a b", "", "x\ny\\n"));
  EXPECT_THAT(back->made, ElementsAre("lib/a\nb.txt", "bin"));
  EXPECT_EQ(back->archive, ArchiveKind::kAotCache);
  // An earlier packer's marker names no kind; a later one's unknown kind is none.
  for (const char* text : {"name=a\n", "name=a\narchive=future\n"}) {
    const Result<AppMarker> read = parse_marker(text);
    ASSERT_TRUE(read) << text;
    EXPECT_EQ(read->archive, std::nullopt) << text;
  }

  const struct {
    const char* text;
    const char* error;
  } bad[] = {
      {"", "it names no launcher (the app's name is empty)"},
      {"# only a comment\n", "it names no launcher (the app's name is empty)"},
      {"name=../x\n", "it names no launcher (the app's name '../x' holds a '/')"},
  };
  for (const auto& c : bad) {
    const Result<AppMarker> read = parse_marker(c.text);
    ASSERT_FALSE(read) << c.text;
    EXPECT_EQ(read.error().message, c.error);
  }
}

}  // namespace
}  // namespace vorlane
