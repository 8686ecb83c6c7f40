#include "pack/commands/package.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "pack/core/ed25519.h"
#include "pack/core/elf_section.h"
#include "pack/core/files.h"
#include "pack/core/process.h"
#include "pack/core/report.h"
#include "pack/core/staging.h"
#include "pack/core/strings.h"
#include "pack/core/tools.h"
#include "pack/image/app_config.h"
#include "pack/jdk/jdk.h"
#include "pack/packages/deb_writer.h"
#include "pack/packages/package_stage.h"
#include "pack/packages/rpm_writer.h"
#include "pack/packages/tar_writer.h"

namespace vorlane {
namespace {

namespace fs = std::filesystem;
using namespace packages;
using Clock = Report::Clock;

constexpr std::uintmax_t kMaxTextFile = 16u << 20;
constexpr char kEmulatorVariable[] = "VORLANE_EMULATOR";

/// A text file the packager reads (a license, a description, an association).
Result<std::string> read_text(const std::string& path) {
  const auto bytes = read_file_no_fifo(path);
  if (!bytes) return as_input(bytes.error());
  if (bytes->size() > kMaxTextFile) return bad_input(path + " is larger than 16 MiB");
  return std::string(bytes->begin(), bytes->end());
}

Result<IconInfo> probe_icon(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return bad_input("is not a regular file");
  const auto bytes = read_file_no_fifo(path);
  if (!bytes) return as_input(with_context("cannot be read: ", bytes.error()));
  if (bytes->size() > kMaxTextFile) return bad_input("is larger than 16 MiB");
  return identify_icon(*bytes);
}

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value == nullptr ? fallback : value;
}

/// Whether `path` is `folder` or lies in it, links resolved where they exist.
bool is_within(const std::string& path, const std::string& folder) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  const fs::path f = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  if (ec) return false;
  const fs::path relative = p.lexically_relative(f);
  return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

Status put_in_place(const std::vector<std::pair<std::string, std::string>>& made,
                    const std::string& dest, const std::string& aside, const Report& report) {
  std::error_code ec;
  fs::create_directories(aside, ec);
  if (ec) return step_failed("cannot make the folder " + aside + ": " + ec.message());
  std::vector<std::string> replaced;  // names moved aside
  std::vector<std::string> placed;    // names moved in
  auto undo = [&](const std::string& why) {
    std::error_code ignored;
    for (const std::string& name : placed) fs::remove(dest + "/" + name, ignored);
    for (const std::string& name : replaced) {
      fs::rename(aside + "/" + name, dest + "/" + name, ignored);
    }
    return step_failed(why + "; " + dest + " is as it was");
  };
  for (const auto& [from, name] : made) {
    const std::string target = dest + "/" + name;
    if (!fs::exists(fs::symlink_status(target, ec))) continue;
    if (fs::is_directory(fs::symlink_status(target, ec))) {
      return undo("cannot replace " + target + ": it is a folder");
    }
    fs::rename(target, aside + "/" + name, ec);
    if (ec) return undo("cannot move the earlier " + target + " aside: " + ec.message());
    replaced.push_back(name);
  }
  for (const auto& [from, name] : made) {
    fs::rename(from, dest + "/" + name, ec);
    if (ec) return undo("cannot put " + name + " in " + dest + ": " + ec.message());
    placed.push_back(name);
  }
  if (!replaced.empty())
    report.note("replaced the earlier " + join(replaced, ", ") + " in " + dest);
  return done();
}

namespace {

/// Writes the planned packages into a scratch folder in `dest`, then moves
/// them into place.
Status write_packages(const PackageOptions& o, const PackagePlan& plan, const Report& report) {
  std::error_code ec;
  fs::create_directories(o.dest, ec);
  if (ec) return step_failed("cannot make --dest " + o.dest + ": " + ec.message());
  // Removed with everything in it when this returns; one that a killed run
  // left is removed by the next.
  Result<StagingDir> scratch = StagingDir::create(o.dest + "/package");
  if (!scratch) return scratch.error();
  const std::string& dir = scratch->path();
  Result<StagedRoot> staged = stage_root(plan, o.app_dir, dir, report);
  if (!staged) return staged.error();
  const PackageInfo& info = staged->info;

  std::vector<std::pair<std::string, std::string>> made;  // staged file, final name
  for (PackageType type : {PackageType::kTarGz, PackageType::kRpm, PackageType::kDeb}) {
    if (!plan.types.contains(type)) continue;
    if (interrupted() != 0) return interruption();
    const auto started = Clock::now();
    const std::string name = package_file_name(info, type);
    const std::string out = dir + "/" + name;
    if (Status recorded = write_install_record(*staged, type); !recorded) return recorded;
    const Compression c = plan.compression;
    Status written = type == PackageType::kTarGz ? write_tar(*staged, plan.tools, c, dir, out)
                     : type == PackageType::kRpm ? write_rpm(*staged, plan.tools, c, dir, out)
                                                 : write_deb(*staged, plan.tools, c, dir, out);
    if (!written) return written;
    made.emplace_back(out, name);
    report.step("made " + name + " (" + std::to_string(fs::file_size(out, ec) >> 10) + " KiB)",
                started);
  }
  if (interrupted() != 0) return interruption();
  if (!staged->debug_file.empty()) made.emplace_back(staged->debug_file, debug_file_name(info));
  return put_in_place(made, o.dest, dir + "/replaced", report);
}

}  // namespace

PackageFacts probe_packages(const PackageOptions& o) {
  PackageFacts f;
  f.tree = read_tree(o.app_dir);
  const Result<std::set<PackageType>> types = parse_package_types(o.types);
  const bool deb = types && types->contains(PackageType::kDeb);
  const bool rpm = types && types->contains(PackageType::kRpm);
  f.tree_contents = check_tree_contents(o.app_dir);
  f.dest_inside_tree = !o.dest.empty() && is_within(o.dest, o.app_dir);
  std::error_code ec;
  fs::path existing = fs::absolute(o.dest, ec);
  while (!fs::exists(fs::symlink_status(existing, ec)) && existing.has_relative_path()) {
    existing = existing.parent_path();
  }
  f.dest_not_folder = !fs::is_directory(existing, ec);
  if (f.tree) {
    f.launcher_has_debug_info =
        has_elf_section(o.app_dir + "/bin/" + f.tree->launcher_name, ".debug_info");
  }
  if (const Result<std::string> release = read_text(o.app_dir + "/lib/runtime/release")) {
    f.runtime_java_version = release_java_version(*release);
  }
  std::error_code archive_ec;
  f.runtime_coops_archive = fs::is_regular_file(o.app_dir + "/" + kCoopsArchive, archive_ec);
  f.runtime_nocoops_archive = fs::is_regular_file(o.app_dir + "/" + kNoCoopsArchive, archive_ec);
  if (const Result<std::uint16_t> host = vorlane::host_machine()) f.host_machine = *host;
  const char* path = std::getenv("PATH");
  PackageTools& t = f.tools;
  t.dpkg_deb = find_program("dpkg-deb", path);
  t.rpmbuild = find_program("rpmbuild", path);
  t.tar = find_program("tar", path);
  t.env = find_program("env", path);
  t.readelf = find_program("readelf", path);
  t.md5sum = find_program("md5sum", path);
  t.objcopy = find_program("objcopy", path);
  t.cross_objcopy = find_program("aarch64-linux-gnu-objcopy", path);
  t.rsvg_convert = find_program("rsvg-convert", path);
  t.gpg = find_program("gpg", path);
  if (!o.long_description_file.empty()) {
    f.long_description_file = read_text(o.long_description_file);
  }
  if (!o.license_file.empty()) f.license_file = read_text(o.license_file);
  if (!o.update_key.empty()) f.update_key = read_text(o.update_key);
  if (!o.update_feed_key.empty()) f.update_feed_key = ed25519_public_key_base64(o.update_feed_key);
  f.tree_has_updater = fs::is_regular_file(o.app_dir + "/lib/app/" + kUpdaterJarName, ec) && !ec;
  if (!o.icon.empty()) f.icons.emplace(o.icon, probe_icon(o.icon));
  for (const std::string& value : o.file_associations) {
    // A value with no '=' that names a file is a file of KEY=VALUE lines.
    f.file_associations.push_back(value.find('=') == std::string::npos &&
                                          fs::is_regular_file(value, ec)
                                      ? read_text(value)
                                      : Result<std::string>(value));
    if (!f.file_associations.back()) continue;
    if (Result<FileAssociation> fa = parse_file_association(*f.file_associations.back());
        fa && !fa->icon.empty() && !f.icons.contains(fa->icon)) {
      f.icons.emplace(fa->icon, probe_icon(fa->icon));
    }
  }
  if ((deb || rpm) && f.tree && !t.readelf.empty()) f.elf = scan_elf_files(o.app_dir, t.readelf);
  if ((deb || rpm) && f.tree) f.glibc_needs = read_glibc_needs(o.app_dir);
  if ((deb || rpm) && f.tree) {
    const auto arch = architecture_of(f.tree->machine);
    std::vector<std::string> dirs = o.shlibs_dirs;
    if (dirs.empty() && deb) dirs.emplace_back(kHostShlibsDir);
    for (const std::string& dir : dirs) {
      f.shlibs.emplace_back(dir, read_shlibs_dir(dir, arch ? arch->deb : ""));
    }
  }
  if (const Result<std::string> types = read_text("/usr/share/mime/types")) {
    f.known_mime_types = split_lines(*types);
  }
  f.emulator_text = o.emulator.empty() ? env_or(kEmulatorVariable, "") : o.emulator;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) f.source_date_epoch = epoch;
  f.now = static_cast<std::int64_t>(std::time(nullptr));
  return f;
}

int make_packages(const PackageOptions& o) {
  const Report report(o.quiet);
  Result<PackagePlan> plan = plan_packages(o, probe_packages(o));
  if (!plan) return report.fail(plan.error());
  for (const std::string& note : plan->notes) report.note(note);
  const Status written = write_packages(o, *plan, report);
  // A tool ended by an interrupt is no failure of its own.
  if (interrupted() != 0) return report.stop("no package was written");
  if (!written) return report.fail(written.error());
  return static_cast<int>(ExitStatus::kMade);
}

CLI::App* add_package_command(CLI::App& app, PackageOptions& o) {
  CLI::App* cmd = app.add_subcommand(
      "package", "Make .deb, .rpm or .tar.gz packages of an app tree made by `vorlane-pack app`");
  cmd->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  cmd->add_option("APP-DIR", o.app_dir, "The app's folder, made by vorlane-pack app")->required();
  cmd->add_option("--type", o.types, "deb, rpm or tar.gz (repeat, or a comma list)")
      ->required()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  cmd->add_option("--dest", o.dest, "The folder the packages go in")->required();
  cmd->add_option("--package-name", o.package_name, "The package's name (default: the app's)");
  cmd->add_option("--app-version", o.app_version, "The app's version (default 1.0)");
  cmd->add_option("--release", o.release, "The package's release (Debian revision; default 1)");
  cmd->add_option("--vendor", o.vendor, "Who makes the app");
  cmd->add_option("--description", o.description, "One line saying what the app is");
  cmd->add_option("--long-description", o.long_description, "Paragraphs about the app");
  cmd->add_option("--long-description-file", o.long_description_file,
                  "A file of paragraphs about the app");
  cmd->add_option("--maintainer", o.maintainer,
                  "Who maintains the package, 'Name <address>' (needed for .deb and .rpm)");
  cmd->add_option("--license-file", o.license_file, "The license text, for the copyright file");
  cmd->add_option("--license-type", o.license_type, "The license's SPDX name, e.g. Apache-2.0");
  cmd->add_option("--copyright", o.copyright, "The copyright line");
  cmd->add_option("--homepage", o.homepage, "The app's web page");
  cmd->add_option("--install-dir", o.install_dir,
                  "Where the tree is installed (default /opt/NAME)");
  cmd->add_option("--linux-menu-group,--categories", o.menu_group,
                  "Desktop menu categories, e.g. 'Office;Viewer' (default Utility)");
  cmd->add_option("--linux-app-category", o.section, "The Debian section (default misc)");
  cmd->add_option("--icon", o.icon, "The app's icon: a square PNG or an SVG");
  cmd->add_option(
      "--app-id", o.app_id,
      "Reverse-DNS id of the desktop entry, metadata and icon (default from the main class)");
  cmd->add_option("--wm-class", o.wm_class,
                  "The window class the desktop entry matches (default: the main class with dots "
                  "turned into dashes, as AWT and Swing windows get)");
  cmd->add_option("--file-association", o.file_associations,
                  "A file type the app opens: extension=E,mime-type=T,description=D,icon=FILE "
                  "or a file of such KEY=VALUE lines (repeat)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  cmd->add_option("--url-scheme", o.url_schemes,
                  "A URL scheme whose links the app opens, such as myapp for myapp://open?id=1: "
                  "the desktop entry's Exec then takes %u (repeat)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  cmd->add_option("--package-deps", o.package_deps, "More dependencies, comma-separated (repeat)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  cmd->add_option("--shlibs-dir", o.shlibs_dirs,
                  "A folder of the target architecture's *.shlibs and *.symbols files (repeat; "
                  "default: /var/lib/dpkg/info for this machine's architecture)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  cmd->add_option("--emulator", o.emulator,
                  "Command that runs programs of the launcher's machine, to list the app's "
                  "classes (default: $VORLANE_EMULATOR)");
  cmd->add_option("--update-site", o.update_site,
                  "The site vorlane-pack publish serves the app from: the installed package "
                  "follows it (apt source, yum repository)");
  cmd->add_option("--update-key", o.update_key, "The site's public key, its KEY.asc");
  cmd->add_option("--update-channel", o.update_channel,
                  "The site's channel the package follows (default stable)");
  cmd->add_option("--update-feed-key", o.update_feed_key,
                  "The site's feed-key.pub.pem, which the app's update library checks the feed "
                  "with (a tree made by `app --updates`); the .tar.gz then updates itself");
  cmd->add_option_function<std::string>(
         "--compression",
         [&o](const std::string& value) {
           o.compression = value == "fast" ? Compression::kFast : Compression::kSmall;
         },
         "small (the default: xz -6, gzip -9) or fast (xz -0, gzip -1: made several times "
         "quicker, about a fifth larger; for packages to try, not to ship)")
      ->check(CLI::IsMember({"small", "fast"}));
  cmd->add_flag("--quiet", o.quiet, "Print only notes and errors");
  return cmd;
}

}  // namespace vorlane
