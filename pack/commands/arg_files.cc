#include "pack/commands/arg_files.h"

#include "pack/core/files.h"
#include "pack/core/strings.h"

namespace vorlane {

Status expand_arg_files(std::vector<std::string>& args) {
  std::vector<std::string> expanded;
  for (std::string& arg : args) {
    if (arg.size() < 2 || arg[0] != '@') {
      expanded.push_back(std::move(arg));
      continue;
    }
    const std::string path = arg.substr(1);
    Result<std::vector<std::uint8_t>> bytes = read_file(path);
    if (!bytes) return as_input(bytes.error());
    std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    if (text.find('\0') != std::string::npos) {
      return bad_input("argument file " + path + " holds a 0 byte");
    }
    // Editors on some systems start a UTF-8 file with a byte-order mark.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    for (std::string& line : split_lines(text)) {
      if (!line.empty()) expanded.push_back(std::move(line));
    }
  }
  args = std::move(expanded);
  return done();
}

Result<std::map<std::string, std::vector<std::string>>> take_value_options(
    std::vector<std::string>& args, const std::set<std::string>& names) {
  std::map<std::string, std::vector<std::string>> values;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
      break;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    if (!names.contains(name)) {
      rest.push_back(arg);
    } else if (eq != std::string::npos) {
      values[name].push_back(arg.substr(eq + 1));
    } else if (i + 1 < args.size()) {
      values[name].push_back(args[++i]);
    } else {
      return bad_input(name + " needs a value");
    }
  }
  args = std::move(rest);
  return values;
}

}  // namespace vorlane
