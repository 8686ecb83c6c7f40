#include "launcher/screen_scale.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

using Options = std::vector<std::string>;

TEST(ScaleIsSet, Table) {
  const struct {
    Options options;
    const char* gdk;
    const char* j2d;
    bool set;
  } cases[] = {
      {{}, nullptr, nullptr, false},
      {{"-Xmx1g", "-Dsun.java2d.uiScaleX=2"}, "", "", false},
      {{}, "2", nullptr, true},
      {{}, nullptr, "1", true},
      {{"-Dsun.java2d.uiScale=1"}, nullptr, nullptr, true},
      {{"-Dsun.java2d.uiScale.enabled=false"}, nullptr, nullptr, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(scale_is_set(c.options, c.gdk, c.j2d), c.set) << (c.gdk ? c.gdk : "null");
  }
}

TEST(XftDpi, Table) {
  const struct {
    std::string resources;
    std::optional<double> dpi;
  } cases[] = {
      {"Xft.dpi:\t192\n", 192},
      {"Xcursor.size:\t24\nXft.antialias:\t1\nXft.dpi:\t144.5\nXft.hinting:\t1\n", 144.5},
      {"Xft.dpi: 120", 120},
      {"", std::nullopt},
      {"Xft.dpix:\t192\n*.dpi:\t192\n", std::nullopt},
      {"Xft.dpi:\tlarge\n", std::nullopt},
      {"Xft.dpi:\t0\n", std::nullopt},
      {"Xft.dpi:\t-96\n", std::nullopt},
      {"Xft.dpi:\t192abc\n", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(xft_dpi(c.resources), c.dpi) << c.resources;
}

TEST(ScaleOptions, Table) {
  const struct {
    double dpi;
    Options options;
  } cases[] = {
      {96, {}},
      {72, {}},
      {120, {"-Dvorlane.uiScale=1.25"}},
      {144, {"-Dvorlane.uiScale=1.5"}},
      {191, {"-Dvorlane.uiScale=1.99"}},
      {192, {"-Dsun.java2d.uiScale=2", "-Dvorlane.uiScale=2"}},
      {240, {"-Dsun.java2d.uiScale=2", "-Dvorlane.uiScale=2.5"}},
      {288, {"-Dsun.java2d.uiScale=3", "-Dvorlane.uiScale=3"}},
      {384, {"-Dsun.java2d.uiScale=3", "-Dvorlane.uiScale=4"}},
  };
  for (const auto& c : cases) EXPECT_EQ(scale_options(c.dpi), c.options) << c.dpi;
}

}  // namespace
}  // namespace vorlane
