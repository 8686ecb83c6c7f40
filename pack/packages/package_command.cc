#include "pack/packages/package_command.h"

namespace vorlane::packages {

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
  cmd->add_flag("--quiet", o.quiet, "Print only notes and errors");
  return cmd;
}

}  // namespace vorlane::packages
