#include "launcher/crash_log.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

TEST(CrashLogOption, Table) {
  const struct {
    std::vector<std::string> options;
    std::string state_dir;
    std::optional<std::string> option;
  } cases[] = {
      {{"-Xmx1g"}, "/h/.local/state/app", "-XX:ErrorFile=/h/.local/state/app/hs_err_pid%p.log"},
      {{}, "/s/100%/app", "-XX:ErrorFile=/s/100%%/app/hs_err_pid%p.log"},
      {{"-XX:ErrorFile=/tmp/x.log"}, "/s/app", std::nullopt},
      {{"-Xmx1g", "-XX:ErrorFile="}, "/s/app", std::nullopt},
      // Only the option itself counts, not a property that mentions it.
      {{"-Dx=-XX:ErrorFile=/tmp/x.log"}, "/s/app", "-XX:ErrorFile=/s/app/hs_err_pid%p.log"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(crash_log_option(c.options, c.state_dir), c.option) << c.state_dir;
  }
}

TEST(StartEndReport, Table) {
  const struct {
    StartEnd end;
    std::string crash_log;
    std::string said;
    std::string report;
  } cases[] = {
      {{.aborted = true},
       "",
       "Error occurred during initialization of VM\nToo small\n",
       "The JVM stopped as it started.\n\nError occurred during initialization of VM\nToo small\n"},
      {{.aborted = true},
       "/s/app/hs_err_pid7.log",
       "",
       "The JVM crashed as it started. Its crash log is /s/app/hs_err_pid7.log."},
      {{.status = 3}, "", "", "The JVM ended as it started, with status 3."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(start_end_report(c.end, c.crash_log, c.said), c.report) << c.report;
  }
  EXPECT_EQ(crash_log_path("/s/100%/app", 42), "/s/100%/app/hs_err_pid42.log");
}

}  // namespace
}  // namespace vorlane
