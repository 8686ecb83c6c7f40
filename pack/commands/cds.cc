#include "pack/commands/cds.h"

#include <cstdlib>

#include "formats/user_options.h"
#include "pack/core/elf_section.h"
#include "pack/core/files.h"
#include "pack/core/process.h"
#include "pack/core/report.h"
#include "pack/image/app_tree.h"
#include "pack/image/archive_policy.h"
#include "pack/image/archives.h"
#include "pack/image/burn.h"
#include "pack/image/marker.h"
#include "pack/jdk/jdk.h"

namespace vorlane {

using formats::BurnedInData;
using formats::split_user_options;

int remake_archive(const CdsOptions& o) {
  using Clock = Report::Clock;
  const Report report(o.quiet);
  const std::string marker_path = o.app_dir + "/lib/" + kMarkerName;
  Result<AppMarker> marker = read_marker(o.app_dir);
  if (!marker) return report.fail(marker.error());
  if (o.training_timeout <= 0) {
    return report.fail(bad_input("--training-timeout must be a number of seconds above 0"));
  }
  for (const std::string& a : o.training_args) {
    if (a.find('\n') != std::string::npos) {
      return report.fail(bad_input("a training argument holds a line break"));
    }
  }
  const std::string launcher = o.app_dir + "/bin/" + marker->name;
  Result<std::uint16_t> target = elf_machine_of_file(launcher);
  if (!target) return report.fail(as_input(target.error()));
  Result<BurnedInData> block = read_burned_block(launcher);
  if (!block) return report.fail(as_input(block.error()));
  // The launcher's own archive options aside: those are remade.
  if (const std::string bad =
          archive_breaking_option(set_archive_options(block->jvm_options, std::nullopt));
      !bad.empty()) {
    return report.fail(bad_input("the launcher's JVM option " + bad +
                                 " stops the Java VM next to an app class-data archive, or makes "
                                 "it use or write another one: make the app again without it"));
  }
  const Result<std::uint16_t> host = host_machine();
  if (!host) return report.fail(host.error());
  const char* variable = std::getenv("VORLANE_EMULATOR");
  std::optional<std::vector<std::string>> emulator = split_user_options(
      o.emulator.empty() ? std::string(variable == nullptr ? "" : variable) : o.emulator);
  if (!emulator) return report.fail(bad_input("the emulator command leaves a quote open"));
  const std::string runtime = o.app_dir + "/lib/runtime";
  const CdsPlan plan =
      plan_cds(*host, *target, !emulator->empty(), !has_base_archive(runtime), true);
  if (!plan.training_run) return report.fail(bad_input(plan.note));
  const std::vector<std::string> prefix = plan.emulated ? *emulator : std::vector<std::string>{};

  if (!has_base_archive(runtime)) {
    const Clock::time_point started = Clock::now();
    const ArchiveOutcome base = make_base_archive(runtime, prefix, o.training_timeout);
    // A dump ended by an interrupt is no failed step: the packer stops as asked.
    if (interrupted()) return report.stop(o.app_dir + " has no new class-data archive");
    if (!base.ok) {
      return report.fail(
          step_failed("cannot make the runtime's class-data archive: " + base.error));
    }
    report.step("runtime: default class-data archive of " + megabytes(base.bytes), started);
  }
  if (!o.training_args.empty()) marker->training_args = o.training_args;
  // The kind the tree has; for a tree made without one, the runtime's.
  Result<std::vector<std::uint8_t>> release = read_file_no_fifo(runtime + "/release");
  const std::string release_text = release ? std::string(release->begin(), release->end()) : "";
  std::optional<ArchiveKind> kind = marker->archive;
  if (!kind) kind = archive_kind_for(release_java_version(release_text));
  const ArchiveChoice choice{kind.value_or(ArchiveKind::kDynamic),
                             java_feature_version(release_text).value_or(0)};
  const Clock::time_point started = Clock::now();
  const ArchiveOutcome outcome = make_app_archive(
      o.app_dir, marker->name, {marker->training_args, prefix, o.training_timeout}, choice);
  if (interrupted()) return report.stop(o.app_dir + " is as it was");
  if (!outcome.ok) {
    report.note("no app archive: " + outcome.error);
    return static_cast<int>(ExitStatus::kStepFailed);
  }
  report.step("training run: app archive of " + megabytes(outcome.bytes) + ", kind " +
                  archive_kind_name(choice.kind) +
                  (outcome.private_display.empty()
                       ? ""
                       : ", its windows on a private Xvfb " + outcome.private_display),
              started);
  if (!o.training_args.empty() || marker->archive != choice.kind) {
    // Later runs of `vorlane-pack cds` repeat this run and make this kind.
    marker->archive = choice.kind;
    if (Status written = write_marker(marker_path, *marker); !written) {
      return report.fail(written.error());
    }
  }
  return 0;
}

}  // namespace vorlane
