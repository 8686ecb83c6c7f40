#include "pack/publish/feed_writer.h"

#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "pack/core/compress.h"
#include "pack/core/files.h"
#include "pack/core/process.h"
#include "pack/core/sha256.h"
#include "pack/core/strings.h"
#include "pack/publish/feed_plan.h"
#include "pack/publish/package_tree.h"
#include "pack/publish/site_plan.h"

namespace fs = std::filesystem;

namespace vorlane::publish {

namespace {

/// Seconds unpacking one tarball may take on a busy machine.
constexpr int kTarTimeout = 600;
/// The most bytes of a runtime's `release` file read.
constexpr std::size_t kMaxReleaseSize = std::size_t{1} << 20;

/// The entries under `root` (paths relative to it), with their lstat facts;
/// a link is never followed, wherever it points. Folders are made writable
/// for their owner, so the scratch folder can go.
Result<std::vector<FeedEntry>> feed_entries(const std::string& root, const std::string& tarball) {
  Result<std::vector<TreeEntry>> walked =
      walk_tree(root, Links::kNever, FolderAccess::kOpenForOwner);
  if (!walked) return walked.error();
  std::vector<FeedEntry> out;
  out.reserve(walked->size());
  for (const TreeEntry& t : *walked) {
    FeedEntry e;
    e.path = t.path;
    e.mode = t.mode;
    switch (t.type) {
      case TreeEntry::Type::kFolder:
        e.kind = FeedEntry::Kind::kDir;
        break;
      case TreeEntry::Type::kFile:
        e.kind = FeedEntry::Kind::kFile;
        e.size = t.size;
        e.mtime = t.mtime;
        break;
      case TreeEntry::Type::kLink:
        e.kind = FeedEntry::Kind::kLink;
        e.link_target = t.link_target;
        break;
      case TreeEntry::Type::kOther:
        return bad_input(tarball + " holds " + t.path +
                         ", neither a file, a folder nor a link: the update feed cannot carry it");
    }
    out.push_back(std::move(e));
  }
  return out;
}

/// Runs `bash -c SCRIPT` with `args` as $0, $1, ...: a pipeline of the
/// packaging tools, no word of it from the input.
ProcessResult run_pipeline(const std::string& bash, const std::string& script,
                           const std::vector<std::string>& args) {
  std::vector<std::string> argv = {bash, "-c", script};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions options;
  options.env = {{"LC_ALL", "C"}};
  options.timeout_seconds = kTarTimeout;
  return run_process(argv, options);
}

}  // namespace

Result<std::vector<ListedMember>> list_members(const UnpackTools& tools, const std::string& file,
                                               bool deb) {
  // `head` stops reading at the bound; tar then ends on SIGPIPE, which a
  // listing of exactly the bound's size tells apart. The first failing
  // command's status is the pipeline's.
  const std::string script =
      deb ? R"("$0" --fsys-tarfile -- "$1" | "$2" -tv --numeric-owner | "$3" -c "$4"; )"
            R"(s=("${PIPESTATUS[@]}"); exit $(( s[0] ? s[0] : s[1] )))"
          : R"("$2" -tvz --numeric-owner -f "$1" | "$3" -c "$4"; exit "${PIPESTATUS[0]}")";
  const ProcessResult r =
      run_pipeline(tools.bash, script,
                   {tools.dpkg_deb, file, tools.tar, tools.head, std::to_string(kListingMaxBytes)});
  if (interrupted()) return interruption();
  if (r.out.size() >= kListingMaxBytes) {
    return bad_input(file + " lists more than " + std::to_string(kListingMaxBytes) +
                     " bytes of members: publish reads no package that big");
  }
  if (!r.ok()) {
    return bad_input(file + " cannot be listed: " + r.describe_end(kTarTimeout) +
                     tail_lines(r.err, 8));
  }
  return parse_tar_listing(r.out, file);
}

Status unpack_deb_members(const UnpackTools& tools, const std::string& deb,
                          const std::vector<std::string>& members, const std::string& dir,
                          const std::string& list_file) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return step_failed("cannot make " + dir + ": " + ec.message());
  if (members.empty()) return done();
  // The names as tar listed them, quoted: it unquotes what it reads with -T.
  std::string names;
  for (const std::string& m : members) names += m + "\n";
  if (Status s = write_file_atomically(list_file, names, 0600); !s) return s;
  const ProcessResult r =
      run_pipeline(tools.bash,
                   R"("$0" --fsys-tarfile -- "$1" | "$2" -x --no-same-owner -C "$3" -T "$4"; )"
                   R"(s=("${PIPESTATUS[@]}"); exit $(( s[0] ? s[0] : s[1] )))",
                   {tools.dpkg_deb, deb, tools.tar, dir, list_file});
  if (interrupted()) return interruption();
  if (!r.ok()) {
    return bad_input(deb + " cannot be unpacked: " + r.describe_end(kTarTimeout) +
                     tail_lines(r.err, 8));
  }
  return done();
}

Status FeedWriter::make_dirs(const std::string& dir) {
  std::vector<std::string> missing;
  std::error_code ec;
  for (fs::path p = dir; !p.empty() && p != site_ && !fs::exists(p, ec); p = p.parent_path()) {
    missing.push_back(p.string());
  }
  // Outermost first.
  std::reverse(missing.begin(), missing.end());
  for (const std::string& folder : missing) {
    fs::create_directory(folder, ec);
    if (ec) return step_failed("cannot make " + folder + ": " + ec.message());
    created_.push_back(folder);
  }
  return done();
}

Result<std::string> FeedWriter::add(const FeedTarball& t, const NotesFunction& notes) {
  const std::string dir = scratch_ + "/feed-" + std::to_string(unpacked_++);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return step_failed("cannot make " + dir + ": " + ec.message());
  // Bounded on its listing first: a few hundred bytes of gzip can hold
  // terabytes of (sparse) zeros.
  Result<std::vector<ListedMember>> listed = list_members(tools_, t.file, false);
  if (!listed) return listed.error();
  if (Status s = check_unpacked_size(*listed, kUnpackMaxBytes, kUnpackMaxEntries, t.file); !s) {
    return s.error();
  }
  ProcessOptions options;
  options.env = {{"LC_ALL", "C"}};
  options.timeout_seconds = kTarTimeout;
  const ProcessResult r = run_process(
      {tools_.tar, "-xzf", t.file, "-C", dir, "--no-same-owner", "--preserve-permissions"},
      options);
  if (interrupted()) return interruption();
  if (!r.ok()) {
    return bad_input(t.file + " cannot be unpacked: tar " + r.describe_end(kTarTimeout) +
                     tail_lines(r.err, 8));
  }
  // NAME/versions/VERSION/ is the tree of a self-updating tarball; NAME/ of
  // another. Read as the tarball's members: no link on the way is followed,
  // or the tree could be any folder of this machine's.
  const PackageTree tree(dir, t.file);
  Result<bool> has_root = tree.has_folder(t.name);
  if (!has_root) return has_root.error();
  if (!*has_root) {
    return bad_input(t.file + " holds no folder " + t.name +
                     "/: it is no tarball made by vorlane-pack package");
  }
  std::string member = t.name;
  std::string version = t.version;
  Result<std::vector<PackageTree::Child>> children = tree.list(t.name + "/versions");
  if (!children) return children.error();
  std::vector<std::string> versions;
  for (const PackageTree::Child& v : *children) {
    if (v.kind == PackageTree::Kind::kFolder) versions.push_back(v.name);
  }
  if (versions.size() > 1) {
    return bad_input(t.file + " holds " + std::to_string(versions.size()) + " versions under " +
                     t.name + "/versions/: the feed takes a tarball of one");
  }
  if (versions.size() == 1) {
    version = versions[0];
    const bool plain = std::all_of(version.begin(), version.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '+' || c == '~' ||
             c == '-' || c == ':';
    });
    if (!plain) return bad_input(t.file + " holds the version folder '" + version + "'");
    if (version != t.version && !version.starts_with(t.version + "-")) {
      return bad_input(t.file + " holds version " + version + ", which its name (" + t.version +
                       ") does not say");
    }
    member += "/versions/" + version;
  }
  const std::string root = dir + "/" + member;
  Result<std::vector<FeedEntry>> walked = feed_entries(root, t.file);
  if (!walked) return walked.error();
  std::vector<FeedEntry> entries = std::move(*walked);
  // Group and other write bits would let any user of an updated machine
  // change the app: the feed lists the modes without them.
  for (FeedEntry& e : entries) {
    if (e.kind != FeedEntry::Kind::kLink && (e.mode & 022) != 0) {
      e.mode &= ~022U;
      unshared_writes_.push_back(t.file + ": " + e.path);
    }
  }
  Result<std::optional<std::vector<std::uint8_t>>> release_bytes =
      tree.read(member + "/lib/runtime/release", kMaxReleaseSize);
  if (!release_bytes) return release_bytes.error();
  const std::string release =
      *release_bytes ? std::string((*release_bytes)->begin(), (*release_bytes)->end()) : "";
  const std::set<std::string> remade = remade_archives(entries, release);

  for (FeedEntry& e : entries) {
    if (e.kind != FeedEntry::Kind::kFile || remade.contains(e.path)) continue;
    if (interrupted()) return interruption();
    const std::string file = root + "/" + e.path;
    Result<std::string> hash = sha256_file(file);
    if (!hash) return hash.error();
    e.sha256 = *hash;
    const std::string object = site_ + "/" + object_path(e.sha256);
    if (!fs::exists(object, ec)) {
      // Compressed in the scratch folder, then put in place in one rename:
      // an object on the site is always whole.
      const std::string staged = dir + ".object";
      if (Status s = gzip_file(file, staged); !s) return s.error();
      if (Status s = make_dirs(fs::path(object).parent_path().string()); !s) return s.error();
      chmod(staged.c_str(), 0644);
      fs::rename(staged, object, ec);
      if (ec) return step_failed("cannot put " + object + " in place: " + ec.message());
      created_.push_back(object);
      ++new_objects_;
    }
    e.stored = fs::file_size(object, ec);
    if (ec) return step_failed("cannot read the size of " + object + ": " + ec.message());
  }

  Result<std::string> text = notes(version);
  if (!text) return text.error();
  FeedFacts facts;
  facts.name = t.name;
  facts.version = version;
  facts.channel = t.channel;
  facts.arch = t.arch;
  facts.date = feed_date(date_);
  if (valid_days_ > 0) facts.expires = feed_date(date_ + std::int64_t{valid_days_} * 86400);
  facts.notes = *text;
  Result<std::string> body = manifest_body(facts, entries, release);
  if (!body) return Error{body.error().kind, t.file + ": " + body.error().message};
  Result<std::string> manifest =
      signed_manifest(*body, [&](std::string_view b) { return key_.sign(b); });
  if (!manifest) return manifest.error();
  const std::string path = site_ + "/updates/" + t.channel + "/" + t.arch + "/" + version;
  if (Status s = make_dirs(fs::path(path).parent_path().string()); !s) return s.error();
  // A manifest of this version with no package listed beside it is a killed
  // run's: replaced. Otherwise the name is new.
  const bool existed = fs::exists(path, ec);
  if (Status s = write_file_atomically(path, *manifest, 0644); !s) return s.error();
  if (!existed) created_.push_back(path);
  added_[{t.channel, t.arch}].push_back(version);
  // The unpacked tree is not needed again: its space goes back at once.
  fs::remove_all(dir, ec);
  return version;
}

Result<std::size_t> FeedWriter::renew() {
  const std::string updates = site_ + "/updates";
  std::error_code ec;
  // The site's own folders only: a name publish would not make, or a link, is passed by.
  const auto folders = [&](const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& f : fs::directory_iterator(dir, ec)) {
      if (f.is_directory(ec) && !f.is_symlink(ec)) names.push_back(f.path().filename().string());
    }
    return names;
  };
  for (const std::string& channel : folders(updates)) {
    if (!valid_channel(channel)) continue;
    for (const std::string& arch : folders(updates + "/" + channel)) {
      if ((arch != "amd64" && arch != "arm64") || added_.contains({channel, arch})) continue;
      const std::string folder = updates + "/" + channel + "/" + arch;
      std::string newest;
      for (const auto& f : fs::directory_iterator(folder, ec)) {
        const std::string name = f.path().filename().string();
        if (name == "latest" || name.starts_with(".") || !f.is_regular_file(ec)) continue;
        if (newest.empty() || compare_versions(name, newest) > 0) newest = name;
      }
      if (newest.empty()) continue;
      const std::string path = folder + "/" + newest;
      Result<std::vector<std::uint8_t>> bytes = read_file_no_fifo(path);
      if (!bytes) return bytes.error();
      if (bytes->size() > kManifestMaxBytes) return bad_input(path + " is too big to be renewed");
      const std::string old(bytes->begin(), bytes->end());
      // Ed25519 signatures are deterministic: signing the body again gives
      // the same file only when this key signed it as it stands, so nothing
      // changed on the site is signed anew.
      const std::size_t end = old.find('\n');
      const std::string body = end == std::string::npos ? "" : old.substr(end + 1);
      const SignFunction sign = [&](std::string_view b) { return key_.sign(b); };
      Result<std::string> again = signed_manifest(body, sign);
      if (!again) return again.error();
      if (*again != old) {
        return bad_input(path +
                         " is not an update manifest signed with the given --feed-key: "
                         "it was changed on the site and is not renewed");
      }
      const std::string expires =
          valid_days_ > 0 ? feed_date(date_ + std::int64_t{valid_days_} * 86400) : "";
      Result<std::string> redated = redated_body(body, feed_date(date_), expires);
      if (!redated) return Error{redated.error().kind, path + ": " + redated.error().message};
      Result<std::string> manifest = signed_manifest(*redated, sign);
      if (!manifest) return manifest.error();
      if (Status s = write_file_atomically(path, *manifest, 0644); !s) return s.error();
      const std::string staged = scratch_ + "/latest-" + channel + "-" + arch;
      if (Status s = write_file_atomically(staged, *manifest, 0644); !s) return s.error();
      renewed_.emplace_back(staged, folder + "/latest");
    }
  }
  return renewed_.size();
}

Result<std::vector<std::pair<std::string, std::string>>> FeedWriter::latest_files() {
  std::vector<std::pair<std::string, std::string>> out = renewed_;
  for (const auto& [where, versions] : added_) {
    const std::string folder = site_ + "/updates/" + where.first + "/" + where.second;
    std::vector<std::string> published;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(folder, ec)) {
      const std::string name = f.path().filename().string();
      if (name != "latest" && !name.starts_with(".")) published.push_back(name);
    }
    if (ec) return step_failed("cannot list " + folder + ": " + ec.message());
    std::string newest = versions[0];
    for (const std::string& v : versions) {
      if (compare_versions(v, newest) > 0) newest = v;
    }
    if (!becomes_latest(newest, published)) continue;
    const std::string staged = scratch_ + "/latest-" + where.first + "-" + where.second;
    fs::copy_file(folder + "/" + newest, staged, fs::copy_options::overwrite_existing, ec);
    if (ec) return step_failed("cannot copy " + folder + "/" + newest + ": " + ec.message());
    out.emplace_back(staged, folder + "/latest");
  }
  return out;
}

}  // namespace vorlane::publish
