#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "pack/core/strings.h"
#include "pack/packages/package_plan.h"
#include "pack/packages/package_plan_fixture.h"
#include "pack/packages/package_scripts.h"

namespace vorlane::packages {
namespace {

using plan_fixture::facts;
using plan_fixture::options;
using ::testing::HasSubstr;

/// The texts' shape, whatever the values: which spec lines start a section
/// or a macro, which control fields, desktop keys and XML elements there are.
std::string shape_of(const PackageInfo& info) {
  std::string shape;
  for (const std::string& line : split_lines(rpm_spec(info, "/s", {"/opt/notes"}))) {
    if (line.starts_with("%") && !line.starts_with("%%")) shape += line.substr(0, 8) + "|";
  }
  for (const std::string& line : split_lines(deb_control(info))) {
    if (!line.starts_with(" ")) shape += line.substr(0, line.find(':')) + "|";
  }
  for (const std::string& line : split_lines(desktop_entry(info))) {
    shape += line.substr(0, line.find('=')) + "|";
  }
  const std::string meta = metainfo(info);
  return shape + std::to_string(std::count(meta.begin(), meta.end(), '<')) + "|" +
         std::to_string(split_lines(meta).size()) + "|" +
         std::to_string(split_lines(deb_postinst(info)).size());
}

TEST(PackagePlan, HostileValuesComeOutAsGivenOrAreRefused) {
  const std::string marker = "/tmp/marker";
  const std::vector<std::string> values = {
      "%(touch " + marker + ")",
      "%{lua: os.execute('touch " + marker + "')}",
      "%define evil 1",
      "%post",
      "ok\n\n%post\ntouch " + marker,
      "$(touch " + marker + ")",
      "`touch " + marker + "`",
      "a; touch " + marker,
      "one\nPre-Depends: evil",
      R"(it's "quoted" \ <b>&amp;</b>)",
  };
  struct Field {
    const char* name;
    void (*set)(PackageOptions&, PackageFacts&, const std::string&);
    bool multi_line;
  };
  const Field fields[] = {
      {"--description", [](auto& o, auto&, const auto& v) { o.description = v; }, false},
      {"--long-description", [](auto& o, auto&, const auto& v) { o.long_description = v; }, true},
      {"--vendor", [](auto& o, auto&, const auto& v) { o.vendor = v; }, false},
      {"--homepage", [](auto& o, auto&, const auto& v) { o.homepage = v; }, false},
      {"--license-type", [](auto& o, auto&, const auto& v) { o.license_type = v; }, false},
      {"--maintainer", [](auto& o, auto&, const auto& v) { o.maintainer = v + " <a@b.org>"; },
       false},
      {"--copyright", [](auto& o, auto&, const auto& v) { o.copyright = v; }, true},
      {"--wm-class", [](auto& o, auto&, const auto& v) { o.wm_class = v; }, false},
      {"a jar's name",
       [](auto&, auto& f, const auto& v) {
         TreeFacts t = *f.tree;
         t.jvm_options = {"-Djava.class.path=&&/" + v + ".jar"};
         f.tree = t;
       },
       false},
  };
  // The same field with a plain value gives the shape to compare with.
  auto planned = [](const Field& field, const std::string& value) {
    PackageOptions o = options();
    PackageFacts f = facts();
    field.set(o, f, value);
    Result<PackagePlan> plan = plan_packages(o, f);
    if (!plan) return plan;
    plan->info.class_list = "lib/app/c.classlist";
    plan->info.archive = "lib/app/a.jsa";
    // As staging makes it: the tree's class path at the installed place.
    plan->info.class_path = "/opt/notes/lib/app/x.jar";
    for (const std::string& option : plan->tree.jvm_options) {
      if (option.starts_with("-Djava.class.path=&&/")) {
        plan->info.class_path = "/opt/notes/lib/app/" + option.substr(21);
      }
    }
    return plan;
  };
  for (const Field& field : fields) {
    const Result<PackagePlan> benign = planned(field, "plain");
    ASSERT_TRUE(benign.ok()) << field.name;
    for (const std::string& value : values) {
      const Result<PackagePlan> plan = planned(field, value);
      const bool line_break = value.find('\n') != std::string::npos;
      const std::vector<std::string> lines = split_lines(value);
      const bool rpm_line = field.name == std::string("--long-description") &&
                            std::any_of(lines.begin(), lines.end(),
                                        [](const std::string& l) { return l.starts_with("%"); });
      const bool blank_in_url =
          field.name == std::string("--homepage") && value.find(' ') != std::string::npos;
      const bool refused = (line_break && !field.multi_line) || rpm_line || blank_in_url;
      ASSERT_EQ(plan.ok(), !refused) << field.name << " = " << value;
      if (!plan) {
        EXPECT_EQ(plan.error().kind, ErrorKind::kBadInput);
        continue;
      }
      const PackageInfo& info = plan->info;
      EXPECT_EQ(shape_of(info), shape_of(benign->info)) << field.name << " = " << value;
      // The class path is one word for the shell, quotes and all.
      std::string quoted = "'";
      for (char ch : info.class_path) {
        quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
      }
      EXPECT_THAT(deb_postinst(info), HasSubstr(" -cp " + quoted + "' "));
      // No '%' of a value reaches rpmbuild single: each comes doubled.
      const std::string spec = rpm_spec(info, "/s", {"/opt/notes"});
      EXPECT_FALSE(std::regex_search(spec, std::regex(R"((^|[^%])(%%)*%(\(touch|\{lua|define))")))
          << spec;
    }
  }
}

}  // namespace
}  // namespace vorlane::packages
