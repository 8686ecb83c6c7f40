// Fuzz target: the application directory token and home expansion passes.
//
// Input: the application directory on the first line; then a line that sets
// HOME when it starts with '=' (the rest of the line is the value, so a lone
// '=' is an empty HOME) and leaves it unset otherwise; then the option.
//
// Beyond "no crash": the token pass replaces exactly the non-overlapping
// "&&" and leaves none behind when the directory holds no '&'; the home pass
// changes nothing without HOME, only a leading "~/" with an empty HOME, and
// leaves no home reference behind with a HOME that holds no '~'.
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/option_expansion.h"
#include "fuzz/fuzz_check.h"

namespace {

using vorlane::fuzz::require;

struct Input {
  std::string app_dir;
  bool home_set = false;
  std::string home;
  std::string option;
};

Input parse(std::string_view text) {
  Input in;
  std::size_t end = text.find('\n');
  in.app_dir = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  end = text.find('\n');
  const std::string_view home_line = text.substr(0, end);
  if (home_line.starts_with('=')) {
    in.home_set = true;
    // An environment value ends at its first 0 byte.
    in.home = std::string(home_line.substr(1, home_line.find('\0', 1) - 1));
  }
  in.option = end == std::string_view::npos ? std::string() : std::string(text.substr(end + 1));
  return in;
}

std::size_t count_tokens(std::string_view option) {
  std::size_t count = 0;
  for (std::size_t at = option.find("&&"); at != std::string_view::npos;
       at = option.find("&&", at + 2)) {
    ++count;
  }
  return count;
}

void check_token_pass(const Input& in) {
  std::string option = in.option;
  vorlane::formats::replace_app_dir_token(option, in.app_dir);
  const std::size_t tokens = count_tokens(in.option);
  require(option.size() + 2 * tokens == in.option.size() + tokens * in.app_dir.size(),
          "each token is replaced by the directory once");
  if (in.app_dir.find('&') == std::string::npos) {
    require(option.find("&&") == std::string::npos, "no token is left behind");
  }
}

void check_home_pass(const Input& in) {
  std::string option = in.option;
  std::size_t lookups = 0;
  vorlane::formats::expand_home(option, [&]() -> const char* {
    ++lookups;
    return in.home_set ? in.home.c_str() : nullptr;
  });
  if (!in.home_set) {
    require(option == in.option, "without HOME the option stays as written");
  } else if (in.home.empty()) {
    const std::string expected =
        in.option.starts_with("~/") ? "/" + in.option.substr(2) : in.option;
    require(option == expected, "an empty HOME changes only a leading ~/");
  } else if (in.home.find('~') == std::string::npos) {
    require(option.find("=~/") == std::string::npos && option.find(":~/") == std::string::npos &&
                !option.starts_with("~/"),
            "no home reference is left behind");
  }
  if (in.option.find('~') == std::string::npos) {
    require(lookups == 0 && option == in.option, "an option without '~' is not touched");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const Input in = parse(std::string_view(reinterpret_cast<const char*>(bytes), size));
  check_token_pass(in);
  check_home_pass(in);
  return 0;
}
