// Which class-data archives a tree, a package, a tarball and a self-update
// carry as they are, remake, or leave out: one table, asked by the packer
// and by the feed writer, so a new runtime release is one edit here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane::formats {

/// The runtime's own archives and the app's dynamic or static one, relative to the tree.
inline constexpr char kCoopsArchive[] = "lib/runtime/lib/server/classes.jsa";
inline constexpr char kNoCoopsArchive[] = "lib/runtime/lib/server/classes_nocoops.jsa";
inline constexpr char kTreeAppArchive[] = "lib/app/vorlane-app.jsa";
/// The option the JVM maps classes_nocoops.jsa under, and that dumps it.
inline constexpr char kNoCoopsOption[] = "-XX:-UseCompressedOops";

/// The kinds of app class-data archive, each the fastest that never runs a
/// stale class on the runtimes it is made for (docs/class-data-archives.md).
enum class ArchiveKind {
  kDynamic,       ///< -XX:ArchiveClassesAtExit; 17 to 24
  kStaticLinked,  ///< -Xshare:dump -XX:+AOTClassLinking from a class list; 25.0.0 to 25.0.3
  kAotCache,      ///< the ahead-of-time cache, recorded then created; 25.0.4 and later
};

/// The kind for a runtime whose `release` says JAVA_VERSION=`java_version`
/// ("25.0.3", "17.0.15", "25"); nullopt when that is no version. The cache
/// of 25.0.0 to 25.0.3 does not check its jars, so those get a static archive.
std::optional<ArchiveKind> archive_kind_for(std::string_view java_version);

/// Whether a JVM started with `jvm_options` runs without compressed oops and
/// so maps the runtime's classes_nocoops.jsa instead of classes.jsa:
/// -XX:-UseCompressedOops, -XX:+UseZGC, or a maximum heap (-Xmx,
/// -XX:MaxHeapSize=) of 31 GiB or more (the JVM drops compressed oops a little
/// below 32 GiB, by its heap alignment). The last of repeated options counts.
bool runs_without_compressed_oops(const std::vector<std::string>& jvm_options);

/// Where the tree goes.
enum class ArchiveContext {
  kAppTree,           ///< stays where `vorlane-pack app` made it
  kInstalledPackage,  ///< a .deb or .rpm, whose post-install step can dump archives
  kTarball,           ///< a tar.gz: unpacked anywhere, nothing runs after
  kSelfUpdate,        ///< a version of the update feed, which the updater lays down
};

enum class ArchiveFate {
  kLeaveOut,  ///< not carried and not made
  kShip,      ///< carried as the tree has it
  kRemake,    ///< not carried; dumped where the tree lands, with `options`
};

struct ArchiveDecision {
  ArchiveFate fate = ArchiveFate::kLeaveOut;
  /// kRemake: the JVM options the dump runs with besides -Xshare:dump
  /// (for the app's archive: besides the dump from its class list).
  std::vector<std::string> options;
  bool operator==(const ArchiveDecision&) const = default;
};

/// What the decisions depend on.
struct ArchiveFacts {
  std::string java_version;              ///< JAVA_VERSION of the runtime; "" when unknown
  std::vector<std::string> jvm_options;  ///< the launcher's block's
  ArchiveContext context = ArchiveContext::kAppTree;
  bool has_coops = false;    ///< the tree has kCoopsArchive
  bool has_nocoops = false;  ///< the tree has kNoCoopsArchive
  /// The kind of the tree's app archive when it has one the launcher names.
  std::optional<ArchiveKind> app_archive;
};

struct ArchiveDecisions {
  ArchiveDecision coops;    ///< kCoopsArchive
  ArchiveDecision nocoops;  ///< kNoCoopsArchive
  ArchiveDecision app;      ///< the app's archive in lib/app
  bool operator==(const ArchiveDecisions&) const = default;
};

/// The table. A dynamic app archive on 20 and later is made on top of the
/// runtime's archives and needs their very bytes: they are shipped. Else a
/// package with an install step and a self-update remake the runtime's
/// archives where they land (their bytes differ between dumps and they are
/// 11 MB that compress badly); a package and a tarball carry
/// classes_nocoops.jsa only when the block's options make the JVM map it.
/// The app's archive survives a move from 20 on; before, it records its
/// paths, so a package remakes it at install from a class list and a
/// tarball leaves it out. A self-update lays the tree down as it was made
/// and ships the app's archive as it is.
ArchiveDecisions decide_archives(const ArchiveFacts& facts);

}  // namespace vorlane::formats
