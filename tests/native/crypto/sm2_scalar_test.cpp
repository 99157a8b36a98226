// The fixed-width scalar arithmetic modulo n and the safegcd inversion
// modulo n and p, against OpenSSL's BIGNUM arithmetic, on random values and
// on the edges (0, 1, 2, m − 2, m − 1, powers of two, values with long runs
// of zero or one bits).
#include "crypto/sm2/scalar.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/rand.h>

#include <string>
#include <vector>

#include "../common/peer.h"
#include "crypto/sm2/modinv.h"
#include "sm2_scalar_helpers.h"
#include "support/ossl.h"

namespace tarnwick::sm2 {
namespace {

using sm2_testing::bn_of;
using sm2_testing::hex_of;
using sm2_testing::scalar_of;
using tarnwick::testing::bn_hex;

constexpr const char* kNHex = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";
constexpr const char* kPHex = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF";

std::string bn_text(const BIGNUM& x) {
  std::uint8_t be[32] = {};
  EXPECT_LE(BN_num_bytes(&x), 32);
  BN_bn2binpad(&x, be, 32);
  return hex::encode(ByteView(be, 32));
}

// values_below returns edge values and random values in 0 … m − 1.
std::vector<ossl::BnPtr> values_below(const BIGNUM& m, int random_count) {
  std::vector<ossl::BnPtr> out;
  auto add_word = [&](long delta) {  // m + delta for negative delta, else delta
    ossl::BnPtr v(BN_new());
    if (delta < 0) {
      EXPECT_EQ(BN_copy(v.get(), &m) != nullptr, true);
      EXPECT_EQ(BN_sub_word(v.get(), static_cast<BN_ULONG>(-delta)), 1);
    } else {
      EXPECT_EQ(BN_set_word(v.get(), static_cast<BN_ULONG>(delta)), 1);
    }
    out.push_back(std::move(v));
  };
  for (long d : {0L, 1L, 2L, 3L, -1L, -2L, -3L}) add_word(d);
  for (int bit : {1, 63, 64, 127, 128, 191, 192, 254, 255}) {
    ossl::BnPtr v(BN_new());
    EXPECT_EQ(BN_set_bit(v.get(), bit), 1);
    if (BN_cmp(v.get(), &m) < 0) out.push_back(std::move(v));
    ossl::BnPtr w(BN_new());
    EXPECT_EQ(BN_set_bit(w.get(), bit), 1);
    EXPECT_EQ(BN_sub_word(w.get(), 1), 1);
    out.push_back(std::move(w));
  }
  // (m + 1)/2, the inverse of 2.
  ossl::BnPtr half(BN_dup(&m));
  EXPECT_EQ(BN_add_word(half.get(), 1), 1);
  EXPECT_EQ(BN_rshift1(half.get(), half.get()), 1);
  out.push_back(std::move(half));
  for (int i = 0; i < random_count; ++i) {
    ossl::BnPtr v(BN_new());
    EXPECT_EQ(BN_rand_range(v.get(), &m), 1);
    out.push_back(std::move(v));
  }
  return out;
}

TEST(Sm2ModInverse, MatchesBignumModuloNAndP) {
  ossl::BnCtxPtr ctx(BN_CTX_new());
  struct Case {
    const char* name;
    const char* modulus_hex;
    const modinv::Modulus* modulus;
  };
  for (const Case& c : {Case{"n", kNHex, &modinv::kN}, Case{"p", kPHex, &modinv::kP}}) {
    SCOPED_TRACE(c.name);
    const ossl::BnPtr m = bn_hex(c.modulus_hex);
    for (const ossl::BnPtr& x : values_below(*m, 300)) {
      SCOPED_TRACE(bn_text(*x));
      const Scalar xs = scalar_of(*x);
      Scalar got;
      modinv::invert(got.v.data(), xs.v.data(), *c.modulus);
      if (BN_is_zero(x.get())) {
        EXPECT_EQ(hex_of(got), std::string(64, '0'));
        continue;
      }
      ossl::BnPtr want(BN_mod_inverse(nullptr, x.get(), m.get(), ctx.get()));
      ASSERT_TRUE(want);
      EXPECT_EQ(hex_of(got), bn_text(*want));
    }
  }
}

TEST(Sm2Scalar, ArithmeticModuloNMatchesBignum) {
  ossl::BnCtxPtr ctx(BN_CTX_new());
  const ossl::BnPtr n = bn_hex(kNHex);
  const std::vector<ossl::BnPtr> values = values_below(*n, 60);
  for (std::size_t i = 0; i < values.size(); ++i) {
    for (std::size_t j = i; j < values.size(); j += 7) {
      const BIGNUM& a = *values[i];
      const BIGNUM& b = *values[j];
      SCOPED_TRACE(bn_text(a) + " " + bn_text(b));
      const Scalar as = scalar_of(a), bs = scalar_of(b);
      ossl::BnPtr want(BN_new());
      ASSERT_EQ(BN_mod_add(want.get(), &a, &b, n.get(), ctx.get()), 1);
      EXPECT_EQ(hex_of(scalar::add_mod(as, bs)), bn_text(*want));
      ASSERT_EQ(BN_mod_sub(want.get(), &a, &b, n.get(), ctx.get()), 1);
      EXPECT_EQ(hex_of(scalar::sub_mod(as, bs)), bn_text(*want));
      ASSERT_EQ(BN_mod_sub(want.get(), &b, &a, n.get(), ctx.get()), 1);
      EXPECT_EQ(hex_of(scalar::sub_mod(bs, as)), bn_text(*want));
      ASSERT_EQ(BN_mod_mul(want.get(), &a, &b, n.get(), ctx.get()), 1);
      EXPECT_EQ(hex_of(scalar::mul_mod(as, bs)), bn_text(*want));
      EXPECT_EQ(scalar::equal(as, bs) != 0, BN_cmp(&a, &b) == 0);
      EXPECT_EQ(scalar::less(as, bs) != 0, BN_cmp(&a, &b) < 0);
      EXPECT_EQ(scalar::less(bs, as) != 0, BN_cmp(&b, &a) < 0);
    }
    EXPECT_EQ(scalar::is_zero(scalar_of(*values[i])) != 0, BN_is_zero(values[i].get()) == 1);
  }
}

TEST(Sm2Scalar, ReduceAndMulAcceptEveryValueBelow2To256) {
  // reduce takes any 256-bit value; mul_mod takes any 256-bit first factor.
  ossl::BnCtxPtr ctx(BN_CTX_new());
  const ossl::BnPtr n = bn_hex(kNHex);
  std::vector<ossl::BnPtr> values;
  for (const char* h : {kNHex, "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54124",
                        "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
                        "8000000000000000000000000000000000000000000000000000000000000000"}) {
    values.push_back(bn_hex(h));
  }
  for (int i = 0; i < 100; ++i) {
    ossl::BnPtr v(BN_new());
    ASSERT_EQ(BN_rand(v.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 1);
    values.push_back(std::move(v));
  }
  const Scalar b = scalar_of(*bn_hex("123456789ABCDEF0FEDCBA9876543210"));
  for (const ossl::BnPtr& v : values) {
    SCOPED_TRACE(bn_text(*v));
    ossl::BnPtr want(BN_new());
    ASSERT_EQ(BN_nnmod(want.get(), v.get(), n.get(), ctx.get()), 1);
    EXPECT_EQ(hex_of(scalar::reduce(scalar_of(*v))), bn_text(*want));
    ASSERT_EQ(BN_mod_mul(want.get(), v.get(), bn_of(b).get(), n.get(), ctx.get()), 1);
    EXPECT_EQ(hex_of(scalar::mul_mod(scalar_of(*v), b)), bn_text(*want));
  }
}

TEST(Sm2Scalar, ByteConversionsAreBigEndian) {
  const Bytes be = tarnwick::testing::unhex("0102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20");
  const Scalar s = Scalar::from_bytes(be.data());
  EXPECT_EQ(s.v[3], 0x0102030405060708u);
  EXPECT_EQ(s.v[0], 0x191A1B1C1D1E1F20u);
  std::uint8_t back[32];
  s.to_bytes(back);
  EXPECT_EQ(Bytes(back, back + 32), be);
}

}  // namespace
}  // namespace tarnwick::sm2
