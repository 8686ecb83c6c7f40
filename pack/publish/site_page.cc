#include <algorithm>
#include <filesystem>

#include "pack/core/files.h"
#include "pack/core/strings.h"
#include "pack/publish/feed_plan.h"
#include "pack/publish/package_tree.h"
#include "pack/publish/site_writer.h"

namespace fs = std::filesystem;

namespace vorlane::publish {

namespace {

/// The most bytes of an icon put on the download page.
constexpr std::size_t kMaxIconSize = std::size_t{16} << 20;

}  // namespace

/// The page of the `stable` channel, or of this one when stable has none.
Status SiteWriter::make_page() {
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
    if (e.format == PackageKind::kTarGz) continue;
    if (f.version.empty() || compare_versions(e.version, f.version) > 0) f.version = e.version;
  }
  std::string newest_deb;
  std::vector<std::string> current_debs;
  for (const SiteEntry& e : indexed) {
    // A .tar.gz has no release: 1.4 goes with the packages of 1.4-RELEASE.
    const bool current = e.format == PackageKind::kTarGz
                             ? f.version == e.version || f.version.starts_with(e.version + "-")
                             : e.version == f.version;
    if (!current) continue;
    if (f.summary.empty()) f.summary = e.summary;
    const char* label = e.format == PackageKind::kDeb   ? "Debian, Ubuntu (.deb)"
                        : e.format == PackageKind::kRpm ? "Fedora, RHEL, openSUSE (.rpm)"
                                                        : "Any Linux (.tar.gz)";
    f.downloads.push_back({label, e.arch, e.path, e.size, e.sha256});
    f.has_deb = f.has_deb || e.format == PackageKind::kDeb;
    f.has_rpm = f.has_rpm || e.format == PackageKind::kRpm;
    if (e.format == PackageKind::kDeb && newest_deb.empty()) newest_deb = e.path;
    if (e.format == PackageKind::kDeb) current_debs.push_back(e.path);
  }
  if (Status s = read_glibc_floor(current_debs, f); !s) return s;
  if (!newest_deb.empty()) {
    const bool new_deb = std::any_of(plan_.copies.begin(), plan_.copies.end(),
                                     [&](const Copy& c) { return c.path == newest_deb; });
    if (Status s = read_deb_page_facts(o_.site + "/" + newest_deb, new_deb, f); !s) return s;
  }
  return write_file_atomically(scratch_ + "/index.html", download_page(f), 0644);
}

/// What the page says the packages run on: the highest glibc that the
/// .deb packages `debs` declare in their libc6 dependency. None when a
/// package declares none, since the page would then claim too much.
Status SiteWriter::read_glibc_floor(const std::vector<std::string>& debs, PageFacts& f) {
  for (const std::string& deb : debs) {
    Result<std::string> depends = publish_tool(
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
Status SiteWriter::read_deb_page_facts(const std::string& deb, bool new_deb, PageFacts& f) {
  Result<std::string> text =
      publish_tool({tools_["dpkg-deb"], "--showformat=${Description}", "--show", "--", deb});
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

UnpackTools SiteWriter::unpack_tools() const {
  return {tools_["bash"], tools_["tar"], tools_["head"], tools_["dpkg-deb"]};
}

/// Where the members of the .deb `deb` publish reads (the icons, the
/// changelogs) are unpacked in the scratch folder, once a run. The rest
/// stays packed: a small .deb can hold gigabytes of zeros.
Result<std::string> SiteWriter::unpacked(const std::string& deb) {
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

}  // namespace vorlane::publish
