#include "pack/commands/publish.h"

#include <CLI/CLI.hpp>

namespace vorlane {

CLI::App* add_publish_command(CLI::App& app, publish::PublishOptions& o) {
  CLI::App* cmd = app.add_subcommand(
      "publish",
      "Add packages made by `vorlane-pack package` to a signed apt and dnf repository of "
      "static files, with a download page");
  cmd->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  cmd->add_option("SITE", o.site, "The site's folder (made on the first publish)");
  cmd->add_option("PACKAGE", o.packages, ".deb, .rpm and .tar.gz packages (amd64, arm64)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  cmd->add_option("--base-url", o.base_url,
                  "Where the site is served, e.g. https://example.org/apps/notes (needed the "
                  "first time; kept after)");
  cmd->add_option("--channel", o.channel,
                  "The channel: its own apt suite and dnf repository (default stable)");
  cmd->add_option("--keep", o.keep,
                  "How many versions of each package the channel's indexes list (default: as "
                  "before, else 5; 1 to 100000); published files always stay");
  cmd->add_option("--signing-key", o.signing_key,
                  "An exported secret key file (gpg --export-secret-keys --armor), without "
                  "passphrase, that signs the site");
  cmd->add_option("--new-key", o.new_key,
                  "Make a new signing key and update feed key (feed-key.pem) in this new folder "
                  "(and sign with them); alone, only makes the keys");
  cmd->add_option("--feed-key", o.feed_key,
                  "An Ed25519 private key (PEM, e.g. from `openssl genpkey -algorithm ed25519`) "
                  "that signs the update feed of the .tar.gz packages");
  cmd->add_option("--notes", o.notes,
                  "A UTF-8 file of release notes for the update feed (default: the .deb's "
                  "changelog entry for the version)");
  cmd->add_option("--feed-valid-days", o.feed_valid_days,
                  "Days (1 to 3650) after which the update feed's manifests signed now expire: "
                  "apps refuse them after, so a frozen or replayed feed shows; re-publish before");
  cmd->add_flag("--quiet", o.quiet, "Print only notes and errors");
  return cmd;
}

}  // namespace vorlane
