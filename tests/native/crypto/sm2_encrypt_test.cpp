#include "crypto/sm2/key.h"

#include <gtest/gtest.h>

#include "../common/peer.h"
#include "sm2_scalar_helpers.h"
#include "../common/scripted_random.h"
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/sm2/biguint.h"
#include "crypto/sm2/p256_field.h"
#include "support/hex.h"
#include "support/os_random.h"
#include "support/ossl.h"

namespace tarnwick::sm2::key {
namespace {

using testing::ScriptedDraws;
using testing::SourceGuard;
using testing::openssl_sm3;
using testing::unhex;

// GB/T 32918.4-style example on the recommended curve.
constexpr const char* kD = "3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8";
constexpr const char* kPx = "09F9DF311E5421A150DD7D161E4BC5C672179FAD1833FC076BB08FF356F35020";
constexpr const char* kPy = "CCEA490CE26775A52DC6EA718CC1AA600AED05FBF35E084A6632F6072DA9AD13";
constexpr const char* kK = "59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21";
constexpr const char* kC1x = "04ebfc718e8d1798620432268e77feb6415e2ede0e073c0f4f640ecd2e149a73";
constexpr const char* kC1y = "e858f9d81e5430a57b36daab8f950a3c64e6ee6a63094d99283aff767e124df0";
constexpr const char* kC3 = "59983c18f809e262923c53aec295d30383b54e39d609d160afcb1908d0bd8766";
constexpr const char* kC2 = "21886ca989ca9c7d58087307ca93092d651efa";
constexpr const char* kPHex = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF";

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Sm2PublicKey public_key() {
  const Bytes x = unhex(kPx), y = unhex(kPy);
  return {p256_field::from_bytes(x.data()), p256_field::from_bytes(y.data()), p256_field::kOne};
}

Sm2PrivateKey private_key(const char* d_hex = kD) { return sm2_testing::private_key_hex(d_hex); }

// OpenSSL's view of the curve, as an independent oracle for points.
struct Curve {
  ossl::EcGroupPtr group{EC_GROUP_new_by_curve_name(NID_sm2)};
  ossl::BnCtxPtr ctx{BN_CTX_new()};

  // mul_g_xy returns the affine x ‖ y (64 bytes) of k·G.
  Bytes mul_xy(const BIGNUM& k, const EC_POINT* base = nullptr) const {
    ossl::EcPointPtr r(EC_POINT_new(group.get()));
    const int ok = base == nullptr ? EC_POINT_mul(group.get(), r.get(), &k, nullptr, nullptr, ctx.get())
                                   : EC_POINT_mul(group.get(), r.get(), nullptr, base, &k, ctx.get());
    EXPECT_EQ(ok, 1);
    return xy(r.get());
  }
  Bytes xy(const EC_POINT* p) const {
    Bytes out(65);
    EXPECT_EQ(EC_POINT_point2oct(group.get(), p, POINT_CONVERSION_UNCOMPRESSED, out.data(), out.size(), ctx.get()),
              65u);
    return Bytes(out.begin() + 1, out.end());
  }
  ossl::EcPointPtr point(ByteView xy64) const {
    ossl::EcPointPtr p(EC_POINT_new(group.get()));
    Bytes oct = cat({{0x04}, Bytes(xy64.begin(), xy64.end())});
    EXPECT_EQ(EC_POINT_oct2point(group.get(), p.get(), oct.data(), oct.size(), ctx.get()), 1);
    return p;
  }
};

std::string error_of(const Result<Bytes>& r) { return r ? std::string("(success)") : r.error().display(); }

TEST(Sm2Encrypt, StandardExampleWithInjectedK) {
  ScriptedDraws draws{{kK}};
  SourceGuard guard(&ScriptedDraws::read, &draws);
  auto raw = encrypt(public_key(), text("encryption standard"));
  ASSERT_TRUE(raw.has_value()) << raw.error().display();
  EXPECT_EQ(hex::encode(*raw), std::string(kC1x) + kC1y + kC3 + kC2);

  auto m = decrypt_raw(private_key(), cat({{0x04}, *raw}));
  ASSERT_TRUE(m.has_value()) << m.error().display();
  EXPECT_EQ(*m, text("encryption standard"));
}

TEST(Sm2Encrypt, RandomSourceFailures) {
  // Draws out of 1..n−2 are retried; a source that fails or never yields a
  // usable k ends the encryption with an error and no ciphertext.
  struct Case {
    const char* name;
    std::vector<std::string> draws;
    const char* want;
  };
  const std::string n_minus_1 = "fffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54122";
  const Case cases[] = {
      {"source_fails_at_once", {}, "Input/output error (os error 5)"},
      {"fails_after_out_of_range_draws", {std::string(64, '0'), n_minus_1}, "Input/output error (os error 5)"},
      {"never_in_range", std::vector<std::string>(128, std::string(64, 'f')),
       "the random source yields no scalar in range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDraws draws{c.draws};
    SourceGuard guard(&ScriptedDraws::read, &draws);
    EXPECT_EQ(error_of(encrypt(public_key(), text("abc"))), c.want);
  }
}

TEST(Sm2Encrypt, RefusesUnusablePublicKeys) {
  Sm2PublicKey off = public_key();
  off.y.w[7] ^= 1;
  Sm2PublicKey unreduced = public_key();
  unreduced.z = p256_field::kP;  // a z of p stands for 0 but is not reduced
  struct Case {
    const char* name;
    Sm2PublicKey key;
    const char* want;
  };
  const Case cases[] = {
      {"off_curve", off, "invalid public key"},
      {"unreduced_coordinate", unreduced, "invalid public key"},
      {"infinity", p256_ecc::kInfinity, "cannot convert the infinite point to affine"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDraws draws{{kK}};
    SourceGuard guard(&ScriptedDraws::read, &draws);
    EXPECT_EQ(error_of(encrypt(c.key, text("abc"))), c.want);
  }
}

TEST(Sm2Encrypt, RoundTripsAndAgreesWithOpenSslPointArithmetic) {
  // With k fixed, C1 and the shared point computed by OpenSSL predict x1, y1
  // and C3 exactly; C2 ⊕ M is then the keystream, checked by decryption.
  const Curve curve;
  const Sm2PrivateKey priv = private_key();
  const Bytes pub_xy = unhex(std::string(kPx) + kPy);
  const auto pub = curve.point(pub_xy);
  struct Case {
    const char* name;
    Bytes message;
  };
  const Case cases[] = {
      {"one_byte", {0x42}},
      {"leading_zeros", cat({Bytes(5, 0), text("tail")})},
      {"all_zero_31", Bytes(31, 0)},
      {"block", Bytes(32, 0xA5)},
      {"block_and_one", Bytes(33, 0x01)},
      {"long", Bytes(5000, 0x7E)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDraws draws{{kK}};
    SourceGuard guard(&ScriptedDraws::read, &draws);
    auto raw = encrypt(public_key(), c.message);
    ASSERT_TRUE(raw.has_value()) << raw.error().display();
    ASSERT_EQ(raw->size(), 96 + c.message.size());
    const ossl::BnPtr k = biguint::from_hex(kK);
    EXPECT_EQ(hex::encode(ByteView(*raw).first(64)), hex::encode(curve.mul_xy(*k)));
    const Bytes shared = curve.mul_xy(*k, pub.get());
    const Bytes want_c3 = openssl_sm3(cat({Bytes(shared.begin(), shared.begin() + 32), c.message,
                                           Bytes(shared.begin() + 32, shared.end())}));
    EXPECT_EQ(hex::encode(ByteView(*raw).subspan(64, 32)), hex::encode(want_c3));
    auto m = decrypt_raw(priv, cat({{0x04}, *raw}));
    ASSERT_TRUE(m.has_value()) << m.error().display();
    EXPECT_EQ(*m, c.message);
  }
}

TEST(Sm2Encrypt, FreshKEachCall) {
  auto a = encrypt(public_key(), text("same"));
  auto b = encrypt(public_key(), text("same"));
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  for (const Bytes* raw : {&*a, &*b}) {
    auto m = decrypt_raw(private_key(), cat({{0x04}, *raw}));
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(*m, text("same"));
  }
}

// Fixture: one ciphertext of the standard example, split into its parts.
class Sm2Decrypt : public ::testing::Test {
 protected:
  Bytes x = unhex(kC1x), y = unhex(kC1y), c3 = unhex(kC3), c2 = unhex(kC2);
  Sm2PrivateKey priv = private_key();
  Bytes message = text("encryption standard");
};

TEST_F(Sm2Decrypt, PartsAreJoinedAndCutAfter32Bytes) {
  const Bytes c3_short(c3.begin(), c3.end() - 1);
  const Bytes c2_long = cat({Bytes(c3.end() - 1, c3.end()), c2});
  const Bytes x_padded = cat({Bytes(3, 0), x});  // leading zeros beyond 32 bytes are not significant
  struct Case {
    const char* name;
    Bytes x, c3, c2;
  };
  const Case cases[] = {
      {"as_written", x, c3, c2},
      {"c3_short_c2_long", x, c3_short, c2_long},
      {"x_with_redundant_zeros", x_padded, c3, c2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto m = decrypt(priv, c.x, y, c.c3, c.c2);
    ASSERT_TRUE(m.has_value()) << m.error().display();
    EXPECT_EQ(*m, message);
  }
}

TEST_F(Sm2Decrypt, ShortCoordinateIsPaddedBack) {
  // Find a k whose C1 has an x below 2^248 with OpenSSL, then encrypt with it.
  const Curve curve;
  ossl::BnPtr k = biguint::from_word(1);
  Bytes c1;
  for (;; BN_add_word(k.get(), 1)) {
    c1 = curve.mul_xy(*k);
    if (c1[0] == 0) break;
  }
  char* k_hex = BN_bn2hex(k.get());
  std::string k_padded = std::string(64 - std::strlen(k_hex), '0') + k_hex;
  OPENSSL_free(k_hex);
  ScriptedDraws draws{{k_padded}};
  SourceGuard guard(&ScriptedDraws::read, &draws);
  auto raw = encrypt(public_key(), message);
  ASSERT_TRUE(raw.has_value());
  ASSERT_EQ((*raw)[0], 0);
  const ByteView r(*raw);
  auto m = decrypt(priv, r.subspan(1, 31), r.subspan(32, 32), r.subspan(64, 32), r.subspan(96));
  ASSERT_TRUE(m.has_value()) << m.error().display();
  EXPECT_EQ(*m, message);
}

TEST_F(Sm2Decrypt, EmptyC2) {
  // C3 = SM3(x2 ‖ y2) with (x2, y2) = d·C1 by OpenSSL gives an empty message.
  const Curve curve;
  const auto c1 = curve.point(cat({x, y}));
  const Bytes shared = curve.mul_xy(*sm2_testing::bn_of(priv.d), c1.get());
  const Bytes good_c3 = openssl_sm3(shared);
  auto m = decrypt(priv, x, y, good_c3, {});
  ASSERT_TRUE(m.has_value()) << m.error().display();
  EXPECT_TRUE(m->empty());
  EXPECT_EQ(error_of(decrypt(priv, x, y, c3, {})), "hash and cipher not equal");
}

TEST_F(Sm2Decrypt, Failures) {
  const Curve curve;
  // A point of the curve with a small x, so that x + p still fits 32 bytes.
  Bytes small_xy;
  for (unsigned long sx = 1;; ++sx) {
    ossl::EcPointPtr pt(EC_POINT_new(curve.group.get()));
    ossl::BnPtr bx = biguint::from_word(sx);
    if (EC_POINT_set_compressed_coordinates(curve.group.get(), pt.get(), bx.get(), 0, curve.ctx.get()) == 1) {
      small_xy = curve.xy(pt.get());
      break;
    }
    ERR_clear_error();
  }
  ossl::BnPtr x_plus_p = biguint::from_bytes(ByteView(small_xy).first(32));
  BN_add(x_plus_p.get(), x_plus_p.get(), biguint::from_hex(kPHex).get());
  const Bytes unreduced_x = unhex([&] {
    char* h = BN_bn2hex(x_plus_p.get());
    std::string s(h);
    OPENSSL_free(h);
    return s;
  }());
  const Bytes small_y(small_xy.begin() + 32, small_xy.end());
  Bytes y_off = y;
  y_off.back() ^= 1;
  Bytes c2_bad = c2, c3_bad = c3;
  c2_bad[0] ^= 0x80;
  c3_bad[31] ^= 1;
  const Bytes x33 = cat({{0x01}, x});
  const Sm2PrivateKey other = private_key("1649AB77A00637BD5E2EFE283FBF353534AA7F7CB89463F208DDBC2920BB0DA0");

  struct Case {
    const char* name;
    const Sm2PrivateKey* key;
    Bytes x, y, c3, c2;
    const char* want;
  };
  const Case cases[] = {
      {"c3_c2_31_bytes", &priv, x, y, Bytes(c3.begin(), c3.end() - 1), {}, "ciphertext length is less than cipher size"},
      {"length_checked_before_coordinates", &priv, x33, y, {}, {}, "ciphertext length is less than cipher size"},
      {"x_33_significant_bytes", &priv, x33, y, c3, c2, "check point error"},
      {"y_33_significant_bytes", &priv, x, cat({{0x01}, y}), c3, c2, "check point error"},
      {"x_is_p_plus_a_curve_x", &priv, unreduced_x, small_y, c3, c2, "check point error"},
      {"y_is_p", &priv, x, unhex(kPHex), c3, c2, "check point error"},
      {"off_curve", &priv, x, y_off, c3, c2, "check point error"},
      {"c2_changed", &priv, x, y, c3, c2_bad, "hash and cipher not equal"},
      {"c3_changed", &priv, x, y, c3_bad, c2, "hash and cipher not equal"},
      {"other_key", &other, x, y, c3, c2, "hash and cipher not equal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_of(decrypt(*c.key, c.x, c.y, c.c3, c.c2)), c.want);
  }
  // Sanity: the reduced form of the unreduced point is on the curve, so only
  // the range test can refuse it.
  ASSERT_TRUE(curve.point(small_xy));
}

TEST(Sm2DecryptRaw, RefusesBadFraming) {
  const Bytes raw = cat({{0x04}, unhex(std::string(kC1x) + kC1y + kC3 + kC2)});
  Bytes wrong_prefix = raw;
  wrong_prefix[0] = 0x02;
  EXPECT_EQ(error_of(decrypt_raw(private_key(), ByteView(raw).first(96))), "ciphertext length is less than cipher size");
  EXPECT_EQ(error_of(decrypt_raw(private_key(), wrong_prefix)), "check point error");
}

}  // namespace
}  // namespace tarnwick::sm2::key
