#include "pack/image/app_config.h"

#include <algorithm>

namespace vorlane {

std::string check_app_name(const std::string& name) {
  if (name.empty()) return "the app's name is empty";
  if (name == "." || name == "..") return "the app's name cannot be '" + name + "'";
  if (name.find('/') != std::string::npos) return "the app's name '" + name + "' holds a '/'";
  if (name.find('\0') != std::string::npos) return "the app's name holds a 0 byte";
  // The Java runtime takes ':' in its own path for a separator and fails to start.
  if (name.find(':') != std::string::npos) return "the app's name '" + name + "' holds a ':'";
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return "the app's name holds a control character (such as a line break)";
    }
  }
  if (name[0] == '.' || name[0] == '-') {
    return "the app's name '" + name + "' starts with '" + name.substr(0, 1) + "'";
  }
  if (name.size() > 200) return "the app's name is longer than 200 bytes";
  return "";
}

std::string check_class_path_element(const std::string& relative) {
  // The launcher would take ':' for a separator, replace "&&" by its folder
  // and expand a trailing '*' as a wildcard.
  if (relative.find(':') != std::string::npos) return "its name holds a ':'";
  if (relative.find("&&") != std::string::npos) return "its name holds '&&'";
  if (relative.find('*') != std::string::npos) return "its name holds a '*'";
  if (relative.find('\n') != std::string::npos) return "its name holds a line break";
  return "";
}

std::string class_path_option(std::vector<std::string> jars, const std::string& main_jar,
                              bool updater) {
  std::sort(jars.begin(), jars.end());
  std::string value;
  const auto add = [&value](const std::string& jar) {
    value += (value.empty() ? "&&/" : ":&&/") + jar;
  };
  if (!main_jar.empty()) add(main_jar);
  for (const std::string& jar : jars) {
    if (jar != main_jar) add(jar);
  }
  add(kLauncherJarName);
  if (updater) add(kUpdaterJarName);
  return "-Djava.class.path=" + value;
}

}  // namespace vorlane
