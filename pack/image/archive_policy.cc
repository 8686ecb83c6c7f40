#include "pack/image/archive_policy.h"

#include <algorithm>

#include "pack/core/elf_section.h"
#include "pack/jdk/jdk.h"

namespace vorlane {

namespace {

constexpr char kArchiveFileOption[] = "-XX:SharedArchiveFile=&&/";
constexpr char kCacheFileOption[] = "-XX:AOTCache=&&/";
// Both tag sets: a class path that no longer matches is reported under
// [cds], an archive that fails to map under [cds,dynamic].
constexpr char kQuietArchiveOption[] = "-Xlog:cds=off,cds+dynamic=off";
// 24 and later report under [aot] too, and on standard output.
constexpr char kQuietAotOption[] = "-Xlog:aot*=off,cds*=off";
constexpr char kCacheName[] = "vorlane-app.aot";
constexpr char kCacheConfigurationName[] = "vorlane-app.aotconf";

}  // namespace

std::vector<std::string> archive_notes(const ArchiveChoice& choice, const std::string& java_version,
                                       const std::vector<std::string>& allowed_options) {
  std::vector<std::string> notes;
  const std::optional<JavaVersion> version = parse_java_version(java_version);
  if (version && version->feature > kNewestTestedJava) {
    notes.push_back("the runtime is Java " + std::to_string(version->feature) +
                    ", newer than the newest release the app's class-data archive was tried on (" +
                    std::to_string(kNewestTestedJava) + "); it gets the " +
                    archive_kind_name(choice.kind) + " kind, as " +
                    std::to_string(kNewestTestedJava) +
                    " does: check that the app starts as fast as it should");
  }
  // The cache and the AOT-linked static archive keep the compressed-oops
  // mode they were made in, and ZGC has none: under a user's ZGC the JVM
  // sets them aside ("The saved state of UseCompressedOops (1) is different
  // from runtime (0)") and shares no class at all. Measured on 25, 26 and
  // 27; a dynamic archive over the runtime's own keeps the JDK's classes.
  constexpr std::string_view kZgc = "-XX:+UseZGC";
  const auto zgc = std::find_if(allowed_options.begin(), allowed_options.end(),
                                [&](const std::string& p) { return kZgc.starts_with(p); });
  if (zgc != allowed_options.end() && choice.kind != ArchiveKind::kDynamic) {
    notes.push_back("--allow-java-option " + *zgc +
                    " lets a user's VORLANE_JVM_OPTIONS choose ZGC (-XX:+UseZGC); the app's " +
                    archive_kind_name(choice.kind) +
                    " archive, made with compressed oops, is then set aside and the app starts "
                    "with no shared class. Give ZGC in --java-option instead, so the archive is "
                    "made with it");
  }
  return notes;
}

std::string archive_kind_name(ArchiveKind kind) {
  switch (kind) {
    case ArchiveKind::kDynamic:
      return "dynamic";
    case ArchiveKind::kStaticLinked:
      return "static-linked";
    case ArchiveKind::kAotCache:
      return "aot-cache";
  }
  return "";
}

std::optional<ArchiveKind> parse_archive_kind(const std::string& name) {
  for (const ArchiveKind kind :
       {ArchiveKind::kDynamic, ArchiveKind::kStaticLinked, ArchiveKind::kAotCache}) {
    if (archive_kind_name(kind) == name) return kind;
  }
  return std::nullopt;
}

std::string archive_file_name(ArchiveKind kind) {
  return kind == ArchiveKind::kAotCache ? kCacheName : kAppArchiveName;
}

std::string archive_work_file_name(ArchiveKind kind) {
  switch (kind) {
    case ArchiveKind::kDynamic:
      return "";
    case ArchiveKind::kStaticLinked:
      return kClassListName;
    case ArchiveKind::kAotCache:
      return kCacheConfigurationName;
  }
  return "";
}

std::vector<std::string> all_archive_file_names() {
  return {kAppArchiveName, kCacheName, kClassListName, kCacheConfigurationName};
}

std::string archive_temp_name(const std::string& file) {
  const std::size_t dot = file.rfind('.');
  return dot == std::string::npos ? file + ".new" : file.substr(0, dot) + ".new" + file.substr(dot);
}

std::string quiet_archive_option(int feature_version) {
  return feature_version >= 24 ? kQuietAotOption : kQuietArchiveOption;
}

std::vector<std::string> archive_options(const ArchiveChoice& choice) {
  const std::string file = archive_file_name(choice.kind);
  return {(choice.kind == ArchiveKind::kAotCache ? kCacheFileOption : kArchiveFileOption) + file,
          quiet_archive_option(choice.feature_version)};
}

std::vector<std::string> app_jvm_options(const std::string& class_path,
                                         const std::optional<ArchiveChoice>& archive,
                                         const std::vector<std::string>& user_options) {
  std::vector<std::string> options = {class_path, kAppDirOption};
  options.insert(options.end(), user_options.begin(), user_options.end());
  return set_archive_options(std::move(options), archive);
}

std::vector<std::string> set_archive_options(std::vector<std::string> options,
                                             const std::optional<ArchiveChoice>& archive) {
  const std::vector<std::string> ours = {std::string(kArchiveFileOption) + kAppArchiveName,
                                         std::string(kCacheFileOption) + kCacheName,
                                         kQuietArchiveOption, kQuietAotOption};
  std::erase_if(options, [&ours](const std::string& o) {
    return std::find(ours.begin(), ours.end(), o) != ours.end();
  });
  if (!archive) return options;
  const std::vector<std::string> added = archive_options(*archive);
  auto at = std::find(options.begin(), options.end(), kAppDirOption);
  at = at == options.end() ? options.begin() : at + 1;
  options.insert(at, added.begin(), added.end());
  return options;
}

std::string archive_breaking_option(const std::vector<std::string>& options) {
  // Each stops the VM next to some kind, makes it dump or write an archive
  // instead, or names another archive in place of the app's.
  static const char* const kBreaking[] = {
      "-Xshare:",
      "-XX:SharedArchiveFile",
      "-XX:SharedClassListFile",
      "-XX:DumpLoadedClassList",
      "-XX:ArchiveClassesAtExit",
      "-XX:+AutoCreateSharedArchive",
      "-XX:AOTCache",  // and AOTCacheOutput
      "-XX:AOTConfiguration",
      "-XX:AOTMode",
  };
  for (const std::string& option : options) {
    for (const char* prefix : kBreaking) {
      if (option.starts_with(prefix)) return option;
    }
  }
  return "";
}

ArchiveRun class_list_run(const std::string& file) {
  return {{"-Xshare:off", "-XX:DumpLoadedClassList=&&/" + file}, true};
}

std::vector<ArchiveRun> archive_making_runs(const ArchiveChoice& choice, const std::string& file) {
  const std::string work = std::string("&&/") + archive_work_file_name(choice.kind);
  switch (choice.kind) {
    case ArchiveKind::kDynamic:
      return {{{"-XX:ArchiveClassesAtExit=&&/" + file}, true}};
    case ArchiveKind::kStaticLinked:
      // Through the launcher, 25's dump also runs main, and an app that
      // reads its own resources there finds none: bin/java dumps and exits.
      return {class_list_run(archive_work_file_name(choice.kind)),
              {{"-Xshare:dump", "-XX:+AOTClassLinking", "-XX:SharedClassListFile=" + work,
                "-XX:SharedArchiveFile=&&/" + file},
               false}};
    case ArchiveKind::kAotCache:
      // Two steps, not -XX:AOTCacheOutput: its second step starts the
      // runtime's bin/java as a child with options of its own making, which
      // an emulator cannot start. The create step, like the dump, runs no main.
      {
        std::vector<std::string> create = {"-XX:AOTMode=create", "-XX:AOTConfiguration=" + work,
                                           "-XX:AOTCache=&&/" + file};
        if (choice.feature_version == 26) create.insert(create.begin() + 1, "-XX:-AOTClassLinking");
        return {{{"-XX:AOTMode=record", "-XX:AOTConfiguration=" + work}, true}, {create, false}};
      }
  }
  return {};
}

std::vector<std::string> runtime_java_options(std::vector<std::string> block_options,
                                              const std::vector<std::string>& run_options) {
  std::vector<std::string> options = set_archive_options(std::move(block_options), std::nullopt);
  std::erase_if(options, [](const std::string& o) { return o.starts_with("-splash:"); });
  options.insert(options.end(), run_options.begin(), run_options.end());
  return options;
}

CdsPlan plan_cds(std::uint16_t host_machine, std::uint16_t target_machine, bool have_emulator,
                 bool need_base_archive, bool want_app_archive) {
  CdsPlan plan;
  if (host_machine == target_machine || have_emulator) {
    plan.base_archive = need_base_archive;
    plan.training_run = want_app_archive;
    plan.emulated = host_machine != target_machine;
    return plan;
  }
  std::string skipped;
  if (need_base_archive) skipped = "the runtime's default class-data archive";
  if (want_app_archive)
    skipped += (skipped.empty() ? "" : " and ") + std::string("the app archive");
  if (skipped.empty()) return plan;
  const std::string target = machine_name(target_machine);
  plan.note = "the launcher is built for " + target + " and this machine is " +
              machine_name(host_machine) + ", so " + skipped +
              " cannot be made here and the app starts more slowly. Give --emulator (or "
              "VORLANE_EMULATOR) to make them through an emulator, or run `vorlane-pack cds` on a "
              "machine of that kind";
  return plan;
}

}  // namespace vorlane
