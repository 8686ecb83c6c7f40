#include "pack/image/plan_runtime.h"

#include <algorithm>

#include "pack/core/elf_section.h"

namespace vorlane {

namespace {

using Check = std::optional<Error>;

/// JAVA_VERSION of the runtime the app gets; "" when unknown.
std::string runtime_java_version(const AppFacts& f) {
  if (f.runtime_image) return f.runtime_image->java_version;
  return f.module_jdk ? f.module_jdk->java_version : "";
}

/// The module the update library checks a feed's Ed25519 signature with:
/// jdk.crypto.ec before Java 22 (from 22 on java.base has it, and JDK 25's
/// jdk.crypto.ec is an empty module kept for compatibility).
Check check_update_modules(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  constexpr int kEd25519InJavaBase = 22;
  if (!o.updates || plan.feature_version >= kEd25519InJavaBase) return std::nullopt;
  const std::string version =
      plan.feature_version > 0 ? "Java " + std::to_string(plan.feature_version) : "its version";
  if (f.runtime_image) {
    if (f.runtime_image_has_crypto_ec || plan.feature_version == 0) return std::nullopt;
    return bad_input("--updates: --runtime-image " + o.runtime_image + " (" + version +
                     ") lacks the module jdk.crypto.ec, which checks the update feed's "
                     "signatures before Java 22: make the image with it (jlink --add-modules "
                     "jdk.crypto.ec)");
  }
  if (f.jdk_has_crypto_ec) {
    plan.extra_modules.emplace_back("jdk.crypto.ec");
  } else if (plan.feature_version > 0) {
    return bad_input("--updates: the JDK " + f.module_jdk->home + " (" + version +
                     ") has no jmods/jdk.crypto.ec.jmod, which checks the update feed's "
                     "signatures before Java 22");
  }
  return std::nullopt;
}

}  // namespace

/// The feature version of the runtime the app gets; 0 when unknown.
int runtime_feature_version(const AppFacts& f) {
  if (f.runtime_image) return f.runtime_image->feature_version;
  return f.module_jdk ? f.module_jdk->feature_version : 0;
}

/// The archive --app-cds makes for the runtime, and whether the block's
/// options let it be used.
Check check_archive(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  if (!o.app_cds) return std::nullopt;
  const std::string version = runtime_java_version(f);
  // A runtime whose release file gives no version gets the kind every runtime reads.
  const ArchiveKind kind = archive_kind_for(version).value_or(ArchiveKind::kDynamic);
  plan.archive = ArchiveChoice{kind, runtime_feature_version(f)};
  for (std::string& note : archive_notes(*plan.archive, version, o.allowed_java_options)) {
    plan.notes.push_back(std::move(note));
  }
  if (const std::string bad = archive_breaking_option(o.java_options); !bad.empty()) {
    return bad_input(
        "--java-option " + bad +
        " cannot go with --app-cds: next to the app's class-data archive it stops "
        "the Java VM, or makes it use or write another archive. Leave out one of them");
  }
  // Allowed prefixes ("-XX:", "-Xshare") that let a user's option of that kind through.
  static const std::vector<std::string> kSamples = {
      "-Xshare:off",    "-XX:SharedArchiveFile=a",      "-XX:AOTCache=a",
      "-XX:AOTMode=on", "-XX:+AutoCreateSharedArchive", "-XX:ArchiveClassesAtExit=a"};
  for (const std::string& allowed : o.allowed_java_options) {
    const bool lets_through =
        !archive_breaking_option({allowed}).empty() ||
        std::any_of(kSamples.begin(), kSamples.end(),
                    [&allowed](const std::string& sample) { return sample.starts_with(allowed); });
    if (lets_through) {
      plan.notes.push_back("--allow-java-option " + allowed +
                           " lets a user's VORLANE_JVM_OPTIONS name options that stop the app "
                           "next to its class-data archive (-Xshare:, -XX:AOTMode, ...)");
      break;
    }
  }
  return std::nullopt;
}

/// Where the runtime comes from, and which class-data archives can be made.
Check check_runtime(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  const auto wrong_machine = [&plan](const Jdk& jdk, const std::string& what) -> Check {
    if (jdk.machine == 0) return bad_input(what + " " + jdk.machine_error);
    if (jdk.machine == plan.target_machine) return std::nullopt;
    return bad_input("the launcher template is built for " + machine_name(plan.target_machine) +
                     ", but " + what + " " + jdk.home + " is for " + machine_name(jdk.machine));
  };
  bool base_archive_needed = true;
  if (f.runtime_image) {
    if (Check bad = wrong_machine(*f.runtime_image, "--runtime-image")) return bad;
    base_archive_needed = !f.base_archive_present;
  } else {
    if (!f.host_jdk_home || !*f.host_jdk_home) {
      return f.host_jdk_home ? f.host_jdk_home->error() : bad_input("no JDK found");
    }
    plan.host_jdk = f.host_jdk;
    plan.module_jdk = f.module_jdk;
    const Jdk& jdk = *f.module_jdk;
    if (!jdk.has_jmods && jdk.machine != 0 && jdk.machine != plan.target_machine) {
      return bad_input("the launcher template is built for " + machine_name(plan.target_machine) +
                       ", but the JDK " + jdk.home + " is for " + machine_name(jdk.machine) +
                       " and has no jmods/: jlink links from a run-time image only for that "
                       "image's own machine. Give --jdk a JDK for " +
                       machine_name(plan.target_machine) + " that has jmods/, or --runtime-image");
    }
    if (!jdk.has_jmods && (!jdk.links_from_runtime_image || f.host_jdk->home != jdk.home)) {
      return bad_input(
          "the JDK " + jdk.home +
          " has no jmods/java.base.jmod, and its jlink cannot link from its own run-time image, "
          "so no runtime can be made from it (Debian: openjdk-17-jdk-headless has jmods/); or "
          "give --runtime-image");
    }
    if (Check bad = wrong_machine(*f.module_jdk, "the JDK")) {
      return bad_input(bad->message + "; give --jdk a JDK for " +
                       machine_name(plan.target_machine));
    }
  }
  plan.feature_version = runtime_feature_version(f);
  if (Check bad = check_update_modules(o, f, plan)) return bad;
  plan.cds = plan_cds(plan.host_machine, plan.target_machine, !plan.emulator.empty(),
                      base_archive_needed, o.app_cds);
  if (!plan.cds.emulated) plan.emulator.clear();
  if (!plan.cds.note.empty()) plan.notes.push_back(plan.cds.note);
  return std::nullopt;
}

}  // namespace vorlane
