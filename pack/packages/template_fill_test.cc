#include "pack/packages/template_fill.h"

#include <gtest/gtest.h>

#include "pack/packages/templates.h"

namespace vorlane::packages {
namespace {

TEST(TemplateFill, EscapesEachValueForItsFormatAndPlacesItByKind) {
  using V = Value;
  struct Case {
    const char* text;
    TextFormat format;
    std::vector<Field> fields;
    const char* filled;
  };
  const Case cases[] = {
      {"rm -f @F@\n",
       TextFormat::kShell,
       {{"F", V::text("it's; rm -rf /")}},
       "rm -f 'it'\\''s; rm -rf /'\n"},
      {"rm -f @F@ x\n", TextFormat::kShell, {{"F", V::words({"a b", "c"})}}, "rm -f 'a b' 'c' x\n"},
      // No words: the placeholder goes with the space before it.
      {"java @O@ -X\n", TextFormat::kShell, {{"O", V::words({})}}, "java -X\n"},
      {"Name: @N@\n", TextFormat::kRpmSpec, {{"N", V::text("a%{x}%(y)")}}, "Name: a%%{x}%%(y)\n"},
      {"Name=@N@\n",
       TextFormat::kDesktop,
       {{"N", V::text(" a\\b\tc\nX=1")}},
       "Name=\\sa\\\\b\\tc\\nX=1\n"},
      {"<p>@P@</p>\n",
       TextFormat::kXml,
       {{"P", V::text("<b>&\"'")}},
       "<p>&lt;b&gt;&amp;&quot;&#39;</p>\n"},
      // A line list repeats its line, or drops it.
      {"a\nR: @R@ @N@\nb\n",
       TextFormat::kRpmSpec,
       {{"R", V::lines({"x", "5%"})}, {"N", V::text("n")}},
       "a\nR: x n\nR: 5%% n\nb\n"},
      {"a\nR: @R@\nb\n", TextFormat::kRpmSpec, {{"R", V::lines({})}}, "a\nb\n"},
      // A fragment alone on its line takes its indentation; empty, it drops it.
      {"if x; then\n  @B@\nfi\n",
       TextFormat::kShell,
       {{"B", V::fragment("a\nb 'c'\n\nd\n")}},
       "if x; then\n  a\n  b 'c'\n\n  d\nfi\n"},
      {"a\n  @B@\nb\n", TextFormat::kShell, {{"B", V::fragment("")}}, "a\nb\n"},
      // Alone on its line, a value's final line break is the line's own.
      {"%post\n@S@\n\n%end\n",
       TextFormat::kRpmSpec,
       {{"S", V::text("a\nexit 0\n")}},
       "%post\na\nexit 0\n\n%end\n"},
      {"# in /etc/@N@ x\n",
       TextFormat::kShell,
       {{"N", V::comment("a\nrm -rf /")}},
       "# in /etc/a rm -rf / x\n"},
      // Only @CAPITALS@ are placeholders; the rest stays as written.
      {"a@b.c @x@ @ @@ @N@@\n", TextFormat::kShell, {{"N", V::text("n")}}, "a@b.c @x@ @ @@ 'n'@\n"},
      {"no break at the end @N@",
       TextFormat::kXml,
       {{"N", V::text("&")}},
       "no break at the end &amp;"},
  };
  for (const Case& c : cases) {
    const Result<std::string> filled = fill_template(c.text, c.format, c.fields);
    ASSERT_TRUE(filled.ok()) << c.text << ": " << filled.error().message;
    EXPECT_EQ(*filled, c.filled) << c.text;
  }
}

TEST(TemplateFill, RefusesPlaceholdersAndValuesThatDoNotMatch) {
  const Value v = Value::text("v");
  const Value list = Value::lines({"x"});
  const std::pair<const char*, std::vector<Field>> cases[] = {
      {"@A@ @B@\n", {{"A", v}}},
      {"@A@\n", {{"A", v}, {"B", v}}},
      {"@A@\n", {{"A", v}, {"A", v}}},
      {"@A@ @B@\n", {{"A", list}, {"B", list}}},
  };
  for (const auto& [text, fields] : cases) {
    EXPECT_FALSE(fill_template(text, TextFormat::kShell, fields).ok()) << text;
  }
  EXPECT_EQ(template_placeholders("@B@ @A@ x@y @B@ @C_2@"),
            (std::vector<std::string>{"B", "A", "C_2"}));
}

// Each '@' in a template belongs to a placeholder, so a misspelt one
// (@Name@, @NAME) cannot pass for text.
TEST(TemplateFill, TemplatesHoldNoStrayAt) {
  ASSERT_GT(std::size(templates::kAll), 10u);
  for (const templates::File& file : templates::kAll) {
    std::size_t at = 0;
    for (const std::string& name : template_placeholders(file.text)) {
      for (std::size_t i = 0; (i = file.text.find("@" + name + "@", i)) != std::string::npos;) {
        at += 2;
        i += name.size() + 2;
      }
    }
    EXPECT_EQ(at, static_cast<std::size_t>(std::count(file.text.begin(), file.text.end(), '@')))
        << file.name;
    EXPECT_TRUE(file.text.ends_with("\n")) << file.name;
  }
}

}  // namespace
}  // namespace vorlane::packages
