#include "pack/publish/signing.h"

#include <gtest/gtest.h>

namespace vorlane::publish {
namespace {

std::string sec(const std::string& length, const std::string& algo, const std::string& curve = "") {
  return "sec:u:" + length + ":" + algo + ":4C8D2A52D5C332D0:1796684517:::u:::scSC:::+::" + curve +
         ":::0:\nfpr:::::::::E44A2F25A715DB1FC1A9D33A4C8D2A52D5C332D0:\n"
         "uid:u::::1796684517::2F16::tiny signing key::::::::::0:\n";
}

std::string self_signature(const std::string& sigclass, int digest) {
  return ":signature packet: algo 1, keyid 4C8D2A52D5C332D0\n\tversion 4, created 1796684517, "
         "md5len 0, sigclass 0x" +
         sigclass + "\n\tdigest algo " + std::to_string(digest) + ", begin of digest 4d 38\n";
}

TEST(Signing, CheckKey) {
  const struct {
    const char* what;
    std::string colons;
    std::string packets;
    const char* refusal;  ///< nullptr: accepted
  } rows[] = {
      {"RSA-3072, SHA-512 binding", sec("3072", "1"), self_signature("13", 10), nullptr},
      {"RSA-4096", sec("4096", "1"), self_signature("13", 8), nullptr},
      {"Ed25519", sec("255", "22", "ed25519"), self_signature("13", 10), nullptr},
      {"a SHA-1 signature by someone else is no binding", sec("3072", "1"), self_signature("00", 2),
       nullptr},
      {"RSA-2048", sec("2048", "1"), "", "RSA of 2048 bits"},
      {"DSA", sec("2048", "17"), "", "of algorithm 17"},
      {"ECDSA on another curve", sec("256", "19", "nistp256"), "", "(nistp256)"},
      {"a SHA-1 user-id binding", sec("3072", "1"), self_signature("13", 2), "SHA-1"},
      {"a SHA-1 subkey binding", sec("3072", "1"),
       self_signature("13", 10) + self_signature("18", 2), "SHA-1"},
      {"no secret key", "pub:u:3072:1:X:::\n", "", "no secret key"},
      {"two secret keys", sec("3072", "1") + sec("3072", "1"), "", "2 secret keys"},
  };
  for (const auto& row : rows) {
    Result<std::string> fingerprint = check_key(row.colons, row.packets);
    if (row.refusal == nullptr) {
      ASSERT_TRUE(fingerprint) << row.what << ": " << fingerprint.error().message;
      EXPECT_EQ(*fingerprint, "E44A2F25A715DB1FC1A9D33A4C8D2A52D5C332D0") << row.what;
    } else {
      ASSERT_FALSE(fingerprint) << row.what;
      EXPECT_EQ(fingerprint.error().kind, ErrorKind::kBadInput) << row.what;
      EXPECT_NE(fingerprint.error().message.find(row.refusal), std::string::npos)
          << row.what << ": " << fingerprint.error().message;
    }
  }
}

}  // namespace
}  // namespace vorlane::publish
