#include "pack/core/ed25519.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "pack/core/files.h"

namespace vorlane {

namespace {

/// Key files are a few hundred bytes; anything far larger is not one.
constexpr std::size_t kMaxKeyFile = std::size_t{64} * 1024;

/// libcrypto's reason for the last failure, and an empty error queue after it.
std::string crypto_reason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown reason";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

/// Never asks for a passphrase: a key that has one is refused.
int no_passphrase(char* /*buf*/, int /*size*/, int /*rwflag*/, void* /*u*/) { return -1; }

/// The PEM file at `path` in a memory BIO.
Result<std::pair<std::vector<std::uint8_t>, BioPtr>> read_pem(const std::string& path) {
  Result<std::vector<std::uint8_t>> bytes = read_file_no_fifo(path);
  if (!bytes) return as_input(bytes.error());
  if (bytes->empty()) return bad_input(path + " is not an Ed25519 key: it is empty");
  if (bytes->size() > kMaxKeyFile) {
    return bad_input(path + " is not an Ed25519 key: it is far too large for one");
  }
  std::pair<std::vector<std::uint8_t>, BioPtr> out{std::move(*bytes), nullptr};
  out.second.reset(BIO_new_mem_buf(out.first.data(), static_cast<int>(out.first.size())));
  if (!out.second) return step_failed("cannot read " + path + ": " + crypto_reason());
  return out;
}

/// What a memory BIO holds, as a string.
std::string bio_text(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

/// The key's algorithm, as libcrypto names it (it has no name for some legacy keys).
std::string type_name(const EVP_PKEY* key) {
  const char* name = EVP_PKEY_get0_type_name(key);
  return name != nullptr ? name : "non-Ed25519";
}

Result<std::string> public_der(EVP_PKEY* key) {
  const int size = i2d_PUBKEY(key, nullptr);
  if (size <= 0) return step_failed("cannot encode the public key: " + crypto_reason());
  std::string der(static_cast<std::size_t>(size), '\0');
  auto* p = reinterpret_cast<unsigned char*>(der.data());
  if (i2d_PUBKEY(key, &p) != size) {
    return step_failed("cannot encode the public key: " + crypto_reason());
  }
  return der;
}

}  // namespace

struct Ed25519Key::Impl {
  PkeyPtr key;
};

Ed25519Key::Ed25519Key(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Ed25519Key::Ed25519Key(Ed25519Key&&) noexcept = default;
Ed25519Key& Ed25519Key::operator=(Ed25519Key&&) noexcept = default;
Ed25519Key::~Ed25519Key() = default;

Result<Ed25519Key> Ed25519Key::generate() {
  PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
  if (!key) return step_failed("cannot make an Ed25519 key: " + crypto_reason());
  return Ed25519Key(std::make_unique<Impl>(Impl{std::move(key)}));
}

Result<Ed25519Key> Ed25519Key::load(const std::string& path) {
  auto pem = read_pem(path);
  if (!pem) return pem.error();
  PkeyPtr key(PEM_read_bio_PrivateKey(pem->second.get(), nullptr, no_passphrase, nullptr));
  if (!key) {
    const std::string reason = crypto_reason();
    return bad_input(path + " is not an Ed25519 private key in PEM without a passphrase (" +
                     reason + "); make one with `publish --new-key DIR`");
  }
  if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
    return bad_input(path + " is not an Ed25519 private key: it is a " + type_name(key.get()) +
                     " key");
  }
  return Ed25519Key(std::make_unique<Impl>(Impl{std::move(key)}));
}

Result<std::string> Ed25519Key::sign(std::string_view message) const {
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  std::size_t size = 64;
  std::string signature(size, '\0');
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, impl_->key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    return step_failed("cannot sign with the Ed25519 key: " + crypto_reason());
  }
  signature.resize(size);
  return signature;
}

Result<std::string> Ed25519Key::private_pem() const {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), impl_->key.get(), nullptr, nullptr, 0, nullptr,
                                       nullptr) != 1) {
    return step_failed("cannot write the Ed25519 key: " + crypto_reason());
  }
  return bio_text(bio.get());
}

Result<std::string> Ed25519Key::public_pem() const {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PUBKEY(bio.get(), impl_->key.get()) != 1) {
    return step_failed("cannot write the Ed25519 public key: " + crypto_reason());
  }
  return bio_text(bio.get());
}

Result<std::string> Ed25519Key::public_base64() const {
  Result<std::string> der = public_der(impl_->key.get());
  if (!der) return der.error();
  return base64_encode(*der);
}

Status write_private_key(const Ed25519Key& key, const std::string& path) {
  Result<std::string> pem = key.private_pem();
  if (!pem) return pem.error();
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return system_failure("make the key file", path);
  Status written =
      write_all(fd, {reinterpret_cast<const std::uint8_t*>(pem->data()), pem->size()}, path);
  if (written && fsync(fd) != 0) written = system_failure("write", path);
  if (close(fd) != 0 && written) written = system_failure("write", path);
  if (!written) unlink(path.c_str());
  return written;
}

Result<std::string> ed25519_public_key_base64(const std::string& pem_path) {
  auto pem = read_pem(pem_path);
  if (!pem) return pem.error();
  PkeyPtr key(PEM_read_bio_PUBKEY(pem->second.get(), nullptr, no_passphrase, nullptr));
  if (!key) {
    const std::string reason = crypto_reason();
    return bad_input(pem_path + " is not a PEM public key (" + reason +
                     "); use the site's feed-key.pub.pem");
  }
  if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
    return bad_input(pem_path + " is not an Ed25519 public key: it is a " + type_name(key.get()) +
                     " key");
  }
  Result<std::string> der = public_der(key.get());
  if (!der) return der.error();
  return base64_encode(*der);
}

}  // namespace vorlane
