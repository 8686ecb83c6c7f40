#include "pack/image/marker.h"

#include "pack/core/strings.h"

namespace vorlane {

namespace {

/// A marker value on one line: '\' and line breaks escaped.
std::string escape(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string unescape(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char next = i + 1 < value.size() ? value[i + 1] : '\0';
    // Other backslashes stay: markers of earlier packers did not escape them.
    if (value[i] == '\\' && (next == 'n' || next == '\\')) {
      out += next == 'n' ? '\n' : '\\';
      ++i;
    } else {
      out += value[i];
    }
  }
  return out;
}

}  // namespace

std::string format_marker(const AppMarker& marker) {
  std::string text =
      "# Made by vorlane-pack app. vorlane-pack cds reads it to remake the app's\n"
      "# class-data archive; removing it makes the packer treat this folder as the user's.\n";
  text += "name=" + escape(marker.name) + "\n";
  for (const std::string& arg : marker.training_args) text += "training-arg=" + escape(arg) + "\n";
  for (const std::string& path : marker.made) text += "made=" + escape(path) + "\n";
  if (marker.archive) text += "archive=" + archive_kind_name(*marker.archive) + "\n";
  return text;
}

Result<AppMarker> parse_marker(const std::string& text) {
  AppMarker marker;
  for (const std::string& line : split_lines(text)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = unescape(line.substr(eq + 1));
    if (key == "name") marker.name = value;
    if (key == "training-arg") marker.training_args.push_back(value);
    if (key == "made") marker.made.push_back(value);
    // An unknown kind (a later packer's) is left for `cds` to choose again.
    if (key == "archive") marker.archive = parse_archive_kind(value);
  }
  if (const std::string why = check_app_name(marker.name); !why.empty()) {
    return bad_input("it names no launcher (" + why + ")");
  }
  return marker;
}

}  // namespace vorlane
