#include "pack/publish/site_probe.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "formats/feed_text.h"
#include "formats/package_names.h"
#include "pack/core/ed25519.h"
#include "pack/core/files.h"
#include "pack/core/sha256.h"
#include "pack/core/strings.h"

namespace fs = std::filesystem;

namespace vorlane::publish {

void PublishTools::need(const std::string& name, const std::string& why) {
  std::string path = find_program(name, std::getenv("PATH"));
  if (path.empty()) missing_ += (missing_.empty() ? "" : "; ") + name + " (" + why + ")";
  paths_[name] = path;
}

std::string PublishTools::operator[](const std::string& name) const {
  const auto it = paths_.find(name);
  return it == paths_.end() ? find_program(name, std::getenv("PATH")) : it->second;
}

PublishTools find_publish_tools(const std::vector<std::string>& packages) {
  PublishTools tools;
  tools.need("dpkg-deb", "reads the .deb packages; Debian package dpkg");
  tools.need("apt-ftparchive", "makes the apt indexes; Debian package apt-utils");
  // The .rpm tools only where a channel has .rpm packages.
  const bool given_rpms = std::any_of(packages.begin(), packages.end(),
                                      [](const std::string& p) { return p.ends_with(".rpm"); });
  if (given_rpms) {
    tools.need("rpm", "reads the .rpm packages; Debian package rpm");
    tools.need("createrepo_c", "makes the dnf indexes; Debian package createrepo-c");
  }
  // Packages are listed, bounded, before anything of them is unpacked.
  tools.need("tar", "lists and unpacks packages");
  tools.need("bash", "runs the listing pipelines");
  tools.need("head", "bounds the listings; Debian package coreutils");
  tools.need("gzip", "compresses the indexes");
  tools.need("xz", "compresses the indexes; Debian package xz-utils");
  return tools;
}

constexpr const char* kLockName = ".vorlane-site.lock";

SiteLock::~SiteLock() {
  if (fd_ < 0) return;
  if (made_site_ && !kept_) {
    // Made by this run and locked since: nothing in it is anyone else's.
    std::error_code ec;
    fs::remove_all(site_, ec);
  }
  close(fd_);
}

Status SiteLock::take(const std::string& site) {
  site_ = site;
  const std::string path = site + "/" + kLockName;
  // A waiter may lock the file of a run that then removed its new site:
  // the lock counts only while the file is still the one at `path`.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::error_code ec;
    const fs::path parent = fs::path(site).parent_path();
    if (!parent.empty()) fs::create_directories(parent, ec);
    made_site_ = mkdir(site.c_str(), 0755) == 0;
    if (!made_site_ && errno != EEXIST) {
      return system_failure("make the folder", site);
    }
    if (!fs::is_directory(site, ec)) return bad_input(site + " is no folder");
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      if (errno == ENOENT) continue;  // the site went away: make it again
      return system_failure("open", path);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      made_site_ = false;
      return bad_input("another vorlane-pack publish is at work on " + site +
                       ": try again when it has ended");
    }
    struct stat held {};
    struct stat there {};
    if (fstat(fd, &held) == 0 && stat(path.c_str(), &there) == 0 && held.st_ino == there.st_ino &&
        held.st_dev == there.st_dev) {
      fd_ = fd;
      return done();
    }
    close(fd);
  }
  return step_failed("cannot lock " + path + ": it keeps being replaced");
}

Result<GivenPackage> probe_package(const PublishTools& tools, const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    return bad_input(path + " is no package file" +
                     (fs::exists(path, ec) ? "" : ": it is missing"));
  }
  GivenPackage p;
  p.source = path;
  p.size = fs::file_size(path, ec);
  Result<std::vector<std::uint8_t>> head = read_file_head(path, 8);
  if (!head) return as_input(head.error());
  const std::string magic(head->begin(), head->end());
  const std::string file = fs::path(path).filename().string();
  std::vector<std::string> fields;
  if (file.ends_with(".deb")) {
    p.format = PackageKind::kDeb;
    if (!magic.starts_with("!<arch>")) return bad_input(path + " is no .deb (no ar archive)");
    Result<std::string> out = publish_tool(
        {tools["dpkg-deb"],
         R"(--showformat=${Package}\n${Version}\n${Architecture}\n${binary:Summary}\n)", "--show",
         "--", path});
    if (!out) return as_input(with_context(path + " is no readable .deb: ", out.error()));
    fields = split_lines(*out);
  } else if (file.ends_with(".rpm")) {
    p.format = PackageKind::kRpm;
    if (!magic.starts_with("\xed\xab\xee\xdb")) return bad_input(path + " is no .rpm");
    Result<std::string> out =
        publish_tool({tools["rpm"], "-qp", "--nosignature", "--qf",
                      R"(%{NAME}\n%{VERSION}-%{RELEASE}\n%{ARCH}\n%{SUMMARY}\n)", "--", path});
    if (!out) return as_input(with_context(path + " is no readable .rpm: ", out.error()));
    fields = split_lines(*out);
    if (fields.size() >= 3) {
      if (const std::optional<formats::Arch> arch = formats::arch_of_rpm(fields[2])) {
        fields[2] = arch->deb;
      }
    }
  } else if (file.ends_with(".tar.gz")) {
    p.format = PackageKind::kTarGz;
    if (!magic.starts_with("\x1f\x8b")) return bad_input(path + " is no .tar.gz (no gzip data)");
    // NAME-VERSION-linux-MACHINE.tar.gz, as vorlane-pack package names it.
    const std::optional<formats::TarballName> named = formats::parse_tarball_name(file);
    if (!named) return bad_input(path + " is not named NAME-VERSION-linux-MACHINE.tar.gz");
    fields = {named->name, named->version, named->arch, ""};
  } else {
    return bad_input(path + " is no .deb, .rpm or .tar.gz");
  }
  if (fields.size() < 3) return bad_input(path + ": its name, version or architecture is missing");
  p.name = fields[0];
  p.version = fields[1];
  p.arch = fields[2];
  p.summary = fields.size() > 3 ? fields[3] : "";
  Result<std::string> hash = sha256_file(path);
  if (!hash) return hash.error();
  p.sha256 = *hash;
  return p;
}

Result<SiteFacts> probe_site(const std::string& site_dir, bool made) {
  SiteFacts site;
  std::error_code ec;
  site.exists = !made;
  const std::string manifest_path = site_dir + "/" + std::string(kManifestName);
  if (fs::exists(manifest_path, ec)) {
    Result<std::vector<std::uint8_t>> text = read_file_no_fifo(manifest_path);
    if (!text) return as_step(text.error());
    Result<Manifest> m = parse_manifest(std::string(text->begin(), text->end()));
    if (!m) return m.error();
    site.manifest = *m;
  } else {
    for (const auto& entry : fs::directory_iterator(site_dir, ec)) {
      if (entry.path().filename() != kLockName) site.has_other = true;
    }
    if (ec) return step_failed("cannot list " + site_dir + ": " + ec.message());
  }
  return site;
}

Result<std::string> read_notes(const std::string& path) {
  Result<std::vector<std::uint8_t>> text = read_file_no_fifo(path);
  if (!text) return as_input(text.error());
  std::string notes(text->begin(), text->end());
  if (!formats::valid_utf8(notes)) return bad_input("--notes " + path + " is no UTF-8 text");
  return notes;
}

Result<std::string> make_feed_key(const std::string& dir) {
  Result<Ed25519Key> key = Ed25519Key::generate();
  if (!key) return key.error();
  const std::string path = dir + "/feed-key.pem";
  if (Status s = write_private_key(*key, path); !s) return s.error();
  return path;
}

}  // namespace vorlane::publish
