#include "support/der.h"

#include <gtest/gtest.h>

#include "../common/peer.h"
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <string>

#include "support/hex.h"
#include "support/ossl.h"

namespace tarnwick {
namespace {

using testing::unhex;

Bytes openssl_integer(const BIGNUM* bn) {
  ASN1_INTEGER* ai = BN_to_ASN1_INTEGER(bn, nullptr);
  unsigned char* out = nullptr;
  const int n = i2d_ASN1_INTEGER(ai, &out);
  Bytes b(out, out + n);
  OPENSSL_free(out);
  ASN1_INTEGER_free(ai);
  return b;
}

// A test schema that exercises every reader operation:
//   Doc ::= SEQUENCE {
//     version   INTEGER (unsigned, canonical),
//     algorithm SEQUENCE { OBJECT IDENTIFIER, NULL },
//     key       BIT STRING,
//     extra     [0] EXPLICIT OCTET STRING OPTIONAL }
// The whole input must be one Doc. Returns "" on success, else the error text.
std::string parse_doc(ByteView in) {
  der::Reader top(in);
  auto doc = top.read_sequence();
  if (!doc) return doc.error().text();
  if (auto v = doc->read_integer_unsigned(); !v) return v.error().text();
  auto alg = doc->read_sequence();
  if (!alg) return alg.error().text();
  if (auto o = alg->read_oid(); !o) return o.error().text();
  if (auto n = alg->read_null(); !n) return n.error().text();
  if (auto f = alg->finish(); !f) return f.error().text();
  if (auto b = doc->read_bit_string(); !b) return b.error().text();
  auto extra = doc->read_optional_explicit(0);
  if (!extra) return extra.error().text();
  if (*extra) {
    if (auto s = (*extra)->read_octet_string(); !s) return s.error().text();
    if (auto f = (*extra)->finish(); !f) return f.error().text();
  }
  if (auto f = doc->finish(); !f) return f.error().text();
  if (auto f = top.finish(); !f) return f.error().text();
  return "";
}

// Valid Doc: 30 10 | 02 01 00 | 30 07 06 03 2A 03 04 05 00 | 03 02 00 AA
constexpr const char* kDoc = "3010 020100 3007 06032a0304 0500 030200aa";

struct MalformedCase {
  const char* name;
  const char* der_hex;
  const char* text;  // "" = accepted
};

// Texts are the DER error texts this module reports; positions are the
// offset of the failing element's identifier (tag and value faults), of its
// first length octet (length faults), of the first missing byte or the start
// of the missing contents (truncation), or of the first unread byte
// (trailing data).
constexpr MalformedCase kMalformed[] = {
    {"valid", "3010 020100 3007 06032a0304 0500 030200aa", ""},
    {"valid_with_explicit_0", "3015 020100 3007 06032a0304 0500 030200aa a003 040100", ""},
    {"valid_integer_with_sign_octet", "3011 02020080 3007 06032a0304 0500 030200aa", ""},
    {"valid_bit_string_unused_bits", "3010 020100 3007 06032a0304 0500 030204a0", ""},
    {"empty_input", "", "ASN.1 DER message is incomplete: expected 1, actual 0 at DER byte 0"},
    {"tag_only", "30", "ASN.1 DER message is incomplete: expected 2, actual 1 at DER byte 1"},
    {"long_length_truncated", "3081", "ASN.1 DER message is incomplete: expected 3, actual 2 at DER byte 2"},
    {"contents_truncated", "3011 020100 3007 06032a0304 0500 030200aa",
     "ASN.1 DER message is incomplete: expected 19, actual 18 at DER byte 2"},
    {"inner_exceeds_sequence", "3010 027f00 3007 06032a0304 0500 030200aa",
     "ASN.1 DER message is incomplete: expected 131, actual 18 at DER byte 4"},
    {"indefinite_length", "3080 020100 3007 06032a0304 0500 030200aa 0000",
     "indefinite length disallowed at DER byte 1"},
    {"non_minimal_long_form", "308110 020100 3007 06032a0304 0500 030200aa",
     "ASN.1 DER message is too long at DER byte 1"},
    {"non_minimal_two_octets", "30820010 020100 3007 06032a0304 0500 030200aa",
     "ASN.1 DER message is too long at DER byte 1"},
    {"five_length_octets", "30850000000010", "ASN.1 DER message is too long at DER byte 1"},
    {"length_above_limit", "308410000000", "integer overflow at DER byte 1"},
    {"set_instead_of_sequence", "3110 020100 3007 06032a0304 0500 030200aa",
     "unexpected ASN.1 DER tag: expected SEQUENCE, got SET at DER byte 0"},
    {"primitive_sequence", "1010 020100 3007 06032a0304 0500 030200aa",
     "unknown/unsupported ASN.1 DER tag: 0x10 at DER byte 0"},
    {"high_tag_number_form", "1f2001", "invalid tag number at DER byte 0"},
    {"trailing_after_document", "3010 020100 3007 06032a0304 0500 030200aa 00",
     "trailing data at end of DER message: decoded 18 bytes, 1 bytes remaining at DER byte 18"},
    {"trailing_inside_sequence", "3012 020100 3007 06032a0304 0500 030200aa 0500",
     "trailing data at end of DER message: decoded 16 bytes, 2 bytes remaining at DER byte 18"},
    {"trailing_inside_algorithm", "3012 020100 3009 06032a0304 0500 0500 030200aa",
     "trailing data at end of DER message: decoded 7 bytes, 2 bytes remaining at DER byte 14"},
    {"integer_empty", "300f 0200 3007 06032a0304 0500 030200aa",
     "ASN.1 INTEGER not canonically encoded as DER at DER byte 2"},
    {"integer_redundant_zero", "3011 02020001 3007 06032a0304 0500 030200aa",
     "ASN.1 INTEGER not canonically encoded as DER at DER byte 2"},
    {"integer_negative", "3010 020180 3007 06032a0304 0500 030200aa",
     "malformed ASN.1 DER value for INTEGER at DER byte 2"},
    {"integer_wrong_tag", "3010 040100 3007 06032a0304 0500 030200aa",
     "unexpected ASN.1 DER tag: expected INTEGER, got OCTET STRING at DER byte 2"},
    {"null_with_contents", "3011 020100 3008 06032a0304 050100 030200aa",
     "incorrect length for NULL at DER byte 12"},
    {"null_missing", "300e 020100 3005 06032a0304 030200aa",
     "ASN.1 DER message is incomplete: expected 13, actual 12 at DER byte 12"},
    {"oid_leading_80", "3011 020100 3008 06042a800304 0500 030200aa", "malformed OID at DER byte 7"},
    {"oid_unterminated", "3010 020100 3007 06032a0383 0500 030200aa", "malformed OID at DER byte 7"},
    {"oid_empty", "300d 020100 3004 0600 0500 030200aa", "malformed OID at DER byte 7"},
    {"bit_string_empty", "300e 020100 3007 06032a0304 0500 0300",
     "malformed ASN.1 DER value for BIT STRING at DER byte 14"},
    {"bit_string_8_unused", "3010 020100 3007 06032a0304 0500 030208aa",
     "malformed ASN.1 DER value for BIT STRING at DER byte 14"},
    {"bit_string_unused_without_data", "300f 020100 3007 06032a0304 0500 030101",
     "malformed ASN.1 DER value for BIT STRING at DER byte 14"},
    {"bit_string_nonzero_padding", "3010 020100 3007 06032a0304 0500 030201ab",
     "ASN.1 BIT STRING not canonically encoded as DER at DER byte 14"},
    {"bit_string_constructed", "3010 020100 3007 06032a0304 0500 230200aa",
     "unknown/unsupported ASN.1 DER tag: 0x23 at DER byte 14"},
    {"explicit_0_primitive", "3013 020100 3007 06032a0304 0500 030200aa 800100",
     "ASN.1 CONTEXT-SPECIFIC [0] (primitive) not canonically encoded as DER at DER byte 18"},
    {"explicit_0_wrong_inner", "3015 020100 3007 06032a0304 0500 030200aa a003 020100",
     "unexpected ASN.1 DER tag: expected OCTET STRING, got INTEGER at DER byte 20"},
    {"constructed_octet_string", "3015 020100 3007 06032a0304 0500 030200aa a003 240100",
     "unknown/unsupported ASN.1 DER tag: 0x24 at DER byte 20"},
    {"unexpected_context_1", "3015 020100 3007 06032a0304 0500 030200aa a103 040100",
     "trailing data at end of DER message: decoded 16 bytes, 5 bytes remaining at DER byte 18"},
};

TEST(DerReader, MalformedInputs) {
  for (const MalformedCase& c : kMalformed) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse_doc(unhex(c.der_hex)), c.text);
  }
}

TEST(DerReader, PositionsAreAbsoluteInNestedReaders) {
  const Bytes in = unhex(kDoc);
  der::Reader top(in);
  auto doc = top.read_sequence();
  ASSERT_TRUE(doc.has_value());
  EXPECT_EQ(doc->position(), 2u);
  ASSERT_TRUE(doc->read_integer_unsigned().has_value());
  auto alg = doc->read_sequence();
  ASSERT_TRUE(alg.has_value());
  EXPECT_EQ(alg->position(), 7u);
  EXPECT_EQ(alg->remaining(), 7u);
  auto oid = alg->read_oid();
  ASSERT_TRUE(oid.has_value());
  EXPECT_EQ(der::oid_to_dotted(*oid).value_or(""), "1.2.3.4");
  // A failed read leaves the cursor where it was.
  auto wrong = alg->read_integer_unsigned();
  ASSERT_FALSE(wrong.has_value());
  EXPECT_EQ(wrong.error().kind(), der::ErrorKind::TagUnexpected);
  EXPECT_EQ(wrong.error().position(), std::optional<std::size_t>(12));
  EXPECT_TRUE(alg->read_null().has_value());
  EXPECT_TRUE(alg->finish().has_value());
}

TEST(DerReader, UnsignedIntegerMagnitudes) {
  struct Case {
    const char* der_hex;
    const char* magnitude_hex;
    std::uint64_t small;
  };
  constexpr Case kCases[] = {
      {"020100", "00", 0},
      {"02017f", "7f", 127},
      {"02020080", "80", 128},
      {"02030100 01", "010001", 65537},
      {"020900ffffffffffffffff", "ffffffffffffffff", ~0ull},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.der_hex);
    const Bytes in = unhex(c.der_hex);
    der::Reader r(in);
    auto m = r.read_integer_unsigned();
    ASSERT_TRUE(m.has_value()) << m.error().text();
    EXPECT_EQ(hex::encode(*m), c.magnitude_hex);
    der::Reader r2(in);
    auto s = r2.read_integer_small();
    ASSERT_TRUE(s.has_value()) << s.error().text();
    EXPECT_EQ(*s, c.small);
  }
  const Bytes two = unhex("02020100");
  der::Reader r(two);
  auto s = r.read_integer_small(1);
  ASSERT_FALSE(s.has_value());
  EXPECT_EQ(s.error().text(), "incorrect length for INTEGER at DER byte 0");
  EXPECT_EQ(r.position(), 0u);
}

TEST(DerReader, IntegerContentKeepsTwosComplementAsWritten) {
  for (const char* h : {"0201ff", "02020001", "0203ffff80", "020100"}) {
    SCOPED_TRACE(h);
    const Bytes in = unhex(h);
    der::Reader r(in);
    auto c = r.read_integer_content();
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(hex::encode(*c), hex::encode(ByteView(in).subspan(2)));
  }
  const Bytes empty = unhex("0200");
  der::Reader r(empty);
  auto c = r.read_integer_content();
  ASSERT_FALSE(c.has_value());
  EXPECT_EQ(c.error().text(), "malformed ASN.1 DER value for INTEGER at DER byte 0");
}

// Signed values of INTEGER contents (X.690 §8.3.3); random minimal contents
// written by OpenSSL read back as OpenSSL's value.
TEST(DerSignedInteger, TwosComplementContents) {
  struct Case {
    const char* content_hex;
    bool negative;
    const char* magnitude_hex;
  };
  constexpr Case kCases[] = {
      {"00", false, ""},     {"0000", false, ""},       {"7f", false, "7f"},   {"0080", false, "80"},
      {"80", true, "80"},    {"ff", true, "01"},        {"ffff", true, "01"},  {"ff7f", true, "81"},
      {"ff00", true, "0100"}, {"8000", true, "8000"},   {"00ff", false, "ff"}, {"", false, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.content_hex);
    const auto v = der::SignedInteger::from_twos_complement(unhex(c.content_hex));
    EXPECT_EQ(v.negative, c.negative);
    EXPECT_EQ(hex::encode(v.magnitude), c.magnitude_hex);
  }
  // Random minimal contents: OpenSSL's reading agrees.
  for (int i = 0; i < 100; ++i) {
    Bytes m(1 + i % 40);
    ASSERT_EQ(RAND_bytes(m.data(), static_cast<int>(m.size())), 1);
    ossl::BnPtr bn(BN_bin2bn(m.data(), static_cast<int>(m.size()), nullptr));
    BN_set_negative(bn.get(), i % 2);
    const Bytes tlv = openssl_integer(bn.get());
    const auto v = der::SignedInteger::from_twos_complement(ByteView(tlv).subspan(2));
    Bytes want(static_cast<std::size_t>(BN_num_bytes(bn.get())));
    BN_bn2bin(bn.get(), want.data());
    EXPECT_EQ(v.negative, BN_is_negative(bn.get()) != 0);
    EXPECT_EQ(hex::encode(v.magnitude), hex::encode(want));
  }
}

TEST(DerReader, InputLongerThanTheLengthLimitIsRefused) {
  const Bytes huge(der::kMaxLength + 1, 0);
  der::Reader r(huge);
  auto s = r.read_sequence();
  ASSERT_FALSE(s.has_value());
  EXPECT_EQ(s.error().text(), "integer overflow");
}

// Object identifiers: dotted form and validity against OpenSSL's own decoder.
TEST(DerOid, DottedFormAgreesWithOpenSsl) {
  constexpr const char* kOids[] = {
      "2a864886f70d010101",      // 1.2.840.113549.1.1.1
      "2a8648ce3d0201",          // 1.2.840.10045.2.1
      "2a811ccf5501822d",        // 1.2.156.10197.1.301
      "2b0e03021a",              // 1.3.14.3.2.26
      "550403",                  // 2.5.4.3
      "8837",                    // 2.999
      "00",                      // 0.0
      "28",                      // 1.0
      "2a8fffffff7f",            // arc 2^32 − 1
      "2a808101",                // leading 0x80 in a subidentifier
      "2a86",                    // unterminated
  };
  for (const char* h : kOids) {
    SCOPED_TRACE(h);
    const Bytes content = unhex(h);
    Bytes tlv{0x06, static_cast<std::uint8_t>(content.size())};
    tlv.insert(tlv.end(), content.begin(), content.end());
    const unsigned char* p = tlv.data();
    ASN1_OBJECT* obj = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(tlv.size()));
    auto ours = der::oid_to_dotted(content);
    if (obj == nullptr) {
      ERR_clear_error();
      EXPECT_FALSE(ours.has_value()) << ours.value_or("");
      continue;
    }
    char buf[128];
    OBJ_obj2txt(buf, sizeof buf, obj, 1);
    ASN1_OBJECT_free(obj);
    ASSERT_TRUE(ours.has_value()) << ours.error().text();
    EXPECT_EQ(*ours, buf);
  }
  EXPECT_FALSE(der::oid_to_dotted(unhex("2a90808080800001")).has_value());  // arc ≥ 2^32
}

// ---------------------------------------------------------------- writer

TEST(DerWriter, IntegersAgreeWithOpenSsl) {
  // Fixed boundaries around the sign octet, then random values of every
  // length up to 66 bytes, positive and negative.
  std::vector<std::pair<bool, Bytes>> values;
  for (const char* h : {"", "00", "01", "7f", "80", "ff", "0100", "00ff", "8000", "ffff", "010000",
                        "000000007f", "800000000000000000"}) {
    values.push_back({false, unhex(h)});
    values.push_back({true, unhex(h)});
  }
  for (std::size_t len = 1; len <= 66; ++len) {
    Bytes m(len);
    ASSERT_EQ(RAND_bytes(m.data(), static_cast<int>(len)), 1);
    values.push_back({false, m});
    values.push_back({true, m});
  }
  for (const auto& [negative, magnitude] : values) {
    std::string trace(1, negative ? '-' : '+');
    trace += hex::encode(magnitude);
    SCOPED_TRACE(trace);
    ossl::BnPtr bn(BN_bin2bn(magnitude.data(), static_cast<int>(magnitude.size()), nullptr));
    ASSERT_TRUE(bn);
    BN_set_negative(bn.get(), negative ? 1 : 0);
    der::Writer w;
    w.integer_signed(negative, magnitude);
    auto ours = std::move(w).finish();
    ASSERT_TRUE(ours.has_value());
    EXPECT_EQ(hex::encode(*ours), hex::encode(openssl_integer(bn.get())));
    if (!negative) {
      der::Writer u;
      u.integer(magnitude);
      EXPECT_EQ(hex::encode(std::move(u).finish().value()), hex::encode(*ours));
    }
  }
}

TEST(DerWriter, LengthFormsAgreeWithOpenSsl) {
  for (std::size_t n : {0u, 1u, 127u, 128u, 255u, 256u, 65535u, 65536u, 70000u}) {
    SCOPED_TRACE(n);
    const Bytes content(n, 0x5a);
    ASN1_OCTET_STRING* os = ASN1_OCTET_STRING_new();
    ASSERT_EQ(ASN1_OCTET_STRING_set(os, content.data(), static_cast<int>(n)), 1);
    unsigned char* out = nullptr;
    const int len = i2d_ASN1_OCTET_STRING(os, &out);
    const Bytes theirs(out, out + len);
    OPENSSL_free(out);
    ASN1_OCTET_STRING_free(os);
    der::Writer w;
    w.octet_string(content);
    auto ours = std::move(w).finish();
    ASSERT_TRUE(ours.has_value());
    EXPECT_EQ(*ours, theirs);
    EXPECT_EQ(der::encoded_length(n), theirs.size());
    der::Reader r(*ours);
    auto back = r.read_octet_string();
    ASSERT_TRUE(back.has_value()) << back.error().text();
    EXPECT_TRUE(std::equal(back->begin(), back->end(), content.begin(), content.end()));
    EXPECT_TRUE(r.finish().has_value());
  }
}

TEST(DerWriter, ContentPastTheLengthLimitFailsAtFinish) {
  const Bytes huge(der::kMaxLength + 1, 0);
  der::Writer w;
  w.octet_string(huge);
  auto out = std::move(w).finish();
  ASSERT_FALSE(out.has_value());
  EXPECT_EQ(out.error().text(), "integer overflow");
}

// ---------------------------------------------------------------- RSA documents

struct RsaValues {
  Bytes n, e, d, p, q, dp, dq, qinv;
};

Bytes bn_param(const EVP_PKEY* pkey, const char* name) {
  BIGNUM* bn = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(pkey, name, &bn), 1) << name;
  Bytes out(static_cast<std::size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, out.data());
  BN_clear_free(bn);
  return out;
}

class DerRsaDocuments : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    key_ = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
    ASSERT_NE(key_, nullptr);
    v_.n = bn_param(key_, OSSL_PKEY_PARAM_RSA_N);
    v_.e = bn_param(key_, OSSL_PKEY_PARAM_RSA_E);
    v_.d = bn_param(key_, OSSL_PKEY_PARAM_RSA_D);
    v_.p = bn_param(key_, OSSL_PKEY_PARAM_RSA_FACTOR1);
    v_.q = bn_param(key_, OSSL_PKEY_PARAM_RSA_FACTOR2);
    v_.dp = bn_param(key_, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    v_.dq = bn_param(key_, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    v_.qinv = bn_param(key_, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  }
  static void TearDownTestSuite() { EVP_PKEY_free(key_); }

  static Bytes rsa_private_key(der::Wipe wipe) {
    der::Writer w(wipe);
    w.sequence([&](der::Writer& s) {
      s.integer(std::uint64_t{0}).integer(v_.n).integer(v_.e).integer(v_.d).integer(v_.p).integer(v_.q)
          .integer(v_.dp).integer(v_.dq).integer(v_.qinv);
    });
    return std::move(w).finish().value();
  }

  static inline EVP_PKEY* key_ = nullptr;
  static inline RsaValues v_;
};

const Bytes kRsaEncryption = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01};

TEST_F(DerRsaDocuments, SubjectPublicKeyInfoEqualsI2dPubkey) {
  der::Writer pk;
  pk.sequence([&](der::Writer& s) { s.integer(v_.n).integer(v_.e); });
  const Bytes rsa_public = std::move(pk).finish().value();
  der::Writer w;
  w.sequence([&](der::Writer& s) {
    s.sequence([&](der::Writer& a) { a.oid(kRsaEncryption).null(); });
    s.bit_string(rsa_public);
  });
  const Bytes ours = std::move(w).finish().value();

  unsigned char* out = nullptr;
  const int len = i2d_PUBKEY(key_, &out);
  ASSERT_GT(len, 0);
  const Bytes theirs(out, out + len);
  OPENSSL_free(out);
  EXPECT_EQ(hex::encode(ours), hex::encode(theirs));
  EXPECT_EQ(theirs.size(), 162u);

  // And OpenSSL's document reads back to the same values.
  der::Reader top(theirs);
  auto spki = top.read_sequence();
  ASSERT_TRUE(spki.has_value());
  auto alg = spki->read_sequence();
  ASSERT_TRUE(alg.has_value());
  auto oid = alg->read_oid();
  ASSERT_TRUE(oid.has_value());
  EXPECT_EQ(der::oid_to_dotted(*oid).value_or(""), "1.2.840.113549.1.1.1");
  EXPECT_TRUE(alg->read_null().has_value());
  auto bits = spki->read_bit_string();
  ASSERT_TRUE(bits.has_value());
  EXPECT_EQ(bits->unused_bits, 0);
  der::Reader inner(bits->bytes);
  auto seq = inner.read_sequence();
  ASSERT_TRUE(seq.has_value());
  auto n = seq->read_integer_unsigned();
  auto e = seq->read_integer_unsigned();
  ASSERT_TRUE(n && e);
  EXPECT_EQ(Bytes(n->begin(), n->end()), v_.n);
  EXPECT_EQ(Bytes(e->begin(), e->end()), v_.e);
  EXPECT_TRUE(seq->finish() && spki->finish() && top.finish());
}

TEST_F(DerRsaDocuments, PrivateKeyDocumentsEqualOpenSsl) {
  // PKCS#1 RSAPrivateKey: OpenSSL's traditional encoding.
  unsigned char* out = nullptr;
  int len = i2d_PrivateKey(key_, &out);
  ASSERT_GT(len, 0);
  const Bytes pkcs1(out, out + len);
  OPENSSL_clear_free(out, static_cast<size_t>(len));
  EXPECT_EQ(hex::encode(rsa_private_key(der::Wipe::No)), hex::encode(pkcs1));
  EXPECT_EQ(hex::encode(rsa_private_key(der::Wipe::Yes)), hex::encode(pkcs1));

  // PKCS#8 PrivateKeyInfo around it.
  PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key_);
  ASSERT_NE(p8, nullptr);
  out = nullptr;
  len = i2d_PKCS8_PRIV_KEY_INFO(p8, &out);
  PKCS8_PRIV_KEY_INFO_free(p8);
  ASSERT_GT(len, 0);
  const Bytes pkcs8(out, out + len);
  OPENSSL_clear_free(out, static_cast<size_t>(len));
  der::Writer w(der::Wipe::Yes);
  w.sequence([&](der::Writer& s) {
    s.integer(std::uint64_t{0});
    s.sequence([&](der::Writer& a) { a.oid(kRsaEncryption).null(); });
    s.octet_string(pkcs1);
  });
  EXPECT_EQ(hex::encode(std::move(w).finish().value()), hex::encode(pkcs8));

  // Reading OpenSSL's RSAPrivateKey gives back every value.
  der::Reader top(pkcs1);
  auto seq = top.read_sequence();
  ASSERT_TRUE(seq.has_value());
  EXPECT_EQ(seq->read_integer_small(1).value_or(99), 0u);
  for (const Bytes* want : {&v_.n, &v_.e, &v_.d, &v_.p, &v_.q, &v_.dp, &v_.dq, &v_.qinv}) {
    auto got = seq->read_integer_unsigned();
    ASSERT_TRUE(got.has_value()) << got.error().text();
    EXPECT_EQ(Bytes(got->begin(), got->end()), *want);
  }
  EXPECT_TRUE(seq->finish().has_value());
  EXPECT_TRUE(top.finish().has_value());
}

// SEC1 ECPrivateKey with [0] and [1] EXPLICIT, against OpenSSL's encoding of
// an SM2 key (the test uses OpenSSL's SM2 only as an encoder oracle).
TEST(DerSec1, ExplicitFieldsEqualOpenSslEcPrivateKey) {
  ossl::PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
  ASSERT_TRUE(key);
  unsigned char* out = nullptr;
  const int len = i2d_PrivateKey(key.get(), &out);
  ASSERT_GT(len, 0);
  const Bytes theirs(out, out + len);
  OPENSSL_clear_free(out, static_cast<size_t>(len));

  der::Reader top(theirs);
  auto ec = top.read_sequence();
  ASSERT_TRUE(ec.has_value());
  EXPECT_EQ(ec->read_integer_small(1).value_or(99), 1u);
  auto d = ec->read_octet_string();
  ASSERT_TRUE(d.has_value());
  auto params = ec->read_optional_explicit(0);
  ASSERT_TRUE(params.has_value() && params->has_value());
  auto curve = (*params)->read_oid();
  ASSERT_TRUE(curve.has_value());
  EXPECT_EQ(der::oid_to_dotted(*curve).value_or(""), "1.2.156.10197.1.301");
  auto pub = ec->read_optional_explicit(1);
  ASSERT_TRUE(pub.has_value() && pub->has_value());
  auto point = (*pub)->read_bit_string();
  ASSERT_TRUE(point.has_value());
  EXPECT_EQ(point->bytes.size(), 65u);
  EXPECT_TRUE(ec->finish() && top.finish());

  der::Writer w(der::Wipe::Yes);
  w.sequence([&](der::Writer& s) {
    s.integer(std::uint64_t{1}).octet_string(*d);
    s.explicit_(0, [&](der::Writer& p) { p.oid(*curve); });
    s.explicit_(1, [&](der::Writer& p) { p.bit_string(point->bytes); });
  });
  EXPECT_EQ(hex::encode(std::move(w).finish().value()), hex::encode(theirs));
}

}  // namespace
}  // namespace tarnwick
