#include "pack/core/ed25519.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace vorlane {
namespace {

namespace fs = std::filesystem;

class Ed25519Test : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("ed25519-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  fs::path dir_;
};

bool verifies(const std::string& public_pem, const std::string& message, const std::string& sig) {
  BIO* bio = BIO_new_mem_buf(public_pem.data(), static_cast<int>(public_pem.size()));
  EVP_PKEY* key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const bool ok =
      key != nullptr && EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, key) == 1 &&
      EVP_DigestVerify(ctx, reinterpret_cast<const unsigned char*>(sig.data()), sig.size(),
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(key);
  return ok;
}

TEST_F(Ed25519Test, KeyWrittenAndLoadedAgainSignsWhatItsPublicKeyVerifies) {
  Result<Ed25519Key> made = Ed25519Key::generate();
  ASSERT_TRUE(made) << made.error().message;
  const std::string path = (dir_ / "key.pem").string();
  ASSERT_TRUE(write_private_key(*made, path));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(write_private_key(*made, path)) << "an existing key file is never replaced";

  Result<Ed25519Key> loaded = Ed25519Key::load(path);
  ASSERT_TRUE(loaded) << loaded.error().message;
  Result<std::string> sig = loaded->sign("vorlane-update 1\n");
  ASSERT_TRUE(sig);
  EXPECT_EQ(sig->size(), 64u);
  EXPECT_TRUE(verifies(*made->public_pem(), "vorlane-update 1\n", *sig));
  EXPECT_FALSE(verifies(*made->public_pem(), "vorlane-update 2\n", *sig));

  // The public key file's base64 is the key's own, and a SubjectPublicKeyInfo
  // of Ed25519 (its DER always starts with these 12 bytes).
  const std::string pub = write("key.pub.pem", *loaded->public_pem());
  Result<std::string> b64 = ed25519_public_key_base64(pub);
  ASSERT_TRUE(b64) << b64.error().message;
  EXPECT_EQ(*b64, *made->public_base64());
  EXPECT_EQ(b64->rfind("MCowBQYDK2VwAyEA", 0), 0u) << *b64;
}

TEST_F(Ed25519Test, RefusesWhatIsNotAnEd25519KeyNamingTheFile) {
  EVP_PKEY* ec = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  ASSERT_NE(ec, nullptr);
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, ec, nullptr, nullptr, 0, nullptr, nullptr);
  PEM_write_bio_PUBKEY(bio, ec);
  char* data = nullptr;
  // The size first: it is the call that sets `data`.
  const long size = BIO_get_mem_data(bio, &data);
  const std::string ec_pems(data, static_cast<std::size_t>(size));
  BIO_free(bio);
  EVP_PKEY_free(ec);
  const std::string ec_pub = ec_pems.substr(ec_pems.find("-----BEGIN PUBLIC KEY"));
  const std::string ed_pub = *(*Ed25519Key::generate()).public_pem();

  struct Case {
    const char* name;
    std::string text;
  };
  const Case private_cases[] = {
      {"ec.pem", ec_pems}, {"public.pem", ed_pub}, {"text.pem", "not a key\n"}, {"empty.pem", ""}};
  for (const Case& c : private_cases) {
    const std::string path = write(c.name, c.text);
    Result<Ed25519Key> key = Ed25519Key::load(path);
    ASSERT_FALSE(key) << c.name;
    EXPECT_EQ(key.error().kind, ErrorKind::kBadInput) << c.name;
    EXPECT_NE(key.error().message.find(path), std::string::npos) << key.error().message;
  }
  const Case public_cases[] = {{"ec.pub.pem", ec_pub}, {"junk.pub.pem", "-----BEGIN PUBLIC KEY\n"}};
  for (const Case& c : public_cases) {
    const std::string path = write(c.name, c.text);
    Result<std::string> b64 = ed25519_public_key_base64(path);
    ASSERT_FALSE(b64) << c.name;
    EXPECT_EQ(b64.error().kind, ErrorKind::kBadInput) << c.name;
    EXPECT_NE(b64.error().message.find(path), std::string::npos) << b64.error().message;
  }
  EXPECT_FALSE(Ed25519Key::load((dir_ / "missing.pem").string()));
}

TEST(Base64Test, PadsAsTheStandardSays) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}};
  for (const auto& [in, out] : cases) EXPECT_EQ(base64_encode(in), out) << in;
}

}  // namespace
}  // namespace vorlane
