#include "ohos/asym/rsa_ops.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include <openssl/err.h>
#include <openssl/rsa.h>

#include "ohos/asym/rsa_key.h"
#include "../common/openssl_cli.h"
#include "../common/peer.h"
#include "rsa_test_keys.h"

namespace tarnwick::ohos::asym {
namespace {

using namespace tarnwick::testing;

const std::string kOaepOpts =
    " -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256 -pkeyopt rsa_mgf1_md:sha256";

// A 2048-bit pair of ours, its documents on disk for the `openssl` command,
// and a second key for "made under another key" cases.
class RsaOps : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto pair = generate_rsa_key_pair(2048);
    ASSERT_TRUE(pair.has_value());
    dir_ = new TempDir();
    pub_path_ = new std::string(dir_->write("pub.der", pair->public_der));
    priv_path_ = new std::string(dir_->write("priv.der", pair->private_der));
    auto pub = rsa_public_key_from_der(pair->public_der);
    auto priv = rsa_private_key_from_der(pair->private_der);
    ASSERT_TRUE(pub.has_value()) << pub.error().display();
    ASSERT_TRUE(priv.has_value()) << priv.error().display();
    pub_ = pub->release();
    priv_ = priv->release();
    other_ = openssl_rsa_key(2048).release();
    ASSERT_NE(other_, nullptr);
  }
  static void TearDownTestSuite() {
    EVP_PKEY_free(pub_);
    EVP_PKEY_free(priv_);
    EVP_PKEY_free(other_);
    delete pub_path_;
    delete priv_path_;
    delete dir_;
  }

  // openssl runs `args` with the input file holding `in`; returns the output
  // file's bytes, or nullopt (and a failure saying what the command printed)
  // when the command failed.
  // (`openssl dgst` takes its input file as the last argument, not -in.)
  static std::optional<Bytes> openssl(const std::string& args, ByteView in) {
    const std::string in_path = dir_->write("in.bin", in);
    const std::string out_path = dir_->file("out.bin");
    const bool positional = args.rfind("dgst", 0) == 0;
    CommandResult r = run_command("openssl " + args + " -out " + out_path + (positional ? " " : " -in ") + in_path);
    if (r.status != 0) {
      ADD_FAILURE() << "openssl " << args << "\n" << r.output;
      return std::nullopt;
    }
    return dir_->read("out.bin");
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::string* pub_path_ = nullptr;
  static inline std::string* priv_path_ = nullptr;
  static inline EVP_PKEY* pub_ = nullptr;
  static inline EVP_PKEY* priv_ = nullptr;
  static inline EVP_PKEY* other_ = nullptr;
};

TEST_F(RsaOps, OaepInteroperatesWithOpenssl) {
  for (std::size_t len : {1u, 32u, 190u}) {
    SCOPED_TRACE(len);
    Bytes data = pattern(len);
    data[0] = 0;  // leading zero bytes survive
    auto ct = rsa_oaep_encrypt(pub_, data);
    ASSERT_TRUE(ct.has_value()) << ct.error().display();
    EXPECT_EQ(ct->size(), 256u);
    auto pt = openssl("pkeyutl -decrypt -keyform DER -inkey " + *priv_path_ + kOaepOpts, *ct);
    ASSERT_TRUE(pt.has_value());
    EXPECT_EQ(*pt, data);

    auto theirs = openssl("pkeyutl -encrypt -pubin -keyform DER -inkey " + *pub_path_ + kOaepOpts, data);
    ASSERT_TRUE(theirs.has_value());
    auto back = rsa_oaep_decrypt(priv_, *theirs);
    ASSERT_TRUE(back.has_value()) << back.error().display();
    EXPECT_EQ(*back, data);
  }
}

TEST_F(RsaOps, OaepEncryptionLimitAndFreshSeeds) {
  const Bytes data = pattern(190);
  auto a = rsa_oaep_encrypt(pub_, data);
  auto b = rsa_oaep_encrypt(pub_, data);
  ASSERT_TRUE(a.has_value() && b.has_value());
  EXPECT_NE(*a, *b);
  for (std::size_t len : {191u, 256u, 1000u}) {
    SCOPED_TRACE(len);
    auto ct = rsa_oaep_encrypt(pub_, pattern(len));
    ASSERT_FALSE(ct.has_value());
    EXPECT_EQ(ct.error().display(), "message too long");
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

TEST_F(RsaOps, OaepOnSmallModuli) {
  // k = 66 leaves room for the empty message only; k = 64 for none.
  for (int half : {264, 256}) {
    SCOPED_TRACE(half * 2);
    auto key = rsa_private_key_from_der(rsa_private_key_der(values_from_primes(half, half)));
    ASSERT_TRUE(key.has_value()) << key.error().display();
    auto empty = rsa_oaep_encrypt(key->get(), {});
    auto one = rsa_oaep_encrypt(key->get(), Bytes{1});
    ASSERT_FALSE(one.has_value());
    EXPECT_EQ(one.error().display(), "message too long");
    if (half == 264) {
      ASSERT_TRUE(empty.has_value()) << empty.error().display();
      auto back = rsa_oaep_decrypt(key->get(), *empty);
      ASSERT_TRUE(back.has_value());
      EXPECT_TRUE(back->empty());
    } else {
      ASSERT_FALSE(empty.has_value());
      EXPECT_EQ(empty.error().display(), "message too long");
    }
  }
}

TEST_F(RsaOps, OaepDecryptionFailuresAllReadTheSame) {
  const Bytes data = pattern(20);
  // A ciphertext whose first byte is zero: OpenSSL alone would take its
  // k - 1 byte tail as the same value.
  Bytes leading_zero;
  for (int i = 0; i < 20000 && leading_zero.empty(); ++i) {
    auto ct = rsa_oaep_encrypt(pub_, data);
    ASSERT_TRUE(ct.has_value());
    if ((*ct)[0] == 0) leading_zero = *ct;
  }
  ASSERT_FALSE(leading_zero.empty());
  ASSERT_TRUE(rsa_oaep_decrypt(priv_, leading_zero).has_value());
  const Bytes tail(leading_zero.begin() + 1, leading_zero.end());
  {
    ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, priv_, nullptr));
    ASSERT_EQ(EVP_PKEY_decrypt_init(ctx.get()), 1);
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING);
    EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), EVP_sha256());
    EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), EVP_sha256());
    Bytes out(256);
    std::size_t out_len = out.size();
    EXPECT_EQ(EVP_PKEY_decrypt(ctx.get(), out.data(), &out_len, tail.data(), tail.size()), 1)
        << "OpenSSL no longer takes k - 1 bytes; the case below still must fail";
    ERR_clear_error();
  }
  auto encrypted = rsa_oaep_encrypt(pub_, data);
  auto encrypted_other = rsa_oaep_encrypt(other_, data);
  ASSERT_TRUE(encrypted.has_value()) << encrypted.error().display();
  ASSERT_TRUE(encrypted_other.has_value()) << encrypted_other.error().display();
  const Bytes good = *encrypted;
  Bytes flipped = good;
  flipped[100] ^= 0x01;
  const Bytes n = bn_bytes(pkey_bn(pub_, "n").get());
  const Bytes under_other = *encrypted_other;
  struct Case {
    const char* name;
    Bytes ct;
  };
  const Case cases[] = {
      {"k_minus_1_with_leading_zero_dropped", tail},
      {"k_minus_1_truncated", Bytes(good.begin(), good.end() - 1)},
      {"k_plus_1", concat(Bytes{0}, good)},
      {"empty", {}},
      {"value_equal_to_n", n},
      {"value_all_ones", Bytes(256, 0xFF)},
      {"bad_padding", flipped},
      {"zero", Bytes(256, 0)},
      {"made_under_another_key", under_other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto pt = rsa_oaep_decrypt(priv_, c.ct);
    ASSERT_FALSE(pt.has_value());
    EXPECT_EQ(pt.error().display(), "decryption error");
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

TEST_F(RsaOps, Pkcs1v15SignaturesMatchOpenssl) {
  struct Case {
    const char* name;
    RsaDigest digest;
  };
  const Case cases[] = {{"sha1", RsaDigest::kSha1}, {"sha256", RsaDigest::kSha256}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::size_t len : {1u, 1000u}) {
      const Bytes data = pattern(len, 3);
      auto sig = rsa_pkcs1v15_sign(priv_, c.digest, data);
      ASSERT_TRUE(sig.has_value()) << sig.error().display();
      EXPECT_EQ(sig->size(), 256u);
      // PKCS#1 v1.5 is deterministic: OpenSSL's signature is the same bytes.
      auto theirs = openssl(std::string("dgst -") + c.name + " -keyform DER -sign " + *priv_path_, data);
      ASSERT_TRUE(theirs.has_value());
      EXPECT_EQ(*sig, *theirs);
      const std::string sig_path = dir_->write("sig.bin", *sig);
      const std::string data_path = dir_->write("data.bin", data);
      CommandResult v = run_command(std::string("openssl dgst -") + c.name + " -keyform DER -verify " +
                                    *pub_path_ + " -signature " + sig_path + " " + data_path);
      EXPECT_NE(v.output.find("Verified OK"), std::string::npos) << v.output;
      EXPECT_TRUE(rsa_pkcs1v15_verify(pub_, c.digest, data, *theirs));
    }
  }
}

TEST_F(RsaOps, Pkcs1v15VerificationRefusals) {
  const Bytes data = pattern(50);
  const auto signed_by_openssl = openssl("dgst -sha256 -keyform DER -sign " + *priv_path_, data);
  ASSERT_TRUE(signed_by_openssl.has_value());
  const Bytes sig = *signed_by_openssl;
  Bytes tampered = sig;
  tampered[200] ^= 0x80;
  Bytes other_data = data;
  other_data[0] ^= 1;
  const Bytes n = bn_bytes(pkey_bn(pub_, "n").get());
  struct Case {
    const char* name;
    RsaDigest digest;
    Bytes data;
    Bytes sig;
    EVP_PKEY* key;
  };
  const Case cases[] = {
      {"other_digest", RsaDigest::kSha1, data, sig, pub_},
      {"other_data", RsaDigest::kSha256, other_data, sig, pub_},
      {"tampered", RsaDigest::kSha256, data, tampered, pub_},
      {"short_by_one", RsaDigest::kSha256, data, Bytes(sig.begin() + 1, sig.end()), pub_},
      {"long_by_one", RsaDigest::kSha256, data, concat(Bytes{0}, sig), pub_},
      {"empty", RsaDigest::kSha256, data, {}, pub_},
      {"value_equal_to_n", RsaDigest::kSha256, data, n, pub_},
      {"value_all_ones", RsaDigest::kSha256, data, Bytes(256, 0xFF), pub_},
      {"other_key", RsaDigest::kSha256, data, sig, other_},
  };
  EXPECT_TRUE(rsa_pkcs1v15_verify(pub_, RsaDigest::kSha256, data, sig));
  EXPECT_TRUE(rsa_pkcs1v15_verify(priv_, RsaDigest::kSha256, data, sig));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(rsa_pkcs1v15_verify(c.key, c.digest, c.data, c.sig));
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

// k = 60: room for SHA-1's 15 + 20 + 11 bytes, not for SHA-256's 19 + 32 + 11.
TEST_F(RsaOps, Pkcs1v15SigningNeedsRoomForTheDigestInfo) {
  auto key = rsa_private_key_from_der(rsa_private_key_der(values_from_primes(240, 240)));
  ASSERT_TRUE(key.has_value()) << key.error().display();
  const Bytes data = pattern(10);
  auto too_long = rsa_pkcs1v15_sign(key->get(), RsaDigest::kSha256, data);
  ASSERT_FALSE(too_long.has_value());
  EXPECT_EQ(too_long.error().display(), "message too long");
  EXPECT_EQ(ERR_peek_error(), 0u);
  auto sig = rsa_pkcs1v15_sign(key->get(), RsaDigest::kSha1, data);
  ASSERT_TRUE(sig.has_value()) << sig.error().display();
  EXPECT_EQ(sig->size(), 60u);
  ossl::MdCtxPtr md(EVP_MD_CTX_new());
  ASSERT_EQ(EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha1(), nullptr, key->get()), 1);
  EXPECT_EQ(EVP_DigestVerify(md.get(), sig->data(), sig->size(), data.data(), data.size()), 1);
}

}  // namespace
}  // namespace tarnwick::ohos::asym
