#include "pack/publish/site_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "pack/core/ed25519.h"
#include "pack/core/files.h"
#include "pack/core/process.h"
#include "pack/core/report.h"
#include "pack/core/sha256.h"
#include "pack/core/staging.h"
#include "pack/core/strings.h"
#include "pack/publish/download_page.h"
#include "pack/publish/feed_plan.h"
#include "pack/publish/feed_writer.h"
#include "pack/publish/package_tree.h"
#include "pack/publish/signing.h"

namespace fs = std::filesystem;

namespace vorlane::publish {

namespace {

/// The most bytes of an icon put on the download page.
constexpr std::size_t kMaxIconSize = std::size_t{16} << 20;
/// Seconds one index tool run may take on a busy machine.
constexpr int kToolTimeout = 600;
const char* const kArches[] = {"amd64", "arm64"};

std::string ended(const ProcessResult& r) {
  return r.describe_end(kToolTimeout) + tail_lines(r.err.empty() ? r.out : r.err, 8);
}

/// The tools a publish runs, found on PATH once.
class Tools {
 public:
  void need(const std::string& name, const std::string& why) {
    std::string path = find_program(name);
    if (path.empty()) missing_ += (missing_.empty() ? "" : "; ") + name + " (" + why + ")";
    paths_[name] = path;
  }
  const std::string& missing() const { return missing_; }
  /// The tool's path; "" when it was not needed or is missing.
  std::string operator[](const std::string& name) const {
    const auto it = paths_.find(name);
    return it == paths_.end() ? find_program(name) : it->second;
  }

 private:
  std::map<std::string, std::string> paths_;
  std::string missing_;
};

Result<std::string> run_tool(const std::vector<std::string>& argv, const std::string& cwd = "") {
  ProcessOptions options;
  options.env = {{"LC_ALL", "C"}};
  options.working_directory = cwd;
  options.timeout_seconds = kToolTimeout;
  const ProcessResult r = run_process(argv, options);
  if (interrupted()) return Error{ErrorKind::kInterrupted, "interrupted"};
  if (!r.ok()) return step_failed(fs::path(argv[0]).filename().string() + " " + ended(r));
  return r.out;
}

Status write_text(const std::string& path, const std::string& text, unsigned mode = 0644) {
  return write_file_atomically(path, text, mode);
}

std::string arch_from_rpm(const std::string& arch) {
  if (arch == "x86_64") return "amd64";
  if (arch == "aarch64") return "arm64";
  return arch;
}

Result<PackageFacts> probe_package(const Tools& tools, const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    return bad_input(path + " is no package file" +
                     (fs::exists(path, ec) ? "" : ": it is missing"));
  }
  PackageFacts p;
  p.source = path;
  p.size = fs::file_size(path, ec);
  Result<std::vector<std::uint8_t>> head = read_file_head(path, 8);
  if (!head) return bad_input(head.error().message);
  const std::string magic(head->begin(), head->end());
  const std::string file = fs::path(path).filename().string();
  std::vector<std::string> fields;
  if (file.ends_with(".deb")) {
    p.format = Format::kDeb;
    if (!magic.starts_with("!<arch>")) return bad_input(path + " is no .deb (no ar archive)");
    Result<std::string> out =
        run_tool({tools["dpkg-deb"],
                  R"(--showformat=${Package}\n${Version}\n${Architecture}\n${binary:Summary}\n)",
                  "--show", "--", path});
    if (!out) return bad_input(path + " is no readable .deb: " + out.error().message);
    fields = split_lines(*out);
  } else if (file.ends_with(".rpm")) {
    p.format = Format::kRpm;
    if (!magic.starts_with("\xed\xab\xee\xdb")) return bad_input(path + " is no .rpm");
    Result<std::string> out =
        run_tool({tools["rpm"], "-qp", "--nosignature", "--qf",
                  R"(%{NAME}\n%{VERSION}-%{RELEASE}\n%{ARCH}\n%{SUMMARY}\n)", "--", path});
    if (!out) return bad_input(path + " is no readable .rpm: " + out.error().message);
    fields = split_lines(*out);
    if (fields.size() >= 3) fields[2] = arch_from_rpm(fields[2]);
  } else if (file.ends_with(".tar.gz")) {
    p.format = Format::kTarGz;
    if (!magic.starts_with("\x1f\x8b")) return bad_input(path + " is no .tar.gz (no gzip data)");
    // NAME-VERSION-linux-MACHINE.tar.gz, as vorlane-pack package names it.
    const std::string stem = file.substr(0, file.size() - 7);
    const std::size_t linux_at = stem.rfind("-linux-");
    std::size_t version_at = std::string::npos;
    for (std::size_t i = 1; linux_at != std::string::npos && i + 1 < linux_at; ++i) {
      if (stem[i] == '-' && std::isdigit(static_cast<unsigned char>(stem[i + 1])) != 0) {
        version_at = i;
        break;
      }
    }
    if (version_at == std::string::npos) {
      return bad_input(path + " is not named NAME-VERSION-linux-MACHINE.tar.gz");
    }
    fields = {stem.substr(0, version_at), stem.substr(version_at + 1, linux_at - version_at - 1),
              arch_from_rpm(stem.substr(linux_at + 7)), ""};
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

constexpr const char* kLockName = ".vorlane-site.lock";

/// Holds `SITE/.vorlane-site.lock` for the life of the run, taken before
/// anything of the site is read: a second publish to the same site, also a
/// first one into a folder that does not exist yet, is refused rather than
/// interleaved. The site's folder is made for the lock; a run that made it
/// and publishes nothing removes it again.
class SiteLock {
 public:
  SiteLock() = default;
  SiteLock(const SiteLock&) = delete;
  SiteLock& operator=(const SiteLock&) = delete;
  ~SiteLock() {
    if (fd_ < 0) return;
    if (made_site_ && !kept_) {
      // Made by this run and locked since: nothing in it is anyone else's.
      std::error_code ec;
      fs::remove_all(site_, ec);
    }
    close(fd_);
  }

  Status take(const std::string& site) {
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
        return step_failed(system_error("make the folder", site));
      }
      if (!fs::is_directory(site, ec)) return bad_input(site + " is no folder");
      const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
      if (fd < 0) {
        if (errno == ENOENT) continue;  // the site went away: make it again
        return step_failed(system_error("open", path));
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

  /// Whether this run made the site's folder.
  bool made_site() const { return made_site_; }
  /// The publish went through: the site stays.
  void keep() { kept_ = true; }

 private:
  std::string site_;
  int fd_ = -1;
  bool made_site_ = false;
  bool kept_ = false;
};

/// Package files (and the feed's files and folders) put on the site by
/// this run, removed again, last first, unless the publish ends well.
class AddedFiles {
 public:
  ~AddedFiles() {
    if (kept_) return;
    std::error_code ec;
    std::for_each(files_.rbegin(), files_.rend(),
                  [&](const std::string& file) { fs::remove(file, ec); });
  }
  void add(const std::string& path) { files_.push_back(path); }
  void keep() { kept_ = true; }

 private:
  std::vector<std::string> files_;
  bool kept_ = false;
};

/// The site paths the channel's Release or repomd.xml lists, so the files
/// of the previous generation stay for a client that read it a moment ago.
std::set<std::string> hashes_in_release(const std::string& release) {
  std::set<std::string> hashes;
  for (const std::string& line : split_lines(release)) {
    const std::vector<std::string> words = split_words(line);
    if (words.size() == 3 && line.starts_with(" ")) hashes.insert(words[0]);
  }
  return hashes;
}

std::vector<std::string> repodata_files(const std::string& repomd) {
  std::vector<std::string> files;
  const std::string key = "href=\"repodata/";
  for (std::size_t at = repomd.find(key); at != std::string::npos; at = repomd.find(key, at)) {
    at += key.size();
    const std::size_t end = repomd.find('"', at);
    if (end == std::string::npos) break;
    files.push_back(repomd.substr(at, end - at));
  }
  return files;
}

std::string read_text(const std::string& path) {
  Result<std::vector<std::uint8_t>> bytes = read_file_no_fifo(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

/// DIR/feed-key.pem, a new Ed25519 key for the update feed (mode 0600).
Result<std::string> make_feed_key(const std::string& dir) {
  Result<Ed25519Key> key = Ed25519Key::generate();
  if (!key) return key.error();
  const std::string path = dir + "/feed-key.pem";
  if (Status s = write_private_key(*key, path); !s) return s.error();
  return path;
}

/// `text`, gzip-compressed, unpacked; at most kMaxFileSize bytes.
Result<std::string> gunzip_text(const std::string& gz) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) return step_failed("cannot start unpacking");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  z.avail_in = static_cast<uInt>(gz.size());
  std::string out;
  char buffer[1 << 14];
  int rc = Z_OK;
  while (rc == Z_OK && out.size() < kMaxFileSize) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return step_failed("no whole gzip data");
  return out;
}

class Publisher {
 public:
  Publisher(const PublishOptions& o, const Tools& tools, const Signer& signer, PublishPlan& plan,
            std::string scratch)
      : o_(o), tools_(tools), signer_(signer), plan_(plan), scratch_(std::move(scratch)) {}

  Status copy_packages(AddedFiles& added) {
    int n = 0;
    for (const Copy& c : plan_.copies) {
      const std::string staged = scratch_ + "/package-" + std::to_string(n++);
      std::error_code ec;
      fs::copy_file(c.source, staged, ec);
      if (ec) return step_failed("cannot copy " + c.source + ": " + ec.message());
      fs::permissions(staged, fs::perms(0644), ec);
      if (!c.sha256.empty()) {
        // The site's file, found by its record: copied only as recorded.
        Result<std::string> copied = sha256_file(staged);
        if (!copied) return copied.error();
        if (*copied != c.sha256) {
          return bad_input(c.source + " does not have the SHA-256 " + std::string(kManifestName) +
                           " records for it: it was changed on the site; nothing is copied");
        }
      }
      if (c.sign) {
        if (Status s = signer_.sign_rpm(staged); !s) return s;
      }
      Result<std::string> hash = sha256_file(staged);
      if (!hash) return hash.error();
      const std::string final_path = o_.site + "/" + c.path;
      fs::create_directories(fs::path(final_path).parent_path(), ec);
      if (ec) return step_failed("cannot make the folder of " + final_path + ": " + ec.message());
      if (fs::exists(final_path, ec)) {
        // A file no manifest lists, left by a run killed after it put its
        // files in place; indexes may list it, so it is never replaced. It
        // serves when it is the same package (an .rpm by its header's digest,
        // which signing leaves as it is).
        Result<bool> same = same_package(c, staged, final_path);
        if (!same) return same.error();
        if (!*same) {
          return bad_input(final_path +
                           " is there, unlisted, with another package's bytes (left "
                           "by an interrupted publish?): remove it, or publish another version");
        }
        hash = sha256_file(final_path);
        if (!hash) return hash.error();
      } else {
        fs::rename(staged, final_path, ec);
        if (ec) return step_failed("cannot put " + final_path + " in place: " + ec.message());
        added.add(final_path);
      }
      for (SiteEntry& e : plan_.manifest.entries) {
        if (e.path == c.path) {
          e.sha256 = *hash;
          e.size = fs::file_size(final_path, ec);
        }
      }
    }
    return done();
  }

  Result<bool> same_package(const Copy& c, const std::string& staged, const std::string& there) {
    if (c.path.ends_with(".rpm")) {
      Result<std::string> a = header_digest(staged);
      if (!a) return a.error();
      Result<std::string> b = header_digest(there);
      if (!b) return b.error();
      return *a == *b;
    }
    Result<std::string> a = sha256_file(staged);
    if (!a) return a.error();
    Result<std::string> b = sha256_file(there);
    if (!b) return b.error();
    return *a == *b;
  }

  Result<std::string> header_digest(const std::string& rpm) {
    return run_tool({tools_["rpm"], "-qp", "--nosignature", "--qf", "%{SHA256HEADER}", "--", rpm});
  }

  /// dists/CHANNEL made again in scratch/dists: the old tree's by-hash
  /// files of the last generation, new Packages files, Release, InRelease
  /// and Release.gpg.
  Status make_apt(const std::string& channel, const std::vector<SiteEntry>& indexed) {
    const std::string old_dists = o_.site + "/dists/" + channel;
    const std::string dists = scratch_ + "/dists";
    std::error_code ec;
    const std::set<std::string> old_hashes = hashes_in_release(read_text(old_dists + "/Release"));
    for (const char* arch : kArches) {
      const std::string binary = dists + "/main/binary-" + arch;
      fs::create_directories(binary + "/by-hash/SHA256", ec);
      if (ec) return step_failed("cannot make " + binary + ": " + ec.message());
      // The last generation's indexes stay reachable by their hash.
      for (const char* sum : {"SHA256", "SHA512"}) {
        const std::string from = old_dists + "/main/binary-" + arch + "/by-hash/" + sum;
        if (!fs::is_directory(from, ec)) continue;
        fs::create_directories(binary + "/by-hash/" + sum, ec);
        for (const auto& f : fs::directory_iterator(from, ec)) {
          if (!old_hashes.contains(f.path().filename().string())) continue;
          fs::copy_file(f.path(), binary + "/by-hash/" + sum + "/" + f.path().filename().string(),
                        fs::copy_options::overwrite_existing, ec);
          if (ec) return step_failed("cannot copy " + f.path().string() + ": " + ec.message());
        }
      }
      // A view of the pool with just the indexed .debs, for apt-ftparchive to
      // scan. Hard links: it would list a symbolic link by its target's path.
      const std::string view = scratch_ + "/view-" + arch;
      for (const SiteEntry& e : indexed) {
        if (e.format != Format::kDeb || e.arch != arch) continue;
        const std::string link = view + "/" + e.path;
        fs::create_directories(fs::path(link).parent_path(), ec);
        fs::create_hard_link(o_.site + "/" + e.path, link, ec);
        if (ec) return step_failed("cannot link " + link + ": " + ec.message());
      }
      fs::create_directories(view + "/pool", ec);
      Result<std::string> packages = run_tool({tools_["apt-ftparchive"], "packages", "pool"}, view);
      if (!packages) return packages.error();
      const std::string index = binary + "/Packages";
      if (Status s = write_text(index, *packages); !s) return s;
      if (Result<std::string> r = run_tool({tools_["gzip"], "-9nkf", index}); !r) return r.error();
      if (Result<std::string> r = run_tool({tools_["xz"], "-kf", index}); !r) return r.error();
    }
    Result<std::string> release = run_tool(
        {tools_["apt-ftparchive"], "-o", "APT::FTPArchive::DoByHash=true", "-o",
         "APT::FTPArchive::Release::Origin=" + plan_.manifest.name, "-o",
         "APT::FTPArchive::Release::Label=" + plan_.manifest.name, "-o",
         "APT::FTPArchive::Release::Suite=" + channel, "-o",
         "APT::FTPArchive::Release::Codename=" + channel, "-o",
         "APT::FTPArchive::Release::Architectures=amd64 arm64", "-o",
         "APT::FTPArchive::Release::Components=main", "-o",
         "APT::FTPArchive::Release::Description=" + plan_.manifest.name + " (" + channel + ")",
         "release", "."},
        dists);
    if (!release) return release.error();
    if (Status s = write_text(dists + "/Release", *release); !s) return s;
    if (Status s = signer_.clearsign(dists + "/Release", dists + "/InRelease"); !s) return s;
    return signer_.detach_sign(dists + "/Release", dists + "/Release.gpg");
  }

  /// rpm/CHANNEL/repodata made again in scratch/repodata, with the files
  /// of the last generation.
  Status make_rpm(const std::string& channel, const std::vector<SiteEntry>& indexed) {
    if (tools_["createrepo_c"].empty()) {
      return bad_input(
          "createrepo_c is missing (Debian package createrepo-c): it makes the "
          "dnf indexes of the channel's .rpm packages");
    }
    const std::string repo = o_.site + "/rpm/" + channel;
    const std::string prefix = "rpm/" + channel + "/";
    std::string list;
    for (const SiteEntry& e : indexed) {
      if (e.format == Format::kRpm) list += e.path.substr(prefix.size()) + "\n";
    }
    std::error_code ec;
    fs::create_directories(repo + "/Packages", ec);
    const std::string list_file = scratch_ + "/rpm-list";
    if (Status s = write_text(list_file, list); !s) return s;
    const std::string out = scratch_ + "/rpm-out";
    fs::create_directories(out, ec);
    Result<std::string> made =
        run_tool({tools_["createrepo_c"], "--quiet", "--no-database", "--workers", "1", "--pkglist",
                  list_file, "--outputdir", out, "."},
                 repo);
    if (!made) return made.error();
    const std::string repodata = out + "/repodata";
    if (Status s = signer_.detach_sign(repodata + "/repomd.xml", repodata + "/repomd.xml.asc");
        !s) {
      return s;
    }
    for (const std::string& f : repodata_files(read_text(repo + "/repodata/repomd.xml"))) {
      if (f.find('/') != std::string::npos || fs::exists(repodata + "/" + f, ec)) continue;
      fs::copy_file(repo + "/repodata/" + f, repodata + "/" + f, ec);
      if (ec) return step_failed("cannot keep " + repo + "/repodata/" + f + ": " + ec.message());
    }
    return done();
  }

  /// The update feed of the .tar.gz packages new in this channel: their
  /// stored files and manifests, and the `latest` files for the switch.
  Status make_feed(const Ed25519Key& key, const std::optional<std::string>& notes,
                   std::size_t old_entries, AddedFiles& added,
                   std::vector<std::pair<std::string, std::string>>& moves) {
    FeedWriter feed(o_.site, scratch_, unpack_tools(), key, std::time(nullptr),
                    plan_.feed_valid_days);
    Status status = feed_versions(feed, notes, old_entries);
    if (status && plan_.feed_valid_days > 0) {
      // An expiry is given: every channel's newest version is signed again
      // with it, so re-publishing keeps the feed from going stale.
      Result<std::size_t> renewed = feed.renew();
      if (renewed) feed_renewed_ = *renewed;
      status = renewed ? done() : Status(renewed.error());
    }
    Result<std::vector<std::pair<std::string, std::string>>> latest =
        status ? feed.latest_files() : status.error();
    for (const std::string& f : feed.created()) added.add(f);
    if (!latest) return latest.error();
    moves.insert(moves.end(), latest->begin(), latest->end());
    feed_objects_ = feed.new_objects();
    unshared_writes_ = feed.unshared_writes();
    return done();
  }

  std::size_t feed_versions_made() const { return feed_versions_; }
  std::size_t feed_objects() const { return feed_objects_; }
  std::size_t feed_renewed() const { return feed_renewed_; }
  const std::vector<std::string>& unshared_writes() const { return unshared_writes_; }

  /// The page of the `stable` channel, or of this one when stable has none.
  Status make_page() {
    std::string channel = "stable";
    std::vector<SiteEntry> indexed = indexed_entries(plan_.manifest, channel);
    if (indexed.empty()) {
      channel = o_.channel;
      indexed = indexed_entries(plan_.manifest, channel);
    }
    PageFacts f;
    f.name = plan_.manifest.name;
    f.base_url = plan_.manifest.base_url;
    f.channel = channel;
    f.key_fingerprint = signer_.fingerprint();
    for (const SiteEntry& e : indexed) {
      if (e.format == Format::kTarGz) continue;
      if (f.version.empty() || compare_versions(e.version, f.version) > 0) f.version = e.version;
    }
    std::string newest_deb;
    std::vector<std::string> current_debs;
    for (const SiteEntry& e : indexed) {
      // A .tar.gz has no release: 1.4 goes with the packages of 1.4-RELEASE.
      const bool current = e.format == Format::kTarGz
                               ? f.version == e.version || f.version.starts_with(e.version + "-")
                               : e.version == f.version;
      if (!current) continue;
      if (f.summary.empty()) f.summary = e.summary;
      const char* label = e.format == Format::kDeb   ? "Debian, Ubuntu (.deb)"
                          : e.format == Format::kRpm ? "Fedora, RHEL, openSUSE (.rpm)"
                                                     : "Any Linux (.tar.gz)";
      f.downloads.push_back({label, e.arch, e.path, e.size, e.sha256});
      f.has_deb = f.has_deb || e.format == Format::kDeb;
      f.has_rpm = f.has_rpm || e.format == Format::kRpm;
      if (e.format == Format::kDeb && newest_deb.empty()) newest_deb = e.path;
      if (e.format == Format::kDeb) current_debs.push_back(e.path);
    }
    if (Status s = read_glibc_floor(current_debs, f); !s) return s;
    if (!newest_deb.empty()) {
      const bool new_deb = std::any_of(plan_.copies.begin(), plan_.copies.end(),
                                       [&](const Copy& c) { return c.path == newest_deb; });
      if (Status s = read_deb_page_facts(o_.site + "/" + newest_deb, new_deb, f); !s) return s;
    }
    return write_text(scratch_ + "/index.html", download_page(f));
  }

 private:
  Status feed_versions(FeedWriter& feed, const std::optional<std::string>& notes,
                       std::size_t old_entries) {
    const std::vector<SiteEntry>& entries = plan_.manifest.entries;
    const std::vector<SiteEntry> indexed = indexed_entries(plan_.manifest, o_.channel);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const SiteEntry& e = entries[i];
      if (e.format != Format::kTarGz || e.channel != o_.channel) continue;
      // New tarballs, and the listed ones published before the site had a feed.
      if (i < old_entries &&
          (has_feed(e) || std::none_of(indexed.begin(), indexed.end(),
                                       [&](const SiteEntry& x) { return x.path == e.path; }))) {
        continue;
      }
      // A tarball's name holds no release: a NAME/ tree takes the full
      // version of the newest .deb or .rpm of its version.
      std::string version = e.version;
      for (const SiteEntry& p : entries) {
        if (p.format != Format::kTarGz && p.name == e.name &&
            p.version.starts_with(e.version + "-") &&
            (version == e.version || compare_versions(p.version, version) > 0)) {
          version = p.version;
        }
      }
      const FeedTarball t{o_.site + "/" + e.path, e.name, version, e.channel, e.arch};
      if (i < old_entries) {
        // A tarball the site holds goes into the feed only as its record has it.
        Result<std::string> hash = sha256_file(t.file);
        if (!hash) return hash.error();
        if (*hash != e.sha256) {
          return bad_input(t.file + " does not have the SHA-256 " + std::string(kManifestName) +
                           " records for it: it was changed on the site");
        }
      }
      Result<std::string> made = feed.add(t, [&](const std::string& v) -> Result<std::string> {
        if (notes) return *notes;
        return changelog_entry(v);
      });
      if (!made) return made.error();
      ++feed_versions_;
    }
    return done();
  }

  /// Whether the feed has a manifest of the tarball `e`'s version (its
  /// name gives the version without the release).
  bool has_feed(const SiteEntry& e) const {
    std::error_code ec;
    for (const auto& f :
         fs::directory_iterator(o_.site + "/updates/" + e.channel + "/" + e.arch, ec)) {
      const std::string v = f.path().filename().string();
      if (v == e.version || v.starts_with(e.version + "-")) return true;
    }
    return false;
  }

  /// The changelog entry of `version` in a .deb of this publish, or "".
  Result<std::string> changelog_entry(const std::string& version) {
    for (const Copy& c : plan_.copies) {
      const auto entry = std::find_if(plan_.manifest.entries.begin(), plan_.manifest.entries.end(),
                                      [&](const SiteEntry& e) { return e.path == c.path; });
      if (entry == plan_.manifest.entries.end() || entry->format != Format::kDeb ||
          entry->version != version) {
        continue;
      }
      Result<std::string> tree = unpacked(o_.site + "/" + c.path);
      if (!tree) return tree.error();
      Result<std::optional<std::vector<std::uint8_t>>> gz =
          PackageTree(*tree, c.source)
              .read("usr/share/doc/" + entry->name + "/changelog.Debian.gz", kMaxFileSize);
      if (!gz) return gz.error();
      if (!*gz) return std::string();  // no changelog: no notes
      Result<std::string> text = gunzip_text(std::string((*gz)->begin(), (*gz)->end()));
      return text ? changelog_notes(*text, version) : std::string();
    }
    return std::string();
  }

  /// What the page says the packages run on: the highest glibc that the
  /// .deb packages `debs` declare in their libc6 dependency. None when a
  /// package declares none, since the page would then claim too much.
  Status read_glibc_floor(const std::vector<std::string>& debs, PageFacts& f) {
    for (const std::string& deb : debs) {
      Result<std::string> depends = run_tool(
          {tools_["dpkg-deb"], "--showformat=${Depends}", "--show", "--", o_.site + "/" + deb});
      if (!depends) return depends.error();
      const std::optional<GlibcVersion> floor = libc6_floor(*depends);
      if (!floor) {
        f.glibc_floor.reset();
        return done();
      }
      if (!f.glibc_floor || *floor > *f.glibc_floor) f.glibc_floor = floor;
    }
    return done();
  }

  /// The long description and the icon, from the .deb's control file and tree.
  /// The icon is unpacked from a .deb new in this run; otherwise the
  /// site's icon, unpacked from it before, serves.
  Status read_deb_page_facts(const std::string& deb, bool new_deb, PageFacts& f) {
    Result<std::string> text =
        run_tool({tools_["dpkg-deb"], "--showformat=${Description}", "--show", "--", deb});
    if (!text) return text.error();
    const std::vector<std::string> lines = split_lines(*text);
    std::string description;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      description += (lines[i] == " ." ? "" : lines[i]) + "\n";
    }
    f.description = description;
    std::error_code ec;
    if (!new_deb) {
      for (const char* icon : {"icon.svg", "icon.png"}) {
        if (fs::exists(o_.site + "/" + icon, ec)) f.icon = icon;
      }
      return done();
    }
    Result<std::string> tree = unpacked(deb);
    if (!tree) return tree.error();
    // Read as the package's members: an icon that is a link would put a
    // file of this machine on the public site.
    const PackageTree package(*tree, deb);
    const std::string icons = "usr/share/icons/hicolor";
    Result<std::vector<PackageTree::Child>> sizes = package.list(icons);
    if (!sizes) return sizes.error();
    std::string best;
    int best_size = -1;
    for (const PackageTree::Child& size_dir : *sizes) {
      if (size_dir.kind == PackageTree::Kind::kFile) continue;  // index.theme and the like
      const int size = size_dir.name == "scalable" ? 100000 : leading_number(size_dir.name);
      const std::string apps = icons + "/" + size_dir.name + "/apps";
      Result<std::vector<PackageTree::Child>> found = package.list(apps);
      if (!found) return found.error();
      for (const PackageTree::Child& icon : *found) {
        // The page links icon.png or icon.svg.
        if (!icon.name.ends_with(".png") && !icon.name.ends_with(".svg")) continue;
        if (size > best_size) {
          best = apps + "/" + icon.name;
          best_size = size;
        }
      }
    }
    if (best.empty()) return done();
    Result<std::optional<std::vector<std::uint8_t>>> bytes = package.read(best, kMaxIconSize);
    if (!bytes) return bytes.error();
    if (!*bytes) return step_failed("the icon ./" + best + " of " + deb + " went missing");
    f.icon = "icon" + fs::path(best).extension().string();
    return write_file_atomically(scratch_ + "/" + f.icon, **bytes, 0644);
  }

  UnpackTools unpack_tools() const {
    return {tools_["bash"], tools_["tar"], tools_["head"], tools_["dpkg-deb"]};
  }

  /// Where the members of the .deb `deb` publish reads (the icons, the
  /// changelogs) are unpacked in the scratch folder, once a run. The rest
  /// stays packed: a small .deb can hold gigabytes of zeros.
  Result<std::string> unpacked(const std::string& deb) {
    if (const auto it = unpacked_.find(deb); it != unpacked_.end()) return it->second;
    const std::string n = std::to_string(unpacked_.size());
    const std::string tree = scratch_ + "/deb-tree-" + n;
    Result<std::vector<ListedMember>> listed = list_members(unpack_tools(), deb, true);
    if (!listed) return listed.error();
    std::vector<ListedMember> wanted;
    for (const ListedMember& m : *listed) {
      std::string_view name = m.name;
      if (name.starts_with("./")) name.remove_prefix(2);
      const bool changelog = name.starts_with("usr/share/doc/") &&
                             name.ends_with("/changelog.Debian.gz") &&
                             std::count(name.begin(), name.end(), '/') == 4;
      if (changelog || name.starts_with("usr/share/icons/hicolor/")) wanted.push_back(m);
    }
    if (Status s = check_unpacked_size(wanted, kDebMembersMaxBytes, kUnpackMaxEntries,
                                       deb + "'s icons and changelogs");
        !s) {
      return s.error();
    }
    std::vector<std::string> names;
    // Folders are made for what lies in them; named, tar would unpack
    // all they hold.
    for (const ListedMember& m : wanted) {
      if (m.type != 'd') names.push_back(m.name);
    }
    if (Status s =
            unpack_deb_members(unpack_tools(), deb, names, tree, scratch_ + "/deb-members-" + n);
        !s) {
      return s.error();
    }
    unpacked_[deb] = tree;
    return tree;
  }

  const PublishOptions& o_;
  const Tools& tools_;
  const Signer& signer_;
  PublishPlan& plan_;
  std::string scratch_;
  std::size_t feed_versions_ = 0;
  std::size_t feed_objects_ = 0;
  std::size_t feed_renewed_ = 0;
  std::vector<std::string> unshared_writes_;
  std::map<std::string, std::string> unpacked_;  ///< .deb -> its tree in the scratch folder
};

/// Puts `from` at `to` in one rename; a folder at `to` is swapped out and
/// removed after, so readers see the old tree or the new one.
Status switch_in(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::create_directories(fs::path(to).parent_path(), ec);
  if (fs::is_directory(to, ec) && fs::is_directory(from, ec)) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) != 0) {
      return step_failed(system_error("swap in", to));
    }
    fs::remove_all(from, ec);
    return done();
  }
  fs::rename(from, to, ec);
  if (ec) return step_failed("cannot put " + to + " in place: " + ec.message());
  return done();
}

/// Starts a watcher that waits for the lock this run holds on its scratch
/// folder `scratch` and, once it gets it (the run ended, however: killed
/// outright too), removes the folder if it is still there: it lies in the
/// served site and holds unpacked packages and unpublished signed files. A
/// normal end has removed it already; the next publish's removal of
/// abandoned scratch folders covers a watcher that could not start.
void watch_scratch(const std::string& scratch) {
  remove_when_released(scratch, scratch, find_program("flock"));
}

int make_key_only(const PublishOptions& o, const Report& report) {
  Result<std::string> made = make_new_key(o.new_key, "Vorlane site signing key");
  if (!made) return report.fail(made.error());
  Result<std::string> feed_key = make_feed_key(o.new_key);
  if (!feed_key) return report.fail(feed_key.error());
  report.note("made a signing key in " + *made + " (and the update feed's key in " + *feed_key +
              "): back it up and keep it secret; every later publish must be signed with it, "
              "or the site's users get no more updates");
  return 0;
}

}  // namespace

int publish_site(const PublishOptions& o) {
  const Report report(o.quiet);
  if (!o.signing_key.empty() && !o.new_key.empty()) {
    return report.fail(bad_input("give --signing-key or --new-key, not both"));
  }
  if (!o.feed_key.empty() && !o.new_key.empty()) {
    return report.fail(bad_input("give --feed-key or --new-key (which makes one), not both"));
  }
  if (!o.notes.empty() && o.feed_key.empty() && o.new_key.empty()) {
    return report.fail(bad_input("--notes are the update feed's: give --feed-key FILE too"));
  }
  if (!o.feed_valid_days.empty() && o.feed_key.empty() && o.new_key.empty()) {
    return report.fail(
        bad_input("--feed-valid-days is the update feed's: give --feed-key FILE too"));
  }
  if (o.site.empty() && o.packages.empty() && !o.new_key.empty()) return make_key_only(o, report);
  if (o.signing_key.empty() && o.new_key.empty()) {
    return report.fail(
        bad_input("a site is signed: give --signing-key FILE (an exported secret key), or make one "
                  "with --new-key DIR"));
  }
  Tools tools;
  tools.need("dpkg-deb", "reads the .deb packages; Debian package dpkg");
  tools.need("apt-ftparchive", "makes the apt indexes; Debian package apt-utils");
  // The .rpm tools only where a channel has .rpm packages.
  const bool given_rpms = std::any_of(o.packages.begin(), o.packages.end(),
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
  if (!tools.missing().empty()) return report.fail(bad_input("missing tools: " + tools.missing()));

  // The site is locked before anything of it is read, so that two runs
  // never plan from the same state.
  SiteLock lock;
  if (!o.site.empty()) {
    if (Status s = lock.take(o.site); !s) return report.fail(s.error());
  }
  // Probe: the packages, the site, the key. Nothing is written before the plan.
  using Clock = Report::Clock;
  const Clock::time_point started = Clock::now();
  std::vector<PackageFacts> packages;
  for (const std::string& path : o.packages) {
    Result<PackageFacts> p = probe_package(tools, path);
    if (!p) return report.fail(p.error());
    packages.push_back(*p);
  }
  // The feed's key and notes, read before anything is written.
  std::optional<Ed25519Key> feed_key;
  if (!o.feed_key.empty()) {
    Result<Ed25519Key> key = Ed25519Key::load(o.feed_key);
    if (!key) return report.fail(key.error());
    feed_key = std::move(*key);
  }
  std::optional<std::string> notes;
  if (!o.notes.empty()) {
    Result<std::vector<std::uint8_t>> text = read_file_no_fifo(o.notes);
    if (!text) return report.fail(bad_input(text.error().message));
    notes = std::string(text->begin(), text->end());
    if (!valid_utf8(*notes))
      return report.fail(bad_input("--notes " + o.notes + " is no UTF-8 text"));
  }
  SiteFacts site;
  std::error_code ec;
  if (!o.site.empty()) {
    site.exists = !lock.made_site();
    const std::string manifest_path = o.site + "/" + std::string(kManifestName);
    if (fs::exists(manifest_path, ec)) {
      Result<std::vector<std::uint8_t>> text = read_file_no_fifo(manifest_path);
      if (!text) return report.fail(step_failed(text.error().message));
      Result<Manifest> m = parse_manifest(std::string(text->begin(), text->end()));
      if (!m) return report.fail(m.error());
      site.manifest = *m;
    } else {
      for (const auto& entry : fs::directory_iterator(o.site, ec)) {
        if (entry.path().filename() != kLockName) site.has_other = true;
      }
      if (ec) return report.fail(step_failed("cannot list " + o.site + ": " + ec.message()));
    }
  }
  std::string key_file = o.signing_key;
  std::optional<std::string> new_key_note;
  if (!o.new_key.empty()) {
    if (site.manifest) {
      return report.fail(bad_input(o.site + " is signed with the key " +
                                   site.manifest->key_fingerprint +
                                   " already: give it as --signing-key, not --new-key"));
    }
    // Refusals that need no key come first, so no key is made for nothing.
    if (Result<PublishPlan> trial =
            plan_publish(o, SiteFacts{site.exists, site.has_other, {}, "", ""}, packages);
        !trial) {
      return report.fail(trial.error());
    }
    const std::string name = packages.empty() ? "app" : packages[0].name;
    Result<std::string> made = make_new_key(o.new_key, name + " archive signing key");
    if (!made) return report.fail(made.error());
    Result<std::string> made_feed_key = make_feed_key(o.new_key);
    if (!made_feed_key) return report.fail(made_feed_key.error());
    Result<Ed25519Key> key = Ed25519Key::load(*made_feed_key);
    if (!key) return report.fail(key.error());
    feed_key = std::move(*key);
    key_file = *made;
    new_key_note = "made a signing key in " + *made + " (and the update feed's key in " +
                   *made_feed_key + "): back it up and keep it secret; every later publish to " +
                   o.site + " needs it (--signing-key " + *made + " --feed-key " + *made_feed_key +
                   "), or the site's users get no updates";
  }
  std::string feed_public_pem;
  if (feed_key) {
    Result<std::string> b64 = feed_key->public_base64();
    if (!b64) return report.fail(b64.error());
    site.feed_key = *b64;
    Result<std::string> pem = feed_key->public_pem();
    if (!pem) return report.fail(pem.error());
    feed_public_pem = *pem;
  }
  Result<Signer> signer = Signer::open(key_file);
  if (!signer) return report.fail(signer.error());
  site.key_fingerprint = signer->fingerprint();
  Result<PublishPlan> plan = plan_publish(o, site, packages);
  if (!plan) return report.fail(plan.error());
  if (new_key_note) report.note(*new_key_note);
  if (plan->no_op) {
    report.note("nothing to publish: every package given is on " + o.site + " already");
    return 0;
  }

  // Write: package files first (new names, which no index lists yet), then
  // the indexes beside the old ones, switched in at the end.
  Result<StagingDir> scratch = StagingDir::create(o.site + "/.vorlane-next");
  if (!scratch) return report.fail(scratch.error());
  watch_scratch(scratch->path());
  AddedFiles added;
  Publisher publisher(o, tools, *signer, *plan, scratch->path());
  const std::string channel = o.channel;
  if (Status s = publisher.copy_packages(added); !s) return report.fail(s.error());
  // The feed's stored files and version manifests have new names; `latest`
  // is switched in with the indexes.
  std::vector<std::pair<std::string, std::string>> feed_moves;
  const std::size_t old_entries = site.manifest ? site.manifest->entries.size() : 0;
  const bool new_tarballs = std::any_of(
      plan->manifest.entries.begin() + static_cast<std::ptrdiff_t>(old_entries),
      plan->manifest.entries.end(), [](const SiteEntry& e) { return e.format == Format::kTarGz; });
  if (feed_key) {
    if (Status f = publisher.make_feed(*feed_key, notes, old_entries, added, feed_moves); !f) {
      return report.fail(f.error());
    }
  } else if (new_tarballs) {
    report.note(
        "no --feed-key: the .tar.gz packages get no update feed (make a key with "
        "`publish --new-key DIR` on a new site, or `openssl genpkey -algorithm ed25519`)");
  }
  if (!publisher.unshared_writes().empty()) {
    const std::vector<std::string>& w = publisher.unshared_writes();
    report.note("the update feed lists " + std::to_string(w.size()) +
                " file(s) or folder(s) without their group and other write permission (" + w[0] +
                (w.size() > 1 ? ", ..." : "") +
                "): apps updated from it are writable by their owner only");
  }
  const std::vector<SiteEntry> indexed = indexed_entries(plan->manifest, channel);
  const bool rpms = std::any_of(
      plan->manifest.entries.begin(), plan->manifest.entries.end(),
      [&](const SiteEntry& e) { return e.channel == channel && e.format == Format::kRpm; });
  if (Status s = publisher.make_apt(channel, indexed); !s) return report.fail(s.error());
  if (rpms) {
    if (Status s = publisher.make_rpm(channel, indexed); !s) return report.fail(s.error());
  }
  if (Status s = publisher.make_page(); !s) return report.fail(s.error());
  Result<std::vector<std::uint8_t>> armored = signer->public_key(true);
  if (!armored) return report.fail(armored.error());
  Result<std::vector<std::uint8_t>> binary = signer->public_key(false);
  if (!binary) return report.fail(binary.error());
  const std::string s = scratch->path();
  Status keys = write_file_atomically(s + "/KEY.asc", *armored, 0644);
  if (keys) keys = write_file_atomically(s + "/KEY.gpg", *binary, 0644);
  if (keys && feed_key)
    keys = write_file_atomically(s + "/feed-key.pub.pem", feed_public_pem, 0644);
  if (!keys) return report.fail(step_failed(keys.error().message));
  if (Status w = write_text(s + "/manifest", format_manifest(plan->manifest)); !w) {
    return report.fail(w.error());
  }
  if (interrupted()) return report.stop(o.site + " is as it was");

  // The switch: each repository's indexes in one rename.
  added.keep();
  lock.keep();
  std::vector<std::pair<std::string, std::string>> moves = {
      {s + "/dists", o.site + "/dists/" + channel},
      {s + "/rpm-out/repodata", o.site + "/rpm/" + channel + "/repodata"},
      {s + "/KEY.asc", o.site + "/KEY.asc"},
      {s + "/KEY.gpg", o.site + "/KEY.gpg"},
      {s + "/index.html", o.site + "/index.html"},
      {s + "/icon.svg", o.site + "/icon.svg"},
      {s + "/icon.png", o.site + "/icon.png"},
      {s + "/feed-key.pub.pem", o.site + "/feed-key.pub.pem"},
  };
  moves.insert(moves.end(), feed_moves.begin(), feed_moves.end());
  moves.emplace_back(s + "/manifest", o.site + "/" + std::string(kManifestName));
  for (const auto& [from, to] : moves) {
    if (!fs::exists(from, ec)) continue;
    if (Status m = switch_in(from, to); !m) return report.fail(m.error());
  }
  std::size_t listed = 0;
  for (const SiteEntry& e : indexed) listed += e.format == Format::kTarGz ? 0 : 1;
  report.step("published " + std::to_string(plan->copies.size()) + " new file(s) to " + o.site +
                  " (" + channel + ": " + std::to_string(listed) + " package(s) in the indexes)",
              started);
  if (publisher.feed_versions_made() > 0) {
    report.note("update feed: " + std::to_string(publisher.feed_versions_made()) +
                " version(s) in " + o.site + "/updates/" + channel + ", " +
                std::to_string(publisher.feed_objects()) + " new file(s) stored");
  }
  if (publisher.feed_renewed() > 0) {
    report.note("update feed: the newest version of " + std::to_string(publisher.feed_renewed()) +
                " channel and architecture folder(s) signed again, valid " + o.feed_valid_days +
                " day(s)");
  }
  return 0;
}

}  // namespace vorlane::publish
