#include "pack/packages/package_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "pack/core/elf_section.h"
#include "pack/core/files.h"
#include "pack/core/process.h"
#include "pack/core/report.h"
#include "pack/core/staging.h"
#include "pack/core/strings.h"
#include "pack/jdk/jdk.h"
#include "pack/packages/icon.h"
#include "pack/packages/package_text.h"
#include "pack/packages/shlib_deps.h"
#include "pack/packages/tree_facts.h"

namespace vorlane::packages {
namespace {

namespace fs = std::filesystem;
using Clock = Report::Clock;

constexpr char kClassListName[] = "vorlane-app.classlist";
constexpr std::uintmax_t kMaxTextFile = 16u << 20;
constexpr int kTrainingTimeout = 300;
/// Sizes the hicolor theme gets from an SVG icon.
constexpr int kIconSizes[] = {48, 64, 128, 256};

/// A program on PATH, or "".
std::string find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream in(path == nullptr ? "/usr/bin:/bin" : path);
  for (std::string dir; std::getline(in, dir, ':');) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0 && !fs::is_directory(candidate)) return candidate;
  }
  return "";
}

/// A text file the packager reads (a license, a description, a class list).
std::optional<std::string> read_text(const std::string& path, std::string& error) {
  const auto bytes = read_file_no_fifo(path, error);
  if (!bytes) return std::nullopt;
  if (bytes->size() > kMaxTextFile) {
    error = path + " is larger than 16 MiB";
    return std::nullopt;
  }
  return std::string(bytes->begin(), bytes->end());
}

bool write_text(const std::string& path, const std::string& text, unsigned mode,
                std::string& error) {
  return write_file_atomically(
      path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), mode,
      error);
}

/// Compresses `from` into the gzip file `to` with no name and no time in
/// its header, so the same input gives the same bytes.
bool gzip_file(const std::string& from, const std::string& to, std::string& error) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  z_stream z{};
  // 15 + 16: a gzip wrapper with a zeroed header.
  if (!in || !out || deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    error = "cannot compress " + from + " into " + to;
    return false;
  }
  std::vector<char> input(1 << 16);
  std::vector<char> output(1 << 16);
  int flush = Z_NO_FLUSH;
  int rc = Z_OK;
  do {
    in.read(input.data(), static_cast<std::streamsize>(input.size()));
    z.next_in = reinterpret_cast<Bytef*>(input.data());
    z.avail_in = static_cast<uInt>(in.gcount());
    flush = in.eof() ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = reinterpret_cast<Bytef*>(output.data());
      z.avail_out = static_cast<uInt>(output.size());
      rc = deflate(&z, flush);
      out.write(output.data(), static_cast<std::streamsize>(output.size() - z.avail_out));
    } while (z.avail_out == 0);
  } while (flush != Z_FINISH && in);
  deflateEnd(&z);
  out.close();
  if (rc != Z_STREAM_END || !out || in.bad()) {
    error = "cannot compress " + from + " into " + to;
    return false;
  }
  return true;
}

/// Modes 0755 for folders and executables, 0644 for other files, and every
/// time set to `epoch`, so packages do not depend on the umask or the clock.
bool normalize_tree(const std::string& root, std::int64_t epoch, std::string& error) {
  std::error_code ec;
  const struct timespec times[2] = {{static_cast<time_t>(epoch), 0},
                                    {static_cast<time_t>(epoch), 0}};
  auto fix = [&](const fs::path& p) {
    const fs::file_status st = fs::symlink_status(p, ec);
    if (!fs::is_symlink(st)) {
      const bool exec = fs::is_directory(st) ||
                        (st.permissions() & (fs::perms::owner_exec | fs::perms::group_exec |
                                             fs::perms::others_exec)) != fs::perms::none;
      if (chmod(p.c_str(), exec ? 0755 : 0644) != 0) return false;
    }
    return utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
  };
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!fix(it->path())) {
      error = "cannot set the mode or time of " + it->path().string();
      return false;
    }
  }
  if (ec || !fix(root)) {
    error = "cannot walk " + root + ": " + ec.message();
    return false;
  }
  return true;
}

/// The feature version in the runtime's `release` file (17 for "17.0.9"), or 0.
int runtime_major_version(const std::string& runtime) {
  std::string error;
  const auto text = read_text(runtime + "/release", error);
  return text ? java_feature_version(*text).value_or(0) : 0;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

/// Everything checked and read before anything is written.
struct Plan {
  PackageInfo info;
  TreeFacts tree;
  std::set<PackageType> types;
  std::map<std::string, std::string> tools;  ///< name -> path
  std::string icon_path;
  std::optional<IconInfo> icon;
  std::vector<std::optional<IconInfo>> association_icons;
  bool strip_launcher = false;
  bool record_class_list = false;
  bool ship_archive = false;  ///< the tree's archive serves the installed path as it is
  std::vector<std::string> emulator;
};

/// Runs a tool with its standard output and error in one stream.
ProcessResult run_tool(const std::vector<std::string>& argv, int timeout_seconds = 0) {
  ProcessOptions options;
  options.merge_output = true;
  options.timeout_seconds = timeout_seconds;
  return run_process(argv, options);
}

/// How a tool that did not succeed ended: "exited with status 2", ...
std::string ended(const ProcessResult& r, int timeout_seconds = 0) {
  return r.started ? r.describe_end(timeout_seconds) : "could not start: " + r.error;
}

std::string describe_output(const ProcessResult& r) {
  std::string tail = r.started ? r.out : "";
  if (tail.size() > 4000) tail = "..." + tail.substr(tail.size() - 4000);
  return tail.empty() ? "" : "; it printed:\n" + tail;
}

class Packager {
 public:
  Packager(const PackageOptions& o, Report report) : o_(o), report_(report) {}

  int run() {
    if (int status = check(); status != 0) return status;
    std::error_code ec;
    fs::create_directories(o_.dest, ec);
    if (ec) return failed("cannot make --dest " + o_.dest + ": " + ec.message());
    std::string error;
    // Removed with everything in it when the packager returns; one that a
    // killed run left is removed by the next.
    Result<StagingDir> scratch = StagingDir::create(o_.dest + "/package");
    if (!scratch) return failed(scratch.error().message);
    scratch_ = scratch->path();
    root_ = scratch_ + "/root";
    const int status = build();
    if (interrupted() != 0) return report_.stop("no package was written");
    return status;
  }

 private:
  /// A refusal: nothing was written.
  int fail(const std::string& error) const { return report(bad_input(error)); }
  /// A step that failed.
  int failed(const std::string& error) const { return report(step_failed(error)); }
  int report(const Error& error) const {
    // A tool ended by an interrupt is no failure of its own: `run` says what happened.
    if (interrupted() != 0) return static_cast<int>(ExitStatus::kInterrupted);
    return report_.fail(error);
  }

  std::string need_tool(const std::string& name, const std::string& why) {
    std::string path = find_program(name);
    if (path.empty())
      missing_tools_ += (missing_tools_.empty() ? "" : "; ") + name + " (" + why + ")";
    p_.tools[name] = path;
    return path;
  }

  /// Every check on the options and the tree; 0 when all pass.
  int check() {
    std::string error;
    if (o_.types.empty()) return fail("--type is needed: deb, rpm or tar.gz (repeat, or a list)");
    for (const std::string& list : o_.types) {
      std::istringstream in(list);
      for (std::string word; std::getline(in, word, ',');) {
        const auto type = parse_package_type(word);
        if (!type) return fail("--type '" + word + "' is none of deb, rpm, tar.gz");
        p_.types.insert(*type);
      }
    }
    const bool deb = p_.types.contains(PackageType::kDeb);
    const bool rpm = p_.types.contains(PackageType::kRpm);
    auto tree = read_tree(o_.app_dir, error);
    if (!tree) return fail(error);
    p_.tree = *tree;
    PackageInfo& info = p_.info;
    const auto arch = architecture_of(p_.tree.machine);
    if (!arch) {
      return fail("the launcher of " + o_.app_dir + " is built for " +
                  machine_name(p_.tree.machine) + "; packages are made for x86-64 and AArch64");
    }
    info.arch = *arch;
    info.launcher = p_.tree.launcher_name;
    info.name = o_.package_name.empty() ? p_.tree.launcher_name : o_.package_name;
    for (const std::string& why : {check_package_name(info.name), check_version(o_.app_version),
                                   check_release(o_.release)}) {
      if (!why.empty()) return fail(why);
    }
    info.version = o_.app_version;
    info.release = o_.release;
    info.install_dir = o_.install_dir.empty() ? "/opt/" + info.name : o_.install_dir;
    if (std::string why = check_install_dir(info.install_dir); !why.empty()) return fail(why);
    if (info.install_dir.starts_with("/usr/share/") || info.install_dir == "/usr/bin") {
      return fail("--install-dir " + info.install_dir +
                  " would mix the tree with the desktop files");
    }
    info.maintainer = o_.maintainer;
    if (deb || rpm) {
      if (std::string why = check_maintainer(o_.maintainer); !why.empty()) {
        return fail(why + " (a .deb and an .rpm name their maintainer)");
      }
    }
    info.vendor = o_.vendor;
    info.summary = o_.description.empty() ? info.name : o_.description;
    if (info.summary.find('\n') != std::string::npos) return fail("--description must be one line");
    info.long_description = o_.long_description;
    if (!o_.long_description_file.empty()) {
      auto text = read_text(o_.long_description_file, error);
      if (!text) return fail("--long-description-file: " + error);
      info.long_description = *text;
    }
    if (!o_.license_file.empty()) {
      auto text = read_text(o_.license_file, error);
      if (!text) return fail("--license-file: " + error);
      info.license_text = *text;
    }
    info.license = o_.license_type;
    info.copyright = o_.copyright;
    info.homepage = o_.homepage;
    info.section = o_.section;
    if (!o_.menu_group.empty()) info.categories = split_categories(o_.menu_group);
    if (info.categories.empty()) return fail("--linux-menu-group names no category");
    info.app_id = o_.app_id.empty() ? default_app_id(p_.tree.main_class, info.name) : o_.app_id;
    if (std::string why = check_app_id(info.app_id); !why.empty()) return fail(why);
    info.wm_class = o_.wm_class.empty() ? default_wm_class(p_.tree.main_class) : o_.wm_class;
    for (const std::string& value : {info.summary, info.wm_class, info.vendor, info.homepage}) {
      if (value.find_first_of("\n\r") != std::string::npos)
        return fail("'" + value + "' holds a line break");
    }
    if (!o_.icon.empty()) {
      p_.icon_path = o_.icon;
      p_.icon = check_icon(o_.icon, "--icon", error);
      if (!p_.icon) return fail(error);
      info.has_icon = true;
    }
    for (const std::string& value : o_.file_associations) {
      std::string text = value;
      std::error_code ec;
      if (value.find('=') == std::string::npos && fs::is_regular_file(value, ec)) {
        auto file = read_text(value, error);
        if (!file) return fail("--file-association: " + error);
        text = *file;
      }
      auto fa = parse_file_association(text, error);
      if (!fa) return fail("--file-association " + value + ": " + error);
      std::optional<IconInfo> icon;
      if (!fa->icon.empty()) {
        icon = check_icon(fa->icon, "--file-association icon", error);
        if (!icon) return fail(error);
      }
      info.file_associations.push_back(*fa);
      p_.association_icons.push_back(icon);
    }
    // The tools, all named at once when some are missing.
    if (deb) need_tool("dpkg-deb", "makes the .deb");
    if (rpm) need_tool("rpmbuild", "makes the .rpm; Debian package rpm");
    if (p_.types.contains(PackageType::kTarGz)) need_tool("tar", "makes the .tar.gz");
    need_tool("env", "runs the tools");
    if (deb || rpm)
      need_tool("readelf", "reads the libraries the tree needs; Debian package binutils");
    if (deb) need_tool("md5sum", "lists the .deb's checksums");
    const std::string launcher = o_.app_dir + "/bin/" + p_.tree.launcher_name;
    p_.strip_launcher = has_elf_section(launcher, ".debug_info");
    // The binutils of the tree's machine, where they are here; the host's handle ELF of any.
    const std::string objcopy =
        p_.tree.machine == 183 && !find_program("aarch64-linux-gnu-objcopy").empty()
            ? "aarch64-linux-gnu-objcopy"
            : "objcopy";
    p_.tools["objcopy"] =
        need_tool(objcopy, "strips the shipped programs; Debian package binutils");
    const bool svg_icons =
        (p_.icon && p_.icon->kind == IconKind::kSvg) ||
        std::any_of(p_.association_icons.begin(), p_.association_icons.end(),
                    [](const auto& i) { return i && i->kind == IconKind::kSvg; });
    if (svg_icons)
      need_tool("rsvg-convert", "draws PNG icons from the SVG; Debian package librsvg2-bin");
    if (!missing_tools_.empty()) return fail("missing tools: " + missing_tools_);
    if (deb || rpm) {
      if (int status = compute_dependencies(); status != 0) return status;
    }
    plan_archive();
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    info.source_date_epoch = epoch != nullptr ? std::strtoll(epoch, nullptr, 10)
                                              : static_cast<std::int64_t>(std::time(nullptr));
    if (epoch != nullptr &&
        (std::string(epoch).empty() ||
         std::string(epoch).find_first_not_of("0123456789") != std::string::npos)) {
      return fail("SOURCE_DATE_EPOCH '" + std::string(epoch) + "' is not a number of seconds");
    }
    return 0;
  }

  std::optional<IconInfo> check_icon(const std::string& path, const std::string& what,
                                     std::string& error) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> head(4096);
    std::error_code ec;
    if (!in || !fs::is_regular_file(path, ec)) {
      error = what + " " + path + " is not a readable file";
      return std::nullopt;
    }
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    std::string why;
    auto icon = identify_icon(head, why);
    if (!icon) {
      error = what + " " + path + " " + why;
      return std::nullopt;
    }
    if (icon->kind == IconKind::kPng && icon->width != icon->height) {
      error = what + " " + path + " is " + std::to_string(icon->width) + "x" +
              std::to_string(icon->height) + "; icons are square";
      return std::nullopt;
    }
    return icon;
  }

  /// The packages that provide the libraries the tree's ELF files need.
  int compute_dependencies() {
    std::set<std::string> needed;
    std::set<std::string> provided;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(o_.app_dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_regular_file() || !is_elf_file(it->path())) continue;
      provided.insert(it->path().filename());
      const ProcessResult r = run_tool({p_.tools["readelf"], "-dW", it->path()});
      if (!r.ok())
        return failed("readelf " + it->path().string() + " " + ended(r) + describe_output(r));
      const ElfDynamic d = parse_readelf_dynamic(r.out);
      needed.insert(d.needed.begin(), d.needed.end());
      if (!d.soname.empty()) provided.insert(d.soname);
    }
    if (ec) return failed("cannot walk " + o_.app_dir + ": " + ec.message());
    needed.merge(dlopened_libraries(provided));
    ShlibsMap shlibs;
    std::vector<std::string> dirs = o_.shlibs_dirs;
    const bool deb = p_.types.contains(PackageType::kDeb);
    if (dirs.empty() && deb) {
      const auto host = architecture_of(host_machine());
      if (!host || host->deb != p_.info.arch.deb) {
        return fail("the tree is for " + p_.info.arch.deb +
                    ": give --shlibs-dir with the shlibs and symbols files of that architecture's "
                    "packages (e.g. a sysroot's var/lib/dpkg/info), so the .deb's dependencies "
                    "fit it");
      }
      dirs.emplace_back("/var/lib/dpkg/info");
    }
    for (const std::string& dir : dirs) {
      std::size_t files = 0;
      // The first file that names a library decides, whatever the directory's order.
      std::vector<fs::path> paths;
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
            name.find(":" + p_.info.arch.deb + ".") == std::string::npos) {
          continue;
        }
        std::string error;
        auto text = read_text(path, error);
        if (!text) continue;
        is_shlibs ? shlibs.add_shlibs(*text) : shlibs.add_symbols(*text);
        ++files;
      }
      if (ec || files == 0)
        return fail("--shlibs-dir " + dir + " holds no readable *.shlibs or *.symbols files");
    }
    const DependencyResult r =
        map_dependencies(needed, provided, shlibs, p_.info.arch.rpm_lib_suffix);
    if (deb && !r.missing.empty()) {
      std::string list;
      for (const std::string& m : r.missing) list += (list.empty() ? "" : ", ") + m;
      std::string where;
      for (const std::string& d : dirs) where += (where.empty() ? "" : ", ") + d;
      return fail("no package in " + where + " provides " + list +
                  ", which the tree needs: add the packages that do (their shlibs files) or give "
                  "--shlibs-dir");
    }
    p_.info.deb_depends = merge_dependencies(r.deb_depends, o_.package_deps);
    std::vector<std::string> rpm_extra;
    for (const std::string& d : merge_dependencies({}, o_.package_deps))
      rpm_extra.push_back(rpm_dependency(d));
    p_.info.rpm_requires = merge_dependencies(r.rpm_requires, rpm_extra);
    return 0;
  }

  /// Which class-data archive the package carries: one remade at install
  /// time from a class list (JDK 17 to 19, whose archives record their
  /// paths), or the tree's own (JDK 20 on, where it survives the move).
  void plan_archive() {
    if (!p_.tree.has_app_archive_option) return;
    const int major = runtime_major_version(o_.app_dir + "/lib/runtime");
    if (major >= 20) {
      p_.ship_archive = true;
      return;
    }
    if (!p_.types.contains(PackageType::kDeb) && !p_.types.contains(PackageType::kRpm)) return;
    const std::string emulator = !o_.emulator.empty() ? o_.emulator
                                 : std::getenv("VORLANE_EMULATOR") != nullptr
                                     ? std::getenv("VORLANE_EMULATOR")
                                     : "";
    p_.emulator = split_words(emulator);
    if (p_.tree.machine != host_machine() && p_.emulator.empty()) {
      report_.note(
          "the tree is for " + machine_name(p_.tree.machine) +
          ": without --emulator its classes cannot be listed here, so the packages make no "
          "class-data archive at install time and the app starts more slowly");
      return;
    }
    p_.record_class_list = true;
  }

  /// Runs the app once with its training arguments and records the classes it loads.
  bool record_class_list(const std::string& out) {
    const std::string app = fs::absolute(o_.app_dir).lexically_normal().string() + "/lib/app";
    std::vector<std::string> argv = p_.emulator;
    argv.push_back(o_.app_dir + "/lib/runtime/bin/java");
    for (const std::string& option : p_.tree.jvm_options) {
      if (option.starts_with("-XX:SharedArchiveFile=") || option.starts_with("-Xlog:cds")) continue;
      argv.push_back(replace_all(option, "&&", app));
    }
    argv.insert(argv.end(), {"-Xshare:off", "-XX:DumpLoadedClassList=" + out, p_.tree.main_class});
    argv.insert(argv.end(), p_.tree.app_args.begin(), p_.tree.app_args.end());
    argv.insert(argv.end(), p_.tree.training_args.begin(), p_.tree.training_args.end());
    const auto started = Clock::now();
    const ProcessResult r = run_tool(argv, kTrainingTimeout);
    if (!r.ok()) {
      report_.note("the run that lists the app's classes " + ended(r, kTrainingTimeout) +
                   describe_output(r) +
                   "\nThe packages make no class-data archive at install time.");
      return false;
    }
    std::string error;
    const auto list = read_text(out, error);
    if (!list || !write_text(out, normalize_class_list(*list), 0644, error)) {
      report_.note("the app's class list cannot be read back: " + error);
      return false;
    }
    report_.step("listed the classes the app loads", started);
    return true;
  }

  int build() {
    PackageInfo& info = p_.info;
    std::string error;
    std::error_code ec;
    const std::string tree = root_ + info.install_dir;
    auto started = Clock::now();
    fs::create_directories(fs::path(tree).parent_path(), ec);
    if (!ec) fs::copy(o_.app_dir, tree, fs::copy_options::recursive, ec);
    if (ec) return failed("cannot copy " + o_.app_dir + ": " + ec.message());
    const std::string archive = "lib/app/" + p_.tree.archive_name;
    // An archive made for the tree's own place does not serve the installed one.
    if (!p_.ship_archive) fs::remove(tree + "/" + archive, ec);
    if (p_.record_class_list && record_class_list(tree + "/lib/app/" + kClassListName)) {
      info.class_list = std::string("lib/app/") + kClassListName;
      info.archive = archive;
      info.class_path = installed_class_path();
    }
    if (p_.strip_launcher) {
      if (int status = strip_launcher(tree); status != 0) return status;
    }
    if (int status = strip_runtime(tree); status != 0) return status;
    if (int status = add_desktop_files(); status != 0) return status;
    if (!write_text(mkdirs(root_ + "/usr/share/doc/" + info.name) + "/copyright",
                    deb_copyright(info), 0644, error)) {
      return failed(error);
    }
    fs::create_directories(root_ + "/usr/bin", ec);
    fs::create_symlink(info.install_dir + "/bin/" + info.launcher, root_ + "/usr/bin/" + info.name,
                       ec);
    if (ec) return failed("cannot link /usr/bin/" + info.name + ": " + ec.message());
    if (!normalize_tree(root_, info.source_date_epoch, error)) return failed(error);
    info.installed_kib = installed_kib(root_);
    report_.step("staged the package tree", started);

    std::vector<std::pair<std::string, std::string>> made;  // staged file, final name
    for (PackageType type : {PackageType::kTarGz, PackageType::kRpm, PackageType::kDeb}) {
      if (!p_.types.contains(type) || interrupted() != 0) continue;
      started = Clock::now();
      const std::string out = scratch_ + "/" + package_file_name(info, type);
      const int status = type == PackageType::kTarGz ? make_tar(tree, out)
                         : type == PackageType::kRpm ? make_rpm(out)
                                                     : make_deb(out);
      if (status != 0) return status;
      made.emplace_back(out, package_file_name(info, type));
      report_.step("made " + package_file_name(info, type) + " (" +
                       std::to_string(fs::file_size(out, ec) >> 10) + " KiB)",
                   started);
    }
    if (interrupted() != 0) return static_cast<int>(ExitStatus::kInterrupted);
    if (p_.strip_launcher) made.emplace_back(scratch_ + "/launcher.debug", debug_file_name());
    for (const auto& [from, name] : made) {
      fs::rename(from, o_.dest + "/" + name, ec);
      if (ec) return failed("cannot put " + name + " in " + o_.dest + ": " + ec.message());
    }
    return 0;
  }

  std::string debug_file_name() const {
    return p_.info.name + "_" + p_.info.version + "-" + p_.info.release + "_" + p_.info.arch.deb +
           ".debug";
  }

  std::string installed_class_path() const {
    for (const std::string& option : p_.tree.jvm_options) {
      if (option.starts_with("-Djava.class.path=")) {
        return replace_all(option.substr(18), "&&", p_.info.install_dir + "/lib/app");
      }
    }
    return "";
  }

  static std::string mkdirs(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
  }

  /// Debug information into a file beside the packages; the shipped launcher
  /// keeps only what it runs with and a link to that file.
  int strip_launcher(const std::string& tree) {
    const std::string launcher = tree + "/bin/" + p_.info.launcher;
    const std::string debug = scratch_ + "/launcher.debug";
    const std::string link_name = scratch_ + "/" + debug_file_name();
    const std::string objcopy = p_.tools["objcopy"];
    for (const auto& argv : std::vector<std::vector<std::string>>{
             {objcopy, "--only-keep-debug", launcher, debug},
             {objcopy, "--strip-all", launcher},
         }) {
      const ProcessResult r = run_tool(argv);
      if (!r.ok()) return failed("objcopy " + ended(r) + describe_output(r));
    }
    // The link names the file as it is called beside the packages.
    std::error_code ec;
    fs::copy_file(debug, link_name, ec);
    const ProcessResult r = run_tool({objcopy, "--add-gnu-debuglink=" + link_name, launcher});
    fs::remove(link_name, ec);
    if (!r.ok()) return failed("objcopy " + ended(r) + describe_output(r));
    std::string error;
    if (!read_tree(tree, error)) {
      return failed("the stripped launcher lost its launch data: " + error);
    }
    return 0;
  }

  /// The symbol tables of the runtime's programs and libraries (the JDK's
  /// jmods carry them): only a debugger reads them.
  int strip_runtime(const std::string& tree) {
    std::error_code ec;
    const std::string launcher = tree + "/bin/" + p_.info.launcher;
    std::vector<std::string> files;
    for (auto it = fs::recursive_directory_iterator(tree, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string path = it->path();
      if (it->is_regular_file() && !it->is_symlink() && path != launcher && is_elf_file(path) &&
          has_elf_section(path, ".symtab")) {
        files.push_back(path);
      }
    }
    if (files.empty()) return 0;
    std::vector<std::string> argv = {p_.tools["objcopy"], "--strip-unneeded"};
    for (const std::string& f : files) {
      argv.resize(2);
      argv.push_back(f);
      const ProcessResult r = run_tool(argv);
      if (!r.ok())
        return failed("objcopy --strip-unneeded " + f + " " + ended(r) + describe_output(r));
    }
    return 0;
  }

  /// Icons, desktop entry, AppStream metadata and MIME types.
  int add_desktop_files() {
    const PackageInfo& info = p_.info;
    const std::string share = root_ + "/usr/share";
    std::string error;
    if (p_.icon && !install_icon(p_.icon_path, *p_.icon, "apps", info.app_id, error)) {
      return failed(error);
    }
    for (std::size_t i = 0; i < info.file_associations.size(); ++i) {
      const auto& icon = p_.association_icons[i];
      if (icon && !install_icon(info.file_associations[i].icon, *icon, "mimetypes",
                                mime_icon_name(info.file_associations[i].mime_type), error)) {
        return failed(error);
      }
    }
    if (!write_text(mkdirs(share + "/applications") + "/" + info.app_id + ".desktop",
                    desktop_entry(info), 0644, error) ||
        !write_text(mkdirs(share + "/metainfo") + "/" + info.app_id + ".metainfo.xml",
                    metainfo(info), 0644, error)) {
      return failed(error);
    }
    if (const std::string mime = mime_xml(info); !mime.empty()) {
      if (!write_text(mkdirs(share + "/mime/packages") + "/" + info.app_id + ".xml", mime, 0644,
                      error)) {
        return failed(error);
      }
    }
    return 0;
  }

  bool install_icon(const std::string& from, const IconInfo& icon, const std::string& context,
                    const std::string& name, std::string& error) {
    const std::string hicolor = root_ + "/usr/share/icons/hicolor/";
    std::error_code ec;
    if (icon.kind == IconKind::kPng) {
      const std::string size = std::to_string(icon.width);
      fs::copy_file(from, mkdirs(hicolor + size + "x" + size + "/" + context) + "/" + name + ".png",
                    ec);
      if (ec) error = "cannot copy " + from + ": " + ec.message();
      return !ec;
    }
    fs::copy_file(from, mkdirs(hicolor + "scalable/" + context) + "/" + name + ".svg", ec);
    if (ec) {
      error = "cannot copy " + from + ": " + ec.message();
      return false;
    }
    for (int px : kIconSizes) {
      const std::string size = std::to_string(px);
      const std::string out =
          mkdirs(hicolor + size + "x" + size + "/" + context) + "/" + name + ".png";
      const ProcessResult r =
          run_tool({p_.tools["rsvg-convert"], "-w", size, "-h", size, "-o", out, from});
      if (!r.ok()) {
        error = "rsvg-convert could not draw " + from + ": it " + ended(r) + describe_output(r);
        return false;
      }
    }
    return true;
  }

  static std::uint64_t installed_kib(const std::string& root) {
    std::uint64_t kib = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->path().filename() == "DEBIAN" && it->is_directory()) {
        it.disable_recursion_pending();
        continue;
      }
      kib += it->is_regular_file() && !it->is_symlink() ? (it->file_size() + 1023) / 1024 : 1;
    }
    return kib;
  }

  int make_tar(const std::string& tree, const std::string& out) {
    const std::string tar = scratch_ + "/tree.tar";
    const ProcessResult r =
        run_tool({p_.tools["tar"], "--create", "--format=gnu", "--sort=name",
                  "--mtime=@" + std::to_string(p_.info.source_date_epoch), "--owner=0", "--group=0",
                  "--numeric-owner", "--transform=s,^\\.," + p_.info.name + ",S", "-C", tree, "-f",
                  tar, "."});
    if (!r.ok()) return failed("tar " + ended(r) + describe_output(r));
    std::string error;
    if (!gzip_file(tar, out, error)) return failed(error);
    std::error_code ec;
    fs::remove(tar, ec);
    return 0;
  }

  std::vector<std::string> rpm_files() const {
    const PackageInfo& info = p_.info;
    std::vector<std::string> files = {info.install_dir, "/usr/bin/" + info.name,
                                      "/usr/share/doc/" + info.name};
    std::error_code ec;
    const std::string share = root_ + "/usr/share";
    for (auto it = fs::recursive_directory_iterator(share, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string path = it->path().string().substr(root_.size());
      if (path == "/usr/share/doc") it.disable_recursion_pending();
      if (it->is_regular_file()) files.push_back(path);
    }
    std::sort(files.begin() + 3, files.end());
    return files;
  }

  int make_rpm(const std::string& out) {
    const std::string top = mkdirs(scratch_ + "/rpm");
    std::string error;
    const std::string spec = top + "/" + p_.info.name + ".spec";
    if (!write_text(spec, rpm_spec(p_.info, root_, rpm_files()), 0644, error)) {
      return failed(error);
    }
    const ProcessResult r =
        run_tool({p_.tools["env"],
                  "SOURCE_DATE_EPOCH=" + std::to_string(p_.info.source_date_epoch),
                  p_.tools["rpmbuild"],
                  "-bb",
                  "--quiet",
                  "--target",
                  p_.info.arch.rpm,
                  "--define",
                  "_topdir " + top,
                  "--define",
                  "_buildhost localhost",
                  "--define",
                  "use_source_date_epoch_as_buildtime 1",
                  "--define",
                  "clamp_mtime_to_source_date_epoch 1",
                  "--define",
                  "_binary_payload w9.gzdio",
                  "--define",
                  "_rpmfilename %%{NAME}.rpm",
                  "--define",
                  "_tmppath " + mkdirs(top + "/tmp"),
                  spec});
    if (!r.ok()) return failed("rpmbuild " + ended(r) + describe_output(r));
    std::error_code ec;
    fs::rename(top + "/RPMS/" + p_.info.name + ".rpm", out, ec);
    if (ec) return failed("rpmbuild made no " + p_.info.name + ".rpm: " + ec.message());
    fs::remove_all(top, ec);
    return 0;
  }

  int make_deb(const std::string& out) {
    const PackageInfo& info = p_.info;
    std::string error;
    const std::string doc = root_ + "/usr/share/doc/" + info.name;
    const std::string changelog = scratch_ + "/changelog.Debian";
    if (!write_text(changelog, deb_changelog(info), 0644, error) ||
        !gzip_file(changelog, doc + "/changelog.Debian.gz", error) ||
        !normalize_tree(doc, info.source_date_epoch, error)) {
      return failed(error);
    }
    if (info.install_dir.starts_with("/opt/")) {
      // Policy leaves /opt to add-on software such as this; lintian flags every file there.
      const std::string overrides = "# The app's tree is add-on software in " + info.install_dir +
                                    ".\n" + info.name + ": dir-or-file-in-opt [" +
                                    info.install_dir.substr(1) + "/*]\n";
      if (!write_text(mkdirs(root_ + "/usr/share/lintian/overrides") + "/" + info.name, overrides,
                      0644, error)) {
        return failed(error);
      }
    }
    // md5sums of every file, relative to the root.
    std::vector<std::string> argv = {p_.tools["env"], "-C", root_, p_.tools["md5sum"], "--"};
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file() && !it->is_symlink())
        files.push_back(it->path().string().substr(root_.size() + 1));
    }
    std::sort(files.begin(), files.end());
    argv.insert(argv.end(), files.begin(), files.end());
    const ProcessResult sums = run_tool(argv);
    if (!sums.ok()) return failed("md5sum " + ended(sums) + describe_output(sums));
    const std::string control_dir = mkdirs(root_ + "/DEBIAN");
    if (!write_text(control_dir + "/control", deb_control(info), 0644, error) ||
        !write_text(control_dir + "/md5sums", sums.out, 0644, error)) {
      return failed(error);
    }
    for (const auto& [name, text] :
         {std::pair{"postinst", deb_postinst(info)}, std::pair{"prerm", deb_prerm(info)},
          std::pair{"postrm", deb_postrm(info)}}) {
      if (!text.empty() && !write_text(control_dir + "/" + name, text, 0755, error)) {
        return failed(error);
      }
    }
    if (!normalize_tree(root_, info.source_date_epoch, error)) return failed(error);
    const ProcessResult r =
        run_tool({p_.tools["env"], "SOURCE_DATE_EPOCH=" + std::to_string(info.source_date_epoch),
                  p_.tools["dpkg-deb"], "--root-owner-group", "-Zgzip", "--build", root_, out});
    if (!r.ok()) return failed("dpkg-deb " + ended(r) + describe_output(r));
    return 0;
  }

  const PackageOptions& o_;
  Report report_;
  Plan p_;
  std::string missing_tools_;
  std::string scratch_;
  std::string root_;
};

}  // namespace

int make_packages(const PackageOptions& options) {
  Packager packager(options, Report(options.quiet));
  return packager.run();
}

}  // namespace vorlane::packages
