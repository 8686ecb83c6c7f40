// Ed25519 keys and signatures through OpenSSL's libcrypto: a new private
// key, one read from a PEM file, signatures of bytes, and the public key as
// PEM SubjectPublicKeyInfo and as the base64 of its DER.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "formats/base64.h"
#include "pack/core/error.h"

namespace vorlane {

/// An Ed25519 private key.
class Ed25519Key {
 public:
  /// A new random key.
  static Result<Ed25519Key> generate();
  /// The key in the PEM file `path` (PKCS#8, no passphrase), or a refusal
  /// naming the file when it cannot be read or is not an Ed25519 private key.
  static Result<Ed25519Key> load(const std::string& path);

  Ed25519Key(Ed25519Key&&) noexcept;
  Ed25519Key& operator=(Ed25519Key&&) noexcept;
  ~Ed25519Key();

  /// The 64-byte signature of `message`.
  Result<std::string> sign(std::string_view message) const;
  /// The private key as PEM PKCS#8.
  Result<std::string> private_pem() const;
  /// The public key as PEM SubjectPublicKeyInfo.
  Result<std::string> public_pem() const;
  /// The standard base64 (with padding) of the public key's DER SubjectPublicKeyInfo.
  Result<std::string> public_base64() const;

 private:
  struct Impl;
  explicit Ed25519Key(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

/// Writes the private key to the new file `path` as PEM PKCS#8, mode 0600.
/// Refuses a file that exists.
Status write_private_key(const Ed25519Key& key, const std::string& path);

/// The base64 of the DER SubjectPublicKeyInfo of the Ed25519 public key in
/// the PEM file `pem_path`; a refusal naming the file when it cannot be read
/// or holds no Ed25519 public key.
Result<std::string> ed25519_public_key_base64(const std::string& pem_path);

/// Standard base64 with padding.
using formats::base64_encode;

}  // namespace vorlane
