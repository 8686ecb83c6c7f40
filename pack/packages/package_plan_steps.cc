#include "pack/packages/package_plan_steps.h"

#include <algorithm>
#include <utility>

#include "formats/archive_policy.h"
#include "formats/user_options.h"
#include "pack/core/elf_section.h"
#include "pack/image/app_config.h"

namespace vorlane::packages {

Status plan_archive(const PackageFacts& f, PackagePlan& plan) {
  using formats::ArchiveFate;
  const bool installs =
      plan.types.contains(PackageType::kDeb) || plan.types.contains(PackageType::kRpm);
  formats::ArchiveFacts facts{
      .java_version = f.runtime_java_version,
      .jvm_options = plan.tree.jvm_options,
      .context = formats::ArchiveContext::kInstalledPackage,
      .has_coops = f.runtime_coops_archive,
      .has_nocoops = f.runtime_nocoops_archive,
      .app_archive = plan.tree.has_app_archive_option
                         ? std::optional<formats::ArchiveKind>(plan.tree.archive_kind)
                         : std::nullopt};
  plan.installed_archives = formats::decide_archives(facts);
  facts.context = formats::ArchiveContext::kTarball;
  plan.tar_archives = formats::decide_archives(facts);
  if (installs) {
    for (const auto& [decision, archive] :
         {std::pair{&plan.installed_archives.coops, kCoopsArchive},
          std::pair{&plan.installed_archives.nocoops, kNoCoopsArchive}}) {
      if (decision->fate == ArchiveFate::kRemake) {
        plan.info.runtime_dumps.push_back({archive, decision->options});
      }
    }
  }
  // A shipped app archive is the same in every package (the tree's own).
  if (plan.installed_archives.app.fate == ArchiveFate::kShip) {
    plan.ship_archive = true;
    plan.kept_times = archive_recorded_files(plan.tree.jvm_options);
    return done();
  }
  if (!installs || plan.installed_archives.app.fate != ArchiveFate::kRemake) return done();
  std::optional<std::vector<std::string>> emulator = formats::split_user_options(f.emulator_text);
  if (!emulator)
    return bad_input("the emulator command '" + f.emulator_text + "' leaves a quote open");
  if (plan.tree.machine != f.host_machine) {
    if (emulator->empty()) {
      plan.notes.push_back(
          "the tree is for " + machine_name(plan.tree.machine) +
          ": without --emulator its classes cannot be listed here, so the packages make no "
          "class-data archive at install time and the app starts more slowly");
      return done();
    }
    plan.emulator = *emulator;
  }
  plan.record_class_list = true;
  return done();
}

Status plan_update_site(const PackageOptions& o, const PackageFacts& f, PackageInfo& info) {
  if (o.update_site.empty() && o.update_key.empty()) return done();
  if (o.update_site.empty() || o.update_key.empty()) {
    return bad_input(
        "--update-site and --update-key go together: the site's address and its "
        "KEY.asc");
  }
  const std::string& url = o.update_site;
  const bool scheme = url.starts_with("https://") || url.starts_with("http://");
  const bool plain = std::none_of(url.begin(), url.end(), [](char c) {
    return static_cast<unsigned char>(c) <= ' ' || c == 0x7f || c == '"' || c == '\'' ||
           c == '\\' || c == '#' || c == '%' || c == '$' || c == '`';
  });
  if (!scheme || !plain || url.size() <= 8) {
    return bad_input("--update-site '" + url +
                     "' is no plain http:// or https:// address (no blanks, quotes, '#', '%', "
                     "'$' or backquotes)");
  }
  const std::string& channel = o.update_channel;
  if (channel.empty() ||
      channel.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") != std::string::npos) {
    return bad_input("--update-channel '" + channel +
                     "' is no channel name (letters, digits, '.', '_', '-')");
  }
  if (!*f.update_key) return as_input(with_context("--update-key: ", f.update_key->error()));
  const std::string& key = **f.update_key;
  if (!key.starts_with("-----BEGIN PGP PUBLIC KEY BLOCK-----")) {
    return bad_input("--update-key " + o.update_key +
                     " is no armored public key (the site's KEY.asc, which vorlane-pack publish "
                     "writes)");
  }
  info.update_site = url.ends_with('/') ? url.substr(0, url.size() - 1) : url;
  info.update_channel = channel;
  info.update_key = key;
  info.install_record = f.tree_has_updater;
  return done();
}

Status plan_feed_key(const PackageOptions& o, const PackageFacts& f, PackagePlan& plan) {
  if (o.update_feed_key.empty()) {
    if (f.tree_has_updater && o.update_site.empty()) {
      plan.notes.emplace_back(
          "the tree holds the update library, but the package names no "
          "--update-site, so the app finds no updates");
    }
    return done();
  }
  if (o.update_site.empty()) {
    return bad_input(
        "--update-feed-key needs --update-site (and --update-key): the site whose "
        "feed the key signs");
  }
  if (!f.tree_has_updater) {
    return bad_input("--update-feed-key: the tree " + o.app_dir + " has no lib/app/" +
                     kUpdaterJarName +
                     " to check the feed with: make the tree with "
                     "`vorlane-pack app --updates`");
  }
  if (!f.update_feed_key) return step_failed("--update-feed-key was not read");
  if (!*f.update_feed_key) {
    return as_input(with_context("--update-feed-key: ", f.update_feed_key->error()));
  }
  plan.info.update_feed_key = **f.update_feed_key;
  return done();
}

}  // namespace vorlane::packages
