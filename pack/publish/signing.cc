#include "pack/publish/signing.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <utility>

#include "pack/core/background_process.h"
#include "pack/core/files.h"
#include "pack/core/process.h"
#include "pack/core/strings.h"
#include "pack/core/tools.h"

namespace fs = std::filesystem;

namespace vorlane::publish {

namespace {

/// Seconds a gpg or rpmsign run may take; key generation on a busy machine
/// is the slowest of them.
constexpr int kGpgTimeout = 300;

ProcessOptions gpg_options(const std::string& home) {
  ProcessOptions options;
  options.env = {{"GNUPGHOME", home}, {"LC_ALL", "C"}};
  options.timeout_seconds = kGpgTimeout;
  return options;
}

std::string ended(const ProcessResult& r) {
  return r.describe_end(kGpgTimeout) + tail_lines(r.err.empty() ? r.out : r.err, 8);
}

/// This user's GnuPG homes are /tmp/vorlane-gpg-UID-XXXXXX: in /tmp, as
/// the agent's socket path must stay short; by a fixed pattern, so that a
/// later run finds what a killed one left.
std::string home_prefix() { return "vorlane-gpg-" + std::to_string(getuid()) + "-"; }

/// Ends the agent of `home` and removes the folder (not following links).
void remove_home(const std::string& home) {
  const std::string gpgconf = find_program("gpgconf", std::getenv("PATH"));
  if (!gpgconf.empty()) {
    run_process({gpgconf, "--homedir", home, "--kill", "all"}, gpg_options(home));
  }
  std::error_code ec;
  fs::remove_all(home, ec);
}

/// Removes this user's homes whose run ended without removing its own
/// (killed outright): a passphrase-less secret key and a running agent
/// would stay there for any later job of this user. A live run holds the
/// `lock` file of its home; a folder of another user, a link, and a home
/// still being made (no `lock` yet) are left alone.
void remove_abandoned_homes() {
  const std::string prefix = home_prefix();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/tmp", ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix)) continue;
    const std::string home = "/tmp/" + name;
    const int dir = open(home.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) continue;
    struct stat st {};
    const int lock = fstat(dir, &st) == 0 && st.st_uid == getuid()
                         ? openat(dir, "lock", O_RDWR | O_NOFOLLOW | O_CLOEXEC)
                         : -1;
    close(dir);
    if (lock < 0) continue;
    if (flock(lock, LOCK_EX | LOCK_NB) == 0) remove_home(home);
    close(lock);
  }
}

/// Starts a watcher that waits for the `lock` of `home` and, once it gets
/// it (this run ended, however: killed outright too) and the home is still
/// there, ends its agent and removes it. A normal end has removed the home
/// already; the next run's `remove_abandoned_homes` covers a watcher that
/// could not start or was killed with this run.
void watch_home(const std::string& home) {
  remove_when_released(home, home + "/lock", find_program("flock", std::getenv("PATH")),
                       R"(gpgconf --homedir "$1" --kill all >/dev/null 2>&1)");
}

/// A new private home, and the descriptor that holds its `lock` while this
/// run lives. The lock is in place before the home can hold a key.
Result<std::pair<std::string, int>> make_home() {
  remove_abandoned_homes();
  std::string pattern = "/tmp/" + home_prefix() + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    return system_failure("make the GnuPG folder", pattern);
  }
  // Locked under another name, then renamed: a cleaner never sees it unlocked.
  const std::string fresh = pattern + "/lock.new";
  const int fd = open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 ||
      rename(fresh.c_str(), (pattern + "/lock").c_str()) != 0) {
    const std::string reason = system_error("lock", fresh);
    if (fd >= 0) close(fd);
    std::error_code ec;
    fs::remove_all(pattern, ec);
    return step_failed(reason);
  }
  watch_home(pattern);
  return std::pair<std::string, int>(pattern, fd);
}

}  // namespace

Result<std::string> check_key(std::string_view colons, std::string_view packets) {
  std::string fingerprint;
  int secret_keys = 0;
  bool after_sec = false;
  for (const std::string& line : split_lines(colons)) {
    const std::vector<std::string> f = split(line, ':');
    if (f[0] == "sec") {
      ++secret_keys;
      after_sec = true;
      const std::string length = f.size() > 2 ? f[2] : "";
      const std::string algo = f.size() > 3 ? f[3] : "";
      const std::string curve = f.size() > 16 ? f[16] : "";
      const bool rsa = algo == "1" && leading_number(length) >= 3072;
      const bool ed25519 = algo == "22" && curve == "ed25519";
      if (!rsa && !ed25519) {
        return bad_input(
            "the signing key is " +
            (algo == "1" ? "RSA of " + length + " bits"
                         : "of algorithm " + algo + (curve.empty() ? "" : " (" + curve + ")")) +
            ": use RSA of 3072 bits or more, or Ed25519 (--new-key DIR makes one)");
      }
    } else if (f[0] == "fpr" && after_sec && f.size() > 9) {
      fingerprint = f[9];
      after_sec = false;
    } else if (f[0] != "fpr") {
      after_sec = false;
    }
  }
  if (secret_keys == 0) return bad_input("the signing key file holds no secret key");
  if (secret_keys > 1) {
    return bad_input("the signing key file holds " + std::to_string(secret_keys) +
                     " secret keys: export just the one that signs the site");
  }
  if (fingerprint.empty()) return bad_input("gpg showed no fingerprint for the signing key");
  // Self-signatures (sigclass 0x10-0x13 on user ids, 0x18 and 0x19 on
  // subkeys, 0x1f on the key) must not rest on SHA-1, MD5 or RIPEMD-160.
  bool self_signature = false;
  for (const std::string& line : split_lines(packets)) {
    if (line.find("sigclass 0x") != std::string::npos) {
      const std::string cls = line.substr(line.find("sigclass 0x") + 11, 2);
      self_signature = cls == "10" || cls == "11" || cls == "12" || cls == "13" || cls == "18" ||
                       cls == "19" || cls == "1f";
    } else if (self_signature && line.find("digest algo ") != std::string::npos) {
      const int algo =
          leading_number(std::string_view(line).substr(line.find("digest algo ") + 12));
      if (algo == 1 || algo == 2 || algo == 3) {
        return bad_input("the signing key " + fingerprint +
                         " has a self-signature made with SHA-1 or weaker, which apt refuses: "
                         "make a new key (--new-key DIR)");
      }
      self_signature = false;
    }
  }
  return fingerprint;
}

Result<Signer> Signer::open(const std::string& key_file) {
  if (Result<std::vector<std::uint8_t>> key = read_file_no_fifo(key_file); !key) {
    return as_input(with_context("the signing key: ", key.error()));
  }
  const std::string gpg = find_program("gpg", std::getenv("PATH"));
  if (gpg.empty()) return bad_input("gpg is missing (Debian package gnupg): it signs the site");
  Result<std::pair<std::string, int>> home = make_home();
  if (!home) return home.error();
  Signer signer(home->first, gpg, home->second);
  const std::string absolute = fs::absolute(key_file).string();
  if (Status imported = signer.run_gpg({"--import", absolute}); !imported) {
    return as_input(with_context("the signing key file " + key_file + " could not be imported: ",
                                 imported.error()));
  }
  std::string colons;
  std::string packets;
  std::string exported;
  if (Status s = signer.run_gpg({"--with-colons", "--list-secret-keys"}, &colons); !s) {
    return s.error();
  }
  const std::string public_file = signer.home_ + "/public.gpg";
  if (Status s = signer.run_gpg({"--output", public_file, "--export"}); !s) return s.error();
  if (Status s = signer.run_gpg({"--list-packets", public_file}, &packets); !s) return s.error();
  Result<std::string> fingerprint = check_key(colons, packets);
  if (!fingerprint) return fingerprint.error();
  signer.fingerprint_ = *fingerprint;
  return signer;
}

Signer::Signer(Signer&& other) noexcept
    : home_(std::move(other.home_)),
      gpg_(std::move(other.gpg_)),
      fingerprint_(std::move(other.fingerprint_)),
      lock_fd_(std::exchange(other.lock_fd_, -1)) {
  other.home_.clear();
}

Signer::~Signer() {
  if (!home_.empty()) remove_home(home_);
  if (lock_fd_ >= 0) close(lock_fd_);
}

Status Signer::run_gpg(std::vector<std::string> args, std::string* out) const {
  std::vector<std::string> argv = {
      gpg_, "--batch",       "--no-tty", "--pinentry-mode",    "loopback", "--passphrase",
      "",   "--digest-algo", "SHA512",   "--cert-digest-algo", "SHA512"};
  if (!fingerprint_.empty()) {
    argv.emplace_back("--local-user");
    argv.push_back(fingerprint_);
  }
  argv.insert(argv.end(), args.begin(), args.end());
  const ProcessResult r = run_process(argv, gpg_options(home_));
  if (!r.ok()) return step_failed("gpg " + args[0] + " " + ended(r));
  if (out != nullptr) *out = r.out;
  return done();
}

Status Signer::clearsign(const std::string& in, const std::string& out) const {
  return run_gpg({"--yes", "--output", out, "--clearsign", in});
}

Status Signer::detach_sign(const std::string& in, const std::string& out) const {
  return run_gpg({"--yes", "--armor", "--output", out, "--detach-sign", in});
}

Status Signer::sign_rpm(const std::string& rpm) const {
  const std::string rpmsign = find_program("rpmsign", std::getenv("PATH"));
  if (rpmsign.empty()) return step_failed("rpmsign is missing (Debian package rpm)");
  const ProcessResult r =
      run_process({rpmsign, "--define", "_gpg_name " + fingerprint_, "--define",
                   "_gpg_path " + home_, "--define", "__gpg " + gpg_, "--define",
                   "_gpg_sign_cmd_extra_args --batch --pinentry-mode loopback --digest-algo SHA512",
                   "--addsign", rpm},
                  gpg_options(home_));
  if (!r.ok()) return step_failed("rpmsign --addsign " + rpm + " " + ended(r));
  return done();
}

Result<std::vector<std::uint8_t>> Signer::public_key(bool armored) const {
  std::string out;
  std::vector<std::string> args = {"--export"};
  if (armored) args.insert(args.begin(), "--armor");
  args.push_back(fingerprint_);
  if (Status s = run_gpg(args, &out); !s) return s.error();
  if (out.empty()) return step_failed("gpg exported no public key for " + fingerprint_);
  return std::vector<std::uint8_t>(out.begin(), out.end());
}

Result<std::string> make_new_key(const std::string& dir, const std::string& user_id) {
  std::error_code ec;
  if (fs::exists(dir, ec) && !(fs::is_directory(dir, ec) && fs::is_empty(dir, ec))) {
    return bad_input("--new-key " + dir +
                     " is not a new or empty folder: a key is never written over another");
  }
  const std::string gpg = find_program("gpg", std::getenv("PATH"));
  if (gpg.empty()) return bad_input("gpg is missing (Debian package gnupg): it makes the key");
  Result<std::pair<std::string, int>> home = make_home();
  if (!home) return home.error();
  Signer maker(home->first, gpg, home->second);
  if (Status s = maker.run_gpg({"--quick-generate-key", user_id, "rsa3072", "sign", "never"}); !s) {
    return s.error();
  }
  std::string colons;
  if (Status s = maker.run_gpg({"--with-colons", "--list-secret-keys"}, &colons); !s) {
    return s.error();
  }
  Result<std::string> fingerprint = check_key(colons, "");
  if (!fingerprint) return as_step(with_context("the new key: ", fingerprint.error()));
  std::string secret;
  if (Status s = maker.run_gpg({"--armor", "--export-secret-keys", *fingerprint}, &secret); !s) {
    return s.error();
  }
  maker.fingerprint_ = *fingerprint;
  Result<std::vector<std::uint8_t>> armored = maker.public_key(true);
  if (!armored) return armored.error();
  Result<std::vector<std::uint8_t>> binary = maker.public_key(false);
  if (!binary) return binary.error();
  fs::create_directories(dir, ec);
  if (ec) return step_failed("cannot make " + dir + ": " + ec.message());
  const std::string secret_path = dir + "/signing-key.asc";
  const std::vector<std::uint8_t> secret_bytes(secret.begin(), secret.end());
  Status written = write_file_atomically(secret_path, secret_bytes, 0600);
  if (written) written = write_file_atomically(dir + "/KEY.asc", *armored, 0644);
  if (written) written = write_file_atomically(dir + "/KEY.gpg", *binary, 0644);
  if (!written) return written.error();
  return secret_path;
}

}  // namespace vorlane::publish
