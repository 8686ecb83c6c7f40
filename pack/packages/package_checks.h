// The checks on the values that go into a package's texts, and the values
// derived from others when not given. No file system.
#pragma once

#include <string>
#include <vector>

#include "pack/core/error.h"

namespace vorlane::packages {

/// One file type the app opens.
struct FileAssociation {
  std::string extension;  ///< without the dot
  std::string mime_type;
  std::string description;
  std::string icon;  ///< a PNG or SVG file; may be empty
  /// A type the system defines (text/plain): the app opens it, but the
  /// package neither defines it nor gives it an icon.
  bool system_type = false;
};

/// Reads `--file-association`'s value: "extension=vnote,mime-type=...,
/// description=...,icon=..." or the text of a file of KEY=VALUE lines.
/// A bad-input error when a key is unknown or extension or MIME type is
/// missing or malformed.
Result<FileAssociation> parse_file_association(const std::string& text);

/// Refuses a `version` that cannot be the upstream version of both a .deb and an .rpm: it starts
/// with a digit and holds only letters, digits,
/// '.', '+' and '~'.
Status check_version(const std::string& version);
/// The same for a release (Debian revision, RPM release).
Status check_release(const std::string& release);
/// Why `name` cannot be a Debian and RPM package name .
Status check_package_name(const std::string& name);
/// Why `dir` cannot be the install dir : absolute, normal, not /.
Status check_install_dir(const std::string& dir);
/// Why `maintainer` is not "Name <address>" .
Status check_maintainer(const std::string& maintainer);
/// Why `scheme` is no URL scheme the desktop entry can handle: RFC 3986's
/// ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ), in lower case (schemes are
/// case-insensitive, and the desktop's x-scheme-handler types are lower
/// case); "file" and the schemes of the web are refused, as taking them
/// would take every link or file from the user's other programs.
Status check_url_scheme(const std::string& scheme);
/// Why `id` is no reverse-DNS app id (at least two parts, letters, digits, '_', '.').
Status check_app_id(const std::string& id);

/// The StartupWMClass an AWT/Swing window of `main_class` gets: its name
/// with dots turned into dashes.
std::string default_wm_class(const std::string& main_class);
/// The app id when none is given: the main class's package (when it has two
/// parts or more) and the name, otherwise "app." and the name; '-' becomes '_'.
std::string default_app_id(const std::string& main_class, const std::string& name);

/// Whether `mime_type` is one the package may define itself: an
/// unregistered (x-) or vendor (vnd., prs.) subtype that `known` (the
/// system's shared MIME database's types) does not already hold.
bool is_own_mime_type(const std::string& mime_type, const std::vector<std::string>& known);

/// Menu categories from "Office;Viewer" or "Office,Viewer"; empty entries dropped.
std::vector<std::string> split_categories(const std::string& text);

/// Refuses a value `what` (an option's name) that holds a control
/// character; a line break too unless `multi_line`, where a tab is also
/// accepted. No package format escapes those.
Status check_text(const std::string& what, const std::string& value, bool multi_line);

/// Refuses a description any of whose lines, blanks at its ends dropped,
/// starts with '%': rpmbuild reads such a line as a section or a macro
/// line whatever its escapes, so an .rpm cannot say it.
Status check_rpm_description(const std::string& what, const std::string& text);

/// Refuses a Debian section that is not lower-case letters, digits, '+',
/// '-', '.' and at most one '/' (contrib/utils).
Status check_section(const std::string& section);

}  // namespace vorlane::packages
