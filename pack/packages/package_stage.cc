#include "pack/packages/package_stage.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <tuple>

#include "pack/core/files.h"
#include "pack/core/process.h"
#include "pack/core/tools.h"
#include "pack/core/tree_times.h"
#include "pack/image/archives.h"
#include "pack/packages/package_scripts.h"

namespace vorlane::packages {
namespace {

namespace fs = std::filesystem;
using Clock = Report::Clock;

constexpr int kTrainingTimeout = 300;
/// Sizes the hicolor theme gets from an SVG icon.
constexpr int kIconSizes[] = {48, 64, 128, 256};

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

Result<std::string> mkdirs(const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return step_failed("cannot make the folder " + dir + ": " + ec.message());
  return dir;
}

class Stager {
 public:
  Stager(const PackagePlan& plan, const std::string& app_dir, const std::string& scratch,
         const Report& report)
      : plan_(plan),
        app_dir_(app_dir),
        scratch_(scratch),
        root_(scratch + "/root"),
        report_(report),
        info_(plan.info) {}

  Result<StagedRoot> run() {
    std::error_code ec;
    const std::string tree = root_ + info_.install_dir;
    const auto started = Clock::now();
    fs::create_directories(fs::path(tree).parent_path(), ec);
    // Links in the tree stay links (the plan refused those that leave it);
    // the tree's own folder is copied even when APP-DIR names it by a link.
    const fs::path from = ec ? fs::path() : fs::canonical(app_dir_, ec);
    if (!ec) {
      fs::copy(from, tree, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    }
    if (ec) return step_failed("cannot copy " + app_dir_ + ": " + ec.message());
    const std::string archive = "lib/app/" + plan_.tree.archive_name;
    // An archive made for the tree's own place does not serve the installed one.
    if (!plan_.ship_archive) fs::remove(tree + "/" + archive, ec);
    if (plan_.record_class_list) {
      Result<bool> listed = record_class_list(tree);
      if (!listed) return listed.error();
      if (*listed) {
        info_.class_list = std::string("lib/app/") + kClassListName;
        info_.archive = archive;
        info_.class_path = installed_class_path();
      }
    }
    if (Status set_apart = set_base_archives_apart(tree); !set_apart) return set_apart.error();
    std::string debug_file;
    if (plan_.strip_launcher) {
      if (Status stripped = strip_launcher(tree); !stripped) return stripped.error();
      debug_file = scratch_ + "/launcher.debug";
    }
    if (Status stripped = strip_runtime(tree); !stripped) return stripped.error();
    if (Status added = add_desktop_files(); !added) return added.error();
    if (Status added = add_update_keyring(); !added) return added.error();
    // Here for the installed size; each writer gives it its own kind.
    if (info_.install_record) {
      if (Status s = write_file_atomically(tree + "/" + kInstallRecordPath,
                                           install_record(info_, *plan_.types.begin()), 0644);
          !s) {
        return s.error();
      }
    }
    Result<std::string> doc = mkdirs(root_ + "/usr/share/doc/" + info_.name);
    if (!doc) return doc.error();
    if (Status written = write_file_atomically(*doc + "/copyright", deb_copyright(info_), 0644);
        !written) {
      return written.error();
    }
    fs::create_directories(root_ + "/usr/bin", ec);
    fs::create_symlink(info_.install_dir + "/bin/" + info_.launcher,
                       root_ + "/usr/bin/" + info_.name, ec);
    if (ec) return step_failed("cannot link /usr/bin/" + info_.name + ": " + ec.message());
    if (Status normal = normalize_tree(root_, info_.source_date_epoch); !normal) {
      return normal.error();
    }
    if (!tar_only_files_.empty()) {
      if (Status normal = normalize_tree(tar_only_, info_.source_date_epoch); !normal) {
        return normal.error();
      }
    }
    StagedRoot staged{root_, tree, info_, debug_file, {}, tar_only_, tar_only_files_};
    if (Status kept = keep_times(staged); !kept) return kept.error();
    staged.info.installed_kib = installed_kib(root_);
    report_.step("staged the package tree", started);
    return staged;
  }

 private:
  /// Takes the runtime's archives the .deb and .rpm leave out of the tree;
  /// those the tar.gz still carries go to a folder of their own.
  Status set_base_archives_apart(const std::string& tree) {
    const bool installs =
        plan_.types.contains(PackageType::kDeb) || plan_.types.contains(PackageType::kRpm);
    const bool tar = plan_.types.contains(PackageType::kTarGz);
    tar_only_ = scratch_ + "/tar-only";
    for (const auto& [file, installed, tarred] :
         {std::tuple{kCoopsArchive, plan_.installed_archives.coops.fate,
                     plan_.tar_archives.coops.fate},
          std::tuple{kNoCoopsArchive, plan_.installed_archives.nocoops.fate,
                     plan_.tar_archives.nocoops.fate}}) {
      const formats::ArchiveFate in_tree = installs ? installed : tarred;
      std::error_code ec;
      const std::string path = tree + "/" + file;
      if (in_tree == formats::ArchiveFate::kShip || !fs::exists(fs::symlink_status(path, ec)))
        continue;
      if (installs && tar && tarred == formats::ArchiveFate::kShip) {
        const std::string apart = tar_only_ + "/" + file;
        fs::create_directories(fs::path(apart).parent_path(), ec);
        if (!ec) fs::rename(path, apart, ec);
        if (ec) return step_failed("cannot set " + path + " apart: " + ec.message());
        tar_only_files_.emplace_back(file);
        continue;
      }
      if (!fs::remove(path, ec) || ec) {
        return step_failed("cannot leave out " + path + ": " + ec.message());
      }
    }
    return done();
  }

  /// The times the tree's app archive recorded, read from the tree itself,
  /// put back on the staged files; their sizes must be the tree's too.
  Status keep_times(StagedRoot& staged) const {
    for (const std::string& file : plan_.kept_times) {
      struct stat from {};
      struct stat to {};
      const std::string source = app_dir_ + "/" + file;
      const std::string target = staged.tree + "/" + file;
      if (lstat(source.c_str(), &from) != 0) {
        // A class path entry the tree lacks is no file the archive could check.
        if (errno == ENOENT) continue;
        return system_failure("read the time of", source);
      }
      if (lstat(target.c_str(), &to) != 0 || to.st_size != from.st_size) {
        return step_failed(target + " is not the same size as " + source +
                           ", so the tree's class-data archive would not map");
      }
      staged.kept_times.emplace_back(target, from.st_mtim);
    }
    return restore_kept_times(staged);
  }

  std::string installed_class_path() const {
    for (const std::string& option : plan_.tree.jvm_options) {
      if (option.starts_with("-Djava.class.path=")) {
        return replace_all(option.substr(18), "&&", info_.install_dir + "/lib/app");
      }
    }
    return "";
  }

  /// Lists the classes the app loads in the staged `tree`, by the archive
  /// runner's run for a static archive's list; false (with a note) when
  /// that run fails.
  Result<bool> record_class_list(const std::string& tree) {
    const auto started = Clock::now();
    const ArchiveOutcome ran = list_app_classes(
        tree, info_.launcher, {plan_.tree.training_args, plan_.emulator, kTrainingTimeout});
    if (interrupted() != 0) return interruption();
    if (!ran.ok) {
      report_.note("the run that lists the app's classes: " + ran.error +
                   "\nThe packages make no class-data archive at install time.");
      return false;
    }
    const std::string out = tree + "/lib/app/" + kClassListName;
    const auto list = read_file_no_fifo(out);
    if (!list) {
      report_.note("the app's class list cannot be read back: " + list.error().message);
      return false;
    }
    if (Status written = write_file_atomically(
            out, normalize_class_list(std::string(list->begin(), list->end())), 0644);
        !written) {
      return written.error();
    }
    report_.step("listed the classes the app loads", started);
    return true;
  }

  /// Debug information into a file beside the packages; the shipped launcher
  /// keeps only what it runs with and a link to that file.
  Status strip_launcher(const std::string& tree) {
    const std::string launcher = tree + "/bin/" + info_.launcher;
    const std::string debug = scratch_ + "/launcher.debug";
    const std::string link_name = scratch_ + "/" + debug_file_name(info_);
    const std::string& objcopy = plan_.tools.objcopy;
    for (const auto& argv : std::vector<std::vector<std::string>>{
             {objcopy, "--only-keep-debug", launcher, debug},
             {objcopy, "--strip-all", launcher},
         }) {
      if (Result<std::string> r = run_tool("objcopy", argv); !r) return r.error();
    }
    // The link names the file as it is called beside the packages.
    std::error_code ec;
    fs::copy_file(debug, link_name, ec);
    if (ec) return step_failed("cannot copy " + debug + " to " + link_name + ": " + ec.message());
    const Result<std::string> r =
        run_tool("objcopy", {objcopy, "--add-gnu-debuglink=" + link_name, launcher});
    fs::remove(link_name, ec);
    if (!r) return r.error();
    if (Result<TreeFacts> read = read_tree(tree); !read) {
      return as_step(with_context("the stripped launcher lost its launch data: ", read.error()));
    }
    return done();
  }

  /// The symbol tables of the runtime's programs and libraries (the JDK's
  /// jmods carry them): only a debugger reads them.
  Status strip_runtime(const std::string& tree) {
    std::error_code ec;
    const std::string launcher = tree + "/bin/" + info_.launcher;
    // Listed first: objcopy replaces each file, which a walk must not see.
    std::vector<std::string> files;
    for (auto it = fs::recursive_directory_iterator(tree, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string path = it->path();
      if (it->is_regular_file() && !it->is_symlink() && path != launcher && is_elf_file(path) &&
          has_elf_section(path, ".symtab")) {
        files.push_back(path);
      }
    }
    if (ec) return step_failed("cannot walk " + tree + ": " + ec.message());
    for (const std::string& path : files) {
      if (Result<std::string> r = run_tool("objcopy --strip-unneeded " + path,
                                           {plan_.tools.objcopy, "--strip-unneeded", path});
          !r) {
        return r.error();
      }
    }
    return done();
  }

  /// The update site's keyring for apt, in the binary form Signed-By reads,
  /// kept in the tree for the .deb's postinst to put in place (a file of
  /// dpkg's own would go at removal, with the source still naming it).
  Status add_update_keyring() {
    if (info_.update_site.empty() || plan_.tools.gpg.empty()) return done();
    const std::string armored = scratch_ + "/update-key.asc";
    if (Status s = write_file_atomically(armored, info_.update_key, 0644); !s) return s;
    Result<std::string> home = mkdirs(scratch_ + "/gnupg");
    if (!home) return home.error();
    std::error_code ec;
    fs::permissions(*home, fs::perms::owner_all, ec);
    Result<std::string> made = run_tool(
        "gpg --dearmor", {plan_.tools.gpg, "--homedir", *home, "--batch", "--yes", "--output",
                          root_ + tree_keyring_path(info_), "--dearmor", armored});
    if (!made) return made.error();
    return done();
  }

  /// Icons, desktop entry, AppStream metadata and MIME types.
  Status add_desktop_files() {
    const std::string share = root_ + "/usr/share";
    if (plan_.icon) {
      if (Status s = install_icon(*plan_.icon, "apps", info_.app_id); !s) return s;
    }
    for (std::size_t i = 0; i < info_.file_associations.size(); ++i) {
      const auto& icon = plan_.association_icons[i];
      if (!icon) continue;
      if (Status s = install_icon(*icon, "mimetypes",
                                  mime_icon_name(info_.file_associations[i].mime_type));
          !s) {
        return s;
      }
    }
    std::vector<std::pair<std::string, std::string>> files = {
        {share + "/applications/" + info_.app_id + ".desktop", desktop_entry(info_)},
        {share + "/metainfo/" + info_.app_id + ".metainfo.xml", metainfo(info_)},
    };
    if (std::string mime = mime_xml(info_); !mime.empty()) {
      files.emplace_back(share + "/mime/packages/" + info_.app_id + ".xml", std::move(mime));
    }
    for (const auto& [path, text] : files) {
      if (Result<std::string> dir = mkdirs(fs::path(path).parent_path()); !dir) return dir.error();
      if (Status s = write_file_atomically(path, text, 0644); !s) return s;
    }
    return done();
  }

  Status install_icon(const IconFile& icon, const std::string& context, const std::string& name) {
    const std::string hicolor = root_ + "/usr/share/icons/hicolor/";
    std::error_code ec;
    if (icon.info.kind == IconKind::kPng) {
      const std::string size = std::to_string(icon.info.width);
      Result<std::string> dir = mkdirs(hicolor + size + "x" + size + "/" + context);
      if (!dir) return dir.error();
      fs::copy_file(icon.path, *dir + "/" + name + ".png", ec);
      if (ec) return step_failed("cannot copy " + icon.path + ": " + ec.message());
      return done();
    }
    Result<std::string> scalable = mkdirs(hicolor + "scalable/" + context);
    if (!scalable) return scalable.error();
    fs::copy_file(icon.path, *scalable + "/" + name + ".svg", ec);
    if (ec) return step_failed("cannot copy " + icon.path + ": " + ec.message());
    for (int px : kIconSizes) {
      const std::string size = std::to_string(px);
      Result<std::string> dir = mkdirs(hicolor + size + "x" + size + "/" + context);
      if (!dir) return dir.error();
      if (Result<std::string> r = run_tool("rsvg-convert (drawing " + icon.path + ")",
                                           {plan_.tools.rsvg_convert, "-w", size, "-h", size, "-o",
                                            *dir + "/" + name + ".png", icon.path});
          !r) {
        return r.error();
      }
    }
    return done();
  }

  static std::uint64_t installed_kib(const std::string& root) {
    std::uint64_t kib = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      kib += it->is_regular_file() && !it->is_symlink() ? (it->file_size() + 1023) / 1024 : 1;
    }
    return kib;
  }

  const PackagePlan& plan_;
  const std::string& app_dir_;
  std::string scratch_;
  std::string root_;
  const Report& report_;
  PackageInfo info_;
  std::string tar_only_;
  std::vector<std::string> tar_only_files_;
};

}  // namespace

Result<StagedRoot> stage_root(const PackagePlan& plan, const std::string& app_dir,
                              const std::string& scratch, const Report& report) {
  return Stager(plan, app_dir, scratch, report).run();
}

Status write_install_record(const StagedRoot& staged, PackageType type) {
  if (!staged.info.install_record) return done();
  const std::string path = staged.tree + "/" + kInstallRecordPath;
  if (Status s = write_file_atomically(path, install_record(staged.info, type), 0644); !s) {
    return s;
  }
  const auto epoch = static_cast<time_t>(staged.info.source_date_epoch);
  const struct timespec times[2] = {{epoch, 0}, {epoch, 0}};
  for (const std::string& at : {path, fs::path(path).parent_path().string()}) {
    if (utimensat(AT_FDCWD, at.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
      return system_failure("set the time of", at);
    }
  }
  return done();
}

Status restore_kept_times(const StagedRoot& staged) {
  for (const auto& [path, mtime] : staged.kept_times) {
    const struct timespec times[2] = {mtime, mtime};
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
      return system_failure("set the time of", path);
    }
  }
  return done();
}

std::string debug_file_name(const PackageInfo& info) {
  return info.name + "_" + info.version + "-" + info.release + "_" + info.arch.deb + ".debug";
}

}  // namespace vorlane::packages
