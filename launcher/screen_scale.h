// The right integer scale on high-density screens. Java on Linux takes only
// whole scales, from GDK_SCALE, J2D_UISCALE or -Dsun.java2d.uiScale; desktops
// that set only Xft.dpi (KDE, others at 200%) get tiny windows. Where nothing
// sets a scale, the launcher reads Xft.dpi from the X display's resources and
// sets the whole scale the JVM supports, and passes the exact factor on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane {

/// Whether a scale is set already: by an option (-Dsun.java2d.uiScale=...,
/// or -Dsun.java2d.uiScale.enabled=...) or by GDK_SCALE or J2D_UISCALE
/// (null: unset; empty counts as unset).
bool scale_is_set(const std::vector<std::string>& options, const char* gdk_scale,
                  const char* j2d_uiscale);

/// The value of "Xft.dpi" in an X resource database's text ("name:\tvalue"
/// lines, as XResourceManagerString gives it): a positive number, or nullopt.
std::optional<double> xft_dpi(std::string_view resources);

/// The options for a screen of `dpi` dots per inch (96 is a scale of 1):
/// -Dsun.java2d.uiScale=2 from 192 dpi, 3 from 288; and the exact factor as
/// -Dvorlane.uiScale=F (at most two decimals, no trailing zeros) whenever
/// it is above 1. None at 96 dpi or less.
std::vector<std::string> scale_options(double dpi);

/// The X display's resource database text (the root window's
/// RESOURCE_MANAGER), through libxcb loaded with dlopen when DISPLAY is set
/// and not empty; nullopt without a display, libxcb or resources. The
/// launcher never links X libraries: without a display this costs nothing.
std::optional<std::string> x_resources();

}  // namespace vorlane
