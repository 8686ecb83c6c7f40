// vorlane-pack: burns launch data into launcher copies and reads it back.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "pack/arg_files.h"
#include "pack/block_encoder.h"
#include "pack/burn.h"

namespace {

using namespace vorlane;

/// Bad input: a usage error, a block that cannot be burned, an unreadable file.
constexpr int kBadInput = 2;
/// Anything else that stopped the packer.
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
