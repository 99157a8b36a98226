// The signature services against the `openssl` command: SM2 with SM3 (with
// and without the user digest Z) and RSASSA-PKCS1-v1_5 with SHA-1/SHA-256,
// signatures made by either side checked by the other, and the failure
// tables of both services.
#include "ohos/asym/sign.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "../common/openssl_cli.h"
#include "../common/peer.h"
#include "rsa_test_keys.h"
#include "support/base64.h"
#include "support/hex.h"

namespace tarnwick::ohos::asym {
namespace {

using tarnwick::testing::CommandResult;
using tarnwick::testing::run_command;
using tarnwick::testing::TempDir;
using tarnwick::testing::unhex;

constexpr const char* kN = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string b64(ByteView b) { return base64::encode(b); }
Bytes unb64(const std::string& s) { return base64::decode(s).value(); }
Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Keys made by the `openssl` command, as DER files and Base64 texts.
class SignService : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    auto must = [](const std::string& cmd) {
      CommandResult r = run_command(cmd);
      ASSERT_EQ(r.status, 0) << cmd << "\n" << r.output;
    };
    const std::string d = dir_->file("");
    must("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out " + d + "sm2.pem");
    must("openssl pkcs8 -topk8 -nocrypt -in " + d + "sm2.pem -outform DER -out " + d + "sm2.p8");
    must("openssl ec -in " + d + "sm2.pem -outform DER -out " + d + "sm2.sec1");
    must("openssl pkey -in " + d + "sm2.pem -pubout -outform DER -out " + d + "sm2.spki");
    must("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out " + d + "rsa.pem");
    must("openssl pkcs8 -topk8 -nocrypt -in " + d + "rsa.pem -outform DER -out " + d + "rsa.p8");
    must("openssl rsa -in " + d + "rsa.pem -traditional -outform DER -out " + d + "rsa.pkcs1");
    must("openssl pkey -in " + d + "rsa.pem -pubout -outform DER -out " + d + "rsa.spki");
    must("openssl rsa -in " + d + "rsa.pem -RSAPublicKey_out -outform DER -out " + d + "rsa.pub1");
    keys_ = new Keys{b64(dir_->read("sm2.p8")),  b64(dir_->read("sm2.sec1")), b64(dir_->read("sm2.spki")),
                     b64(dir_->read("rsa.p8")),  b64(dir_->read("rsa.pkcs1")), b64(dir_->read("rsa.spki")),
                     b64(dir_->read("rsa.pub1"))};
  }
  static void TearDownTestSuite() {
    delete keys_;
    delete dir_;
  }

  // openssl_ok runs `args` after "openssl " and answers whether it succeeded.
  static bool openssl_ok(const std::string& args) { return run_command("openssl " + args).status == 0; }
  static std::string path(const std::string& name) { return dir_->file(name); }

  struct Keys {
    std::string sm2_pkcs8, sm2_sec1, sm2_spki, rsa_pkcs8, rsa_pkcs1, rsa_spki, rsa_pkcs1_public;
  };
  static inline TempDir* dir_ = nullptr;
  static inline Keys* keys_ = nullptr;
};

// ------------------------------------------------------------ SM2 interop

TEST_F(SignService, Sm2SignaturesVerifyWithOpenssl) {
  const Bytes data = bytes_of("the quick brown fox");
  dir_->write("data", data);
  struct Case {
    const char* name;
    SignAlgorithm algorithm;
    const std::string* key;
    std::string user_id;
    std::string openssl_verify;  // arguments after the key
  };
  const std::string spki = " -pubin -keyform DER -inkey " + path("sm2.spki") + " -sigfile " + path("sig");
  const std::string z_default = "pkeyutl -verify -rawin -digest sm3 -pkeyopt distid:1234567812345678";
  const std::string digest_only = "pkeyutl -verify -in " + path("e");
  const Case cases[] = {
      {"sm3withsm2_empty_id", SignAlgorithm::SM3WithSM2, &keys_->sm2_pkcs8, "", z_default + " -in " + path("data")},
      {"sm3withsm2_default_id", SignAlgorithm::SM3WithSM2, &keys_->sm2_pkcs8, "1234567812345678",
       z_default + " -in " + path("data")},
      {"sm3withsm2_custom_id", SignAlgorithm::SM3WithSM2, &keys_->sm2_pkcs8, "alice@example.com",
       "pkeyutl -verify -rawin -digest sm3 -pkeyopt distid:alice@example.com -in " + path("data")},
      {"sm3withsm2_sec1_key", SignAlgorithm::SM3WithSM2, &keys_->sm2_sec1, "", z_default + " -in " + path("data")},
      {"sm3_ignores_id", SignAlgorithm::SM3, &keys_->sm2_pkcs8, "alice@example.com", digest_only},
      {"sm3_sec1_key", SignAlgorithm::SM3, &keys_->sm2_sec1, "", digest_only},
  };
  ASSERT_TRUE(openssl_ok("dgst -sm3 -binary -out " + path("e") + " " + path("data")));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto sig = asym_sign(c.algorithm, data, *c.key, c.user_id);
    ASSERT_TRUE(sig.has_value()) << sig.error().display();
    const Bytes der = unb64(*sig);
    EXPECT_GE(der.size(), 8u);
    EXPECT_LE(der.size(), 72u);
    dir_->write("sig", der);
    EXPECT_TRUE(openssl_ok(c.openssl_verify + spki));
    EXPECT_TRUE(asym_verify(c.algorithm, data, *sig, keys_->sm2_spki, c.user_id));
    auto again = asym_sign(c.algorithm, data, *c.key, c.user_id);
    ASSERT_TRUE(again.has_value());
    EXPECT_NE(*again, *sig);  // a fresh nonce each time
  }
}

TEST_F(SignService, OpensslSm2SignaturesVerify) {
  const Bytes data = bytes_of("signed by openssl");
  dir_->write("data", data);
  ASSERT_TRUE(openssl_ok("dgst -sm3 -binary -out " + path("e") + " " + path("data")));
  const std::string key = " -inkey " + path("sm2.pem") + " -out " + path("sig");
  struct Case {
    const char* name;
    SignAlgorithm algorithm;
    std::string openssl_sign;
    std::string user_id;
    std::vector<std::string> rejected_ids;  // the same signature under these IDs
  };
  const Case cases[] = {
      {"default_id_as_empty", SignAlgorithm::SM3WithSM2,
       "pkeyutl -sign -rawin -digest sm3 -pkeyopt distid:1234567812345678 -in " + path("data"), "", {"x"}},
      {"default_id_given", SignAlgorithm::SM3WithSM2,
       "pkeyutl -sign -rawin -digest sm3 -pkeyopt distid:1234567812345678 -in " + path("data"), "1234567812345678",
       {"1234567812345679"}},
      {"custom_id", SignAlgorithm::SM3WithSM2,
       "pkeyutl -sign -rawin -digest sm3 -pkeyopt distid:alice@example.com -in " + path("data"),
       "alice@example.com", {"", "1234567812345678"}},
      // OpenSSL 3.0's default for -rawin is the empty ID, which our empty
      // text does not mean (it means the default ID).
      {"openssl_empty_id", SignAlgorithm::SM3, "pkeyutl -sign -in " + path("e"), "whatever", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(openssl_ok(c.openssl_sign + key));
    const std::string sig = b64(dir_->read("sig"));
    EXPECT_TRUE(asym_verify(c.algorithm, data, sig, keys_->sm2_spki, c.user_id));
    for (const std::string& id : c.rejected_ids) EXPECT_FALSE(asym_verify(c.algorithm, data, sig, keys_->sm2_spki, id));
    const SignAlgorithm other = c.algorithm == SignAlgorithm::SM3 ? SignAlgorithm::SM3WithSM2 : SignAlgorithm::SM3;
    EXPECT_FALSE(asym_verify(other, data, sig, keys_->sm2_spki, c.user_id));
  }
}

// ------------------------------------------------------------ RSA interop

TEST_F(SignService, RsaSignaturesMatchOpenssl) {
  const Bytes data = bytes_of("rsa signed message");
  dir_->write("data", data);
  struct Case {
    const char* name;
    SignAlgorithm algorithm;
    const char* md;
    const std::string* priv;
    const std::string* pub;
  };
  const Case cases[] = {
      {"sha1_pkcs8", SignAlgorithm::SHA1WithRSA, "sha1", &keys_->rsa_pkcs8, &keys_->rsa_spki},
      {"sha256_pkcs8", SignAlgorithm::SHA256WithRSA, "sha256", &keys_->rsa_pkcs8, &keys_->rsa_spki},
      {"sha256_pkcs1_keys", SignAlgorithm::SHA256WithRSA, "sha256", &keys_->rsa_pkcs1, &keys_->rsa_pkcs1_public},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(openssl_ok(std::string("dgst -") + c.md + " -sign " + path("rsa.pem") + " -out " + path("theirs") +
                           " " + path("data")));
    const Bytes theirs = dir_->read("theirs");
    auto ours = asym_sign(c.algorithm, data, *c.priv, "ignored");
    ASSERT_TRUE(ours.has_value()) << ours.error().display();
    EXPECT_EQ(unb64(*ours).size(), 256u);
    EXPECT_EQ(*ours, b64(theirs));  // deterministic, so byte for byte
    dir_->write("sig", unb64(*ours));
    EXPECT_TRUE(openssl_ok(std::string("dgst -") + c.md + " -verify " + path("rsa.spki") +
                           " -keyform DER -signature " + path("sig") + " " + path("data")));
    EXPECT_TRUE(asym_verify(c.algorithm, data, b64(theirs), *c.pub, ""));
    const SignAlgorithm other =
        c.algorithm == SignAlgorithm::SHA1WithRSA ? SignAlgorithm::SHA256WithRSA : SignAlgorithm::SHA1WithRSA;
    EXPECT_FALSE(asym_verify(other, data, b64(theirs), *c.pub, ""));
    // Its leading byte dropped (or, if that is not zero, the last one).
    Bytes shorter = theirs;
    shorter.erase(shorter.front() == 0 ? shorter.begin() : shorter.end() - 1);
    EXPECT_FALSE(asym_verify(c.algorithm, data, b64(shorter), *c.pub, ""));
  }
}

// ------------------------------------------------------------ signing failures

// SEC1 ECPrivateKey {1, d} with no optional fields.
std::string sec1_key(const std::string& d_hex) { return b64(unhex("30250201010420" + d_hex)); }

TEST_F(SignService, SignFailuresInOrder) {
  const Bytes data = bytes_of("data");
  const std::string id_8192(8192, 'i');
  const std::string small_rsa =
      b64(tarnwick::testing::pkcs8_der(tarnwick::testing::rsa_private_key_der(tarnwick::testing::values_from_primes(240, 240))));
  struct Case {
    const char* name;
    SignAlgorithm algorithm;
    Bytes data;
    std::string key;
    std::string user_id;
    std::string error;
  };
  const Case cases[] = {
      {"data_checked_before_key", SignAlgorithm::SM3, {}, "", "", "origin data is empty"},
      {"empty_key", SignAlgorithm::SM3, data, "", "", "privkey is empty"},
      {"key_bad_padding", SignAlgorithm::SM3, data, "AAA", "", "Invalid padding"},
      {"key_bad_symbol", SignAlgorithm::SHA1WithRSA, data, "A*AA", "", "Invalid symbol 42, offset 1."},
      // The PKCS#8 attempt fails on the algorithm; the SEC1 attempt's text
      // (version 0 instead of 1) is the one reported.
      {"rsa_key_for_sm2", SignAlgorithm::SM3WithSM2, data, keys_->rsa_pkcs8, "",
       "malformed ASN.1 DER value for INTEGER at DER byte 4"},
      // 6E 6F …: a value of 111 content bytes, 2 present.
      {"not_der_for_sm2", SignAlgorithm::SM3, data, b64(bytes_of("nope")), "",
       "ASN.1 DER message is incomplete: expected 113, actual 4 at DER byte 2"},
      {"id_8192_bytes", SignAlgorithm::SM3WithSM2, data, keys_->sm2_pkcs8, id_8192, "sign failed: ID is too long"},
      {"d_n_minus_1", SignAlgorithm::SM3, data,
       sec1_key("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54122"), "",
       "sign failed: the signature is zero, cannot sign"},
      {"d_zero", SignAlgorithm::SM3WithSM2, data, sec1_key(std::string(64, '0')), "",
       "sign failed: invalid private key"},
      // The bare PKCS#1 attempt decides: the PrivateKeyInfo's AlgorithmIdentifier
      // (byte 6) stands where RSAPrivateKey has its modulus.
      {"sm2_key_for_rsa", SignAlgorithm::SHA256WithRSA, data, keys_->sm2_pkcs8, "",
       "PKCS#8 ASN.1 error: unexpected ASN.1 DER tag: expected INTEGER, got SEQUENCE at DER byte 6"},
      {"rsa_modulus_too_short", SignAlgorithm::SHA256WithRSA, data, small_rsa, "", "message too long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = asym_sign(c.algorithm, c.data, c.key, c.user_id);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().display(), c.error);
  }
  // SHA-1 still fits the 60-byte modulus.
  auto sha1 = asym_sign(SignAlgorithm::SHA1WithRSA, data, small_rsa, "");
  ASSERT_TRUE(sha1.has_value()) << sha1.error().display();
  EXPECT_EQ(unb64(*sha1).size(), 60u);
}

// OpenSSL refuses IDs of 8191 bytes and more, so Z for the longest ID
// (ENTL FF F8) is built here from GB/T 32918.2 §5.5 with OpenSSL's SM3, and
// OpenSSL checks the signature on e = SM3(Z ‖ M).
TEST_F(SignService, LongestUserId) {
  const Bytes data = bytes_of("data");
  const std::string id_8191(8191, 'i');
  auto sig = asym_sign(SignAlgorithm::SM3WithSM2, data, keys_->sm2_pkcs8, id_8191);
  ASSERT_TRUE(sig.has_value()) << sig.error().display();
  EXPECT_TRUE(asym_verify(SignAlgorithm::SM3WithSM2, data, *sig, keys_->sm2_spki, id_8191));
  EXPECT_FALSE(asym_verify(SignAlgorithm::SM3WithSM2, data, *sig, keys_->sm2_spki, id_8191 + "i"));

  const Bytes spki = unb64(keys_->sm2_spki);
  Bytes z_input = cat(Bytes{0xFF, 0xF8}, bytes_of(id_8191));
  z_input = cat(z_input, unhex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC"
                               "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93"
                               "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7"
                               "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0"));
  z_input = cat(z_input, Bytes(spki.end() - 64, spki.end()));
  dir_->write("e", testing::openssl_sm3(cat(testing::openssl_sm3(z_input), data)));
  dir_->write("sig", unb64(*sig));
  EXPECT_TRUE(openssl_ok("pkeyutl -verify -in " + path("e") + " -pubin -keyform DER -inkey " + path("sm2.spki") +
                         " -sigfile " + path("sig")));
}

// ------------------------------------------------------------ verification

// integer_der is OpenSSL's DER INTEGER of the hexadecimal value `v` (a
// leading '-' for negatives).
Bytes integer_der(const std::string& v) {
  BIGNUM* bn = nullptr;
  EXPECT_GT(BN_hex2bn(&bn, v.c_str()), 0);
  ASN1_INTEGER* ai = BN_to_ASN1_INTEGER(bn, nullptr);
  unsigned char* out = nullptr;
  const int len = i2d_ASN1_INTEGER(ai, &out);
  Bytes b(out, out + len);
  OPENSSL_free(out);
  ASN1_INTEGER_free(ai);
  BN_free(bn);
  return b;
}

Bytes sequence(const Bytes& contents) {
  Bytes out;
  out.reserve(2 + contents.size());
  out.push_back(0x30);
  out.push_back(static_cast<std::uint8_t>(contents.size()));
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}
TEST_F(SignService, VerificationAnswers) {
  const Bytes data = bytes_of("verify me");
  auto made = asym_sign(SignAlgorithm::SM3WithSM2, data, keys_->sm2_pkcs8, "");
  ASSERT_TRUE(made.has_value());
  // Split OpenSSL's view of our record into r and s.
  const Bytes der = unb64(*made);
  const unsigned char* p = der.data();
  ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(parsed, nullptr);
  char* rh = BN_bn2hex(ECDSA_SIG_get0_r(parsed));
  char* sh = BN_bn2hex(ECDSA_SIG_get0_s(parsed));
  const std::string r = rh, s = sh;
  OPENSSL_free(rh);
  OPENSSL_free(sh);
  ECDSA_SIG_free(parsed);
  const Bytes R = integer_der(r), S = integer_der(s);
  // r + 2^256: the same low 32 bytes, one more significant byte.
  const std::string r_wide = "1" + std::string(64 - r.size(), '0') + r;
  const auto rsa_signed = asym_sign(SignAlgorithm::SHA256WithRSA, data, keys_->rsa_pkcs8, "");
  ASSERT_TRUE(rsa_signed.has_value()) << rsa_signed.error().display();
  const std::string rsa_sig = *rsa_signed;

  struct Case {
    const char* name;
    SignAlgorithm algorithm;
    Bytes data;
    std::string signature, pubkey, user_id;
    bool want;
  };
  const SignAlgorithm kSm2 = SignAlgorithm::SM3WithSM2;
  const Case cases[] = {
      {"as_made", kSm2, data, *made, keys_->sm2_spki, "", true},
      {"default_id_spelled_out", kSm2, data, *made, keys_->sm2_spki, "1234567812345678", true},
      {"rebuilt_record", kSm2, data, b64(sequence(cat(R, S))), keys_->sm2_spki, "", true},
      {"minus_r", kSm2, data, b64(sequence(cat(integer_der("-" + r), S))), keys_->sm2_spki, "", true},
      {"minus_s", kSm2, data, b64(sequence(cat(R, integer_der("-" + s)))), keys_->sm2_spki, "", true},
      {"redundant_leading_zero", kSm2, data,
       b64(sequence(cat(cat(Bytes{0x02, static_cast<std::uint8_t>(R[1] + 1), 0x00}, Bytes(R.begin() + 2, R.end())),
                        S))),
       keys_->sm2_spki, "", true},
      {"bytes_after_record", kSm2, data, b64(cat(sequence(cat(R, S)), {0x00, 0xff})), keys_->sm2_spki, "", true},
      {"byte_inside_record", kSm2, data, b64(sequence(cat(cat(R, S), {0x00}))), keys_->sm2_spki, "", false},
      {"r_needs_33_bytes", kSm2, data, b64(sequence(cat(integer_der(r_wide), S))), keys_->sm2_spki, "", false},
      {"r_zero", kSm2, data, b64(sequence(cat(integer_der("0"), S))), keys_->sm2_spki, "", false},
      {"s_zero", kSm2, data, b64(sequence(cat(R, integer_der("0")))), keys_->sm2_spki, "", false},
      {"r_is_n", kSm2, data, b64(sequence(cat(integer_der(kN), S))), keys_->sm2_spki, "", false},
      {"not_a_record", kSm2, data, b64(bytes_of("garbage")), keys_->sm2_spki, "", false},
      {"other_data", kSm2, bytes_of("verify mE"), *made, keys_->sm2_spki, "", false},
      {"other_id", kSm2, data, *made, keys_->sm2_spki, "1234567812345679", false},
      {"id_8192_bytes", kSm2, data, *made, keys_->sm2_spki, std::string(8192, 'i'), false},
      {"sm3_instead", SignAlgorithm::SM3, data, *made, keys_->sm2_spki, "", false},
      {"empty_signature", kSm2, data, "", keys_->sm2_spki, "", false},
      {"empty_data", kSm2, {}, *made, keys_->sm2_spki, "", false},
      {"empty_pubkey", kSm2, data, *made, "", "", false},
      {"signature_bad_base64", kSm2, data, made->substr(1), keys_->sm2_spki, "", false},
      {"pubkey_bad_base64", kSm2, data, *made, keys_->sm2_spki + "=", "", false},
      {"pkcs8_private_key_as_pubkey", kSm2, data, *made, keys_->sm2_pkcs8, "", false},
      {"hex_point_as_pubkey", kSm2, data, *made, hex::encode(unb64(keys_->sm2_spki)).substr(52), "", false},
      {"rsa_key_with_sm3", SignAlgorithm::SM3, data, *made, keys_->rsa_spki, "", false},
      {"sm2_key_with_rsa", SignAlgorithm::SHA256WithRSA, data, rsa_sig, keys_->sm2_spki, "", false},
      {"rsa_as_made", SignAlgorithm::SHA256WithRSA, data, rsa_sig, keys_->rsa_spki, "", true},
      {"rsa_other_data", SignAlgorithm::SHA256WithRSA, bytes_of("x"), rsa_sig, keys_->rsa_spki, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(asym_verify(c.algorithm, c.data, c.signature, c.pubkey, c.user_id), c.want);
  }
}

// verify_signature keeps the reason that asym_verify turns into false.
TEST_F(SignService, VerificationErrorsInOrder) {
  const Bytes data = bytes_of("d");
  const std::string sig = b64(unhex("3006020101020101"));
  struct Case {
    const char* name;
    AlgorithmKind kind;
    std::string signature;
    Bytes data;
    std::string pubkey;
    std::string error;  // "" = an answer (false), no error
  };
  const Case cases[] = {
      {"empty_signature_first", AlgorithmKind::SM3, "", {}, "", "signed data is empty"},
      {"empty_data", AlgorithmKind::SM3, sig, {}, "", "origin data is empty"},
      {"signature_base64_before_key", AlgorithmKind::SM3, "AAA", data, "", "Invalid padding"},
      {"empty_pubkey", AlgorithmKind::SM3, sig, data, "", "pubkey is empty"},
      {"pubkey_base64", AlgorithmKind::SM3, sig, data, "A*AA", "Invalid symbol 42, offset 1."},
      {"sm2_key_reader", AlgorithmKind::SM3, sig, data, b64(bytes_of("x")), "ASN.1 error: "},
      {"record_checked_after_key", AlgorithmKind::SM3WithSM2, b64(bytes_of("x")), data, keys_->sm2_spki,
       "failed to decode signature"},
      {"rsa_key_reader", AlgorithmKind::SHA1WithRSA, sig, data, keys_->sm2_spki, "public key error: "},
      {"wrong_sm2_signature", AlgorithmKind::SM3WithSM2, sig, data, keys_->sm2_spki, ""},
      {"wrong_rsa_signature", AlgorithmKind::SHA256WithRSA, sig, data, keys_->rsa_spki, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = verify_signature(c.signature, c.data, c.kind, c.pubkey, std::nullopt);
    if (c.error.empty()) {
      ASSERT_TRUE(got.has_value()) << got.error().display();
      EXPECT_FALSE(*got);
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error().display().substr(0, c.error.size()), c.error) << got.error().display();
    }
  }
}

}  // namespace
}  // namespace tarnwick::ohos::asym
