#include "crypto/sm2/key_pair.h"

#include <gtest/gtest.h>

#include "../common/peer.h"

#include "../common/scripted_random.h"
#include "sm2_scalar_helpers.h"
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/sm2/mod_n.h"
#include "support/hex.h"
#include "support/os_random.h"
#include "support/ossl.h"

namespace tarnwick::sm2 {
namespace {

using testing::bn_hex;

using testing::ScriptedDraws;
using testing::SourceGuard;

constexpr const char* kNHex = "fffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54123";

std::string bn_to_hex(const BIGNUM& x) {
  char* s = BN_bn2hex(&x);
  std::string out(s);
  OPENSSL_free(s);
  return out;
}

long zeros_forever(void*, std::uint8_t* buf, std::size_t len, int*) {
  std::memset(buf, 0, len);
  return static_cast<long>(len);
}

TEST(Sm2RandomScalar, RejectsOutOfRangeDrawsAndAcceptsTheBounds) {
  const std::string n_minus_1 = "fffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54122";
  const std::string n_minus_2 = "fffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54121";
  const std::string one = std::string(63, '0') + "1";
  struct Case {
    const char* name;
    std::vector<std::string> draws;
    std::string want_hex;
    std::size_t draws_used;
  };
  const Case cases[] = {
      {"n_minus_2_accepted", {n_minus_2}, n_minus_2, 1},
      {"one_accepted", {one}, one, 1},
      {"rejects_then_accepts",
       {std::string(64, '0'), n_minus_1, kNHex, std::string(64, 'f'), n_minus_2},
       n_minus_2,
       5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDraws s{c.draws};
    SourceGuard guard(&ScriptedDraws::read, &s);
    auto k = random_scalar();
    ASSERT_TRUE(k.has_value()) << k.error().display();
    EXPECT_EQ(sm2_testing::hex_of(*k), c.want_hex);
    EXPECT_EQ(s.next, c.draws_used);
  }
}

TEST(Sm2RandomScalar, SourceFailuresAreErrors) {
  {
    ScriptedDraws s{{std::string(64, '0')}};  // one rejected draw, then EIO
    SourceGuard guard(&ScriptedDraws::read, &s);
    auto k = random_scalar();
    ASSERT_FALSE(k.has_value());
    EXPECT_EQ(k.error().display(), std::string(std::strerror(EIO)) + " (os error " + std::to_string(EIO) + ")");
    auto pair = generate_key_pair();
    ASSERT_FALSE(pair.has_value());
    EXPECT_EQ(pair.error().display(), k.error().display());
  }
  {
    // A source stuck on zero must end in an error, not spin forever.
    SourceGuard guard(&zeros_forever, nullptr);
    auto k = random_scalar();
    ASSERT_FALSE(k.has_value());
    EXPECT_EQ(k.error().display(), "the random source yields no scalar in range");
  }
}

TEST(Sm2KeyPair, GeneratedPairMatchesOpenSsl) {
  ossl::EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
  ossl::BnCtxPtr ctx(BN_CTX_new());
  const ossl::BnPtr n = bn_hex(kNHex);
  ossl::BnPtr n_minus_1(BN_dup(n.get()));
  ASSERT_EQ(BN_sub_word(n_minus_1.get(), 1), 1);
  for (int i = 0; i < 4; ++i) {
    auto pair = generate_key_pair();
    ASSERT_TRUE(pair.has_value());
    const ossl::BnPtr d = sm2_testing::bn_of(pair->private_key.d);
    EXPECT_FALSE(BN_is_zero(d.get()));
    EXPECT_LT(BN_cmp(d.get(), n_minus_1.get()), 0);
    EXPECT_EQ(pair->public_key, pair->private_key.public_key);
    EXPECT_EQ(pair->public_key.z, p256_field::kOne);
    EXPECT_TRUE(p256_ecc::is_on_curve(pair->public_key));

    ossl::EcPointPtr q(EC_POINT_new(group.get()));
    ASSERT_EQ(EC_POINT_mul(group.get(), q.get(), d.get(), nullptr, nullptr, ctx.get()), 1);
    Bytes want(65);
    ASSERT_EQ(EC_POINT_point2oct(group.get(), q.get(), POINT_CONVERSION_UNCOMPRESSED, want.data(), 65, ctx.get()),
              65u);
    EXPECT_EQ(p256_ecc::encode_uncompressed(pair->public_key), want);
  }
}

TEST(Sm2ModN, EdgeRowsAndBignumAgreement) {
  const ossl::BnPtr n = bn_hex(kNHex);
  const ossl::BnPtr n_minus_1 = bn_hex("fffffffeffffffffffffffffffffffff7203df6b21c6052b53bbf40939d54122");
  const ossl::BnPtr one = bn_hex("1"), zero = bn_hex("0");
  const ossl::BnPtr max = bn_hex(std::string(64, 'f'));
  const ossl::BnPtr huge = bn_hex("123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
  struct Case {
    const char* name;
    ossl::BnPtr got;
    std::string want_hex;
  };
  const Case cases[] = {
      {"add_n_minus_1_and_1", add_mod_n(*n_minus_1, *one), "0"},
      {"add_n_and_n", add_mod_n(*n, *n), "0"},
      {"mul_0_x", mul_mod_n(*zero, *huge), "0"},
      {"reduce_n", reduce_mod_n(*n), "0"},
      // 2^256 − 1 − n
      {"reduce_2^256-1", reduce_mod_n(*max), "10000000000000000000000008DFC2094DE39FAD4AC440BF6C62ABEDC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(BN_cmp(c.got.get(), bn_hex(c.want_hex).get()), 0) << bn_to_hex(*c.got);
  }

  ossl::BnCtxPtr ctx(BN_CTX_new());
  for (int i = 0; i < 50; ++i) {
    ossl::BnPtr a(BN_new()), b(BN_new()), want(BN_new());
    ASSERT_EQ(BN_rand(a.get(), 300, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 1);
    ASSERT_EQ(BN_rand(b.get(), 260, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 1);
    ASSERT_EQ(BN_mod_add(want.get(), a.get(), b.get(), n.get(), ctx.get()), 1);
    EXPECT_EQ(BN_cmp(add_mod_n(*a, *b).get(), want.get()), 0);
    ASSERT_EQ(BN_mod_mul(want.get(), a.get(), b.get(), n.get(), ctx.get()), 1);
    EXPECT_EQ(BN_cmp(mul_mod_n(*a, *b).get(), want.get()), 0);
    ASSERT_EQ(BN_nnmod(want.get(), a.get(), n.get(), ctx.get()), 1);
    EXPECT_EQ(BN_cmp(reduce_mod_n(*a).get(), want.get()), 0);
  }
}

}  // namespace
}  // namespace tarnwick::sm2
