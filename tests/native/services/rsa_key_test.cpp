#include "ohos/asym/rsa_key.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include <openssl/err.h>

#include "ohos/asym/rsa_ops.h"
#include "../common/openssl_cli.h"
#include "rsa_test_keys.h"
#include "support/hex.h"
#include "support/os_random.h"

namespace tarnwick::ohos::asym {
namespace {

using namespace tarnwick::testing;

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// Checks one generated pair against OpenSSL's reading of it.
void expect_pair_of_bits(const RsaKeyPairDer& pair, int bits) {
  ossl::PkeyPtr pub = openssl_read_public(pair.public_der);
  ASSERT_TRUE(pub);
  EXPECT_EQ(BN_num_bits(pkey_bn(pub.get(), "n").get()), bits);
  EXPECT_TRUE(BN_is_word(pkey_bn(pub.get(), "e").get(), 65537));
  ossl::PkeyPtr priv = openssl_read_private(pair.private_der);
  ASSERT_TRUE(priv);
  EXPECT_EQ(BN_cmp(pkey_bn(priv.get(), "n").get(), pkey_bn(pub.get(), "n").get()), 0);
}

class RsaGenerated : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (int bits : {1024, 2048}) {
      auto pair = generate_rsa_key_pair(bits);
      ASSERT_TRUE(pair.has_value()) << pair.error().display();
      (bits == 1024 ? k1024_ : k2048_) = std::move(*pair);
    }
  }
  static inline RsaKeyPairDer k1024_;
  static inline RsaKeyPairDer k2048_;
};

// A key document that must be refused: with the given text, or with text as
// a prefix followed by more, and with OpenSSL's error queue left empty.
struct RejectCase {
  const char* name;
  Bytes der;
  std::string text;
  bool prefix_only;
};

void expect_rejected(const Result<ossl::PkeyPtr>& key, const RejectCase& c) {
  ASSERT_FALSE(key.has_value());
  if (c.prefix_only) {
    EXPECT_TRUE(starts_with(key.error().display(), c.text)) << key.error().display();
    EXPECT_GT(key.error().display().size(), c.text.size());
  } else {
    EXPECT_EQ(key.error().display(), c.text);
  }
  EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(RsaGenerated, PublicDocumentHasTheFixedLayout) {
  EXPECT_EQ(k1024_.public_der.size(), 162u);
  ASSERT_EQ(k2048_.public_der.size(), 294u);
  const std::string hex = hex::encode(k2048_.public_der);
  EXPECT_EQ(hex.substr(0, 2 * 33),
            "30820122300d06092a864886f70d01010105000382010f003082010a0282010100");
  EXPECT_EQ(hex.substr(hex.size() - 10), "0203010001");
  expect_pair_of_bits(k1024_, 1024);
  expect_pair_of_bits(k2048_, 2048);
}

TEST_F(RsaGenerated, OpensslAcceptsAndReproducesTheDocuments) {
  TempDir dir;
  for (const RsaKeyPairDer* pair : {&k1024_, &k2048_}) {
    const std::string pub = dir.write("pub.der", pair->public_der);
    const std::string priv = dir.write("priv.der", pair->private_der);
    CommandResult check = run_command("openssl pkey -inform DER -in " + priv + " -check -noout");
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_NE(check.output.find("Key is valid"), std::string::npos) << check.output;
    // OpenSSL re-encodes the same values in the same two layouts.
    CommandResult pub_out = run_command("openssl pkey -pubin -inform DER -in " + pub +
                                        " -outform DER -out " + dir.file("pub2.der"));
    ASSERT_EQ(pub_out.status, 0) << pub_out.output;
    EXPECT_EQ(dir.read("pub2.der"), pair->public_der);
    CommandResult priv_out = run_command("openssl pkcs8 -topk8 -nocrypt -inform DER -in " + priv +
                                         " -outform DER -out " + dir.file("priv2.der"));
    ASSERT_EQ(priv_out.status, 0) << priv_out.output;
    EXPECT_EQ(dir.read("priv2.der"), pair->private_der);
  }
}

TEST_F(RsaGenerated, PrivateDocumentLayoutAndValues) {
  const Bytes& doc = k2048_.private_der;
  ASSERT_GT(doc.size(), 30u);
  const std::string hex = hex::encode(doc);
  // SEQUENCE (82 xx xx), version 0, AlgorithmIdentifier, OCTET STRING
  // (82 xx xx) reaching the end (no attributes, no public key), inner
  // SEQUENCE (82 xx xx), version 0.
  EXPECT_EQ(hex.substr(0, 4), "3082");
  EXPECT_EQ(static_cast<std::size_t>(doc[2] << 8 | doc[3]) + 4, doc.size());
  EXPECT_EQ(hex.substr(8, 36), "020100300d06092a864886f70d0101010500");
  EXPECT_EQ(hex.substr(44, 4), "0482");
  EXPECT_EQ(static_cast<std::size_t>(doc[24] << 8 | doc[25]) + 26, doc.size());
  EXPECT_EQ(hex.substr(52, 4), "3082");
  EXPECT_EQ(static_cast<std::size_t>(doc[28] << 8 | doc[29]) + 30, doc.size());
  EXPECT_EQ(hex.substr(60, 6), "020100");

  ossl::PkeyPtr key = openssl_read_private(doc);
  ASSERT_TRUE(key);
  ossl::BnCtxPtr ctx(BN_CTX_new());
  auto n = pkey_bn(key.get(), "n"), e = pkey_bn(key.get(), "e"), d = pkey_bn(key.get(), "d");
  auto p = pkey_bn(key.get(), "rsa-factor1"), q = pkey_bn(key.get(), "rsa-factor2");
  auto dp = pkey_bn(key.get(), "rsa-exponent1"), dq = pkey_bn(key.get(), "rsa-exponent2");
  auto qinv = pkey_bn(key.get(), "rsa-coefficient1");
  ossl::BnPtr t(BN_new()), p1(BN_new()), q1(BN_new()), phi(BN_new());
  BN_mul(t.get(), p.get(), q.get(), ctx.get());
  EXPECT_EQ(BN_cmp(t.get(), n.get()), 0);
  BN_sub(p1.get(), p.get(), BN_value_one());
  BN_sub(q1.get(), q.get(), BN_value_one());
  BN_mul(phi.get(), p1.get(), q1.get(), ctx.get());
  BN_mod_mul(t.get(), d.get(), e.get(), phi.get(), ctx.get());
  EXPECT_TRUE(BN_is_one(t.get())) << "d*e must be 1 modulo (p-1)(q-1)";
  BN_mod(t.get(), d.get(), p1.get(), ctx.get());
  EXPECT_EQ(BN_cmp(t.get(), dp.get()), 0);
  BN_mod(t.get(), d.get(), q1.get(), ctx.get());
  EXPECT_EQ(BN_cmp(t.get(), dq.get()), 0);
  BN_mod_mul(t.get(), qinv.get(), q.get(), p.get(), ctx.get());
  EXPECT_TRUE(BN_is_one(t.get()));
}

TEST_F(RsaGenerated, ReadsOwnDocumentsAndTheirBareForms) {
  TempDir dir;
  const std::string pub = dir.write("pub.der", k2048_.public_der);
  const std::string priv = dir.write("priv.der", k2048_.private_der);
  ASSERT_EQ(run_command("openssl rsa -pubin -inform DER -in " + pub + " -RSAPublicKey_out -outform DER -out " +
                        dir.file("pkcs1pub.der"))
                .status,
            0);
  ASSERT_EQ(run_command("openssl rsa -inform DER -in " + priv + " -traditional -outform DER -out " +
                        dir.file("pkcs1priv.der"))
                .status,
            0);
  ossl::PkeyPtr expected = openssl_read_private(k2048_.private_der);
  ASSERT_TRUE(expected);
  auto n = pkey_bn(expected.get(), "n");
  struct Case {
    const char* name;
    Bytes der;
    bool is_private;
  };
  const Case cases[] = {
      {"spki", k2048_.public_der, false},
      {"bare_rsa_public_key", dir.read("pkcs1pub.der"), false},
      {"pkcs8", k2048_.private_der, true},
      {"bare_rsa_private_key", dir.read("pkcs1priv.der"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto key = c.is_private ? rsa_private_key_from_der(c.der) : rsa_public_key_from_der(c.der);
    ASSERT_TRUE(key.has_value()) << key.error().display();
    EXPECT_EQ(BN_cmp(pkey_bn(key->get(), "n").get(), n.get()), 0);
    EXPECT_TRUE(BN_is_word(pkey_bn(key->get(), "e").get(), 65537));
  }
}

TEST(RsaKeyGeneration, SizesOutsideTheRangeFailBeforeGenerating) {
  struct Case {
    std::int32_t bits;
    const char* text;
  };
  const Case cases[] = {
      {0, "too few primes of given length to generate an RSA key"},
      {1, "too few primes of given length to generate an RSA key"},
      {11, "too few primes of given length to generate an RSA key"},
      {12, "modulus too small"},
      {511, "modulus too small"},
      {4097, "modulus too large"},
      {INT32_MAX, "modulus too large"},
      {-1, "modulus too large"},
      {INT32_MIN, "modulus too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    auto pair = generate_rsa_key_pair(c.bits);
    ASSERT_FALSE(pair.has_value());
    EXPECT_EQ(pair.error().display(), c.text);
  }
}

// Odd sizes from 2049 up are where OpenSSL's own generator comes out one bit
// short; the small ones run its other generator.
TEST(RsaKeyGeneration, ModulusHasExactlyTheAskedBits) {
  for (int bits : {512, 513, 1023, 2049}) {
    SCOPED_TRACE(bits);
    auto pair = generate_rsa_key_pair(bits);
    ASSERT_TRUE(pair.has_value()) << pair.error().display();
    expect_pair_of_bits(*pair, bits);
    TempDir dir;
    CommandResult check =
        run_command("openssl pkey -inform DER -in " + dir.write("k.der", pair->private_der) + " -check -noout");
    EXPECT_EQ(check.status, 0) << check.output;
  }
}

TEST(RsaKeyGeneration, Largest) {
  auto pair = generate_rsa_key_pair(4096);
  ASSERT_TRUE(pair.has_value()) << pair.error().display();
  EXPECT_EQ(pair->public_der.size(), 550u);
  expect_pair_of_bits(*pair, 4096);
}

long failing_source(void*, std::uint8_t*, std::size_t, int* err) {
  *err = EIO;
  return -1;
}

TEST(RsaKeyGeneration, RandomSourceFailureIsAnError) {
  os_random::testing::set_source(failing_source, nullptr);
  auto pair = generate_rsa_key_pair(512);
  os_random::testing::set_source(nullptr, nullptr);
  ASSERT_FALSE(pair.has_value());
  EXPECT_EQ(pair.error().display(), os_random::OsError(EIO).display());
  EXPECT_EQ(ERR_peek_error(), 0u);
}

class RsaKeyReading : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    key_ = openssl_rsa_key(1024).release();
    values_ = new RsaValues(values_of(key_));
  }
  static void TearDownTestSuite() {
    EVP_PKEY_free(key_);
    delete values_;
  }
  static inline EVP_PKEY* key_ = nullptr;
  static inline RsaValues* values_ = nullptr;
};

TEST_F(RsaKeyReading, ReadsOpensslDocuments) {
  TempDir dir;
  ASSERT_EQ(run_command("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -outform DER -out " +
                        dir.file("p8.der"))
                .status,
            0);
  const std::string p8 = dir.file("p8.der");
  ASSERT_EQ(run_command("openssl rsa -inform DER -in " + p8 + " -traditional -outform DER -out " +
                        dir.file("p1.der")).status, 0);
  ASSERT_EQ(run_command("openssl pkey -inform DER -in " + p8 + " -pubout -outform DER -out " +
                        dir.file("spki.der")).status, 0);
  ASSERT_EQ(run_command("openssl rsa -inform DER -in " + p8 + " -RSAPublicKey_out -outform DER -out " +
                        dir.file("p1pub.der")).status, 0);
  ossl::PkeyPtr expected = openssl_read_private(dir.read("p8.der"));
  ASSERT_TRUE(expected);
  for (const char* name : {"p8.der", "p1.der"}) {
    SCOPED_TRACE(name);
    auto key = rsa_private_key_from_der(dir.read(name));
    ASSERT_TRUE(key.has_value()) << key.error().display();
    EXPECT_EQ(EVP_PKEY_eq(key->get(), expected.get()), 1);
  }
  for (const char* name : {"spki.der", "p1pub.der"}) {
    SCOPED_TRACE(name);
    auto key = rsa_public_key_from_der(dir.read(name));
    ASSERT_TRUE(key.has_value()) << key.error().display();
    EXPECT_EQ(EVP_PKEY_eq(key->get(), expected.get()), 1);
  }
}

TEST_F(RsaKeyReading, PublicKeyRejections) {
  const RsaValues& v = *values_;
  const std::string malformed = "public key error: SPKI cryptographic key data malformed";
  const std::string asn1 = "public key error: ASN.1 error: ";
  TempDir dir;
  ASSERT_EQ(run_command("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out " + dir.file("sm2.pem"))
                .status, 0);
  ASSERT_EQ(run_command("openssl pkey -in " + dir.file("sm2.pem") + " -pubout -outform DER -out " +
                        dir.file("sm2.der")).status, 0);
  const RsaValues big = values_from_primes(2049, 2048);
  ASSERT_EQ(BN_num_bits(bn_from(big.n).get()), 4097);
  const Bytes odd_small_n = bn_bytes(bn_word(1000001).get());
  const RejectCase cases[] = {
      {"empty", {}, asn1, true},
      {"spki_without_null_parameters", spki_der(rsa_public_key_der(v.n, v.e), false), asn1, true},
      {"sm2_spki", dir.read("sm2.der"), asn1, true},
      {"bare_4097_bit_modulus", rsa_public_key_der(big.n, big.e), malformed, false},
      {"spki_4097_bit_modulus", spki_der(rsa_public_key_der(big.n, big.e)), asn1, true},
      {"even_exponent", rsa_public_key_der(v.n, bn_bytes(bn_word(65536).get())), malformed, false},
      {"exponent_one", rsa_public_key_der(v.n, bn_bytes(bn_word(1).get())), malformed, false},
      {"exponent_2_pow_33_plus_1", rsa_public_key_der(v.n, bn_bytes(bn_word((1ull << 33) + 1).get())),
       malformed, false},
      {"exponent_not_below_modulus", rsa_public_key_der(odd_small_n, bn_bytes(bn_word(1000003).get())),
       malformed, false},
      {"even_modulus", rsa_public_key_der(bn_bytes(bn_word(1000002).get()), v.e), malformed, false},
      {"trailing_byte", concat(rsa_public_key_der(v.n, v.e), Bytes{0}), asn1, true},
      {"private_key_given", rsa_private_key_der(v), asn1, true},
  };
  for (const RejectCase& c : cases) {
    SCOPED_TRACE(c.name);
    expect_rejected(rsa_public_key_from_der(c.der), c);
  }
}

TEST_F(RsaKeyReading, PublicExponentBoundsAccepted) {
  const RsaValues& v = *values_;
  for (unsigned long long e : {3ull, (1ull << 33) - 1}) {
    SCOPED_TRACE(e);
    EXPECT_TRUE(rsa_public_key_from_der(rsa_public_key_der(v.n, bn_bytes(bn_word(e).get()))).has_value());
  }
}

TEST_F(RsaKeyReading, PrivateKeyRejections) {
  const RsaValues& v = *values_;
  const std::string malformed = "PKCS#8 cryptographic key data malformed";
  const std::string asn1 = "PKCS#8 ASN.1 error: ";
  ossl::BnCtxPtr ctx(BN_CTX_new());

  RsaValues wrong_d = v;
  {
    ossl::BnPtr d = bn_from(v.d);
    BN_add_word(d.get(), 2);
    wrong_d.d = bn_bytes(d.get());
  }
  // p = 1, q = n passes p*q = n; p - 1 = 0 must never be divided by.
  RsaValues prime_one = v;
  prime_one.p = {1};
  prime_one.q = v.n;
  RsaValues prime_zero = v;
  prime_zero.p = {0};
  // p = q with n = p^2 and d = e^-1 mod (p-1): every congruence holds.
  RsaValues equal_primes = v;
  {
    ossl::BnPtr p = bn_from(v.p), n(BN_new()), p1(BN_new()), d(BN_new());
    BN_sqr(n.get(), p.get(), ctx.get());
    BN_sub(p1.get(), p.get(), BN_value_one());
    BN_mod_inverse(d.get(), bn_from(v.e).get(), p1.get(), ctx.get());
    equal_primes.n = bn_bytes(n.get());
    equal_primes.q = v.p;
    equal_primes.d = bn_bytes(d.get());
  }
  RsaValues swapped_product = v;
  swapped_product.q = bn_bytes(bn_word(3).get());
  const RsaValues big = values_from_primes(2049, 2048);

  TempDir dir;
  ASSERT_EQ(run_command("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 "
                        "-pkeyopt rsa_keygen_primes:3 -out " + dir.file("mp.pem")).status, 0);
  ASSERT_EQ(run_command("openssl rsa -in " + dir.file("mp.pem") + " -traditional -outform DER -out " +
                        dir.file("mp.der")).status, 0);
  // The modulus with a redundant leading 00 octet.
  der::Writer w;
  w.sequence([&](der::Writer& s) {
    s.integer(std::uint64_t{0});
    s.primitive(der::kInteger, concat(Bytes{0, 0}, v.n));
    for (const Bytes* b : {&v.e, &v.d, &v.p, &v.q, &v.dp, &v.dq, &v.qinv}) s.integer(*b);
  });
  const Bytes nonminimal = finish(w);
  const RejectCase cases[] = {
      {"empty", {}, asn1, true},
      {"wrong_d_bare", rsa_private_key_der(wrong_d), malformed, false},
      // A PKCS#8 document failing a key check is reported by the bare attempt.
      {"wrong_d_pkcs8", pkcs8_der(rsa_private_key_der(wrong_d)), asn1, true},
      {"prime_one", rsa_private_key_der(prime_one), malformed, false},
      {"prime_zero", rsa_private_key_der(prime_zero), malformed, false},
      {"equal_primes", rsa_private_key_der(equal_primes), malformed, false},
      {"product_not_n", rsa_private_key_der(swapped_product), malformed, false},
      {"modulus_4097_bits", rsa_private_key_der(big), malformed, false},
      {"three_primes", dir.read("mp.der"), malformed, false},
      {"pkcs8_without_null", pkcs8_der(rsa_private_key_der(v), false), asn1, true},
      {"noncanonical_integer", nonminimal, asn1, true},
      {"public_key_given", rsa_public_key_der(v.n, v.e), asn1, true},
      {"trailing_byte", concat(pkcs8_der(rsa_private_key_der(v)), Bytes{0}), asn1, true},
  };
  for (const RejectCase& c : cases) {
    SCOPED_TRACE(c.name);
    expect_rejected(rsa_private_key_from_der(c.der), c);
  }
}

// A stored key whose CRT values are wrong (but well-formed) is the key that
// n, e, d, p and q define: its signatures are those of the correct key, and
// its coefficient is q⁻¹ mod p, reduced, whatever was stored.
TEST_F(RsaKeyReading, WrongCrtValuesWorkAsTheCorrectKey) {
  const Bytes data = {'a', 'b', 'c'};
  ossl::MdCtxPtr md(EVP_MD_CTX_new());
  std::size_t len = 0;
  ASSERT_EQ(EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, key_), 1);
  ASSERT_EQ(EVP_DigestSign(md.get(), nullptr, &len, data.data(), data.size()), 1);
  Bytes expected(len);
  ASSERT_EQ(EVP_DigestSign(md.get(), expected.data(), &len, data.data(), data.size()), 1);

  ossl::BnCtxPtr ctx(BN_CTX_new());
  ossl::BnPtr p(BN_bin2bn(values_->p.data(), static_cast<int>(values_->p.size()), nullptr));
  ossl::BnPtr qinv(BN_bin2bn(values_->qinv.data(), static_cast<int>(values_->qinv.size()), nullptr));
  ossl::BnPtr t(BN_new());
  BN_add(t.get(), qinv.get(), p.get());
  const Bytes unreduced = bn_bytes(t.get());
  BN_add_word(qinv.get(), 1);
  const Bytes off_by_one = bn_bytes(qinv.get());
  struct Case { const char* name; Bytes qinv; };
  const Case coefficients[] = {
      {"p", values_->p}, {"zero", {0}}, {"plus_p", unreduced}, {"plus_one", off_by_one}};
  for (const Case& c : coefficients) {
    SCOPED_TRACE(c.name);
    RsaValues wrong = *values_;
    wrong.dp = {1};
    wrong.dq = {0};
    wrong.qinv = c.qinv;
    for (const Bytes& der : {rsa_private_key_der(wrong), pkcs8_der(rsa_private_key_der(wrong))}) {
      auto key = rsa_private_key_from_der(der);
      ASSERT_TRUE(key.has_value()) << key.error().display();
      EXPECT_EQ(bn_bytes(pkey_bn(key->get(), "rsa-coefficient1").get()), values_->qinv);
      auto sig = rsa_pkcs1v15_sign(key->get(), RsaDigest::kSha256, data);
      ASSERT_TRUE(sig.has_value()) << sig.error().display();
      EXPECT_EQ(*sig, expected);
    }
  }
}

// values_with_factors makes the values of a two-"prime" key from any p and q
// (prime or not) with e = 65537 and d = e^-1 mod lcm(p - 1, q - 1), and the
// CRT values OpenSSL computes for them (no coefficient when q has no
// inverse modulo p). nullopt when e is not invertible for these p and q.
std::optional<RsaValues> values_with_factors(const BIGNUM* p, const BIGNUM* q) {
  ossl::BnCtxPtr ctx(BN_CTX_new());
  ossl::BnPtr e = bn_word(65537), n(BN_new()), p1(BN_new()), q1(BN_new()), g(BN_new()), l(BN_new());
  ossl::BnPtr d(BN_new()), dp(BN_new()), dq(BN_new()), qinv(BN_new());
  BN_mul(n.get(), p, q, ctx.get());
  BN_sub(p1.get(), p, BN_value_one());
  BN_sub(q1.get(), q, BN_value_one());
  BN_gcd(g.get(), p1.get(), q1.get(), ctx.get());
  BN_mul(l.get(), p1.get(), q1.get(), ctx.get());
  BN_div(l.get(), nullptr, l.get(), g.get(), ctx.get());
  if (BN_mod_inverse(d.get(), e.get(), l.get(), ctx.get()) == nullptr) {
    ERR_clear_error();
    return std::nullopt;
  }
  BN_mod(dp.get(), d.get(), p1.get(), ctx.get());
  BN_mod(dq.get(), d.get(), q1.get(), ctx.get());
  Bytes qinv_bytes;
  if (BN_mod_inverse(qinv.get(), q, p, ctx.get()) != nullptr) qinv_bytes = bn_bytes(qinv.get());
  ERR_clear_error();
  return RsaValues{bn_bytes(n.get()),  bn_bytes(e.get()),  bn_bytes(d.get()), bn_bytes(p),
                   bn_bytes(q),        bn_bytes(dp.get()), bn_bytes(dq.get()), qinv_bytes};
}

ossl::BnPtr prime_of(int bits) {
  ossl::BnPtr p(BN_new());
  BN_generate_prime_ex(p.get(), bits, 0, nullptr, nullptr, nullptr);
  return p;
}

// The CRT values of a key as read are OpenSSL's own (BN_mod, BN_mod_inverse)
// for the stored p and q, whichever of them is larger. A p that is not prime
// but has no factor in common with q still has its coefficient; one that
// shares a factor with q is refused.
TEST(RsaKeyCrt, ValuesMatchOpensslForEveryShapeOfKey) {
  struct Case {
    const char* name;
    std::optional<RsaValues> values;
  };
  std::vector<Case> cases;
  cases.push_back({"p_larger", values_from_primes(1024, 1000)});
  cases.push_back({"p_smaller", values_from_primes(1000, 1024)});
  ossl::BnCtxPtr ctx(BN_CTX_new());
  std::optional<RsaValues> composite, shared;
  while (!composite || !shared) {
    ossl::BnPtr r = prime_of(512), s = prime_of(512), t = prime_of(512), q = prime_of(1024);
    ossl::BnPtr rs(BN_new()), rt(BN_new());
    BN_mul(rs.get(), r.get(), s.get(), ctx.get());
    BN_mul(rt.get(), r.get(), t.get(), ctx.get());
    if (!composite) composite = values_with_factors(rs.get(), q.get());
    if (!shared) shared = values_with_factors(rs.get(), rt.get());
  }
  ASSERT_FALSE(composite->qinv.empty());
  ASSERT_TRUE(shared->qinv.empty());
  cases.push_back({"composite_p", composite});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto key = rsa_private_key_from_der(rsa_private_key_der(*c.values));
    ASSERT_TRUE(key.has_value()) << key.error().display();
    EXPECT_EQ(bn_bytes(pkey_bn(key->get(), "rsa-exponent1").get()), c.values->dp);
    EXPECT_EQ(bn_bytes(pkey_bn(key->get(), "rsa-exponent2").get()), c.values->dq);
    EXPECT_EQ(bn_bytes(pkey_bn(key->get(), "rsa-coefficient1").get()), c.values->qinv);
  }
  RsaValues sharing = *shared;
  sharing.qinv = {1};
  expect_rejected(rsa_private_key_from_der(rsa_private_key_der(sharing)),
                  {"shared_factor", {}, "PKCS#8 cryptographic key data malformed", false});
}

}  // namespace
}  // namespace tarnwick::ohos::asym
