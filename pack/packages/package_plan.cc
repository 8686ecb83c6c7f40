#include "pack/packages/package_plan.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "pack/core/elf_section.h"
#include "pack/core/strings.h"
#include "pack/image/app_config.h"
#include "pack/packages/package_plan_steps.h"

namespace vorlane::packages {

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

/// The icon at `path`, checked for what the theme can show.
Result<IconFile> plan_icon(const PackageFacts& f, const std::string& path,
                           const std::string& what) {
  const auto found = f.icons.find(path);
  if (found == f.icons.end()) return step_failed(what + " " + path + " was not probed");
  if (!found->second) return as_input(with_context(what + " " + path + " ", found->second.error()));
  const IconInfo& icon = *found->second;
  if (icon.kind == IconKind::kPng && icon.width != icon.height) {
    return bad_input(what + " " + path + " is " + std::to_string(icon.width) + "x" +
                     std::to_string(icon.height) + "; icons are square");
  }
  return IconFile{path, icon};
}

/// States the tree's glibc floor in the dependencies: the .deb's libc6
/// (whose shlibs file names the glibc of the machine the packages are made
/// on, not the one the tree needs) becomes "libc6 (>= FLOOR)"; the .rpm
/// requires the floor's symbol version, "libc.so.6(GLIBC_FLOOR)(64bit)",
/// which every glibc from that release on provides.
void apply_glibc_floor(const GlibcVersion& floor, const std::string& rpm_lib_suffix,
                       std::vector<std::string>& deb_depends,
                       std::vector<std::string>& rpm_requires) {
  const std::string deb = "libc6 (>= " + floor.text() + ")";
  bool replaced = false;
  for (std::string& dependency : deb_depends) {
    if (dependency == "libc6" || dependency.starts_with("libc6 (")) {
      dependency = deb;
      replaced = true;
    }
  }
  if (!replaced) deb_depends.push_back(deb);
  std::sort(deb_depends.begin(), deb_depends.end());
  deb_depends.erase(std::unique(deb_depends.begin(), deb_depends.end()), deb_depends.end());
  // "()(64bit)" marks a soname of a 64-bit machine; a versioned one is
  // "libc.so.6(GLIBC_2.17)(64bit)".
  const std::string machine =
      rpm_lib_suffix.starts_with("()") ? rpm_lib_suffix.substr(2) : rpm_lib_suffix;
  rpm_requires.push_back("libc.so.6(GLIBC_" + floor.text() + ")" + machine);
  std::sort(rpm_requires.begin(), rpm_requires.end());
}

/// The packages that provide the libraries the tree's ELF files need.
Status plan_dependencies(const PackageOptions& o, const PackageFacts& f, PackagePlan& plan) {
  if (!f.elf) return step_failed("the tree's ELF files were not read");
  if (!*f.elf) return f.elf->error();
  std::set<std::string> needed = (*f.elf)->needed;
  const std::set<std::string>& provided = (*f.elf)->provided;
  needed.merge(dlopened_libraries(provided));
  const bool deb = plan.types.contains(PackageType::kDeb);
  if (o.shlibs_dirs.empty() && deb) {
    const auto host = architecture_of(f.host_machine);
    if (!host || host->deb != plan.info.arch.deb) {
      return bad_input(
          "the tree is for " + plan.info.arch.deb +
          ": give --shlibs-dir with the shlibs and symbols files of that architecture's "
          "packages (e.g. a sysroot's var/lib/dpkg/info), so the .deb's dependencies fit it");
    }
  }
  ShlibsMap shlibs;
  std::vector<std::string> dirs;
  for (const auto& [dir, read] : f.shlibs) {
    if (!read) return read.error();
    shlibs.merge_from(*read);
    dirs.push_back(dir);
  }
  const DependencyResult r =
      map_dependencies(needed, provided, shlibs, plan.info.arch.rpm_lib_suffix);
  if (deb && !r.missing.empty()) {
    return bad_input("no package in " + join(dirs, ", ") + " provides " + join(r.missing, ", ") +
                     ", which the tree needs: add the packages that do (their shlibs files) or "
                     "give --shlibs-dir");
  }
  std::vector<std::string> deb_depends = r.deb_depends;
  std::vector<std::string> rpm_requires = r.rpm_requires;
  if (f.glibc_needs) {
    if (!*f.glibc_needs) return f.glibc_needs->error();
    const TreeGlibc glibc = tree_glibc(**f.glibc_needs, "bin/" + f.tree->launcher_name);
    if (glibc.floor) {
      apply_glibc_floor(glibc.floor->version, plan.info.arch.rpm_lib_suffix, deb_depends,
                        rpm_requires);
    }
  }
  plan.info.deb_depends = merge_dependencies(deb_depends, o.package_deps);
  std::vector<std::string> rpm_extra;
  for (const std::string& d : merge_dependencies({}, o.package_deps)) {
    rpm_extra.push_back(rpm_dependency(d));
  }
  plan.info.rpm_requires = merge_dependencies(rpm_requires, rpm_extra);
  return done();
}

/// The values that go into the package texts: what no format can escape is refused.
Status check_values(const PackageOptions& o, const PackagePlan& plan) {
  const PackageInfo& info = plan.info;
  const std::pair<const char*, const std::string*> one_line[] = {
      {"--description", &info.summary},      {"--vendor", &info.vendor},
      {"--homepage", &info.homepage},        {"--license-type", &info.license},
      {"--maintainer", &info.maintainer},    {"--wm-class", &info.wm_class},
      {"--linux-menu-group", &o.menu_group},
  };
  for (const auto& [what, value] : one_line) {
    if (Status checked = check_text(what, *value, false); !checked) return checked;
  }
  for (const auto& [what, value] : {std::pair{"--long-description", &info.long_description},
                                    std::pair{"--copyright", &info.copyright}}) {
    if (Status checked = check_text(what, *value, true); !checked) return checked;
  }
  if (plan.types.contains(PackageType::kRpm)) {
    const char* what =
        o.long_description_file.empty() ? "--long-description" : "--long-description-file";
    if (Status checked = check_rpm_description(what, info.long_description); !checked) {
      return checked;
    }
  }
  if (info.homepage.find_first_of(" \t") != std::string::npos) {
    return bad_input("--homepage '" + info.homepage + "' holds a blank; it must be one URL");
  }
  if (Status checked = check_section(info.section); !checked) return checked;
  for (const std::string& list : o.package_deps) {
    for (const std::string& dependency : split(list, ',')) {
      if (dependency.find_first_not_of(" \t") == std::string::npos) continue;
      if (Status checked = check_dependency(dependency); !checked) return checked;
    }
  }
  // The class path goes into the maintainer scripts: its jars' names must be text.
  for (const std::string& option : plan.tree.jvm_options) {
    if (Status checked =
            check_text("the tree's launch option " + option.substr(0, 40), option, false);
        !checked) {
      return checked;
    }
  }
  return done();
}

}  // namespace

Result<std::set<PackageType>> parse_package_types(const std::vector<std::string>& values) {
  std::set<PackageType> types;
  for (const std::string& list : values) {
    for (const std::string& word : split(list, ',')) {
      const auto type = parse_package_type(word);
      if (!type) {
        return bad_input("--type '" + word + "' is none of deb, rpm, tar.gz" +
                         (word.empty() ? " (an empty word)" : ""));
      }
      types.insert(*type);
    }
  }
  if (types.empty()) return bad_input("--type is needed: deb, rpm or tar.gz (repeat, or a list)");
  return types;
}

Result<PackagePlan> plan_packages(const PackageOptions& o, const PackageFacts& f) {
  PackagePlan plan;
  Result<std::set<PackageType>> types = parse_package_types(o.types);
  if (!types) return types.error();
  plan.types = *types;
  plan.compression = o.compression;
  const bool deb = plan.types.contains(PackageType::kDeb);
  const bool rpm = plan.types.contains(PackageType::kRpm);
  if (!f.tree) return f.tree.error();
  plan.tree = *f.tree;
  if (!f.tree_contents) return f.tree_contents.error();
  if (f.dest_inside_tree) {
    return bad_input("--dest " + o.dest + " is inside the tree " + o.app_dir +
                     ": the packages would hold themselves; give a folder outside it");
  }
  if (f.dest_not_folder) {
    return bad_input("--dest " + o.dest + " is not a folder (or lies under a file)");
  }
  if (Status checked = check_text("--dest", o.dest, false); !checked) return checked.error();
  PackageInfo& info = plan.info;
  const auto arch = architecture_of(plan.tree.machine);
  if (!arch) {
    return bad_input("the launcher of " + o.app_dir + " is built for " +
                     machine_name(plan.tree.machine) +
                     "; packages are made for x86-64 and AArch64");
  }
  info.arch = *arch;
  info.launcher = plan.tree.launcher_name;
  info.name = o.package_name.empty() ? plan.tree.launcher_name : o.package_name;
  for (const Status& checked :
       {check_package_name(info.name), check_version(o.app_version), check_release(o.release)}) {
    if (!checked) return checked.error();
  }
  info.version = o.app_version;
  info.release = o.release;
  info.install_dir = o.install_dir.empty() ? "/opt/" + info.name : o.install_dir;
  if (Status checked = check_install_dir(info.install_dir); !checked) return checked.error();
  if (info.install_dir.starts_with("/usr/share/") || info.install_dir == "/usr/bin") {
    return bad_input("--install-dir " + info.install_dir +
                     " would mix the tree with the desktop files");
  }
  info.maintainer = o.maintainer;
  if (deb || rpm) {
    if (Status checked = check_maintainer(o.maintainer); !checked) {
      return bad_input(checked.error().message + " (a .deb and an .rpm name their maintainer)");
    }
  }
  info.vendor = o.vendor;
  info.summary = o.description.empty() ? info.name : o.description;
  if (info.summary.find('\n') != std::string::npos) {
    return bad_input("--description must be one line");
  }
  info.long_description = o.long_description;
  if (f.long_description_file) {
    if (!*f.long_description_file) {
      return as_input(with_context("--long-description-file: ", f.long_description_file->error()));
    }
    info.long_description = **f.long_description_file;
  }
  if (f.license_file) {
    if (!*f.license_file)
      return as_input(with_context("--license-file: ", f.license_file->error()));
    info.license_text = **f.license_file;
  }
  info.license = o.license_type;
  info.copyright = o.copyright;
  info.homepage = o.homepage;
  info.section = o.section;
  if (!o.menu_group.empty()) info.categories = split_categories(o.menu_group);
  if (info.categories.empty()) return bad_input("--linux-menu-group names no category");
  for (const std::string& category : info.categories) {
    if (Status checked = check_category(category); !checked) return checked.error();
  }
  info.app_id = o.app_id.empty() ? default_app_id(plan.tree.main_class, info.name) : o.app_id;
  if (Status checked = check_app_id(info.app_id); !checked) return checked.error();
  info.wm_class = o.wm_class.empty() ? default_wm_class(plan.tree.main_class) : o.wm_class;
  if (Status checked = check_values(o, plan); !checked) return checked.error();
  if (!o.icon.empty()) {
    Result<IconFile> icon = plan_icon(f, o.icon, "--icon");
    if (!icon) return icon.error();
    plan.icon = *icon;
    info.has_icon = true;
  }
  for (std::size_t i = 0; i < o.file_associations.size(); ++i) {
    const std::string& value = o.file_associations[i];
    if (i >= f.file_associations.size()) return step_failed("--file-association was not probed");
    if (!f.file_associations[i]) {
      return as_input(with_context("--file-association: ", f.file_associations[i].error()));
    }
    Result<FileAssociation> fa = parse_file_association(*f.file_associations[i]);
    if (!fa) return as_input(with_context("--file-association " + value + ": ", fa.error()));
    if (Status checked = check_text("--file-association description", fa->description, false);
        !checked) {
      return checked.error();
    }
    for (const FileAssociation& earlier : info.file_associations) {
      if (lower(earlier.extension) == lower(fa->extension)) {
        return bad_input("--file-association: the extension ." + fa->extension +
                         " is given twice (for " + earlier.mime_type + " and " + fa->mime_type +
                         ")");
      }
    }
    fa->system_type = !is_own_mime_type(fa->mime_type, f.known_mime_types);
    if (fa->system_type) {
      plan.notes.push_back(fa->mime_type +
                           " is a type the system defines: the app is registered to open it, "
                           "but the package does not redefine it (nor its .ext glob or icon)");
    }
    std::optional<IconFile> icon;
    if (!fa->icon.empty() && !fa->system_type) {
      Result<IconFile> checked = plan_icon(f, fa->icon, "--file-association icon");
      if (!checked) return checked.error();
      icon = *checked;
    }
    info.file_associations.push_back(*fa);
    plan.association_icons.push_back(icon);
  }

  for (const std::string& scheme : o.url_schemes) {
    if (Status checked = check_url_scheme(scheme); !checked) return checked.error();
    if (std::find(info.url_schemes.begin(), info.url_schemes.end(), scheme) !=
        info.url_schemes.end()) {
      return bad_input("--url-scheme " + scheme + " is given twice");
    }
    info.url_schemes.push_back(scheme);
  }

  // The tools, all named at once when some are missing.
  std::vector<std::string> missing;
  auto need = [&](const std::string& path, const std::string& name, const std::string& why) {
    if (path.empty()) missing.push_back(name + " (" + why + ")");
  };
  plan.tools = f.tools;
  if (deb) need(f.tools.dpkg_deb, "dpkg-deb", "makes the .deb");
  if (rpm) need(f.tools.rpmbuild, "rpmbuild", "makes the .rpm; Debian package rpm");
  if (plan.types.contains(PackageType::kTarGz)) need(f.tools.tar, "tar", "makes the .tar.gz");
  need(f.tools.env, "env", "runs the tools");
  if (deb || rpm) {
    need(f.tools.readelf, "readelf", "reads the libraries the tree needs; Debian package binutils");
  }
  if (deb) need(f.tools.md5sum, "md5sum", "lists the .deb's checksums");
  plan.strip_launcher = f.launcher_has_debug_info;
  // The binutils of the tree's machine, where they are here; the host's handle ELF of any.
  if (plan.tree.machine == kMachineAArch64 && !f.tools.cross_objcopy.empty()) {
    plan.tools.objcopy = f.tools.cross_objcopy;
  }
  need(plan.tools.objcopy, "objcopy", "strips the shipped programs; Debian package binutils");
  const bool svg_icons =
      (plan.icon && plan.icon->info.kind == IconKind::kSvg) ||
      std::any_of(plan.association_icons.begin(), plan.association_icons.end(),
                  [](const auto& i) { return i && i->info.kind == IconKind::kSvg; });
  if (svg_icons) {
    need(f.tools.rsvg_convert, "rsvg-convert",
         "draws PNG icons from the SVG; Debian package librsvg2-bin");
  }
  if (Status planned = plan_feed_key(o, f, plan); !planned) return planned.error();
  if (Status planned = plan_update_site(o, f, info); !planned) return planned.error();
  if (deb && !info.update_site.empty()) {
    need(f.tools.gpg, "gpg", "makes the update site's keyring for apt; Debian package gnupg");
  }
  if (!missing.empty()) return bad_input("missing tools: " + join(missing, "; "));
  if (deb || rpm) {
    if (Status planned = plan_dependencies(o, f, plan); !planned) return planned.error();
  }
  if (Status planned = plan_archive(f, plan); !planned) return planned.error();
  if (f.source_date_epoch) {
    const std::string& epoch = *f.source_date_epoch;
    if (epoch.empty() || epoch.size() > 18 ||
        epoch.find_first_not_of("0123456789") != std::string::npos) {
      return bad_input("SOURCE_DATE_EPOCH '" + epoch + "' is not a number of seconds");
    }
    info.source_date_epoch = std::stoll(epoch);
  } else {
    info.source_date_epoch = f.now;
  }
  return plan;
}

}  // namespace vorlane::packages
