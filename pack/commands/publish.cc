#include "pack/commands/publish.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>

#include "pack/core/ed25519.h"
#include "pack/core/process.h"
#include "pack/core/report.h"
#include "pack/publish/signing.h"
#include "pack/publish/site_probe.h"
#include "pack/publish/site_writer.h"

namespace vorlane {

namespace {

using Clock = Report::Clock;
using publish::PublishOptions;

/// The combinations of options a publish refuses before it looks at anything.
Status check_option_combinations(const PublishOptions& o) {
  if (!o.signing_key.empty() && !o.new_key.empty()) {
    return bad_input("give --signing-key or --new-key, not both");
  }
  if (!o.feed_key.empty() && !o.new_key.empty()) {
    return bad_input("give --feed-key or --new-key (which makes one), not both");
  }
  if (!o.notes.empty() && o.feed_key.empty() && o.new_key.empty()) {
    return bad_input("--notes are the update feed's: give --feed-key FILE too");
  }
  if (!o.feed_valid_days.empty() && o.feed_key.empty() && o.new_key.empty()) {
    return bad_input("--feed-valid-days is the update feed's: give --feed-key FILE too");
  }
  return done();
}

int make_key_only(const PublishOptions& o, const Report& report) {
  Result<std::string> made = publish::make_new_key(o.new_key, "Vorlane site signing key");
  if (!made) return report.fail(made.error());
  Result<std::string> feed_key = publish::make_feed_key(o.new_key);
  if (!feed_key) return report.fail(feed_key.error());
  report.note("made a signing key in " + *made + " (and the update feed's key in " + *feed_key +
              "): back it up and keep it secret; every later publish must be signed with it, "
              "or the site's users get no more updates");
  return 0;
}

/// What probing found: the packages, the site, the keys the run signs with.
struct PublishProbe {
  std::vector<publish::GivenPackage> packages;
  publish::SiteFacts site;
  std::optional<Ed25519Key> feed_key;
  std::optional<std::string> notes;
  std::string feed_public_pem;
  std::optional<publish::Signer> signer;
  std::optional<std::string> new_key_note;  ///< said once the plan holds
};

/// Reads the packages, the site (locked by the caller), the feed key and
/// notes, and opens the signing key, made first with --new-key once the
/// refusals that need no key are ruled out. Nothing of the site is written.
Result<PublishProbe> probe_publish(const PublishOptions& o, const publish::PublishTools& tools,
                                   const publish::SiteLock& lock) {
  PublishProbe p;
  for (const std::string& path : o.packages) {
    Result<publish::GivenPackage> given = publish::probe_package(tools, path);
    if (!given) return given.error();
    p.packages.push_back(*given);
  }
  if (!o.feed_key.empty()) {
    Result<Ed25519Key> key = Ed25519Key::load(o.feed_key);
    if (!key) return key.error();
    p.feed_key = std::move(*key);
  }
  if (!o.notes.empty()) {
    Result<std::string> notes = publish::read_notes(o.notes);
    if (!notes) return notes.error();
    p.notes = std::move(*notes);
  }
  if (!o.site.empty()) {
    Result<publish::SiteFacts> site = publish::probe_site(o.site, lock.made_site());
    if (!site) return site.error();
    p.site = std::move(*site);
  }
  std::string key_file = o.signing_key;
  if (!o.new_key.empty()) {
    if (p.site.manifest) {
      return bad_input(o.site + " is signed with the key " + p.site.manifest->key_fingerprint +
                       " already: give it as --signing-key, not --new-key");
    }
    // Refusals that need no key come first, so no key is made for nothing.
    const publish::SiteFacts bare{p.site.exists, p.site.has_other, {}, "", ""};
    if (Result<publish::PublishPlan> trial = publish::plan_publish(o, bare, p.packages); !trial) {
      return trial.error();
    }
    const std::string name = p.packages.empty() ? "app" : p.packages[0].name;
    Result<std::string> made = publish::make_new_key(o.new_key, name + " archive signing key");
    if (!made) return made.error();
    Result<std::string> made_feed_key = publish::make_feed_key(o.new_key);
    if (!made_feed_key) return made_feed_key.error();
    Result<Ed25519Key> key = Ed25519Key::load(*made_feed_key);
    if (!key) return key.error();
    p.feed_key = std::move(*key);
    key_file = *made;
    p.new_key_note = "made a signing key in " + *made + " (and the update feed's key in " +
                     *made_feed_key + "): back it up and keep it secret; every later publish to " +
                     o.site + " needs it (--signing-key " + *made + " --feed-key " +
                     *made_feed_key + "), or the site's users get no updates";
  }
  if (p.feed_key) {
    Result<std::string> b64 = p.feed_key->public_base64();
    if (!b64) return b64.error();
    p.site.feed_key = *b64;
    Result<std::string> pem = p.feed_key->public_pem();
    if (!pem) return pem.error();
    p.feed_public_pem = *pem;
  }
  Result<publish::Signer> signer = publish::Signer::open(key_file);
  if (!signer) return signer.error();
  p.site.key_fingerprint = signer->fingerprint();
  p.signer.emplace(std::move(*signer));
  return p;
}

/// Writes the plan into the scratch folder, then switches it in. Stops
/// before the switch on an interrupt, with the site as it was.
int write_publish(const PublishOptions& o, const publish::PublishTools& tools, PublishProbe& p,
                  publish::PublishPlan& plan, publish::SiteLock& lock, const Report& report,
                  Clock::time_point started) {
  using publish::PackageKind;
  using publish::SiteEntry;
  publish::SiteWriter writer(o, tools, *p.signer, plan);
  if (Status s = writer.begin(); !s) return report.fail(s.error());
  const std::string& channel = o.channel;
  if (Status s = writer.copy_packages(); !s) return report.fail(s.error());
  // The feed's stored files and version manifests have new names; `latest`
  // is switched in with the indexes.
  const std::size_t old_entries = p.site.manifest ? p.site.manifest->entries.size() : 0;
  const bool new_tarballs =
      std::any_of(plan.manifest.entries.begin() + static_cast<std::ptrdiff_t>(old_entries),
                  plan.manifest.entries.end(),
                  [](const SiteEntry& e) { return e.format == PackageKind::kTarGz; });
  if (p.feed_key) {
    if (Status f = writer.make_feed(*p.feed_key, p.notes, old_entries); !f) {
      return report.fail(f.error());
    }
  } else if (new_tarballs) {
    report.note(
        "no --feed-key: the .tar.gz packages get no update feed (make a key with "
        "`publish --new-key DIR` on a new site, or `openssl genpkey -algorithm ed25519`)");
  }
  if (!writer.unshared_writes().empty()) {
    const std::vector<std::string>& w = writer.unshared_writes();
    report.note("the update feed lists " + std::to_string(w.size()) +
                " file(s) or folder(s) without their group and other write permission (" + w[0] +
                (w.size() > 1 ? ", ..." : "") +
                "): apps updated from it are writable by their owner only");
  }
  const std::vector<SiteEntry> indexed = publish::indexed_entries(plan.manifest, channel);
  const bool rpms = std::any_of(
      plan.manifest.entries.begin(), plan.manifest.entries.end(),
      [&](const SiteEntry& e) { return e.channel == channel && e.format == PackageKind::kRpm; });
  if (Status s = writer.make_apt(channel, indexed); !s) return report.fail(s.error());
  if (rpms) {
    if (Status s = writer.make_rpm(channel, indexed); !s) return report.fail(s.error());
  }
  if (Status s = writer.make_page(); !s) return report.fail(s.error());
  if (Status s = writer.stage_keys_and_manifest(p.feed_key ? p.feed_public_pem : ""); !s) {
    return report.fail(s.error());
  }
  if (interrupted()) return report.stop(o.site + " is as it was");

  // The switch: each repository's indexes in one rename.
  lock.keep();
  if (Status s = writer.switch_in_all(channel); !s) return report.fail(s.error());
  std::size_t listed = 0;
  for (const SiteEntry& e : indexed) listed += e.format == PackageKind::kTarGz ? 0 : 1;
  report.step("published " + std::to_string(plan.copies.size()) + " new file(s) to " + o.site +
                  " (" + channel + ": " + std::to_string(listed) + " package(s) in the indexes)",
              started);
  if (writer.feed_versions_made() > 0) {
    report.note("update feed: " + std::to_string(writer.feed_versions_made()) + " version(s) in " +
                o.site + "/updates/" + channel + ", " + std::to_string(writer.feed_objects()) +
                " new file(s) stored");
  }
  if (writer.feed_renewed() > 0) {
    report.note("update feed: the newest version of " + std::to_string(writer.feed_renewed()) +
                " channel and architecture folder(s) signed again, valid " + o.feed_valid_days +
                " day(s)");
  }
  return 0;
}

}  // namespace

int run_publish(const PublishOptions& o) {
  const Report report(o.quiet);
  if (Status s = check_option_combinations(o); !s) return report.fail(s.error());
  if (o.site.empty() && o.packages.empty() && !o.new_key.empty()) return make_key_only(o, report);
  if (o.signing_key.empty() && o.new_key.empty()) {
    return report.fail(
        bad_input("a site is signed: give --signing-key FILE (an exported secret key), or make one "
                  "with --new-key DIR"));
  }
  const publish::PublishTools tools = publish::find_publish_tools(o.packages);
  if (!tools.missing().empty()) return report.fail(bad_input("missing tools: " + tools.missing()));

  // The site is locked once, before anything of it is read, so that two
  // runs never plan from the same state.
  publish::SiteLock lock;
  if (!o.site.empty()) {
    if (Status s = lock.take(o.site); !s) return report.fail(s.error());
  }
  const Clock::time_point started = Clock::now();
  Result<PublishProbe> probe = probe_publish(o, tools, lock);
  if (!probe) return report.fail(probe.error());
  Result<publish::PublishPlan> plan = publish::plan_publish(o, probe->site, probe->packages);
  if (!plan) return report.fail(plan.error());
  if (probe->new_key_note) report.note(*probe->new_key_note);
  if (plan->no_op) {
    report.note("nothing to publish: every package given is on " + o.site + " already");
    return 0;
  }
  return write_publish(o, tools, *probe, *plan, lock, report, started);
}

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
