// The install record, lib/vorlane-update.properties in an app tree: how the
// tree was installed and the update site it follows. The packer writes it;
// the update library (Updater.java) reads it as java.util.Properties lines.
// The shared vectors are in formats/testdata/install-records.
#pragma once

#include <string>
#include <string_view>

#include "formats/checked.h"

namespace vorlane::formats {

/// How the tree was installed: by a .deb, an .rpm or an unpacked .tar.gz.
enum class InstallKind { kDeb, kRpm, kTarball };

struct InstallRecord {
  InstallKind kind = InstallKind::kTarball;
  std::string name;     ///< the package's name
  std::string version;  ///< VERSION-RELEASE
  std::string arch;     ///< Debian's word: amd64, arm64
  std::string site;     ///< the update site's address
  std::string channel = "stable";
  std::string feed_key;  ///< base64 of the feed's Ed25519 key; "" for none
};

/// "deb", "rpm", "tarball": the record's word for `kind`.
std::string_view install_kind_name(InstallKind kind);

/// The record's text: kind, name, version, arch, site and channel lines,
/// then feed-key when there is one.
std::string install_record_text(const InstallRecord& record);

/// Reads a record as the update library does: KEY=VALUE lines, blank and
/// '#' or '!' comment lines skipped, values trimmed, unknown keys ignored,
/// channel "stable" when it is missing. Refuses a record whose kind is
/// unknown or whose kind, name, version, arch or site is missing or empty.
Checked<InstallRecord> parse_install_record(std::string_view text);

}  // namespace vorlane::formats
