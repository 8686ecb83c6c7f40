// Class-data archives of an installed app tree: the runtime's default one
// and the app's own, made by a training run of the app through its launcher.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/core/process.h"
#include "pack/image/archive_policy.h"

namespace vorlane {

struct TrainingRun {
  std::vector<std::string> args;      ///< passed to the app's main
  std::vector<std::string> emulator;  ///< prefix that runs the launcher; empty to run it natively
  int timeout_seconds = 120;
};

struct ArchiveOutcome {
  bool ok = false;
  std::string error;  ///< why not, with the end of what the run printed
  std::uintmax_t bytes = 0;
  /// The private Xvfb (":N") the training run showed its windows on, stopped
  /// since; "" when it used the packer's display or none.
  std::string private_display;
};

/// Makes the app archive of `choice`'s kind in lib/app for the tree at
/// `home` whose launcher is bin/`name`, burns the launcher to use it and
/// removes the other kinds' files. The training run is a copy of the
/// launcher in the same bin/ with that run's options, so the archive
/// records the very paths and options later starts use; a run that writes
/// the archive from its record (the static archive, the cache) is the
/// tree's lib/runtime/bin/java with the block's options expanded, which
/// runs no main. On failure the launcher and any earlier archive stay as
/// they were.
ArchiveOutcome make_app_archive(const std::string& home, const std::string& name,
                                const TrainingRun& run, const ArchiveChoice& choice);

/// Lists the classes the app loads in lib/app/vorlane-app.classlist, by the
/// run that makes a static archive's list (a copy of the launcher with the
/// training arguments), for an archive dumped from it elsewhere; the
/// launcher stays as it was. On failure no list is left.
ArchiveOutcome list_app_classes(const std::string& home, const std::string& name,
                                const TrainingRun& run);

/// Writes the runtime's default class-data archive (lib/server/classes.jsa)
/// with its own java, through `emulator` when not empty.
ArchiveOutcome make_base_archive(const std::string& runtime,
                                 const std::vector<std::string>& emulator, int timeout_seconds);

/// How the packer runs a tool or a training run: the whole run bounded by
/// `timeout_seconds` (0: not bounded), both output streams in one, of which
/// only the end is kept, as only the end is shown.
ProcessOptions tool_options(int timeout_seconds);

/// Whether the runtime has its default class-data archive.
bool has_base_archive(const std::string& runtime);

}  // namespace vorlane
