#include "crypto/sm2/p256_field.h"

#include <gtest/gtest.h>

#include "../common/peer.h"
#include <openssl/bn.h>
#include <openssl/rand.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crypto/sm2/fp_adx.h"
#include "support/cpu.h"
#include "support/hex.h"
#include "support/ossl.h"

namespace tarnwick::sm2::p256_field {
namespace {

using testing::bn_hex;

constexpr const char* kPHex = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF";

ossl::BnPtr to_bn(const FieldElement& a) {
  std::uint8_t buf[32];
  write_bytes(a, buf);
  return ossl::BnPtr(BN_bin2bn(buf, 32, nullptr));
}

FieldElement from_bn(const BIGNUM* x) {
  std::uint8_t buf[32];
  EXPECT_EQ(BN_bn2binpad(x, buf, 32), 32);
  return from_bytes(buf);
}

FieldElement fe_hex(const char* h) { return from_bn(bn_hex(h).get()); }

class FieldOracle : public ::testing::Test {
 protected:
  ossl::BnPtr p_ = bn_hex(kPHex);
  ossl::BnCtxPtr ctx_{BN_CTX_new()};

  // random_below_p, or any 256-bit value when `reduced` is false.
  FieldElement random(bool reduced) {
    ossl::BnPtr x(BN_new());
    if (reduced) {
      EXPECT_EQ(BN_rand_range(x.get(), p_.get()), 1);
    } else {
      EXPECT_EQ(BN_rand(x.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 1);
    }
    return from_bn(x.get());
  }
};

TEST_F(FieldOracle, RandomOperationsMatchBignum) {
  for (int i = 0; i < 300; ++i) {
    // Every fourth mul pair is unreduced (up to 2^256 − 1).
    const bool unreduced = i % 4 == 0;
    const FieldElement a = random(!unreduced), b = random(!unreduced);
    ossl::BnPtr ea(BN_new());
    ASSERT_EQ(BN_mod_mul(ea.get(), to_bn(a).get(), to_bn(b).get(), p_.get(), ctx_.get()), 1);
    const FieldElement m = mul(a, b);
    EXPECT_EQ(m, from_bn(ea.get())) << i;
    EXPECT_TRUE(is_reduced(m));

    const FieldElement c = random(true), d = random(true);
    ossl::BnPtr es(BN_new()), ed(BN_new());
    ASSERT_EQ(BN_mod_add(es.get(), to_bn(c).get(), to_bn(d).get(), p_.get(), ctx_.get()), 1);
    ASSERT_EQ(BN_mod_sub(ed.get(), to_bn(c).get(), to_bn(d).get(), p_.get(), ctx_.get()), 1);
    EXPECT_EQ(add(c, d), from_bn(es.get())) << i;
    EXPECT_EQ(sub(c, d), from_bn(ed.get())) << i;
  }
}

// Operands with words at 0 and 0xFFFFFFFF stress the column carries and the
// borrow of the fold, which random values rarely reach.
TEST_F(FieldOracle, StructuredMulOperandsMatchBignum) {
  const std::uint32_t words[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF};
  unsigned seed = 1;
  for (int i = 0; i < 400; ++i) {
    FieldElement a, b;
    for (int w = 0; w < 8; ++w) {
      seed = seed * 1103515245u + 12345u;
      a.w[w] = words[(seed >> 16) % 5];
      seed = seed * 1103515245u + 12345u;
      b.w[w] = words[(seed >> 16) % 5];
    }
    ossl::BnPtr e(BN_new());
    ASSERT_EQ(BN_mod_mul(e.get(), to_bn(a).get(), to_bn(b).get(), p_.get(), ctx_.get()), 1);
    EXPECT_EQ(mul(a, b), from_bn(e.get())) << i;
  }
}

TEST_F(FieldOracle, SqrtMatchesBignum) {
  for (int i = 0; i < 40; ++i) {
    const FieldElement x = random(true);
    const FieldElement sq = mul(x, x);
    auto y = sqrt(sq);
    ASSERT_TRUE(y.has_value()) << i;
    ossl::BnPtr root(BN_mod_sqrt(nullptr, to_bn(sq).get(), p_.get(), ctx_.get()));
    ASSERT_TRUE(root);
    const FieldElement r = from_bn(root.get());
    EXPECT_TRUE(*y == r || *y == sub(kZero, r)) << i;
  }
  // −1 is a non-residue since p ≡ 3 (mod 4); so is −x² for any non-zero x.
  const FieldElement x = random(true);
  EXPECT_EQ(sqrt(sub(kZero, mul(x, x))).error(), Sm2Error::NoSquareRoot);
}

TEST_F(FieldOracle, InvertMatchesBignum) {
  for (int i = 0; i < 20; ++i) {
    const FieldElement a = random(true);
    ossl::BnPtr e(BN_mod_inverse(nullptr, to_bn(a).get(), p_.get(), ctx_.get()));
    ASSERT_TRUE(e);
    EXPECT_EQ(invert(a), from_bn(e.get())) << i;
  }
  EXPECT_EQ(invert(kOne), kOne);
  EXPECT_EQ(invert(kZero), kZero);
}

// The Montgomery form inside (fp.h): every operation on a·R mod p, checked
// against BIGNUM through the plain values, on random and edge operands.
TEST_F(FieldOracle, MontgomeryOperationsMatchBignum) {
  std::vector<FieldElement> values = {kZero, kOne, fe_hex("2"), sub(kP, kOne), sub(kP, fe_hex("2")),
                                      fe_hex("FFFFFFFF"), fe_hex("100000000"), fe_hex("FFFFFFFFFFFFFFFF")};
  for (int i = 0; i < 60; ++i) values.push_back(random(true));
  for (std::size_t i = 0; i < values.size(); ++i) {
    for (std::size_t j = i; j < values.size(); j += 5) {
      const FieldElement a = values[i], b = values[j];
      const fp::Fe am = to_montgomery(a), bm = to_montgomery(b);
      ossl::BnPtr e(BN_new());
      fp::Fe r;
      fp::mul(r, am, bm);
      ASSERT_EQ(BN_mod_mul(e.get(), to_bn(a).get(), to_bn(b).get(), p_.get(), ctx_.get()), 1);
      EXPECT_EQ(from_montgomery(r), from_bn(e.get())) << i << " " << j;
      fp::add(r, am, bm);
      ASSERT_EQ(BN_mod_add(e.get(), to_bn(a).get(), to_bn(b).get(), p_.get(), ctx_.get()), 1);
      EXPECT_EQ(from_montgomery(r), from_bn(e.get())) << i << " " << j;
      fp::sub(r, am, bm);
      ASSERT_EQ(BN_mod_sub(e.get(), to_bn(a).get(), to_bn(b).get(), p_.get(), ctx_.get()), 1);
      EXPECT_EQ(from_montgomery(r), from_bn(e.get())) << i << " " << j;
      EXPECT_EQ(fp::equal(am, bm) != 0, a == b);
    }
    const fp::Fe am = to_montgomery(values[i]);
    fp::Fe r;
    ossl::BnPtr e(BN_new());
    fp::sqr(r, am);
    ASSERT_EQ(BN_mod_sqr(e.get(), to_bn(values[i]).get(), p_.get(), ctx_.get()), 1);
    EXPECT_EQ(from_montgomery(r), from_bn(e.get())) << i;
    fp::neg(r, am);
    ASSERT_EQ(BN_mod_sub(e.get(), p_.get(), to_bn(values[i]).get(), p_.get(), ctx_.get()), 1);
    EXPECT_EQ(from_montgomery(r), from_bn(e.get())) << i;
    fp::invert(r, am);
    if (is_zero(values[i])) {
      EXPECT_EQ(from_montgomery(r), kZero);
    } else {
      ossl::BnPtr inv(BN_mod_inverse(nullptr, to_bn(values[i]).get(), p_.get(), ctx_.get()));
      EXPECT_EQ(from_montgomery(r), from_bn(inv.get())) << i;
    }
    EXPECT_EQ(fp::is_zero(am) != 0, is_zero(values[i]));
  }
  // Unreduced values enter reduced: to_montgomery(p + x) is x·R.
  FieldElement all_ones;
  all_ones.w.fill(0xFFFFFFFF);
  ossl::BnPtr e(BN_new());
  ASSERT_EQ(BN_nnmod(e.get(), to_bn(all_ones).get(), p_.get(), ctx_.get()), 1);
  EXPECT_EQ(from_montgomery(to_montgomery(all_ones)), from_bn(e.get()));
  EXPECT_EQ(from_montgomery(to_montgomery(kP)), kZero);
}

// Both Montgomery backends (fp_adx.h) on raw limbs, against BIGNUM's
// a·b·2^−256 mod p: edge values (0, 1, p − 1, p, p + 1, 2^256 − 1, values
// around n, single bits and words) and random ones, reduced and not, as
// either operand wherever the other one is below p.
TEST_F(FieldOracle, MontgomeryBackendsMatchBignumOnRawLimbs) {
  const char* const kEdges[] = {
      "0", "1", "2", kPHex, "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFE",
      "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF000000010000000000000000",
      "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
      "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54122",
      "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123",
      "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54124",
      "8000000000000000000000000000000000000000000000000000000000000000",
      "FFFFFFFFFFFFFFFF", "10000000000000000", "FFFFFFFF00000000FFFFFFFF00000000FFFFFFFF00000000FFFFFFFF00000000",
      "00000000FFFFFFFF00000000FFFFFFFF00000000FFFFFFFF00000000FFFFFFFF",
  };
  std::vector<FieldElement> values;
  for (const char* h : kEdges) values.push_back(fe_hex(h));
  for (int i = 0; i < 40; ++i) values.push_back(random(i % 2 == 0));
  ossl::BnPtr r_inv(BN_new()), two256(BN_new());
  ASSERT_EQ(BN_lshift(two256.get(), BN_value_one(), 256), 1);
  ASSERT_NE(BN_mod_inverse(r_inv.get(), two256.get(), p_.get(), ctx_.get()), nullptr);
  const auto limbs = [](const FieldElement& a) {
    fp::Fe f;
    for (int i = 0; i < 4; ++i) f.v[i] = (std::uint64_t{a.w[7 - 2 * i - 1]} << 32) | a.w[7 - 2 * i];
    return f;
  };
  const auto plain = [](const fp::Fe& f) {
    FieldElement a;
    for (int i = 0; i < 4; ++i) {
      a.w[7 - 2 * i] = static_cast<std::uint32_t>(f.v[i]);
      a.w[7 - 2 * i - 1] = static_cast<std::uint32_t>(f.v[i] >> 32);
    }
    return a;
  };
  const auto want = [&](const FieldElement& a, const FieldElement& b) {
    ossl::BnPtr t(BN_new());
    EXPECT_EQ(BN_mul(t.get(), to_bn(a).get(), to_bn(b).get(), ctx_.get()), 1);
    EXPECT_EQ(BN_mod_mul(t.get(), t.get(), r_inv.get(), p_.get(), ctx_.get()), 1);
    return from_bn(t.get());
  };
  const bool adx = cpu::has(fp::Adx::kFeatures);
  if (!adx) std::fprintf(stderr, "note: no BMI2+ADX here; the portable backend alone is checked\n");
  const auto below_p = [&](const FieldElement& a) { return BN_cmp(to_bn(a).get(), p_.get()) < 0; };
  for (std::size_t i = 0; i < values.size(); ++i) {
    for (std::size_t j = 0; j < values.size(); ++j) {
      const FieldElement& a = values[i];
      const FieldElement& b = values[j];
      if (!below_p(a) && !below_p(b)) continue;
      SCOPED_TRACE(std::to_string(i) + " " + std::to_string(j));
      const FieldElement expected = want(a, b);
      fp::Fe r;
      fp::Portable::mul(r, limbs(a), limbs(b));
      EXPECT_EQ(plain(r), expected);
#if defined(TARNWICK_SM2_FP_ADX)
      if (adx) {
        fp::Adx::mul(r, limbs(a), limbs(b));
        EXPECT_EQ(plain(r), expected);
        fp::Fe aliased = limbs(a);
        fp::Adx::mul(aliased, aliased, limbs(b));
        EXPECT_EQ(plain(aliased), expected);
      }
#endif
      if (i != j || !below_p(a)) continue;
      fp::Portable::sqr(r, limbs(a));
      EXPECT_EQ(plain(r), expected);
#if defined(TARNWICK_SM2_FP_ADX)
      if (adx) {
        fp::Fe aliased = limbs(a);
        fp::Adx::sqr(aliased, aliased);
        EXPECT_EQ(plain(aliased), expected);
      }
#endif
    }
  }
}

// fp::Fe as raw limbs and back, least significant limb first.
fp::Fe fe_limbs(const FieldElement& a) {
  fp::Fe f;
  for (int i = 0; i < 4; ++i) f.v[i] = (std::uint64_t{a.w[7 - 2 * i - 1]} << 32) | a.w[7 - 2 * i];
  return f;
}

FieldElement fe_plain(const fp::Fe& f) {
  FieldElement a;
  for (int i = 0; i < 4; ++i) {
    a.w[7 - 2 * i] = static_cast<std::uint32_t>(f.v[i]);
    a.w[7 - 2 * i - 1] = static_cast<std::uint32_t>(f.v[i] >> 32);
  }
  return a;
}

// The additions, subtraction, small multiples and halving of both backends
// on raw limbs below p, against BIGNUM's modular arithmetic: edge values
// (0, 1, p − 1, p − 2, (p ± 1)/2, values next to 2^64, 2^96, 2^128, 2^224
// and 2^255, alternating and all-ones words, values whose double, triple or
// sum lands just below, at or just above p) and random ones. These
// operations are linear, so the Montgomery form does not matter here.
TEST_F(FieldOracle, BackendAdditiveOperationsMatchBignum) {
  const char* const kEdges[] = {
      "0", "1", "2", "3", "FFFFFFFFFFFFFFFF", "10000000000000000", "FFFFFFFFFFFFFFFFFFFFFFFF",
      "1000000000000000000000000", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "100000000000000000000000000000000",
      "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
      "100000000000000000000000000000000000000000000000000000000",
      "8000000000000000000000000000000000000000000000000000000000000000",
      "7FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
      // (p − 1)/2, (p + 1)/2, ⌈p/3⌉ − 1, ⌈p/3⌉, p − 2, p − 1.
      "7FFFFFFF7FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF800000007FFFFFFFFFFFFFFF",
      "7FFFFFFF7FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF800000008000000000000000",
      "55555554FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFAAAAAAAAFFFFFFFFFFFFFFFF",
      "55555554FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFAAAAAAAB0000000000000000",
      "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFD",
      "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFE",
      "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF",
      "FFFFFFFEFFFFFFFF00000000FFFFFFFF00000000FFFFFFFF0000000000000000",
      "FFFFFFFE00000000FFFFFFFF00000000FFFFFFFF00000000FFFFFFFF00000000",
      "00000000FFFFFFFF00000000FFFFFFFF00000000FFFFFFFF00000000FFFFFFFF",
      "AAAAAAAA55555555AAAAAAAA55555555AAAAAAAA55555555AAAAAAAA55555555",
  };
  std::vector<FieldElement> values;
  for (const char* h : kEdges) {
    ossl::BnPtr x = bn_hex(h);
    ASSERT_LT(BN_cmp(x.get(), p_.get()), 0) << h;
    values.push_back(from_bn(x.get()));
  }
  for (int i = 0; i < 40; ++i) values.push_back(random(true));
  ossl::BnPtr half_inv(BN_new()), two(BN_new()), three(BN_new());
  ASSERT_EQ(BN_set_word(two.get(), 2), 1);
  ASSERT_EQ(BN_set_word(three.get(), 3), 1);
  ASSERT_NE(BN_mod_inverse(half_inv.get(), two.get(), p_.get(), ctx_.get()), nullptr);
  const bool adx = cpu::has(fp::Adx::kFeatures);
  // check runs `op` on both backends (fp::Portable, then fp::Adx where the
  // processor has it) and compares each result with `want`.
  const auto check = [&](const char* name, const FieldElement& want, auto op) {
    SCOPED_TRACE(name);
    fp::Fe r;
    op(fp::Portable{}, r);
    EXPECT_EQ(fe_plain(r), want);
#if defined(TARNWICK_SM2_FP_ADX)
    if (adx) {
      op(fp::Adx{}, r);
      EXPECT_EQ(fe_plain(r), want);
    }
#endif
  };
  ossl::BnPtr e(BN_new());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const fp::Fe a = fe_limbs(values[i]);
    const ossl::BnPtr a_bn = to_bn(values[i]);
    SCOPED_TRACE(std::to_string(i));
    ASSERT_EQ(BN_mod_mul(e.get(), a_bn.get(), two.get(), p_.get(), ctx_.get()), 1);
    check("mul_by_2", from_bn(e.get()), [&](auto f, fp::Fe& r) { decltype(f)::mul_by_2(r, a); });
    ASSERT_EQ(BN_mod_mul(e.get(), a_bn.get(), three.get(), p_.get(), ctx_.get()), 1);
    check("mul_by_3", from_bn(e.get()), [&](auto f, fp::Fe& r) { decltype(f)::mul_by_3(r, a); });
    ASSERT_EQ(BN_mod_mul(e.get(), a_bn.get(), half_inv.get(), p_.get(), ctx_.get()), 1);
    check("half", from_bn(e.get()), [&](auto f, fp::Fe& r) { decltype(f)::half(r, a); });
    check("half_aliased", from_bn(e.get()), [&](auto f, fp::Fe& r) {
      r = a;
      decltype(f)::half(r, r);
    });
    for (std::size_t j = 0; j < values.size(); ++j) {
      if (i >= static_cast<std::size_t>(std::size(kEdges)) && j % 7 != i % 7) continue;
      const fp::Fe b = fe_limbs(values[j]);
      const ossl::BnPtr b_bn = to_bn(values[j]);
      SCOPED_TRACE(std::to_string(j));
      ASSERT_EQ(BN_mod_add(e.get(), a_bn.get(), b_bn.get(), p_.get(), ctx_.get()), 1);
      check("add", from_bn(e.get()), [&](auto f, fp::Fe& r) { decltype(f)::add(r, a, b); });
      check("add_aliased", from_bn(e.get()), [&](auto f, fp::Fe& r) {
        r = b;
        decltype(f)::add(r, a, r);
      });
      ASSERT_EQ(BN_mod_sub(e.get(), a_bn.get(), b_bn.get(), p_.get(), ctx_.get()), 1);
      check("sub", from_bn(e.get()), [&](auto f, fp::Fe& r) { decltype(f)::sub(r, a, b); });
      check("sub_aliased", from_bn(e.get()), [&](auto f, fp::Fe& r) {
        r = a;
        decltype(f)::sub(r, r, b);
      });
    }
  }
}

TEST(Field, EdgeRows) {
  const FieldElement pm1 = sub(kP, kOne);
  const FieldElement pm2 = sub(kP, fe_hex("2"));
  FieldElement all_ones;
  all_ones.w.fill(0xFFFFFFFF);
  // (2^256 − 1)^2 mod p by BN_mod_mul.
  ossl::BnPtr p = bn_hex(kPHex), ones_bn = to_bn(all_ones), sq(BN_new());
  ossl::BnCtxPtr ctx(BN_CTX_new());
  ASSERT_EQ(BN_mod_mul(sq.get(), ones_bn.get(), ones_bn.get(), p.get(), ctx.get()), 1);
  const FieldElement ones_sq = from_bn(sq.get());
  struct Case {
    const char* name;
    FieldElement got, want;
  };
  const FieldElement x = fe_hex("32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7");
  const Case cases[] = {
      {"mul_pm1_pm1", mul(pm1, pm1), kOne},
      {"mul_x_0", mul(x, kZero), kZero},
      {"mul_unreduced_max", mul(all_ones, all_ones), ones_sq},
      {"add_pm1_1", add(pm1, kOne), kZero},
      {"add_pm1_pm1", add(pm1, pm1), pm2},
      {"sub_0_1", sub(kZero, kOne), pm1},
      {"sub_x_x", sub(x, x), kZero},
      {"mul_p_x_unreduced", mul(kP, x), kZero},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(Field, ByteAndBignumConversions) {
  EXPECT_EQ(to_bytes(kZero), Bytes(32, 0));
  Bytes one(32, 0);
  one[31] = 1;
  EXPECT_EQ(to_bytes(kOne), one);

  ossl::BnPtr zero(BN_new());
  EXPECT_EQ(from_biguint(*zero).value(), kZero);
  ossl::BnPtr max = bn_hex("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
  const FieldElement max_fe = from_biguint(*max).value();
  for (std::uint32_t w : max_fe.w) EXPECT_EQ(w, 0xFFFFFFFFu);
  ossl::BnPtr big = bn_hex("10000000000000000000000000000000000000000000000000000000000000000");
  EXPECT_EQ(from_biguint(*big).error(), Sm2Error::InvalidFieldElementLength);
  EXPECT_EQ(display(from_biguint(*big).error()), "a SCA-256 field element must be 32-byte long");
  ossl::BnPtr neg = bn_hex("-5");
  EXPECT_FALSE(from_biguint(*neg).has_value());
}

TEST(Field, SqrtOfCurveRightHandSide) {
  const FieldElement a = sub(kP, fe_hex("3"));
  const FieldElement b = fe_hex("28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93");
  const FieldElement gx = fe_hex("32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7");
  const FieldElement gy = fe_hex("BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0");
  auto rhs = [&](FieldElement x) { return add(add(mul(mul(x, x), x), mul(a, x)), b); };
  auto y = sqrt(rhs(gx));
  ASSERT_TRUE(y.has_value());
  EXPECT_TRUE(*y == gy || *y == sub(kZero, gy));
  EXPECT_EQ(sqrt(rhs(fe_hex("2"))).error(), Sm2Error::NoSquareRoot);
  EXPECT_EQ(display(Sm2Error::NoSquareRoot), "field elem sqrt error");
}

TEST(Field, SqrtExponentIsPPlusOneOverFour) {
  BIGNUM* e = nullptr;
  ASSERT_GT(BN_dec2bn(&e, "28948022302589062189105086303505223191562588497981047863605298483322421248000"), 0);
  ossl::BnPtr owned(e);
  EXPECT_EQ(from_bn(e), kSqrtExponent);
}

}  // namespace
}  // namespace tarnwick::sm2::p256_field
