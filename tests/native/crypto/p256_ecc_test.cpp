#include "crypto/sm2/p256_ecc.h"

#include <gtest/gtest.h>

#include "../common/peer.h"
#include "sm2_scalar_helpers.h"
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "crypto/sm2/fp_adx.h"
#include "crypto/sm2/p256_pre_table.h"
#include "support/cpu.h"
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

// The field backends and table scans behind the scalar multiplications,
// forced in turn by withholding the features of the faster ones.
struct FieldPath {
  const char* name;
  std::uint32_t withheld;
  std::uint32_t needs;
};
constexpr FieldPath kFieldPaths[] = {
#if defined(TARNWICK_SM2_FP_ADX)
    {"adx_avx512", 0, fp::Adx::kFeatures | cpu::kAvx | cpu::kAvx2 | cpu::kAvx512},
    {"adx_avx2", cpu::kAvx512, fp::Adx::kFeatures | cpu::kAvx | cpu::kAvx2},
    {"adx_sse2", cpu::kAvx2 | cpu::kAvx512, fp::Adx::kFeatures},
#endif
    {"portable", cpu::kBmi2 | cpu::kAdx | cpu::kAvx2 | cpu::kAvx512, 0},
};

void PrintTo(const FieldPath& p, std::ostream* os) { *os << p.name; }

// Oracle: OpenSSL's own SM2 group. Every test runs on each field path the
// processor offers.
class Sm2Oracle : public ::testing::TestWithParam<FieldPath> {
 protected:
  void SetUp() override {
    const FieldPath& p = GetParam();
    if ((cpu::testing::probed() & p.needs) != p.needs) GTEST_SKIP() << p.name << " needs features missing here";
    cpu::testing::withhold(p.withheld);
  }
  void TearDown() override { cpu::testing::withhold(0); }

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

TEST_P(Sm2Oracle, MulBaseAndMulPointMatchOpenSsl) {
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

// Scalars whose last window addition meets equal or opposite operands
// (n − 32 … n − 1 in mul_point), low-weight scalars, and edge points: G,
// −G, 2G, the point with the smallest x, a random point under z ≠ 1 — each
// through the Scalar entry points, against OpenSSL.
TEST_P(Sm2Oracle, NearOrderLowWeightAndEdgePoints) {
  const JacobianPoint g = init_curve_params().g;
  JacobianPoint small_x = kInfinity;
  for (BN_ULONG sx = 1; is_infinity(small_x); ++sx) {
    ossl::EcPointPtr pt(EC_POINT_new(group_.get()));
    ossl::BnPtr bx(BN_new());
    ASSERT_EQ(BN_set_word(bx.get(), sx), 1);
    if (EC_POINT_set_compressed_coordinates(group_.get(), pt.get(), bx.get(), 1, ctx_.get()) == 1) {
      small_x = decode_point(hex::decode(encode(pt.get())).value()).value();
    }
    ERR_clear_error();
  }
  const FieldElement z = fe_hex("1234567890ABCDEF1234567890ABCDEF1234567890ABCDEF1234567890ABCDEF");
  const std::pair<const char*, JacobianPoint> points[] = {
      {"G", g},
      {"minus_G", negate(g)},
      {"2G", to_affine(double_(g))},
      {"small_x", small_x},
      {"random_rescaled", rescale(random_point(), z)},
  };
  const ossl::BnPtr n = bn_hex(kNHex);
  std::vector<std::pair<std::string, ossl::BnPtr>> scalars;
  for (int off = 1; off <= 40; ++off) {
    ossl::BnPtr k(BN_dup(n.get()));
    ASSERT_EQ(BN_sub_word(k.get(), static_cast<BN_ULONG>(off)), 1);
    scalars.emplace_back("n-" + std::to_string(off), std::move(k));
  }
  for (int i = 0; i < 256; i += 5) {
    for (int delta : {-1, 0, 1}) {
      ossl::BnPtr k(BN_new());
      ASSERT_EQ(BN_set_bit(k.get(), i), 1);
      if (delta > 0) {
        ASSERT_EQ(BN_add_word(k.get(), 1), 1);
      } else if (delta < 0) {
        ASSERT_EQ(BN_sub_word(k.get(), 1), 1);
      }
      scalars.emplace_back("2^" + std::to_string(i) + (delta > 0 ? "+1" : delta < 0 ? "-1" : ""), std::move(k));
    }
  }
  for (const auto& [pname, p] : points) {
    const auto p_ossl = to_ossl(p);
    for (const auto& [kname, k] : scalars) {
      SCOPED_TRACE(std::string(pname) + " " + kname);
      const Scalar ks = sm2_testing::scalar_of(*k);
      const std::string want = mul(k.get(), p_ossl.get());
      ASSERT_EQ(ours(mul_point(ks, p)), want);
      if (p == g) {
        ASSERT_EQ(ours(mul_base(ks)), want);
      }
    }
  }
}

// The joint s·G + t·P of verification against OpenSSL's EC_POINT_mul with
// both scalars: random and edge scalars, and points G, −G and 2G, where the
// additions of the two scalars' digits meet equal and opposite operands
// (s = t, s = −t).
TEST_P(Sm2Oracle, JointMultiplicationMatchesOpenSsl) {
  const JacobianPoint g = init_curve_params().g;
  const ossl::BnPtr n = bn_hex(kNHex);
  std::vector<ossl::BnPtr> ks;
  for (const auto& [name, h] : edge_scalars()) ks.push_back(bn_hex(h));
  for (int i = 0; i < 6; ++i) {
    ossl::BnPtr k(BN_new());
    ASSERT_EQ(BN_rand_range(k.get(), n.get()), 1);
    ks.push_back(std::move(k));
  }
  const std::pair<const char*, JacobianPoint> points[] = {
      {"G", g}, {"minus_G", negate(g)}, {"2G", double_(g)}, {"random", random_point()}, {"infinity", kInfinity}};
  for (const auto& [pname, p] : points) {
    const bool inf = is_infinity(p);
    const auto p_ossl = inf ? ossl::EcPointPtr(EC_POINT_new(group_.get())) : to_ossl(p);
    if (inf) {
      ASSERT_EQ(EC_POINT_set_to_infinity(group_.get(), p_ossl.get()), 1);
    }
    for (std::size_t i = 0; i < ks.size(); ++i) {
      for (std::size_t j = 0; j < ks.size(); j += 3) {
        const BIGNUM* sk = ks[i].get();
        ossl::BnPtr tk(BN_dup(ks[j].get()));
        // Every third pair uses t = −s mod n, so that s·G + t·G is infinity.
        if (j % 9 == 0) {
          ASSERT_EQ(BN_mod_sub(tk.get(), n.get(), sk, n.get(), ctx_.get()), 1);
        }
        SCOPED_TRACE(std::string(pname) + " " + std::to_string(i) + " " + std::to_string(j));
        ossl::EcPointPtr want(EC_POINT_new(group_.get()));
        ASSERT_EQ(EC_POINT_mul(group_.get(), want.get(), sk, p_ossl.get(), tk.get(), ctx_.get()), 1);
        const JacobianPoint got = mul_base_point_vartime(sm2_testing::scalar_of(*sk), sm2_testing::scalar_of(*tk), p);
        ASSERT_EQ(ours(got), encode(want.get()));
      }
    }
  }
}

// The verification's x test on the projective point: x1 mod n against a
// candidate, for points under z ≠ 1 whose x lies below n and from n to
// p − 1 (where x1 mod n = x1 − n, the second candidate); x found by OpenSSL.
TEST_P(Sm2Oracle, AffineXMatchesModNWithoutInversion) {
  const ossl::BnPtr n = bn_hex(kNHex);
  const FieldElement z = fe_hex("00000000000000000000000000000000000000000000000000000000DEADBEEF");
  struct Found {
    const char* name;
    JacobianPoint point;
    ossl::BnPtr x_mod_n;
  };
  std::vector<Found> found;
  for (const char* name : {"x_below_n", "x_at_least_n"}) {
    ossl::BnPtr x(BN_new());
    ASSERT_NE(BN_copy(x.get(), n.get()), nullptr);
    if (std::string(name) == "x_below_n") {
      ASSERT_EQ(BN_sub_word(x.get(), 1000), 1);
    }
    for (;; BN_add_word(x.get(), 1)) {
      ossl::EcPointPtr pt(EC_POINT_new(group_.get()));
      if (EC_POINT_set_compressed_coordinates(group_.get(), pt.get(), x.get(), 0, ctx_.get()) == 1) {
        ossl::BnPtr m(BN_new());
        ASSERT_EQ(BN_nnmod(m.get(), x.get(), n.get(), ctx_.get()), 1);
        found.push_back({name, rescale(decode_point(hex::decode(encode(pt.get())).value()).value(), z),
                         std::move(m)});
        break;
      }
      ERR_clear_error();
    }
  }
  for (const Found& f : found) {
    SCOPED_TRACE(f.name);
    const Scalar c = sm2_testing::scalar_of(*f.x_mod_n);
    EXPECT_TRUE(affine_x_matches_mod_n_vartime(f.point, c));
    ossl::BnPtr other(BN_dup(f.x_mod_n.get()));
    ASSERT_EQ(BN_add_word(other.get(), 1), 1);
    EXPECT_FALSE(affine_x_matches_mod_n_vartime(f.point, sm2_testing::scalar_of(*other)));
    EXPECT_FALSE(affine_x_matches_mod_n_vartime(negate(init_curve_params().g), c));
  }
}

TEST_P(Sm2Oracle, RepresentationsAtTheEdges) {
  const JacobianPoint g = init_curve_params().g;
  EXPECT_EQ(to_affine(mul_base(*bn_hex("1")).value()), g);
  EXPECT_EQ(to_affine(mul_point(*bn_hex("1"), g).value()), g);
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

TEST_P(Sm2Oracle, OversizedOrNegativeScalarsAreErrors) {
  const JacobianPoint g = init_curve_params().g;
  for (const char* k : {"10000000000000000000000000000000000000000000000000000000000000000",
                        "1FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "-1"}) {
    SCOPED_TRACE(k);
    EXPECT_EQ(mul_base(*bn_hex(k)).error(), Sm2Error::InvalidFieldElementLength);
    EXPECT_EQ(mul_point(*bn_hex(k), g).error(), Sm2Error::InvalidFieldElementLength);
  }
}

// booth_expected computes digit i of the Booth recoding of `k` from its
// definition: b(wi − 1) + Σ_{j<w−1} b(wi + j)·2^j − b(wi + w − 1)·2^(w−1).
int booth_expected(const BIGNUM& k, int i, int w) {
  auto bit = [&](int pos) { return pos < 0 ? 0 : BN_is_bit_set(&k, pos); };
  int d = bit(w * i - 1);
  for (int j = 0; j < w - 1; ++j) d += bit(w * i + j) << j;
  return d - (bit(w * i + w - 1) << (w - 1));
}

TEST(Sm2Booth, DigitsMatchTheDefinitionAndSumToTheScalar) {
  std::vector<ossl::BnPtr> ks;
  for (const auto& [name, h] : edge_scalars()) ks.push_back(bn_hex(h));
  for (int i = 0; i < 200; ++i) {
    ossl::BnPtr k(BN_new());
    ASSERT_EQ(BN_rand(k.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 1);
    ks.push_back(std::move(k));
  }
  for (int w : {5, 7}) {
    const int windows = (257 + w - 1) / w;
    for (const ossl::BnPtr& k : ks) {
      const Scalar ks_ = sm2_testing::scalar_of(*k);
      SCOPED_TRACE(std::to_string(w) + ": " + sm2_testing::hex_of(ks_));
      ossl::BnPtr sum(BN_new()), term(BN_new());
      BN_zero(sum.get());
      for (int i = 0; i < windows; ++i) {
        const int d = booth_digit(ks_, i, w);
        ASSERT_EQ(d, booth_expected(*k, i, w)) << "window " << i;
        ASSERT_LE(std::abs(d), 1 << (w - 1));
        ASSERT_EQ(BN_set_word(term.get(), static_cast<BN_ULONG>(std::abs(d))), 1);
        ASSERT_EQ(BN_lshift(term.get(), term.get(), w * i), 1);
        if (d < 0) BN_set_negative(term.get(), 1);
        ASSERT_EQ(BN_add(sum.get(), sum.get(), term.get()), 1);
      }
      EXPECT_EQ(BN_cmp(sum.get(), k.get()), 0);
    }
  }
  // Two worked cases: 31 = −1 + 1·32 and 16 = −16 + 1·32 with 5-bit windows.
  EXPECT_EQ(booth_digit(Scalar::from_word(31), 0, 5), -1);
  EXPECT_EQ(booth_digit(Scalar::from_word(31), 1, 5), 1);
  EXPECT_EQ(booth_digit(Scalar::from_word(16), 0, 5), -16);
  EXPECT_EQ(booth_digit(Scalar::from_word(16), 1, 5), 1);
}

TEST_P(Sm2Oracle, BaseTableFollowsItsRule) {
  const p256_pre_table::BaseTable& table = p256_pre_table::base_table();
  ossl::BnPtr k(BN_new());
  for (int j = 0; j < p256_pre_table::kWindows; ++j) {
    for (int i = 0; i < p256_pre_table::kEntries; ++i) {
      SCOPED_TRACE(std::to_string(j) + "/" + std::to_string(i));
      // entry [j][i] = (i + 1)·2^(7j)·G
      ASSERT_EQ(BN_set_word(k.get(), static_cast<BN_ULONG>(i + 1)), 1);
      ASSERT_EQ(BN_lshift(k.get(), k.get(), 7 * j), 1);
      const point::Affine& e = table[static_cast<std::size_t>(j)][static_cast<std::size_t>(i)];
      const JacobianPoint ours{p256_field::from_montgomery(e.x), p256_field::from_montgomery(e.y), p256_field::kOne};
      ASSERT_EQ(hex::encode(encode_uncompressed(ours)), mul(k.get()));
    }
  }
}

TEST_P(Sm2Oracle, OddMultiplesTableFollowsItsRule) {
  const p256_pre_table::OddTable& table = p256_pre_table::base_odd_table();
  ossl::BnPtr k(BN_new());
  for (int i = 0; i < p256_pre_table::kOddEntries; ++i) {
    SCOPED_TRACE(i);
    // entry [i] = (2i + 1)·G
    ASSERT_EQ(BN_set_word(k.get(), static_cast<BN_ULONG>(2 * i + 1)), 1);
    const point::Affine& e = table[static_cast<std::size_t>(i)];
    const JacobianPoint ours{p256_field::from_montgomery(e.x), p256_field::from_montgomery(e.y), p256_field::kOne};
    ASSERT_EQ(hex::encode(encode_uncompressed(ours)), mul(k.get()));
  }
}

TEST_P(Sm2Oracle, PointOperations) {
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
  // One inversion for two points: each gets its own z back out, whatever
  // the other's (z = 1 included).
  EXPECT_EQ(to_affine_pair(rescale(p, z1), rescale(q, z2)), std::make_pair(p, q));
  EXPECT_EQ(to_affine_pair(rescale(q, z_last_one), p), std::make_pair(q, p));
  EXPECT_EQ(to_affine_pair(rescale(p, z2), rescale(p, z1)), std::make_pair(p, p));
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

INSTANTIATE_TEST_SUITE_P(FieldPaths, Sm2Oracle, ::testing::ValuesIn(kFieldPaths),
                         [](const ::testing::TestParamInfo<FieldPath>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::sm2::p256_ecc
