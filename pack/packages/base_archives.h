// Which of a tree's class-data archives a package carries as they are, which
// the post-install step remakes, and which files must keep their times.
#pragma once

#include <string>
#include <vector>

namespace vorlane::packages {

/// The files, relative to the tree, whose size and modification time the
/// tree's app archive records: each jar the burned class path names
/// (`-Djava.class.path=&&/a.jar:&&/b.jar`, `&&` being lib/app). The JVM sets
/// the archive aside when one of them differs, so packaging keeps their times.
std::vector<std::string> archive_recorded_files(const std::vector<std::string>& jvm_options);

/// Whether a JVM started with `jvm_options` runs without compressed oops and
/// so maps the runtime's classes_nocoops.jsa instead of classes.jsa:
/// -XX:-UseCompressedOops, -XX:+UseZGC, or a maximum heap (-Xmx,
/// -XX:MaxHeapSize=) of 31 GiB or more (the JVM drops compressed oops a little
/// below 32 GiB, by its heap alignment). The last of repeated options counts.
bool runs_without_compressed_oops(const std::vector<std::string>& jvm_options);

/// What a package does with one of the runtime's own archives.
enum class BaseArchive {
  kLeaveOut,       ///< not in the package, and not made
  kShip,           ///< in the package as the tree has it
  kDumpAtInstall,  ///< not in the package; the post-install step remakes it
};

struct BaseArchives {
  BaseArchive coops = BaseArchive::kLeaveOut;    ///< lib/server/classes.jsa
  BaseArchive nocoops = BaseArchive::kLeaveOut;  ///< lib/server/classes_nocoops.jsa
};

/// The facts the choice depends on.
struct BaseArchiveFacts {
  bool has_coops = false;    ///< the tree has classes.jsa
  bool has_nocoops = false;  ///< the tree has classes_nocoops.jsa
  /// The package has a post-install step (.deb, .rpm), the tar.gz has none.
  bool install_step = false;
  /// The tree's app archive is a dynamic one shipped as it is (JDK 20 to
  /// 24): it is made on top of the runtime's archive, which must stay the
  /// same bytes.
  bool dynamic_app_archive = false;
  bool without_coops = false;  ///< runs_without_compressed_oops of the block
};

/// classes.jsa is remade at install time where there is a step to do it
/// (the runtime's own `java -Xshare:dump`: its bytes differ between dumps,
/// and it is 11 MB that compress badly); classes_nocoops.jsa only when the
/// block's options make the JVM map it. A dynamic app archive keeps the
/// one it was made on.
BaseArchives plan_base_archives(const BaseArchiveFacts& facts);

/// The newest of `times` and `epoch`: the time a tool that clamps file
/// times to SOURCE_DATE_EPOCH (dpkg-deb) is given, so no kept time is
/// clamped and the package still depends only on its inputs.
long long clamp_epoch(long long epoch, const std::vector<long long>& times);

}  // namespace vorlane::packages
