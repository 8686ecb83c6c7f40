// vorlane-pack: packages an app into an installed tree behind the launcher,
// remakes its class-data archive, burns launch data into launcher copies and
// reads it back.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "pack/app.h"
#include "pack/arg_files.h"
#include "pack/block_encoder.h"
#include "pack/burn.h"
#include "pack/packages/package_command.h"
#include "pack/subprocess.h"

namespace {

using namespace vorlane;

/// Anything else that stopped the packer (bad input is kBadInput, app.h).
constexpr int kFailure = 1;

void print_errors(const std::vector<std::string>& errors) {
  for (const std::string& e : errors) (void)std::fprintf(stderr, "vorlane-pack: %s\n", e.c_str());
}

struct BurnOptions {
  std::string output;
  std::string template_path;
  std::string main_class;
  std::vector<std::string> java_options;
  std::vector<std::string> arguments;
  std::vector<std::string> allowed;
  bool console = false;
  bool run_on_main_thread = false;
  std::string stack_size = "2m";
};

void add_burn_command(CLI::App& app, BurnOptions& o) {
  CLI::App* burn =
      app.add_subcommand("burn", "Write a copy of the launcher with an app's launch data");
  // A single-valued option given twice takes its last value, as in most tools.
  burn->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  burn->add_option("--output", o.output, "The launcher to write")->required();
  burn->add_option("--main-class", o.main_class, "The app's main class, such as demo.Main")
      ->required();
  burn->add_option("--java-option", o.java_options, "A JVM option (repeat; order is kept)");
  burn->add_option("--argument", o.arguments,
                   "An argument passed to main before the user's (repeat)");
  burn->add_option("--allow-java-option", o.allowed,
                   "A prefix of JVM options users may add through VORLANE_JVM_OPTIONS (repeat)");
  burn->add_flag("--console", o.console, "Report errors as plain text, for a console app");
  burn->add_flag("--run-on-main-thread", o.run_on_main_thread,
                 "Run the JVM on the process's initial thread");
  burn->add_option("--stack-size", o.stack_size,
                   "Stack of the main Java thread, e.g. 2m (default)");
  burn->add_option("--template", o.template_path,
                   "The launcher template (default: the installed one)");
}

int run_burn(const BurnOptions& o) {
  std::optional<std::uint64_t> stack_size = parse_size(o.stack_size);
  if (!stack_size) {
    print_errors({"stack size '" + o.stack_size + "' is not a size such as 2097152, 2048k or 2m"});
    return kBadInput;
  }
  BurnedInData block;
  block.main_class = o.main_class;
  block.jvm_options = o.java_options;
  block.app_args = o.arguments;
  block.allowed_jvm_options = o.allowed;
  block.console_app = o.console;
  block.run_on_main_thread = o.run_on_main_thread;
  const std::string template_path =
      o.template_path.empty() ? default_template_path() : o.template_path;
  std::vector<std::string> errors = burn(template_path, o.output, block, *stack_size);
  if (!errors.empty()) {
    print_errors(errors);
    return kBadInput;
  }
  return 0;
}

void add_app_command(CLI::App& app, AppOptions& o) {
  CLI::App* cmd = app.add_subcommand(
      "app", "Make an installed app tree: DEST/NAME/bin/NAME, lib/app/ (the jars), lib/runtime/");
  cmd->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  cmd->add_option("--name", o.name, "The app's name: its folder and its launcher")->required();
  cmd->add_option("--input", o.input, "The folder that holds the app's jars (copied whole)")
      ->required();
  cmd->add_option("--main-class", o.main_class, "The app's main class, such as demo.Main")
      ->required();
  cmd->add_option("--main-jar", o.main_jar,
                  "The jar in --input that holds the main class; first on the class path");
  cmd->add_option("--dest", o.dest, "The folder the app's folder goes in")->required();
  cmd->add_option("--java-option", o.java_options, "A JVM option (repeat; order is kept)");
  cmd->add_option("--argument", o.arguments,
                  "An argument passed to main before the user's (repeat)");
  cmd->add_option("--allow-java-option", o.allowed_java_options,
                  "A prefix of JVM options users may add through VORLANE_JVM_OPTIONS (repeat)");
  cmd->add_option("--add-modules", o.add_modules,
                  "Modules the runtime needs besides those jdeps finds (M,N,...)");
  cmd->add_option("--runtime-image", o.runtime_image,
                  "A prepared Java runtime to copy instead of making one");
  cmd->add_option("--jdk", o.jdk,
                  "The JDK whose jmods make the runtime (default: the JDK found here)");
  cmd->add_option("--template", o.template_path,
                  "The launcher template (default: the installed one)");
  cmd->add_flag("--console", o.console, "Report errors as plain text, for a console app");
  cmd->add_option("--app-cds", o.training_args,
                  "Make an app class-data archive by a training run; =ARGS are its arguments")
      ->expected(0, 1)
      ->type_name("[=ARGS]");
  cmd->add_option(
      "--emulator", o.emulator,
      "Command that runs programs of the launcher's machine, for archives of a tree for "
      "another machine (default: $VORLANE_EMULATOR)");
  cmd->add_option("--training-timeout", o.training_timeout,
                  "Seconds a training run may take (default 120)");
  cmd->add_flag("--quiet", o.quiet, "Print only notes and errors, not the progress of each step");
}

void add_cds_command(CLI::App& app, CdsOptions& o) {
  CLI::App* cmd = app.add_subcommand("cds",
                                     "Remake the app class-data archive of an installed app tree, "
                                     "in place (e.g. after installing it)");
  cmd->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  cmd->add_option("APP-DIR", o.app_dir, "The app's folder, made by vorlane-pack app")->required();
  cmd->add_option("TRAINING-ARGS", o.training_args,
                  "After --: arguments of the training run (default: those of the last run)");
  cmd->add_option("--emulator", o.emulator, "Command that runs programs of the launcher's machine");
  cmd->add_option("--training-timeout", o.training_timeout,
                  "Seconds the training run may take (default 120)");
  cmd->add_flag("--quiet", o.quiet, "Print only errors");
}

int run_show(const std::string& path) {
  std::string error;
  std::optional<BurnedInData> block = read_burned_block(path, error);
  if (!block) {
    print_errors({error});
    return kBadInput;
  }
  std::cout << describe_block(*block);
  return 0;
}

int run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  if (!expand_arg_files(args, error)) {
    print_errors({error});
    return kBadInput;
  }
  attach_option_values(args, {"--java-option", "--argument", "--allow-java-option"});

  CLI::App app{"Packages Java apps behind the Vorlane launcher.", "vorlane-pack"};
  app.require_subcommand(1);
  BurnOptions burn_options;
  add_burn_command(app, burn_options);
  std::string show_path;
  CLI::App* show = app.add_subcommand("show", "Print the launch data burned into a launcher");
  show->add_option("LAUNCHER", show_path, "The launcher to read")->required();
  AppOptions app_options;
  add_app_command(app, app_options);
  CdsOptions cds_options;
  add_cds_command(app, cds_options);
  packages::PackageOptions package_options;
  packages::add_package_command(app, package_options);

  // CLI11 parses the arguments last to first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kBadInput;
  }
  // Slow steps run other programs; an interrupt ends them and removes what is half-made.
  install_interrupt_handlers();
  if (app.got_subcommand("app")) {
    app_options.app_cds = app.get_subcommand("app")->count("--app-cds") > 0;
    return make_app(app_options);
  }
  if (app.got_subcommand("cds")) return remake_archive(cds_options);
  if (app.got_subcommand("package")) return packages::make_packages(package_options);
  if (app.got_subcommand("burn")) return run_burn(burn_options);
  return run_show(show_path);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    // Bad input is reported above; only a failure of the machine itself,
    // such as memory running out, gets here. Say so rather than abort.
    (void)std::fprintf(stderr, "vorlane-pack: %s\n", e.what());
  } catch (...) {
    (void)std::fprintf(stderr, "vorlane-pack: unexpected failure\n");
  }
  return kFailure;
}
