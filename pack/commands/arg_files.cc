#include "pack/commands/arg_files.h"

#include "pack/core/files.h"

namespace vorlane {

bool expand_arg_files(std::vector<std::string>& args, std::string& error) {
  std::vector<std::string> expanded;
  for (std::string& arg : args) {
    if (arg.size() < 2 || arg[0] != '@') {
      expanded.push_back(std::move(arg));
      continue;
    }
    const std::string path = arg.substr(1);
    std::optional<std::vector<std::uint8_t>> bytes = read_file(path, error);
    if (!bytes) return false;
    const std::string text(bytes->begin(), bytes->end());
    if (text.find('\0') != std::string::npos) {
      error = "argument file " + path + " holds a 0 byte";
      return false;
    }
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) expanded.push_back(std::move(line));
      start = end + 1;
    }
  }
  args = std::move(expanded);
  return true;
}

void attach_option_values(std::vector<std::string>& args,
                          const std::set<std::string>& value_options) {
  std::vector<std::string> joined;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") {
      joined.insert(joined.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
      break;
    }
    if (value_options.contains(args[i]) && i + 1 < args.size()) {
      joined.push_back(args[i] + "=" + args[i + 1]);
      ++i;
    } else {
      joined.push_back(args[i]);
    }
  }
  args = std::move(joined);
}

}  // namespace vorlane
