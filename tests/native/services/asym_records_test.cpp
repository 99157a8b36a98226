#include <gtest/gtest.h>

#include "../common/peer.h"
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <string>

#include "ohos/asym/cipher.h"
#include "ohos/asym/signature.h"
#include "support/hex.h"
#include "support/ossl.h"

namespace tarnwick::ohos::asym {
namespace {

using testing::unhex;

der::SignedInteger signed_int(bool negative, const char* magnitude_hex) {
  return der::SignedInteger{negative, unhex(magnitude_hex)};
}

std::string wrapped(const std::string& description) { return "Error Kind: " + description + "\nCodec: DER\n"; }
std::string in_field(const char* path, const std::string& inner) {
  return wrapped(std::string("Error when decoding field `") + path + "`: " + inner);
}
const std::string kCodecSpecific = wrapped("Wrapped codec-specific decode error");

// ---------------------------------------------------------------- Cipher layout

Bytes filled(std::size_t n, std::uint8_t first, std::uint8_t rest) {
  Bytes b(n, rest);
  if (n) b[0] = first;
  return b;
}

Cipher record_of(const Bytes& x1, const Bytes& y1, std::size_t message_length) {
  return Cipher{der::SignedInteger::from_unsigned(x1), der::SignedInteger::from_unsigned(y1), Bytes(32, 0x33),
                Bytes(message_length, 0x5a)};
}

TEST(CipherRecord, CoordinateEncodings) {
  struct Case {
    const char* name;
    Bytes x1;
    const char* x_prefix_hex;  // identifier, length and first value octets of `x`
    std::size_t x_value_length;
  };
  Bytes leading_zeros(32, 0x44);
  leading_zeros[0] = 0;
  leading_zeros[1] = 0;
  leading_zeros[2] = 0x12;
  const Case kCases[] = {
      {"top_bit_set", filled(32, 0x80, 0x01), "02210080", 33},
      {"top_bit_clear", filled(32, 0x7f, 0x01), "02207f", 32},
      {"two_leading_zero_bytes", leading_zeros, "021e12", 30},
      {"zero", Bytes(32, 0), "020100", 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto der = record_of(c.x1, filled(32, 0x01, 0x02), 1).encode();
    ASSERT_TRUE(der.has_value());
    // x starts after the two-byte SEQUENCE header.
    const std::string h = hex::encode(*der);
    EXPECT_EQ(h.substr(4, std::string(c.x_prefix_hex).size()), c.x_prefix_hex);
    EXPECT_EQ((*der)[3], c.x_value_length);
    auto back = Cipher::decode(*der);
    ASSERT_TRUE(back.has_value()) << back.error().display();
    EXPECT_EQ(back->x, der::SignedInteger::from_unsigned(c.x1));
  }
}

TEST(CipherRecord, MessageLengthsAndTotalSizes) {
  struct Case {
    std::size_t message_length;
    const char* c2_header_hex;
    const char* record_header_hex;
    std::size_t total;
  };
  // Both coordinates with the top bit set: x and y take 35 bytes each, c3 34,
  // so the contents are 104 bytes plus c2's header and the message.
  constexpr Case kCases[] = {
      {1, "0401", "306b", 109},
      {16, "0410", "307a", 124},
      {100, "0464", "3081ce", 209},
      {200, "0481c8", "30820133", 311},
      {300, "0482012c", "30820198", 412},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.message_length);
    const Cipher rec = record_of(filled(32, 0x80, 0x11), filled(32, 0xff, 0x22), c.message_length);
    auto der = rec.encode();
    ASSERT_TRUE(der.has_value());
    EXPECT_EQ(der->size(), c.total);
    const std::string h = hex::encode(*der);
    const std::string rh = c.record_header_hex;
    EXPECT_EQ(h.substr(0, rh.size()), rh);
    const std::string c2h = c.c2_header_hex;
    const std::size_t c2_at = der->size() - c.message_length - c2h.size() / 2;
    EXPECT_EQ(h.substr(2 * c2_at, c2h.size()), c2h);
    auto back = Cipher::decode(*der);
    ASSERT_TRUE(back.has_value()) << back.error().display();
    EXPECT_EQ(*back, rec);
  }
}

// ---------------------------------------------------------------- Cipher decoding

struct CipherDecodeCase {
  const char* name;
  const char* der_hex;
  std::string error;  // "" = decodes to `want`
  Cipher want;
};

TEST(CipherRecord, DecodeCases) {
  const Cipher basic{signed_int(false, "01"), signed_int(false, "02"), unhex("33"), unhex("aa")};
  Cipher negative_x = basic;
  negative_x.x = signed_int(true, "80");
  Cipher x_0x12 = basic;
  x_0x12.x = signed_int(false, "12");
  const CipherDecodeCase kCases[] = {
      {"basic", "300c 020101 020102 040133 0401aa", "", basic},
      {"bytes_after_sequence_ignored", "300c 020101 020102 040133 0401aa 0500ffff", "", basic},
      {"x_redundant_leading_zero", "300d 02020012 020102 040133 0401aa", "", x_0x12},
      {"x_minimal", "300c 020112 020102 040133 0401aa", "", x_0x12},
      {"x_minus_128", "300c 020180 020102 040133 0401aa", "", negative_x},
      {"x_minus_128_redundant_ff", "300d 0202ff80 020102 040133 0401aa", "", negative_x},
      {"fifth_element", "300f 020101 020102 040133 0401aa 050100",
       wrapped("Unexpected extra data found: length `3` bytes"), {}},
      {"x_is_octet_string", "300c 040101 020102 040133 0401aa", in_field("Cipher.x", kCodecSpecific), {}},
      {"y_empty_integer", "300b 020101 0200 040133 0401aa",
       in_field("Cipher.y", wrapped("Unexpected empty input while decoding Integer")), {}},
      {"ends_after_c3", "3009 020101 020102 040133",
       in_field("Cipher.c2", wrapped("Need more data to continue: (Size(1))")), {}},
      {"c3_longer_than_sequence", "3009 020101 020102 040533",
       in_field("Cipher.c3", wrapped("Need more data to continue: (Size(4))")), {}},
      {"c2_constructed", "300e 020101 020102 040133 2403 0401aa", in_field("Cipher.c2", kCodecSpecific), {}},
      {"empty_input", "", wrapped("Need more data to continue: (Size(1))"), {}},
      {"sequence_truncated", "300c 020101 0201", wrapped("Need more data to continue: (Size(7))"), {}},
      {"outer_set", "310c 020101 020102 040133 0401aa", kCodecSpecific, {}},
      {"outer_primitive", "100c 020101 020102 040133 0401aa", kCodecSpecific, {}},
      {"indefinite_length", "3080 020101 020102 040133 0401aa 0000", kCodecSpecific, {}},
      {"non_minimal_length", "30810c 020101 020102 040133 0401aa", kCodecSpecific, {}},
  };
  for (const CipherDecodeCase& c : kCases) {
    SCOPED_TRACE(c.name);
    auto got = Cipher::decode(unhex(c.der_hex));
    if (c.error.empty()) {
      ASSERT_TRUE(got.has_value()) << got.error().display();
      EXPECT_EQ(*got, c.want);
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error().display(), c.error);
    }
  }
}

// OpenSSL writes SM2 ciphertexts in the same SEQUENCE {x, y, C3, C2} form:
// its output decodes, (x, y) is a point of the SM2 curve, and re-encoding
// gives OpenSSL's bytes back.
TEST(CipherRecord, DecodesOpenSslSm2Ciphertexts) {
  ossl::PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
  ASSERT_TRUE(key);
  ossl::EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  ASSERT_TRUE(group);
  for (std::size_t m : {1u, 16u, 100u, 200u, 300u}) {
    SCOPED_TRACE(m);
    Bytes message(m);
    ASSERT_EQ(RAND_bytes(message.data(), static_cast<int>(m)), 1);
    ossl::PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    ASSERT_EQ(EVP_PKEY_encrypt_init(ctx.get()), 1);
    std::size_t out_len = 0;
    ASSERT_EQ(EVP_PKEY_encrypt(ctx.get(), nullptr, &out_len, message.data(), m), 1);
    Bytes ct(out_len);
    ASSERT_EQ(EVP_PKEY_encrypt(ctx.get(), ct.data(), &out_len, message.data(), m), 1);
    ct.resize(out_len);

    auto rec = Cipher::decode(ct);
    ASSERT_TRUE(rec.has_value()) << rec.error().display();
    EXPECT_FALSE(rec->x.negative);
    EXPECT_FALSE(rec->y.negative);
    EXPECT_EQ(rec->c3.size(), 32u);
    EXPECT_EQ(rec->c2.size(), m);

    ossl::BnPtr x(BN_bin2bn(rec->x.magnitude.data(), static_cast<int>(rec->x.magnitude.size()), nullptr));
    ossl::BnPtr y(BN_bin2bn(rec->y.magnitude.data(), static_cast<int>(rec->y.magnitude.size()), nullptr));
    ossl::EcPointPtr point(EC_POINT_new(group.get()));
    ASSERT_EQ(EC_POINT_set_affine_coordinates(group.get(), point.get(), x.get(), y.get(), nullptr), 1);
    EXPECT_EQ(EC_POINT_is_on_curve(group.get(), point.get(), nullptr), 1);

    auto again = rec->encode();
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(hex::encode(*again), hex::encode(ct));
  }
}

// ---------------------------------------------------------------- Signature

TEST(SignatureRecord, SmallestRecord) {
  const Bytes der = Signature::encode(unhex("01"), unhex("0001"));
  EXPECT_EQ(hex::encode(der), "3006020101020101");
  auto back = Signature::decode(der);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->r, signed_int(false, "01"));
  EXPECT_EQ(back->s, signed_int(false, "01"));
  EXPECT_EQ(hex::encode(Signature::encode({}, unhex("00"))), "3006020100020100");
}

Bytes i2d_sig(const Bytes& r, const Bytes& s) {
  ECDSA_SIG* sig = ECDSA_SIG_new();
  ECDSA_SIG_set0(sig, BN_bin2bn(r.data(), static_cast<int>(r.size()), nullptr),
                 BN_bin2bn(s.data(), static_cast<int>(s.size()), nullptr));
  unsigned char* out = nullptr;
  const int n = i2d_ECDSA_SIG(sig, &out);
  Bytes b(out, out + n);
  OPENSSL_free(out);
  ECDSA_SIG_free(sig);
  return b;
}

// For minimal encodings of non-negative values OpenSSL's ECDSA-Sig-Value
// codec is an independent oracle in both directions.
TEST(SignatureRecord, AgreesWithOpenSslEcdsaSig) {
  for (int i = 0; i < 200; ++i) {
    Bytes r(1 + i % 32), s(32 - i % 32);
    ASSERT_EQ(RAND_bytes(r.data(), static_cast<int>(r.size())), 1);
    ASSERT_EQ(RAND_bytes(s.data(), static_cast<int>(s.size())), 1);
    if (i % 3 == 0) r[0] |= 0x80;  // needs the 00 sign octet
    if (i % 5 == 0) s[0] = 0;      // shorter than its byte string
    SCOPED_TRACE(hex::encode(r) + "/" + hex::encode(s));
    const Bytes ours = Signature::encode(r, s);
    EXPECT_EQ(hex::encode(ours), hex::encode(i2d_sig(r, s)));
    auto back = Signature::decode(ours);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->r, der::SignedInteger::from_unsigned(r));
    EXPECT_EQ(back->s, der::SignedInteger::from_unsigned(s));
  }
}

struct SignatureDecodeCase {
  const char* name;
  const char* der_hex;
  bool openssl_accepts;  // d2i_ECDSA_SIG's verdict
  std::string error;     // "" = decodes to r, s
  der::SignedInteger r, s;
};

TEST(SignatureRecord, DecodeCases) {
  const SignatureDecodeCase kCases[] = {
      {"minimal", "3006 020101 020101", true, "", signed_int(false, "01"), signed_int(false, "01")},
      {"redundant_leading_zero", "3007 02020001 020101", false, "", signed_int(false, "01"),
       signed_int(false, "01")},
      {"minus_one", "3006 0201ff 020101", false, "", signed_int(true, "01"), signed_int(false, "01")},
      {"minus_one_redundant_ff", "3007 0202ffff 020101", false, "", signed_int(true, "01"),
       signed_int(false, "01")},
      {"constructed_integer_identifier", "3006 220101 020101", false, "", signed_int(false, "01"),
       signed_int(false, "01")},
      {"bytes_after_sequence", "3006 020101 020101 00", true, "", signed_int(false, "01"),
       signed_int(false, "01")},
      {"empty_r", "3005 0200 020101", false,
       in_field("Signature.r", wrapped("Unexpected empty input while decoding Integer")), {}, {}},
      {"s_missing", "3003 020101", false, in_field("Signature.s", wrapped("Need more data to continue: (Size(1))")),
       {}, {}},
      {"s_wrong_tag", "3006 020101 040101", false, in_field("Signature.s", kCodecSpecific), {}, {}},
      {"byte_left_inside", "3007 020101 020101 00", false, wrapped("Unexpected extra data found: length `1` bytes"),
       {}, {}},
      {"outer_set", "3106 020101 020101", false, kCodecSpecific, {}, {}},
      {"outer_primitive", "1006 020101 020101", false, kCodecSpecific, {}, {}},
      {"indefinite_length", "3080 020101 020101 0000", false, kCodecSpecific, {}, {}},
  };
  for (const SignatureDecodeCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const Bytes der = unhex(c.der_hex);
    const unsigned char* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    EXPECT_EQ(sig != nullptr, c.openssl_accepts);
    ECDSA_SIG_free(sig);
    ERR_clear_error();
    auto got = Signature::decode(der);
    if (c.error.empty()) {
      ASSERT_TRUE(got.has_value()) << got.error().display();
      EXPECT_EQ(got->r, c.r);
      EXPECT_EQ(got->s, c.s);
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error().display(), c.error);
    }
  }
}

TEST(AlgorithmKindTest, FromSignAlgorithm) {
  struct Case {
    SignAlgorithm algorithm;
    std::uint8_t kind;
    bool sm2;
    const char* name;
  };
  constexpr Case kCases[] = {
      {SignAlgorithm::SHA1WithRSA, 2, false, "SHA1WithRSA"},
      {SignAlgorithm::SHA256WithRSA, 3, false, "SHA256WithRSA"},
      {SignAlgorithm::SM3, 4, true, "SM3"},
      {SignAlgorithm::SM3WithSM2, 5, true, "SM3WithSM2"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const AlgorithmKind k = algorithm_kind(c.algorithm);
    EXPECT_EQ(static_cast<std::uint8_t>(k), c.kind);
    EXPECT_EQ(is_sm2_family(k), c.sm2);
    EXPECT_EQ(name(k), c.name);
  }
  EXPECT_FALSE(is_sm2_family(AlgorithmKind::None));
  EXPECT_FALSE(is_sm2_family(AlgorithmKind::RSA));
  EXPECT_EQ(name(AlgorithmKind::None), "None");
  EXPECT_EQ(name(AlgorithmKind::RSA), "RSA");
  EXPECT_EQ(static_cast<int>(algorithm_kind(static_cast<SignAlgorithm>(255))), 1);  // eight-bit wrap
}

}  // namespace
}  // namespace tarnwick::ohos::asym
