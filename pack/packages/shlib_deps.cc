#include "pack/packages/shlib_deps.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <string_view>

#include "pack/core/files.h"
#include "pack/core/tools.h"
#include "pack/packages/tree_facts.h"

namespace vorlane::packages {
namespace {

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

/// The text between the first '[' and the next ']' after `label` in `line`.
std::string bracketed_after(const std::string& line, const std::string& label) {
  const auto at = line.find(label);
  if (at == std::string::npos) return "";
  const auto open = line.find('[', at);
  const auto close = line.find(']', open);
  if (open == std::string::npos || close == std::string::npos) return "";
  return line.substr(open + 1, close - open - 1);
}

/// Whether a dependency's first package carries an architecture: "libc6:arm64 (>= 2.36)".
bool qualified(const std::string& dependency) {
  const auto end = dependency.find_first_of(" (,|");
  return dependency.substr(0, end).find(':') != std::string::npos;
}

void sort_unique(std::vector<std::string>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

}  // namespace

ElfDynamic parse_readelf_dynamic(const std::string& output) {
  ElfDynamic d;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (line.find("(NEEDED)") != std::string::npos) {
      std::string name = bracketed_after(line, "Shared library:");
      if (!name.empty()) d.needed.push_back(name);
    } else if (line.find("(SONAME)") != std::string::npos) {
      d.soname = bracketed_after(line, "Library soname:");
    }
  }
  return d;
}

void ShlibsMap::add_shlibs(const std::string& text) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string name;
    std::string version;
    if (!(words >> name) || name.starts_with("#") || name.ends_with(":")) continue;
    if (!(words >> version)) continue;
    std::string rest;
    std::getline(words, rest);
    rest = trim(rest);
    // A cross toolchain's package names its libraries for another
    // architecture (libc6:arm64): no package of this one provides them.
    if (rest.empty() || qualified(rest)) continue;
    // libfoo 6 names libfoo.so.6; libfoo 1.2 may also name libfoo-1.2.so.
    shlibs_.try_emplace(name + ".so." + version, rest);
    shlibs_.try_emplace(name + "-" + version + ".so", rest);
  }
}

void ShlibsMap::add_symbols(const std::string& text) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    // Only the unindented lines name a library; the others list its symbols.
    if (line.empty() || line[0] == ' ' || line[0] == '\t' || line[0] == '|' || line[0] == '*' ||
        line[0] == '#') {
      continue;
    }
    std::istringstream words(line);
    std::string soname;
    words >> soname;
    std::string rest;
    std::getline(words, rest);
    if (const auto minver = rest.find("#MINVER#"); minver != std::string::npos) {
      rest.erase(minver, 8);
    }
    rest = trim(rest);
    if (!soname.empty() && !rest.empty() && !qualified(rest)) symbols_.try_emplace(soname, rest);
  }
}

std::string ShlibsMap::find(const std::string& soname) const {
  if (auto it = shlibs_.find(soname); it != shlibs_.end()) return it->second;
  if (auto it = symbols_.find(soname); it != symbols_.end()) return it->second;
  return "";
}

DependencyResult map_dependencies(const std::set<std::string>& needed,
                                  const std::set<std::string>& provided, const ShlibsMap& shlibs,
                                  const std::string& rpm_suffix) {
  DependencyResult r;
  for (const std::string& soname : needed) {
    if (provided.contains(soname)) continue;
    r.rpm_requires.push_back(soname + rpm_suffix);
    std::string dep = shlibs.find(soname);
    if (dep.empty()) {
      r.missing.push_back(soname);
    } else {
      r.deb_depends.push_back(dep);
    }
  }
  sort_unique(r.deb_depends);
  sort_unique(r.rpm_requires);
  return r;
}

std::vector<std::string> merge_dependencies(std::vector<std::string> deps,
                                            const std::vector<std::string>& extra) {
  for (const std::string& list : extra) {
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
      if (!trim(item).empty()) deps.push_back(trim(item));
    }
  }
  sort_unique(deps);
  return deps;
}

std::set<std::string> dlopened_libraries(const std::set<std::string>& provided) {
  static const std::pair<const char*, const char*> kLoads[] = {
      {"libfontmanager.so", "libfontconfig.so.1"},
  };
  std::set<std::string> out;
  for (const auto& [loader, library] : kLoads) {
    if (provided.contains(loader)) out.insert(library);
  }
  return out;
}

Status check_dependency(const std::string& dependency) {
  auto is_name_char = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
  };
  auto is_version_char = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view(".+~:-").find(c) != std::string_view::npos;
  };
  auto refuse = [&](const std::string& why) {
    return bad_input("--package-deps '" + dependency + "' is no Debian dependency: " + why);
  };
  std::istringstream alternatives(dependency);
  for (std::string item; std::getline(alternatives, item, '|');) {
    const std::string alt = trim(item);
    std::size_t i = 0;
    while (i < alt.size() && (is_name_char(alt[i]) || alt[i] == ':')) ++i;
    const std::string name = alt.substr(0, i);
    const auto colon = name.find(':');
    const std::string package = name.substr(0, colon);
    if (package.size() < 2 || !(std::isalnum(static_cast<unsigned char>(package[0])) != 0) ||
        !std::all_of(package.begin(), package.end(), is_name_char) ||
        (colon != std::string::npos &&
         (colon + 1 == name.size() || name.find(':', colon + 1) != std::string::npos))) {
      return refuse("'" + alt +
                    "' does not start with a package name (lower-case letters, digits, + - .)");
    }
    std::string rest = trim(alt.substr(i));
    if (rest.empty()) continue;
    if (rest.front() != '(' || rest.back() != ')') {
      return refuse("after '" + name + "' comes '" + rest + "', not (OP VERSION)");
    }
    rest = trim(rest.substr(1, rest.size() - 2));
    const auto op_end = rest.find_first_not_of("<>=");
    const std::string op = rest.substr(0, op_end);
    const std::string version = op_end == std::string::npos ? "" : trim(rest.substr(op_end));
    if (op != "<<" && op != "<=" && op != "=" && op != ">=" && op != ">>") {
      return refuse("'" + op + "' is none of << <= = >= >>");
    }
    if (version.empty() || !std::isdigit(static_cast<unsigned char>(version[0])) ||
        !std::all_of(version.begin(), version.end(), is_version_char)) {
      return refuse("'" + version + "' is no version");
    }
  }
  if (trim(dependency).empty() || dependency.find("||") != std::string::npos ||
      trim(dependency).front() == '|' || trim(dependency).back() == '|') {
    return refuse("an alternative is empty");
  }
  return done();
}

std::string rpm_dependency(const std::string& debian) {
  std::vector<std::string> alternatives;
  std::istringstream in(debian);
  for (std::string item; std::getline(in, item, '|');) {
    std::string out;
    for (char c : trim(item)) {
      if (c != '(' && c != ')') out += c;
    }
    // Debian's strict << and >> are RPM's < and >.
    for (const auto& [from, to] : {std::pair{"<<", "<"}, std::pair{">>", ">"}}) {
      if (auto at = out.find(from); at != std::string::npos) out.replace(at, 2, to);
    }
    if (!trim(out).empty()) alternatives.push_back(trim(out));
  }
  if (alternatives.size() == 1) return alternatives.front();
  std::string out;
  for (const std::string& a : alternatives) out += (out.empty() ? "(" : " or ") + a;
  return out.empty() ? "" : out + ")";
}

Result<ElfScan> scan_elf_files(const std::string& root, const std::string& readelf) {
  namespace fs = std::filesystem;
  ElfScan scan;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_symlink() || !it->is_regular_file() || !is_elf_file(it->path())) continue;
    scan.provided.insert(it->path().filename());
    Result<std::string> out =
        run_tool("readelf " + it->path().string(), {readelf, "-dW", it->path()});
    if (!out) return out.error();
    const ElfDynamic d = parse_readelf_dynamic(*out);
    scan.needed.insert(d.needed.begin(), d.needed.end());
    if (!d.soname.empty()) scan.provided.insert(d.soname);
  }
  if (ec) return step_failed("cannot walk " + root + ": " + ec.message());
  return scan;
}

Result<ShlibsMap> read_shlibs_dir(const std::string& dir, const std::string& deb_arch) {
  namespace fs = std::filesystem;
  ShlibsMap shlibs;
  std::size_t files = 0;
  // The first file that names a library decides, whatever the directory's order.
  std::vector<fs::path> paths;
  std::error_code ec;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    paths.push_back(it->path());
  }
  // Files of packages of the target architecture (PACKAGE:ARCH, Multi-Arch:
  // same) first: an unqualified one may be a multilib package (lib32gcc-s1)
  // that names the same sonames for another word size.
  std::sort(paths.begin(), paths.end(), [](const fs::path& a, const fs::path& b) {
    const bool qa = a.filename().string().find(':') != std::string::npos;
    const bool qb = b.filename().string().find(':') != std::string::npos;
    return qa != qb ? qa : a < b;
  });
  for (const fs::path& path : paths) {
    const std::string name = path.filename();
    const bool is_shlibs = name.ends_with(".shlibs");
    if (!is_shlibs && !name.ends_with(".symbols")) continue;
    // dpkg's database names files PACKAGE:ARCH.shlibs for packages of one architecture.
    if (name.find(':') != std::string::npos &&
        name.find(":" + deb_arch + ".") == std::string::npos) {
      continue;
    }
    const auto bytes = read_file_no_fifo(path);
    if (!bytes) continue;
    const std::string text(bytes->begin(), bytes->end());
    is_shlibs ? shlibs.add_shlibs(text) : shlibs.add_symbols(text);
    ++files;
  }
  if (ec || files == 0) {
    return bad_input("--shlibs-dir " + dir + " holds no readable *.shlibs or *.symbols files" +
                     (ec ? ": " + ec.message() : ""));
  }
  return shlibs;
}

}  // namespace vorlane::packages
