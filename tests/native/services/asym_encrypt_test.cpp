#include "ohos/asym/encrypt.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "../common/openssl_cli.h"
#include "crypto/sm2/key_encoding.h"
#include "crypto/sm2/key_pair.h"
#include "ohos/asym/cipher.h"
#include "support/base64.h"
#include "support/hex.h"
#include "support/os_random.h"

namespace tarnwick::ohos::asym {
namespace {

using tarnwick::testing::CommandResult;
using tarnwick::testing::run_command;
using tarnwick::testing::TempDir;

constexpr const char* kOaepOpts =
    " -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256 -pkeyopt rsa_mgf1_md:sha256";

std::string b64(ByteView b) { return base64::encode(b); }
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// message returns `n` bytes beginning with up to three zero bytes, so that
// leading zeros are carried through every round trip.
Bytes message(std::size_t n) {
  Bytes m(n);
  for (std::size_t i = 0; i < n; ++i) m[i] = i < 3 ? 0 : static_cast<std::uint8_t>(i * 37 + 11);
  return m;
}

constexpr std::size_t kSm2Lengths[] = {1, 31, 32, 33, 200, 5000};
constexpr std::size_t kRsaLengths[] = {1, 31, 32, 33, 190};

// Keys: an SM2 pair of ours, an SM2 key and a 2048-bit RSA key made by the
// `openssl` command, all as DER files for the command and Base64 texts for
// the services.
class AsymEncryptService : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    auto pair = sm2::generate_key_pair();
    ASSERT_TRUE(pair.has_value());
    ours_priv_ = new Bytes(sm2::private_key_to_pkcs8(pair->private_key).value());
    ours_pub_ = new Bytes(sm2::public_key_to_spki(pair->public_key).value());
    dir_->write("ours.der", *ours_priv_);
    dir_->write("ours_pub.der", *ours_pub_);
    const std::string d = dir_->file("");
    for (const std::string& cmd : {
             "genpkey -algorithm SM2 -outform DER -out " + d + "sm2.der",
             "pkey -inform DER -in " + d + "sm2.der -pubout -outform DER -out " + d + "sm2_pub.der",
             "ec -inform DER -in " + d + "sm2.der -outform DER -out " + d + "sm2_sec1.der",
             "genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -outform DER -out " + d + "rsa.der",
             "pkey -inform DER -in " + d + "rsa.der -pubout -outform DER -out " + d + "rsa_pub.der",
             "genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -outform DER -out " + d + "rsa2.der",
         }) {
      CommandResult r = run_command("openssl " + cmd);
      ASSERT_EQ(r.status, 0) << cmd << "\n" << r.output;
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    delete ours_priv_;
    delete ours_pub_;
  }

  static std::string key(const std::string& name) { return b64(dir_->read(name)); }

  // openssl runs the command on `in` and returns its output file.
  static std::optional<Bytes> openssl(const std::string& args, ByteView in) {
    const std::string in_path = dir_->write("in.bin", in);
    const std::string out_path = dir_->file("out.bin");
    CommandResult r = run_command("openssl " + args + " -in " + in_path + " -out " + out_path);
    if (r.status != 0) {
      ADD_FAILURE() << args << "\n" << r.output;
      return std::nullopt;
    }
    return dir_->read("out.bin");
  }

  static inline TempDir* dir_ = nullptr;
  static inline Bytes* ours_priv_ = nullptr;
  static inline Bytes* ours_pub_ = nullptr;
};

TEST_F(AsymEncryptService, Sm2CiphertextsDecryptWithOpenSsl) {
  struct Key {
    const char* name;
    std::string pub_b64;
    const char* priv_file;
  };
  const Key keys[] = {{"our_key", b64(*ours_pub_), "ours.der"}, {"openssl_key", key("sm2_pub.der"), "sm2.der"}};
  for (const Key& k : keys) {
    for (std::size_t n : kSm2Lengths) {
      SCOPED_TRACE(std::string(k.name) + " length " + std::to_string(n));
      const Bytes m = message(n);
      auto ct = asym_encrypt(AsymAlgorithm::SM2, m, k.pub_b64);
      ASSERT_TRUE(ct.has_value()) << ct.error().display();
      const Bytes der = base64::decode(*ct).value();
      // The record: c3 of 32 bytes and c2 as long as the message.
      auto record = Cipher::decode(der);
      ASSERT_TRUE(record.has_value());
      EXPECT_EQ(record->c3.size(), 32u);
      EXPECT_EQ(record->c2.size(), n);
      auto pt = openssl("pkeyutl -decrypt -keyform DER -inkey " + dir_->file(k.priv_file), der);
      ASSERT_TRUE(pt.has_value());
      EXPECT_EQ(*pt, m);
    }
  }
}

TEST_F(AsymEncryptService, OpenSslSm2CiphertextsDecryptHere) {
  struct Key {
    const char* name;
    const char* pub_file;
    std::string priv_b64;
  };
  const Key keys[] = {
      {"our_pkcs8", "ours_pub.der", b64(*ours_priv_)},
      {"openssl_pkcs8", "sm2_pub.der", key("sm2.der")},
      {"openssl_sec1", "sm2_pub.der", key("sm2_sec1.der")},
  };
  for (const Key& k : keys) {
    for (std::size_t n : kSm2Lengths) {
      SCOPED_TRACE(std::string(k.name) + " length " + std::to_string(n));
      const Bytes m = message(n);
      auto ct = openssl("pkeyutl -encrypt -pubin -keyform DER -inkey " + dir_->file(k.pub_file), m);
      ASSERT_TRUE(ct.has_value());
      auto pt = asym_decrypt(AsymAlgorithm::SM2, b64(*ct), k.priv_b64);
      ASSERT_TRUE(pt.has_value()) << pt.error().display();
      EXPECT_EQ(*pt, m);
    }
  }
}

TEST_F(AsymEncryptService, RsaOaepBothWaysWithOpenSsl) {
  const std::string priv = dir_->file("rsa.der");
  for (std::size_t n : kRsaLengths) {
    SCOPED_TRACE("length " + std::to_string(n));
    const Bytes m = message(n);
    auto ct = asym_encrypt(AsymAlgorithm::RSA, m, key("rsa_pub.der"));
    ASSERT_TRUE(ct.has_value()) << ct.error().display();
    const Bytes raw = base64::decode(*ct).value();
    EXPECT_EQ(raw.size(), 256u);
    EXPECT_EQ(ct->size(), 344u);
    auto pt = openssl("pkeyutl -decrypt -keyform DER -inkey " + priv + kOaepOpts, raw);
    ASSERT_TRUE(pt.has_value());
    EXPECT_EQ(*pt, m);

    auto theirs = openssl("pkeyutl -encrypt -pubin -keyform DER -inkey " + dir_->file("rsa_pub.der") + kOaepOpts, m);
    ASSERT_TRUE(theirs.has_value());
    auto back = asym_decrypt(AsymAlgorithm::RSA, b64(*theirs), key("rsa.der"));
    ASSERT_TRUE(back.has_value()) << back.error().display();
    EXPECT_EQ(*back, m);
  }
}

TEST_F(AsymEncryptService, SameDataTwiceGivesDifferentCiphertexts) {
  const Bytes m = text("twice");
  for (auto [alg, pub] : {std::pair{AsymAlgorithm::RSA, key("rsa_pub.der")}, std::pair{AsymAlgorithm::SM2, b64(*ours_pub_)}}) {
    auto a = asym_encrypt(alg, m, pub);
    auto b = asym_encrypt(alg, m, pub);
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
  }
}

// How a text is compared: exactly, or by its start.
enum class Match { kExact, kPrefix };

void expect_text(const Error& e, Match how, const std::string& want) {
  if (how == Match::kExact) {
    EXPECT_EQ(e.display(), want);
  } else {
    EXPECT_EQ(e.display().substr(0, want.size()), want) << e.display();
  }
}

TEST_F(AsymEncryptService, EncryptChecksInOrder) {
  const Bytes data = text("data");
  const Bytes point65(65, 0x04);
  struct Case {
    const char* name;
    AsymAlgorithm alg;
    Bytes data;
    std::string pubkey;
    Match how;
    std::string want;
  };
  const Case cases[] = {
      {"empty_data_before_bad_key", AsymAlgorithm::SM2, {}, "***", Match::kExact, "plaintext is empty"},
      {"empty_data_rsa", AsymAlgorithm::RSA, {}, "", Match::kExact, "plaintext is empty"},
      {"key_not_base64", AsymAlgorithm::RSA, data, "ab*d", Match::kExact, "Invalid symbol 42, offset 2."},
      {"key_bad_padding", AsymAlgorithm::SM2, data, "AAA", Match::kExact, "Invalid padding"},
      {"key_short_final_group", AsymAlgorithm::RSA, data, "AAAAA", Match::kExact, "Invalid input length: 5"},
      {"rsa_empty_key", AsymAlgorithm::RSA, data, "", Match::kPrefix, "public key error: "},
      {"sm2_empty_key", AsymAlgorithm::SM2, data, "", Match::kPrefix, "ASN.1 error: "},
      {"sm2_bare_point", AsymAlgorithm::SM2, data, b64(point65), Match::kPrefix, "ASN.1 error: "},
      {"sm2_pkcs8_document", AsymAlgorithm::SM2, data, b64(*ours_priv_), Match::kPrefix, "ASN.1 error: "},
      {"sm2_given_rsa_key", AsymAlgorithm::SM2, data, key("rsa_pub.der"), Match::kExact,
       "unknown/unsupported algorithm OID: 1.2.840.10045.2.1"},
      {"rsa_given_sm2_key", AsymAlgorithm::RSA, data, b64(*ours_pub_), Match::kPrefix, "public key error: "},
      {"rsa_191_bytes", AsymAlgorithm::RSA, Bytes(191, 1), key("rsa_pub.der"), Match::kExact, "message too long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = asym_encrypt(c.alg, c.data, c.pubkey);
    ASSERT_FALSE(r.has_value());
    expect_text(r.error(), c.how, c.want);
  }
}

long failing_source(void*, std::uint8_t*, std::size_t, int* err) {
  *err = EIO;
  return -1;
}

TEST_F(AsymEncryptService, Sm2RandomSourceFailureIsReported) {
  os_random::testing::set_source(&failing_source, nullptr);
  auto r = asym_encrypt(AsymAlgorithm::SM2, text("data"), b64(*ours_pub_));
  os_random::testing::set_source(nullptr, nullptr);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().display(), "Failed to encrypt plaintext: failed to encrypt: Input/output error (os error 5)");
}

TEST_F(AsymEncryptService, DecryptChecksInOrder) {
  const std::string sm2_key = b64(*ours_priv_);
  const std::string sm2_ct = asym_encrypt(AsymAlgorithm::SM2, text("secret"), b64(*ours_pub_)).value();
  const std::string sm2_other_ct = asym_encrypt(AsymAlgorithm::SM2, text("secret"), key("sm2_pub.der")).value();
  const std::string rsa_ct = asym_encrypt(AsymAlgorithm::RSA, text("secret"), key("rsa_pub.der")).value();
  Bytes rsa_short = base64::decode(rsa_ct).value();
  rsa_short.erase(rsa_short.begin());
  const Bytes garbage_key = text("not a key");

  // A record whose c3 and c2 hold 31 bytes, and one whose x is p (fits 32
  // bytes, but is no field element).
  Cipher short_record = Cipher::decode(base64::decode(sm2_ct).value()).value();
  short_record.c3.resize(31);
  short_record.c2.clear();
  Cipher x_is_p = Cipher::decode(base64::decode(sm2_ct).value()).value();
  x_is_p.x = der::SignedInteger::from_unsigned(
      hex::decode("fffffffeffffffffffffffffffffffffffffffff00000000ffffffffffffffff").value());
  ASSERT_EQ(x_is_p.x.magnitude.size(), 32u);

  struct Case {
    const char* name;
    AsymAlgorithm alg;
    std::string ciphertext;
    std::string privkey;
    Match how;
    std::string want;
  };
  const Case cases[] = {
      {"empty_ciphertext_and_key", AsymAlgorithm::SM2, "", "", Match::kExact, "ciphertext is empty"},
      {"ciphertext_not_base64_before_key", AsymAlgorithm::RSA, "A*==", "", Match::kExact,
       "Invalid symbol 42, offset 1."},
      {"empty_key", AsymAlgorithm::SM2, sm2_ct, "", Match::kExact, "privkey is empty"},
      {"key_not_base64", AsymAlgorithm::SM2, sm2_ct, "ab*d", Match::kExact, "Invalid symbol 42, offset 2."},
      {"rsa_key_unreadable", AsymAlgorithm::RSA, rsa_ct, b64(garbage_key), Match::kPrefix, "PKCS#8 ASN.1 error: "},
      {"rsa_one_byte_short", AsymAlgorithm::RSA, b64(rsa_short), key("rsa.der"), Match::kExact, "decryption error"},
      {"rsa_other_key", AsymAlgorithm::RSA, rsa_ct, key("rsa2.der"), Match::kExact, "decryption error"},
      {"sm2_record_not_der", AsymAlgorithm::SM2, b64(text("hello")), sm2_key, Match::kPrefix,
       "Failed to decrypt ciphertext: failed to decode cipher:Error Kind: "},
      {"sm2_record_too_short", AsymAlgorithm::SM2, b64(short_record.encode().value()), sm2_key, Match::kExact,
       "Failed to decrypt ciphertext: ciphertext length is less than cipher size"},
      {"sm2_x_is_p", AsymAlgorithm::SM2, b64(x_is_p.encode().value()), sm2_key, Match::kExact,
       "Failed to decrypt ciphertext: check point error"},
      {"sm2_other_key", AsymAlgorithm::SM2, sm2_other_ct, sm2_key, Match::kExact,
       "Failed to decrypt ciphertext: hash and cipher not equal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = asym_decrypt(c.alg, c.ciphertext, c.privkey);
    ASSERT_FALSE(r.has_value());
    expect_text(r.error(), c.how, c.want);
  }
}

TEST_F(AsymEncryptService, Sm2KeyFailureReportsTheSec1Attempt) {
  // The key is read before the record: a bad record does not hide it, and
  // the text is that of the bare ECPrivateKey reading, not of PKCS#8.
  struct Case {
    const char* name;
    Bytes key;
  };
  const Case cases[] = {{"not_der", text("not a key")}, {"rsa_pkcs8", dir_->read("rsa.der")}, {"spki", *ours_pub_}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string sec1_text = sm2::private_key_from_sec1_der(c.key).error().display();
    const std::string pkcs8_text = sm2::private_key_from_pkcs8(c.key).error().display();
    ASSERT_NE(sec1_text, pkcs8_text);
    auto r = asym_decrypt(AsymAlgorithm::SM2, b64(text("not a record")), b64(c.key));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), sec1_text);
  }
}

TEST_F(AsymEncryptService, Sm2RecordVariantsDecrypt) {
  // Signs are ignored, redundant leading octets are accepted and bytes after
  // the record are not examined.
  const Bytes m = text("variant");
  const Bytes der = base64::decode(asym_encrypt(AsymAlgorithm::SM2, m, b64(*ours_pub_)).value()).value();
  Cipher negative = Cipher::decode(der).value();
  negative.x.negative = true;
  negative.y.negative = true;
  Bytes trailing = der;
  trailing.insert(trailing.end(), {0xDE, 0xAD});
  struct Case {
    const char* name;
    Bytes der;
  };
  const Case cases[] = {{"negative_coordinates", negative.encode().value()}, {"trailing_bytes", trailing}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto pt = asym_decrypt(AsymAlgorithm::SM2, b64(c.der), b64(*ours_priv_));
    ASSERT_TRUE(pt.has_value()) << pt.error().display();
    EXPECT_EQ(pt.value(), m);
  }
}

}  // namespace
}  // namespace tarnwick::ohos::asym
