// The site's signing key: checked, made, and used through GnuPG in a
// private home folder of the run's own, so the user's keyrings are never
// read or changed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pack/core/error.h"

namespace vorlane::publish {

/// What `gpg --with-colons --list-secret-keys` and `gpg --list-packets` of
/// the public key say about an imported key. Returns its fingerprint, or
/// refuses: no secret key, more than one, a primary key other than
/// RSA of 3072 bits or more or Ed25519, or a self-signature (binding or
/// user id) made with SHA-1 or weaker, which apt's newer verifier refuses.
Result<std::string> check_key(std::string_view colons, std::string_view packets);

/// Signs with one secret key, imported from an exported key file into a
/// new private GnuPG home. The home and its agent go with the object; the
/// homes of runs killed before are removed (their agents ended) when the
/// next one is made.
class Signer {
 public:
  /// Imports and checks (see `check_key`) the key in `key_file` (armored or binary, no passphrase).
  static Result<Signer> open(const std::string& key_file);
  Signer(Signer&& other) noexcept;
  Signer& operator=(Signer&&) = delete;
  ~Signer();

  const std::string& fingerprint() const { return fingerprint_; }
  const std::string& home() const { return home_; }

  /// `out` = `in` clear-signed (InRelease).
  Status clearsign(const std::string& in, const std::string& out) const;
  /// `out` = a detached, armored signature of `in` (Release.gpg, repomd.xml.asc).
  Status detach_sign(const std::string& in, const std::string& out) const;
  /// Signs the .rpm in place with `rpmsign --addsign`.
  Status sign_rpm(const std::string& rpm) const;
  /// The public key, armored or binary.
  Result<std::vector<std::uint8_t>> public_key(bool armored) const;

 private:
  friend Result<std::string> make_new_key(const std::string& dir, const std::string& user_id);
  Signer(std::string home, std::string gpg, int lock_fd)
      : home_(std::move(home)), gpg_(std::move(gpg)), lock_fd_(lock_fd) {}
  Status run_gpg(std::vector<std::string> args, std::string* out = nullptr) const;
  std::string home_;  ///< empty once moved from
  std::string gpg_;
  std::string fingerprint_;
  int lock_fd_ = -1;  ///< holds the home's `lock`: a live run's home is not cleaned away
};

/// Makes a new RSA-3072 signing key for `user_id` (no expiry, SHA-512
/// self-signatures, no passphrase) and writes DIR/signing-key.asc (the
/// secret key, mode 0600), DIR/KEY.asc and DIR/KEY.gpg. DIR must be new or
/// empty. Returns the secret key file's path.
Result<std::string> make_new_key(const std::string& dir, const std::string& user_id);

}  // namespace vorlane::publish
