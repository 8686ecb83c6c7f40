#include "pack/commands/cli.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>

#include "formats/launch_data_encoder.h"
#include "pack/commands/app.h"
#include "pack/commands/arg_files.h"
#include "pack/commands/cds.h"
#include "pack/commands/package.h"
#include "pack/commands/publish.h"
#include "pack/core/process.h"
#include "pack/core/report.h"
#include "pack/image/app_tree.h"
#include "pack/image/burn.h"
#include "pack/image/glibc_floor.h"

namespace vorlane {

using formats::BurnedInData;
using formats::parse_size;

namespace {

/// Options whose value is any text; taken out before CLI11 parses the rest
/// (see `take_value_options`).
using TakenValues = std::map<std::string, std::vector<std::string>>;
const std::set<std::string> kValueOptions = {"--java-option", "--argument", "--allow-java-option"};

int bad_usage(const std::string& message) {
  return Report(false).fail(bad_input(message + "\nvorlane-pack: run with --help for more"));
}

/// One command of vorlane-pack: its options on the parser, and how it runs.
class Command {
 public:
  virtual ~Command() = default;
  /// Adds the command and its options to `app`.
  virtual CLI::App* add(CLI::App& app) = 0;
  /// Runs it once parsed, with the values `take_value_options` took.
  virtual int run(const CLI::App& parsed, const TakenValues& values) = 0;
  /// Whether it takes the options of `kValueOptions`.
  virtual bool takes_values() const { return false; }
};

void add_value_options(CLI::App& cmd) {
  // Registered for the help only: their values were taken out before parsing.
  const std::pair<const char*, const char*> options[] = {
      {"--java-option", "A JVM option, starting with '-' (repeat; order is kept)"},
      {"--argument", "An argument passed to main before the user's (repeat)"},
      {"--allow-java-option",
       "A prefix of JVM options users may add through VORLANE_JVM_OPTIONS (repeat)"},
  };
  for (const auto& [name, description] : options) {
    cmd.add_option(name, CLI::callback_t(), description)->type_name("TEXT");
  }
}

std::vector<std::string> values_of(const TakenValues& values, const std::string& option) {
  const auto it = values.find(option);
  return it == values.end() ? std::vector<std::string>{} : it->second;
}

class BurnCommand : public Command {
 public:
  CLI::App* add(CLI::App& app) override {
    CLI::App* cmd =
        app.add_subcommand("burn", "Write a copy of the launcher with an app's launch data");
    // A single-valued option given twice takes its last value, as in most tools.
    cmd->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    cmd->add_option("--output", output_, "The launcher to write")->required();
    cmd->add_option("--main-class", block_.main_class, "The app's main class, such as demo.Main")
        ->required();
    add_value_options(*cmd);
    cmd->add_flag("--console", block_.console_app,
                  "Report errors as plain text, for a console app");
    cmd->add_flag("--run-on-main-thread", block_.run_on_main_thread,
                  "Run the JVM on the process's initial thread");
    cmd->add_option("--stack-size", stack_size_,
                    "Stack of the main Java thread, e.g. 2m (default)");
    cmd->add_option("--template", template_path_,
                    "The launcher template (default: the installed one)");
    return cmd;
  }
  bool takes_values() const override { return true; }
  int run(const CLI::App&, const TakenValues& values) override {
    const Report report(false);
    std::optional<std::uint64_t> stack_size = parse_size(stack_size_);
    if (!stack_size) {
      return report.fail(
          bad_input("stack size '" + stack_size_ + "' is not a size such as 2097152, 2048k or 2m"));
    }
    block_.jvm_options = values_of(values, "--java-option");
    block_.app_args = values_of(values, "--argument");
    block_.allowed_jvm_options = values_of(values, "--allow-java-option");
    const std::string template_path =
        template_path_.empty() ? default_template_path() : template_path_;
    const std::vector<std::string> errors = burn(template_path, output_, block_, *stack_size);
    for (const std::string& e : errors) report.fail(bad_input(e));
    return errors.empty() ? 0 : static_cast<int>(ExitStatus::kBadInput);
  }

 private:
  BurnedInData block_;
  std::string output_;
  std::string template_path_;
  std::string stack_size_ = "2m";
};

class ShowCommand : public Command {
 public:
  CLI::App* add(CLI::App& app) override {
    CLI::App* cmd = app.add_subcommand("show", "Print the launch data burned into a launcher");
    cmd->add_option("LAUNCHER", path_, "The launcher to read")->required();
    return cmd;
  }
  int run(const CLI::App&, const TakenValues&) override {
    Result<BurnedInData> block = read_burned_block(path_);
    if (!block) return Report(false).fail(as_input(block.error()));
    std::cout << describe_block(*block);
    show_glibc_floor();
    return 0;
  }

 private:
  /// The oldest glibc the launcher's tree runs on, when it is bin/NAME of a
  /// tree made by `app`; else that of the launcher alone.
  void show_glibc_floor() const {
    namespace fs = std::filesystem;
    const fs::path launcher(path_);
    const fs::path tree = launcher.parent_path().parent_path();
    const Result<AppMarker> marker = launcher.parent_path().filename() == "bin"
                                         ? read_marker(tree.string())
                                         : Result<AppMarker>(bad_input("no tree"));
    TreeGlibc glibc;
    if (marker && marker->name == launcher.filename()) {
      const Result<std::vector<GlibcNeed>> needs = read_glibc_needs(tree.string());
      if (!needs) {
        std::cout << "glibc: unknown (" << needs.error().message << ")\n";
        return;
      }
      glibc = tree_glibc(*needs, "bin/" + marker->name);
    } else {
      const Result<std::optional<GlibcVersion>> need = read_glibc_need(path_);
      if (!need) {
        std::cout << "glibc: unknown (" << need.error().message << ")\n";
        return;
      }
      if (*need) glibc = tree_glibc({{**need, path_}}, path_);
    }
    if (const std::string line = glibc_floor_line(glibc); !line.empty()) std::cout << line << "\n";
    if (const auto note = glibc_floor_note(glibc)) std::cout << "note: " << *note << "\n";
  }

  std::string path_;
};

class AppCommand : public Command {
 public:
  CLI::App* add(CLI::App& app) override {
    CLI::App* cmd = app.add_subcommand(
        "app", "Make an installed app tree: DEST/NAME/bin/NAME, lib/app/ (the jars), lib/runtime/");
    cmd->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    cmd->add_option("--name", o_.name, "The app's name: its folder and its launcher")->required();
    cmd->add_option("--input", o_.input, "The folder that holds the app's jars (copied whole)")
        ->required();
    cmd->add_option("--main-class", o_.main_class, "The app's main class, such as demo.Main")
        ->required();
    cmd->add_option("--main-jar", o_.main_jar,
                    "The jar in --input that holds the main class; first on the class path");
    cmd->add_option("--dest", o_.dest, "The folder the app's folder goes in")->required();
    add_value_options(*cmd);
    cmd->add_option("--add-modules", o_.add_modules,
                    "Modules the runtime needs besides those jdeps finds (M,N,...)");
    cmd->add_option("--runtime-image", o_.runtime_image,
                    "A prepared Java runtime to copy instead of making one");
    cmd->add_option("--jdk", o_.jdk,
                    "The JDK whose jmods make the runtime (default: the JDK found here)");
    cmd->add_option("--template", o_.template_path,
                    "The launcher template (default: the installed one)");
    cmd->add_flag("--console", o_.console, "Report errors as plain text, for a console app");
    cmd->add_option("--splash", o_.splash,
                    "An image (PNG, GIF, JPEG) shown before the JVM starts; copied into "
                    "lib/app with any NAME@2x-style variants beside it");
    cmd->add_option("--single-instance", o_.single_instance_id,
                    "Run once per user: a second launch hands its arguments to the running app; "
                    "=ID names the instance (default: the app's name)")
        ->expected(0, 1)
        ->type_name("[=ID]");
    cmd->add_flag("--updates", o_.updates,
                  "Add the update library (vorlane-updater.jar) to the tree and its class path, "
                  "for in-app updates from the site `vorlane-pack package --update-site` names");
    cmd->add_option("--app-cds", o_.training_args,
                    "Make an app class-data archive by a training run; =ARGS are its arguments")
        ->expected(0, 1)
        ->type_name("[=ARGS]");
    cmd->add_option(
        "--emulator", o_.emulator,
        "Command that runs programs of the launcher's machine, for archives of a tree for "
        "another machine (default: $VORLANE_EMULATOR)");
    cmd->add_option("--training-timeout", o_.training_timeout,
                    "Seconds a training run may take (default 120)");
    cmd->add_flag("--quiet", o_.quiet,
                  "Print only notes and errors, not the progress of each step");
    return cmd;
  }
  bool takes_values() const override { return true; }
  int run(const CLI::App& parsed, const TakenValues& values) override {
    if (parsed.count("--splash") > 0 && o_.splash.empty()) {
      return bad_usage("--splash takes an image file, not an empty name");
    }
    o_.app_cds = parsed.count("--app-cds") > 0;
    o_.single_instance = parsed.count("--single-instance") > 0;
    o_.java_options = values_of(values, "--java-option");
    o_.arguments = values_of(values, "--argument");
    o_.allowed_java_options = values_of(values, "--allow-java-option");
    return make_app(o_);
  }

 private:
  AppOptions o_;
};

class CdsCommand : public Command {
 public:
  CLI::App* add(CLI::App& app) override {
    CLI::App* cmd =
        app.add_subcommand("cds",
                           "Remake the app class-data archive of an installed app tree, in place "
                           "(e.g. after installing it)");
    cmd->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    cmd->add_option("APP-DIR", o_.app_dir, "The app's folder, made by vorlane-pack app")
        ->required();
    cmd->add_option("TRAINING-ARGS", o_.training_args,
                    "After --: arguments of the training run (default: those of the last run)");
    cmd->add_option("--emulator", o_.emulator,
                    "Command that runs programs of the launcher's machine");
    cmd->add_option("--training-timeout", o_.training_timeout,
                    "Seconds the training run may take (default 120)");
    cmd->add_flag("--quiet", o_.quiet, "Print only errors");
    return cmd;
  }
  int run(const CLI::App&, const TakenValues&) override { return remake_archive(o_); }

 private:
  CdsOptions o_;
};

/// `package`: .deb, .rpm and .tar.gz packages of an app tree.
class PackageCommand : public Command {
 public:
  CLI::App* add(CLI::App& app) override { return add_package_command(app, o_); }
  int run(const CLI::App&, const TakenValues&) override { return make_packages(o_); }

 private:
  packages::PackageOptions o_;
};

/// `publish`: a signed apt and dnf repository of static files.
class PublishCommand : public Command {
 public:
  CLI::App* add(CLI::App& app) override { return add_publish_command(app, o_); }
  int run(const CLI::App&, const TakenValues&) override { return run_publish(o_); }

 private:
  publish::PublishOptions o_;
};

/// Every command of vorlane-pack, in the order the help lists them. A new
/// command is a class above and a line here.
std::vector<std::unique_ptr<Command>> all_commands() {
  std::vector<std::unique_ptr<Command>> commands;
  commands.push_back(std::make_unique<AppCommand>());
  commands.push_back(std::make_unique<CdsCommand>());
  commands.push_back(std::make_unique<PackageCommand>());
  commands.push_back(std::make_unique<PublishCommand>());
  commands.push_back(std::make_unique<BurnCommand>());
  commands.push_back(std::make_unique<ShowCommand>());
  return commands;
}

}  // namespace

int run_command_line(std::vector<std::string> args) {
  if (Status expanded = expand_arg_files(args); !expanded) {
    return Report(false).fail(expanded.error());
  }
  Result<TakenValues> values = take_value_options(args, kValueOptions);
  if (!values) return bad_usage(values.error().message);

  CLI::App app{"Packages Java apps behind the Vorlane launcher.", "vorlane-pack"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("vorlane-pack ") + VORLANE_VERSION);
  app.footer(
      "An argument @FILE, anywhere on the command line, stands for the lines of FILE, one "
      "argument a line. Only a whole argument is: --argument=@x passes '@x' as it is.");
  std::vector<std::unique_ptr<Command>> commands = all_commands();
  std::vector<CLI::App*> parsers;
  parsers.reserve(commands.size());
  for (const auto& command : commands) parsers.push_back(command->add(app));

  // CLI11 parses the arguments last to first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // Without a command CLI11 says only that one is required, even when a
    // misspelt one was given: name it and the commands there are.
    if (app.get_subcommands().empty() && !args.empty() && !args[0].starts_with("-")) {
      std::string names;
      for (const CLI::App* parser : parsers)
        names += (names.empty() ? "" : ", ") + parser->get_name();
      return bad_usage("'" + args[0] + "' is not a command; the commands are " + names);
    }
    return bad_usage(e.what());
  }
  for (std::size_t i = 0; i < commands.size(); ++i) {
    if (!parsers[i]->parsed()) continue;
    if (!commands[i]->takes_values() && !values->empty()) {
      return bad_usage(values->begin()->first + " does not apply to " + parsers[i]->get_name());
    }
    // Slow steps run other programs; an interrupt ends them and removes what is half-made.
    install_interrupt_handlers();
    return commands[i]->run(*parsers[i], *values);
  }
  return bad_usage("no command given");
}

}  // namespace vorlane
