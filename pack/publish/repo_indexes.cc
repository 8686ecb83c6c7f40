#include <filesystem>
#include <set>

#include "pack/core/files.h"
#include "pack/core/strings.h"
#include "pack/publish/site_writer.h"

namespace fs = std::filesystem;

namespace vorlane::publish {

namespace {

const char* const kArches[] = {"amd64", "arm64"};

/// The file's text, or "" when it cannot be read: the last generation's
/// index of a channel that has none yet.
std::string text_or_empty(const std::string& path) {
  Result<std::vector<std::uint8_t>> bytes = read_file_no_fifo(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

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

}  // namespace

/// dists/CHANNEL made again in scratch/dists: the old tree's by-hash
/// files of the last generation, new Packages files, Release, InRelease
/// and Release.gpg.
Status SiteWriter::make_apt(const std::string& channel, const std::vector<SiteEntry>& indexed) {
  const std::string old_dists = o_.site + "/dists/" + channel;
  const std::string dists = scratch_ + "/dists";
  std::error_code ec;
  const std::set<std::string> old_hashes = hashes_in_release(text_or_empty(old_dists + "/Release"));
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
      if (e.format != PackageKind::kDeb || e.arch != arch) continue;
      const std::string link = view + "/" + e.path;
      fs::create_directories(fs::path(link).parent_path(), ec);
      fs::create_hard_link(o_.site + "/" + e.path, link, ec);
      if (ec) return step_failed("cannot link " + link + ": " + ec.message());
    }
    fs::create_directories(view + "/pool", ec);
    Result<std::string> packages =
        publish_tool({tools_["apt-ftparchive"], "packages", "pool"}, view);
    if (!packages) return packages.error();
    const std::string index = binary + "/Packages";
    if (Status s = write_file_atomically(index, *packages, 0644); !s) return s;
    if (Result<std::string> r = publish_tool({tools_["gzip"], "-9nkf", index}); !r)
      return r.error();
    if (Result<std::string> r = publish_tool({tools_["xz"], "-kf", index}); !r) return r.error();
  }
  Result<std::string> release = publish_tool(
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
  if (Status s = write_file_atomically(dists + "/Release", *release, 0644); !s) return s;
  if (Status s = signer_.clearsign(dists + "/Release", dists + "/InRelease"); !s) return s;
  return signer_.detach_sign(dists + "/Release", dists + "/Release.gpg");
}

/// rpm/CHANNEL/repodata made again in scratch/repodata, with the files
/// of the last generation.
Status SiteWriter::make_rpm(const std::string& channel, const std::vector<SiteEntry>& indexed) {
  if (tools_["createrepo_c"].empty()) {
    return bad_input(
        "createrepo_c is missing (Debian package createrepo-c): it makes the "
        "dnf indexes of the channel's .rpm packages");
  }
  const std::string repo = o_.site + "/rpm/" + channel;
  const std::string prefix = "rpm/" + channel + "/";
  std::string list;
  for (const SiteEntry& e : indexed) {
    if (e.format == PackageKind::kRpm) list += e.path.substr(prefix.size()) + "\n";
  }
  std::error_code ec;
  fs::create_directories(repo + "/Packages", ec);
  const std::string list_file = scratch_ + "/rpm-list";
  if (Status s = write_file_atomically(list_file, list, 0644); !s) return s;
  const std::string out = scratch_ + "/rpm-out";
  fs::create_directories(out, ec);
  Result<std::string> made =
      publish_tool({tools_["createrepo_c"], "--quiet", "--no-database", "--workers", "1",
                    "--pkglist", list_file, "--outputdir", out, "."},
                   repo);
  if (!made) return made.error();
  const std::string repodata = out + "/repodata";
  if (Status s = signer_.detach_sign(repodata + "/repomd.xml", repodata + "/repomd.xml.asc"); !s) {
    return s;
  }
  for (const std::string& f : repodata_files(text_or_empty(repo + "/repodata/repomd.xml"))) {
    if (f.find('/') != std::string::npos || fs::exists(repodata + "/" + f, ec)) continue;
    fs::copy_file(repo + "/repodata/" + f, repodata + "/" + f, ec);
    if (ec) return step_failed("cannot keep " + repo + "/repodata/" + f + ": " + ec.message());
  }
  return done();
}

}  // namespace vorlane::publish
