#include "crypto/sm2/p256_ecc.h"

#include <gtest/gtest.h>

#include "../common/peer.h"
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <map>
#include <string>

#include "crypto/sm2/p256_pre_table.h"
#include "support/hex.h"
#include "support/ossl.h"

namespace tarnwick::sm2::p256_ecc {
namespace {

using testing::bn_hex;

using p256_field::FieldElement;

constexpr const char* kNHex = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";
constexpr const char* kGxHex = "32c4ae2c1f1981195f9904466a39c9948fe30bbff2660be1715a4589334c74c7";
constexpr const char* kGyHex = "bc3736a2f4f6779c59bdcee36b692153d0a9877cc62a474002df32e52139f0a0";

FieldElement fe_hex(const std::string& h) {
  const Bytes b = hex::decode(h).value();
  return p256_field::from_bytes(b.data());
}

// Oracle: OpenSSL's own SM2 group.
class Sm2Oracle : public ::testing::Test {
 protected:
  ossl::EcGroupPtr group_{EC_GROUP_new_by_curve_name(NID_sm2)};
  ossl::BnCtxPtr ctx_{BN_CTX_new()};

  // encode returns the 65-byte uncompressed form, or "inf".
  std::string encode(const EC_POINT* p) {
    if (EC_POINT_is_at_infinity(group_.get(), p)) return "inf";
    Bytes out(65);
    EXPECT_EQ(EC_POINT_point2oct(group_.get(), p, POINT_CONVERSION_UNCOMPRESSED, out.data(), out.size(),
                                 ctx_.get()),
              65u);
    return hex::encode(out);
  }
  static std::string ours(const JacobianPoint& p) {
    return is_infinity(p) ? "inf" : hex::encode(encode_uncompressed(p));
  }
  // mul returns k·base (k·G for base = nullptr).
  std::string mul(const BIGNUM* k, const EC_POINT* base = nullptr) {
    ossl::EcPointPtr r(EC_POINT_new(group_.get()));
    const int ok = base == nullptr ? EC_POINT_mul(group_.get(), r.get(), k, nullptr, nullptr, ctx_.get())
                                   : EC_POINT_mul(group_.get(), r.get(), nullptr, base, k, ctx_.get());
    EXPECT_EQ(ok, 1);
    return encode(r.get());
  }
  ossl::EcPointPtr to_ossl(const JacobianPoint& p) {
    ossl::EcPointPtr r(EC_POINT_new(group_.get()));
    const Bytes enc = encode_uncompressed(p);
    EXPECT_EQ(EC_POINT_oct2point(group_.get(), r.get(), enc.data(), enc.size(), ctx_.get()), 1);
    return r;
  }
  JacobianPoint random_point() {
    ossl::BnPtr q(BN_new());
    EXPECT_EQ(BN_rand_range(q.get(), EC_GROUP_get0_order(group_.get())), 1);
    const Bytes enc = hex::decode(mul(q.get())).value();
    return decode_point(enc).value();
  }
  // rescale returns (X·Z², Y·Z³, Z), the same point under another z.
  static JacobianPoint rescale(const JacobianPoint& p, const FieldElement& z) {
    const FieldElement zz = p256_field::mul(z, z);
    return JacobianPoint{p256_field::mul(p.x, zz), p256_field::mul(p.y, p256_field::mul(zz, z)), z};
  }
};

std::vector<std::pair<std::string, std::string>> edge_scalars() {
  return {
      {"zero", "0"},
      {"one", "1"},
      {"two", "2"},
      {"thirty_one", "1F"},
      {"n_minus_6", "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D5411D"},
      {"n_minus_1", "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54122"},
      {"n", kNHex},
      {"n_plus_5", "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54128"},
      {"2^255", "8000000000000000000000000000000000000000000000000000000000000000"},
      {"2^252-1", "0FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"},
      {"31*2^251", "F800000000000000000000000000000000000000000000000000000000000000"},
      {"2^256-1", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"},
      {"alternating", "AAAAAAAA55555555AAAAAAAA55555555AAAAAAAA55555555AAAAAAAA55555555"},
      {"low_word_only", "FFFFFFFF"},
  };
}

TEST_F(Sm2Oracle, MulBaseAndMulPointMatchOpenSsl) {
  const JacobianPoint p = random_point();
  const auto p_ossl = to_ossl(p);
  // The same point under a z that is not 1 must give the same products.
  const JacobianPoint p_scaled = rescale(p, fe_hex("00000000000000000000000000000000000000000000000000000000DEADBEEF"));
  for (const auto& [name, h] : edge_scalars()) {
    SCOPED_TRACE(name);
    const ossl::BnPtr k = bn_hex(h);
    EXPECT_EQ(ours(mul_base(*k).value()), mul(k.get()));
    EXPECT_EQ(ours(mul_point(*k, init_curve_params().g).value()), mul(k.get()));
    EXPECT_EQ(ours(mul_point(*k, p).value()), mul(k.get(), p_ossl.get()));
    EXPECT_EQ(ours(mul_point(*k, p_scaled).value()), mul(k.get(), p_ossl.get()));
  }
  for (int i = 0; i < 40; ++i) {
    ossl::BnPtr k(BN_new());
    ASSERT_EQ(BN_rand(k.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 1);
    EXPECT_EQ(ours(mul_base(*k).value()), mul(k.get())) << i;
    EXPECT_EQ(ours(mul_point(*k, p).value()), mul(k.get(), p_ossl.get())) << i;
  }
}

TEST_F(Sm2Oracle, ExactRepresentationsAtTheEdges) {
  const JacobianPoint g = init_curve_params().g;
  EXPECT_EQ(mul_base(*bn_hex("1")).value(), g);
  EXPECT_EQ(mul_base(*bn_hex("0")).value(), kInfinity);
  EXPECT_EQ(mul_point(*bn_hex("0"), random_point()).value(), kInfinity);
  EXPECT_TRUE(is_infinity(mul_base(*bn_hex(kNHex)).value()));
  // A point at infinity stays there for every scalar.
  const JacobianPoint odd_infinity{fe_hex(kGxHex), fe_hex(kGyHex), p256_field::kZero};
  for (const char* k : {"1", "5", kNHex, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"}) {
    SCOPED_TRACE(k);
    EXPECT_TRUE(is_infinity(mul_point(*bn_hex(k), odd_infinity).value()));
  }
}

TEST_F(Sm2Oracle, OversizedOrNegativeScalarsAreErrors) {
  const JacobianPoint g = init_curve_params().g;
  for (const char* k : {"10000000000000000000000000000000000000000000000000000000000000000",
                        "1FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "-1"}) {
    SCOPED_TRACE(k);
    EXPECT_EQ(mul_base(*bn_hex(k)).error(), Sm2Error::InvalidFieldElementLength);
    EXPECT_EQ(mul_point(*bn_hex(k), g).error(), Sm2Error::InvalidFieldElementLength);
  }
}

TEST(Sm2Recode, DigitsOfTheEdgeScalars) {
  struct Case {
    const char* name;
    const char* k_hex;
    std::map<int, int> digits;
  };
  const Case cases[] = {
      {"one", "0000000000000000000000000000000000000000000000000000000000000001", {{0, 1}}},
      {"two", "0000000000000000000000000000000000000000000000000000000000000002", {{1, 1}}},
      {"thirty_one", "000000000000000000000000000000000000000000000000000000000000001F", {{0, -1}, {5, 1}}},
      {"2^256-1", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", {{0, -1}, {256, 1}}},
      {"2^252-1", "0FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", {{0, -1}, {252, 1}}},
      {"31*2^251", "F800000000000000000000000000000000000000000000000000000000000000", {{251, -1}, {256, 1}}},
      {"zero", "0000000000000000000000000000000000000000000000000000000000000000", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Digits d = recode(fe_hex(c.k_hex));
    std::map<int, int> got;
    for (int t = 0; t < 257; ++t) {
      if (d[t] != 0) got[t] = d[t];
    }
    EXPECT_EQ(got, c.digits);
  }
  EXPECT_EQ(recode(fe_hex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D5411D"))[0], -3);
}

TEST(Sm2Recode, RandomScalarsRecodeToThemselves) {
  ossl::BnCtxPtr ctx(BN_CTX_new());
  for (int i = 0; i < 200; ++i) {
    ossl::BnPtr k(BN_new());
    ASSERT_EQ(BN_rand(k.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 1);
    std::uint8_t buf[32];
    ASSERT_EQ(BN_bn2binpad(k.get(), buf, 32), 32);
    const Digits d = recode(p256_field::from_bytes(buf));
    ossl::BnPtr sum(BN_new()), term(BN_new());
    BN_zero(sum.get());
    int last = -100;
    for (int t = 0; t < 257; ++t) {
      if (d[t] == 0) continue;
      EXPECT_EQ(d[t] % 2 != 0, true) << t;
      EXPECT_LE(std::abs(d[t]), 15);
      if (t < 256) {
        EXPECT_GE(t - last, 5) << t;
      }
      last = t;
      ASSERT_EQ(BN_set_word(term.get(), static_cast<BN_ULONG>(std::abs(d[t]))), 1);
      ASSERT_EQ(BN_lshift(term.get(), term.get(), t), 1);
      if (d[t] < 0) BN_set_negative(term.get(), 1);
      ASSERT_EQ(BN_add(sum.get(), sum.get(), term.get()), 1);
    }
    EXPECT_EQ(BN_cmp(sum.get(), k.get()), 0) << i;
  }
}

TEST_F(Sm2Oracle, CombTablesFollowTheirRule) {
  const auto& low = p256_pre_table::init_low_table();
  const auto& high = p256_pre_table::init_high_table();
  ASSERT_EQ(low.size(), 256u);
  ASSERT_EQ(high.size(), 256u);
  EXPECT_EQ(low[0], kInfinity);
  EXPECT_EQ(high[0], kInfinity);
  EXPECT_EQ(low[1], init_curve_params().g);
  for (unsigned i = 1; i < 256; ++i) {
    ossl::BnPtr k(BN_new());
    BN_zero(k.get());
    for (int j = 0; j < 8; ++j) {
      if ((i >> j) & 1) {
        ASSERT_EQ(BN_set_bit(k.get(), 32 * j), 1);
      }
    }
    SCOPED_TRACE(i);
    EXPECT_TRUE(is_on_curve(low[i]));
    EXPECT_TRUE(is_on_curve(high[i]));
    EXPECT_EQ(ours(low[i]), mul(k.get()));
    ASSERT_EQ(BN_lshift(k.get(), k.get(), 16), 1);
    EXPECT_EQ(ours(high[i]), mul(k.get()));
  }
}

TEST_F(Sm2Oracle, PointOperations) {
  const JacobianPoint p = random_point();
  const JacobianPoint q = random_point();
  const auto p_ossl = to_ossl(p), q_ossl = to_ossl(q);
  ossl::EcPointPtr sum(EC_POINT_new(group_.get())), dbl(EC_POINT_new(group_.get()));
  ASSERT_EQ(EC_POINT_add(group_.get(), sum.get(), p_ossl.get(), q_ossl.get(), ctx_.get()), 1);
  ASSERT_EQ(EC_POINT_dbl(group_.get(), dbl.get(), p_ossl.get(), ctx_.get()), 1);
  const std::string sum_hex = encode(sum.get()), dbl_hex = encode(dbl.get());

  const FieldElement z1 = fe_hex("1234567890ABCDEF1234567890ABCDEF1234567890ABCDEF1234567890ABCDEF");
  const FieldElement z2 = fe_hex("00000000000000000000000000000000FFFFFFFF000000000000000000000007");
  // Last word 1 but not 1 as a whole: doubling must take the general path.
  const FieldElement z_last_one = fe_hex("0000000000000000000000000000000000000000000000010000000000000001");

  EXPECT_EQ(ours(add(p, q)), sum_hex);
  EXPECT_EQ(ours(add(rescale(p, z1), rescale(q, z2))), sum_hex);
  EXPECT_EQ(ours(double_(p)), dbl_hex);
  EXPECT_EQ(ours(double_(rescale(p, z1))), dbl_hex);
  EXPECT_EQ(ours(double_(rescale(p, z_last_one))), dbl_hex);
  EXPECT_EQ(add(p, p), double_(p));
  EXPECT_EQ(ours(add(rescale(p, z1), rescale(p, z2))), dbl_hex);
  EXPECT_TRUE(is_infinity(add(p, negate(p))));
  EXPECT_TRUE(is_infinity(add(rescale(p, z1), negate(rescale(p, z2)))));

  EXPECT_EQ(double_(kInfinity), kInfinity);
  EXPECT_TRUE(is_infinity(double_(JacobianPoint{p.x, p.y, p256_field::kZero})));
  EXPECT_EQ(add(kInfinity, rescale(q, z1)), rescale(q, z1));
  EXPECT_EQ(add(rescale(p, z1), kInfinity), rescale(p, z1));

  EXPECT_EQ(to_affine(kInfinity), (JacobianPoint{p256_field::kZero, p256_field::kZero, p256_field::kOne}));
  EXPECT_EQ(to_affine(p), p);
  EXPECT_EQ(to_affine(rescale(p, z1)), p);
}

TEST(Sm2Points, EncodeDecodeAndCurveTest) {
  const JacobianPoint g = init_curve_params().g;
  const std::string g_hex = std::string("04") + kGxHex + kGyHex;
  EXPECT_EQ(hex::encode(encode_uncompressed(g)), g_hex);
  EXPECT_EQ(hex::encode(encode_uncompressed(kInfinity)), "04" + std::string(128, '0'));

  const FieldElement gy = fe_hex(kGyHex);
  const FieldElement neg_gy = p256_field::sub(p256_field::kZero, gy);
  const FieldElement even_y = (gy.w[7] & 1) == 0 ? gy : neg_gy;
  const FieldElement odd_y = (gy.w[7] & 1) == 0 ? neg_gy : gy;
  const FieldElement gx = fe_hex(kGxHex);
  FieldElement ones;
  ones.w.fill(0xFFFFFFFF);

  struct Case {
    const char* name;
    std::string in_hex;
    std::expected<JacobianPoint, Sm2Error> want;
  };
  const std::string xy = std::string(kGxHex) + kGyHex;
  const Case cases[] = {
      {"uncompressed", "04" + xy, g},
      {"prefix_00", "00" + xy, g},
      {"prefix_07", "07" + xy, g},
      {"compressed_even", std::string("02") + kGxHex, JacobianPoint{gx, even_y, p256_field::kOne}},
      {"compressed_odd", std::string("03") + kGxHex, JacobianPoint{gx, odd_y, p256_field::kOne}},
      {"compressed_65_bytes", "02" + xy, std::unexpected(Sm2Error::InvalidPublicKey)},
      {"64_bytes", xy, std::unexpected(Sm2Error::InvalidPublicKey)},
      {"66_bytes", "04" + xy + "00", std::unexpected(Sm2Error::InvalidPublicKey)},
      {"empty", "", std::unexpected(Sm2Error::InvalidPublicKey)},
      {"compressed_x_2", "02" + std::string(62, '0') + "02", std::unexpected(Sm2Error::NoSquareRoot)},
      {"unreduced_x", "04" + std::string(64, 'f') + kGyHex, JacobianPoint{ones, gy, p256_field::kOne}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode_point(hex::decode(c.in_hex).value()), c.want);
  }

  const FieldElement z = fe_hex("00000000000000000000000000000000000000000000000000000000DEADBEEF");
  const FieldElement zz = p256_field::mul(z, z);
  EXPECT_TRUE(is_on_curve(kInfinity));
  EXPECT_TRUE(is_on_curve(g));
  EXPECT_TRUE(is_on_curve(JacobianPoint{p256_field::mul(gx, zz), p256_field::mul(gy, p256_field::mul(zz, z)), z}));
  EXPECT_FALSE(is_on_curve(JacobianPoint{gx, p256_field::add(gy, p256_field::kOne), p256_field::kOne}));
}

}  // namespace
}  // namespace tarnwick::sm2::p256_ecc
